// Conditional and loop natives. Loops run under a loop frame named <body>: break and continue
// stop there, every other exit passes on (as a status or as the exception it arrived as).
#include <cmath>

#include "datatypes/block.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "datatypes/integer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/error.h"

namespace zem {

namespace {

enum class Step { next, continued, broke, passing };

// One run of the body under the loop frame pushed at depth `frame`: the body's value goes to the
// loop frame's slot 0. After a break the value of break/return (or unset) is there instead.
Step loop_step(const Cell& body, uint32_t frame, uint32_t& code) {
  gc::safe_point();
  stack::reset_arguments();
  uint32_t st;
  try {
    st = interp::eval_block(body, true);
  } catch (const Unwind& u) {
    if ((u.code != EXIT_BREAK && u.code != EXIT_CONTINUE) || !stack::exit_stops_at(frame)) throw;
    st = u.code;
  }
  if (st == EXIT_NONE) return Step::next;
  if (stack::exit_stops_at(frame)) {
    if (st == EXIT_BREAK) {
      stack::take_exit_value();
      return Step::broke;
    }
    if (st == EXIT_CONTINUE) {
      clear_pending_exit();
      return Step::continued;
    }
  }
  code = st;
  return Step::passing;
}

uint32_t answer(const Cell& v) {
  stack::set_single_result(v);
  return EXIT_NONE;
}

// Evaluates a whole block into slot 0 of the current frame.
uint32_t eval_into_result(const Cell& block) {
  Cell b = block;
  if (uint32_t st = interp::eval_block(b, true)) return st;
  stack::keep_one_result();
  return EXIT_NONE;
}

// Loop counts: a float! is truncated; outside the 32-bit range it cannot count.
int32_t loop_count(const Cell& c) {
  if (c.is(TYPE_INTEGER)) return c.int_value();
  double d = std::trunc(c.float_value());
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) {
    Cell type = datatype_cell(TYPE_INTEGER);
    fire(Err::script_type_limit, &type);
  }
  return static_cast<int32_t>(d);
}

// The checked truth test of either, while, until and case: an unset condition raises `no-value`
// named by the native when the interpreter called it, `no-return` when compiled code did
// (`check` set).
bool checked_condition(const Cell& c, uint32_t native, int32_t check) {
  if (check) return result_is_true_checked(c);
  if (!c.is(TYPE_UNSET)) return is_true(c);
  Cell word = natives::word_cell(native);  // interned only for the error
  return cell_is_true(c, true, &word);
}

}  // namespace

uint32_t native_if(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_if, r);
  if (!is_true(*stack::arg(0))) return answer(make_none());
  return eval_into_result(*stack::arg(1));
}

uint32_t native_unless(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_unless, r);
  if (is_true(*stack::arg(0))) return answer(make_none());
  return eval_into_result(*stack::arg(1));
}

uint32_t native_either(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_either, r);
  bool yes = checked_condition(*stack::arg(0), NATIVE_either, check);
  return eval_into_result(*stack::arg(yes ? 1 : 2));
}

namespace {
uint32_t any_all(bool is_any) {
  Cell block = *stack::arg(0);
  uint32_t index = block.head_index();
  *stack::arg(0) = make_none();
  while (index < series_length(block.node())) {
    stack::keep_one_result();
    if (uint32_t st = interp::eval_next(block, index, interp::Dest::result)) return st;
    bool truth = is_true(*stack::arg(0));
    if (is_any && truth) return answer(*stack::arg(0));
    if (!is_any && !truth) return answer(make_none());
  }
  if (is_any) *stack::arg(0) = make_none();
  stack::keep_one_result();
  return EXIT_NONE;
}
}  // namespace

uint32_t native_any(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_any, r);
  return any_all(true);
}

uint32_t native_all(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_all, r);
  return any_all(false);
}

uint32_t native_switch(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_switch, r);
  Cell value = *stack::arg(0);
  Cell cases = *stack::arg(1);
  uint32_t end = series_length(cases.node());
  for (uint32_t i = cases.head_index(); i < end; ++i) {
    if (!block::find_equal(*block::cell_at_index(cases, i), value)) continue;
    for (uint32_t j = i + 1; j < end; ++j) {
      const Cell& c = *block::cell_at_index(cases, j);
      if (c.is(TYPE_BLOCK)) return eval_into_result(c);
    }
    break;
  }
  if (r[0] >= 0) return eval_into_result(*stack::arg(static_cast<uint32_t>(r[0])));
  return answer(make_none());
}

uint32_t native_case(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_case, r);
  Cell cases = *stack::arg(0);
  bool all = r[0] >= 0;
  uint32_t index = cases.head_index();
  if (index >= series_length(cases.node())) return answer(make_none());
  stack::push_anon_frame(FRAME_NATIVE);
  stack::push_value(make_none());
  bool kept = false;
  while (index < series_length(cases.node())) {
    kept = false;
    stack::keep_one_result();
    if (uint32_t st = interp::eval_next(cases, index, interp::Dest::result)) return st;
    if (index >= series_length(cases.node())) {
      Cell word = natives::word_cell(NATIVE_case);
      fire(Err::script_need_value, &word);
    }
    if (!checked_condition(*stack::base(), NATIVE_case, check)) {
      ++index;
      continue;
    }
    const Cell next = *block::cell_at_index(cases, index);
    uint32_t st;
    if (next.is(TYPE_BLOCK)) {
      ++index;
      st = interp::eval_block(next, true);
    } else {
      st = interp::eval_next(cases, index, interp::Dest::result);
    }
    if (st) return st;
    kept = true;
    if (!all) break;
  }
  if (!kept) *stack::base() = make_none();
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  return EXIT_NONE;
}

uint32_t native_while(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_while, r);
  Cell cond = *stack::arg(0);
  Cell body = *stack::arg(1);
  uint32_t frame = stack::depth();
  stack::push_body_frame(FRAME_LOOP);
  for (;;) {
    stack::reset_arguments();
    uint32_t st;
    try {
      st = interp::eval_block(cond, true);
    } catch (const Unwind& u) {
      if ((u.code != EXIT_BREAK && u.code != EXIT_CONTINUE) || !stack::exit_stops_at(frame)) throw;
      st = u.code;
    }
    if (st) {
      if ((st == EXIT_BREAK || st == EXIT_CONTINUE) && stack::exit_stops_at(frame)) {
        clear_pending_exit();
        fire(Err::throw_while_cond);
      }
      return st;
    }
    if (!checked_condition(*stack::base(), NATIVE_while, check)) break;
    uint32_t code = EXIT_NONE;
    Step s = loop_step(body, frame, code);
    if (s == Step::passing) return code;
    if (s == Step::broke) break;
  }
  stack::pop_frame();
  return answer(make_unset());
}

uint32_t native_until(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_until, r);
  Cell body = *stack::arg(0);
  uint32_t frame = stack::depth();
  stack::push_body_frame(FRAME_LOOP);
  for (;;) {
    uint32_t code = EXIT_NONE;
    Step s = loop_step(body, frame, code);
    if (s == Step::passing) return code;
    if (s == Step::broke) break;
    if (s == Step::next && checked_condition(*stack::base(), NATIVE_until, check)) break;
  }
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  return EXIT_NONE;
}

uint32_t native_loop(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_loop, r);
  int32_t count = loop_count(*stack::arg(0));
  Cell body = *stack::arg(1);
  if (count <= 0) return answer(make_none());
  uint32_t frame = stack::depth();
  stack::push_body_frame(FRAME_LOOP);
  for (int32_t i = 0; i < count; ++i) {
    uint32_t code = EXIT_NONE;
    Step s = loop_step(body, frame, code);
    if (s == Step::passing) return code;
    if (s == Step::broke) break;
  }
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  return EXIT_NONE;
}

uint32_t native_repeat(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_repeat, r);
  Cell word = *stack::arg(0);
  int32_t count = loop_count(*stack::arg(1));
  Cell body = *stack::arg(2);
  if (count <= 0) return answer(make_none());
  uint32_t frame = stack::depth();
  stack::push_body_frame(FRAME_LOOP);
  for (int32_t i = 1; i <= count; ++i) {
    interp::set_word(word, make_integer(i));
    uint32_t code = EXIT_NONE;
    Step s = loop_step(body, frame, code);
    if (s == Step::passing) return code;
    if (s == Step::broke) break;
  }
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  return EXIT_NONE;
}

uint32_t native_forever(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_forever, r);
  Cell body = *stack::arg(0);
  uint32_t frame = stack::depth();
  stack::push_body_frame(FRAME_LOOP);
  for (;;) {
    uint32_t code = EXIT_NONE;
    Step s = loop_step(body, frame, code);
    if (s == Step::passing) return code;
    if (s == Step::broke) break;
  }
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  return EXIT_NONE;
}

namespace {

// Sets the loop words from the series at `pos`: word i gets the value at pos + i (none past the
// tail).
void set_loop_words(const Cell& words, const Cell& series, uint32_t pos) {
  if (words.is(TYPE_WORD)) {
    natives::set_word_any(words, natives::pick_at(series, pos));
    return;
  }
  uint32_t n = block::length(words);
  for (uint32_t i = 0; i < n; ++i) {
    Cell w = *block::cell_at_index(words, words.head_index() + i);
    Cell v = natives::pick_at(series, pos + i);
    natives::set_word_any(w, v);
  }
}

// The number of loop words: 1 for a word, the block's length (checked) for a block.
uint32_t loop_word_count(const Cell& words) {
  if (!words.is(TYPE_BLOCK)) return 1;
  uint32_t n = block::length(words);
  if (n == 0) fire(Err::script_invalid_arg, &words);
  for (uint32_t i = 0; i < n; ++i) {
    const Cell& w = *block::cell_at_index(words, words.head_index() + i);
    if (!(w.is(TYPE_WORD) || w.is(TYPE_SET_WORD) || w.is(TYPE_GET_WORD) || w.is(TYPE_LIT_WORD)))
      fire(Err::script_invalid_arg, &w);
  }
  return n;
}

// foreach over a map!: a block of two words takes each live entry's key and value.
uint32_t foreach_map(const Cell& words, const Cell& map, const Cell& body) {
  if (!words.is(TYPE_BLOCK) || block::length(words) != 2) fire(Err::script_invalid_arg, &words);
  loop_word_count(words);
  Cell* walk = stack::push_value(map);
  walk->set_head_index(0);
  stack::push_value(words);
  uint32_t frame = stack::depth();
  stack::push_body_frame(FRAME_LOOP);
  *stack::push_cell() = make_unset();
  while (further_type_hooks().map_foreach_step(words, *walk, 2)) {
    uint32_t code = EXIT_NONE;
    Step s = loop_step(body, frame, code);
    if (s == Step::passing) return code;
    if (s == Step::broke) break;
  }
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  return EXIT_NONE;
}

}  // namespace

uint32_t native_foreach(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_foreach, r);
  Cell words = *stack::arg(0);
  Cell series = *stack::arg(1);
  Cell body = *stack::arg(2);
  if (series.is(TYPE_MAP)) return foreach_map(words, series, body);
  uint32_t n = loop_word_count(words);
  // The series and the words stay rooted on the stack below the loop frame.
  stack::push_value(series);
  stack::push_value(words);
  uint32_t frame = stack::depth();
  stack::push_body_frame(FRAME_LOOP);
  *stack::push_cell() = make_unset();
  uint32_t pos = series.head_index();
  while (pos < natives::series_tail(series)) {
    set_loop_words(words, series, pos);
    pos += n;
    uint32_t code = EXIT_NONE;
    Step s = loop_step(body, frame, code);
    if (s == Step::passing) return code;
    if (s == Step::broke) break;
  }
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  return EXIT_NONE;
}

uint32_t native_forall(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_forall, r);
  Cell word = *stack::arg(0);
  Cell body = *stack::arg(1);
  Cell start = *interp::word_value(word);
  if (!natives::is_series(start.type())) natives::fire_expect_arg(NATIVE_forall, 0, 0);
  stack::push_value(start);
  uint32_t frame = stack::depth();
  stack::push_body_frame(FRAME_LOOP);
  *stack::push_cell() = make_unset();
  bool broke = false;
  while (interp::word_value(word)->head_index() < natives::series_tail(start)) {
    uint32_t code = EXIT_NONE;
    Step s = loop_step(body, frame, code);
    if (s == Step::passing) return code;
    if (s == Step::broke) {
      broke = true;
      break;
    }
    Cell* now = interp::word_value(word);
    if (now->type() != start.type() || now->node() != start.node())
      fire(Err::script_bad_loop_series, now);
    now->set_head_index(now->head_index() + 1);
    if (now->head_index() >= natives::series_tail(start)) break;
  }
  if (!broke) interp::set_word(word, start);
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  return EXIT_NONE;
}

uint32_t native_remove_each(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_remove_each, r);
  Cell words = *stack::arg(0);
  Cell data = *stack::arg(1);
  Cell body = *stack::arg(2);
  uint32_t n = loop_word_count(words);
  stack::push_value(data);
  stack::push_value(words);
  uint32_t frame = stack::depth();
  stack::push_body_frame(FRAME_LOOP);
  *stack::push_cell() = make_unset();
  uint32_t pos = data.head_index();
  while (pos < natives::series_tail(data)) {
    set_loop_words(words, data, pos);
    uint32_t code = EXIT_NONE;
    Step s = loop_step(body, frame, code);
    if (s == Step::passing) return code;
    if (s == Step::broke) break;
    if (s == Step::next && is_true(*stack::base())) {
      natives::remove_at(data, pos, n);
    } else {
      pos += n;
    }
  }
  stack::pop_frame();
  return answer(data);
}

}  // namespace zem
