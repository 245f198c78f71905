// The value cell and what its words mean for every type: the one place that reads or writes a
// cell's payload words. Every other file goes through the named accessors below.
//
// A cell is four 32-bit words: the header (type id in bits 0-7, flags above) and three payload
// words. References are 32-bit indices (a series holds a node index; platform objects are table
// indices), so the layout is the same on every target.
//
// Payload words by type (w1, w2, w3; "-" unused):
//   datatype!                     w1 the type id
//   logic!                        w1 1 for true (any other value is false)
//   integer!, char!               w2 the signed value or the code point
//   float!, percent!, time!       w2-w3 an IEEE double (low word first)
//   date!                         w1 the packed date word, w2-w3 the time as a double
//   block!, paren!, paths         w1 head index (cells), w2 node
//   string!, file!, url!, tag!,   w1 head index (units), w2 node, w3 node of the cached conversion
//     email!, ref!                   buffer (0 until first made)
//   binary!, bitset!              w1 head index (bytes), w2 node
//   vector!                       w1 head index (elements), w2 node, w3 the element TypeId
//   hash!                         w1 head index, w2 node of the cells, w3 the hash table's node
//   map!                          w1 0, or the position (cells) of a foreach walk over it,
//                                  w2 node of the key/value block, w3 the hash table's node
//   image!                        w1 head pixel, w2 the ImageId of its record in the image table
//                                  (an index with a generation; 0: no pixels), w3 width (low 16
//                                  bits) and height (high 16 bits)
//   word kinds, issue!            w1 binding context (0 unbound), w2 symbol id, w3 index in the
//                                  context (0xFFFFFFFF until resolved)
//   symbol! (symbol table)        w1 alias (-1 canonical), w2 node of the name string (0 until
//                                  asked), w3 node of the name's UTF-8 bytes
//   context!                      w1 word table node, w2 values block node (or the values
//                                  reference of the running call when the values are on the stack)
//   object!, error!, port!        w1 context node, w2 class id, w3 change record node (0: none)
//   function!, routine!           w1 context node, w2 spec node, w3 node of the FunctionMore block
//   native!, action!              w1 entry index, w2 spec node, w3 node of the two-cell block
//                                  (argument context, argument cache)
//   op!                           the payload of its source (native!, action!, function! ...),
//                                  whose type id is kept in header bits 16-23
//   typeset!                      w1-w3 the 96-bit type mask, bytes in memory order
//   pair!                         w2 x, w3 y (signed)
//   point2D!, point3D!            w1 x, w2 y, w3 z as float32 bit patterns
//   tuple!                        the 12 payload bytes are the elements, element 1 the first byte
//                                  in memory; the count sits in header bits 19-22
//   money!                        payload byte 0 the currency index, bytes 1-11 22 BCD digits;
//                                  the sign is header bit 14
//   triple!                       w1-w3 three signed integers
//   handle!                       w1 the kind, w2 the table index, w3 the resource registry
//                                  index (-1: none)
//   event!                        w2 a block node when kEventHasBlock is set
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace zem {

enum TypeId : uint8_t {
  TYPE_NONE_ID = 0,  // unused id
  TYPE_DATATYPE = 1,
  TYPE_UNSET = 2,
  TYPE_NONE = 3,
  TYPE_LOGIC = 4,
  TYPE_BLOCK = 5,
  TYPE_PAREN = 6,
  TYPE_STRING = 7,
  TYPE_FILE = 8,
  TYPE_URL = 9,
  TYPE_CHAR = 10,
  TYPE_INTEGER = 11,
  TYPE_FLOAT = 12,
  TYPE_SYMBOL = 13,
  TYPE_CONTEXT = 14,
  TYPE_WORD = 15,
  TYPE_SET_WORD = 16,
  TYPE_LIT_WORD = 17,
  TYPE_GET_WORD = 18,
  TYPE_REFINEMENT = 19,
  TYPE_ISSUE = 20,
  TYPE_NATIVE = 21,
  TYPE_ACTION = 22,
  TYPE_OP = 23,
  TYPE_FUNCTION = 24,
  TYPE_PATH = 25,
  TYPE_LIT_PATH = 26,
  TYPE_SET_PATH = 27,
  TYPE_GET_PATH = 28,
  TYPE_ROUTINE = 29,
  TYPE_BITSET = 30,
  TYPE_TRIPLE = 31,
  TYPE_OBJECT = 32,
  TYPE_TYPESET = 33,
  TYPE_ERROR = 34,
  TYPE_VECTOR = 35,
  TYPE_HASH = 36,
  TYPE_PAIR = 37,
  TYPE_PERCENT = 38,
  TYPE_TUPLE = 39,
  TYPE_MAP = 40,
  TYPE_BINARY = 41,
  TYPE_SERIES = 42,
  TYPE_TIME = 43,
  TYPE_TAG = 44,
  TYPE_EMAIL = 45,
  TYPE_HANDLE = 46,
  TYPE_DATE = 47,
  TYPE_PORT = 48,
  TYPE_MONEY = 49,
  TYPE_REF = 50,
  TYPE_POINT2D = 51,
  TYPE_POINT3D = 52,
  TYPE_IMAGE = 53,
  TYPE_EVENT = 54,
};

// A node is a 32-bit index into the node table of the memory manager; 0 is never a live node.
using NodeId = uint32_t;

constexpr int kTypeCount = 57;  // rows of the registry tables; ids 1..54 are used
constexpr uint32_t kTypeMask = 0xFF;

// ---- Header flag bits ---------------------------------------------------------------------------
// Each flag names the types whose header carries it; kFlagTable below proves that no two flags of
// one type overlap (and that none touches the type byte).

constexpr uint32_t kNewLineFlag = 1u << 30;  // any value held in a block: a line break before it
// Internal marker cell of the lexer (a triple! that never reaches user code).
constexpr uint32_t kMarkerFlag = 1u << 29;
// function!, routine!, native!, action!: attribute flags from the spec.
constexpr uint32_t kFunctionNoTrace = 0x200;
constexpr uint32_t kFunctionTrace = 0x400;
constexpr uint32_t kFunctionLibrary = 0x800;  // made by the boot library
// A boot-library function whose body has no return or exit of its own: those that code it runs
// raises pass through it to the caller's function.
constexpr uint32_t kFunctionPassesExits = 0x1000;
constexpr uint32_t kRoutineCellConvention = 0x8000;
// routine!: the number of word! entries in its spec (capped at 31), bits 25-29.
constexpr uint32_t kRoutineWordsShift = 25;
constexpr uint32_t kRoutineWordsMask = 0x1Fu << kRoutineWordsShift;
// op!: the type id of the value the op was made from, bits 16-23.
constexpr uint32_t kOpSourceShift = 16;
constexpr uint32_t kOpSourceMask = 0xFFu << kOpSourceShift;
// context!: the kind (global, function, object), values on the argument stack, `self` binding,
// and the object owning its series.
constexpr uint32_t kContextKindShift = 11;
constexpr uint32_t kContextKindMask = 3u << kContextKindShift;
constexpr uint32_t kContextOwned = 0x10000;
constexpr uint32_t kContextOnStack = 0x400000;
constexpr uint32_t kContextSelf = 0x1000000;
// A word in an object's word table: the field was assigned.
constexpr uint32_t kWordSetMark = 0x2000;
// typeset! entries of an argument cache: how the argument is fetched, bits 20-21.
constexpr uint32_t kFetchShift = 20;
constexpr uint32_t kFetchMask = 3u << kFetchShift;
// tuple!: the element count (3-12), bits 19-22.
constexpr uint32_t kTupleCountShift = 19;
constexpr uint32_t kTupleCountMask = 0xFu << kTupleCountShift;
// money!: the sign (1 = negative).
constexpr uint32_t kMoneySign = 1u << 14;
// image!: the image's pixels are watched by an owner.
constexpr uint32_t kImageOwnedFlag = 0x10000;
// event!: w2 holds a block.
constexpr uint32_t kEventHasBlock = 0x1000;

namespace layout_check {
struct FlagUse {
  TypeId type;
  uint32_t mask;
};
inline constexpr FlagUse kFlagTable[] = {
    {TYPE_TRIPLE, kMarkerFlag},
    {TYPE_FUNCTION, kFunctionNoTrace},
    {TYPE_FUNCTION, kFunctionTrace},
    {TYPE_FUNCTION, kFunctionLibrary},
    {TYPE_FUNCTION, kFunctionPassesExits},
    {TYPE_ROUTINE, kFunctionNoTrace},
    {TYPE_ROUTINE, kFunctionTrace},
    {TYPE_ROUTINE, kFunctionLibrary},
    {TYPE_ROUTINE, kRoutineCellConvention},
    {TYPE_ROUTINE, kRoutineWordsMask},
    {TYPE_NATIVE, kFunctionNoTrace},
    {TYPE_NATIVE, kFunctionTrace},
    {TYPE_ACTION, kFunctionNoTrace},
    {TYPE_ACTION, kFunctionTrace},
    // An op keeps its source's header flags beside the source's type id.
    {TYPE_OP, kOpSourceMask},
    {TYPE_OP, kFunctionNoTrace},
    {TYPE_OP, kFunctionTrace},
    {TYPE_OP, kFunctionLibrary},
    {TYPE_OP, kFunctionPassesExits},
    {TYPE_OP, kRoutineCellConvention},
    {TYPE_OP, kRoutineWordsMask},
    {TYPE_CONTEXT, kContextKindMask},
    {TYPE_CONTEXT, kContextOwned},
    {TYPE_CONTEXT, kContextOnStack},
    {TYPE_CONTEXT, kContextSelf},
    {TYPE_WORD, kWordSetMark},
    {TYPE_SET_WORD, kWordSetMark},
    {TYPE_TYPESET, kFetchMask},
    {TYPE_TUPLE, kTupleCountMask},
    {TYPE_MONEY, kMoneySign},
    {TYPE_IMAGE, kImageOwnedFlag},
    {TYPE_EVENT, kEventHasBlock},
};
constexpr bool flags_disjoint() {
  for (const FlagUse& a : kFlagTable) {
    if (a.mask & (kTypeMask | kNewLineFlag)) return false;
    for (const FlagUse& b : kFlagTable)
      if (&a != &b && a.type == b.type && (a.mask & b.mask)) return false;
  }
  return true;
}
static_assert(flags_disjoint(), "two header flags of one type share a bit");
}  // namespace layout_check

// ---- The cell -----------------------------------------------------------------------------------

class CallShape;

struct Cell {
  uint32_t header;

  // Left uninitialised, as a plain struct; Cell{} is all zero.
  Cell() = default;
  // A value from its header and payload words: the constructors of values and of internal records.
  constexpr Cell(uint32_t h, uint32_t w1, uint32_t w2, uint32_t w3)
      : header(h), w1_(w1), w2_(w2), w3_(w3) {}

  // Generic: type and new-line marker.
  TypeId type() const { return static_cast<TypeId>(header & kTypeMask); }
  bool is(TypeId t) const { return (header & kTypeMask) == t; }
  bool new_line() const { return (header & kNewLineFlag) != 0; }
  void set_new_line(bool on) { header = on ? (header | kNewLineFlag) : (header & ~kNewLineFlag); }
  // Constructors of values write the whole header: type id with every flag clear.
  void set_header(TypeId t) { header = t; }
  // Changes the type only; the flag bits stay.
  void set_type(TypeId t) { header = (header & ~kTypeMask) | t; }
  bool has_flag(uint32_t flag) const { return (header & flag) != 0; }
  void set_flag(uint32_t flag, bool on) { header = on ? (header | flag) : (header & ~flag); }

  // The payload as raw words, for code that treats every type alike: hashing and `same?` by bits,
  // serialisation of the 12 payload bytes, copying a payload under another header.
  std::array<uint32_t, 3> raw_words() const { return {w1_, w2_, w3_}; }
  void set_raw_words(uint32_t w1, uint32_t w2, uint32_t w3) {
    w1_ = w1;
    w2_ = w2;
    w3_ = w3;
  }
  bool same_payload(const Cell& o) const {
    return w1_ == o.w1_ && w2_ == o.w2_ && w3_ == o.w3_;
  }

  // datatype!
  TypeId datatype_id() const { return static_cast<TypeId>(w1_); }
  void set_datatype_id(uint32_t t) { w1_ = t; }

  // logic!
  bool logic_value() const { return w1_ == 1; }
  void set_logic_value(bool on) { w1_ = on ? 1 : 0; }

  // integer!, char! (and the integer cells of internal records).
  int32_t int_value() const { return static_cast<int32_t>(w2_); }
  void set_int_value(int32_t v) { w2_ = static_cast<uint32_t>(v); }
  uint32_t char_value() const { return w2_; }
  void set_char_value(uint32_t cp) { w2_ = cp; }

  // float!, percent!, time!, and the time of a date!.
  double float_value() const {
    return std::bit_cast<double>((static_cast<uint64_t>(w3_) << 32) | w2_);
  }
  void set_float_payload(double d) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    w2_ = static_cast<uint32_t>(bits);
    w3_ = static_cast<uint32_t>(bits >> 32);
  }
  uint32_t float_low_word() const { return w2_; }
  uint32_t float_high_word() const { return w3_; }
  void set_float_words(uint32_t high, uint32_t low) {
    w2_ = low;
    w3_ = high;
  }

  // Series: block kinds, string kinds, binary!, bitset!, vector!, hash!, image! (head pixel),
  // map! (the position of a foreach walk; w2 the entry block).
  uint32_t head_index() const { return w1_; }
  NodeId node() const { return w2_; }
  void set_head_index(uint32_t head) { w1_ = head; }
  void set_node(NodeId n) { w2_ = n; }
  void set_series(uint32_t head, NodeId n) {
    w1_ = head;
    w2_ = n;
  }
  // String kinds: the cached conversion buffer.
  NodeId text_cache() const { return w3_; }
  void set_text_cache(NodeId n) { w3_ = n; }
  // A hashing slice (an internal string cell of the hash tables): the characters hashed from the
  // head, negative for all up to the tail.
  int32_t slice_length() const { return static_cast<int32_t>(w3_); }
  void set_slice_length(int32_t n) { w3_ = static_cast<uint32_t>(n); }
  // vector!: the element type.
  TypeId vector_type() const { return static_cast<TypeId>(w3_); }
  void set_vector_type(TypeId t) { w3_ = t; }
  // hash!, map!: the hash table's node.
  NodeId hash_table() const { return w3_; }
  void set_hash_table(NodeId n) { w3_ = n; }
  // image!: the ImageId of its record (services/image/image_store.h), 0 without pixels.
  uint32_t image_id() const { return w2_; }
  void set_image_id(uint32_t id) { w2_ = id; }
  // image!: size, width in the low 16 bits, height in the high 16.
  uint32_t image_width() const { return w3_ & 0xFFFF; }
  uint32_t image_height() const { return w3_ >> 16; }
  void set_image_size(uint32_t width, uint32_t height) { w3_ = (width & 0xFFFF) | (height << 16); }

  // Word kinds and issue!.
  NodeId word_context() const { return w1_; }
  uint32_t word_symbol() const { return w2_; }
  uint32_t word_index() const { return w3_; }
  bool word_resolved() const { return w3_ != kNoIndex; }
  void set_word_context(NodeId ctx) { w1_ = ctx; }
  void set_word_symbol(uint32_t sym) { w2_ = sym; }
  void set_word_index(uint32_t i) { w3_ = i; }
  void set_word(NodeId ctx, uint32_t sym, uint32_t index) {
    w1_ = ctx;
    w2_ = sym;
    w3_ = index;
  }
  static constexpr uint32_t kNoIndex = 0xFFFFFFFFu;
  // A refinement! entry of an argument cache: its 1-based number among the function's refinements,
  // kept where a word keeps its index.
  uint32_t refinement_number() const { return w3_; }
  void set_refinement_number(uint32_t n) { w3_ = n; }

  // Symbol table entries.
  int32_t symbol_alias() const { return static_cast<int32_t>(w1_); }
  NodeId symbol_string() const { return w2_; }
  NodeId symbol_utf8() const { return w3_; }
  void set_symbol_alias(int32_t a) { w1_ = static_cast<uint32_t>(a); }
  void set_symbol_string(NodeId n) { w2_ = n; }
  void set_symbol_utf8(NodeId n) { w3_ = n; }

  // context!
  NodeId context_words() const { return w1_; }
  uint32_t context_values() const { return w2_; }
  void set_context_words(NodeId n) { w1_ = n; }
  void set_context_values(uint32_t v) { w2_ = v; }
  // The kind (global, function, object), header bits 11-12.
  uint32_t context_kind() const { return (header & kContextKindMask) >> kContextKindShift; }
  void set_context_kind(uint32_t k) {
    header = (header & ~kContextKindMask) | ((k << kContextKindShift) & kContextKindMask);
  }

  // object!, error!, port!.
  NodeId object_context() const { return w1_; }
  uint32_t object_class() const { return w2_; }
  NodeId object_record() const { return w3_; }
  void set_object(NodeId ctx, uint32_t class_id, NodeId record) {
    w1_ = ctx;
    w2_ = class_id;
    w3_ = record;
  }
  void set_object_context(NodeId ctx) { w1_ = ctx; }
  void set_object_class(uint32_t class_id) { w2_ = class_id; }
  void set_object_record(NodeId record) { w3_ = record; }
  // A change record's entry (a pair! cell): the handler's field index (high 16 bits of w2; 0xFFFF
  // for none) and /local slot count (low 16 bits), and in w3 its spec node.
  uint32_t handler_field() const { return w2_ >> 16; }
  uint32_t handler_locals() const { return w2_ & 0xFFFF; }
  NodeId handler_spec() const { return w3_; }
  void set_handler(uint32_t field, uint32_t locals, NodeId spec) {
    w2_ = (field << 16) | (locals & 0xFFFF);
    w3_ = spec;
  }

  // function!, routine! (context, spec, FunctionMore) and native!, action! (entry, spec, more).
  NodeId fn_context() const { return w1_; }
  uint32_t fn_entry() const { return w1_; }
  NodeId fn_spec() const { return w2_; }
  NodeId fn_more() const { return w3_; }
  void set_fn(uint32_t context_or_entry, NodeId spec, NodeId more) {
    w1_ = context_or_entry;
    w2_ = spec;
    w3_ = more;
  }
  void set_fn_context(NodeId ctx) { w1_ = ctx; }
  void set_fn_spec(NodeId spec) { w2_ = spec; }
  void set_fn_more(NodeId more) { w3_ = more; }
  // op!: the type of its source; its payload is the source's.
  TypeId op_source() const { return static_cast<TypeId>((header & kOpSourceMask) >> kOpSourceShift); }
  void set_op_source(TypeId t) {
    header = (header & ~kOpSourceMask) | (static_cast<uint32_t>(t) << kOpSourceShift);
  }
  // routine!: word! entries of the spec.
  uint32_t routine_words() const { return (header & kRoutineWordsMask) >> kRoutineWordsShift; }
  void set_routine_words(uint32_t n) {
    header = (header & ~kRoutineWordsMask) | ((n << kRoutineWordsShift) & kRoutineWordsMask);
  }

  // typeset!: three mask words.
  uint32_t typeset_word(uint32_t i) const { return i == 0 ? w1_ : i == 1 ? w2_ : w3_; }
  void set_typeset_words(uint32_t w1, uint32_t w2, uint32_t w3) { set_raw_words(w1, w2, w3); }
  void set_typeset_word(uint32_t i, uint32_t w) { (i == 0 ? w1_ : i == 1 ? w2_ : w3_) = w; }
  // typeset! entries of an argument cache: the fetch kind.
  uint32_t fetch_kind() const { return (header & kFetchMask) >> kFetchShift; }
  void set_fetch_kind(uint32_t k) { header = (header & ~kFetchMask) | ((k << kFetchShift) & kFetchMask); }

  // pair!
  int32_t pair_x() const { return static_cast<int32_t>(w2_); }
  int32_t pair_y() const { return static_cast<int32_t>(w3_); }
  void set_pair_xy(int32_t x, int32_t y) {
    w2_ = static_cast<uint32_t>(x);
    w3_ = static_cast<uint32_t>(y);
  }

  // point2D!, point3D!
  float point_x() const { return std::bit_cast<float>(w1_); }
  float point_y() const { return std::bit_cast<float>(w2_); }
  float point_z() const { return std::bit_cast<float>(w3_); }
  void set_point_xyz(float x, float y, float z) {
    w1_ = std::bit_cast<uint32_t>(x);
    w2_ = std::bit_cast<uint32_t>(y);
    w3_ = std::bit_cast<uint32_t>(z);
  }

  // tuple!: elements are payload bytes 0-11; the count in the header.
  uint32_t tuple_count() const { return (header & kTupleCountMask) >> kTupleCountShift; }
  void set_tuple_count(uint32_t n) {
    header = (header & ~kTupleCountMask) | ((n << kTupleCountShift) & kTupleCountMask);
  }
  uint8_t tuple_at(uint32_t i) const { return payload_byte(i); }
  void set_tuple_at(uint32_t i, uint8_t v) { set_payload_byte(i, v); }

  // money!: payload byte 0 the currency, bytes 1-11 the BCD digits, the sign in the header.
  uint8_t money_currency() const { return payload_byte(0); }
  void set_money_currency(uint8_t c) { set_payload_byte(0, c); }
  uint8_t money_digit_byte(uint32_t i) const { return payload_byte(1 + i); }  // i in 0..10
  void set_money_digit_byte(uint32_t i, uint8_t v) { set_payload_byte(1 + i, v); }
  bool money_negative() const { return (header & kMoneySign) != 0; }
  void set_money_negative(bool on) { set_flag(kMoneySign, on); }

  // The 12 payload bytes in memory order (tuple!, money!): byte 0 is the lowest byte of w1 on
  // this little-endian target.
  uint8_t payload_byte(uint32_t i) const {
    uint32_t w = i < 4 ? w1_ : i < 8 ? w2_ : w3_;
    return static_cast<uint8_t>(w >> ((i & 3) * 8));
  }
  void set_payload_byte(uint32_t i, uint8_t v) {
    uint32_t& w = i < 4 ? w1_ : i < 8 ? w2_ : w3_;
    uint32_t shift = (i & 3) * 8;
    w = (w & ~(0xFFu << shift)) | (static_cast<uint32_t>(v) << shift);
  }

  // date!: the packed date word and the time (float_value).
  uint32_t date_word() const { return w1_; }
  void set_date_word(uint32_t d) { w1_ = d; }

  // triple!
  int32_t triple_at(uint32_t i) const { return static_cast<int32_t>(typeset_word(i)); }
  void set_triple_at(uint32_t i, int32_t v) {
    (i == 0 ? w1_ : i == 1 ? w2_ : w3_) = static_cast<uint32_t>(v);
  }
  void set_triple(int32_t a, int32_t b, int32_t c) {
    set_raw_words(static_cast<uint32_t>(a), static_cast<uint32_t>(b), static_cast<uint32_t>(c));
  }

  // handle!
  uint32_t handle_kind() const { return w1_; }
  uint32_t handle_index() const { return w2_; }
  void set_handle(uint32_t kind, uint32_t index) {
    w1_ = kind;
    w2_ = index;
    w3_ = 0xFFFFFFFFu;
  }
  // The resource the handle keeps alive, -1 when none.
  int32_t handle_resource() const { return static_cast<int32_t>(w3_); }
  void set_handle_resource(int32_t r) { w3_ = static_cast<uint32_t>(r); }

  // The lexer's container marker (a triple! with kMarkerFlag): w1 the cells back to the enclosing
  // marker (0: none), w2 the container's type id with the comma count from bit 16 up, w3 the
  // opener's byte offset in the input.
  uint32_t marker_outer() const { return w1_; }
  TypeId marker_type() const { return static_cast<TypeId>(w2_ & 0xFFFF); }
  uint32_t marker_commas() const { return w2_ >> 16; }
  uint32_t marker_opener() const { return w3_; }
  void set_marker_container(TypeId type, uint32_t commas) { w2_ = (commas << 16) | type; }
  void set_marker(uint32_t outer, TypeId type, uint32_t opener) {
    w1_ = outer;
    w2_ = type;
    w3_ = opener;
  }

  // event!: the block an event carries.
  NodeId event_block() const { return w2_; }

  // Internal records of the runtime kept in cells (resources, slices): one 32-bit word each.
  uint32_t record_word(uint32_t i) const { return typeset_word(i); }
  void set_record_word(uint32_t i, uint32_t v) { (i == 0 ? w1_ : i == 1 ? w2_ : w3_) = v; }


 private:
  // Reached only through the accessors above.
  uint32_t w1_;
  uint32_t w2_;
  uint32_t w3_;

  friend CallShape call_shape_of(const Cell& holder);
  friend void set_call_shape(Cell& holder, CallShape s);
};
static_assert(sizeof(Cell) == 16, "a value cell is four 32-bit words");
static_assert(std::is_trivially_copyable_v<Cell>, "cells are moved and copied as bytes");
static_assert(std::endian::native == std::endian::little, "payload bytes are laid out little-endian");

// ---- Call shapes --------------------------------------------------------------------------------
// How a call that names no refinement fills its frame, kept in the third word of the cache holder
// of a function!, native! or action!: the number of mandatory arguments, the extra slots that
// follow them (function!: refinements and locals; natives: refinements) and which of those start
// as logic false; whether every argument takes any value but unset!; and whether the shape is
// usable at all (functions with other fetch kinds or too many slots take the general call).
class CallShape {
 public:
  static constexpr uint32_t kMaxArgs = 31;
  static constexpr uint32_t kMaxExtra = 16;

  constexpr CallShape() = default;
  static constexpr CallShape from_bits(uint32_t bits) { return CallShape(bits); }
  static constexpr CallShape make(uint32_t args, uint32_t extra, uint32_t falses, bool untyped) {
    return CallShape(kUsable | (untyped ? kUntyped : 0) | (args & 31) | ((extra & 31) << 5) |
                     ((falses & 0xFFFF) << 10));
  }
  constexpr uint32_t bits() const { return bits_; }
  constexpr bool usable() const { return (bits_ & kUsable) != 0; }
  constexpr bool untyped() const { return (bits_ & kUntyped) != 0; }
  constexpr uint32_t args() const { return bits_ & 31; }
  constexpr uint32_t extra() const { return (bits_ >> 5) & 31; }
  // Bit i set: extra slot i starts as logic false (a refinement), else none (a local).
  constexpr uint32_t falses() const { return (bits_ >> 10) & 0xFFFF; }

 private:
  static constexpr uint32_t kUsable = 0x80000000u;
  static constexpr uint32_t kUntyped = 0x40000000u;
  constexpr explicit CallShape(uint32_t bits) : bits_(bits) {}
  uint32_t bits_ = 0;
};

// The cache holder (a block! cell) keeps the call shape in its third word.
inline CallShape call_shape_of(const Cell& holder) { return CallShape::from_bits(holder.w3_); }
inline void set_call_shape(Cell& holder, CallShape s) { holder.w3_ = s.bits(); }

}  // namespace zem
