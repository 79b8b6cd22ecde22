// Temporary logs, whole files and case tables for the unit tests.
#include "support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <utility>

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

std::vector<std::string> TempLog::lines() const { return ::lines(stamped(readFile(path_))); }


void writeWholeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::vector<Row> caseRows(const std::string& name) {
  std::istringstream in(readFile(DM_TEST_DATA "/cases/" + name + ".tsv"));
  std::vector<Row> rows;
  bool header = true;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || (header && line[0] == '#') || std::exchange(header, false)) continue;
    Row row(1);
    for (size_t i = 0; i < line.size(); ++i) {
      char c = line[i];
      if (c == '\t') {
        row.emplace_back();
        continue;
      }
      if (c == '\\' && i + 1 < line.size()) {
        c = line[++i];
        if (c == 'x') {
          c = static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else if (size_t at = std::string("nrt").find(c); at != std::string::npos) {
          c = "\n\r\t"[at];
        }
      }
      row.back() += c;
    }
    rows.push_back(row);
  }
  EXPECT_FALSE(rows.empty()) << "no cases in " << name;
  return rows;
}

const char* textOrNull(const std::string& field) { return field == "~" ? nullptr : field.c_str(); }
