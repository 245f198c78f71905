// The interpreter's core paths timed through its C++ API, until scripts run through zem-run:
// recursive fib 30, a five-million counting loop, a function with refinements called one million
// times, and one million calls of a function ending in `return` against the same without it.
// The few control natives these need are stand-ins defined here; + - * are the integer! actions.
// Compare with bench/fib.py, count_loop.py, refinements.py and return_end.py.
#include <ctime>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "runtime/collector.h"
#include "runtime/startup.h"

using namespace zem;

namespace {

Cell word(const char* name, TypeId t = TYPE_WORD) {
  Cell w = context::add_global_word(symbol::intern(name));
  w.set_type(t);
  return w;
}

struct V {
  Cell cell;
  V(int32_t n) {
    cell = Cell{};
    cell.set_header(TYPE_INTEGER);
    cell.set_int_value(n);
  }
  V(const Cell& c) : cell(c) {}
  V(const char* text) {
    std::string s = text;
    if (s.size() > 1 && s.back() == ':')
      cell = word(s.substr(0, s.size() - 1).c_str(), TYPE_SET_WORD);
    else if (s[0] == '\'' && s.size() > 1)
      cell = word(s.c_str() + 1, TYPE_LIT_WORD);
    else if (s[0] == '/' && s.size() > 1)
      cell = word(s.c_str() + 1, TYPE_REFINEMENT);
    else
      cell = word(text);
  }
};

// Blocks are kept in the root list below while the benchmark runs.
Cell g_code = {};
Cell series(TypeId t, std::initializer_list<V> values) {
  Cell b = block::make(static_cast<uint32_t>(values.size()), t);
  for (const V& v : values) block::append_cell(b, v.cell);
  block::append_cell(g_code, b);
  return b;
}
Cell blk(std::initializer_list<V> v) { return series(TYPE_BLOCK, v); }
Cell par(std::initializer_list<V> v) { return series(TYPE_PAREN, v); }
Cell path(std::initializer_list<V> v) { return series(TYPE_PATH, v); }

uint32_t run_block(const Cell& b) { return interp::eval_block(b, true); }

// either cond true-block false-block
uint32_t n_either(int32_t, const int32_t*) {
  Cell b = is_true(*stack::arg(0)) ? *stack::arg(1) : *stack::arg(2);
  return run_block(b);
}
// if cond block
uint32_t n_if(int32_t, const int32_t*) {
  if (!is_true(*stack::arg(0))) {
    stack::set_single_result(shared_cells.none);
    return EXIT_NONE;
  }
  Cell b = *stack::arg(1);
  return run_block(b);
}
uint32_t n_lesser(int32_t, const int32_t*) {
  actions::compare_to_logic(COMP_LESSER);
  return EXIT_NONE;
}
// while cond body
uint32_t n_while(int32_t, const int32_t*) {
  Cell cond = *stack::arg(0), body = *stack::arg(1);
  for (;;) {
    gc::safe_point();
    if (uint32_t st = interp::eval_block(cond, false)) return st;
    bool go = is_true(*(stack::top() - 1));
    stack::drop_values(1);
    if (!go) break;
    if (uint32_t st = interp::eval_block(body, false)) return st;
    stack::drop_values(1);
  }
  stack::set_single_result(shared_cells.unset);
  return EXIT_NONE;
}
// repeat 'word count body
uint32_t n_repeat(int32_t, const int32_t*) {
  Cell w = *stack::arg(0), body = *stack::arg(2);
  int32_t n = stack::arg(1)->int_value();
  for (int32_t i = 1; i <= n; i++) {
    gc::safe_point();
    *context::word_value_cell(w) = V(i).cell;
    if (uint32_t st = interp::eval_block(body, false)) return st;
    stack::drop_values(1);
  }
  stack::set_single_result(shared_cells.unset);
  return EXIT_NONE;
}
uint32_t n_return(int32_t, const int32_t*) { return stack::unwind_function_exit(true, false); }
uint32_t n_func(int32_t, const int32_t*) {
  uint32_t flags = function::check_spec(*stack::arg(0));
  Cell f = function::build_value(*stack::arg(0), *stack::arg(1), 0, -1, 0, flags);
  stack::set_single_result(f);
  return EXIT_NONE;
}

void define_native(uint32_t number, const char* name, std::initializer_list<V> spec,
                   NativeEntry entry) {
  native::set_entry(number, entry);
  Cell s = blk(spec);
  *context::word_value_cell(word(name)) = native::make_value(TYPE_NATIVE, number - 1, s.node(), 0);
}

void define_op(const char* name, TypeId type, uint32_t index) {
  Cell s = blk({"value1", "value2"});
  Cell op = native::make_value(type, index, s.node(), 0);
  op.header = TYPE_OP | (static_cast<uint32_t>(type) << kOpSourceShift);
  *context::word_value_cell(word(name)) = op;
}

void mark_code(void*) { gc::mark_value(g_code); }

double time_it(const char* name, const Cell& code) {
  // Processor time: the figures stay comparable on a busy machine.
  auto start = std::clock();
  stack::reset();
  stack::push_native_frame(word("bench"));
  stack::push_value(code);
  uint32_t st = interp::eval_block(code, true);
  double s = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  std::printf("%-16s %8.3f s  result %d%s\n", name, s, stack::arg(0)->int_value(),
              st ? " (exit pending)" : "");
  return s;
}

int run(int argc, char** argv) {
  runtime_init(argc, argv);
  g_code = block::make(64);
  gc::add_root(mark_code);
  define_native(1, "either", {"cond", "t", "f"}, n_either);
  define_native(2, "if", {"cond", "then"}, n_if);
  define_native(3, "while", {"cond", "body"}, n_while);
  define_native(4, "repeat", {"'w", "n", "body"}, n_repeat);
  define_native(5, "return", {"value"}, n_return);
  define_native(6, "func", {"spec", "body"}, n_func);
  define_native(7, "lesser?", {"a", "b"}, n_lesser);
  define_op("+", TYPE_ACTION, static_cast<uint32_t>(ActionIndex::add) - 1);
  define_op("-", TYPE_ACTION, static_cast<uint32_t>(ActionIndex::subtract) - 1);
  define_op("*", TYPE_ACTION, static_cast<uint32_t>(ActionIndex::multiply) - 1);
  define_op("<", TYPE_NATIVE, 6);

  // fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]]
  time_it("setup", blk({"fib:", "func", blk({"n"}),
                        blk({"either", "n", "<", 2, blk({"n"}),
                             blk({par({"fib", "n", "-", 1}), "+", "fib", "n", "-", 2})}),
                        "f:", "func", blk({"a", "/twice", "/plus", "b"}),
                        blk({"if", "twice", blk({"a:", "a", "*", 2}), "if", "plus",
                             blk({"a:", "a", "+", "b"}), "a"}),
                        "r:", "func", blk({"a"}), blk({"a:", "a", "+", 1, "return", "a"}),
                        "q:", "func", blk({"a"}), blk({"a:", "a", "+", 1, "a"}), 0}));
  time_it("fib 30", blk({"fib", 30}));
  time_it("count_loop", blk({"n:", 0, "i:", 0, "while", blk({"i", "<", 5000000}),
                             blk({"i:", "i", "+", 1, "n:", "n", "+", 2}), "n"}));
  time_it("refinements", blk({"sum:", 0, "repeat", "i", 1000000,
                              blk({"sum:", "sum", "+", path({"f", "twice", "plus"}), "i", 1}),
                              "sum"}));
  double with = time_it("return_end", blk({"sum:", 0, "repeat", "i", 1000000,
                                           blk({"sum:", "sum", "+", "r", "i"}), "sum"}));
  double without = time_it("return_none", blk({"sum:", 0, "repeat", "i", 1000000,
                                              blk({"sum:", "sum", "+", "q", "i"}), "sum"}));
  std::printf("return / no return: %.2f\n", with / without);
  runtime_exit(0);
}

}  // namespace

int main(int argc, char** argv) { return platform::run_on_stack(platform::kStackBytes, run, argc, argv); }
