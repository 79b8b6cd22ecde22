// fuzz_sedpattern.cpp - fuzzes the inittab pattern escaping
// (fixPatternForSed).
//
// Property: the result is the pattern with each "/" written as "\/", where
// the text between two slashes keeps at most its first 299 characters (it
// passes through a 300-character buffer) and the text after the last slash
// is kept whole.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "maint.h"

static std::string expected(const std::string& pattern) {
  std::string out;
  size_t from = 0;
  for (size_t slash = pattern.find('/'); slash != std::string::npos;
       slash = pattern.find('/', from)) {
    size_t len = slash - from;
    if (len > 299) len = 299;
    out += pattern.substr(from, len);
    out += "\\/";
    from = slash + 1;
  }
  return out + pattern.substr(from);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The pattern is a C text: the input up to its first NUL byte.
  std::string pattern(reinterpret_cast<const char*>(data), size);
  pattern = pattern.c_str();
  char* escaped = fixPatternForSed(pattern.c_str());
  fuzzCheck(escaped != nullptr, "a pattern gives a text");
  fuzzCheck(expected(pattern) == escaped, "each slash escaped, nothing else changed");
  free(escaped);
  return 0;
}
