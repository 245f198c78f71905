// ESC "[" sequences: what the parser makes of each text, the attribute arithmetic of "m", the
// ANSI text written for each operation, and the writer on a real pseudo-terminal.
#include "services/escape.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/hooks.h"
#include "services/output.h"
#include "tests/unit/support_capture.h"

namespace zem::escape {

void PrintTo(const Op& op, std::ostream* os) {
  *os << "Op{" << static_cast<int>(op.kind) << ", " << op.a << ", " << op.b << ", [";
  for (uint16_t c : op.codes) *os << c << ' ';
  *os << "]}";
}

namespace {

Op op(OpKind kind, int32_t a = 0, int32_t b = 0) { return Op(kind, a, b); }

Op attr(std::vector<uint16_t> codes) {
  Op o = op(OpKind::Attribute);
  o.codes = std::move(codes);
  return o;
}

struct ParseCase {
  const char* text;  // starts with ESC
  size_t consumed;
  std::optional<Op> op;
};

const std::vector<ParseCase>& parse_cases() {
  static const std::vector<ParseCase> cases = {
      {"\x1b[s", 3, op(OpKind::SaveCursor)},
      {"\x1b[u", 3, op(OpKind::RestoreCursor)},
      {"\x1b[K", 3, op(OpKind::Erase, 4)},
      {"\x1b[J", 3, op(OpKind::Erase, 0)},
      {"\x1b[1J", 4, op(OpKind::Erase, 1)},
      {"\x1b[2J", 4, op(OpKind::Erase, 2)},
      {"\x1b[1K", 4, op(OpKind::Erase, 5)},
      {"\x1b[2K", 4, op(OpKind::Erase, 3)},
      {"\x1b[0J", 4, std::nullopt},  // only 1 and 2 name an erase after a number
      {"\x1b[3K", 4, std::nullopt},
      {"\x1b[H", 3, op(OpKind::Position, 0, 0)},
      {"\x1b[f", 3, op(OpKind::Position, 0, 0)},
      {"\x1b[5;10H", 7, op(OpKind::Position, 5, 10)},  // column, then row
      {"\x1b[5;10f", 7, op(OpKind::Position, 5, 10)},
      {"\x1b[7H", 4, std::nullopt},  // one number: no effect
      {"\x1b[?", 3, op(OpKind::Report)},
      {"\x1b[3A", 4, op(OpKind::Up, 3)},
      {"\x1b[12B", 5, op(OpKind::Down, 12)},
      {"\x1b[0C", 4, op(OpKind::Right, 0)},
      {"\x1b[7D", 4, op(OpKind::Left, 7)},
      {"\x1b[;;5A", 6, op(OpKind::Up, 5)},  // separators before a number are skipped
      {"\x1b[65536A", 8, op(OpKind::Up, 1)},  // parameters wrap at 65535
      {"\x1b[m", 3, std::nullopt},
      {"\x1b[0m", 4, attr({0})},
      {"\x1b[31m", 5, attr({31})},
      {"\x1b[1;31m", 7, attr({1, 31})},
      {"\x1b[1;31;44m", 10, attr({1, 31, 44})},
      {"\x1b[1;31;44;4m", 12, attr({1, 31, 44, 4})},
      {"\x1b[1;;31m", 8, attr({1, 31})},
      {"\x1b[38;5;196m", 11, attr({38, 5, 196})},
      {"\x1b[1;31;m", 8, std::nullopt},  // a list that ends on its separator sets nothing
      {"\x1b[1;31;H", 8, op(OpKind::Position, 0, 0)},
      {"\x1b[1;31x", 7, std::nullopt},
      {"\x1b[Z", 3, std::nullopt},
      {"\x1b[5;Z", 5, std::nullopt},
      {"\x1b[31mtext after", 5, attr({31})},
      {"\x1bX", 0, std::nullopt},  // ESC without "["
      {"\x1b", 0, std::nullopt},
  };
  return cases;
}

TEST(Escape, ParsesEachCommand) {
  for (const auto& c : parse_cases()) {
    std::string text(c.text);
    Parsed p = parse(text.data(), text.size(), 1);
    EXPECT_EQ(p.consumed, c.consumed) << text.substr(1);
    EXPECT_EQ(p.op, c.op) << text.substr(1);
  }
}

// A sequence cut off at any length consumes nothing, and nothing past the given length is read:
// each cut copy sits at the very end of its own allocation, where the sanitizer build traps a
// read beyond it.
TEST(Escape, CutSequencesConsumeNothing) {
  for (const auto& c : parse_cases()) {
    std::string full(c.text);
    size_t whole = c.consumed ? c.consumed : full.size();
    for (size_t len = 1; len < whole; ++len) {
      std::vector<char> cut(full.begin(), full.begin() + static_cast<long>(len));
      Parsed p = parse(cut.data(), cut.size(), 1);
      EXPECT_EQ(p.consumed, 0u) << full.substr(1) << " cut at " << len;
      EXPECT_FALSE(p.op.has_value()) << full.substr(1) << " cut at " << len;
    }
  }
}

TEST(Escape, WideUnitsCompareTheirLowByte) {
  // U+015B and U+0141 have the low bytes of "[" and "A".
  const std::vector<uint16_t> u2 = {0x1B, 0x015B, '3', 0x0141, 'x'};
  Parsed p = parse(u2.data(), u2.size() * 2, 2);
  EXPECT_EQ(p.consumed, 8u);
  EXPECT_EQ(p.op, op(OpKind::Up, 3));
  const std::vector<uint32_t> u4 = {0x1B, '[', '1', ';', '3', '1', 0x1006D};
  p = parse(u4.data(), u4.size() * 4, 4);
  EXPECT_EQ(p.consumed, 28u);
  EXPECT_EQ(p.op, attr({1, 31}));
  p = parse(u4.data(), u4.size() * 4 - 1, 4);  // a partial unit is not read
  EXPECT_EQ(p.consumed, 0u);
}

TEST(Escape, AttributeCodes) {
  const int32_t def = kDefaultAttribute;
  const struct {
    int32_t before;
    int code;
    int32_t after;
  } cases[] = {
      {0x1E, 0, 0x07},     {0x1E, 1, 0x9E},     {0x1E, 4, 0x801E},   {0x1E, 7, 0xE1},
      {0x801E, 7, 0xE1},  // reverse drops the bits above the colours
      {0x1E, 30, 0x18},    {0x1E, 31, 0x1C},    {0x1E, 32, 0x1A},    {0x1E, 33, 0x1E},
      {0x1E, 34, 0x19},    {0x1E, 35, 0x1D},    {0x1E, 36, 0x1B},    {0x1E, 37, 0x1F},
      {0x1E, 40, 0x0E},    {0x1E, 41, 0x4E},    {0x1E, 42, 0x2E},    {0x1E, 43, 0x6E},
      {0x1E, 44, 0x1E},    {0x1E, 45, 0x5E},    {0x1E, 46, 0x3E},    {0x1E, 47, 0x7E},
      {0x9E, 30, 0x98},    {0x9E, 40, 0x8E},  // intensity stays with its colour's nibble
      // 39 and 49 give back the default's foreground or background.
      {0x9E, 39, 0x97},    {0x9E, 49, 0x0E},    {0x0C, 39, 0x07},    {0x4C, 49, 0x0C},
      // Codes the table does not know change nothing.
      {0x1E, 2, 0x1E},     {0x1E, 38, 0x1E},    {0x1E, 5, 0x1E},     {0x1E, 196, 0x1E},
      {0x1E, 100, 0x1E},   {0x1E, 22, 0x1E},
  };
  for (const auto& c : cases)
    EXPECT_EQ(apply_sgr(c.before, c.code, def), c.after) << std::hex << c.before << " " << std::dec << c.code;
  EXPECT_EQ(apply_sgr(0x1E, 39, 0x4A), 0x1A);  // another default
  EXPECT_EQ(apply_sgr(0x1E, 49, 0x4A), 0x4E);
}

TEST(Escape, AnsiTextOfEachOperation) {
  Terminal t;
  t.width = 80;
  t.height = 24;
  const struct {
    Op op;
    const char* text;
  } cases[] = {
      {op(OpKind::RestoreCursor), "\x1b[1;1H"},  // nothing kept yet: column 0, row 0
      {op(OpKind::SaveCursor), "\x1b[s"},
      {op(OpKind::RestoreCursor), "\x1b[u"},
      {op(OpKind::Erase, 0), "\x1b[2K\x1b[J"},
      {op(OpKind::Erase, 1), "\x1b[1J"},
      {op(OpKind::Erase, 2), "\x1b[2J\x1b[1;1H"},
      {op(OpKind::Erase, 3), "\x1b[2K\r"},
      {op(OpKind::Erase, 4), "\x1b[K"},
      {op(OpKind::Erase, 5), "\x1b[1K\r"},
      {op(OpKind::Up, 3), "\x1b[3A"},
      {op(OpKind::Down, 12), "\x1b[12B"},
      {op(OpKind::Right, 1), "\x1b[1C"},
      {op(OpKind::Left, 65534), "\x1b[65534D"},
      {op(OpKind::Up, 0), ""},  // a move by 0 moves nothing (ANSI reads 0 as 1)
      {op(OpKind::Left, 0), ""},
      {op(OpKind::Position, 5, 10), "\x1b[11;6H"},  // row, then column, from 1
      {op(OpKind::Position, 0, 0), "\x1b[1;1H"},
      {op(OpKind::Position, 79, 23), "\x1b[24;80H"},
      {op(OpKind::Position, 80, 0), ""},  // off the screen: refused
      {op(OpKind::Position, 0, 24), ""},
      {op(OpKind::Report), ""},
      {attr({31}), "\x1b[0;31m"},
      {attr({1}), "\x1b[0;91;100m"},  // 1 on 0x04: both intensity bits, 0x8C
      {op(OpKind::Erase, 4), "\x1b[0m\x1b[K\x1b[0;91;100m"},  // erased cells take the default
      {attr({0}), "\x1b[0m"},
      {attr({1, 31, 44}), "\x1b[0;91;104m"},
      {attr({39}), "\x1b[0;104m"},
      {attr({49}), "\x1b[0m"},
      {attr({7}), "\x1b[0;30;47m"},
      {attr({0, 4}), "\x1b[0;4m"},
      {attr({0, 32, 38, 5, 196}), "\x1b[0;32m"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ansi_text(c.op, t), c.text) << testing::PrintToString(c.op);
  }
}

TEST(Escape, ReportText) {
  Terminal t;
  t.width = 80;
  t.height = 24;
  t.attribute = 0x1E;
  EXPECT_EQ(report_text(t),
            "Screen buffer info:\n"
            "   size______ 80x24\n"
            "   cursor____ ?x?\n"
            "   attribute_ 0000001E 00000007\n"
            "   left______ 0 top: 0\n"
            "   right_____ 79 bottom: 23\n"
            "   max_______ 80x24\n");
}

// The writer on a pseudo-terminal carries the sequences out; redirected, it passes them through.
class Pty {
 public:
  Pty() {
    winsize ws{};
    ws.ws_row = 24;
    ws.ws_col = 80;
    EXPECT_EQ(openpty(&master_, &slave_, nullptr, nullptr, &ws), 0);
    termios tio{};
    tcgetattr(slave_, &tio);
    cfmakeraw(&tio);  // no LF to CR LF
    tcsetattr(slave_, TCSANOW, &tio);
  }
  ~Pty() {
    close(master_);
    close(slave_);
  }
  int slave() const { return slave_; }
  std::string read_all() {
    std::string out;
    char buf[4096];
    pollfd pfd{master_, POLLIN, 0};
    while (poll(&pfd, 1, 200) > 0) {
      ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }

 private:
  int master_ = -1, slave_ = -1;
};

TEST(Escape, WriterOnATerminal) {
  test::CaptureOutput cap;
  Pty pty;
  stdio::set_handle(pty.slave());
  const std::string l1 = "a\x1b[31mred\x1b[0m\x1b[2;3H\x1bx\x1b[?";
  stdio::write(l1.data(), l1.size(), 1, true);
  const std::vector<uint16_t> l2 = {0xE9, 0x1B, '[', '1', 'A', 'z', 0x1B, '['};  // cut at the end
  stdio::write(l2.data(), l2.size() * 2, 2, false);
  const std::vector<uint32_t> l4 = {0x1B, '[', '3', '1', 'm', 0x1F600};  // unit 4: as text
  stdio::write(l4.data(), l4.size() * 4, 4, false);
  const std::string report =
      "Screen buffer info:\n   size______ 80x24\n   cursor____ ?x?\n"
      "   attribute_ 00000007 00000007\n   left______ 0 top: 0\n   right_____ 79 bottom: 23\n"
      "   max_______ 80x24\n";
  EXPECT_EQ(pty.read_all(), "a\x1b[0;31mred\x1b[0m\x1b[4;3H\x1bx" + report + "\n\xC3\xA9\x1b[1Az\x1b[" +
                                "\x1b[31m\xF0\x9F\x98\x80");
  // The echo to hook list 2 carries the text, never a sequence.
  EXPECT_EQ(test::CaptureOutput::list2_text(),
            "a" "red" "\x1bx" + report + "\n\xC3\xA9z\x1b[" + "\x1b[31m\xF0\x9F\x98\x80");
}

TEST(Escape, WriterRedirectedPassesSequencesThrough) {
  test::CaptureOutput cap;
  const std::string text = "a\x1b[31mred\x1b[?\x1b[5;10H";
  stdio::write(text.data(), text.size(), 1, true);
  EXPECT_EQ(cap.stdout_text(), text + "\n");
}

}  // namespace
}  // namespace zem::escape
