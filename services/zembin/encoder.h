// The Zembin encoder: one value, with everything it reaches, as a compact or plain Zembin buffer
// (services/zembin/format.h) in a new binary!.
//
// A series, context or image reached a second time is written as a reference path to its first
// occurrence, so shared structure, cycles and word bindings come back as they were. Words bound in
// the global context carry no binding; a word bound in an object or function carries its owner
// inline the first time its context is met.
//
// The encoder runs no Zem code and reaches no safe point. Its state (path stack, path store, node
// table keyed by node index) is reset on every exit, error included; the node table is marked by
// the collector while it holds entries.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "runtime/cell.h"

namespace zem::zembin {

// Nesting deeper than this (records within records) is refused by the encoder (internal
// `too-deep`) and by the decoder.
constexpr uint32_t kMaxDepth = 1000;

// `zembin/encode-cp` (compact) and `zembin/encode` (plain): a new binary! holding the buffer.
// Raises access `no-codec` with the value for triple!, routine!, handle!, port!, event!, an op!
// over a routine!, and a word whose context belongs to neither an object nor a function.
Cell encode(const Cell& value, bool compact);
inline Cell encode_cp(const Cell& value) { return encode(value, true); }

// The same buffer as bytes (tests, the boot-image tool).
std::vector<uint8_t> encode_bytes(const Cell& value, bool compact);

// A boot image's records (services/zembin/boot.h): the roots in order (bound to no context but the
// global one), then one root per context a word, object or function of the values uses (its words
// only: an object's values come with the object, each record naming its context by root index),
// then each definition as the prefix 0xC4, the word and its value. The decoder drops a
// definition's cells, so what is first met inside one is forgotten after it (met again, it is
// written again in full). A snapshot interns every symbol of the runtime first, in id order, and
// writes each definition's value that owns a series, context or entry as a root of its own (then
// the objects and functions that only bound words reach), the definition naming it by a path: what
// several values share stays shared.
std::vector<uint8_t> encode_boot(std::span<const Cell> roots, std::span<const std::pair<Cell, Cell>> definitions,
                                 bool snapshot = false);

// Empties the encoder's state (the decoder calls it before raising `no-codec`).
void reset();

}  // namespace zem::zembin
