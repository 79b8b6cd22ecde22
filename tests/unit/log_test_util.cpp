// Temporary log files for the unit and sandboxed tests.
#include "log_test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "maint.h"

TempLog::TempLog() {
  char pattern[] = "/tmp/dmtest.XXXXXX";
  dir_ = mkdtemp(pattern);
  path_ = dir_ + "/logs/test.log";
  logFileName(path_.c_str());
}

TempLog::~TempLog() {
  logFileName(nullptr);
  std::filesystem::remove_all(dir_);
}

std::vector<std::string> TempLog::lines() const {
  static const std::regex stamp(R"(^\d\d/\d\d/\d\d-\d\d:\d\d:\d\d - )");
  std::vector<std::string> out;
  std::istringstream in(readWholeFile(path_));
  std::string line;
  while (std::getline(in, line)) {
    if (std::regex_search(line, stamp)) line = "T " + line.substr(20);
    out.push_back(line);
  }
  return out;
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeWholeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}
