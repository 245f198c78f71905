// The Zembin decoder: a compact or plain buffer (services/zembin/format.h), LZ77-packed or not,
// turned into values appended to a destination block.
//
// Bytes from outside can never crash the runtime: every count and length is checked against the
// bytes left before anything is allocated, nesting is limited, reference paths are checked at every
// step, and each fault raises script `zb-invalid-record` with the failing byte's offset + 1 (a bad
// magic or a damaged packed payload: script `invalid-data`; triple!, routine!, handle!, port! and
// event! records: access `no-codec`). Natives and actions come back as the runtime's own entries.
//
// Every value is appended to its parent before its members are decoded, so partly built values are
// reachable from the destination block (and references to an enclosing value find it). The
// decoder runs no Zem code and reaches no safe point.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "services/zembin/format.h"

namespace zem::zembin {

// Codec mode: decodes the whole buffer into `dest` (a block! the caller keeps rooted), appending
// the top-level values in order. `payload`, when given, is the argument of an `invalid-data` error.
void decode(const uint8_t* data, size_t size, const Cell& dest, const Cell* payload = nullptr);

// One decode: the session state, reset when the object goes (error included). Codec mode is built
// here; boot mode (definitions, words bound by root index, compiled classes) is added by a subclass
// through the hooks below.
class Decoder {
 public:
  enum class Mode : uint8_t { codec, boot };

  explicit Decoder(Mode mode = Mode::codec) : mode_(mode) {}
  virtual ~Decoder() = default;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  void run(const uint8_t* data, size_t size, NodeId dest, const Cell* payload);

 protected:
  // A decoded record head, either form.
  struct Head {
    size_t at = 0;  // offset of the record's first byte
    HeadKind kind = HeadKind::typed;
    uint32_t type = 0;
    bool variant = false;  // compact V bit
    uint32_t word = 0;     // plain header word
    bool new_line = false;
    bool reference = false;
    bool definition = false;
    int32_t small = 0;
  };

  // ---- Hooks for boot mode ----
  // A definition record (compact 0xC4 prefix, plain word bit 25); codec mode refuses them at the head.
  virtual void definition(Reader& r, const Head& h, NodeId into);
  // A word of the boot image bound by root index (compact V=1 without an owner, plain root index
  // other than -1): answers the context. Codec mode never calls it.
  virtual NodeId root_context(Reader& r, const Head& h, uint32_t root);
  // What a fault does: codec mode raises `zb-invalid-record`.
  [[noreturn]] virtual void fault(size_t offset);
  // A word bound in the global context (V=0), its symbol added when absent.
  virtual Cell global_word(uint32_t sym);
  // An issue! of the symbol.
  virtual Cell issue(uint32_t sym);
  // The object class of a decoded object!: -1 in codec mode.
  virtual uint32_t object_class(int32_t stored) { return 0xFFFFFFFFu; }
  // A typed record boot mode reads its own way; false leaves it to the codec reading.
  virtual bool boot_record(Reader& r, const Head& h, NodeId into) { return false; }

  // ---- Reading, for the hooks ----
  // Decodes one record and appends its value to `into` (definitions append nothing).
  void value(Reader& r, NodeId into);
  uint32_t symbol(Reader& r);
  // The symbol of table entry i (a fault at `at` when there is none).
  uint32_t symbol_id(uint32_t i, size_t at);
  uint32_t count(Reader& r);
  // A count with count * unit <= the bytes left.
  uint32_t bounded(Reader& r, size_t unit);
  // The word index of the symbol in the context: a stored index checked against the symbol, or -1
  // looked up by symbol; a fault at `at` otherwise.
  int32_t checked_index(NodeId ctx, uint32_t sym, int32_t index, size_t at);
  int32_t sfield(Reader& r);
  const uint8_t* bytes(Reader& r, size_t n);
  void spec_or_body(Reader& r, NodeId node, NodeId* shared_node);

  Mode mode_;
  bool compact_ = true;
  NodeId dest_ = 0;
  uint32_t path_base_ = 0;  // the destination's cell that a path's first index 0 selects

 private:
  struct Binding {
    bool pending = false;
    NodeId into = 0;
    uint32_t slot = 0;
    uint32_t symbol = 0;
    int32_t index = 0;
    size_t at = 0;
  };

  void head(Reader& r, Head& h);
  void typed(Reader& r, const Head& h, NodeId into);
  void shared(Reader& r, const Head& h, NodeId into);
  Cell resolve(Reader& r);
  uint32_t u32(Reader& r);
  double real(Reader& r);
  uint32_t series_head(Reader& r, const Head& h);

  void number(Reader& r, const Head& h, NodeId into);
  void date(Reader& r, const Head& h, NodeId into);
  void word(Reader& r, const Head& h, NodeId into);
  uint8_t context_head(Reader& r);
  NodeId context_part(Reader& r, uint8_t flags, size_t at, bool function, bool values_allowed);
  void bind_pending(NodeId ctx);
  void object(Reader& r, const Head& h, NodeId into);
  void function(Reader& r, const Head& h, NodeId into);
  void block(Reader& r, const Head& h, NodeId into);
  void map(Reader& r, const Head& h, NodeId into);
  void text(Reader& r, const Head& h, NodeId into);
  void vector(Reader& r, const Head& h, NodeId into);
  void image(Reader& r, const Head& h, NodeId into);
  void entry(Reader& r, const Head& h, NodeId into);
  void op(Reader& r, const Head& h, NodeId into);
  void error(Reader& r, const Head& h, NodeId into);
  // The context a reference path's end stands for (object, function, op, bound word).
  NodeId owner_context(const Cell& reached, size_t at);

  std::vector<uint8_t> data_;  // the buffer (unpacked when it was packed)
  SymbolTable symbols_{};
  std::vector<uint32_t> symbol_ids_;  // interned on first use; 0 until then
  std::vector<uint32_t> path_;
  uint32_t depth_ = 0;
  Binding binding_{};
};

}  // namespace zem::zembin
