// What the unit tests share: a log in a fresh temporary directory, read
// back as lines with the timestamps checked and removed; whole-file reads
// and writes; and case tables kept as data in tests/data/cases.
#ifndef DELTAMAINT_TESTS_UNIT_SUPPORT_H
#define DELTAMAINT_TESTS_UNIT_SUPPORT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text.h"

class TempLog {
 public:
  TempLog();
  ~TempLog();
  const std::string& dir() const { return dir_; }
  const std::string& path() const { return path_; }
  // The lines of the log; a stamped record's 20-character timestamp is
  // checked against the record format and replaced by "T ".
  std::vector<std::string> lines() const;

 private:
  std::string dir_;
  std::string path_;
};

void writeWholeFile(const std::string& path, const std::string& text);

// The rows of tests/data/cases/NAME.tsv, one case a line: fields split at
// tabs, the escapes \n \r \t \\ and \xHH decoded.  The first line names
// the columns, comment lines starting with '#' may stand before it; blank
// lines are skipped.
using Row = std::vector<std::string>;
std::vector<Row> caseRows(const std::string& name);
// A field's text, or null for a field that is "~".
const char* textOrNull(const std::string& field);

#endif  // DELTAMAINT_TESTS_UNIT_SUPPORT_H
