// Symbol interning: exact and case-insensitive, canonical ids and aliases, lazy name strings.
#include "datatypes/symbol.h"

#include <string>
#include <vector>

#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "runtime/casefold.h"
#include "runtime/hashtab.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

class SymbolTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::symbols);
  }
};

TEST_F(SymbolTest, ExactInterning) {
  uint32_t print = symbol::intern("print");
  EXPECT_EQ(print, 1u);
  EXPECT_EQ(symbol::intern_c_name("print"), print);  // the second call adds nothing
  EXPECT_EQ(symbol::count(), 1u);
  EXPECT_EQ(symbol::alias_of(print), -1);

  uint32_t Print = symbol::intern("Print");
  uint32_t PRINT = symbol::intern("PRINT");
  EXPECT_EQ(Print, 2u);
  EXPECT_EQ(PRINT, 3u);
  for (uint32_t id : {print, Print, PRINT}) EXPECT_EQ(symbol::canonical_id(id), print);
  EXPECT_EQ(symbol::alias_of(Print), int32_t(print));
  EXPECT_EQ(symbol::alias_of(PRINT), int32_t(print));
  EXPECT_EQ(symbol::intern("Print"), Print);
  EXPECT_EQ(symbol::name(PRINT), "PRINT");
  EXPECT_EQ(symbol::find("pRINT"), 0u);
  EXPECT_EQ(symbol::find("Print"), Print);
}

TEST_F(SymbolTest, NamesCompareByLengthAndBytes) {
  uint32_t ab = symbol::intern("ab"), abc = symbol::intern("abc"), empty = symbol::intern("");
  EXPECT_NE(ab, abc);
  EXPECT_EQ(symbol::alias_of(abc), -1);
  EXPECT_EQ(symbol::intern(std::string_view("ab\0c", 4)), 4u);  // bytes after a NUL count
  EXPECT_EQ(symbol::intern(""), empty);
  // Only ASCII letters fold: a non-ASCII case pair gives two canonical symbols.
  uint32_t e1 = symbol::intern("\xC3\xA9t\xC3\xA9"), e2 = symbol::intern("\xC3\x89T\xC3\x89");
  EXPECT_NE(e1, e2);
  EXPECT_EQ(symbol::alias_of(e2), -1);
  uint32_t e3 = symbol::intern("\xC3\xA9T\xC3\xA9");
  EXPECT_EQ(symbol::canonical_id(e3), e1);
}

TEST_F(SymbolTest, CaseInsensitiveInterning) {
  uint32_t top = symbol::intern("top");
  uint32_t n = symbol::count();
  EXPECT_EQ(symbol::intern_c_name_nocase("TOP"), top);
  EXPECT_EQ(symbol::count(), n);
  uint32_t pen = symbol::intern_c_name_nocase("PEN");
  EXPECT_EQ(pen, n + 1);
  EXPECT_EQ(symbol::alias_of(pen), -1);
  EXPECT_EQ(symbol::name(pen), "PEN");
  EXPECT_EQ(symbol::intern("pen"), pen + 1);  // exact interning then finds the variant
  EXPECT_EQ(symbol::canonical_id(pen + 1), pen);
}

TEST_F(SymbolTest, ManyNamesAcrossGrowthAndCollections) {
  gc::set_stress(1);
  std::vector<uint32_t> ids;
  for (int i = 0; i < 20000; i++) {
    ids.push_back(symbol::intern("word-" + std::to_string(i)));
    if (i % 5000 == 0) gc::collect();
  }
  for (int i = 0; i < 20000; i += 7) ids.push_back(symbol::intern("WORD-" + std::to_string(i)));
  gc::collect();
  EXPECT_GT(hashtab::record(symbol_state.index)->buckets, 16384u);
  for (int i = 0; i < 20000; i++) {
    std::string name = "word-" + std::to_string(i);
    ASSERT_EQ(symbol::intern(name), uint32_t(i + 1));
    ASSERT_EQ(symbol::name(i + 1), name);
  }
  // Every alias names a canonical symbol, whichever variant a probe meets first.
  for (int i = 0; i < 20000; i += 7) {
    uint32_t v = symbol::intern("Word-" + std::to_string(i));
    ASSERT_EQ(symbol::canonical_id(v), uint32_t(i + 1));
    ASSERT_EQ(symbol::alias_of(symbol::canonical_id(v)), -1);
  }
}

TEST_F(SymbolTest, NameStringsAreMadeOnDemandAndKept) {
  gc::set_stress(1);
  uint32_t ascii = symbol::intern("hello"), wide = symbol::intern("\xE2\x82\xAC" "uro");
  EXPECT_EQ(symbol::cell(ascii)->symbol_string(), 0u);
  Cell* c = symbol::cell_for_id(ascii);
  NodeId s = c->symbol_string();
  ASSERT_NE(s, 0u);
  gc::collect();
  EXPECT_EQ(symbol::cell_for_id(ascii)->symbol_string(), s);  // the same string again, kept by the table
  const SeriesBuffer* b = series_buffer(s);
  EXPECT_EQ(b->unit(), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b->head_ptr()), b->length()), "hello");
  const SeriesBuffer* w = series_buffer(symbol::ensure_name_string(wide));
  ASSERT_EQ(w->unit(), 2u);
  ASSERT_EQ(w->length(), 4u);
  EXPECT_EQ(w->head_ptr()[0] | w->head_ptr()[1] << 8, 0x20AC);
  // A string's text interns as its UTF-8 name.
  EXPECT_EQ(symbol::intern_string(testing::block_cell(symbol::ensure_name_string(wide), TYPE_STRING)), wide);
  Cell from_second = testing::block_cell(s, TYPE_STRING);
  from_second.set_head_index(1);
  EXPECT_EQ(symbol::intern_string(from_second), symbol::intern("ello"));
}

// symbol! compares its names as text, through its registered handler, whether the cell is the
// table's own or a copy of it.
TEST_F(SymbolTest, SymbolsCompareTheirNamesAsText) {
  registry_init();
  struct Case {
    const char* a;
    const char* b;
    CompareOp op;
    int32_t expect;
  };
  const Case cases[] = {
      {"print", "print", COMP_EQUAL, 0},
      {"print", "Print", COMP_EQUAL, 0},
      {"print", "Print", COMP_STRICT_EQUAL, 1},
      {"print", "Print", COMP_SORT, 0},
      {"print", "Print", COMP_CASE_SORT, 1},
      {"abc", "abd", COMP_LESSER, -1},
      {"ab", "abc", COMP_LESSER, -1},
      {"ab", "abc", COMP_EQUAL, 1},
      {"b", "abc", COMP_GREATER, 1},
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", COMP_EQUAL, 0},  // two symbols, one text
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", COMP_STRICT_EQUAL, 1},
      {"print", "print", COMP_SAME, 0},
      {"print", "Print", COMP_SAME, -1},
  };
  CompareHandler h = compare_handler(TYPE_SYMBOL);
  ASSERT_NE(h, nullptr);
  for (const Case& c : cases) {
    uint32_t a = symbol::intern(c.a), b = symbol::intern(c.b);
    EXPECT_EQ(h(*symbol::cell(a), *symbol::cell(b), c.op), c.expect) << c.a << " " << c.b << " " << c.op;
    Cell copy = *symbol::cell(a);
    EXPECT_EQ(h(copy, *symbol::cell(b), c.op), c.expect) << c.a << " " << c.b << " " << c.op;
  }
  EXPECT_NE(symbol::cell(symbol::intern("print"))->symbol_string(), 0u);  // the table keeps the name string
  Cell number = make_integer(1);
  EXPECT_EQ(h(*symbol::cell(symbol::intern("print")), number, COMP_EQUAL), kCannotCompare);
}

// A symbol gives its name to the bulk copy of text; its name is never written into.
TEST_F(SymbolTest, SymbolNamesAsTextSources) {
  registry_init();
  uint32_t id = symbol::intern("h\xC3\xA9llo");
  Cell s = str::make_from_c_text("x");
  Cell sym = *symbol::cell(id);
  str::concatenate(s, sym, -1, 0, false, str::ConcatMode::append);
  str::concatenate(s, sym, 2, 1, true, str::ConcatMode::insert);
  EXPECT_EQ(str::to_std_string(s), "xh\xC3\xA9h\xC3\xA9llo");
  Cell target = *symbol::cell(id);
  EXPECT_EQ(test::raised([&] { str::concatenate(target, s, -1, 0, false, str::ConcatMode::append); }),
            Err::script_protected);
  EXPECT_EQ(symbol::name(id), "h\xC3\xA9llo");
  EXPECT_EQ(str::to_std_string(symbol::name_string_of(target)), "h\xC3\xA9llo");
}

}  // namespace
}  // namespace zem
