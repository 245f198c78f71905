// The boot image: boot-mode decoding into the root block and the writer of the image (see boot.h).
#include "services/zembin/boot.h"

#include <unistd.h>

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/startup.h"
#include "services/lz77.h"
#include "services/zembin/decoder.h"
#include "services/zembin/encoder.h"
#include "services/zembin/format.h"

namespace zem::zembin {

namespace {

[[noreturn]] void boot_fault(const std::string& message) {
  const std::string line = message + "\n";
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = ::write(2, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  runtime_exit(kBootFaultStatus);
}

// Boot mode: every fault ends the process; definitions set their words; words and objects keep
// what only the build could know (root indexes, class ids).
class BootDecoder : public Decoder {
 public:
  explicit BootDecoder(uint32_t base) : Decoder(Mode::boot), base_(base) {}

 protected:
  [[noreturn]] void fault(size_t offset) override {
    boot_fault("*** boot: the boot image is damaged: invalid record at byte " + std::to_string(offset));
  }

  uint32_t object_class(int32_t stored) override { return static_cast<uint32_t>(stored); }

  // As start-up binds the scanned sources: a case variant shares the slot of the word first added.
  // The slot of each symbol is kept: most words of the library are met many times.
  Cell global_word(uint32_t sym) override {
    const NodeId g = context::global();
    if (sym >= global_slots_.size()) global_slots_.resize(sym + 256, -1);
    int32_t& slot = global_slots_[sym];
    if (slot < 0) slot = context::add_symbol(g, sym);
    return context::word_cell(TYPE_WORD, g, sym, slot);
  }
  // Start-up gives the symbol of every issue in the sources a global slot as well.
  Cell issue(uint32_t sym) override {
    context::add_symbol(context::global(), sym);
    return Decoder::issue(sym);
  }

  // The context held by root (base + index): an object's, a function's, or a bound word's.
  NodeId root_context(Reader& r, const Head& h, uint32_t index) override {
    if (index >= series_length(dest_) - base_) fault(h.at);
    const Cell root = block_head(dest_)[base_ + index];
    NodeId ctx = 0;
    if (root.is(TYPE_OBJECT)) ctx = root.object_context();
    else if (root.is(TYPE_FUNCTION)) ctx = root.fn_context();
    else if (block::is_word_kind(root.type())) ctx = root.word_context();
    if (!ctx) fault(h.at);
    return ctx;
  }

  // 0xC4: the word (bound in the global context, or with V=1 by root index), then its value,
  // which the word is set to with change notification; neither cell stays in the block.
  void definition(Reader& r, const Head& h, NodeId into) override {
    if (h.kind != HeadKind::typed || h.reference || body_of(h.type, compact_) != Body::word ||
        h.type == TYPE_ISSUE)
      fault(h.at);
    if (!compact_) fault(h.at);  // a record of the compact form only
    const uint32_t sym = symbol(r);
    NodeId ctx = context::global();
    int32_t index = -1;
    if (h.variant) {
      const size_t at = r.offset();
      int32_t stored;
      if (!r.zz(stored)) fault(r.offset());
      ctx = root_context(r, h, count(r));
      index = checked_index(ctx, sym, stored, at);
    }
    Cell word = ctx == context::global() ? global_word(sym) : context::word_cell(TYPE_WORD, ctx, sym, index);
    const uint32_t slot = series_length(into);
    value(r, into);
    if (series_length(into) != slot + 1) fault(h.at);
    const Cell v = block_head(into)[slot];
    context::set_in(word, v, word.word_context(), true);
    block::truncate_at(into, slot);
  }

 private:
  uint32_t base_;
  std::vector<int32_t> global_slots_;  // by symbol id; -1 until met
};

}  // namespace

uint32_t boot_load(const uint8_t* data, size_t size) {
  if (size < kHeaderSize || !has_magic(data, size)) boot_fault("Error: Not a Zembin file!");
  std::vector<uint8_t> unpacked;
  if (data[7] & kFlagPacked) {
    std::vector<uint8_t> payload;
    if (!lz77::unpack(data + kHeaderSize, size - kHeaderSize, payload))
      boot_fault("Error: Zembin compressed data corrupted!");
    unpacked.assign(data, data + kHeaderSize);
    unpacked[7] &= static_cast<uint8_t>(~kFlagPacked);
    unpacked.insert(unpacked.end(), payload.begin(), payload.end());
    data = unpacked.data();
    size = unpacked.size();
  }
  const NodeId root = block::block_state.root;
  const uint32_t base = series_length(root);
  const bool collecting = gc::enabled();
  gc::set_enabled(false);
  try {
    BootDecoder decoder(base);
    decoder.run(data, size, root, nullptr);
  } catch (const Unwind&) {
    clear_pending_exit();
    boot_fault("*** boot: the boot image holds a value this runtime cannot make");
  }
  gc::set_enabled(collecting);
  return base;
}

std::vector<uint8_t> write_boot_image(std::span<const Cell> roots, std::span<const Definition> definitions) {
  std::vector<std::pair<Cell, Cell>> defs;
  for (const Definition& d : definitions) defs.emplace_back(d.word, d.value);
  std::vector<uint8_t> out = encode_boot(roots, defs);
  out[6] = kBootVersion;
  return out;
}

}  // namespace zem::zembin
