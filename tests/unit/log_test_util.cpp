// Temporary log files for the unit tests.
#include "log_test_util.h"

#include <cstdlib>
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
  std::string cmd = "rm -rf '" + dir_ + "'";
  if (system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
}

std::string TempLog::raw() const { return readWholeFile(path_); }

std::vector<std::string> TempLog::lines() const {
  static const std::regex stamp(R"(^\d\d/\d\d/\d\d-\d\d:\d\d:\d\d - )");
  std::vector<std::string> out;
  std::istringstream in(raw());
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, stamp)) line = "T " + line.substr(20);
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
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}
