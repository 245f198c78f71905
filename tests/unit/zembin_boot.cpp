// Boot-mode records through the boot image's C++ entry: a definition sets its word and leaves no
// root, a word bound by root index with index -1 finds its slot by symbol, an object keeps its
// stored class id, and the writer's roots come back as the roots of the root block. (The faults,
// which end the process, are checked on programs by tests/zem/boot_image_faults.py.)
#include "services/zembin/boot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "memory_fixture.h"
#include "services/zembin/format.h"
#include "support_values.h"

namespace zem {
namespace {

// The collector stays off: the values the tests make live in C++ locals between evaluations.
class ZembinBoot : public testing::RuntimeTest<StartLayer::library> {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    gc::set_enabled(false);
  }
};

uint32_t root_length() { return series_length(block::block_state.root); }

Cell global(const char* name) {
  const Cell* v = context::symbol_value_cell(symbol::intern(name), context::global());
  return v ? *v : Cell{};
}

// A compact boot image by hand: the symbols, then the records.
std::vector<uint8_t> image(const std::vector<std::string>& symbols, const std::vector<uint8_t>& records,
                           uint32_t roots) {
  std::vector<uint8_t> out;
  zembin::put_template(out, zembin::kFlagCompact | zembin::kFlagSymbols);
  out.resize(zembin::kHeaderSize);
  out[6] = zembin::kBootVersion;
  zembin::Writer w(out);
  w.varint(roots);
  w.varint(static_cast<uint32_t>(records.size()));
  std::string names;
  std::vector<uint32_t> offsets;
  for (const std::string& s : symbols) {
    offsets.push_back(static_cast<uint32_t>(names.size()));
    names += s + '\0';
  }
  w.varint(static_cast<uint32_t>(symbols.size()));
  w.varint(static_cast<uint32_t>(names.size()));
  for (uint32_t at : offsets) w.u32(at);
  w.bytes(names.data(), names.size());
  w.bytes(records.data(), records.size());
  return out;
}

TEST_F(ZembinBoot, DefinitionSetsItsWordAndLeavesNoRoot) {
  // Written by the image writer: one root, then `zb-answer: "forty-two"` and `zb-list: [zb-answer]`.
  Cell root = test::eval_text("[zb-a zb-b]");
  Cell text = test::eval_text("{forty-two}");
  Cell list = test::eval_text("[zb-answer]");
  Cell answer = context::add_global_word(symbol::intern("zb-answer"));
  Cell named = context::add_global_word(symbol::intern("zb-list"));
  const std::vector<zembin::Definition> defs = {{answer, text}, {named, list}};
  std::vector<uint8_t> bytes = zembin::write_boot_image({&root, 1}, defs);
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(bytes[6], zembin::kBootVersion);
  EXPECT_EQ(bytes[7], 0x05);

  const uint32_t before = root_length();
  EXPECT_EQ(zembin::boot_load(bytes.data(), bytes.size()), before);
  ASSERT_EQ(root_length(), before + 1);  // the root only
  EXPECT_EQ(test::mold_text(block_head(block::block_state.root)[before]), "[zb-a zb-b]");
  EXPECT_EQ(test::mold_text(global("zb-answer")), "\"forty-two\"");
  EXPECT_EQ(test::mold_text(global("zb-list")), "[zb-answer]");
  EXPECT_EQ(test::mold_text(test::eval_text("get first zb-list")), "\"forty-two\"");
}

TEST_F(ZembinBoot, WordsBoundByRootIndexAndClassIds) {
  using namespace zembin;
  // Root 0: an object of class 700 with x: 1 and y: 2. Root 1: the word y bound by root 0 with
  // index -1. Then a definition of y (V=1, index -1, root 0) to 63 and one of the global zb-obj to
  // root 0's object by a stand-alone path.
  std::vector<uint8_t> rec;
  Writer w(rec);
  w.u8(typed_head(TYPE_OBJECT, false));
  w.zz(700);
  w.u8(typed_head(TYPE_CONTEXT, false));
  w.u8(CONTEXT_OBJECT | kContextValues);
  w.varint(2);
  w.varint(0);
  w.varint(1);
  w.u8(kHeadSmallInt + 1);
  w.u8(kHeadSmallInt + 2);
  w.u8(typed_head(TYPE_WORD, true));
  w.varint(1);
  w.zz(-1);
  w.varint(0);
  w.u8(kPrefixDefinition);
  w.u8(typed_head(TYPE_WORD, true));
  w.varint(1);
  w.zz(-1);
  w.varint(0);
  w.u8(kHeadSmallInt + 63);
  w.u8(kPrefixDefinition);
  w.u8(typed_head(TYPE_WORD, false));
  w.varint(2);
  w.u8(kHeadPath);
  w.varint(1);
  w.varint(0);
  std::vector<uint8_t> bytes = image({"x", "y", "zb-obj"}, rec, 2);

  const uint32_t base = zembin::boot_load(bytes.data(), bytes.size());
  ASSERT_EQ(root_length(), base + 2);
  const Cell obj = block_head(block::block_state.root)[base];
  const Cell y = block_head(block::block_state.root)[base + 1];
  ASSERT_TRUE(obj.is(TYPE_OBJECT));
  EXPECT_EQ(obj.object_class(), 700u);
  ASSERT_TRUE(y.is(TYPE_WORD));
  EXPECT_EQ(y.word_context(), obj.object_context());
  EXPECT_EQ(y.word_index(), 1u);
  EXPECT_EQ(test::mold_text(*context::word_value_cell(y)), "63");
  EXPECT_EQ(test::mold_text(test::eval_text("zb-obj/y + zb-obj/x")), "64");
}

TEST_F(ZembinBoot, ImageOfTheLibraryGivesItsBlocksBack) {
  // What the boot-image tool writes: the scanned sources as roots, read back as equal blocks.
  std::vector<Cell> roots = {test::eval_text("[a: 1 b: [c #d %e/f g/h: 'i] print {j} <k> 2x3]"),
                             test::eval_text("[x/y: func [z] [z * 3.5%] 1.2.3 $4.50 2026-12-11/10:00]")};
  std::vector<uint8_t> bytes = zembin::write_boot_image(roots, {});
  const uint32_t base = zembin::boot_load(bytes.data(), bytes.size());
  ASSERT_EQ(root_length(), base + 2);
  for (uint32_t i = 0; i < 2; ++i)
    EXPECT_EQ(test::mold_text(block_head(block::block_state.root)[base + i], MoldFlags{.all = true}),
              test::mold_text(roots[i], MoldFlags{.all = true}));
}

}  // namespace
}  // namespace zem
