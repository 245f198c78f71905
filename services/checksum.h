// Checksums and digests: CRC-32, Adler-32 and the Internet checksum computed here; MD5, SHA-1 and
// SHA-2 through OpenSSL's EVP digests; HMAC over those digests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zem::checksum {

// Algorithm numbers of `method_id`.
enum Method : int { kTcp = 0, kCrc32 = 1, kMd5 = 2, kSha1 = 3, kSha256 = 4, kSha384 = 5, kSha512 = 6 };
constexpr size_t kDigestRoom = 64;  // the largest digest

// Interns the method words: tcp md5 sha1 crc32 adler32 sha256 sha384 sha512 hash.
void init();

uint32_t crc32(const uint8_t* bytes, size_t n);
uint32_t adler32(const uint8_t* bytes, size_t n);
uint16_t tcp(const uint8_t* bytes, size_t n);

// The method words by symbol id (compared by canonical symbol).
bool method_valid(uint32_t sym);
bool is_method(uint32_t sym, const char* name);
// The algorithm number of tcp, crc32 and the digest words; -1 for adler32, hash and other words.
int method_id(uint32_t sym);
// Digest bytes of an algorithm number 2..6, else 0.
int digest_length(int id);

// Writes the digest into out (kDigestRoom bytes); an id outside 2..6 raises script `invalid-arg`.
void crypto_digest(const uint8_t* bytes, size_t n, int id, uint8_t* out);
// HMAC (RFC 2104) with the digest `id`: block 128 for SHA-384/512, 64 otherwise; a longer key is
// hashed first.
void hmac(const uint8_t* data, size_t n, const uint8_t* key, size_t key_len, int id, uint8_t* out);
// HMAC for a method word; crc32, tcp, adler32 and hash raise script `invalid-refine-arg`.
// Answers the digest length.
int hmac_checked(const uint8_t* data, size_t n, const uint8_t* key, size_t key_len, uint32_t method_sym,
                 uint8_t* out);

}  // namespace zem::checksum
