// Hash tables in series: sizing, the five kinds against models, value hashes, and the collector.
#include "runtime/hashtab.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <unordered_map>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "runtime/casefold.h"
#include "runtime/hashtab_probe.h"
#include "runtime/typed_buffer.h"
#include "runtime/wiring.h"
#include "tests/unit/memory_fixture.h"

namespace zem {
namespace {

using hashtab::FindState;
using hashtab::record;
using testing::append_cell;
using testing::integer_cell;

class HashTableTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::symbols);
  }
};

void mark_table(void* table) { gc::mark_hashtab(*static_cast<NodeId*>(table)); }
void mark_nodes(void* nodes) {
  for (NodeId n : *static_cast<std::vector<NodeId>*>(nodes)) gc::mark_node(n);
}

// Every position find + find_next report for the key, sorted.
std::vector<uint32_t> all_found(NodeId table, const Cell& key, uint32_t op = hashtab::OP_FIND) {
  std::vector<uint32_t> out;
  FindState st;
  for (int64_t p = hashtab::find(table, key, op, &st); p >= 0; p = hashtab::find_next(st))
    out.push_back(static_cast<uint32_t>(p));
  std::sort(out.begin(), out.end());
  return out;
}

NodeId string_series(const std::u32string& text, uint32_t unit) {
  NodeId s = alloc::make_unit_series(text.size(), unit);
  SeriesBuffer* b = series_buffer(s);
  for (size_t i = 0; i < text.size(); i++) unicode::write_unit(b->head_ptr() + i * unit, int(unit), text[i]);
  b->set_length(static_cast<uint32_t>(text.size()));
  return s;
}

TEST_F(HashTableTest, SizingOfNewTables) {
  struct Case {
    uint32_t size;
    hashtab::Kind kind;
    uint32_t buckets, bound;
  };
  const Case cases[] = {
      {0, hashtab::KIND_HASH, 8, 6},
      {3, hashtab::KIND_MAP, 8, 6},
      {4000, hashtab::KIND_WORDS, 16384, 12615},  // big word tables are made for twice the size
      {4000, hashtab::KIND_MAP, 8192, 6307},
      {1000, hashtab::KIND_OWNERS, 2048, 1576},
  };
  for (const auto& c : cases) {
    NodeId t = hashtab::create(c.size, 0, c.kind, 3);
    EXPECT_EQ(record(t)->buckets, c.buckets) << c.size << " kind " << c.kind;
    EXPECT_EQ(record(t)->bound, c.bound) << c.size << " kind " << c.kind;
    EXPECT_EQ(series_buffer(record(t)->keys)->used(), c.buckets * 8);
  }
}

TEST_F(HashTableTest, SameValueThreeTimesSharesOneBucketWithAList) {
  NodeId block = alloc::make_cells(8);
  for (int v : {7, 1, 7, 2, 7}) append_cell(block, integer_cell(v));
  NodeId t = hashtab::create(5, block, hashtab::KIND_HASH);
  EXPECT_EQ(record(t)->count, 3u);  // three distinct keys
  EXPECT_EQ(array::length(record(t)->aux2), 1u);
  EXPECT_EQ(all_found(t, integer_cell(7)), (std::vector<uint32_t>{0, 2, 4}));
  EXPECT_EQ(all_found(t, integer_cell(2)), (std::vector<uint32_t>{3}));
  EXPECT_TRUE(all_found(t, integer_cell(3)).empty());
}

// A kind-0 index kept in step with a block under random edits, against a multimap of value ->
// position. Small value ranges make many duplicates; enough appends force several rebuilds.
TEST_F(HashTableTest, HashIndexRandomEditsAgainstAModel) {
  for (uint32_t seed : {11u, 12u, 13u}) {
    std::mt19937 rng(seed);
    NodeId block = alloc::make_cells(4);
    NodeId t = hashtab::create(1, block, hashtab::KIND_HASH);
    std::vector<int32_t> model;  // the block's values
    auto write_block = [&](uint32_t pos, int32_t v) { block_head(block)[pos] = integer_cell(v); };
    for (int step = 0; step < 3000; step++) {
      int32_t v = static_cast<int32_t>(rng() % 40);
      uint32_t len = static_cast<uint32_t>(model.size());
      switch (rng() % 6) {
        case 0:
        case 1:  // append
          append_cell(block, integer_cell(v));
          model.push_back(v);
          hashtab::insert(t, len);
          break;
        case 2:  // insert in the middle
          if (len == 0) break;
          {
            uint32_t at = rng() % len;
            append_cell(block, integer_cell(0));
            Cell* c = block_head(block);
            std::memmove(c + at + 1, c + at, (len - at) * sizeof(Cell));
            c[at] = integer_cell(v);
            model.insert(model.begin() + at, v);
            if (hashtab::shift_index(t, 1, at, len - at) == 0) {
              hashtab::insert(t, at);
            } else {
              hashtab::clear(t, len + 1);
            }
          }
          break;
        case 3:  // remove a run
          if (len == 0) break;
          {
            uint32_t at = rng() % len, n = 1 + rng() % 3;
            hashtab::remove_range(t, at, n);
            model.erase(model.begin() + at, model.begin() + std::min(len, at + n));
          }
          break;
        case 4:  // overwrite one cell
          if (len == 0) break;
          {
            uint32_t at = rng() % len;
            write_block(at, v);
            model[at] = v;
            hashtab::unindex_position(t, at);
            hashtab::insert(t, at);
          }
          break;
        case 5:  // move a run to another place
          if (len < 4) break;
          {
            uint32_t n = 1 + rng() % 2, from = rng() % (len - n), to = rng() % (len - n);
            std::vector<Cell> run(block_head(block) + from, block_head(block) + from + n);
            std::vector<int32_t> mrun(model.begin() + from, model.begin() + from + n);
            Cell* c = block_head(block);
            std::memmove(c + from, c + from + n, (len - from - n) * sizeof(Cell));
            std::memmove(c + to + n, c + to, (len - n - to) * sizeof(Cell));
            std::copy(run.begin(), run.end(), c + to);
            model.erase(model.begin() + from, model.begin() + from + n);
            model.insert(model.begin() + to, mrun.begin(), mrun.end());
            hashtab::move_range(t, from, to, n);
          }
          break;
      }
      ASSERT_EQ(series_length(block), model.size());
      std::unordered_multimap<int32_t, uint32_t> positions;
      for (uint32_t i = 0; i < model.size(); i++) positions.emplace(model[i], i);
      std::set<int32_t> distinct(model.begin(), model.end());
      ASSERT_EQ(record(t)->count, distinct.size()) << "seed " << seed << " step " << step;
      for (int32_t probe : {v, static_cast<int32_t>(rng() % 40)}) {
        std::vector<uint32_t> expected;
        auto [b, e] = positions.equal_range(probe);
        for (auto it = b; it != e; ++it) expected.push_back(it->second);
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(all_found(t, integer_cell(probe)), expected) << "seed " << seed << " step " << step << " value " << probe;
      }
    }
    EXPECT_GT(record(t)->buckets, 8u);
  }
}

// An equality in the manner of case folding: integers that differ only in their tag (word 3) are
// equal loosely and different strictly; they hash alike (integers hash word 2).
bool tagged_equal(const Cell& a, const Cell& b, uint32_t op) {
  return a.int_value() == b.int_value() &&
         (op == hashtab::OP_FIND || op == hashtab::OP_EQUAL || a.raw_words()[2] == b.raw_words()[2]);
}

TEST_F(HashTableTest, InstalledEqualityGroupsLooselyAndFiltersStrictly) {
  wiring.key_equal = &tagged_equal;
  NodeId block = alloc::make_cells(6);
  const uint32_t tags[] = {0, 1, 0, 2, 1};
  for (uint32_t tag : tags) append_cell(block, Cell{TYPE_INTEGER, 0, 5, tag});
  append_cell(block, Cell{TYPE_INTEGER, 0, 6, 1});
  NodeId t = hashtab::create(6, block, hashtab::KIND_HASH);
  EXPECT_EQ(record(t)->count, 2u);
  EXPECT_EQ(all_found(t, Cell{TYPE_INTEGER, 0, 5, 9}), (std::vector<uint32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(all_found(t, Cell{TYPE_INTEGER, 0, 5, 1}, hashtab::OP_STRICT), (std::vector<uint32_t>{1, 4}));
  EXPECT_TRUE(all_found(t, Cell{TYPE_INTEGER, 0, 5, 9}, hashtab::OP_STRICT).empty());
  EXPECT_TRUE(hashtab::remove_key(t, Cell{TYPE_INTEGER, 0, 5, 0}, hashtab::OP_STRICT));
  EXPECT_EQ(all_found(t, Cell{TYPE_INTEGER, 0, 5, 0}), (std::vector<uint32_t>{1, 3, 4}));
  EXPECT_EQ(all_found(t, Cell{TYPE_INTEGER, 0, 6, 0}), (std::vector<uint32_t>{5}));
  wiring.key_equal = nullptr;
}

// With the compare action as the equality (as at start-up), texts in different buffers are one
// key: case-folded under find, exact under strict equality.
TEST_F(HashTableTest, CompareActionAsTheKeyEquality) {
  registry_init();
  wiring.key_equal = &block::hash_key_equal;
  NodeId block = alloc::make_cells(4);
  for (const char* text : {"abc", "ABC", "\xC5\xBF", "abd"}) append_cell(block, str::make_from_utf8(text));
  NodeId t = hashtab::create(4, block, hashtab::KIND_HASH);
  Cell key = str::make_from_c_text("Abc");
  EXPECT_EQ(all_found(t, key), (std::vector<uint32_t>{0, 1}));
  EXPECT_TRUE(all_found(t, key, hashtab::OP_STRICT).empty());
  EXPECT_EQ(all_found(t, str::make_from_c_text("ABC"), hashtab::OP_STRICT), (std::vector<uint32_t>{1}));
  EXPECT_EQ(all_found(t, str::make_from_c_text("s")), (std::vector<uint32_t>{2}));  // long s folds to S
  EXPECT_TRUE(all_found(t, Cell{TYPE_WORD, 0, symbol::intern("abc"), 0}).empty());  // types differ
  wiring.key_equal = nullptr;
}

TEST_F(HashTableTest, MapKeysAgainstAModel) {
  std::mt19937 rng(5);
  NodeId block = alloc::make_cells(2);
  NodeId t = hashtab::create(0, block, hashtab::KIND_MAP);
  std::unordered_map<int32_t, uint32_t> model;  // key -> position of its key cell
  std::unordered_map<int32_t, bool> removed;
  for (int step = 0; step < 5000; step++) {
    int32_t k = static_cast<int32_t>(rng() % 300);
    int64_t pos = hashtab::find(t, integer_cell(k), hashtab::OP_STRICT);
    auto it = model.find(k);
    ASSERT_EQ(pos >= 0, it != model.end()) << step;
    if (pos >= 0) {
      ASSERT_EQ(uint32_t(pos), it->second);
    }
    if (rng() % 3 == 0) {
      if (pos >= 0 && !removed[k]) {
        ASSERT_TRUE(hashtab::remove_key(t, integer_cell(k)));
        removed[k] = true;
        EXPECT_EQ(block_head(block)[pos + 1].type(), TYPE_NONE_ID);
      }
    } else if (pos < 0) {
      uint32_t at = series_length(block);
      append_cell(block, integer_cell(k));
      append_cell(block, integer_cell(-k));
      hashtab::insert(t, at);
      model[k] = at;
    } else if (removed[k]) {  // revived in place
      block_head(block)[pos + 1] = integer_cell(-k);
      record(t)->count++;
      removed[k] = false;
    }
    uint32_t live = 0;
    for (auto& [key, p] : model) live += removed[key] ? 0 : 1;
    ASSERT_EQ(record(t)->count, live);
  }
}

TEST_F(HashTableTest, MapMatchesWordKindsAsSetWords) {
  uint32_t a = symbol::intern("a"), big_a = symbol::intern("A");
  NodeId block = alloc::make_cells(4);
  append_cell(block, Cell{TYPE_SET_WORD, 0, a, 0});
  append_cell(block, integer_cell(1));
  NodeId t = hashtab::create(2, block, hashtab::KIND_MAP);
  for (TypeId type : {TYPE_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_SET_WORD})
    EXPECT_EQ(hashtab::find(t, Cell{type, 0, big_a, 0}), 0) << int(type);
  EXPECT_EQ(hashtab::find(t, Cell{TYPE_WORD, 0, big_a, 0}, hashtab::OP_STRICT), -1);
  EXPECT_EQ(hashtab::find(t, Cell{TYPE_REFINEMENT, 0, a, 0}), -1);  // another kind of value
}

TEST_F(HashTableTest, FullOfDeletedBucketsRebuildsWithoutGrowing) {
  NodeId block = alloc::make_cells(1);
  uint32_t base = symbol::intern("w0");
  NodeId t = hashtab::create(0, block, hashtab::KIND_WORDS);  // 8 buckets, bound 6
  for (int round = 0; round < 50; round++) {
    uint32_t sym = symbol::intern("w" + std::to_string(round));
    Cell word{TYPE_WORD, 0, sym, 0};
    append_cell(block, word);
    hashtab::insert(t, series_length(block) - 1);
    ASSERT_EQ(hashtab::find_word(t, sym, false), int64_t(series_length(block) - 1));
    ASSERT_TRUE(hashtab::remove_key(t, word));
  }
  EXPECT_EQ(record(t)->buckets, 8u);
  EXPECT_EQ(record(t)->count, 0u);
  EXPECT_EQ(hashtab::find_word(t, base, false), -1);
}

TEST_F(HashTableTest, WordTableFindsCaseVariantsThroughTheCanonicalSymbol) {
  uint32_t print = symbol::intern("print"), Print = symbol::intern("Print"), other = symbol::intern("probe");
  NodeId block = alloc::make_cells(2);
  append_cell(block, Cell{TYPE_WORD, 0, print, 0});
  append_cell(block, Cell{TYPE_WORD, 0, other, 0});
  NodeId t = hashtab::create(2, block, hashtab::KIND_WORDS);
  EXPECT_EQ(hashtab::find_word(t, Print, true), 0);
  EXPECT_EQ(hashtab::find_word(t, Print, false), -1);
  EXPECT_EQ(hashtab::find_word(t, print, false), 0);
  EXPECT_EQ(hashtab::find_word(t, other, true), 1);
}

TEST_F(HashTableTest, RecordsAgainstAModelAcrossCollections) {
  gc::set_stress(1);  // every collection moves every buffer
  NodeId t = hashtab::create(4, 0, hashtab::KIND_RECORDS, 2);
  gc::ScopedRoot root(&mark_table, &t);
  std::mt19937 rng(9);
  std::vector<NodeId> keys;
  for (int i = 0; i < 200; i++) keys.push_back(i % 2 ? alloc::make_bytes(16) : alloc::make_cells(1));
  gc::ScopedRoot keep(&mark_nodes, &keys);  // keys of removed records must stay alive too
  std::unordered_map<NodeId, int32_t> model;
  for (int step = 0; step < 4000; step++) {
    NodeId key = keys[rng() % keys.size()];
    if (rng() % 3 == 0) {
      Cell* data = hashtab::remove_ptr_record(t, key);
      ASSERT_EQ(data != nullptr, model.erase(key) == 1);
    } else {
      Cell* data = hashtab::put_ptr_record(t, key);
      if (!model.count(key)) {
        ASSERT_EQ(data[0].type(), TYPE_UNSET);
        ASSERT_EQ(data[1].type(), TYPE_UNSET);
        data[1] = integer_cell(step);
        model[key] = step;
      }
      ASSERT_EQ(hashtab::record_head(data)->key, key);
    }
    if (step % 500 == 0) gc::collect();  // the keys stay alive through the records
    ASSERT_EQ(record(t)->count, model.size());
    NodeId probe = keys[rng() % keys.size()];
    Cell* found = hashtab::find_ptr(t, probe);
    ASSERT_EQ(found != nullptr, model.count(probe) == 1);
    if (found) {
      ASSERT_EQ(found[1].int_value(), model[probe]);
    }
  }
  // Removed records do not pile up: a new record takes the place of the removed one whose bucket it
  // reuses, and rebuilds keep only the live ones, so there is one record per used bucket.
  EXPECT_EQ(series_length(record(t)->data), record(t)->used * 3);
  EXPECT_LT(record(t)->used, record(t)->bound);
}

TEST_F(HashTableTest, OwnerRecordsAreWeak) {
  gc::set_stress(1);
  NodeId t = hashtab::create(8, 0, hashtab::KIND_OWNERS, 3);
  static NodeId table;
  table = t;
  gc::ScopedRoot root(&mark_table, &table);
  gc::WeakFn purge = [] { hashtab::purge_dead_records(table); };
  gc::add_weak_pass(purge);
  NodeId kept = alloc::make_cells(1), dropped = alloc::make_bytes(4), owner = alloc::make_cells(1),
         orphan = alloc::make_cells(1), value = alloc::make_bytes(4);
  std::vector<NodeId> roots{kept, owner, orphan};
  gc::ScopedRoot keep(&mark_nodes, &roots);
  Cell* d = hashtab::put_ptr_record(t, kept);
  hashtab::record_head(d)->owner = owner;
  d[0] = Cell{TYPE_BINARY, 0, value, 0};  // held only by the record
  hashtab::put_ptr_record(t, dropped);
  NodeId dead_owner = alloc::make_cells(1);
  hashtab::record_head(hashtab::put_ptr_record(t, orphan))->owner = dead_owner;
  gc::collect();
  gc::remove_weak_pass(purge);
  EXPECT_EQ(record(t)->count, 1u);
  ASSERT_NE(hashtab::find_ptr(t, kept), nullptr);
  EXPECT_EQ(hashtab::find_ptr(t, dropped), nullptr);
  EXPECT_EQ(hashtab::find_ptr(t, orphan), nullptr);
  EXPECT_TRUE(node_live(value));  // a surviving record's cells were marked
}

TEST_F(HashTableTest, IndexSurvivesCollectionsThatMoveEveryBuffer) {
  gc::set_stress(1);
  NodeId block = alloc::make_cells(4);
  for (int i = 0; i < 300; i++) append_cell(block, integer_cell(i % 100));
  NodeId t = hashtab::create(300, block, hashtab::KIND_HASH);
  gc::ScopedRoot root(&mark_table, &t);
  alloc::make_cells(100);  // garbage below, so buffers slide
  gc::collect();
  gc::collect();
  for (int v = 0; v < 100; v++)
    ASSERT_EQ(all_found(t, integer_cell(v)), (std::vector<uint32_t>{uint32_t(v), uint32_t(v + 100), uint32_t(v + 200)}));
}

// Buckets keep hashes 0 and 1 as 2 and 3, so these integers (hashes 0, 2 and 1, 3) meet in pairs of
// equal tags from the same first buckets: a walk must still tell them apart by their cells, through
// removals, re-insertions, growth and collections that move every buffer.
TEST_F(HashTableTest, KeysSharingABucketTagStayApart) {
  const int32_t keys[] = {0, 2, 1, 3};
  for (int32_t k : keys) ASSERT_EQ(hashtab::hash_value(integer_cell(k)), uint32_t(k));
  gc::set_stress(1);
  for (hashtab::Kind kind : {hashtab::KIND_HASH, hashtab::KIND_MAP}) {
    uint32_t step = kind == hashtab::KIND_MAP ? 2 : 1;
    NodeId block = alloc::make_cells(8);
    for (int32_t k : keys) {
      append_cell(block, integer_cell(k));
      if (step == 2) append_cell(block, integer_cell(1));
    }
    NodeId t = hashtab::create(4, block, kind);
    gc::ScopedRoot root(&mark_table, &t);
    auto expect_found = [&](const char* when, int removed) {
      for (int i = 0; i < 4; i++)
        EXPECT_EQ(hashtab::find(t, integer_cell(keys[i])), i == removed ? -1 : int64_t(i) * step)
            << when << " kind " << kind << " key " << keys[i];
    };
    expect_found("made", -1);
    ASSERT_TRUE(hashtab::remove_key(t, integer_cell(keys[0])));
    int gone = kind == hashtab::KIND_MAP ? -1 : 0;  // a removed map entry keeps its key's bucket
    expect_found("removed", gone);
    gc::collect();
    expect_found("collected", gone);
    if (kind == hashtab::KIND_MAP) {
      block::head_of(block::value_of(block))[1] = integer_cell(1);  // the entry revives in place
    } else {
      hashtab::insert(t, 0);
    }
    for (int32_t i = 0; i < 200; i++) {  // growth re-places every bucket by its tag
      append_cell(block, integer_cell(1000 + i));
      if (step == 2) append_cell(block, integer_cell(1));
      hashtab::insert(t, series_length(block) - step);
    }
    gc::collect();
    expect_found("grown", -1);
    EXPECT_EQ(hashtab::find(t, integer_cell(5)), -1);
  }
}

TEST_F(HashTableTest, ResetCopyAndClear) {
  NodeId block = alloc::make_cells(4);
  for (int v : {1, 2, 2, 3}) append_cell(block, integer_cell(v));
  NodeId t = hashtab::create(4, block, hashtab::KIND_HASH);
  NodeId c = hashtab::copy(t);
  hashtab::reset(t);
  EXPECT_EQ(record(t)->count, 0u);
  EXPECT_TRUE(all_found(t, integer_cell(2)).empty());
  EXPECT_NE(record(c)->data, block);
  EXPECT_EQ(all_found(c, integer_cell(2)), (std::vector<uint32_t>{1, 2}));
  hashtab::clear(t, 100);
  EXPECT_EQ(record(t)->buckets, 256u);
  EXPECT_EQ(all_found(t, integer_cell(2)), (std::vector<uint32_t>{1, 2}));
}

TEST_F(HashTableTest, ShiftIndexDefersHugeShiftsToARebuild) {
  NodeId block = alloc::make_cells(4);
  append_cell(block, integer_cell(5));
  NodeId t = hashtab::create(1, block, hashtab::KIND_HASH);
  EXPECT_EQ(hashtab::shift_index(t, 1, 0, 30001), 1);
  EXPECT_EQ(all_found(t, integer_cell(5)), (std::vector<uint32_t>{0}));  // untouched
}

TEST_F(HashTableTest, TypedBuffers) {
  NodeId b = array::make(2, 4);
  for (int32_t v : {10, 20, 30, 40, 50}) array::append_int(b, v);  // grows past its capacity
  array::insert_int(b, 1, 15);
  EXPECT_EQ(array::length(b), 6u);
  std::vector<int32_t> got;
  for (uint32_t i = 1; i <= array::length(b); i++) got.push_back(array::pick_int(b, i));
  EXPECT_EQ(got, (std::vector<int32_t>{10, 15, 20, 30, 40, 50}));
  EXPECT_EQ(array::find_int(b, 30), 12);
  EXPECT_EQ(array::find_int(b, 31), -1);
  EXPECT_TRUE(array::remove_u32(b, 15));
  EXPECT_FALSE(array::remove_u32(b, 15));
  array::remove_bytes(b, 12, 100);  // cut at the tail
  EXPECT_EQ(array::length(b), 3u);
  EXPECT_EQ(array::pick_int(b, 3), 30);
  array::set_length(b, 2);
  EXPECT_EQ(array::length(b), 1u);
  NodeId bytes = array::make(0, 1);
  array::append_bytes(bytes, "abc", 3);
  array::append_byte(bytes, 'd');
  EXPECT_EQ(array::pick_byte(bytes, 4), 'd');
  EXPECT_EQ(array::length(array::copy(bytes)), 4u);
}

TEST_F(HashTableTest, ValueHashes) {
  auto h = [](const Cell& c) { return hashtab::hash_value(c); };
  EXPECT_EQ(h(Cell{TYPE_NONE, 0, 0, 0}), uint32_t(-1));
  EXPECT_EQ(h(Cell{TYPE_UNSET, 0, 0, 0}), uint32_t(-2));

  // 0.0 and -0.0 are equal, so they hash alike; float payloads sit in words 2 and 3.
  auto float_cell = [](double d, TypeId t = TYPE_FLOAT) {
    Cell c{t, 0, 0, 0};
    c.set_float_payload(d);
    return c;
  };
  EXPECT_EQ(h(float_cell(0.0)), h(float_cell(-0.0)));
  EXPECT_EQ(h(float_cell(0.0, TYPE_PERCENT)), h(float_cell(-0.0, TYPE_PERCENT)));
  EXPECT_NE(h(float_cell(1.0)), h(float_cell(-1.0)));

  // Words hash by canonical symbol.
  uint32_t abc = symbol::intern("abc"), ABC = symbol::intern("ABC");
  EXPECT_EQ(h(Cell{TYPE_WORD, 0, abc, 0}), h(Cell{TYPE_GET_WORD, 7, ABC, 3}));

  // Money keeps only its type and sign from the header.
  EXPECT_EQ(h(Cell{TYPE_MONEY | 0x3F00u, 1, 2, 3}), h(Cell{TYPE_MONEY, 1, 2, 3}));
  EXPECT_NE(h(Cell{TYPE_MONEY | (1u << 14), 1, 2, 3}), h(Cell{TYPE_MONEY, 1, 2, 3}));
}

TEST_F(HashTableTest, StringHashes) {
  struct Case {
    std::u32string a, b;
    bool case_sensitive, same;
  };
  const Case cases[] = {
      {U"Hello", U"hELLO", false, true},
      {U"Hello", U"hELLO", true, false},
      {U"\u017F", U"S", false, true},  // long s folds to S, as string comparison folds
      {U"\u017F", U"s", false, true},
      {U"stra\u00DFe", U"STRA\u00DFE", false, true},
      {U"\u00E9t\u00E9", U"\u00C9T\u00C9", false, true},
      {U"ab", U"abc", false, false},
  };
  for (const auto& c : cases) {
    Cell x{TYPE_STRING, 0, string_series(c.a, 4), 0}, y{TYPE_STRING, 0, string_series(c.b, 4), 0};
    EXPECT_EQ(hashtab::hash_string(x, c.case_sensitive) == hashtab::hash_string(y, c.case_sensitive), c.same);
  }
  // The same text in 1-, 2- and 4-byte units, and from a head index.
  uint32_t h1 = hashtab::hash_string(Cell{TYPE_STRING, 0, string_series(U"caf\u00E9", 1), 0}, false);
  EXPECT_EQ(h1, hashtab::hash_string(Cell{TYPE_STRING, 0, string_series(U"caf\u00E9", 2), 0}, false));
  EXPECT_EQ(h1, hashtab::hash_string(Cell{TYPE_FILE, 0, string_series(U"caf\u00E9", 4), 0}, false));
  EXPECT_EQ(h1, hashtab::hash_string(Cell{TYPE_STRING, 2, string_series(U"xxcaf\u00E9", 1), 0}, false));
  // A slice hashes only its first w3 characters.
  EXPECT_EQ(h1, hashtab::hash_string(Cell{56, 0, string_series(U"caf\u00E9 au lait", 1), 4}, false));
  // Case-sensitively the text is the code points themselves: one 32-bit block each.
  const uint32_t blocks[] = {'c', 'a', 'f', 0xE9};
  EXPECT_EQ(hashtab::hash_string(Cell{TYPE_STRING, 0, string_series(U"caf\u00E9", 1), 0}, true),
            hashtab::hash_bytes(blocks, sizeof blocks));
}

}  // namespace
}  // namespace zem
