// The Zembin byte format: header, integers, symbol table, record heads, per-type bodies and
// reference paths, in the compact form (variable-length integers) and the plain form (u32 fields).
//
// Shared by the encoder, the codec-mode decoder and the boot image. Nothing here allocates values
// or reaches the evaluator: readers work on a byte range and answer false (never throw) when a
// field would run past its end or breaks a rule of the format; the reader stays on the failing
// byte so callers can report its offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/layout.h"

namespace zem::zembin {

// ---- Type ids are the wire format ---------------------------------------------------------------

namespace wire_check {
constexpr bool type_ids_fixed() {
  constexpr uint8_t ids[] = {
      TYPE_DATATYPE, TYPE_UNSET,   TYPE_NONE,     TYPE_LOGIC,    TYPE_BLOCK,    TYPE_PAREN,
      TYPE_STRING,   TYPE_FILE,    TYPE_URL,      TYPE_CHAR,     TYPE_INTEGER,  TYPE_FLOAT,
      TYPE_SYMBOL,   TYPE_CONTEXT, TYPE_WORD,     TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD,
      TYPE_REFINEMENT, TYPE_ISSUE, TYPE_NATIVE,   TYPE_ACTION,   TYPE_OP,       TYPE_FUNCTION,
      TYPE_PATH,     TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_ROUTINE, TYPE_BITSET,
      TYPE_TRIPLE,   TYPE_OBJECT,  TYPE_TYPESET,  TYPE_ERROR,    TYPE_VECTOR,   TYPE_HASH,
      TYPE_PAIR,     TYPE_PERCENT, TYPE_TUPLE,    TYPE_MAP,      TYPE_BINARY,   TYPE_SERIES,
      TYPE_TIME,     TYPE_TAG,     TYPE_EMAIL,    TYPE_HANDLE,   TYPE_DATE,     TYPE_PORT,
      TYPE_MONEY,    TYPE_REF,     TYPE_POINT2D,  TYPE_POINT3D,  TYPE_IMAGE,    TYPE_EVENT};
  for (int i = 0; i < 54; ++i)
    if (ids[i] != i + 1) return false;
  return true;
}
static_assert(type_ids_fixed(), "TypeId numbers are the Zembin wire format and may not move");
}  // namespace wire_check

constexpr uint32_t kLastType = TYPE_EVENT;

// ---- Header -------------------------------------------------------------------------------------

constexpr char kMagic[6] = {'Z', 'E', 'M', 'B', 'I', 'N'};
constexpr uint8_t kVersion = 2;      // what writers put; readers ignore it
constexpr size_t kHeaderSize = 8;    // magic, version, flags
constexpr size_t kTemplateSize = 16; // the plain form's header with its two u32 counts
constexpr uint8_t kFlagCompact = 1;
constexpr uint8_t kFlagPacked = 2;   // everything after byte 7 is LZ77-packed
constexpr uint8_t kFlagSymbols = 4;

// True when the buffer starts with the magic.
bool has_magic(const uint8_t* data, size_t size);
// The 16-byte template: magic, version 2, the flags byte, eight zero bytes.
void put_template(std::vector<uint8_t>& out, uint8_t flags);

// ---- Compact record heads -----------------------------------------------------------------------

constexpr uint8_t kPrefixNewLine = 0xC0;
constexpr uint8_t kPrefixReference = 0xC1;
constexpr uint8_t kPrefixDefinition = 0xC4;  // boot image only
constexpr uint8_t kHeadTrue = 0xC2;
constexpr uint8_t kHeadFalse = 0xC3;
constexpr uint8_t kHeadPath = 0xFF;           // a stand-alone reference path
constexpr uint8_t kHeadSmallInt = 0x80;       // 0x80 + n, n in 0..63
constexpr uint8_t kTypeMaskByte = 0x3F;
constexpr uint8_t kTypeEscape = 63;           // a varint type id follows
constexpr uint8_t kVariantBit = 0x40;

// The header byte of a typed record.
inline uint8_t typed_head(uint32_t type, bool variant) {
  return static_cast<uint8_t>((type & kTypeMaskByte) | (variant ? kVariantBit : 0));
}

// Compact context! flags byte.
constexpr uint8_t kContextKindBits = 3;
constexpr uint8_t kContextFunction = 4;  // values live on the stack: none stored
constexpr uint8_t kContextSelfBound = 8;
constexpr uint8_t kContextValues = 16;   // m value records follow

// ---- Plain header word --------------------------------------------------------------------------
// Bits 0-7 the type (0 padding, 0xFF a reference record); the others by type.

constexpr uint32_t kPlainPadding = 0;
constexpr uint32_t kPlainReferenceType = 0xFF;
constexpr uint32_t kPlainUnitShift = 8;           // string family, binary!, vector!: unit bytes;
constexpr uint32_t kPlainUnitMask = 0xFFu << 8;   //   tuple!: the length
constexpr uint32_t kPlainOpShift = 16;            // op!: the wrapped value's type
constexpr uint32_t kPlainOpMask = 0xFFu << 16;
constexpr uint32_t kPlainReference = 1u << 19;    // a reference record replaces the contents
constexpr uint32_t kPlainMoneyNegative = 1u << 22;
constexpr uint32_t kPlainComplement = 1u << 23;   // bitset!
constexpr uint32_t kPlainChangeRecord = 1u << 24; // object!
constexpr uint32_t kPlainDefinition = 1u << 25;   // word kinds (boot image only)
constexpr uint32_t kPlainContextKindShift = 26;   // context!: bits 26-27 kind,
constexpr uint32_t kPlainContextSelfBound = 1u << 28;
constexpr uint32_t kPlainContextFunction = 1u << 29;
constexpr uint32_t kPlainContextValues = 1u << 30;
constexpr uint32_t kPlainNewLine = 1u << 31;
// Context root index of a word bound in the global context; a codec writer puts 0 for any other
// binding, whose owner then follows the word (inline, or a reference record with bit 19).
constexpr uint32_t kPlainGlobalRoot = 0xFFFFFFFFu;
// Boot image, compact form: the word index of a word bound to no context (no root index follows).
constexpr int32_t kUnboundWordIndex = -2;
// Boot image, compact form: a word of the global context that has no slot there (none is added).
constexpr int32_t kFreshGlobalWordIndex = -3;

// Context flags between the compact flags byte and the plain header bits.
uint32_t plain_context_bits(uint8_t compact_flags);
uint8_t compact_context_flags(uint32_t plain_header);

// ---- Bodies -------------------------------------------------------------------------------------
// What follows the header of a typed record, by type. The decoder, the encoder and the boot image
// read the same table.

enum class Body : uint8_t {
  invalid,    // type 0, symbol!, series!, logic! as a compact typed record, ids above 54
  empty,      // unset!, none!
  logic,      // plain form only: 0 or 1 (compact logic! is the header byte 0xC2 or 0xC3)
  datatype,   // varint type id
  character,  // varint code point
  integer,    // zz
  number,     // float!, percent!, time!: V=1 zz n, V=0 a double
  pair,       // zz x, zz y
  point2d,    // 2 x u32 float bits
  point3d,    // 3 x u32 float bits
  date,       // u32 date word, a double when its time flag is set (V must agree)
  typeset,    // byte n (0-12), n bitmap bytes
  tuple,      // V=1 byte n (1-12) and n bytes; V=0 3 bytes
  money,      // 12 payload bytes; V the sign
  issue,      // varint symbol
  word,       // varint symbol; V=1 zz index and the binding
  context,    // flags, m symbols, values when flagged
  object,     // zz class, V: 2 zz, a context record
  function,   // spec and body lengths, context, spec and body blocks
  block,      // [head] n records: block!, paren!, path kinds
  hash,       // as block!, then the index is rebuilt
  map,        // n records (keys and values alternating), no head
  text,       // [head] e (length << 2 | log2 unit), code units: string family
  binary,     // [head] n, bytes
  vector,     // [head] byte k (type << 2 | log2 unit), n, elements
  bitset,     // n, bytes; V complemented
  image,      // [head] width, height, pixels
  entry,      // native!, action!: entry number, spec block
  op,         // one nested record: function!, native! or action!
  error,      // varint code, 6 records
  no_codec,   // triple!, routine!, handle!, port!, event!: never decoded
};

Body body_of(uint32_t type, bool compact = true);
// Values that own a series (or an image's pixels): block family, hash!, map!, the string family,
// binary!, vector!, bitset!, image!.
bool series_body(Body b);
// Series whose V bit in the compact form (or head field in the plain form) carries a head index.
bool has_head(Body b);
// Record kinds that a 0xC1 prefix (plain bit 19) may turn into a reference: series owners, words
// (their binding), object! and function!.
bool may_reference(Body b);

// What the next index of a reference path selects in a value of a type.
enum class Step : uint8_t {
  none,            // a path may not step through this type
  cells,           // block family, hash!, map!: a cell from the buffer's start
  context_values,  // object!: a value of its context
  error_values,    // error!: a context value after code, type and id
  word_context,    // word kinds: a value of the word's context (a function's: as function!)
  spec_cells,      // native!, action!: a cell of the spec block
  function_parts,  // function!, op!: 0 the spec block, 1 the body (function! only)
};
Step step_of(uint32_t type);
constexpr uint32_t kErrorFixedFields = 3;  // code, type, id precede the indexed fields

// Types a reference path may end on to share its series or context with the new value.
bool owns_shareable(uint32_t type);

// ---- Integers -----------------------------------------------------------------------------------

constexpr uint32_t zz_encode(int32_t n) {
  return (static_cast<uint32_t>(n) << 1) ^ static_cast<uint32_t>(n >> 31);
}
constexpr int32_t zz_decode(uint32_t v) {
  return static_cast<int32_t>((v >> 1) ^ (0u - (v & 1)));
}

// ---- Writing ------------------------------------------------------------------------------------

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
  size_t size() const { return out_.size(); }
  void u8(uint8_t b) { out_.push_back(b); }
  void u32(uint32_t w);
  void varint(uint32_t v);
  void zz(int32_t n) { varint(zz_encode(n)); }
  void bytes(const void* data, size_t n);
  void zeros(size_t n) { out_.insert(out_.end(), n, 0); }
  // Zero bytes up to a multiple of 4 (plain data fields).
  void pad4() { zeros((4 - out_.size() % 4) % 4); }
  // A double in the compact form: low word first.
  void double_compact(double d);
  // A double in the plain form: high word first.
  void double_plain(double d);
  void patch_u32(size_t at, uint32_t w);

 private:
  std::vector<uint8_t>& out_;
};

// ---- Reading ------------------------------------------------------------------------------------

class Reader {
 public:
  // Reads [pos, end); offsets count from base (byte 0 of the buffer, or of its unpacked data).
  Reader(const uint8_t* base, const uint8_t* pos, const uint8_t* end)
      : base_(base), pos_(pos), end_(end) {}
  Reader(const uint8_t* data, size_t size) : Reader(data, data, data + size) {}

  size_t offset() const { return static_cast<size_t>(pos_ - base_); }
  size_t left() const { return static_cast<size_t>(end_ - pos_); }
  bool at_end() const { return pos_ >= end_; }
  const uint8_t* pos() const { return pos_; }
  const uint8_t* base() const { return base_; }
  // The reader over the next n bytes only (false when fewer are left); this one moves past them.
  bool sub(size_t n, Reader& part);

  bool u8(uint8_t& b);
  bool peek(uint8_t& b) const;
  bool u32(uint32_t& w);
  // At most five bytes; a fifth byte with any of bits 4-7 set is refused.
  bool varint(uint32_t& v);
  bool zz(int32_t& n);
  bool bytes(size_t n, const uint8_t*& data);
  bool skip(size_t n);
  bool double_compact(double& d);
  bool double_plain(double& d);

 private:
  const uint8_t* base_;
  const uint8_t* pos_;
  const uint8_t* end_;
};

// ---- Symbol table -------------------------------------------------------------------------------

struct SymbolTable {
  uint32_t count = 0;
  uint32_t names_size = 0;
  const uint8_t* offsets = nullptr;  // count u32
  const uint8_t* names = nullptr;    // NUL-ended UTF-8 names, the last byte a NUL
  // The name of entry i; false for an index or offset out of range.
  bool name(uint32_t i, std::string_view& out) const;
};

// What follows the 8 header bytes up to the records.
struct Preamble {
  uint32_t roots = 0;
  uint32_t payload = 0;  // record bytes after the symbol table
  SymbolTable symbols;
};

// Reads the counts and the symbol table of either form, with every size checked against the bytes
// left (a symbol count above a quarter of them, names past them or not ended by NUL, a payload
// past them). On success the reader stands on the first record.
bool read_preamble(Reader& r, bool compact, bool symbols, Preamble& out);

// ---- Record heads -------------------------------------------------------------------------------

enum class HeadKind : uint8_t { typed, small_int, logic_true, logic_false, path };

struct RecordHead {
  bool new_line = false;
  bool reference = false;
  bool definition = false;
  HeadKind kind = HeadKind::typed;
  uint32_t type = 0;    // typed records: a valid TypeId (body not invalid)
  bool variant = false;
  int32_t small = 0;    // small_int: 0..63
};

// Prefixes and the header byte of a compact record. Refused: a definition prefix unless allowed,
// a short form behind a reference or definition prefix, 0xC5-0xFE, a type whose body is invalid.
bool read_compact_head(Reader& r, bool allow_definition, RecordHead& out);

// The header word of a plain record, padding words skipped.
bool read_plain_head(Reader& r, uint32_t& word);

// ---- Reference paths ----------------------------------------------------------------------------

constexpr uint32_t kMaxPathLength = 65536;

// n then n indexes (varints or u32): n in 1..65,536 and never more entries than bytes left. In the
// plain form a reference record starts with the word 0xFF (kPlainReferenceType), which is not part
// of what these read and write.
bool read_path(Reader& r, bool compact, std::vector<uint32_t>& out);
void write_path(Writer& w, bool compact, const uint32_t* indexes, size_t n);

}  // namespace zem::zembin
