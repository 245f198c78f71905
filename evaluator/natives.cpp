// The natives' table: the list's specs parsed at start-up, argument checks and the native words.
#include "evaluator/natives.h"

#include <array>
#include <initializer_list>
#include <stdexcept>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/error.h"

namespace zem {

namespace {

struct NativesState {
  std::array<NativeSpec, kNativeCount + 1> specs{};  // by index; 0 unused
  // The spec block define_words made for each native (kept alive here, so that no other block
  // takes its node): a native! holding it takes its argument types from `specs`.
  std::array<NodeId, kNativeCount + 1> spec_blocks{};
  // Spec blocks of the actions built from the action list on demand, by slot (kept alive here).
  std::array<NodeId, kActionCount + 1> action_spec_blocks{};
  Cell print_scratch{};
  uint32_t fill = 1;  // the next free slot
  bool ready = false;
};
NativesState state;

struct ListEntry {
  uint32_t index;
  std::string_view word;
  std::string_view spec;
  NativeEntry entry;
};

constexpr ListEntry kList[] = {
#define ZEM_NATIVE(index, name, word, spec) {index, word, spec, &native_##name},
#include "evaluator/natives_list.def"
#undef ZEM_NATIVE
};
static_assert(std::size(kList) == kNativeCount);
static_assert([] {
  for (uint32_t i = 0; i < kNativeCount; ++i)
    if (kList[i].index != i + 1) return false;
  return true;
}(), "natives_list.def numbers the natives 1, 2, 3... in order");

Cell types_of(std::initializer_list<TypeId> ids) {
  Cell ts = make_typeset();
  for (TypeId t : ids) typeset_set_bit(ts, t);
  return ts;
}

Cell merge(std::initializer_list<Cell> sets) {
  Cell ts = make_typeset();
  for (const Cell& s : sets) {
    ts.set_typeset_words(ts.typeset_word(0) | s.typeset_word(0), ts.typeset_word(1) | s.typeset_word(1),
                         ts.typeset_word(2) | s.typeset_word(2));
  }
  return ts;
}

// The typeset words of the boot environment that the natives' specs use.
bool family_named(std::string_view name, Cell& out) {
  const Cell number = types_of({TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT});
  const Cell any_point = types_of({TYPE_POINT2D, TYPE_POINT3D});
  const Cell scalar = merge({number, any_point,
                             types_of({TYPE_MONEY, TYPE_CHAR, TYPE_PAIR, TYPE_TUPLE, TYPE_TIME,
                                       TYPE_DATE})});
  const Cell any_word = types_of({TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD});
  const Cell all_word = merge({any_word, types_of({TYPE_REFINEMENT, TYPE_ISSUE})});
  const Cell any_list = types_of({TYPE_BLOCK, TYPE_PAREN, TYPE_HASH});
  const Cell any_path = types_of({TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH});
  const Cell any_block = merge({any_list, any_path});
  const Cell any_function =
      types_of({TYPE_NATIVE, TYPE_ACTION, TYPE_OP, TYPE_FUNCTION, TYPE_ROUTINE});
  const Cell any_object = types_of({TYPE_OBJECT, TYPE_ERROR, TYPE_PORT});
  const Cell any_string =
      types_of({TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF});
  const Cell series =
      merge({any_block, any_string, types_of({TYPE_BINARY, TYPE_IMAGE, TYPE_VECTOR})});
  const Cell immediate = merge({scalar, all_word,
                                types_of({TYPE_NONE, TYPE_LOGIC, TYPE_DATATYPE, TYPE_TYPESET,
                                          TYPE_HANDLE, TYPE_DATE})});
  const Cell default_types = merge({series, immediate, any_object, types_of({TYPE_EVENT}),
                                    any_function, types_of({TYPE_MAP, TYPE_BITSET})});
  struct Named {
    std::string_view name;
    Cell set;
  };
  const Named named[] = {
      {"number!", number},         {"any-point!", any_point},   {"scalar!", scalar},
      {"any-word!", any_word},     {"all-word!", all_word},     {"any-list!", any_list},
      {"any-path!", any_path},     {"any-block!", any_block},   {"any-function!", any_function},
      {"any-object!", any_object}, {"any-string!", any_string}, {"series!", series},
      {"immediate!", immediate},   {"default!", default_types},
  };
  for (const Named& n : named) {
    if (n.name == name) {
      out = n.set;
      return true;
    }
  }
  if (name == "any-type!") {
    out = typeset_all();
    typeset_set_bit(out, TYPE_UNSET);
    return true;
  }
  return false;
}

// Reads "a [t1! t2!] 'b [t!] /ref c [t!] /flag" into the spec record.
NativeSpec read_spec(std::string_view word, std::string_view text) {
  NativeSpec spec;
  spec.word = word;
  spec.text = text;
  size_t pos = 0;
  auto skip_spaces = [&] {
    while (pos < text.size() && text[pos] == ' ') ++pos;
  };
  auto token = [&] {
    size_t start = pos;
    while (pos < text.size() && text[pos] != ' ' && text[pos] != ']') ++pos;
    return text.substr(start, pos - start);
  };
  Cell default_types{};
  family_named("default!", default_types);
  for (skip_spaces(); pos < text.size(); skip_spaces()) {
    std::string_view name = token();
    if (name.front() == '/') {
      spec.refinements.push_back({name.substr(1), static_cast<uint32_t>(spec.args.size()), 0});
      continue;
    }
    NativeArg arg;
    arg.literal = name.front() == '\'';
    arg.name = arg.literal ? name.substr(1) : name;
    arg.types = default_types;
    skip_spaces();
    if (pos < text.size() && text[pos] == '[') {
      ++pos;
      size_t close = text.find(']', pos);
      arg.type_text = text.substr(pos, close == std::string_view::npos ? 0 : close - pos);
      arg.typed = true;
      arg.types = make_typeset();
      for (skip_spaces(); pos < text.size() && text[pos] != ']'; skip_spaces()) {
        std::string_view type = token();
        Cell family{};
        if (!natives::typeset_named(type, family)) {
          std::string msg = "natives: unknown type in the spec of ";
          msg += word;
          throw std::logic_error(msg);
        }
        arg.types = merge({arg.types, family});
      }
      ++pos;  // ']'
    }
    spec.args.push_back(arg);
    if (spec.refinements.empty()) {
      ++spec.plain_args;
    } else {
      ++spec.refinements.back().arg_count;
    }
  }
  return spec;
}

void mark_scratch(void*) {
  if (state.print_scratch.node() != 0) gc::mark_block(state.print_scratch.node());
  for (NodeId spec : state.spec_blocks)
    if (spec) gc::mark_block(spec);
  for (NodeId spec : state.action_spec_blocks)
    if (spec) gc::mark_block(spec);
}

// The types of a spec as written: each name ("any-type!", "block!") a word of the global context.
Cell type_words(std::string_view text) {
  Cell types = block::make(2);
  stack::push_value(types);  // rooted while it is built
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find(' ', pos);
    if (end == std::string_view::npos) end = text.size();
    if (end > pos) {
      Cell w = context::add_global_word(symbol::intern(text.substr(pos, end - pos)));
      block::append_cell(types, w);
    }
    pos = end + 1;
  }
  stack::drop_values(1);
  return types;
}

Cell word_of(std::string_view name) { return make_word_cell(symbol::intern(name), 0); }

// The spec block of a spec record: the argument words unbound, each type block as written.
NodeId build_spec_block(const NativeSpec& s) {
  Cell spec = block::make(static_cast<uint32_t>(s.args.size() * 2 + s.refinements.size()));
  stack::push_value(spec);  // rooted while it is built
  auto add_args = [&](uint32_t from, uint32_t count) {
    for (uint32_t i = from; i < from + count; ++i) {
      const NativeArg& a = s.args[i];
      block::append_cell(spec, make_word_cell(symbol::intern(a.name), 0,
                                              a.literal ? TYPE_LIT_WORD : TYPE_WORD));
      if (a.typed) block::append_cell(spec, type_words(a.type_text));
    }
  };
  add_args(0, s.plain_args);
  for (const NativeRefinement& r : s.refinements) {
    block::append_cell(spec, make_word_cell(symbol::intern(r.name), 0, TYPE_REFINEMENT));
    add_args(r.first_arg, r.arg_count);
  }
  stack::drop_values(1);
  return spec.node();
}

constexpr std::string_view kActionSpecs[] = {
#define ZEM_ACTION(slot, name, word, spec) spec,
#include "datatypes/actions.def"
#undef ZEM_ACTION
};

}  // namespace

namespace natives {

void register_table(uint32_t count, const NativeEntry* entries) {
  for (uint32_t i = 0; i < count; ++i) native::set_entry(state.fill++, entries[i]);
}

void init() {
  natives_table = NativesTable{};
  state.fill = 1;
  state.action_spec_blocks = {};
  NativeEntry entries[kNativeCount];
  for (uint32_t i = 0; i < kNativeCount; ++i) {
    entries[i] = kList[i].entry;
    state.specs[i + 1] = read_spec(kList[i].word, kList[i].spec);
  }
  if (!state.ready) gc::add_root(mark_scratch);
  state.ready = true;
  state.print_scratch = block::make(32);
  register_table(kNativeCount, entries);
  trace::init();
}

NativeEntry entry(uint32_t index) {
  if (index < 1 || index > kNativesCapacity) return nullptr;
  return natives_table.entries[index - 1];
}

void define_words() {
  for (uint32_t index = 1; index <= kNativeCount; ++index) {
    const NativeSpec& s = state.specs[index];
    Cell spec = block::value_of(build_spec_block(s));
    stack::push_value(spec);
    state.spec_blocks[index] = spec.node();
    NodeId ctx = context::make_from_spec(block::value_of(spec.node()), true, false, CONTEXT_FUNCTION);
    Cell value = native::make_value(TYPE_NATIVE, index - 1, spec.node(), ctx);
    context::set_or_add_word(context::global(), word_of(s.word), value);
    stack::drop_values(1);
  }
}

uint32_t fill_index() { return state.fill; }

NodeId spec_block(uint32_t index) {
  return index >= 1 && index <= kNativeCount ? state.spec_blocks[index] : 0;
}

NodeId action_spec_block(uint32_t slot) {
  if (slot < 1 || slot > static_cast<uint32_t>(kActionCount)) return 0;
  const std::string_view word = action_word(static_cast<ActionIndex>(slot));
  if (word.empty()) return 0;
  NodeId& spec = state.action_spec_blocks[slot];
  if (!spec) spec = build_spec_block(read_spec(word, kActionSpecs[slot - 1]));
  return spec;
}

const NativeSpec& spec(uint32_t index) { return state.specs[index]; }

const NativeSpec* spec_of_value(const Cell& fn) {
  bool native = fn.is(TYPE_NATIVE) || (fn.is(TYPE_OP) && fn.op_source() == TYPE_NATIVE);
  uint32_t index = fn.fn_entry() + 1;
  if (!native || index > kNativeCount || state.spec_blocks[index] != fn.fn_spec()) return nullptr;
  return &state.specs[index];
}

uint32_t find(std::string_view word) {
  for (const ListEntry& e : kList)
    if (e.word == word) return e.index;
  return 0;
}

bool typeset_named(std::string_view name, Cell& out) {
  if (family_named(name, out)) return true;
  for (uint32_t t = 1; t <= TYPE_EVENT; ++t) {
    if (type_name(static_cast<TypeId>(t)) == name) {
      out = types_of({static_cast<TypeId>(t)});
      return true;
    }
  }
  return false;
}

void check_args(uint32_t index, const int32_t* refinements) {
  const NativeSpec& s = state.specs[index];
  auto check_one = [&](uint32_t arg, uint32_t slot) {
    if (!typeset_has(s.args[arg].types, stack::arg(slot)->type()))
      fire_expect_arg(index, arg, slot);
  };
  for (uint32_t i = 0; i < s.plain_args; ++i) check_one(i, i);
  for (size_t r = 0; r < s.refinements.size(); ++r) {
    if (refinements[r] < 0) continue;
    const NativeRefinement& ref = s.refinements[r];
    for (uint32_t i = 0; i < ref.arg_count; ++i)
      check_one(ref.first_arg + i, static_cast<uint32_t>(refinements[r]) + i);
  }
}

void fire_expect_arg(uint32_t index, uint32_t arg, uint32_t slot) {
  Cell native_word = word_of(state.specs[index].word);
  Cell type = datatype_cell(stack::arg(slot)->type());
  Cell arg_word = word_of(state.specs[index].args[arg].name);
  fire(Err::script_expect_arg, &native_word, &type, &arg_word);
}

Cell& print_scratch() { return state.print_scratch; }

Cell word_cell(uint32_t index) { return word_of(state.specs[index].word); }

[[noreturn]] void fire_not_done(uint32_t index) {
  Cell word = word_of(state.specs[index].word);
  fire(Err::internal_not_done, &word);
}

}  // namespace natives
}  // namespace zem
