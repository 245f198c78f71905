// Start-up through each layer: a runtime started by init_through holds what its layer promises,
// survives a full collection, and starts again after release_runtime, in any order of layers
// (the sanitizer build checks the memory of each round).
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "library/boot.h"
#include "runtime/boot_state.h"
#include "runtime/collector.h"
#include "runtime/hooks.h"
#include "runtime/memory.h"
#include "runtime/startup.h"
#include "runtime/wiring.h"

namespace zem {
namespace {

constexpr StartLayer kLayers[] = {StartLayer::platform, StartLayer::memory, StartLayer::datatypes,
                                  StartLayer::symbols,  StartLayer::words,  StartLayer::values,
                                  StartLayer::evaluator, StartLayer::library};

std::string layer_name(StartLayer l) {
  constexpr const char* kNames[] = {"platform", "memory", "datatypes", "symbols",
                                    "words",    "values", "evaluator", "library"};
  return kNames[static_cast<int>(l)];
}

bool reached(StartLayer layer, StartLayer at_least) { return layer >= at_least; }

// The molded value of Zem text in a booted runtime.
std::string eval(const std::string& text) {
  Cell code = boot::load_source(text);
  stack::reset();
  stack::push_value(code);
  EXPECT_EQ(interp::eval_block(code, true), EXIT_NONE) << text;
  return actions::mold_text(*stack::base());
}

// What each layer promises is there.
void check_layer(StartLayer layer) {
  EXPECT_TRUE(hooks::hook_state.initialized);
  if (!reached(layer, StartLayer::memory)) return;

  EXPECT_NE(alloc::make_cells(4), 0u);
  if (!reached(layer, StartLayer::datatypes)) return;
  EXPECT_TRUE(type_built(TYPE_BLOCK));
  EXPECT_EQ(type_name(TYPE_BLOCK), "block!");
  EXPECT_TRUE(actions::entry(static_cast<uint32_t>(ActionIndex::append)));
  if (!reached(layer, StartLayer::symbols)) return;

  uint32_t sym = symbol::intern("start-up-word");
  EXPECT_EQ(symbol::name(sym), "start-up-word");
  if (!reached(layer, StartLayer::words)) return;
  EXPECT_NE(context::global(), 0u);
  if (!reached(layer, StartLayer::values)) return;

  EXPECT_NE(natives::find("print"), 0u);
  if (!reached(layer, StartLayer::evaluator)) return;

  EXPECT_TRUE(stack::base());
  if (!reached(layer, StartLayer::library)) return;
  EXPECT_TRUE(boot_state.done);

  EXPECT_EQ(eval("1 + 2"), "3");
  EXPECT_EQ(eval("append copy [a] 'b"), "[a b]");
  stack::reset();
}

class StartThrough : public ::testing::TestWithParam<StartLayer> {
 protected:
  void SetUp() override { ASSERT_TRUE(init_through(GetParam())); }
  void TearDown() override { release_runtime(); }
};

TEST_P(StartThrough, HoldsItsLayerAndSurvivesACollection) {
  check_layer(GetParam());
  if (reached(GetParam(), StartLayer::memory)) {
    gc::collect();
    check_layer(GetParam());  // the roots each layer set up hold what it made
  }
}

INSTANTIATE_TEST_SUITE_P(EachLayer, StartThrough, ::testing::ValuesIn(kLayers),
                         [](const ::testing::TestParamInfo<StartLayer>& i) { return layer_name(i.param); });

// Every layer after every neighbour, up and then down: a release leaves nothing that the next
// start-up trips over (roots of modules not started this time, nodes named by module state).
TEST(StartAgain, EachLayerAfterTheOneAboveAndBelow) {
  std::vector<StartLayer> order(std::begin(kLayers), std::end(kLayers));
  order.insert(order.end(), std::rbegin(kLayers) + 1, std::rend(kLayers));
  order.push_back(StartLayer::library);
  StartLayer previous = order.front();
  for (StartLayer layer : order) {
    SCOPED_TRACE(layer_name(layer) + " after " + layer_name(previous));
    ASSERT_TRUE(init_through(layer));
    check_layer(layer);
    if (reached(layer, StartLayer::memory)) gc::collect();
    check_layer(layer);
    release_runtime();
    previous = layer;
  }
}

// Every call between modules that goes through the wiring table has its answer once the evaluator
// is up (a forgotten fill would surface only as a silently skipped call), and a new start empties it.
TEST(StartWiring, FillsEveryEntry) {
  ASSERT_TRUE(init_through(StartLayer::evaluator));
  const void* entries[] = {
      reinterpret_cast<const void*>(wiring.canonical_symbol),   reinterpret_cast<const void*>(wiring.key_equal),
      reinterpret_cast<const void*>(wiring.raise_error),        reinterpret_cast<const void*>(wiring.symbol_name),
      reinterpret_cast<const void*>(wiring.deep_change),        reinterpret_cast<const void*>(wiring.objects.context_node),
      reinterpret_cast<const void*>(wiring.objects.flagged),    reinterpret_cast<const void*>(wiring.objects.set_flag),
      reinterpret_cast<const void*>(wiring.objects.for_each_field), reinterpret_cast<const void*>(wiring.image_alive),
      reinterpret_cast<const void*>(wiring.build_error_value),  reinterpret_cast<const void*>(wiring.near_source),
      reinterpret_cast<const void*>(wiring.eval_object_block),  reinterpret_cast<const void*>(wiring.run_handler),
      reinterpret_cast<const void*>(wiring.field_changed),      reinterpret_cast<const void*>(wiring.load_first),
      reinterpret_cast<const void*>(wiring.word_value),         reinterpret_cast<const void*>(wiring.word_is),
      reinterpret_cast<const void*>(wiring.sort_compare),       reinterpret_cast<const void*>(wiring.parse_eval_paren),
      reinterpret_cast<const void*>(wiring.parse_call_callback), reinterpret_cast<const void*>(wiring.parse_count_locals),
  };
  for (size_t i = 0; i < std::size(entries); i++) EXPECT_NE(entries[i], nullptr) << "entry " << i;
  release_runtime();
  ASSERT_TRUE(init_through(StartLayer::platform));
  EXPECT_EQ(wiring.raise_error, nullptr);
  EXPECT_EQ(wiring.run_handler, nullptr);
  release_runtime();
}

}  // namespace
}  // namespace zem
