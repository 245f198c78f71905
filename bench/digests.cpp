// Digests over 500 MB made here: SHA-256 against `sha256sum` and `openssl dgst -sha256`, MD5 against
// `openssl dgst -md5` (the peers as processes reading the cached file), and CRC-32 in GB/s. Best of
// three; each digest is checked against its peer's.
//
// usage: bench_digests
#include <cstring>

#include "bench/peer.h"
#include "services/checksum.h"

using namespace zem;

namespace {

constexpr size_t kSize = 500u << 20;

std::string hex(const uint8_t* bytes, int n) {
  std::string s;
  char two[3];
  for (int i = 0; i < n; i++) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    s += two;
  }
  return s;
}

void digest(const std::vector<uint8_t>& data, const std::string& file, int id, const char* name,
            const std::vector<std::pair<const char*, std::string>>& peers) {
  uint8_t out[checksum::kDigestRoom];
  const double ours = bench::best_of(3, [&] { checksum::crypto_digest(data.data(), data.size(), id, out); });
  const std::string ours_hex = hex(out, checksum::digest_length(id));
  for (const auto& [peer_name, command] : peers) {
    // the peer must print our digest
    bench::must_run(command + " " + file + " | grep -q " + ours_hex);
    const double peer = bench::time_command(3, command + " " + file + " > /dev/null");
    bench::report(name, ours, peer, peer_name, 1.1);
  }
}

}  // namespace

int main() {
  const std::string dir = bench::scratch_dir();
  const std::string file = dir + "/data.bin";
  std::vector<uint8_t> data(kSize);
  bench::Rng rng;
  for (size_t i = 0; i < kSize; i += 8) {
    const uint64_t r = rng.next();
    std::memcpy(&data[i], &r, 8);
  }
  bench::write_file(file, data);
  std::printf("%zu bytes in %s\n", data.size(), file.c_str());

  digest(data, file, checksum::kSha256, "sha256",
         {{"sha256sum", "sha256sum"}, {"openssl dgst -sha256", "openssl dgst -sha256"}});
  digest(data, file, checksum::kMd5, "md5", {{"openssl dgst -md5", "openssl dgst -md5"}, {"md5sum", "md5sum"}});

  volatile uint32_t sink = 0;
  const double crc = bench::best_of(3, [&] { sink = checksum::crc32(data.data(), data.size()); });
  std::printf("crc32    %8.1f ms  %.2f GB/s (goal >= 1 GB/s) %s\n", crc * 1e3, double(kSize) / 1e9 / crc,
              double(kSize) / 1e9 / crc >= 1.0 ? "met" : "MISSED");
  // python3's zlib.crc32 for reference, and as the check of the value
  const double peer_crc = bench::python_best_of(3, file, "zlib.crc32(d)", "r == " + std::to_string(sink));
  std::printf("crc32    python3 zlib.crc32 %.1f ms  %.2f GB/s\n", peer_crc * 1e3, double(kSize) / 1e9 / peer_crc);

  bench::must_run("rm -r " + dir);
  return 0;
}
