// The tracked C heap: list order through alloc, realloc and free, and the heap report.
#include "runtime/c_heap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/startup.h"
#include "services/output.h"

namespace zem {
namespace {

std::vector<void*> blocks() {
  std::vector<void*> out;
  for (auto* h = cheap::heap_state.first; h; h = h->next) out.push_back(h + 1);
  return out;
}

// Links are consistent in both directions.
void expect_linked() {
  cheap::BlockHeader* prev = nullptr;
  for (auto* h = cheap::heap_state.first; h; h = h->next) {
    EXPECT_EQ(h->prev, prev);
    prev = h;
  }
  EXPECT_EQ(cheap::heap_state.last, prev);
}

class CHeap : public testing::Test {
 protected:
  void SetUp() override { cheap::free_all(); }
  void TearDown() override { cheap::free_all(); }
};

TEST_F(CHeap, AllocFreeKeepsOrderAndIgnoresForeignAddresses) {
  void* a = cheap::alloc(10);
  void* b = cheap::alloc_zeroed(100);
  void* c = cheap::alloc(0);
  EXPECT_EQ(blocks(), (std::vector<void*>{a, b, c}));
  for (int i = 0; i < 100; ++i) EXPECT_EQ(static_cast<char*>(b)[i], 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);

  int local = 0;
  cheap::free(&local);  // never allocated here
  cheap::free(nullptr);
  EXPECT_EQ(blocks(), (std::vector<void*>{a, b, c}));

  cheap::free(b);  // middle
  EXPECT_EQ(blocks(), (std::vector<void*>{a, c}));
  expect_linked();
  cheap::free(a);  // first
  cheap::free(c);  // last
  EXPECT_EQ(cheap::heap_state.first, nullptr);
  EXPECT_EQ(cheap::heap_state.last, nullptr);
}

TEST_F(CHeap, ReallocInTheMiddleKeepsOrderAndContent) {
  void* a = cheap::alloc(8);
  auto* b = static_cast<char*>(cheap::alloc(8));
  void* c = cheap::alloc(8);
  for (int i = 0; i < 8; ++i) b[i] = static_cast<char>('a' + i);
  auto* b2 = static_cast<char*>(cheap::realloc(b, 1 << 20));  // large enough to move
  EXPECT_EQ(blocks(), (std::vector<void*>{a, b2, c}));
  EXPECT_EQ(std::string(b2, 8), "abcdefgh");
  EXPECT_EQ(cheap::block_size(b2), 1u << 20);
  expect_linked();

  void* c2 = cheap::realloc(c, 4096);  // last block: the list's end follows it
  EXPECT_EQ(blocks(), (std::vector<void*>{a, b2, c2}));
  expect_linked();

  EXPECT_EQ(cheap::realloc(b2, 0), nullptr);  // size 0 frees
  EXPECT_EQ(blocks(), (std::vector<void*>{a, c2}));
  void* d = cheap::realloc(nullptr, 5);  // null allocates at the end
  EXPECT_EQ(blocks(), (std::vector<void*>{a, c2, d}));
}

TEST_F(CHeap, FreeAllEmptiesTheListAndANewBlockIsItsOnlyOne) {
  for (int i = 0; i < 5; ++i) cheap::alloc(32);
  cheap::free_all();
  EXPECT_EQ(cheap::block_count(), 0u);
  void* a = cheap::alloc(1);
  EXPECT_EQ(blocks(), (std::vector<void*>{a}));
  expect_linked();
}

TEST_F(CHeap, DumpReportListsAskedAndRealSizes) {
  stdio::init();
  FILE* f = std::tmpfile();
  stdio::set_handle(fileno(f));
  cheap::alloc(10);
  cheap::alloc(100);
  cheap::dump_report();
  stdio::set_handle(1);
  std::string out(4096, '\0');
  out.resize(pread(fileno(f), out.data(), out.size(), 0));
  std::fclose(f);
  const auto h = cheap::kHeaderSize;
  EXPECT_EQ(out, "-- Heap-allocations --\nAsked   Real\n10\t" + std::to_string(10 + h) + "\n100\t" +
                     std::to_string(100 + h) + "\n-- Sum: " + std::to_string(110 + 2 * h) +
                     " --\n");
}

TEST(CHeapDeath, ExhaustedMemoryEndsInTheOutOfMemoryReport) {
  EXPECT_EXIT(
      {
        platform::install_crash_handlers();
        cheap::alloc(SIZE_MAX - 8);
      },
      testing::ExitedWithCode(94), "\\*\\*\\* Runtime Error 94: out of memory\n\\*\\*\\* at: 00000000h");
}

}  // namespace
}  // namespace zem
