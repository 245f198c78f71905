// The lexer's tables against the same tables expanded independently from their written form
// (tests/data/make_lexer_tables.py writes tests/data/lexer_tables.txt).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "evaluator/lexer_tables.h"

namespace zem::lexer {
namespace {

std::map<std::string, std::vector<std::string>> read_fixture() {
  const char* dir = std::getenv("ZEM_TEST_DATA");
  std::string path = std::string(dir ? dir : "tests/data") + "/lexer_tables.txt";
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::map<std::string, std::vector<std::string>> sections;
  std::string line, section;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.find(' ') == std::string::npos && line.find(':') == std::string::npos) {
      section = line;
      continue;
    }
    auto space = line.find(' ');
    std::string head = line.substr(0, space);
    if (head == "point-lookahead" || head == "path-followers") {
      sections[head].push_back(line.substr(space + 1));
      continue;
    }
    sections[section].push_back(line);
  }
  return sections;
}

const char* type_name(TypeId t) {
  switch (t) {
    case TYPE_NONE_ID: return "none";
    case TYPE_STRING: return "string!";
    case TYPE_FILE: return "file!";
    case TYPE_WORD: return "word!";
    case TYPE_SET_WORD: return "set-word!";
    case TYPE_REFINEMENT: return "refinement!";
    case TYPE_ISSUE: return "issue!";
    case TYPE_BINARY: return "binary!";
    case TYPE_CHAR: return "char!";
    case TYPE_INTEGER: return "integer!";
    case TYPE_FLOAT: return "float!";
    case TYPE_TUPLE: return "tuple!";
    case TYPE_DATE: return "date!";
    case TYPE_TIME: return "time!";
    case TYPE_PAIR: return "pair!";
    case TYPE_POINT2D: return "point2D!";
    case TYPE_MONEY: return "money!";
    case TYPE_TAG: return "tag!";
    case TYPE_URL: return "url!";
    case TYPE_EMAIL: return "email!";
    case TYPE_REF: return "ref!";
    case TYPE_PATH: return "path!";
    case TYPE_ERROR: return "error!";
    case TYPE_PERCENT: return "percent!";
    default: return "?";
  }
}

TEST(LexerTables, MatchTheIndependentTranscription) {
  auto fx = read_fixture();

  ASSERT_EQ(fx["classes"].size(), 256u);
  for (unsigned b = 0; b < 256; ++b) {
    unsigned byte = 0, entry = 0;
    ASSERT_EQ(std::sscanf(fx["classes"][b].c_str(), "%x %x", &byte, &entry), 2);
    ASSERT_EQ(byte, b);
    EXPECT_EQ(kClassTable[b], entry) << "byte 0x" << std::hex << b;
  }

  ASSERT_EQ(fx["transitions"].size(), size_t(kStateCount));
  for (int s = 0; s < kStateCount; ++s) {
    std::istringstream row(fx["transitions"][s]);
    std::string label;
    row >> label;
    ASSERT_EQ(label, std::to_string(s) + ":");
    for (int c = 0; c < kClassCount; ++c) {
      int want = -1;
      row >> want;
      EXPECT_EQ(int(kTransitions[s * kClassCount + c]), want) << "state " << s << " class " << c;
    }
  }

  ASSERT_EQ(fx["state-types"].size(), size_t(kStateCount));
  for (int s = 0; s < kStateCount; ++s)
    EXPECT_EQ(std::to_string(s) + " " + type_name(kStateTypes[s]), fx["state-types"][s]);

  ASSERT_EQ(fx["kind-types"].size(), size_t(kKindCount));
  for (int k = 0; k < kKindCount; ++k)
    EXPECT_EQ(std::to_string(k) + " " + type_name(kKindTypes[k]), fx["kind-types"][k]);

  std::string lookahead;
  for (unsigned b = 0; b < 256; ++b) {
    if (!kPointLookahead[b]) continue;
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", b);
    lookahead += (lookahead.empty() ? "" : " ") + std::string(hex);
  }
  EXPECT_EQ(lookahead, fx["point-lookahead"].at(0));

  std::string followers;
  for (int c = 0; c < kClassCount; ++c)
    if (kPathFollowerClasses >> c & 1) followers += (followers.empty() ? "" : " ") + std::to_string(c);
  EXPECT_EQ(followers, fx["path-followers"].at(0));
}

// Properties the automaton relies on: only state 0 returns to state 0, no row leads to state 65,
// and every final transition names a token kind.
TEST(LexerTables, AutomatonInvariants) {
  for (int s = 0; s < kStateCount; ++s)
    for (int c = 0; c < kClassCount; ++c) {
      int to = kTransitions[s * kClassCount + c];
      EXPECT_NE(to, 65);
      EXPECT_LT(to, kFinalBase + kKindCount);
      if (s != 0) {
        EXPECT_NE(to, 0) << "state " << s << " class " << c;
      }
    }
  EXPECT_TRUE(is_delimiter_space(0x3000));
  EXPECT_TRUE(is_delimiter_space(0x200A));
  EXPECT_FALSE(is_delimiter_space(0x200D));
  EXPECT_FALSE(is_delimiter_space(' '));
}

}  // namespace
}  // namespace zem::lexer
