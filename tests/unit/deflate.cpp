// Deflate, inflate and their gzip and zlib containers against outside references: python3 zlib
// streams made at run time, python3 and the gzip tool reading ours, and hand-built bad streams.
#include "services/deflate.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace zem {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Codec = int (*)(uint8_t*, size_t*, const uint8_t*, size_t);

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/zem_deflate_XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const Bytes& data) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

Bytes read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

// Runs a shell command; answers its exit status and standard output.
int run(const std::string& cmd, std::string* out = nullptr) {
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0)
    if (out) out->append(buf, n);
  const int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int python(const TempDir& dir, const std::string& script, const std::string& args, std::string* out = nullptr) {
  const std::string path = dir.file("script.py");
  std::ofstream(path) << script;
  return run("python3 " + path + " " + args, out);
}

// The inputs the streams are made of: empty, text, random and repetitive data.
struct Input {
  const char* name;
  Bytes data;
};

std::vector<Input> inputs() {
  std::mt19937 g(39);
  Bytes text;
  const std::string words[] = {"deflate ", "stream ", "of ", "words, ", "a ", "block\n", "value ", "zem "};
  while (text.size() < 200000) {
    const std::string& w = words[g() % 8];
    text.insert(text.end(), w.begin(), w.end());
  }
  Bytes noise(1 << 20), runs;
  for (auto& b : noise) b = uint8_t(g());
  while (runs.size() < (1 << 20)) runs.insert(runs.end(), 1 + g() % 300, uint8_t(g() % 3));
  return {{"empty", {}}, {"text", text}, {"random", noise}, {"repetitive", runs}};
}

// Decodes with the exact capacity, with none and with one byte too few.
void expect_decodes(Codec codec, const Bytes& stream, const Bytes& want, const std::string& what) {
  size_t cap = 0;
  ASSERT_EQ(codec(nullptr, &cap, stream.data(), stream.size()), want.empty() ? deflate::kDone : deflate::kTooSmall)
      << what;
  ASSERT_EQ(cap, want.size()) << what;
  Bytes out(want.size() + 1, 0xEE);
  if (!want.empty()) {
    cap = want.size() - 1;
    EXPECT_EQ(codec(out.data(), &cap, stream.data(), stream.size()), deflate::kTooSmall) << what;
    EXPECT_EQ(cap, want.size()) << what;
    EXPECT_EQ(out[want.size() - 1], 0xEE) << what << ": wrote past the capacity";
  }
  cap = want.size();
  ASSERT_EQ(codec(out.data(), &cap, stream.data(), stream.size()), deflate::kDone) << what;
  ASSERT_EQ(cap, want.size()) << what;
  out.resize(cap);
  EXPECT_TRUE(out == want) << what;
}

Bytes encode(Codec codec, const Bytes& in) {
  size_t cap = 0;
  EXPECT_EQ(codec(nullptr, &cap, in.data(), in.size()), deflate::kTooSmall);  // never empty
  Bytes out(cap);
  EXPECT_EQ(codec(out.data(), &cap, in.data(), in.size()), deflate::kDone);
  EXPECT_EQ(cap, out.size());
  return out;
}

TEST(Deflate, InflatesPythonStreams) {
  TempDir dir;
  for (const Input& in : inputs()) {
    write_file(dir.file(in.name), in.data);
    ASSERT_EQ(python(dir,
                     "import sys, zlib\n"
                     "data = open(sys.argv[1], 'rb').read()\n"
                     "for level in (0, 1, 6, 9):\n"
                     "    c = zlib.compressobj(level, zlib.DEFLATED, -15)\n"
                     "    open(sys.argv[1] + '.%d' % level, 'wb').write(c.compress(data) + c.flush())\n",
                     dir.file(in.name)),
              0);
    for (int level : {0, 1, 6, 9})
      expect_decodes(deflate::inflate, read_file(dir.file(in.name) + "." + std::to_string(level)), in.data,
                     std::string(in.name) + " level " + std::to_string(level));
  }
}

TEST(Deflate, PythonInflatesOurs) {
  TempDir dir;
  size_t cap = 2;
  uint8_t empty[2];
  ASSERT_EQ(deflate::compress(empty, &cap, nullptr, 0), deflate::kDone);
  EXPECT_EQ(cap, 2u);
  EXPECT_EQ(empty[0], 0x03);
  EXPECT_EQ(empty[1], 0x00);
  for (const Input& in : inputs()) {
    const Bytes ours = encode(deflate::compress, in.data);
    expect_decodes(deflate::inflate, ours, in.data, in.name);
    write_file(dir.file(in.name), in.data);
    write_file(dir.file(in.name) + ".deflate", ours);
    std::string out;
    EXPECT_EQ(python(dir,
                     "import sys, zlib\n"
                     "want = open(sys.argv[1], 'rb').read()\n"
                     "got = zlib.decompress(open(sys.argv[1] + '.deflate', 'rb').read(), -15)\n"
                     "print('same' if got == want else 'differ')\n",
                     dir.file(in.name), &out),
              0);
    EXPECT_EQ(out, "same\n") << in.name;
  }
  // Repetitive input compresses; random input grows by at most the 9-bit literals.
  const auto all = inputs();
  EXPECT_LT(encode(deflate::compress, all[3].data).size(), all[3].data.size() / 2);
  EXPECT_LE(encode(deflate::compress, all[2].data).size(), all[2].data.size() * 9 / 8 + 2);
}

// The compressor as the format fixes it: the first three bytes are literals, then a match of the
// longest run that one of the bucket's positions starts.
TEST(Deflate, CompressorOutput) {
  const Bytes abc = {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'};
  const Bytes got = encode(deflate::compress, abc);
  // header 1 01; literals a b c (8 bits each); length 6 = symbol 260 (7 bits 0000100);
  // distance 3 = code 2 (00010); end of block 0000000.
  const Bytes want = {0x4B, 0x4C, 0x4A, 0x86, 0x20, 0x00};
  EXPECT_EQ(got, want);
}

// A stream built bit by bit, least significant bit first; Huffman codes are given most significant
// bit first, as the format writes them.
struct Bits {
  Bytes out;
  int used = 0;
  Bits& put(uint32_t v, int n) {
    for (int i = 0; i < n; i++, used++) {
      if (used % 8 == 0) out.push_back(0);
      out.back() |= uint8_t(((v >> i) & 1) << (used % 8));
    }
    return *this;
  }
  Bits& code(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; i--) put((v >> i) & 1, 1);
    return *this;
  }
  Bits& bytes(const Bytes& b) {
    for (uint8_t x : b) put(x, 8);
    return *this;
  }
};

int inflate_all(const Bytes& s, size_t cap = 1 << 16) {
  Bytes out(cap);
  return deflate::inflate(out.data(), &cap, s.data(), s.size());
}

TEST(Deflate, RefusesBadStreams) {
  struct Case {
    const char* what;
    Bytes stream;
    int result;
  };
  const Case cases[] = {
      {"empty input", {}, deflate::kBadData},
      {"block type 3", {0x07}, deflate::kBadBlockType},
      {"stored", Bits().put(1, 1).put(0, 2).put(0, 5).put(5, 16).put(0xFFFA, 16).bytes({1, 2, 3, 4, 5}).out,
       deflate::kDone},
      {"stored, NLEN wrong", Bits().put(1, 1).put(0, 2).put(0, 5).put(5, 16).put(0, 16).bytes({1, 2, 3, 4, 5}).out,
       deflate::kBadData},
      {"stored, LEN 10 with 5 bytes", Bits().put(1, 1).put(0, 2).put(0, 5).put(10, 16).put(0xFFF5, 16).bytes({1, 2, 3, 4, 5}).out,
       deflate::kStoredPastEnd},
      {"stored, cut in NLEN", {0x01, 0x05, 0x00, 0xFA}, deflate::kBadData},
      {"not final, then nothing", Bits().put(0, 1).put(0, 2).put(0, 5).put(0, 16).put(0xFFFF, 16).out,
       deflate::kBadData},
      {"distance before the start", Bits().put(1, 1).put(1, 2).code(1, 7).code(0, 5).code(0, 7).out,
       deflate::kDistanceTooFar},
      {"distance past the output", Bits().put(1, 1).put(1, 2).code(0x30 + 'a', 8).code(1, 7).code(1, 5).code(0, 7).out,
       deflate::kDistanceTooFar},
      {"fixed match", Bits().put(1, 1).put(1, 2).code(0x30 + 'a', 8).code(1, 7).code(0, 5).code(0, 7).out,
       deflate::kDone},
      {"symbol 286", Bits().put(1, 1).put(1, 2).code(0xC6, 8).code(0, 7).out, deflate::kBadData},
      {"symbol 287", Bits().put(1, 1).put(1, 2).code(0xC7, 8).code(0, 7).out, deflate::kBadData},
      {"distance code 30", Bits().put(1, 1).put(1, 2).code(0x30 + 'a', 8).code(1, 7).code(30, 5).code(0, 7).out,
       deflate::kBadData},
      {"distance code 31", Bits().put(1, 1).put(1, 2).code(0x30 + 'a', 8).code(1, 7).code(31, 5).code(0, 7).out,
       deflate::kBadData},
      // Dynamic headers: 288 literal/length codes, 31 distance codes, an over-subscribed code-length
      // code, a repeat with nothing before it.
      {"HLIT 288", Bits().put(1, 1).put(2, 2).put(31, 5).put(0, 5).put(0, 4).put(0, 32).out, deflate::kBadData},
      {"HDIST 31", Bits().put(1, 1).put(2, 2).put(0, 5).put(30, 5).put(0, 4).put(0, 32).out, deflate::kBadData},
      {"over-subscribed", Bits().put(1, 1).put(2, 2).put(0, 5).put(0, 5).put(0, 4).put(1, 3).put(1, 3).put(1, 3).put(1, 3).put(0, 32).out,
       deflate::kBadData},
      {"repeat first", Bits().put(1, 1).put(2, 2).put(0, 5).put(0, 5).put(0, 4).put(1, 3).put(0, 3).put(0, 3).put(1, 3).code(1, 1).put(0, 2).put(0, 16).out,
       deflate::kBadData},
  };
  for (const Case& c : cases) EXPECT_EQ(inflate_all(c.stream), c.result) << c.what;
  // Overlapping copies repeat: 'a' then length 3 at distance 1.
  const Bytes run = Bits().put(1, 1).put(1, 2).code(0x30 + 'a', 8).code(1, 7).code(0, 5).code(0, 7).out;
  size_t cap = 8;
  Bytes out(8);
  ASSERT_EQ(deflate::inflate(out.data(), &cap, run.data(), run.size()), deflate::kDone);
  EXPECT_EQ(std::string(out.begin(), out.begin() + long(cap)), "aaaa");
}

// Every proper prefix of a stream is an error, never success with short output.
TEST(Deflate, EveryTruncationIsAnError) {
  TempDir dir;
  Bytes text;
  for (int i = 0; i < 40; i++) {
    const std::string line = "line " + std::to_string(i * 7919 % 1000) + " of the text to squeeze\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  write_file(dir.file("t"), text);
  // Levels 0, 1 and 9 give stored, fixed and dynamic blocks; the last stream has several blocks.
  ASSERT_EQ(python(dir,
                   "import sys, zlib\n"
                   "data = open(sys.argv[1], 'rb').read()\n"
                   "for i, (level, strategy) in enumerate(((0, 0), (1, zlib.Z_FIXED), (9, 0))):\n"
                   "    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)\n"
                   "    open(sys.argv[1] + '.%d' % i, 'wb').write(c.compress(data) + c.flush())\n"
                   "c = zlib.compressobj(6, zlib.DEFLATED, -15)\n"
                   "s = c.compress(data[:700]) + c.flush(zlib.Z_FULL_FLUSH) + c.compress(data[700:]) + c.flush()\n"
                   "open(sys.argv[1] + '.3', 'wb').write(s)\n",
                   dir.file("t")),
            0);
  for (int i = 0; i < 4; i++) {
    const Bytes stream = read_file(dir.file("t") + "." + std::to_string(i));
    expect_decodes(deflate::inflate, stream, text, "stream " + std::to_string(i));
    for (size_t cut = 0; cut < stream.size(); cut++) {
      const Bytes part(stream.begin(), stream.begin() + long(cut));
      for (size_t cap : {size_t(0), text.size()}) {
        Bytes out(cap);
        const int r = deflate::inflate(out.data(), &cap, part.data(), part.size());
        EXPECT_GE(r, deflate::kBadData) << "stream " << i << " cut at " << cut;
      }
    }
  }
}

}  // namespace
}  // namespace zem
