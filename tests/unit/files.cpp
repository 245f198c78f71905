// The file service below the actions: offsets and lengths of reads and writes, and reads and
// writes that the system cuts short or interrupts.
#include "services/os/files.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/string_storage.h"
#include "memory_fixture.h"
#include "support_values.h"

namespace zem {
namespace {

class Files : public testing::RuntimeTest<StartLayer::library> {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    char tmpl[] = "/tmp/zem-files-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    RuntimeTest::TearDown();
  }
  std::string path(const char* name) const { return dir_ + "/" + name; }
  void put(const char* name, const std::string& bytes) const { std::ofstream(path(name), std::ios::binary) << bytes; }
  std::string get(const char* name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::string bytes_of(const Cell& b) {
    uint32_t n = binary::rs_length(b);
    return n ? std::string(reinterpret_cast<const char*>(binary::rs_head(b)), n) : std::string();
  }
  std::string dir_;
};

TEST_F(Files, ReadOffsetsAndLimits) {
  put("f", "0123456789");
  struct Case {
    int64_t limit, offset;
    const char* want;
  } cases[] = {
      {-1, -1, "0123456789"}, {-1, 3, "3456789"}, {4, 3, "3456"},  {0, -1, ""},
      {20, -1, "0123456789"}, {-1, 10, ""},       {-1, 11, ""},   {-1, 1000000, ""},
      {-1, -5, "0123456789"},  // a negative offset reads from the start
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.limit) + " " + std::to_string(c.offset));
    Cell out;
    ASSERT_TRUE(files::read_data(path("f"), c.limit, c.offset, true, false, true, out));
    EXPECT_EQ(bytes_of(out), c.want);
  }
  // Past the end of a pipe-like file (no size) the result is empty too.
  Cell out;
  ASSERT_TRUE(files::read_data("/proc/self/cmdline", -1, 1 << 20, true, false, true, out));
  EXPECT_EQ(binary::rs_length(out), 0u);
  ASSERT_TRUE(files::read_data("/proc/self/cmdline", 3, 1, true, false, true, out));
  EXPECT_EQ(binary::rs_length(out), 3u);
  EXPECT_FALSE(files::read_data(path("missing"), -1, -1, true, false, true, out));
}

// Where the file system refuses RENAME_NOREPLACE the rename goes through a link: it still never
// replaces a target, and a directory moves when its new name is free.
TEST_F(Files, RenameByLinkNeverReplaces) {
  put("a", "first");
  put("b", "second");
  EXPECT_FALSE(files::rename_by_link(path("a"), path("b")));
  EXPECT_EQ(get("a"), "first");
  EXPECT_EQ(get("b"), "second");
  EXPECT_TRUE(files::rename_by_link(path("a"), path("c")));
  EXPECT_EQ(get("c"), "first");
  EXPECT_NE(::access(path("a").c_str(), F_OK), 0);
  EXPECT_FALSE(files::rename_by_link(path("missing"), path("d")));
  ASSERT_EQ(::mkdir(path("dir").c_str(), 0777), 0);
  ASSERT_EQ(::mkdir(path("taken").c_str(), 0777), 0);
  EXPECT_FALSE(files::rename_by_link(path("dir"), path("taken")));
  EXPECT_FALSE(files::rename_by_link(path("dir"), path("b")));
  EXPECT_TRUE(files::rename_by_link(path("dir"), path("moved")));
  EXPECT_EQ(::access(path("moved").c_str(), F_OK), 0);
  EXPECT_FALSE(files::rename_by_link(path("c"), path("moved")));  // a file onto a directory
  EXPECT_EQ(get("c"), "first");
}

// A file of 2 GiB or more (sparse here) is refused as too large, not as missing; 2 GiB less one
// byte is within the limit, shown by a part read.
TEST_F(Files, FilesOf2GiBAreRefused) {
  for (int64_t size : {int64_t(1) << 31, (int64_t(1) << 32) + 5}) {
    SCOPED_TRACE(size);
    put("big", "");
    ASSERT_EQ(::truncate(path("big").c_str(), size), 0);
    Cell out;
    bool too_large = false;
    EXPECT_FALSE(files::read_data(path("big"), -1, -1, true, false, true, out, &too_large));
    EXPECT_TRUE(too_large);
    Cell file = str::make_from_utf8(path("big"), TYPE_FILE);
    for (bool binary : {true, false})
      EXPECT_EQ(test::raised([&] { files::read_file(file, -1, -1, binary, false); }), Err::script_size_limit);
    EXPECT_TRUE(files::read_data(path("big"), 4, size - 2, true, false, true, out, &too_large));
    EXPECT_EQ(bytes_of(out), std::string(2, '\0'));
  }
  bool too_large = true;
  Cell out;
  EXPECT_FALSE(files::read_data(path("missing"), -1, -1, true, false, true, out, &too_large));
  EXPECT_FALSE(too_large);
  Cell file = str::make_from_utf8(path("missing"), TYPE_FILE);
  EXPECT_EQ(test::raised([&] { files::read_file(file, -1, -1, true, false); }), Err::access_cannot_open);
}

TEST_F(Files, ByteNamesLoseTheirQuotes) {
  put("q", "x");
  Cell out;
  EXPECT_TRUE(files::read_data("\"" + path("q") + "\"", -1, -1, true, false, false, out));
  EXPECT_FALSE(files::read_data("\"" + path("q") + "\"", -1, -1, true, false, true, out));
  std::string name = "\"" + path("w") + "\"";
  EXPECT_EQ(files::write_data(name.c_str(), nullptr, reinterpret_cast<const uint8_t*>("ab"), 2, -1, true, false,
                              false, false, false),
            2);
  EXPECT_EQ(get("w"), "ab");
}

TEST_F(Files, WritesAtAnOffsetKeepTheRest) {
  put("f", "0123456789");
  auto write_at = [&](const char* text, int64_t offset, bool append) {
    return files::write_data(path("f").c_str(), nullptr, reinterpret_cast<const uint8_t*>(text), std::strlen(text),
                             offset, true, append, false, true, false);
  };
  EXPECT_EQ(write_at("ab", 2, false), 2);
  EXPECT_EQ(get("f"), "01ab456789");
  EXPECT_EQ(write_at("Z", 0, false), 1);
  EXPECT_EQ(get("f"), "Z1ab456789");
  EXPECT_EQ(write_at("!", 12, false), 1);  // past the end: the gap is zeros
  EXPECT_EQ(get("f"), std::string("Z1ab456789\0\0!", 13));
  EXPECT_EQ(write_at("+", -1, true), 1);
  EXPECT_EQ(get("f"), std::string("Z1ab456789\0\0!+", 14));
  EXPECT_EQ(write_at("new", -1, false), 3);  // no offset: the file starts again
  EXPECT_EQ(get("f"), "new");
}

TEST_F(Files, WriteRefinementArguments) {
  Cell file = str::make_from_utf8(path("f"), TYPE_FILE);
  Cell text = str::make_from_utf8("h\xC3\xA9llo");
  Cell part = make_integer(2), none_part = make_integer(-1), seek = make_integer(1), back = make_integer(-3);
  put("f", "0123456789");
  files::write(&file, text, &part, &seek, false, false, false);
  EXPECT_EQ(get("f"), "0h\xC3\xA9" "456789");  // two code points of the text at 1, the rest kept
  files::write(&file, text, &none_part, nullptr, false, false, false);  // a negative length writes nothing
  EXPECT_EQ(get("f"), "0h\xC3\xA9" "456789");
  EXPECT_EQ(test::raised([&] { files::write(&file, text, nullptr, &back, false, false, false); }),
            Err::script_invalid_refine_arg);
  EXPECT_EQ(test::raised([&] { files::write(&file, text, &text, nullptr, false, false, false); }),
            Err::script_invalid_refine_arg);
  EXPECT_EQ(get("f"), "0h\xC3\xA9" "456789");  // refused arguments change nothing
}

// A signal without SA_RESTART interrupts blocking reads and writes again and again while another
// thread feeds or drains the pipe in small steps: the transfers must still be whole and in order.
class Interrupted : public Files {
 protected:
  void SetUp() override {
    Files::SetUp();
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(::sigaction(SIGALRM, &sa, &old_), 0);
    itimerval every{{0, 200}, {0, 200}};
    ASSERT_EQ(::setitimer(ITIMER_REAL, &every, nullptr), 0);
    ASSERT_EQ(::pipe(fds_), 0);
  }
  void TearDown() override {
    itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &old_, nullptr);
    if (fds_[0] >= 0) ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
    Files::TearDown();
  }
  static std::string pattern(size_t n) {
    std::string s(n, 0);
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>(i * 31 + i / 997);
    return s;
  }
  struct sigaction old_ {};
  int fds_[2] = {-1, -1};
};

TEST_F(Interrupted, ReadsComeWhole) {
  const std::string data = pattern(1 << 20);
  std::thread feeder([&] {
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);  // the reader takes the signals
    for (size_t at = 0; at < data.size(); at += 4093) {
      size_t n = std::min<size_t>(4093, data.size() - at);
      if (::write(fds_[1], data.data() + at, n) != static_cast<ssize_t>(n)) break;  // the reader gave up
      if (at % (16 * 4093) == 0) ::usleep(300);  // the reader blocks on an empty pipe
    }
    ::close(fds_[1]);
    fds_[1] = -1;
  });
  std::string got(data.size() + 10, 0);
  int64_t n = files::read_bytes(fds_[0], got.data(), got.size());
  ::close(fds_[0]);  // a reader that stopped early lets the feeder end
  fds_[0] = -1;
  feeder.join();
  ASSERT_EQ(n, static_cast<int64_t>(data.size()));
  got.resize(static_cast<size_t>(n));
  EXPECT_TRUE(got == data);
}

TEST_F(Interrupted, WritesGoWhole) {
  const std::string data = pattern(1 << 20);
  std::string got;
  std::thread drain([&] {
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);
    char buf[3001];
    ssize_t n;
    while ((n = ::read(fds_[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  });
  EXPECT_EQ(files::write_bytes(fds_[1], data.data(), data.size()), static_cast<int64_t>(data.size()));
  ::close(fds_[1]);
  fds_[1] = -1;
  drain.join();
  EXPECT_TRUE(got == data);
}

TEST_F(Files, HandleOperations) {
  put("f", "abcdef");
  int fd = files::open_file(path("f"), files::kRead);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(files::file_size(fd), 6);
  EXPECT_EQ(files::seek(fd, 4), 4);
  char buf[8] = {};
  EXPECT_EQ(files::read_bytes(fd, buf, sizeof buf), 2);
  EXPECT_STREQ(buf, "ef");
  EXPECT_TRUE(files::close_file(fd));
  EXPECT_EQ(files::open_file(dir_, files::kRead), -1);  // a directory is no file
  EXPECT_EQ(files::open_file(path("missing"), files::kRead), -1);
  fd = files::open_file("/dev/full", files::kWrite);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(files::write_bytes(fd, "x", 1), -1);
  files::close_file(fd);
}

}  // namespace
}  // namespace zem
