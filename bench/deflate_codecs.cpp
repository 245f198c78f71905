// Speed of the deflate codecs alone: compress, inflate, gzip and gunzip of one file (default: the
// python3 executable, a few MB of mixed code, data and text), and the CRC-32 and Adler-32 the
// containers add, best of five runs each, in MB/s.
// python3 -c "import zlib, time; ..." with zlib.compress(d, 1) and zlib.decompress is the peer.
//
// usage: bench_deflate_codecs [FILE]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "services/checksum.h"
#include "services/deflate.h"

using namespace zem;

namespace {

using Codec = int (*)(uint8_t*, size_t*, const uint8_t*, size_t);

std::vector<uint8_t> run(Codec codec, const std::vector<uint8_t>& in, const char* name, size_t mb_of) {
  size_t cap = 0;
  codec(nullptr, &cap, in.data(), in.size());
  std::vector<uint8_t> out(cap);
  double best = 1e9;
  for (int i = 0; i < 5; i++) {
    size_t n = cap;
    const auto start = std::chrono::steady_clock::now();
    if (codec(out.data(), &n, in.data(), in.size()) != deflate::kDone) std::printf("%s failed\n", name);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::printf("%-10s %8.1f ms %8.1f MB/s (of the uncompressed size)\n", name, best * 1e3, double(mb_of) / 1e6 / best);
  return out;
}

// The checksums as codecs that write nothing.
volatile uint32_t sink;
int crc32(uint8_t*, size_t* capacity, const uint8_t* in, size_t n) {
  sink = checksum::crc32(in, n);
  *capacity = 0;
  return deflate::kDone;
}
int adler32(uint8_t*, size_t* capacity, const uint8_t* in, size_t n) {
  sink = checksum::adler32(in, n);
  *capacity = 0;
  return deflate::kDone;
}

}  // namespace

int main(int argc, char** argv) {
  std::ifstream f(argc > 1 ? argv[1] : "/usr/bin/python3", std::ios::binary);
  std::vector<uint8_t> data(std::istreambuf_iterator<char>(f), {});
  std::printf("%zu bytes\n", data.size());
  const auto packed = run(deflate::compress, data, "compress", data.size());
  std::printf("ratio %.3f\n", double(packed.size()) / double(data.size()));
  run(deflate::inflate, packed, "inflate", data.size());
  const auto gz = run(deflate::gzip, data, "gzip", data.size());
  run(deflate::gunzip, gz, "gunzip", data.size());
  run(crc32, data, "crc32", data.size());
  run(adler32, data, "adler32", data.size());
  return 0;
}
