// Typed buffers: byte series whose unit field holds the item size, used by runtime code to keep
// lists of fixed-size items (mostly 32-bit indexes) in collectable memory.
// Positions given to pick/poke are 1-based; offsets are bytes from the head.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zem::array {

NodeId make(uint32_t capacity, uint32_t item_size);
uint32_t length(NodeId buf);
void clear(NodeId buf);
// Tail = head + (i - 1) items.
void set_length(NodeId buf, uint32_t i);
NodeId copy(NodeId buf);
uint32_t flags(NodeId buf);

// Reserves n bytes at the tail (expanding when needed), moves the tail and returns their address.
uint8_t* alloc_tail_bytes(NodeId buf, uint32_t n);
void append_byte(NodeId buf, uint8_t b);
void append_bytes(NodeId buf, const void* bytes, uint32_t n);
void append_int(NodeId buf, int32_t v);
void append_u32(NodeId buf, uint32_t v);

uint8_t pick_byte(NodeId buf, uint32_t i);
int32_t pick_int(NodeId buf, uint32_t i);
uint32_t pick_u32(NodeId buf, uint32_t i);
void poke_u32(NodeId buf, uint32_t i, uint32_t v);

// Byte offset from the head of the first 32-bit item equal to v, or -1.
int64_t find_int(NodeId buf, int32_t v);
// Inserts v before the item at 0-based index, moving the rest up.
void insert_int(NodeId buf, uint32_t index, int32_t v);
// Removes n bytes at offset, moving the rest down.
void remove_bytes(NodeId buf, uint32_t offset, uint32_t n);
// Finds and removes one 32-bit item equal to v; false when absent.
bool remove_u32(NodeId buf, uint32_t v);

}  // namespace zem::array
