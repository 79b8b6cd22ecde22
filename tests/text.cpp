// Whole files, lines and log stamps for the tests.
#include "text.h"

#include <fstream>
#include <regex>
#include <sstream>

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string stamped(const std::string& log) {
  static const std::regex stamp(
      "^\\d\\d/(0\\d|1[012])/[0-3]\\d-([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d - ");
  std::string out;
  for (const std::string& line : lines(log)) out += std::regex_replace(line, stamp, "T ") + "\n";
  return out;
}
