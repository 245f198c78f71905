// The checksum service: CRC-32, Adler-32, the Internet checksum, EVP digests and HMAC. libcrypto is
// loaded on the first digest; without it a digest raises access cannot-open.
#include "services/checksum.h"

#include <openssl/evp.h>

#include <array>
#include <cstring>

#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/error.h"
#include "services/lazy_library.h"

namespace zem::checksum {

namespace {

// Canonical symbols of the method words, in interning order.
enum Word { kWTcp, kWMd5, kWSha1, kWCrc32, kWAdler32, kWSha256, kWSha384, kWSha512, kWHash, kWords };
constexpr const char* kNames[kWords] = {"tcp", "md5", "sha1", "crc32", "adler32",
                                        "sha256", "sha384", "sha512", "hash"};
uint32_t method_syms[kWords];

int word_of(uint32_t sym) {
  if (sym == 0) return -1;
  uint32_t c = symbol::canonical_id(sym);
  for (int i = 0; i < kWords; i++)
    if (method_syms[i] == c) return i;
  return -1;
}

// Table k gives the CRC of a byte followed by k zero bytes, so eight bytes take eight lookups
// that do not wait on one another (slice-by-8).
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;
CrcTables make_crc_tables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (int k = 1; k < 8; k++)
    for (uint32_t i = 0; i < 256; i++) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// libcrypto, loaded on the first digest.
struct CryptoApi {
  decltype(&EVP_md5) md5;
  decltype(&EVP_sha1) sha1;
  decltype(&EVP_sha256) sha256;
  decltype(&EVP_sha384) sha384;
  decltype(&EVP_sha512) sha512;
  decltype(&EVP_Digest) digest;
  decltype(&EVP_MD_CTX_new) ctx_new;
  decltype(&EVP_MD_CTX_free) ctx_free;
  decltype(&EVP_DigestInit_ex) init;
  decltype(&EVP_DigestUpdate) update;
  decltype(&EVP_DigestFinal_ex) final;
};
CryptoApi crypto_api;

// Raises access cannot-open when the library cannot be loaded.
const CryptoApi& crypto() {
  constexpr const char* kLibrary = "libcrypto.so.3";
  static const bool bound = lazy::bind(
      kLibrary, {{"EVP_md5", &crypto_api.md5}, {"EVP_sha1", &crypto_api.sha1},
                 {"EVP_sha256", &crypto_api.sha256}, {"EVP_sha384", &crypto_api.sha384},
                 {"EVP_sha512", &crypto_api.sha512},
                 {"EVP_Digest", &crypto_api.digest}, {"EVP_MD_CTX_new", &crypto_api.ctx_new},
                 {"EVP_MD_CTX_free", &crypto_api.ctx_free}, {"EVP_DigestInit_ex", &crypto_api.init},
                 {"EVP_DigestUpdate", &crypto_api.update}, {"EVP_DigestFinal_ex", &crypto_api.final}});
  if (!bound) lazy::missing(kLibrary);
  return crypto_api;
}

const EVP_MD* evp_of(int id) {
  switch (id) {
    case kMd5: return crypto().md5();
    case kSha1: return crypto().sha1();
    case kSha256: return crypto().sha256();
    case kSha384: return crypto().sha384();
    case kSha512: return crypto().sha512();
    default: return nullptr;
  }
}

}  // namespace

void init() {
  for (int i = 0; i < kWords; i++) method_syms[i] = symbol::canonical_id(symbol::intern_c_name(kNames[i]));
}

uint32_t crc32(const uint8_t* p, size_t n) {
  static const CrcTables t = make_crc_tables();  // built once, on first use
  uint32_t c = 0xFFFFFFFFu;
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t lo = c ^ le32(p), hi = le32(p + 4);
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
        t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; n > 0; n--) c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
  return ~c;
}

uint32_t adler32(const uint8_t* p, size_t n) {
  // 3,854 bytes is the longest chunk whose sums stay within a signed 32-bit integer.
  constexpr size_t kChunk = 3854;
  constexpr uint32_t kMod = 65521;
  uint32_t a = 1, b = 0;
  while (n > 0) {
    size_t k = n < kChunk ? n : kChunk;
    n -= k;
    while (k--) {
      a += *p++;
      b += a;
    }
    a %= kMod;
    b %= kMod;
  }
  return (b << 16) | a;
}

uint16_t tcp(const uint8_t* p, size_t n) {
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 1 < n; i += 2) sum += (static_cast<uint32_t>(p[i]) << 8) | p[i + 1];
  if (i < n) sum += static_cast<uint32_t>(p[i]) << 8;  // an odd last byte is a word's high byte
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum & 0xFFFF);
}

bool method_valid(uint32_t sym) { return word_of(sym) >= 0; }

bool is_method(uint32_t sym, const char* name) {
  int w = word_of(sym);
  return w >= 0 && std::strcmp(kNames[w], name) == 0;
}

int method_id(uint32_t sym) {
  switch (word_of(sym)) {
    case kWTcp: return kTcp;
    case kWCrc32: return kCrc32;
    case kWMd5: return kMd5;
    case kWSha1: return kSha1;
    case kWSha256: return kSha256;
    case kWSha384: return kSha384;
    case kWSha512: return kSha512;
    default: return -1;
  }
}

int digest_length(int id) {
  switch (id) {
    case kMd5: return 16;
    case kSha1: return 20;
    case kSha256: return 32;
    case kSha384: return 48;
    case kSha512: return 64;
    default: return 0;
  }
}

void crypto_digest(const uint8_t* bytes, size_t n, int id, uint8_t* out) {
  const EVP_MD* md = evp_of(id);
  if (!md) {
    Cell num = make_integer(id);
    fire(Err::script_invalid_arg, &num);
  }
  unsigned int len = 0;
  // A library failure is reported, not left as unspecified bytes.
  if (crypto_api.digest(bytes ? bytes : reinterpret_cast<const uint8_t*>(""), n, out, &len, md, nullptr) != 1) {
    Cell num = make_integer(id);
    fire(Err::script_invalid_arg, &num);
  }
}

void hmac(const uint8_t* data, size_t n, const uint8_t* key, size_t key_len, int id, uint8_t* out) {
  const size_t block = (id == kSha384 || id == kSha512) ? 128 : 64;
  const size_t dlen = static_cast<size_t>(digest_length(id));
  uint8_t k[128] = {};
  if (key_len > block) {
    crypto_digest(key, key_len, id, k);
  } else if (key_len > 0) {
    std::memcpy(k, key, key_len);
  }
  // inner: digest(k ^ 0x36 ... followed by the data); outer: digest(k ^ 0x5C ... followed by inner)
  const CryptoApi& api = crypto();
  EVP_MD_CTX* ctx = api.ctx_new();
  uint8_t pad[128];
  uint8_t inner[kDigestRoom];
  bool ok = ctx != nullptr;
  for (size_t i = 0; i < block; i++) pad[i] = k[i] ^ 0x36;
  ok = ok && api.init(ctx, evp_of(id), nullptr) == 1 && api.update(ctx, pad, block) == 1 &&
       (n == 0 || api.update(ctx, data, n) == 1) && api.final(ctx, inner, nullptr) == 1;
  for (size_t i = 0; i < block; i++) pad[i] = k[i] ^ 0x5C;
  ok = ok && api.init(ctx, evp_of(id), nullptr) == 1 && api.update(ctx, pad, block) == 1 &&
       api.update(ctx, inner, dlen) == 1 && api.final(ctx, out, nullptr) == 1;
  api.ctx_free(ctx);
  if (!ok) {
    Cell num = make_integer(id);
    fire(Err::script_invalid_arg, &num);
  }
}

int hmac_checked(const uint8_t* data, size_t n, const uint8_t* key, size_t key_len, uint32_t method_sym,
                 uint8_t* out) {
  int id = method_id(method_sym);
  if (id < kMd5) {
    // crc32, tcp, adler32 and hash have no keyed form: an error, not an empty result.
    Cell with = word::make_from_c_name("with");
    Cell method = word::make_from_c_name(method_sym && word_of(method_sym) >= 0 ? kNames[word_of(method_sym)] : "hash");
    fire(Err::script_invalid_refine_arg, &with, &method);
  }
  hmac(data, n, key, key_len, id, out);
  return digest_length(id);
}

}  // namespace zem::checksum
