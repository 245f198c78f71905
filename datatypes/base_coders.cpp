// The base-2, base-16, base-58 and base-64 encoders and decoders over plain memory.
#include "datatypes/base_coders.h"

#include <array>
#include <cstring>
#include <vector>

namespace zem::basecode {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase58[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char kHex[] = "0123456789ABCDEF";

// Decode table entries beside the digit values.
constexpr uint8_t kSkip = 0x40;
constexpr uint8_t kInvalid = 0x80;

// Backspace, tab, line feed, form feed, carriage return, space and the apostrophe are skipped.
constexpr std::array<uint8_t, 128> make_table(const char* alphabet, int size) {
  std::array<uint8_t, 128> t{};
  for (auto& e : t) e = kInvalid;
  for (int c : {8, 9, 10, 12, 13, 32, 39}) t[c] = kSkip;
  for (int i = 0; i < size; i++) t[static_cast<uint8_t>(alphabet[i])] = static_cast<uint8_t>(i);
  return t;
}
constexpr auto kBase64Table = [] {
  auto t = make_table(kBase64, 64);
  t['='] = 0;  // padding, handled before the table is read
  return t;
}();
constexpr auto kBase58Table = make_table(kBase58, 58);

inline int hex_value(uint32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

// Reads code points of one unit size. `i` is advanced by the callers.
template <uint32_t U>
inline uint32_t unit_at(const uint8_t* text, size_t i) {
  if constexpr (U == 1) {
    return text[i];
  } else if constexpr (U == 2) {
    uint16_t v;
    std::memcpy(&v, text + i * 2, 2);
    return v;
  } else {
    uint32_t v;
    std::memcpy(&v, text + i * 4, 4);
    return v;
  }
}

// Skips a comment starting at i (the ";"); answers the index after its line feed, or count.
template <uint32_t U>
inline size_t skip_comment(const uint8_t* text, size_t i, size_t count) {
  while (i < count && unit_at<U>(text, i) != '\n') i++;
  return i < count ? i + 1 : count;
}

// The step every decoder shares: passes each code point from index i on, outside ";" comments, to
// `take`, which answers kGo to go on, kStop at the end of the data or kBad for an invalid text.
enum Step { kGo, kStop, kBad };
template <uint32_t U, class F>
inline Step each_code_point(const uint8_t* text, size_t i, size_t count, F&& take) {
  while (i < count) {
    uint32_t c = unit_at<U>(text, i);
    if (c == ';') {
      i = skip_comment<U>(text, i, count);
      continue;
    }
    i++;
    if (Step s = take(c); s != kGo) return s;
  }
  return kGo;
}

template <uint32_t U>
int64_t base2(const uint8_t* text, size_t count, uint8_t* out) {
  uint8_t* o = out;
  uint32_t acc = 0;
  int bits = 0;
  Step s = each_code_point<U>(text, 0, count, [&](uint32_t c) {
    if (c <= 32) return kGo;
    if (c != '0' && c != '1') return kBad;
    acc = acc << 1 | (c - '0');
    if (++bits == 8) {
      *o++ = static_cast<uint8_t>(acc);
      acc = 0;
      bits = 0;
    }
    return kGo;
  });
  if (s == kBad || bits != 0) return -1;
  return o - out;
}

template <uint32_t U>
int64_t base16(const uint8_t* text, size_t count, uint8_t* out) {
  uint8_t* o = out;
  uint32_t acc = 0;
  bool half = false;
  Step s = each_code_point<U>(text, 0, count, [&](uint32_t c) {
    if (c <= 32) return kGo;
    int d = hex_value(c);  // none above 127
    if (d < 0) return kBad;
    acc = acc << 4 | static_cast<uint32_t>(d);
    if (half) *o++ = static_cast<uint8_t>(acc);
    half = !half;
    return kGo;
  });
  if (s == kBad) return -1;
  return o - out;  // a final unpaired digit is dropped
}

template <uint32_t U>
int64_t base64(const uint8_t* text, size_t count, uint8_t* out) {
  uint8_t* o = out;
  uint32_t acc = 0;
  int have = 0;
  size_t i = 0;
  if constexpr (U == 1) {
    // Whole groups of four plain digits, the common case of long texts, without the per-character
    // tests below.
    while (i + 4 <= count) {
      const uint8_t* t = text + i;
      if ((t[0] | t[1] | t[2] | t[3]) & 0x80) break;
      uint8_t a = kBase64Table[t[0]], b = kBase64Table[t[1]], c = kBase64Table[t[2]], d = kBase64Table[t[3]];
      if (((a | b | c | d) & 0xC0) || t[0] == '=' || t[1] == '=' || t[2] == '=' || t[3] == '=') break;
      uint32_t v = uint32_t(a) << 18 | uint32_t(b) << 12 | uint32_t(c) << 6 | d;
      o[0] = static_cast<uint8_t>(v >> 16);
      o[1] = static_cast<uint8_t>(v >> 8);
      o[2] = static_cast<uint8_t>(v);
      o += 3;
      i += 4;
    }
  }
  Step s = each_code_point<U>(text, i, count, [&](uint32_t c) {
    if (c >= 128) return kBad;
    if (c == '=') {  // ends the data
      if (have == 3) {
        *o++ = static_cast<uint8_t>(acc >> 10);
        *o++ = static_cast<uint8_t>(acc >> 2);
      } else if (have == 2) {
        *o++ = static_cast<uint8_t>(acc >> 4);
      } else {
        return kBad;
      }
      return kStop;
    }
    uint8_t v = kBase64Table[c];
    if (v == kSkip) return kGo;
    if (v == kInvalid) return kBad;
    acc = acc << 6 | v;
    if (++have == 4) {
      *o++ = static_cast<uint8_t>(acc >> 16);
      *o++ = static_cast<uint8_t>(acc >> 8);
      *o++ = static_cast<uint8_t>(acc);
      acc = 0;
      have = 0;
    }
    return kGo;
  });
  if (s == kBad) return -1;
  return o - out;  // the symbols of an unpadded final group are dropped
}

template <uint32_t U>
int64_t base58(const uint8_t* text, size_t count, uint8_t* out) {
  std::vector<uint8_t> digits;
  digits.reserve(count);
  Step s = each_code_point<U>(text, 0, count, [&](uint32_t c) {
    if (c >= 128) return kBad;  // refused like any other character outside the alphabet
    uint8_t v = kBase58Table[c];
    if (v == kSkip) return kGo;
    if (v == kInvalid) return kBad;
    digits.push_back(v);
    return kGo;
  });
  if (s == kBad) return -1;
  size_t zeros = 0;
  while (zeros < digits.size() && digits[zeros] == 0) zeros++;
  // The number, least significant byte first: each digit multiplies it by 58 and adds.
  std::vector<uint8_t> number;
  number.reserve(digits.size());
  for (size_t k = zeros; k < digits.size(); k++) {
    uint32_t carry = digits[k];
    for (uint8_t& byte : number) {
      carry += uint32_t(byte) * 58;
      byte = static_cast<uint8_t>(carry);
      carry >>= 8;
    }
    while (carry) {
      number.push_back(static_cast<uint8_t>(carry));
      carry >>= 8;
    }
  }
  std::memset(out, 0, zeros);
  for (size_t k = 0; k < number.size(); k++) out[zeros + k] = number[number.size() - 1 - k];
  return static_cast<int64_t>(zeros + number.size());
}

template <int64_t (*F1)(const uint8_t*, size_t, uint8_t*), int64_t (*F2)(const uint8_t*, size_t, uint8_t*),
          int64_t (*F4)(const uint8_t*, size_t, uint8_t*)>
int64_t by_unit(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out) {
  switch (unit) {
    case 1:
      return F1(text, count, out);
    case 2:
      return F2(text, count, out);
    case 4:
      return F4(text, count, out);
    default:
      return -1;
  }
}

}  // namespace

uint64_t encoded_size(int base, uint64_t n) {
  switch (base) {
    case 2:
      return n * 8;
    case 16:
      return n * 2;
    case 58:
      return n * 2;
    default:
      return (n + 2) / 3 * 4;
  }
}

uint64_t decoded_capacity(int base, uint64_t count) {
  switch (base) {
    case 2:
      return count / 8 + 1;
    case 16:
      return count / 2 + 1;
    case 58:
      return count + 1;
    default:
      return (3 * count + 9) / 4;
  }
}

char* encode_base2(char* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; i++)
    for (int b = 7; b >= 0; b--) *dst++ = static_cast<char>('0' + ((src[i] >> b) & 1));
  return dst;
}

char* encode_base16(char* dst, const uint8_t* src, size_t n) {
  for (size_t i = 0; i < n; i++) {
    *dst++ = kHex[src[i] >> 4];
    *dst++ = kHex[src[i] & 15];
  }
  return dst;
}

char* encode_base58(char* dst, const uint8_t* src, size_t n) {
  size_t zeros = 0;
  while (zeros < n && src[zeros] == 0) zeros++;
  // The digits, least significant first: each byte multiplies the number by 256 and adds.
  std::vector<uint8_t> digits;
  digits.reserve((n - zeros) * 138 / 100 + 1);
  for (size_t i = zeros; i < n; i++) {
    uint32_t carry = src[i];
    for (uint8_t& d : digits) {
      carry += uint32_t(d) << 8;
      d = static_cast<uint8_t>(carry % 58);
      carry /= 58;
    }
    while (carry) {
      digits.push_back(static_cast<uint8_t>(carry % 58));
      carry /= 58;
    }
  }
  for (size_t i = 0; i < zeros; i++) *dst++ = '1';
  for (size_t k = digits.size(); k > 0; k--) *dst++ = kBase58[digits[k - 1]];
  return dst;
}

char* encode_base64(char* dst, const uint8_t* src, size_t n) {
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t v = uint32_t(src[i]) << 16 | uint32_t(src[i + 1]) << 8 | src[i + 2];
    dst[0] = kBase64[v >> 18];
    dst[1] = kBase64[(v >> 12) & 63];
    dst[2] = kBase64[(v >> 6) & 63];
    dst[3] = kBase64[v & 63];
    dst += 4;
  }
  if (n - i == 1) {
    *dst++ = kBase64[src[i] >> 2];
    *dst++ = kBase64[(src[i] & 3) << 4];
    *dst++ = '=';
    *dst++ = '=';
  } else if (n - i == 2) {
    *dst++ = kBase64[src[i] >> 2];
    *dst++ = kBase64[((src[i] & 3) << 4) | (src[i + 1] >> 4)];
    *dst++ = kBase64[(src[i + 1] & 15) << 2];
    *dst++ = '=';
  }
  return dst;
}

int64_t decode_base2(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out) {
  return by_unit<base2<1>, base2<2>, base2<4>>(text, count, unit, out);
}
int64_t decode_base16(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out) {
  return by_unit<base16<1>, base16<2>, base16<4>>(text, count, unit, out);
}
int64_t decode_base58(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out) {
  return by_unit<base58<1>, base58<2>, base58<4>>(text, count, unit, out);
}
int64_t decode_base64(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out) {
  return by_unit<base64<1>, base64<2>, base64<4>>(text, count, unit, out);
}

int64_t decode(int base, const uint8_t* text, size_t count, uint32_t unit, uint8_t* out) {
  switch (base) {
    case 2:
      return decode_base2(text, count, unit, out);
    case 16:
      return decode_base16(text, count, unit, out);
    case 58:
      return decode_base58(text, count, unit, out);
    case 64:
      return decode_base64(text, count, unit, out);
    default:
      return -1;
  }
}

char* encode(int base, char* dst, const uint8_t* src, size_t n) {
  switch (base) {
    case 2:
      return encode_base2(dst, src, n);
    case 16:
      return encode_base16(dst, src, n);
    case 58:
      return encode_base58(dst, src, n);
    default:
      return encode_base64(dst, src, n);
  }
}

}  // namespace zem::basecode
