// The memory manager: nodes, series buffers, series frames, big series and heap series.
//
// Every series is a pair: a node (a 32-bit index, stable while the series lives) and a buffer
// (header + data) that the node table maps it to. Cells and runtime records hold nodes, never buffer
// addresses, because the collector moves buffers and rewrites only the node table.
//
// Buffers live in one of three places:
// - series frames: 1-2 MB blocks from mmap, carved by bumping a pointer; the collector slides live
//   buffers down within and across frames (runtime/collector.h);
// - big series: a buffer of 2 MB or more (header included) gets an mmap block of its own;
// - heap series: in the C heap, never moved or freed by the collector (the root block, both stacks).
//
// Rules for callers:
// - An allocation never collects. Collections run only at safe points (gc::safe_point()); a buffer
//   address stays valid until the next safe point or explicit collection. After anything that may
//   reach a safe point, read the buffer again through its node.
// - Head and tail are byte offsets from the start of the data area, so moving a buffer needs no
//   fix-up of them. `head_ptr()` / `tail_ptr()` turn them into addresses.
// - Sizes are computed in 64 bits; a request above 2^31 - 1 bytes raises internal `no-memory`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace zem {

// Buffer flag bits. Bits 0-4 hold the unit size; the bits between the named ones belong to the
// datatypes and are copied along when a buffer is replaced.
constexpr uint32_t kSeriesUnitMask = 0x1F;
constexpr uint32_t kSeriesLive = 0x80000000;
constexpr uint32_t kSeriesMade = 0x20000000;     // set on every buffer made here
constexpr uint32_t kSeriesHeadMid = 0x10000000;  // head placed mid-buffer at allocation
constexpr uint32_t kSeriesMark = 0x08000000;     // the collector's mark
constexpr uint32_t kSeriesBig = 0x01000000;      // own mmap block
constexpr uint32_t kSeriesHeap = 0x00100000;     // in the C heap, never moved
constexpr uint32_t kSeriesOwned = 0x00020000;    // has an owner-table record
// Bits that describe one particular buffer rather than the series: dropped when a buffer is replaced.
constexpr uint32_t kSeriesPlacementBits = kSeriesMark | kSeriesBig | kSeriesHeadMid | kSeriesHeap;

struct SeriesBuffer {
  uint32_t flags;
  NodeId node;        // owning node; 0 for a buffer abandoned by expand
  uint32_t capacity;  // bytes in the data area, a multiple of 16
  uint32_t head;      // byte offset of the first used byte
  uint32_t tail;      // byte offset one past the last used byte (head == tail: empty)
  uint32_t spare;

  uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
  uint32_t unit() const { return flags & kSeriesUnitMask; }
  uint8_t* head_ptr() { return data() + head; }
  uint8_t* tail_ptr() { return data() + tail; }
  uint8_t* end_ptr() { return data() + capacity; }
  const uint8_t* head_ptr() const { return data() + head; }
  const uint8_t* tail_ptr() const { return data() + tail; }
  uint32_t used() const { return tail - head; }                // bytes between head and tail
  uint32_t length() const { return (tail - head) / unit(); }  // units between head and tail
  uint32_t room() const { return capacity - tail; }           // bytes free after the tail
  // Sets the tail to head + n units.
  void set_length(uint32_t n) { tail = head + n * unit(); }
  // Cell views, for buffers of unit 16.
  Cell* cells_head() { return reinterpret_cast<Cell*>(head_ptr()); }
  Cell* cells_tail() { return reinterpret_cast<Cell*>(tail_ptr()); }
  Cell* cells_end() { return reinterpret_cast<Cell*>(end_ptr()); }
  bool is_big() const { return (flags & kSeriesBig) != 0; }
  bool is_heap() const { return (flags & kSeriesHeap) != 0; }
  bool is_marked() const { return (flags & kSeriesMark) != 0; }
};
// 24 bytes keep the data 8-byte aligned for every buffer of a frame (frames are page aligned and
// buffer strides are 24 + a multiple of 16).
static_assert(sizeof(SeriesBuffer) == 24, "series buffer header is six 32-bit words");

constexpr uint32_t kBufferOverhead = sizeof(SeriesBuffer);
constexpr uint32_t kNodeFrameCapacity = 10000;
constexpr uint32_t kDefaultFrameSize = 0x100000;    // 1 MB
constexpr uint32_t kMaxFrameSize = 0x200000;        // 2 MB; a need at or above it is a big series
constexpr uint32_t kFrameReuseRoom = 52428;         // free room that makes a frame worth filling
constexpr int64_t kMaxSeriesBytes = 0x7FFFFFFF;     // larger requests raise internal no-memory
constexpr uint32_t kMaxNodes = 10000u * 13421u;     // node index space reserved at start

struct NodeFrame {
  uint32_t free_head = 0;   // index of the first free node, 0 when the frame is full
  uint32_t used = 0;        // nodes handed out (node 0 counts as used in frame 0)
  uint32_t stamp = 0;       // collection count when the frame was made
  uint32_t prev_used = 0;   // used count at the previous collection
  uint32_t history = 0;     // bit per collection: 1 when used did not change
  bool present = false;     // false once returned (its index range may be made again)
};

struct SeriesFrame {
  uint8_t* base;  // first byte of the buffer area (page aligned)
  uint8_t* heap;  // first unused byte
  uint8_t* end;   // one past the last byte
  uint32_t size() const { return static_cast<uint32_t>(end - base); }
};

struct BigSeries {
  uint8_t* block;     // mmap block; the buffer starts here
  size_t block_size;  // bytes mapped
};

// The node table lives in one reserved address range, so a node index maps to its slot with
// a single load. A free slot holds (next free index << 1) | 1. Node frames are chunks of 10000
// indices of that range, each with its own free list.
struct MemoryState {
  SeriesBuffer** nodes = nullptr;
  std::vector<NodeFrame> node_frames;  // frame k holds indices [k * 10000, (k + 1) * 10000)
  uint32_t current_node_frame = 0;
  std::vector<SeriesFrame> series_frames;  // sorted by address
  uint32_t current_series_frame = 0;
  uint32_t next_frame_size = kDefaultFrameSize;
  std::vector<BigSeries> big;                  // in creation order
  std::vector<SeriesBuffer*> heap;             // heap series in creation order
  std::vector<SeriesBuffer*> heap_retired;     // heap buffers replaced by expand, freed at the next collection
  std::vector<BigSeries> spare;                // big blocks a collection freed, kept mapped for reuse
  uint64_t spare_bytes = 0;
  std::vector<BigSeries> quarantine;           // stress mode: left frames, inaccessible
  uint64_t quarantine_bytes = 0;
  uint64_t os_bytes = 0;             // bytes of every mmap block in use (node table not counted)
  uint64_t bytes_since_collect = 0;  // bytes carved since the last collection
  uint64_t collect_threshold = 0;    // carving this many bytes asks for a collection
  uint64_t live_bytes = 0;           // frame and big-series bytes kept by the last collection
  bool initialised = false;
};
extern MemoryState memory_state;

// ---- Node access -------------------------------------------------------------------------------

inline SeriesBuffer* series_buffer(NodeId node) { return memory_state.nodes[node]; }
// A cache of addresses taken from the node table registers one of its words here. The word is
// zeroed whenever a buffer may have moved or a node was freed, and when memory is released, so
// the cache stays good while the word is not zero: its users test no counter on each read.
void watch_moves(uint32_t* word);
// True when the node is handed out (its slot holds a buffer, not a free-list link).
bool node_live(NodeId node);

inline uint8_t* series_head(NodeId node) { return series_buffer(node)->head_ptr(); }
inline uint8_t* series_tail(NodeId node) { return series_buffer(node)->tail_ptr(); }
inline Cell* block_head(NodeId node) { return series_buffer(node)->cells_head(); }
inline Cell* block_tail(NodeId node) { return series_buffer(node)->cells_tail(); }
inline uint32_t series_length(NodeId node) { return series_buffer(node)->length(); }

namespace alloc {

// Sets up the node table and the first node frame; series frames are made on demand.
// Calling it again first releases everything (tests start from a clean state).
void init();
// Returns every frame, big series and heap series; the node table is released too.
void release_all();

// A node with its slot set to 0; the caller links it to a buffer.
NodeId take_node();
void free_node(NodeId node);

// A new buffer of `bytes` rounded up to 16, unit `unit`, head at `head_offset` bytes into the data
// (-1: mid-buffer, flag kSeriesHeadMid). The node field is left 0.
SeriesBuffer* alloc_buffer(int64_t bytes, uint32_t unit, int64_t head_offset);

// count x unit bytes; returns the node. head_offset as for alloc_buffer.
NodeId make_series(int64_t count, uint32_t unit, int64_t head_offset = 0);
// As make_series but in the C heap: never moved, never freed by the collector.
NodeId make_heap_series(int64_t count, uint32_t unit, int64_t head_offset = 0);
NodeId make_cells(int64_t capacity);
// Every cell of the capacity set to unset!; the tail stays at the head.
NodeId make_unset_cells(int64_t capacity);
// Capacity 0 gives 16 bytes.
NodeId make_bytes(int64_t capacity);
// Capacity 0 gives 16 bytes' worth: 16, 8 or 4 units for unit 1, 2 or 4.
NodeId make_unit_series(int64_t capacity, uint32_t unit);
NodeId make_bytes_filled(int64_t capacity, uint8_t byte);
void set_series_flags(NodeId node, uint32_t bits);

// Replaces the node's buffer with a new one of `new_capacity` bytes (0: twice the old capacity)
// whose head is at its data start and whose used length is the old one (cut to the new capacity).
// The content is not copied. The old buffer stays readable until the next collection.
SeriesBuffer* expand(NodeId node, int64_t new_capacity);
// expand, then the old data from its head copied to the new head.
SeriesBuffer* expand_copy(NodeId node, int64_t new_capacity);
// As expand_copy, but a big series keeps its pages: the kernel moves them (mremap) instead of a
// copy into freshly cleared ones. Its old address is invalid at once (expand_copy's old buffer stays
// readable until the next collection), so the caller holds no pointer into it.
SeriesBuffer* expand_remap(NodeId node, int64_t new_capacity);
// expand_copy, then the rest of the new data area filled with the byte.
SeriesBuffer* expand_fill(NodeId node, int64_t new_capacity, uint8_t byte);
// A new series with the same capacity, flags (unit included), used length and data.
NodeId copy_series(NodeId node);

// ---- Collector side (runtime/collector.cpp calls these after marking) --------------------------

// Frees every unmarked frame buffer and big series (their nodes go back to the free lists), slides
// the live frame buffers down within and across frames in address order, clears every mark and
// returns empty frames beyond the room the next allocations need. With `move_all` (stress mode)
// every live buffer moves to new memory and the memory it left becomes inaccessible.
void reclaim(bool move_all);
// Number of nodes handed out over all frames (node 0 excluded).
uint64_t live_node_count();

}  // namespace alloc
}  // namespace zem
