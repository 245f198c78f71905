// Deflate codecs against zlib on 50 MB of mixed text and binary made here: our zlib inflate against
// python3 zlib.decompress of the same stream (made by zlib at level 6), gunzip against `gzip -dc`
// as a process, and our compress against python3 zlib.compress(level=1). Best of five (three for
// the process runs). Every output is checked against the input; our zlib stream is checked by
// python3 too.
//
// usage: bench_inflate
#include <cstring>

#include "bench/peer.h"
#include "services/deflate.h"

using namespace zem;

namespace {

constexpr size_t kSize = 50u << 20;

// 64 KB pieces in turn: prose-like text over a skewed vocabulary, little-endian records with
// counters and small fields, and now and then random bytes that no codec can shrink.
std::vector<uint8_t> mixed_data() {
  bench::Rng rng;
  std::vector<std::string> words;
  for (int i = 0; i < 400; i++) {
    std::string w;
    for (int len = 2 + int(rng.next() % 9); len > 0; len--) w += char('a' + rng.next() % 26);
    words.push_back(w);
  }
  std::vector<uint8_t> out;
  out.reserve(kSize + (1 << 16));
  uint32_t counter = 0;
  for (size_t piece = 0; out.size() < kSize; piece++) {
    const size_t end = out.size() + (1 << 16);
    switch (piece % 8) {
      case 0: case 2: case 4: case 5:
        while (out.size() < end) {
          // min of two draws: the low words come far more often
          const auto& w = words[std::min(rng.next() % 400, rng.next() % 400)];
          out.insert(out.end(), w.begin(), w.end());
          out.push_back(rng.next() % 12 == 0 ? '\n' : ' ');
        }
        break;
      case 1: case 3: case 6:
        while (out.size() < end) {
          const uint64_t r = rng.next();
          const uint32_t fields[4] = {counter++, uint32_t(r % 1000), uint32_t(r >> 40) & 0xFF, 0x3F800000u};
          const auto* p = reinterpret_cast<const uint8_t*>(fields);
          out.insert(out.end(), p, p + sizeof fields);
        }
        break;
      default:
        while (out.size() < end) {
          const uint64_t r = rng.next();
          const auto* p = reinterpret_cast<const uint8_t*>(&r);
          out.insert(out.end(), p, p + 8);
        }
    }
  }
  out.resize(kSize);
  return out;
}

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "%s: wrong output\n", what);
    std::exit(1);
  }
}

}  // namespace

int main() {
  const std::string dir = bench::scratch_dir();
  const std::string raw = dir + "/mixed.bin";
  const auto data = mixed_data();
  bench::write_file(raw, data);
  std::printf("%zu bytes of mixed text and binary in %s\n", data.size(), raw.c_str());

  // inflate: both sides decode the stream zlib made
  bench::must_run(bench::python3() + " -c 'import zlib, sys; d = open(sys.argv[1], \"rb\").read(); "
                  "open(sys.argv[1] + \".z\", \"wb\").write(zlib.compress(d, 6))' " + raw);
  const auto z = bench::read_file(raw + ".z");
  std::vector<uint8_t> out(data.size());
  const double ours_inflate = bench::best_of(5, [&] {
    size_t cap = out.size();
    check(deflate::zlib_decompress(out.data(), &cap, z.data(), z.size()) == deflate::kDone && cap == data.size(),
          "inflate");
  });
  check(std::memcmp(out.data(), data.data(), data.size()) == 0, "inflate");
  const double peer_inflate = bench::python_best_of(5, raw + ".z", "zlib.decompress(d)");
  std::printf("zlib stream %zu bytes (ratio %.3f)\n", z.size(), double(z.size()) / double(data.size()));
  bench::report("inflate", ours_inflate, peer_inflate, "python3 zlib.decompress", 1.2);

  // gunzip: ours in memory, gzip as a process reading the (cached) file
  bench::must_run("gzip -6 -c " + raw + " > " + raw + ".gz");
  const auto gz = bench::read_file(raw + ".gz");
  const double ours_gunzip = bench::best_of(3, [&] {
    size_t cap = out.size();
    check(deflate::gunzip(out.data(), &cap, gz.data(), gz.size()) == deflate::kDone && cap == data.size(), "gunzip");
  });
  check(std::memcmp(out.data(), data.data(), data.size()) == 0, "gunzip");
  const double peer_gunzip = bench::time_command(3, "gzip -dc " + raw + ".gz > /dev/null");
  bench::report("gunzip", ours_gunzip, peer_gunzip, "gzip -dc (process)", 1.2);

  // deflate: ours against zlib's fastest level
  size_t need = 0;
  deflate::zlib_compress(nullptr, &need, data.data(), data.size());
  std::vector<uint8_t> packed(need);
  const double ours_deflate = bench::best_of(5, [&] {
    size_t cap = packed.size();
    check(deflate::zlib_compress(packed.data(), &cap, data.data(), data.size()) == deflate::kDone, "deflate");
    packed.resize(cap);
  });
  bench::write_file(raw + ".ours.z", packed);
  // zlib must read our stream back to the input
  bench::must_run(bench::python3() + " -c 'import zlib, sys; a = open(sys.argv[1], \"rb\").read(); "
                  "assert zlib.decompress(open(sys.argv[1] + \".ours.z\", \"rb\").read()) == a' " + raw);
  const double peer_deflate = bench::python_best_of(5, raw, "zlib.compress(d, 1)");
  std::printf("our zlib stream %zu bytes (ratio %.3f)\n", packed.size(), double(packed.size()) / double(data.size()));
  bench::report("deflate", ours_deflate, peer_deflate, "python3 zlib.compress(d, 1)", 1.0);

  bench::must_run("rm -r " + dir);
  return 0;
}
