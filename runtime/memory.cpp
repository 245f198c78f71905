// The memory manager: nodes, series frames, big and heap series, growth and release.
#include "runtime/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/c_heap.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "services/os/services.h"

#if defined(ZEM_SANITIZE)
#include <sanitizer/asan_interface.h>
#define ZEM_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define ZEM_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define ZEM_POISON(p, n) ((void)(p), (void)(n))
#define ZEM_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace zem {

MemoryState memory_state;

namespace {

MemoryState& M = memory_state;
// Outside MemoryState: the registration outlives a release and a new init.
uint32_t* move_watch = nullptr;

inline void note_move() {
  if (move_watch) *move_watch = 0;
}

constexpr size_t kPageSize = 4096;
constexpr uint64_t kMinCollectThreshold = 4u << 20;
constexpr size_t kHugePageAdvice = 4u << 20;
// Freed big blocks stay mapped up to this much (or the live bytes, when more), so a program that
// builds and drops big series does not fault in and zero fresh pages for each one.
constexpr uint64_t kSpareLimit = 64u << 20;
// Stress mode keeps the memory it left inaccessible up to this much address space.
constexpr uint64_t kQuarantineLimit = 1ull << 30;

inline uint64_t round16(uint64_t n) { return (n + 15) & ~uint64_t{15}; }
inline size_t round_page(size_t n) { return (n + kPageSize - 1) & ~(kPageSize - 1); }

inline SeriesBuffer* free_link(uint32_t next) {
  return reinterpret_cast<SeriesBuffer*>((uintptr_t{next} << 1) | 1);
}
inline bool is_free_link(const SeriesBuffer* slot) { return (reinterpret_cast<uintptr_t>(slot) & 1) != 0; }
inline uint32_t free_link_next(const SeriesBuffer* slot) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(slot) >> 1);
}

uint8_t* os_alloc(size_t size) {
  void* p = os::virtual_alloc(size, false);
  if (!p) fire(Err::internal_no_memory);
  M.os_bytes += size;
  return static_cast<uint8_t*>(p);
}

void os_free(uint8_t* block, size_t size) {
  M.os_bytes -= size;
  ZEM_UNPOISON(block, size);
  if (!os::virtual_free(block, size)) fire(Err::internal_wrong_mem);
}

// Stress mode: memory that live buffers left stays mapped but inaccessible (and costs no physical
// memory), so a stale pointer into it faults instead of reading plausible data.
void quarantine(uint8_t* block, size_t size) {
  M.os_bytes -= size;
  ZEM_UNPOISON(block, size);
  madvise(block, size, MADV_DONTNEED);
  mprotect(block, size, PROT_NONE);
  M.quarantine.push_back({block, size});
  M.quarantine_bytes += size;
  size_t drop = 0;
  while (M.quarantine_bytes > kQuarantineLimit && drop < M.quarantine.size()) {
    munmap(M.quarantine[drop].block, M.quarantine[drop].block_size);
    M.quarantine_bytes -= M.quarantine[drop].block_size;
    ++drop;
  }
  M.quarantine.erase(M.quarantine.begin(), M.quarantine.begin() + static_cast<ptrdiff_t>(drop));
}

void note_carved(uint64_t bytes) {
  M.bytes_since_collect += bytes;
  if (M.bytes_since_collect >= M.collect_threshold) gc::request();
}

// ---- Node frames -------------------------------------------------------------------------------

void thread_node_frame(uint32_t k) {
  NodeFrame& f = M.node_frames[k];
  uint32_t first = k * kNodeFrameCapacity;
  uint32_t last = first + kNodeFrameCapacity - 1;
  for (uint32_t i = first; i < last; ++i) M.nodes[i] = free_link(i + 1);
  M.nodes[last] = free_link(0);
  f = NodeFrame{};
  f.present = true;
  f.stamp = gc::collector_state.series_cycles;
  f.free_head = first;
  if (k == 0) {  // node 0 is never handed out
    M.nodes[0] = nullptr;
    f.free_head = 1;
    f.used = 1;
  }
}

uint32_t new_node_frame() {
  uint32_t k = 0;
  while (k < M.node_frames.size() && M.node_frames[k].present) ++k;
  if (k == M.node_frames.size()) {
    if ((k + 1) * uint64_t{kNodeFrameCapacity} > kMaxNodes) fire(Err::internal_no_memory);
    M.node_frames.emplace_back();
  }
  thread_node_frame(k);
  return k;
}

void release_node_frame(uint32_t k) {
  // Give the slot pages back; the index range stays reserved for a later frame.
  uintptr_t from = reinterpret_cast<uintptr_t>(&M.nodes[k * kNodeFrameCapacity]);
  uintptr_t to = reinterpret_cast<uintptr_t>(&M.nodes[(k + 1) * kNodeFrameCapacity]);
  uintptr_t a = (from + kPageSize - 1) & ~(kPageSize - 1);
  uintptr_t b = to & ~(kPageSize - 1);
  if (b > a) madvise(reinterpret_cast<void*>(a), b - a, MADV_DONTNEED);
  M.node_frames[k] = NodeFrame{};
}

// ---- Series frames -----------------------------------------------------------------------------

uint32_t new_series_frame(uint32_t size) {
  uint8_t* base = os_alloc(size);
  ZEM_POISON(base, size);
  SeriesFrame frame{base, base, base + size};
  auto& frames = M.series_frames;
  auto at = std::lower_bound(frames.begin(), frames.end(), base,
                             [](const SeriesFrame& f, uint8_t* b) { return f.base < b; });
  uint32_t index = static_cast<uint32_t>(at - frames.begin());
  frames.insert(at, frame);
  if (frames.size() > 1 && M.current_series_frame >= index) ++M.current_series_frame;
  return index;
}

// Room for `need` bytes in a series frame: the current frame, else the first frame in address
// order with room, else a new frame.
uint8_t* carve(uint32_t need) {
  auto& frames = M.series_frames;
  if (M.current_series_frame < frames.size()) {
    SeriesFrame& f = frames[M.current_series_frame];
    if (static_cast<size_t>(f.end - f.heap) >= need) {
      uint8_t* p = f.heap;
      f.heap += need;
      return p;
    }
  }
  uint32_t index = 0;
  while (index < frames.size() && static_cast<size_t>(frames[index].end - frames[index].heap) < need) ++index;
  if (index == frames.size()) {
    uint32_t size = M.next_frame_size;
    if (need >= size) size = kMaxFrameSize;
    if (M.next_frame_size < kMaxFrameSize) M.next_frame_size *= 2;
    index = new_series_frame(size);
  }
  M.current_series_frame = index;
  SeriesFrame& f = frames[index];
  uint8_t* p = f.heap;
  f.heap += need;
  return p;
}

// The smallest spare block that holds `size` bytes and wastes no more than it holds, or null.
uint8_t* take_spare(size_t size) {
  auto& S = M.spare;
  size_t best = S.size();
  for (size_t i = 0; i < S.size(); ++i)
    if (S[i].block_size >= size && S[i].block_size / 2 <= size && (best == S.size() || S[i].block_size < S[best].block_size))
      best = i;
  if (best == S.size()) return nullptr;
  BigSeries big = S[best];
  S.erase(S.begin() + static_cast<ptrdiff_t>(best));
  M.spare_bytes -= big.block_size;
  M.big.push_back(big);
  return big.block;
}

SeriesBuffer* place_buffer(uint8_t* at, uint32_t size, uint32_t unit, int64_t head_offset, uint32_t extra) {
  ZEM_UNPOISON(at, size + kBufferOverhead);
  auto* b = reinterpret_cast<SeriesBuffer*>(at);
  uint32_t flags = (unit & kSeriesUnitMask) | kSeriesLive | kSeriesMade | extra;
  // Made during a collection (by a release callback): it must outlive the collection's sweep.
  if (gc::collector_state.collecting) flags |= kSeriesMark;
  uint32_t offset;
  if (head_offset < 0) {
    offset = size >> 1;
    flags |= kSeriesHeadMid;
  } else {
    offset = static_cast<uint32_t>(std::min<int64_t>(head_offset, size));
  }
  b->flags = flags;
  b->node = 0;
  b->capacity = size;
  b->head = offset;
  b->tail = offset;
  b->spare = 0;
  return b;
}

uint32_t checked_size(int64_t bytes) {
  if (bytes < 0 || bytes > kMaxSeriesBytes) fire(Err::internal_no_memory);
  return static_cast<uint32_t>(round16(static_cast<uint64_t>(bytes)));
}

int64_t checked_product(int64_t count, uint32_t unit) {
  if (count < 0 || count > kMaxSeriesBytes / std::max<uint32_t>(unit, 1)) fire(Err::internal_no_memory);
  return count * unit;
}

// The new buffer of expand; *old_out gets the buffer it replaced.
SeriesBuffer* replace_buffer(NodeId node, int64_t new_capacity, SeriesBuffer** old_out) {
  SeriesBuffer* old = M.nodes[node];
  // Doubling an empty buffer gives one 16-byte step rather than a failing zero.
  int64_t capacity = new_capacity != 0 ? new_capacity : std::max<int64_t>(int64_t{old->capacity} * 2, 16);
  if (capacity < 1) fire(Err::internal_no_memory);
  SeriesBuffer* b = alloc::alloc_buffer(capacity, old->unit(), 0);
  uint32_t used = std::min(old->used(), b->capacity);
  b->flags = (old->flags & ~kSeriesPlacementBits) | (b->flags & kSeriesBig);
  b->node = node;
  b->tail = used;
  M.nodes[node] = b;
  note_move();
  old->node = 0;
  old->flags &= ~kSeriesLive;
  if (old->is_heap()) {
    // Freed at the next collection, so the caller can still read it until then.
    M.heap.erase(std::find(M.heap.begin(), M.heap.end(), old));
    M.heap_retired.push_back(old);
  }
  *old_out = old;
  return b;
}

// Copies the data of `from` from its head, as much as fits, to the head of `to`; answers the bytes.
uint32_t copy_from_head(const SeriesBuffer* from, SeriesBuffer* to) {
  uint32_t n = std::min(from->capacity - from->head, to->capacity - to->head);
  std::memcpy(to->head_ptr(), from->head_ptr(), n);
  return n;
}

NodeId link_new(SeriesBuffer* b) {
  NodeId node = alloc::take_node();
  M.nodes[node] = b;
  b->node = node;
  return node;
}

}  // namespace

bool node_live(NodeId node) {
  if (node == 0 || !M.initialised) return false;
  uint32_t k = node / kNodeFrameCapacity;
  if (k >= M.node_frames.size() || !M.node_frames[k].present) return false;
  SeriesBuffer* slot = M.nodes[node];
  return slot != nullptr && !is_free_link(slot);
}

void watch_moves(uint32_t* word) {
  move_watch = word;
  note_move();
}

namespace alloc {

void init() {
  if (M.initialised) release_all();
  void* table = mmap(nullptr, size_t{kMaxNodes} * sizeof(SeriesBuffer*), PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (table == MAP_FAILED) fire(Err::internal_no_memory);
  M.nodes = static_cast<SeriesBuffer**>(table);
  M.next_frame_size = kDefaultFrameSize;
  M.collect_threshold = kMinCollectThreshold;
  M.initialised = true;
  new_node_frame();
}

void release_all() {
  if (!M.initialised) return;
  for (const SeriesFrame& f : M.series_frames) os_free(f.base, f.size());
  for (const BigSeries& b : M.big) os_free(b.block, b.block_size);
  for (const BigSeries& b : M.spare) os_free(b.block, b.block_size);
  for (const BigSeries& q : M.quarantine) munmap(q.block, q.block_size);
  for (SeriesBuffer* b : M.heap) cheap::free(b);
  for (SeriesBuffer* b : M.heap_retired) cheap::free(b);
  munmap(M.nodes, size_t{kMaxNodes} * sizeof(SeriesBuffer*));
  M = MemoryState{};
  note_move();
}

NodeId take_node() {
  auto& frames = M.node_frames;
  uint32_t k = M.current_node_frame;
  if (k >= frames.size() || !frames[k].present || frames[k].free_head == 0) {
    k = 0;
    while (k < frames.size() && !(frames[k].present && frames[k].free_head != 0)) ++k;
    if (k == frames.size()) k = new_node_frame();
    M.current_node_frame = k;
  }
  NodeFrame& f = frames[k];
  NodeId node = f.free_head;
  f.free_head = free_link_next(M.nodes[node]);
  M.nodes[node] = nullptr;
  ++f.used;
  return node;
}

void free_node(NodeId node) {
  note_move();
  NodeFrame& f = M.node_frames[node / kNodeFrameCapacity];
  M.nodes[node] = free_link(f.free_head);
  f.free_head = node;
  --f.used;
}

SeriesBuffer* alloc_buffer(int64_t bytes, uint32_t unit, int64_t head_offset) {
  uint32_t size = checked_size(bytes);
  uint64_t need = uint64_t{size} + kBufferOverhead;
  if (need >= kMaxFrameSize) {
    size_t block_size = round_page(need);
    if (uint8_t* block = take_spare(block_size)) {
      note_carved(block_size);
      return place_buffer(block, size, unit, head_offset, kSeriesBig);
    }
    uint8_t* block = os_alloc(block_size);
    // Big tables and blocks are read at random places (hash buckets, the cells they name): huge
    // pages spare a TLB miss per read and the kernel a fault per 4 KB while the block fills.
    if (block_size >= kHugePageAdvice) madvise(block, block_size, MADV_HUGEPAGE);
    M.big.push_back({block, block_size});
    note_carved(block_size);
    return place_buffer(block, size, unit, head_offset, kSeriesBig);
  }
  uint8_t* at = carve(static_cast<uint32_t>(need));
  note_carved(need);
  return place_buffer(at, size, unit, head_offset, 0);
}

NodeId make_series(int64_t count, uint32_t unit, int64_t head_offset) {
  return link_new(alloc_buffer(checked_product(count, unit), unit, head_offset));
}

NodeId make_heap_series(int64_t count, uint32_t unit, int64_t head_offset) {
  uint32_t size = checked_size(checked_product(count, unit));
  void* block = cheap::alloc(size_t{size} + kBufferOverhead);
  SeriesBuffer* b = place_buffer(static_cast<uint8_t*>(block), size, unit, head_offset, kSeriesHeap);
  M.heap.push_back(b);
  return link_new(b);
}

NodeId make_cells(int64_t capacity) { return make_series(capacity, sizeof(Cell), 0); }

NodeId make_unset_cells(int64_t capacity) {
  NodeId node = make_cells(capacity);
  SeriesBuffer* b = series_buffer(node);
  for (Cell* c = b->cells_head(); c < b->cells_end(); ++c) *c = Cell{TYPE_UNSET, 0, 0, 0};
  return node;
}

NodeId make_bytes(int64_t capacity) { return make_series(capacity == 0 ? 16 : capacity, 1, 0); }

NodeId make_unit_series(int64_t capacity, uint32_t unit) {
  if (capacity == 0) capacity = 16 >> (unit >> 1);
  return make_series(capacity, unit, 0);
}

NodeId make_bytes_filled(int64_t capacity, uint8_t byte) {
  NodeId node = make_bytes(capacity);
  SeriesBuffer* b = series_buffer(node);
  std::memset(b->data(), byte, b->capacity);
  return node;
}

void set_series_flags(NodeId node, uint32_t bits) { series_buffer(node)->flags |= bits; }

SeriesBuffer* expand(NodeId node, int64_t new_capacity) {
  SeriesBuffer* old;
  return replace_buffer(node, new_capacity, &old);
}

SeriesBuffer* expand_copy(NodeId node, int64_t new_capacity) {
  SeriesBuffer* old;
  SeriesBuffer* b = replace_buffer(node, new_capacity, &old);
  copy_from_head(old, b);
  return b;
}

SeriesBuffer* expand_remap(NodeId node, int64_t new_capacity) {
  SeriesBuffer* old = M.nodes[node];
  const uint64_t need = uint64_t{checked_size(new_capacity)} + kBufferOverhead;
  auto big = std::find_if(M.big.begin(), M.big.end(),
                          [&](const BigSeries& b) { return b.block == reinterpret_cast<uint8_t*>(old); });
  if (!old->is_big() || old->head != 0 || need < kMaxFrameSize ||
      new_capacity <= int64_t{old->capacity} || big == M.big.end())
    return expand_copy(node, new_capacity);
  const size_t block_size = round_page(need);
  void* p = mremap(big->block, big->block_size, block_size, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) fire(Err::internal_no_memory);
  M.os_bytes += block_size - big->block_size;
  note_carved(block_size - big->block_size);
  big->block = static_cast<uint8_t*>(p);
  big->block_size = block_size;
  auto* b = static_cast<SeriesBuffer*>(p);
  b->capacity = static_cast<uint32_t>(need - kBufferOverhead);
  M.nodes[node] = b;
  note_move();
  return b;
}

SeriesBuffer* expand_fill(NodeId node, int64_t new_capacity, uint8_t byte) {
  SeriesBuffer* old;
  SeriesBuffer* b = replace_buffer(node, new_capacity, &old);
  uint32_t copied = copy_from_head(old, b);
  std::memset(b->head_ptr() + copied, byte, b->capacity - b->head - copied);
  return b;
}

NodeId copy_series(NodeId node) {
  const SeriesBuffer* old = series_buffer(node);
  SeriesBuffer* b = alloc_buffer(old->capacity, old->unit(), 0);
  b->flags = (old->flags & ~kSeriesPlacementBits) | (b->flags & kSeriesBig);
  b->tail = old->used();
  copy_from_head(old, b);
  return link_new(b);
}

uint64_t live_node_count() {
  uint64_t n = 0;
  for (const NodeFrame& f : M.node_frames) n += f.used;
  return n - 1;  // node 0
}

// ---- Reclaiming after marking -------------------------------------------------------------------

namespace {

// Frees the node of a buffer that was not marked.
inline void drop_buffer(const SeriesBuffer* b) {
  if (b->node != 0 && (b->flags & kSeriesLive)) free_node(b->node);
}

// Slides the live buffers down in address order. A buffer moves into a lower frame while that frame
// has more than kFrameReuseRoom bytes of room and the buffer fits; otherwise it slides down in its
// own frame. Frames between the one being filled and the one being walked are always empty.
void compact_frames() {
  auto& F = M.series_frames;
  if (F.empty()) return;
  for (SeriesFrame& f : F) ZEM_UNPOISON(f.base, f.size());
  size_t d = 0;
  uint8_t* cursor = F[0].base;
  for (size_t f = 0; f < F.size(); ++f) {
    uint8_t* p = F[f].base;
    uint8_t* stop = F[f].heap;
    while (p < stop) {
      auto* b = reinterpret_cast<SeriesBuffer*>(p);
      uint32_t stride = kBufferOverhead + b->capacity;
      if (b->flags & kSeriesMark) {
        b->flags &= ~kSeriesMark;
        while (d < f && (static_cast<size_t>(F[d].end - cursor) < stride ||
                         static_cast<size_t>(F[d].end - cursor) <= kFrameReuseRoom)) {
          F[d].heap = cursor;
          cursor = F[++d].base;
        }
        if (cursor != p) {
          NodeId node = b->node;
          std::memmove(cursor, p, stride);
          M.nodes[node] = reinterpret_cast<SeriesBuffer*>(cursor);
        }
        cursor += stride;
        M.live_bytes += stride;
      } else {
        drop_buffer(b);
      }
      p += stride;
    }
    if (d < f) F[f].heap = F[f].base;
  }
  F[d].heap = cursor;
}

// Stress mode: every live buffer is copied to new frames; the old frames become inaccessible.
void evacuate_frames() {
  std::vector<SeriesFrame> old;
  old.swap(M.series_frames);
  M.current_series_frame = 0;
  for (SeriesFrame& f : old) {
    ZEM_UNPOISON(f.base, f.size());
    for (uint8_t* p = f.base; p < f.heap;) {
      auto* b = reinterpret_cast<SeriesBuffer*>(p);
      uint32_t stride = kBufferOverhead + b->capacity;
      if (b->flags & kSeriesMark) {
        b->flags &= ~kSeriesMark;
        uint8_t* to = carve(stride);
        ZEM_UNPOISON(to, stride);
        std::memcpy(to, p, stride);
        M.nodes[b->node] = reinterpret_cast<SeriesBuffer*>(to);
        M.live_bytes += stride;
      } else {
        drop_buffer(b);
      }
      p += stride;
    }
  }
  for (SeriesFrame& f : old) quarantine(f.base, f.size());
}

// Returns empty frames beyond the room that the carving until the next collection needs; the
// frame to carve from next is the first one with useful room.
void trim_frames() {
  auto& F = M.series_frames;
  uint64_t room = 0;
  for (const SeriesFrame& f : F)
    if (f.heap != f.base) room += static_cast<uint64_t>(f.end - f.heap);
  for (size_t i = 0; i < F.size();) {
    SeriesFrame& f = F[i];
    if (f.heap == f.base && room >= M.collect_threshold && F.size() > 1) {
      os_free(f.base, f.size());
      F.erase(F.begin() + static_cast<ptrdiff_t>(i));
      continue;
    }
    if (f.heap == f.base) room += f.size();
    ++i;
  }
  M.current_series_frame = static_cast<uint32_t>(F.empty() ? 0 : F.size() - 1);
  for (size_t i = 0; i < F.size(); ++i) {
    if (static_cast<size_t>(F[i].end - F[i].heap) >= kFrameReuseRoom) {
      M.current_series_frame = static_cast<uint32_t>(i);
      break;
    }
  }
  for (SeriesFrame& f : F) ZEM_POISON(f.heap, static_cast<size_t>(f.end - f.heap));
}

// Keeps the freed blocks (newest first) within the spare limit; returns the rest.
void trim_spares() {
  uint64_t limit = std::max<uint64_t>(kSpareLimit, M.live_bytes);
  auto& S = M.spare;
  while (M.spare_bytes > limit) {
    M.spare_bytes -= S.front().block_size;
    os_free(S.front().block, S.front().block_size);
    S.erase(S.begin());
  }
}

void sweep_big_series(bool move_all) {
  size_t kept = 0;
  for (BigSeries big : M.big) {
    auto* b = reinterpret_cast<SeriesBuffer*>(big.block);
    if (!(b->flags & kSeriesMark)) {
      drop_buffer(b);
      if (move_all) {
        os_free(big.block, big.block_size);
      } else {
        ZEM_POISON(big.block, big.block_size);
        M.spare.push_back(big);
        M.spare_bytes += big.block_size;
      }
      continue;
    }
    b->flags &= ~kSeriesMark;
    if (move_all) {
      uint8_t* to = os_alloc(big.block_size);
      std::memcpy(to, big.block, kBufferOverhead + b->capacity);
      M.nodes[b->node] = reinterpret_cast<SeriesBuffer*>(to);
      quarantine(big.block, big.block_size);
      big.block = to;
    }
    M.live_bytes += big.block_size;
    M.big[kept++] = big;
  }
  M.big.resize(kept);
}

// Returns node frames that no node uses any more; the first frame with room becomes current.
void release_node_frames() {
  auto& frames = M.node_frames;
  bool current_set = false;
  for (uint32_t k = 0; k < frames.size(); ++k) {
    NodeFrame& f = frames[k];
    if (!f.present) continue;
    if (f.used == 0 && k != 0) {
      release_node_frame(k);
      continue;
    }
    if (!current_set && f.used < kNodeFrameCapacity) {
      M.current_node_frame = k;
      current_set = true;
    }
    f.history = (f.history << 1) | (f.prev_used == f.used ? 1u : 0u);
    f.prev_used = f.used;
  }
}

}  // namespace

void reclaim(bool move_all) {
  note_move();
  M.live_bytes = 0;
  if (move_all) {
    evacuate_frames();
  } else {
    compact_frames();
  }
  sweep_big_series(move_all);
  trim_spares();
  for (SeriesBuffer* b : M.heap) b->flags &= ~kSeriesMark;
  for (SeriesBuffer* b : M.heap_retired) cheap::free(b);
  M.heap_retired.clear();
  release_node_frames();
  M.bytes_since_collect = 0;
  M.collect_threshold = std::max<uint64_t>(kMinCollectThreshold, M.live_bytes);
  trim_frames();
}

}  // namespace alloc
}  // namespace zem
