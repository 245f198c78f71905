// Checksums and digests against outside references: python3 zlib for CRC-32 and Adler-32, a short
// python3 RFC 1071 function, the coreutils sums, python3 hmac and openssl for HMAC.
#include "services/checksum.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "datatypes/symbol.h"
#include "runtime/startup.h"

namespace zem {
namespace {

std::string temp_file(const std::vector<uint8_t>& data) {
  char name[] = "/tmp/zem_checksum_XXXXXX";
  int fd = mkstemp(name);
  FILE* f = fdopen(fd, "wb");
  if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
  fclose(f);
  return name;
}

std::string run(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

std::string hex(const uint8_t* p, size_t n) {
  std::string s;
  char b[3];
  for (size_t i = 0; i < n; i++) {
    std::snprintf(b, sizeof b, "%02x", p[i]);
    s += b;
  }
  return s;
}

std::vector<uint8_t> random_bytes(size_t n, unsigned seed) {
  std::mt19937 g(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(g());
  return v;
}

TEST(Checksum, KnownValues) {
  const uint8_t* abc = reinterpret_cast<const uint8_t*>("abc");
  EXPECT_EQ(checksum::crc32(abc, 3), 0x352441C2u);
  EXPECT_EQ(checksum::adler32(abc, 3), 0x024D0127u);
  EXPECT_EQ(checksum::crc32(nullptr, 0), 0u);
  EXPECT_EQ(checksum::adler32(nullptr, 0), 1u);
  EXPECT_EQ(checksum::tcp(nullptr, 0), 0xFFFF);
}

TEST(Checksum, Crc32AndAdler32AgainstZlib) {
  for (size_t n : {0, 1, 3853, 3854, 3855, 5552, 65536, 1000000}) {
    auto data = random_bytes(n, static_cast<unsigned>(n) + 1);
    // All 0xFF bytes push the Adler sums to their largest per chunk.
    auto ones = std::vector<uint8_t>(n, 0xFF);
    for (const auto* d : {&data, &ones}) {
      std::string f = temp_file(*d);
      std::string want = run("python3 -c \"import zlib,sys; b=open(sys.argv[1],'rb').read(); "
                             "print(zlib.crc32(b), zlib.adler32(b))\" " + f);
      std::remove(f.c_str());
      std::string got = std::to_string(checksum::crc32(d->data(), n)) + " " +
                        std::to_string(checksum::adler32(d->data(), n));
      EXPECT_EQ(got, want) << "size " << n;
    }
  }
}

TEST(Checksum, InternetChecksumAgainstRfc1071) {
  const char* ref =
      "import sys\n"
      "b = open(sys.argv[1], 'rb').read()\n"
      "if len(b) % 2: b += b'\\0'\n"
      "s = 0\n"
      "for i in range(0, len(b), 2):\n"
      "    s += (b[i] << 8) | b[i + 1]\n"
      "while s >> 16:\n"
      "    s = (s & 0xFFFF) + (s >> 16)\n"
      "print(~s & 0xFFFF)\n";
  std::string script = temp_file(std::vector<uint8_t>(ref, ref + std::strlen(ref)));
  for (size_t n : {1, 2, 3, 255, 4097, 100001}) {
    auto data = random_bytes(n, static_cast<unsigned>(n) * 7);
    std::string f = temp_file(data);
    EXPECT_EQ(std::to_string(checksum::tcp(data.data(), n)), run("python3 " + script + " " + f)) << n;
    std::remove(f.c_str());
  }
  std::remove(script.c_str());
}

TEST(Checksum, DigestsAgainstCoreutils) {
  struct Case {
    int id;
    const char* tool;
  } cases[] = {{checksum::kMd5, "md5sum"},
               {checksum::kSha1, "sha1sum"},
               {checksum::kSha256, "sha256sum"},
               {checksum::kSha384, "sha384sum"},
               {checksum::kSha512, "sha512sum"}};
  for (size_t n : {0, 3, 1000, 200000}) {
    auto data = random_bytes(n, 99 + static_cast<unsigned>(n));
    std::string f = temp_file(data);
    for (const auto& c : cases) {
      uint8_t out[checksum::kDigestRoom];
      checksum::crypto_digest(data.data(), n, c.id, out);
      std::string want = run(std::string(c.tool) + " " + f + " | cut -d' ' -f1");
      EXPECT_EQ(hex(out, static_cast<size_t>(checksum::digest_length(c.id))), want) << c.tool << " " << n;
    }
    std::remove(f.c_str());
  }
}

TEST(Checksum, HmacAgainstPythonAndOpenssl) {
  const char* names[] = {nullptr, nullptr, "md5", "sha1", "sha256", "sha384", "sha512"};
  auto data = random_bytes(777, 5);
  std::string df = temp_file(data);
  for (size_t klen : {0, 63, 64, 65, 127, 128, 129}) {
    auto key = random_bytes(klen, 1000 + static_cast<unsigned>(klen));
    std::string kf = temp_file(key);
    for (int id = checksum::kMd5; id <= checksum::kSha512; id++) {
      uint8_t out[checksum::kDigestRoom];
      checksum::hmac(data.data(), data.size(), key.data(), klen, id, out);
      std::string got = hex(out, static_cast<size_t>(checksum::digest_length(id)));
      std::string py = run(std::string("python3 -c \"import hmac,sys; print(hmac.new(open(sys.argv[1],'rb').read(),"
                                       " open(sys.argv[2],'rb').read(), '") + names[id] + "').hexdigest())\" " +
                           kf + " " + df);
      EXPECT_EQ(got, py) << names[id] << " key " << klen;
      if (klen > 0) {
        // openssl takes the key as hex; an empty key is not accepted there.
        std::string os = run(std::string("openssl dgst -") + names[id] + " -mac HMAC -macopt hexkey:" +
                             hex(key.data(), klen) + " " + df + " | sed 's/.*= //'");
        EXPECT_EQ(got, os) << names[id] << " key " << klen;
      }
    }
    std::remove(kf.c_str());
  }
  std::remove(df.c_str());
}

TEST(Checksum, MethodWords) {
  char arg0[] = "zem";
  char* argv[] = {arg0, nullptr};
  runtime_init(1, argv);
  const char* words[] = {"tcp", "crc32", "md5", "sha1", "sha256", "sha384", "sha512"};
  for (int i = 0; i < 7; i++) {
    uint32_t sym = symbol::intern(words[i]);
    EXPECT_TRUE(checksum::method_valid(sym));
    EXPECT_EQ(checksum::method_id(sym), i) << words[i];
  }
  EXPECT_EQ(checksum::method_id(symbol::intern("SHA256")), checksum::kSha256);
  EXPECT_TRUE(checksum::method_valid(symbol::intern("adler32")));
  EXPECT_TRUE(checksum::method_valid(symbol::intern("hash")));
  EXPECT_FALSE(checksum::method_valid(symbol::intern("sha224")));
  const int lengths[] = {0, 0, 16, 20, 32, 48, 64};
  for (int id = 0; id < 7; id++) EXPECT_EQ(checksum::digest_length(id), lengths[id]);
}

}  // namespace
}  // namespace zem
