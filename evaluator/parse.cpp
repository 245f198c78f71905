// The parse dialect engine: rules, repetition, captures and the parse stacks.
#include "evaluator/parse.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/parse_match.h"
#include "evaluator/stack.h"
#include "runtime/wiring.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "datatypes/fixed_words.h"
#include "runtime/low_print.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/support.h"

namespace zem::parse {

ParseState parse_state;

namespace {

void mark_stacks(void*) {
  if (parse_state.input_stack) gc::mark_block(parse_state.input_stack);
  if (parse_state.rule_stack) gc::mark_block(parse_state.rule_stack);
}

Cell triple(int32_t a, int32_t b, int32_t c) {
  return Cell{TYPE_TRIPLE, uint32_t(a), uint32_t(b), uint32_t(c)};
}
Cell pair(int32_t a, int32_t b) { return Cell{TYPE_PAIR, 0, uint32_t(a), uint32_t(b)}; }
Cell logic(bool v) { return Cell{TYPE_LOGIC, v ? 1u : 0u, 0, 0}; }
Cell none_cell() { return Cell{TYPE_NONE, 0, 0, 0}; }
// A rule stack frame is three cells: the command's argument (a triple!: min, max and the pass
// count; to/thru keep in min the position a failed search goes back to, collect in max the
// target's position; copy/set keep the rule cell), the record (a triple!: the rule index, the
// input position and the input left) and the command (a pair!: code and modifier) or, for a
// nested rule block, the outer rules.
int32_t record_rule(const Cell& rec) { return rec.triple_at(0); }
uint32_t record_pos(const Cell& rec) { return uint32_t(rec.triple_at(1)); }
int32_t record_left(const Cell& rec) { return rec.triple_at(2); }
void set_record_pos(Cell& rec, uint32_t pos) { rec.set_triple_at(1, int32_t(pos)); }
int32_t command_code(const Cell& cmd) { return cmd.pair_x(); }
int32_t command_modifier(const Cell& cmd) { return cmd.pair_y(); }

uint32_t stack_len(NodeId node) { return block::buffer_length(node); }
Cell* stack_cell(NodeId node, uint32_t i) { return block_head(node) + i; }

// Owns the part of both stacks above the bases it found; gives it back on every exit.
class StackScope {
 public:
  StackScope()
      : saved_input_(parse_state.input_base), saved_rule_(parse_state.rule_base) {
    parse_state.input_base = stack_len(parse_state.input_stack);
    parse_state.rule_base = stack_len(parse_state.rule_stack);
  }
  ~StackScope() {
    block::truncate_at(parse_state.input_stack, parse_state.input_base);
    block::truncate_at(parse_state.rule_stack, parse_state.rule_base);
    parse_state.input_base = saved_input_;
    parse_state.rule_base = saved_rule_;
  }
  StackScope(const StackScope&) = delete;
  StackScope& operator=(const StackScope&) = delete;

 private:
  uint32_t saved_input_, saved_rule_;
};

bool is_series_value(TypeId t) {
  return block::is_block_kind(t) || str::is_text_type(t) || t == TYPE_BINARY ||
         t == TYPE_VECTOR || t == TYPE_IMAGE;
}

// Runs an action on a frame of the given cells; answers a copy of its result.
Cell call_action(ActionIndex a, std::initializer_list<Cell> args, const int32_t* refs) {
  stack::push_anon_frame(FRAME_NATIVE);
  for (const Cell& c : args) stack::push_value(c);
  actions::call(a, refs);
  Cell result = *stack::base();
  stack::pop_frame_discard();
  return result;
}

// The callback answered false: the parse ends at once with the match flag of that moment.
struct StopParse {};

enum State : int {
  S_ENTER = 0,
  S_LEAVE,
  S_OPEN,
  S_RESUME,
  S_STEP_DONE,
  S_BY_TYPE,
  S_ADVANCE,
  S_FETCH,
  S_LITERAL,
  S_ARGUMENT,
  S_FAIL,
  S_WORD,
  S_END,
  S_DONE,
};

class Engine {
 public:
  Engine(const Cell& input, const Cell& rules, int32_t mode, int32_t limit, const Cell* callback)
      : mode_(mode), limit_(limit) {
    const Cell& fw_none = none_cell();
    in_ = stack::push_value(input);
    rules_ = stack::push_value(rules);
    cb_index_ = UINT32_MAX;
    if (callback && wiring.parse_call_callback) {
      cb_index_ = stack::cell_index(stack::push_value(*callback));
      if (wiring.parse_count_locals) locals_ = wiring.parse_count_locals(*callback);
    }
    scratch_ = stack::push_value(fw_none);
    scratch_->set_header(TYPE_UNSET);
    scratch_index_ = stack::cell_index(scratch_);
  }

  Cell run();

 private:
  // ---- Registers ----
  Cell* in_;       // the input, its index the position
  Cell* rules_;    // the current rules block
  Cell* scratch_;
  uint32_t scratch_index_;
  uint32_t cb_index_;
  uint32_t locals_ = 0;
  int64_t cur_ = 0;  // rule cursor: absolute cell index into the rules' buffer
  int32_t mode_;
  int32_t limit_;
  bool match_ = true, end_ = false, break_ = false, leave_ = false, kw_arg_ = false;
  bool left_at_tail_ = false;
  int32_t cmd_ = -1, min_ = -1, max_ = -1;
  int32_t modifier_ = 0;
  int32_t collect_depth_ = 0;
  bool collect_result_ = false;
  int32_t finished_code_ = 0;  // code of the command frame dropped last, with the depth then
  uint32_t finished_len_ = 0;
  Cell finished_arg_{};
  Cell value_{};           // the rule value being matched
  bool value_at_cursor_ = false;  // value_ is the cell under the cursor, not a word's value
  bool arg_missing_ = false;      // the command's keyword was the last cell
  int state_ = S_ENTER;

  // ---- Stacks ----
  NodeId rs() const { return parse_state.rule_stack; }
  NodeId is() const { return parse_state.input_stack; }
  uint32_t rs_len() const { return stack_len(rs()) - parse_state.rule_base; }
  uint32_t is_len() const { return stack_len(is()) - parse_state.input_base; }
  Cell* top() const { return block_tail(rs()) - 1; }
  bool top_is_command() const { return rs_len() > 0 && top()->is(TYPE_PAIR); }
  Cell* top_record() const { return block_tail(rs()) - 2; }
  Cell* top_arg() const { return block_tail(rs()) - 3; }
  void drop_frame() { block::truncate_at(rs(), stack_len(rs()) - 3); }

  // ---- Rules ----
  int64_t rules_head() const { return rules_->head_index(); }
  int64_t rules_tail() const { return block::buffer_length(rules_->node()); }
  // User code may shorten the rules: a cursor past the tail reads none.
  const Cell* rule_at(int64_t i) const {
    static const Cell none{TYPE_NONE, 0, 0, 0};
    if (i < 0 || i >= rules_tail()) return &none;
    return block::cell_at_index(*rules_, uint32_t(i));
  }
  bool has_next() const { return cur_ + 1 < rules_tail(); }
  const Cell* next_cell() const { return rule_at(cur_ + 1); }
  int32_t rule_index() const {
    int64_t d = cur_ - rules_head();
    return d < 0 ? 0 : int32_t(d);
  }

  // ---- Input ----
  uint32_t pos() const { return in_->head_index(); }
  void set_pos(uint32_t p) { in_->set_head_index(p); }
  uint32_t tail() const { return input_tail(*in_); }
  bool outermost_input() const { return is_len() <= 1; }
  bool limit_applies() const { return limit_ > 0 && outermost_input(); }
  int32_t remaining() const { return int32_t(tail()) - int32_t(pos()); }
  void recompute_end() {
    end_ = pos() >= tail() || (limit_applies() && pos() >= uint32_t(limit_));
  }
  void step_input() {
    series::advance_head(*in_, 1);
    recompute_end();
  }
  InputKind kind() const { return input_kind(in_->type()); }

  // ---- Errors and events ----
  [[noreturn]] static void error(Err e, const Cell* arg = nullptr) { fire(e, arg); }
  [[noreturn]] static void parse_end(const Cell& word) { error(Err::script_parse_end, &word); }
  void event(const Cell& word);
  void check_stack_size() {
    if (stack_len(rs()) + 3 > kStackCellLimit || stack_len(is()) > kStackCellLimit)
      error(Err::script_parse_stack);
  }
  Cell eval_paren(const Cell& paren, bool drop);

  // ---- States ----
  void enter_block();
  void leave_block();
  void open_command();
  void step_done();
  void fetch();
  void resume();
  void by_type();
  void literal();
  void argument();
  void failure();
  void keyword();
  void finish();
  void after_user_code();

  // ---- Keywords and commands ----
  const Cell* command_word(int32_t code) const;
  bool next_is_word(uint32_t sym) const;
  bool is_keyword(const Cell& word) const;
  void open(int32_t code, int32_t mn, int32_t mx);
  void complete_command(int32_t code);
  void complete_repeat(bool guarded);
  void complete_search(int32_t code);
  void complete_into();
  void again(int32_t rule_index);
  void complete_collect();
  void complete_keep(int32_t code, uint32_t start);
  void repeat_count();
  void kw_remove();
  void kw_into();
  void kw_insert();
  void kw_change();
  void kw_collect();
  void check_target(const Cell& target) const;
  void remove_units(uint32_t count);
  Cell change_at(uint32_t start, uint32_t count, const Cell& value, bool only);
  bool position_word(const Cell& c, Cell& position) const;
  Cell take_value(const Cell& c);
  void keep_value(const Cell& value);
  Cell unit_value(uint32_t index) const;
};

void Engine::event(const Cell& word) {
  if (cb_index_ == UINT32_MAX) return;
  const Cell callback = *stack::cell_at(cb_index_);
  Cell args[5];
  args[0] = word;
  args[1] = logic(match_);
  args[2] = *rules_;
  args[2].set_head_index(uint32_t(rules_head() + rule_index()));
  args[3] = *in_;
  // A copy: the engine reads its own stack's frames by position after the callback returns.
  args[4] = block::copy_cells(block::value_of(rs(), TYPE_BLOCK, parse_state.rule_base), false);
  bool answer = true;
  uint32_t code;
  {
    StackScope nested;  // a parse inside the callback works above this one
    code = wiring.parse_call_callback(callback, args, locals_, answer);
  }
  if (code != EXIT_NONE) stack::raise_status(code);
  after_user_code();
  if (!answer) {
    state_ = S_DONE;
    throw StopParse{};
  }
}


Cell Engine::eval_paren(const Cell& paren, bool drop) {
  if (!wiring.parse_eval_paren) fire_not_done(TYPE_PAREN);
  Cell* mark = stack::top();
  uint32_t code;
  {
    StackScope nested;  // a parse inside the paren works above this one
    code = wiring.parse_eval_paren(paren);
  }
  if (code != EXIT_NONE) stack::raise_status(code);
  Cell value = *stack::last_value();
  if (drop) stack_state.top = mark;
  after_user_code();
  return value;
}

void Engine::after_user_code() {
  // User code may have shortened the input or the rules.
  if (pos() > tail()) set_pos(tail());
  recompute_end();
}

Cell Engine::unit_value(uint32_t index) const {
  switch (kind()) {
    case InputKind::block:
      return *block::cell_at_index(*in_, index);
    case InputKind::text:
      return Cell{TYPE_CHAR, 0, unit_at(*in_, index), 0};
    case InputKind::binary:
      return make_integer(int32_t(unit_at(*in_, index)));
  }
  return none_cell();
}

// ---- States ----------------------------------------------------------------------------------------

void Engine::enter_block() {
  check_stack_size();
  const Cell outer = *rules_;
  block::append_cell(rs(), none_cell());
  block::append_cell(rs(), triple(int32_t(cur_ - rules_head()), int32_t(pos()), remaining()));
  block::append_cell(rs(), outer);
  *rules_ = value_;
  cur_ = rules_head() - 1;
  match_ = true;
  finished_len_ = 0;
  recompute_end();
  event(fixed.word.push);
  state_ = S_FETCH;
}

void Engine::leave_block() {
  left_at_tail_ = cur_ >= rules_tail();
  if (rs_len() == 3) {
    event(fixed.word.pop);
    state_ = S_END;
    return;
  }
  cur_ = rules_head();
  event(fixed.word.pop);
  const int32_t index = record_rule(*top_record());
  *rules_ = *top();
  cur_ = rules_head() + index;
  drop_frame();
  state_ = top_is_command() ? S_RESUME : match_ ? S_FETCH : S_FAIL;
}

void Engine::open_command() {
  check_stack_size();
  Cell arg = (cmd_ == CMD_COPY || cmd_ == CMD_SET) ? *rule_at(cur_) : triple(min_, max_, 1);
  if (cmd_ == CMD_TO || cmd_ == CMD_THRU) arg.set_triple_at(0, int32_t(pos()));  // where a failed search goes back to
  block::append_cell(rs(), arg);
  block::append_cell(rs(), triple(rule_index(), int32_t(pos()), remaining()));
  block::append_cell(rs(), pair(cmd_, modifier_));
  modifier_ = 0;
  min_ = max_ = -1;
  finished_len_ = 0;
  if (cur_ < rules_tail()) cur_++;
  event(fixed.word.push);
  arg_missing_ = cur_ >= rules_tail();
  if (!arg_missing_) {
    value_ = *rule_at(cur_);
    value_at_cursor_ = true;
  }
  state_ = S_ARGUMENT;
}

void Engine::step_done() {
  state_ = top_is_command() ? S_RESUME : match_ ? S_FETCH : S_FAIL;
}

void Engine::fetch() {
  if (cur_ + 1 < rules_tail()) {
    cur_++;
    event(fixed.word.fetch);
    if (cur_ < rules_tail()) {
      value_ = *rule_at(cur_);
      value_at_cursor_ = true;
      state_ = S_BY_TYPE;
      return;
    }
  }
  cur_ = rules_tail();
  state_ = top_is_command() ? S_RESUME : S_LEAVE;
}

void Engine::by_type() {
  switch (value_.type()) {
    case TYPE_WORD:
      if (!value_at_cursor_ && rule_at(cur_)->is(TYPE_WORD)) error(Err::script_parse_rule, &value_);
      state_ = S_WORD;
      return;
    case TYPE_BLOCK:
      state_ = S_ENTER;
      return;
    case TYPE_DATATYPE:
    case TYPE_TYPESET: {
      if (kind() != InputKind::block) error(Err::script_parse_unsupported);
      bool ok = false;
      if (!end_) {
        TypeId t = block::cell_at_index(*in_, pos())->type();
        ok = value_.is(TYPE_DATATYPE) ? value_.datatype_id() == t : typeset_has(value_, t);
      }
      match_ = ok;
      event(fixed.word.match);
      state_ = ok ? S_ADVANCE : S_STEP_DONE;
      return;
    }
    case TYPE_SET_WORD: {
      Cell w = value_;
      const Cell here = *in_;
      context::set_word_value(w, here);
      state_ = S_FETCH;
      return;
    }
    case TYPE_GET_WORD: {
      Cell v = word::get_any(value_);
      if (v.type() != in_->type() || v.node() != in_->node())
        error(Err::script_parse_invalid_ref, &value_);
      set_pos(std::min(v.head_index(), tail()));
      recompute_end();
      match_ = true;
      state_ = S_STEP_DONE;
      return;
    }
    case TYPE_INTEGER:
      repeat_count();
      return;
    case TYPE_PAREN:
      if (top_is_command() && command_code(*top()) == CMD_KEEP_PAREN) {
        *scratch_ = eval_paren(value_, true);
      } else {
        eval_paren(value_, true);
      }
      event(fixed.word.paren);
      if (cur_ >= rules_tail()) cur_ = rules_tail() - 1;
      state_ = S_STEP_DONE;
      return;
    case TYPE_PATH:
      error(Err::script_parse_rule, &value_);
    default:
      state_ = S_LITERAL;
      return;
  }
}

void Engine::literal() {
  bool ok = false;
  if (end_) {
    ok = kind() == InputKind::text && (value_.is(TYPE_STRING) || value_.is(TYPE_FILE) ||
                                       value_.is(TYPE_URL)) &&
         [&] {
           Cell v = value_;
           return str::count_from_head(v) == 0;
         }();
  } else if (kind() == InputKind::block) {
    ok = compare_values(*block::cell_at_index(*in_, pos()), value_, mode_);
    if (ok) set_pos(pos() + 1);
  } else {
    int32_t n = match_text_at(*in_, value_, mode_);
    ok = n >= 0 && !(limit_applies() && pos() + uint32_t(n) > uint32_t(limit_));
    if (ok) set_pos(std::min(pos() + uint32_t(n), tail()));
  }
  match_ = ok;
  recompute_end();
  event(fixed.word.match);
  state_ = S_STEP_DONE;
}

void Engine::argument() {
  const int32_t code = command_code(*top());
  if (arg_missing_) {
    arg_missing_ = false;
    if (const Cell* w = command_word(code)) parse_end(*w);
    match_ = true;
    state_ = S_STEP_DONE;
    return;
  }
  switch (value_.type()) {
    case TYPE_BLOCK:
      state_ = S_ENTER;
      break;
    case TYPE_WORD:
      if (code == CMD_COLLECT || code == CMD_KEEP || code == CMD_KEEP_PAREN) {
        state_ = S_BY_TYPE;
      } else {
        kw_arg_ = true;
        state_ = S_WORD;
      }
      break;
    case TYPE_INTEGER:
    case TYPE_PAREN:
    case TYPE_TYPESET:
    case TYPE_DATATYPE:
      state_ = S_BY_TYPE;
      break;
    default:
      if (code == CMD_REPEAT || code == CMD_WHILE) {
        Cell* arg = top_arg();
        const int32_t mn = arg->triple_at(0), mx = arg->triple_at(1);
        const uint32_t start = pos();
        int32_t count = 0;
        bool ok = match_repeat(*in_, value_, mn, mx, count, mode_, limit_applies() ? limit_ : 0);
        if (!ok && mn == 0) {
          ok = true;
        } else if (!ok) {
          set_pos(start);
        }
        match_ = ok;
        recompute_end();
        event(fixed.word.match);
        event(fixed.word.pop);
        drop_frame();
        state_ = S_STEP_DONE;
      } else if (code == CMD_TO || code == CMD_THRU) {
        Found f{};
        const int32_t lim = limit_applies() ? limit_ : 0;
        if (search_value(*in_, value_, mode_, lim, f)) {
          set_record_pos(*top_record(), f.at);
          set_pos(code == CMD_TO ? f.at : f.at + f.length);
          match_ = true;
        } else {
          match_ = limit_applies() && pos() > uint32_t(limit_);
        }
        recompute_end();
        event(fixed.word.match);
        event(fixed.word.pop);
        drop_frame();
        state_ = S_STEP_DONE;
      } else {
        state_ = S_BY_TYPE;
      }
      break;
  }
  recompute_end();
}

void Engine::failure() {
  set_pos(std::min(record_pos(*top_record()), tail()));
  recompute_end();
  const int64_t end = rules_tail();
  for (int64_t i = std::max(cur_, rules_head()); i < end; i++) {
    const Cell* c = rule_at(i);
    if (c->is(TYPE_WORD) && c->word_symbol() == fixed.sym.bar) {
      cur_ = i;
      match_ = true;
      state_ = S_FETCH;
      return;
    }
  }
  state_ = S_LEAVE;
}

void Engine::finish() {
  if (match_ && cur_ < rules_tail()) match_ = false;
  int32_t rest = remaining();
  if (limit_ > 0 && rest >= 1) rest = limit_ - int32_t(pos());
  if (rest >= 1 && is_len() == 1) match_ = false;
  event(fixed.global.end);
  state_ = S_DONE;
}

// ---- Keywords --------------------------------------------------------------------------------------

const Cell* Engine::command_word(int32_t code) const {
  switch (code) {
    case CMD_TO: return &fixed.global.to;
    case CMD_THRU: return &fixed.global.thru;
    case CMD_NOT: return &fixed.global.not_;
    case CMD_REMOVE: return &fixed.global.remove;
    case CMD_WHILE: return &fixed.global.while_;
    case CMD_COLLECT: return &fixed.global.collect;
    case CMD_KEEP:
    case CMD_KEEP_PAREN: return &fixed.global.keep;
    case CMD_AHEAD: return &fixed.global.ahead;
    default: return nullptr;
  }
}

bool Engine::next_is_word(uint32_t sym) const {
  if (!has_next()) return false;
  const Cell* c = next_cell();
  return c->is(TYPE_WORD) && symbol::canonical_id(c->word_symbol()) == sym;
}

void Engine::open(int32_t code, int32_t mn, int32_t mx) {
  cmd_ = code;
  min_ = mn;
  max_ = mx;
  state_ = S_OPEN;
}

void Engine::keyword() {
  const bool as_argument = kw_arg_;
  kw_arg_ = false;
  const uint32_t sym = symbol::canonical_id(value_.word_symbol());
  const auto& k = fixed.sym;
  const bool last = !has_next();
  if (value_.word_symbol() == k.bar) {
    cur_ = rules_tail();
    state_ = top_is_command() ? S_RESUME : S_LEAVE;
  } else if (sym == k.skip) {
    if (end_) {
      match_ = false;
      state_ = S_STEP_DONE;
    } else {
      match_ = true;
      state_ = S_ADVANCE;
    }
    event(fixed.word.match);
  } else if (sym == k.any || sym == k.some || sym == k.opt) {
    if (last) parse_end(sym == k.any ? fixed.global.any : sym == k.some ? fixed.global.some : fixed.global.opt);
    open(CMD_REPEAT, sym == k.some ? 1 : 0, sym == k.opt ? 1 : -1);
  } else if (sym == k.while_) {
    open(CMD_WHILE, 0, -1);
  } else if (sym == k.to || sym == k.thru) {
    if (next_is_word(k.end)) {
      match_ = true;
      event(fixed.word.match);
      cur_++;
      uint32_t p = tail();
      if (limit_applies() && uint32_t(limit_) < p) p = uint32_t(limit_);
      set_pos(p);
      end_ = true;
      state_ = S_STEP_DONE;
    } else {
      open(sym == k.to ? CMD_TO : CMD_THRU, -1, -1);
    }
  } else if (sym == k.copy || sym == k.set) {
    if (last || !next_cell()->is(TYPE_WORD) || cur_ + 2 >= rules_tail())
      parse_end(sym == k.copy ? fixed.global.copy : fixed.global.set);
    cur_++;
    open(sym == k.copy ? CMD_COPY : CMD_SET, -1, -1);
  } else if (sym == k.remove) {
    kw_remove();
  } else if (sym == k.break_) {
    match_ = true;
    break_ = leave_ = true;
    if (cur_ < rules_tail()) cur_++;
    event(fixed.word.match);
    state_ = S_RESUME;
  } else if (sym == k.reject) {
    match_ = false;
    break_ = leave_ = true;
    event(fixed.word.match);
    state_ = S_RESUME;
  } else if (sym == k.fail) {
    match_ = false;
    event(fixed.word.match);
    state_ = S_STEP_DONE;  // fails here: the next alternative, or the block fails
  } else if (sym == k.keep) {
    if (collect_depth_ == 0) error(Err::script_parse_keep, &fixed.global.keep);
    int32_t code = CMD_KEEP;
    if (next_is_word(k.pick) && cur_ + 2 < rules_tail()) {
      modifier_ = 1;
      cur_++;
    }
    if (has_next() && next_cell()->is(TYPE_PAREN)) code = CMD_KEEP_PAREN;
    open(code, -1, -1);
  } else if (sym == k.ahead) {
    open(CMD_AHEAD, -1, -1);
  } else if (sym == k.not_) {
    open(CMD_NOT, -1, -1);
  } else if (sym == k.into) {
    kw_into();
  } else if (sym == k.insert) {
    kw_insert();
  } else if (sym == symbol::canonical_id(fixed.word.change.word_symbol())) {
    kw_change();
  } else if (sym == k.end) {
    recompute_end();
    match_ = end_;
    event(fixed.word.match);
    state_ = S_STEP_DONE;
  } else if (sym == k.if_) {
    if (last || !next_cell()->is(TYPE_PAREN)) parse_end(fixed.global.if_);
    cur_++;
    Cell v = eval_paren(*rule_at(cur_), true);
    if (cur_ >= rules_tail()) cur_ = rules_tail() - 1;
    match_ = !(v.is(TYPE_NONE) || (v.is(TYPE_LOGIC) && !v.logic_value()));
    event(fixed.word.match);
    state_ = S_STEP_DONE;
  } else if (sym == k.quote) {
    if (last) parse_end(fixed.global.quote);
    cur_++;
    value_ = *rule_at(cur_);
    value_at_cursor_ = true;
    state_ = S_LITERAL;
  } else if (sym == k.collect) {
    kw_collect();
  } else if (sym == k.case_) {
    if (last || !next_cell()->is(TYPE_WORD)) parse_end(fixed.global.case_);
    cur_++;
    Cell v = word::get_any(*rule_at(cur_));
    const int32_t old = mode_;
    mode_ = (v.is(TYPE_NONE) || (v.is(TYPE_LOGIC) && !v.logic_value())) ? 0 : COMP_STRICT_EQUAL;
    open(CMD_CASE, -1, old);
  } else if (sym == k.none) {
    match_ = true;
    event(fixed.word.match);
    state_ = S_STEP_DONE;
  } else {
    const Cell* slot = context::word_value_cell(value_);
    if (!slot || slot->is(TYPE_UNSET)) error(Err::script_parse_rule, &value_);
    value_ = *slot;
    value_at_cursor_ = false;
    if (!as_argument) {
      state_ = S_BY_TYPE;
    } else {
      state_ = value_.is(TYPE_WORD) ? S_LITERAL : S_ARGUMENT;
    }
  }
}

void Engine::repeat_count() {
  const Cell first = value_;
  const int32_t n = first.int_value();
  if (n < 0) error(Err::script_out_of_range, &first);
  int32_t second = -1;
  bool has_second = false;
  if (has_next()) {
    Cell c = *next_cell();
    if (c.is(TYPE_WORD) && !is_keyword(c)) {
      const Cell* slot = context::word_value_cell(c);
      if (slot) c = *slot;
    }
    if (c.is(TYPE_INTEGER)) {
      has_second = true;
      second = c.int_value();
    }
  }
  const int64_t rule_at_index = cur_ + (has_second ? 2 : 1);
  if (rule_at_index >= rules_tail() || (has_second && second < n)) error(Err::script_parse_rule, &first);
  if (has_second && second < 0) {
    Cell c = make_integer(second);
    error(Err::script_out_of_range, &c);
  }
  if (n == 0 && (!has_second || second == 0)) {
    cur_ = rule_at_index;  // the rule is skipped
    state_ = S_STEP_DONE;
    return;
  }
  if (has_second) cur_++;
  open(CMD_REPEAT, n, has_second ? second : n);
}

bool Engine::is_keyword(const Cell& word) const {
  const uint32_t s = symbol::canonical_id(word.word_symbol());
  const auto& k = fixed.sym;
  for (uint32_t id : {k.any, k.break_, k.copy, k.end, k.fail, k.into, k.opt, k.not_, k.quote, k.case_,
                      k.reject, k.set, k.skip, k.some, k.thru, k.to, k.none, k.if_, k.remove,
                      k.while_, k.insert, k.collect, k.keep, k.ahead})
    if (s == id) return true;
  return word.word_symbol() == k.bar || s == symbol::canonical_id(fixed.word.change.word_symbol());
}

bool Engine::position_word(const Cell& c, Cell& position) const {
  if (!c.is(TYPE_WORD) && !c.is(TYPE_GET_WORD)) return false;
  const Cell* slot = context::word_value_cell(c);
  if (!slot || slot->type() != in_->type() || slot->node() != in_->node()) return false;
  position = *slot;
  return true;
}

Cell Engine::take_value(const Cell& c) {
  switch (c.type()) {
    case TYPE_PATH:
      error(Err::script_parse_rule, &c);
    case TYPE_PAREN: {
      Cell v = eval_paren(c, false);
      event(fixed.word.paren);
      return v;
    }
    case TYPE_WORD: {
      const Cell* slot = context::word_value_cell(c);
      if (!slot || slot->is(TYPE_UNSET)) error(Err::script_no_value, &c);
      return *slot;
    }
    default:
      return c;
  }
}

void Engine::kw_remove() {
  if (has_next()) {
    const Cell n = *next_cell();
    if (n.is(TYPE_PATH)) error(Err::script_parse_rule, &value_);
    Cell ref;
    if (position_word(n, ref)) {
      const uint32_t here = pos(), there = std::min(ref.head_index(), tail());
      const uint32_t lo = std::min(here, there), count = std::max(here, there) - lo;
      set_pos(lo);
      remove_units(count);
      cur_++;
      match_ = true;
      state_ = S_STEP_DONE;
      return;
    }
  }
  open(CMD_REMOVE, -1, -1);
}

void Engine::remove_units(uint32_t count) {
  *scratch_ = make_integer(int32_t(count));
  if (count == 0) return;
  const int32_t refs[2] = {1, -1};
  StackScope protect;
  call_action(ActionIndex::remove, {*in_, *scratch_}, refs);
  after_user_code();
}

void Engine::kw_into() {
  if (kind() != InputKind::block) error(Err::script_parse_block, in_);
  if (!has_next()) parse_end(fixed.global.into);
  Cell arg = *next_cell();
  if (arg.is(TYPE_WORD)) {
    const Cell* slot = context::word_value_cell(arg);
    if (slot) arg = *slot;
  }
  if (!arg.is(TYPE_BLOCK)) parse_end(fixed.global.into);
  if (end_) {
    match_ = false;
    state_ = S_STEP_DONE;
    return;
  }
  const Cell element = *block::cell_at_index(*in_, pos());
  const TypeId t = element.type();
  if (!is_series_value(t) || t == TYPE_IMAGE || t == TYPE_VECTOR) {
    match_ = false;
    event(fixed.word.match);
    state_ = S_STEP_DONE;
    return;
  }
  stack_cell(is(), stack_len(is()) - 1)->set_head_index(pos());
  block::append_cell(is(), element);
  *in_ = element;
  recompute_end();
  open(CMD_INTO, -1, -1);
}

void Engine::kw_insert() {
  bool only = false;
  cur_++;
  if (cur_ < rules_tail() && rule_at(cur_)->is(TYPE_WORD) &&
      symbol::canonical_id(rule_at(cur_)->word_symbol()) == fixed.sym.only) {
    only = true;
    cur_++;
  }
  if (cur_ >= rules_tail()) parse_end(fixed.global.insert);
  Cell ref;
  const bool at_ref = position_word(*rule_at(cur_), ref);
  if (at_ref) {
    cur_++;
    if (cur_ >= rules_tail()) error(Err::script_parse_rule, &fixed.global.insert);
  }
  Cell* mark = stack::top();
  const Cell value = take_value(*rule_at(cur_));
  const uint32_t where = at_ref ? std::min(ref.head_index(), tail()) : pos();
  Cell target = *in_;
  target.set_head_index(where);
  const uint32_t before = tail();
  const int32_t refs[3] = {-1, only ? 0 : -1, -1};
  {
    StackScope protect;
    call_action(ActionIndex::insert, {target, value}, refs);
  }
  const uint32_t added = tail() > before ? tail() - before : 0;
  if (where <= pos()) set_pos(pos() + added);
  stack_state.top = mark;
  after_user_code();
  state_ = S_FETCH;
}

Cell Engine::change_at(uint32_t start, uint32_t count, const Cell& value, bool only) {
  set_pos(start);
  Cell target = *in_;
  Cell part = make_integer(int32_t(count));
  const int32_t refs[3] = {2, only ? 0 : -1, -1};
  Cell result;
  {
    StackScope protect;
    result = call_action(ActionIndex::change, {target, value, part}, refs);
  }
  if (result.node() == in_->node()) set_pos(result.head_index());
  after_user_code();
  return result;
}

void Engine::kw_change() {
  bool only = false;
  if (next_is_word(fixed.sym.only)) {
    only = true;
    cur_++;
  }
  if (!has_next()) error(Err::script_parse_rule, &fixed.word.change);
  Cell ref;
  if (position_word(*next_cell(), ref)) {
    cur_++;
    if (!has_next()) error(Err::script_parse_rule, &fixed.word.change);
    cur_++;
    Cell* mark = stack::top();
    const Cell value = take_value(*rule_at(cur_));
    const uint32_t here = pos(), there = std::min(ref.head_index(), tail());
    const uint32_t lo = std::min(here, there);
    change_at(lo, std::max(here, there) - lo, value, only);
    stack_state.top = mark;
    match_ = true;
    state_ = S_STEP_DONE;
    return;
  }
  open(only ? CMD_CHANGE_ONLY : CMD_CHANGE, -1, -1);
}

void Engine::kw_collect() {
  collect_depth_++;
  int32_t kept_index = -1;
  const auto& k = fixed.sym;
  if (next_is_word(k.into) || next_is_word(k.after) || next_is_word(k.set)) {
    const uint32_t how = symbol::canonical_id(next_cell()->word_symbol());
    if (cur_ + 2 >= rules_tail() || !rule_at(cur_ + 2)->is(TYPE_WORD)) parse_end(fixed.global.collect);
    const Cell w = *rule_at(cur_ + 2);
    if (how == k.set) {
      stack::push_value(word::retyped(w, TYPE_WORD));
      stack::push_value(block::make(8));
    } else {
      const Cell target = word::get_any(w);
      check_target(target);
      if (target.node() == in_->node()) error(Err::script_parse_into_bad);
      kept_index = int32_t(target.head_index());
      stack::push_value(word::retyped(w, how == k.into ? TYPE_GET_WORD : TYPE_REFINEMENT));
    }
    cur_ += 2;
  } else {
    stack::push_value(block::make(8));
  }
  open(CMD_COLLECT, -1, kept_index);
}

void Engine::check_target(const Cell& target) const {
  const TypeId t = target.type(), it = in_->type();
  bool ok = is_series_value(t) && t != TYPE_IMAGE && t != TYPE_VECTOR;
  if (ok) {
    if (t == TYPE_BINARY) ok = it == TYPE_BINARY;
    else ok = t == it || block::is_block_kind(t) || (str::is_text_type(t) && !block::is_block_kind(it));
  }
  if (!ok) error(Err::script_parse_into_type);
}

// ---- Commands end ----------------------------------------------------------------------------------

void Engine::resume() {
  if (!top_is_command()) {
    if (leave_) {
      leave_ = false;
      state_ = S_LEAVE;
    } else {
      state_ = S_FETCH;
    }
    return;
  }
  leave_ = true;
  const int32_t code = command_code(*top());
  complete_command(code);
  if (!leave_) return;
  leave_ = false;
  event(fixed.word.pop);
  finished_arg_ = *top_arg();
  drop_frame();
  finished_code_ = code;
  finished_len_ = stack_len(rs());
  state_ = S_STEP_DONE;
}

void Engine::complete_command(int32_t code) {
  const uint32_t start = std::min(record_pos(*top_record()), tail());
  switch (code) {
    case CMD_REPEAT:
    case CMD_WHILE:
      complete_repeat(code == CMD_REPEAT);
      return;
    case CMD_TO:
    case CMD_THRU:
      complete_search(code);
      return;
    case CMD_COPY:
      if (match_) {
        Cell w = *top_arg();
        const uint32_t p = pos();
        const Cell v = series::copy_range(*in_, start, p > start ? p - start : 0);
        context::set_word_value(w, v);
      }
      return;
    case CMD_SET:
      if (match_) {
        Cell w = *top_arg();
        const Cell v = pos() > start ? unit_value(start) : none_cell();
        context::set_word_value(w, v);
      }
      return;
    case CMD_NOT:
      match_ = !match_;
      return;
    case CMD_INTO:
      complete_into();
      return;
    case CMD_REMOVE:
      if (match_) {
        const uint32_t p = pos();
        set_pos(start);
        remove_units(p > start ? p - start : 0);
      }
      return;
    case CMD_COLLECT:
      complete_collect();
      return;
    case CMD_KEEP:
    case CMD_KEEP_PAREN:
      if (match_) complete_keep(code, start);
      return;
    case CMD_AHEAD:
      set_pos(start);
      recompute_end();
      return;
    case CMD_CHANGE:
    case CMD_CHANGE_ONLY: {
      cur_++;
      if (cur_ >= rules_tail()) parse_end(fixed.word.change);
      if (match_) {
        Cell* mark = stack::top();
        const Cell value = take_value(*rule_at(cur_));
        const uint32_t p = pos();
        change_at(start, p > start ? p - start : 0, value, code == CMD_CHANGE_ONLY);
        stack_state.top = mark;
      }
      return;
    }
    case CMD_CASE:
      mode_ = top_arg()->triple_at(1);
      return;
    default:
      crash_report(101, 0);
  }
}

void Engine::complete_repeat(bool guarded) {
  Cell* arg = top_arg();
  Cell* rec = top_record();
  const int32_t count = arg->triple_at(2), mn = arg->triple_at(0), mx = arg->triple_at(1);
  bool iterate = match_ && (mx == -1 || count < mx);
  // A pass that consumed nothing and did not shorten the input would repeat for ever. `while` is
  // exempt: its passes may work through side effects (parens, `if`) and end on their own.
  if (iterate && guarded && pos() == record_pos(*rec) && remaining() >= record_left(*rec)) {
    iterate = false;
    break_ = false;
  }
  if (break_) {
    iterate = false;
    break_ = false;
  }
  if (iterate) {
    set_record_pos(*rec, pos());
    rec->set_triple_at(2, remaining());
    arg->set_triple_at(2, count + 1);
    const int32_t index = record_rule(*rec);  // the stacks may move from here on
    leave_ = false;
    event(fixed.word.iterate);
    gc::safe_point();
    again(index);
    return;
  }
  if (!match_) set_pos(std::min(record_pos(*rec), tail()));  // also after a `reject` left the pass
  match_ = match_ ? count >= mn : (count - 1 >= mn || mn == 0);
}

void Engine::complete_search(int32_t code) {
  Cell* rec = top_record();
  if (!match_) {
    const uint32_t next = record_pos(*rec) + 1;
    if (next > tail() || (limit_applies() && next > uint32_t(limit_))) {
      set_pos(std::min(uint32_t(top_arg()->triple_at(0)), tail()));
      recompute_end();
      return;  // the command fails
    }
    set_pos(next);
    recompute_end();
    set_record_pos(*rec, next);
    const int32_t index = record_rule(*rec);  // the stacks may move from here on
    leave_ = false;
    match_ = true;
    event(fixed.word.pop);
    event(fixed.word.iterate);
    gc::safe_point();
    again(index);
    return;
  }
  if (code == CMD_TO) set_pos(std::min(record_pos(*rec), tail()));
  recompute_end();
}

// Runs the command's argument again: the cursor goes back onto the cell before it (read again:
// user code may have changed the rules) and the argument is taken as at the first pass, so a word
// argument stays an argument.
void Engine::again(int32_t rule_index) {
  cur_ = rules_head() + rule_index;
  if (cur_ + 1 >= rules_tail()) {
    cur_ = rules_tail();
    arg_missing_ = true;
  } else {
    cur_++;
    arg_missing_ = false;
    value_ = *rule_at(cur_);
    value_at_cursor_ = true;
  }
  state_ = S_ARGUMENT;
}

void Engine::complete_into() {
  const bool ok = match_ && left_at_tail_ && pos() >= tail();
  block::truncate_at(is(), stack_len(is()) - 1);
  *in_ = *stack_cell(is(), stack_len(is()) - 1);
  match_ = ok;
  if (ok) set_pos(pos() + 1);
  after_user_code();
}

void Engine::complete_collect() {
  collect_depth_--;
  const Cell value = *stack::last_value();
  const uint32_t above = stack::cell_index(stack::top()) - scratch_index_ - 1;
  if (value.is(TYPE_GET_WORD) || value.is(TYPE_REFINEMENT)) {
    // collect into / after: the target goes back to where it was.
    Cell w = value;
    Cell target = word::get_any(w);
    target.set_head_index(uint32_t(top_arg()->triple_at(1)));
    w.set_type(TYPE_WORD);
    context::set_word_value(w, target);
    stack::drop_values(1);
    return;
  }
  if (above >= 2 && stack::top()[-2].is(TYPE_WORD)) {
    Cell w = stack::top()[-2];
    context::set_word_value(w, value);
    stack::drop_values(2);
    return;
  }
  if (collect_depth_ > 0) {
    stack::drop_values(1);
    keep_value(value);
    return;
  }
  // The outermost plain collect: its block is the parse's answer.
  *stack::cell_at(scratch_index_ + 1) = value;
  stack_state.top = stack::cell_at(scratch_index_ + 2);
  collect_result_ = true;
}

void Engine::keep_value(const Cell& value) {
  const Cell target_cell = *stack::last_value();
  if (target_cell.is(TYPE_BLOCK)) {
    block::append_cell(target_cell, value);
    return;
  }
  Cell w = target_cell;
  const Cell target = word::get_any(w);
  const TypeId t = target.type();
  if (!is_series_value(t) || t == TYPE_IMAGE || t == TYPE_VECTOR) error(Err::script_parse_into_type);
  const bool after = target_cell.is(TYPE_REFINEMENT);
  Cell* mark = stack::push_value(value);  // rooted while the action runs
  if (t == TYPE_BINARY) {
    Cell b = target;
    further_type_hooks().binary_append(b, *mark, -1, true, 1, after);
    if (!after) {  // the word follows the position past the inserted bytes
      w.set_type(TYPE_WORD);
      context::set_word_value(w, b);
    }
  } else {
    const int32_t refs[3] = {-1, 0, -1};
    Cell result = call_action(after ? ActionIndex::append : ActionIndex::insert, {target, *mark}, refs);
    if (!after) {
      w.set_type(TYPE_WORD);
      context::set_word_value(w, result);
    }
  }
  stack_state.top = mark;
}

void Engine::complete_keep(int32_t code, uint32_t start) {
  const bool pick = command_modifier(*top()) != 0;
  const uint32_t p = pos();
  if (code == CMD_KEEP_PAREN) {
    const Cell v = *scratch_;
    if (pick && block::is_block_kind(v.type())) {
      // Each keep may run an owner's handler that shortens the block: read up to its tail now.
      for (uint32_t i = v.head_index(); i < block::buffer_length(v.node()); i++)
        keep_value(*block::cell_at_index(v, i));
    } else {
      keep_value(v);
    }
    return;
  }
  if (finished_code_ == CMD_COPY && finished_len_ == stack_len(rs())) {
    keep_value(word::get_any(finished_arg_));
    return;
  }
  if (p <= start) return;
  if (pick) {
    for (uint32_t i = start; i < p && i < tail(); i++) keep_value(unit_value(i));
  } else if (p - start == 1) {
    keep_value(unit_value(start));
  } else {
    keep_value(series::copy_range(*in_, start, p - start));
  }
}

// ---- The loop --------------------------------------------------------------------------------------

Cell Engine::run() {
  StackScope scope;
  block::append_cell(is(), *in_);
  value_ = *rules_;
  cur_ = rules_head() - 1;
  state_ = S_ENTER;
  try {
    for (;;) {
      switch (state_) {
        case S_ENTER: enter_block(); break;
        case S_LEAVE: leave_block(); break;
        case S_OPEN: open_command(); break;
        case S_RESUME: resume(); break;
        case S_STEP_DONE: step_done(); break;
        case S_BY_TYPE: by_type(); break;
        case S_ADVANCE:
          step_input();
          state_ = S_STEP_DONE;
          break;
        case S_FETCH: fetch(); break;
        case S_LITERAL: literal(); break;
        case S_ARGUMENT: argument(); break;
        case S_FAIL: failure(); break;
        case S_WORD: keyword(); break;
        case S_END: finish(); break;
        case S_DONE: goto done;
      }
    }
  } catch (const StopParse&) {
  }
done:
  if (collect_result_) return *stack::cell_at(scratch_index_ + 1);
  return logic(match_);
}

}  // namespace

uint32_t interp_eval_paren(const Cell& paren) { return interp::eval_block(paren, false); }

uint32_t interp_call_callback(const Cell& callback, const Cell* args, uint32_t locals, bool& answer) {
  Cell* mark = stack::top();
  stack::push_frame(kInterpFunctionFrame, fixed.word.m_parse_callback);
  for (int i = 0; i < 5; i++) stack::push_value(args[i]);
  if (locals > 0) function::push_unused_refinement(locals);
  const Cell object = block_head(callback.fn_more())[MORE_CONTEXT];
  const uint32_t object_ctx = object.is(TYPE_INTEGER) ? uint32_t(object.int_value()) : 0;
  if (uint32_t code = interp::exec_function_body(callback, object_ctx))
    return code;
  const Cell& v = *stack::base();
  answer = !(v.is(TYPE_NONE) || (v.is(TYPE_LOGIC) && !v.logic_value()));
  stack::pop_frame();
  stack_state.top = mark;
  return EXIT_NONE;
}

uint32_t interp_count_locals(const Cell& callback) {
  int32_t n = function::count_locals(callback.fn_spec(), 0, false);
  return n > 0 ? uint32_t(n) : 0;
}

void init() {
  parse_state.input_stack = alloc::make_cells(8);
  parse_state.rule_stack = alloc::make_cells(100);
  parse_state.input_base = parse_state.rule_base = 0;
  gc::add_root(&mark_stacks);
}

uint32_t input_depth() {
  return block::buffer_length(parse_state.input_stack) - parse_state.input_base;
}
uint32_t rule_depth() {
  return block::buffer_length(parse_state.rule_stack) - parse_state.rule_base;
}

Cell run(const Cell& input, const Cell& rules, int32_t mode, int32_t part_limit,
         const Cell* callback) {
  Engine engine(input, rules, mode, part_limit, callback);
  return engine.run();
}

}  // namespace zem::parse
