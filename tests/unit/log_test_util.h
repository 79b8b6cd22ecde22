// Helpers for tests that read what the library wrote to its log: a log in
// a fresh temporary directory, read back as lines with the timestamps
// checked and removed.
#ifndef DELTAMAINT_TESTS_LOG_TEST_UTIL_H
#define DELTAMAINT_TESTS_LOG_TEST_UTIL_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

std::string readWholeFile(const std::string& path);
void writeWholeFile(const std::string& path, const std::string& text);

#endif  // DELTAMAINT_TESTS_LOG_TEST_UTIL_H
