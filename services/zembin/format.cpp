// The Zembin byte format: tables and bounded readers and writers (see format.h).
#include "services/zembin/format.h"

#include <bit>
#include <cstring>

namespace zem::zembin {

bool has_magic(const uint8_t* data, size_t size) {
  return size >= sizeof kMagic && std::memcmp(data, kMagic, sizeof kMagic) == 0;
}

void put_template(std::vector<uint8_t>& out, uint8_t flags) {
  out.insert(out.end(), kMagic, kMagic + sizeof kMagic);
  out.push_back(kVersion);
  out.push_back(flags);
  out.insert(out.end(), kTemplateSize - kHeaderSize, 0);
}

uint32_t plain_context_bits(uint8_t flags) {
  uint32_t bits = static_cast<uint32_t>(flags & kContextKindBits) << kPlainContextKindShift;
  if (flags & kContextSelfBound) bits |= kPlainContextSelfBound;
  if (flags & kContextFunction) bits |= kPlainContextFunction;
  if (flags & kContextValues) bits |= kPlainContextValues;
  return bits;
}

uint8_t compact_context_flags(uint32_t word) {
  uint8_t flags = static_cast<uint8_t>((word >> kPlainContextKindShift) & kContextKindBits);
  if (word & kPlainContextSelfBound) flags |= kContextSelfBound;
  if (word & kPlainContextFunction) flags |= kContextFunction;
  if (word & kPlainContextValues) flags |= kContextValues;
  return flags;
}

// ---- Tables -------------------------------------------------------------------------------------

namespace {

struct TypeRow {
  Body body;
  Step step;
  bool shareable;
};

constexpr TypeRow row_of(uint32_t type) {
  switch (type) {
    case TYPE_DATATYPE: return {Body::datatype, Step::none, false};
    case TYPE_UNSET:
    case TYPE_NONE: return {Body::empty, Step::none, false};
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH: return {Body::block, Step::cells, true};
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF: return {Body::text, Step::none, true};
    case TYPE_CHAR: return {Body::character, Step::none, false};
    case TYPE_INTEGER: return {Body::integer, Step::none, false};
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: return {Body::number, Step::none, false};
    case TYPE_CONTEXT: return {Body::context, Step::none, false};
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT: return {Body::word, Step::word_context, false};
    case TYPE_ISSUE: return {Body::issue, Step::none, false};
    case TYPE_NATIVE:
    case TYPE_ACTION: return {Body::entry, Step::spec_cells, true};
    case TYPE_OP: return {Body::op, Step::function_parts, true};
    case TYPE_FUNCTION: return {Body::function, Step::function_parts, true};
    case TYPE_BITSET: return {Body::bitset, Step::none, true};
    case TYPE_OBJECT: return {Body::object, Step::context_values, false};
    case TYPE_TYPESET: return {Body::typeset, Step::none, false};
    case TYPE_ERROR: return {Body::error, Step::error_values, false};
    case TYPE_VECTOR: return {Body::vector, Step::none, true};
    case TYPE_HASH: return {Body::hash, Step::cells, true};
    case TYPE_PAIR: return {Body::pair, Step::none, false};
    case TYPE_TUPLE: return {Body::tuple, Step::none, false};
    case TYPE_MAP: return {Body::map, Step::cells, true};
    case TYPE_BINARY: return {Body::binary, Step::none, true};
    case TYPE_DATE: return {Body::date, Step::none, false};
    case TYPE_MONEY: return {Body::money, Step::none, false};
    case TYPE_POINT2D: return {Body::point2d, Step::none, false};
    case TYPE_POINT3D: return {Body::point3d, Step::none, false};
    case TYPE_IMAGE: return {Body::image, Step::none, true};
    case TYPE_ROUTINE: return {Body::no_codec, Step::none, true};
    case TYPE_TRIPLE:
    case TYPE_HANDLE:
    case TYPE_PORT:
    case TYPE_EVENT: return {Body::no_codec, Step::none, false};
    default: return {Body::invalid, Step::none, false};  // 0, logic!, symbol!, series!, > 54
  }
}

}  // namespace

Body body_of(uint32_t type, bool compact) {
  if (!compact && type == TYPE_LOGIC) return Body::logic;
  return row_of(type).body;
}
Step step_of(uint32_t type) { return row_of(type).step; }
bool owns_shareable(uint32_t type) { return row_of(type).shareable; }

bool has_head(Body b) {
  switch (b) {
    case Body::block:
    case Body::hash:
    case Body::text:
    case Body::binary:
    case Body::vector:
    case Body::image: return true;
    default: return false;
  }
}

bool series_body(Body b) {
  switch (b) {
    case Body::block:
    case Body::hash:
    case Body::map:
    case Body::text:
    case Body::binary:
    case Body::vector:
    case Body::bitset:
    case Body::image: return true;
    default: return false;
  }
}

bool may_reference(Body b) {
  return series_body(b) || b == Body::word || b == Body::object || b == Body::function;
}

// ---- Writer -------------------------------------------------------------------------------------

void Writer::u32(uint32_t w) {
  uint8_t b[4] = {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                  static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 24)};
  out_.insert(out_.end(), b, b + 4);
}

void Writer::varint(uint32_t v) {
  while (v >= 0x80) {
    out_.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out_.push_back(static_cast<uint8_t>(v));
}

void Writer::bytes(const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  out_.insert(out_.end(), p, p + n);
}

void Writer::double_compact(double d) {
  uint64_t bits = std::bit_cast<uint64_t>(d);
  u32(static_cast<uint32_t>(bits));
  u32(static_cast<uint32_t>(bits >> 32));
}

void Writer::double_plain(double d) {
  uint64_t bits = std::bit_cast<uint64_t>(d);
  u32(static_cast<uint32_t>(bits >> 32));
  u32(static_cast<uint32_t>(bits));
}

void Writer::patch_u32(size_t at, uint32_t w) {
  for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<uint8_t>(w >> (8 * i));
}

// ---- Reader -------------------------------------------------------------------------------------

bool Reader::sub(size_t n, Reader& part) {
  if (n > left()) return false;
  part = Reader(base_, pos_, pos_ + n);
  pos_ += n;
  return true;
}

bool Reader::u8(uint8_t& b) {
  if (pos_ >= end_) return false;
  b = *pos_++;
  return true;
}

bool Reader::peek(uint8_t& b) const {
  if (pos_ >= end_) return false;
  b = *pos_;
  return true;
}

bool Reader::u32(uint32_t& w) {
  if (left() < 4) return false;
  w = static_cast<uint32_t>(pos_[0]) | static_cast<uint32_t>(pos_[1]) << 8 |
      static_cast<uint32_t>(pos_[2]) << 16 | static_cast<uint32_t>(pos_[3]) << 24;
  pos_ += 4;
  return true;
}

bool Reader::varint(uint32_t& v) {
  const uint8_t* p = pos_;
  uint32_t value = 0;
  for (int i = 0; i < 5; ++i) {
    if (p >= end_) return false;
    uint8_t b = *p;
    if (i == 4 && (b & 0xF0)) {
      pos_ = p;  // the offending byte
      return false;
    }
    value |= static_cast<uint32_t>(b & 0x7F) << (7 * i);
    ++p;
    if (!(b & 0x80)) {
      pos_ = p;
      v = value;
      return true;
    }
  }
  return false;  // not reached: the fifth byte's check ends the loop
}

bool Reader::zz(int32_t& n) {
  uint32_t v;
  if (!varint(v)) return false;
  n = zz_decode(v);
  return true;
}

bool Reader::bytes(size_t n, const uint8_t*& data) {
  if (n > left()) return false;
  data = pos_;
  pos_ += n;
  return true;
}

bool Reader::skip(size_t n) {
  if (n > left()) return false;
  pos_ += n;
  return true;
}

bool Reader::double_compact(double& d) {
  if (left() < 8) return false;
  uint32_t low = 0, high = 0;
  u32(low);
  u32(high);
  d = std::bit_cast<double>(static_cast<uint64_t>(high) << 32 | low);
  return true;
}

bool Reader::double_plain(double& d) {
  if (left() < 8) return false;
  uint32_t low = 0, high = 0;
  u32(high);
  u32(low);
  d = std::bit_cast<double>(static_cast<uint64_t>(high) << 32 | low);
  return true;
}

// ---- Symbol table and preamble ------------------------------------------------------------------

bool SymbolTable::name(uint32_t i, std::string_view& out) const {
  if (i >= count) return false;
  Reader r(offsets + 4 * static_cast<size_t>(i), 4);
  uint32_t at;
  r.u32(at);
  if (at >= names_size) return false;
  // The last byte of the buffer is a NUL (checked when the table was read): strlen stays inside.
  const char* s = reinterpret_cast<const char*>(names + at);
  out = std::string_view(s, std::strlen(s));
  return true;
}

bool read_preamble(Reader& r, bool compact, bool symbols, Preamble& out) {
  out = Preamble{};
  auto count = [&](uint32_t& v) { return compact ? r.varint(v) : r.u32(v); };
  if (!count(out.roots) || !count(out.payload)) return false;
  if (symbols) {
    SymbolTable& t = out.symbols;
    if (!count(t.count)) return false;
    if (t.count > r.left() / 4) return false;
    if (!count(t.names_size)) return false;
    if (!r.bytes(4 * static_cast<size_t>(t.count), t.offsets)) return false;
    if (t.names_size > r.left() || (t.names_size == 0 && t.count > 0)) return false;
    const uint8_t* names = r.pos();
    if (t.names_size > 0 && names[t.names_size - 1] != 0) return false;
    r.skip(t.names_size);
    t.names = names;
  }
  return out.payload <= r.left();
}

// ---- Record heads -------------------------------------------------------------------------------

bool read_compact_head(Reader& r, bool allow_definition, RecordHead& out) {
  out = RecordHead{};
  uint8_t b;
  for (;;) {
    if (!r.peek(b)) return false;
    if (b == kPrefixNewLine) {
      out.new_line = true;
    } else if (b == kPrefixReference) {
      out.reference = true;
    } else if (b == kPrefixDefinition) {
      if (!allow_definition) return false;
      out.definition = true;
    } else {
      break;
    }
    r.skip(1);
  }
  const bool prefixed = out.reference || out.definition;
  if (b < 0x80) {
    Reader at = r;  // a refused type is reported at its header byte
    r.skip(1);
    out.variant = (b & kVariantBit) != 0;
    out.type = b & kTypeMaskByte;
    if (out.type == kTypeEscape && !r.varint(out.type)) return false;
    Body body = body_of(out.type);
    if (body == Body::invalid || (out.reference && !may_reference(body)) ||
        (out.definition && body != Body::word && body != Body::issue)) {
      r = at;
      return false;
    }
    return true;
  }
  if (prefixed) return false;
  if (b <= 0xBF) {
    out.kind = HeadKind::small_int;
    out.small = b & kTypeMaskByte;
  } else if (b == kHeadTrue) {
    out.kind = HeadKind::logic_true;
  } else if (b == kHeadFalse) {
    out.kind = HeadKind::logic_false;
  } else if (b == kHeadPath) {
    out.kind = HeadKind::path;
  } else {
    return false;
  }
  r.skip(1);
  return true;
}

bool read_plain_head(Reader& r, uint32_t& word) {
  do {
    if (!r.u32(word)) return false;
  } while ((word & kTypeMask) == kPlainPadding);
  return true;
}

// ---- Reference paths ----------------------------------------------------------------------------

bool read_path(Reader& r, bool compact, std::vector<uint32_t>& out) {
  out.clear();
  Reader at = r;
  uint32_t n;
  if (!(compact ? r.varint(n) : r.u32(n))) return false;
  const size_t width = compact ? 1 : 4;
  if (n == 0 || n > kMaxPathLength || n > r.left() / width) {
    r = at;
    return false;
  }
  out.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t index;
    if (!(compact ? r.varint(index) : r.u32(index))) return false;
    out.push_back(index);
  }
  return true;
}

void write_path(Writer& w, bool compact, const uint32_t* indexes, size_t n) {
  if (compact) {
    w.varint(static_cast<uint32_t>(n));
    for (size_t i = 0; i < n; ++i) w.varint(indexes[i]);
  } else {
    w.u32(static_cast<uint32_t>(n));
    for (size_t i = 0; i < n; ++i) w.u32(indexes[i]);
  }
}

}  // namespace zem::zembin
