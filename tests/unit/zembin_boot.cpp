// Boot-mode records through the boot image's C++ entry: a definition sets its word and leaves no
// root, a word bound by root index with index -1 finds its slot by symbol, an object keeps its
// stored class id, and the writer's roots come back as the roots of the root block; the records of
// an environment (routines, functions with their flags, shared values, watched objects) come back
// as they were. (The faults, which end the process, are checked on programs by
// tests/zem/boot_image_faults.py.)
#include "services/zembin/boot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
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

// What the boot-image tool writes of the environment, read back through the same entry: each case
// defines zb-* words from the values of evaluated text, loads the image and checks the words.
class ZembinBootRecords : public ZembinBoot {
 protected:
  void load(const std::vector<std::pair<const char*, Cell>>& values, bool snapshot) {
    std::vector<zembin::Definition> defs;
    for (const auto& [name, value] : values)
      defs.push_back({context::add_global_word(symbol::intern(name)), value});
    std::vector<uint8_t> bytes = zembin::write_boot_image({}, defs, snapshot);
    zembin::boot_load(bytes.data(), bytes.size());
  }
  static std::string eval(const char* text) { return test::mold_text(test::eval_text(text)); }
};

TEST_F(ZembinBootRecords, RoutineBindsItsRegistryEntry) {
  const Cell routine = global("get-current-dir");
  ASSERT_TRUE(routine.is(TYPE_ROUTINE));
  load({{"zb-dir", routine}, {"zb-dir-op", test::eval_text("make op! :shift-left")}}, false);
  const Cell loaded = global("zb-dir");
  ASSERT_TRUE(loaded.is(TYPE_ROUTINE));
  EXPECT_EQ(block_head(loaded.fn_more())[MORE_ENTRY].int_value(), block_head(routine.fn_more())[MORE_ENTRY].int_value());
  EXPECT_NE(loaded.fn_spec(), routine.fn_spec());
  EXPECT_EQ(test::mold_text(loaded, MoldFlags{.all = true}), test::mold_text(routine, MoldFlags{.all = true}));
  EXPECT_EQ(eval("zb-dir"), eval("get-current-dir"));
  EXPECT_EQ(eval("1 zb-dir-op 4"), "16");
}

TEST_F(ZembinBootRecords, FunctionKeepsItsFlags) {
  const Cell library = global("to-zem-file");
  ASSERT_TRUE(library.has_flag(kFunctionLibrary));
  const Cell user = test::eval_text("func [x /twice] [either twice [x * 2] [x]]");
  ASSERT_FALSE(user.has_flag(kFunctionLibrary));
  load({{"zb-lib", library}, {"zb-user", user}}, false);
  const Cell lib = global("zb-lib"), mine = global("zb-user");
  ASSERT_TRUE(lib.is(TYPE_FUNCTION));
  ASSERT_TRUE(mine.is(TYPE_FUNCTION));
  EXPECT_TRUE(lib.has_flag(kFunctionLibrary));
  EXPECT_EQ(lib.has_flag(kFunctionPassesExits), library.has_flag(kFunctionPassesExits));
  EXPECT_FALSE(mine.has_flag(kFunctionLibrary));
  EXPECT_EQ(eval("zb-lib {a//b}"), "%a/b");
  EXPECT_EQ(eval("zb-user/twice 21"), "42");
}

TEST_F(ZembinBootRecords, SharedValuesStayShared) {
  test::eval_text("zb-src: make object! [n: 1 list: [a b] bump: func [] [n: n + 1 append list n]]");
  load({{"zb-obj", test::eval_text("zb-src")},
        {"zb-list", test::eval_text("zb-src/list")},
        {"zb-bump", test::eval_text(":zb-src/bump")},
        {"zb-alias", test::eval_text("zb-src/list")}},
       true);
  EXPECT_EQ(eval("same? zb-list zb-alias"), "true");
  EXPECT_EQ(eval("same? zb-list zb-obj/list"), "true");
  EXPECT_EQ(eval("same? zb-obj zb-src"), "false");
  // The function's words are bound to the decoded object, not to the one the image came from.
  EXPECT_EQ(eval("zb-bump zb-bump zb-list"), "[a b 2 3]");
  EXPECT_EQ(eval("zb-obj/n"), "3");
  EXPECT_EQ(eval("zb-src/n"), "1");
}

TEST_F(ZembinBootRecords, ChangeNotificationFiresAfterLoad) {
  const Cell watched = test::eval_text(
      "make object! [x: 1 seen: copy [] on-change*: func [word old new] [append seen reduce [word old new]]]");
  ASSERT_NE(watched.object_record(), 0u);
  load({{"zb-watched", watched}}, true);
  const Cell loaded = global("zb-watched");
  ASSERT_TRUE(loaded.is(TYPE_OBJECT));
  EXPECT_NE(loaded.object_record(), 0u);
  EXPECT_EQ(loaded.object_class(), watched.object_class());
  EXPECT_EQ(eval("zb-watched/x: 5 zb-watched/seen"), "[x 1 5]");
}

}  // namespace
}  // namespace zem
