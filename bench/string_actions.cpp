// The string benchmarks (bench/string_*.zem) run through the action handlers directly, without the
// interpreter: append one million characters, find in a 10 MB string, sort 200,000 strings and
// change text in a loop. Their python3 twins are bench/string_*.py.
// usage: build/bench_string_actions
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "runtime/casefold.h"
#include "runtime/collector.h"
#include "runtime/hashtab.h"
#include "runtime/memory.h"
#include "services/random.h"

using namespace zem;

namespace {

// One action call with refinements given as (position, argument or null for a flag).
Cell act(ActionIndex a, std::vector<Cell> args, uint32_t refinement_count,
         std::initializer_list<std::pair<uint32_t, const Cell*>> refinements = {}) {
  std::vector<int32_t> refs(refinement_count, -1);
  for (auto [r, arg] : refinements) {
    refs[r] = arg ? static_cast<int32_t>(args.size()) : 0;
    if (arg) args.push_back(*arg);
  }
  ActionCall call;
  call.args = args.data();
  call.arg_count = static_cast<uint32_t>(args.size());
  call.refinements = refs.data();
  call.refinement_count = refinement_count;
  call.action = a;
  return *action_handler(args[0].type(), a)(call);
}

Cell int_cell(int32_t v) { return Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }

double ms_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main() {
  alloc::init();
  gc::init();
  casefold::init();
  hashtab::init(random::kHashSeed);
  symbol::init();
  registry_init();
  random::init();
  using clock = std::chrono::steady_clock;

  {  // string_append: one million appends of a char!
    auto t0 = clock::now();
    Cell s = str::make_string(16);
    Cell x{TYPE_CHAR, 0, 'x', 0};
    for (int i = 0; i < 1000000; i++) act(ActionIndex::append, {s, x}, 3);
    std::printf("append 1,000,000 chars:        %8.1f ms  (length %u)\n", ms_since(t0),
                str::count_from_head(s));
  }
  {  // string_find: 20 searches of each kind in 10 MB
    Cell s = str::make_string(10000016);
    Cell ten = str::make_from_c_text("abcdefghij");
    Cell dup = int_cell(1000000);
    act(ActionIndex::append, {s, ten}, 3, {{strings::APPEND_DUP, &dup}});
    act(ActionIndex::append, {s, str::make_from_c_text("needle")}, 3);
    Cell needle = str::make_from_c_text("needle");
    int found = 0;
    auto t0 = clock::now();
    for (int i = 0; i < 20; i++) found += !act(ActionIndex::find, {s, needle}, 11).is(TYPE_NONE);
    double folded = ms_since(t0);
    t0 = clock::now();
    for (int i = 0; i < 20; i++)
      found += !act(ActionIndex::find, {s, needle}, 11, {{strings::FIND_CASE, nullptr}}).is(TYPE_NONE);
    double exact = ms_since(t0);
    std::printf("find in 10 MB, 20 times:       %8.1f ms ignoring case, %8.1f ms exact (%d found)\n",
                folded, exact, found);
  }
  {  // string_sort: 200,000 strings in a block
    random::seed(1);
    Cell b = block::make(200000);
    for (int i = 0; i < 200000; i++) {
      Cell item = str::make_from_c_text("item-" + std::to_string(random::integer_upto(false, 1000000000)));
      block::append_cell(b, item);
    }
    auto t0 = clock::now();
    act(ActionIndex::sort, {b}, 7);
    std::printf("sort 200,000 strings:          %8.1f ms\n", ms_since(t0));
  }
  {  // string_change: overwrite, shrink and grow in a loop
    Cell s = str::make_string(100000);
    Cell dup = int_cell(10000);
    act(ActionIndex::append, {s, str::make_from_c_text("abcdefghij")}, 3, {{strings::APPEND_DUP, &dup}});
    Cell def = str::make_from_c_text("def"), DEF = str::make_from_c_text("DEF");
    Cell de = str::make_from_c_text("de");
    Cell three = int_cell(3), two = int_cell(2);
    int n = 0;
    auto t0 = clock::now();
    for (int round = 0; round < 10; round++) {
      struct Step {
        const Cell* find;
        const Cell* change;
        const Cell* part;
      };
      for (Step st : {Step{&def, &DEF, nullptr}, Step{&DEF, &de, &three}, Step{&de, &def, &two}}) {
        Cell p = s;
        for (;;) {
          p = act(ActionIndex::find, {p, *st.find}, 11, {{strings::FIND_CASE, nullptr}});
          if (p.is(TYPE_NONE)) break;
          p = st.part ? act(ActionIndex::change, {p, *st.change}, 3, {{strings::APPEND_PART, st.part}})
                      : act(ActionIndex::change, {p, *st.change}, 3);
          n++;
        }
      }
    }
    std::printf("change in a loop (%d changes): %8.1f ms  (length %u)\n", n, ms_since(t0),
                str::count_from_head(s));
  }
  return 0;
}
