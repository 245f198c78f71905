// Reads a committed fixture of tests/data/ as whitespace-separated fields per line ("#" lines skipped).
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zem::test {

inline std::vector<std::vector<std::string>> fixture_lines(const std::string& name) {
  const char* dir = std::getenv("ZEM_TEST_DATA");
  std::ifstream in(std::string(dir ? dir : "tests/data") + "/" + name);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::vector<std::string> row;
    for (std::string f; fields >> f;) row.push_back(f);
    rows.push_back(row);
  }
  return rows;
}

}  // namespace zem::test
