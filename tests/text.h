// Text helpers every test program shares: whole files, lines, and the log
// with each record's time stamp checked and written as "T ".
#ifndef DELTAMAINT_TESTS_TEXT_H
#define DELTAMAINT_TESTS_TEXT_H

#include <string>
#include <vector>

std::string readFile(const std::string& path);
std::vector<std::string> lines(const std::string& text);
// The log with each record's stamp checked and written as "T ".
std::string stamped(const std::string& log);

#endif  // DELTAMAINT_TESTS_TEXT_H
