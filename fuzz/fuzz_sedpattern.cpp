// fuzz_sedpattern.cpp - fuzzes the inittab pattern escaping.  Property: the
// result is the pattern with each "/" written as "\/", the text before a
// slash cut to 299 characters (it passes a 300-character buffer) and the
// text after the last slash kept whole.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "maint.h"

#define CHECK(c) ((c) ? (void)0 : (fprintf(stderr, "property failed: %s\n", #c), abort()))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string pattern = std::string(reinterpret_cast<const char*>(data), size).c_str();
  std::string expected;
  size_t from = 0;
  for (size_t slash; (slash = pattern.find('/', from)) != std::string::npos; from = slash + 1) {
    expected += pattern.substr(from, std::min<size_t>(slash - from, 299)) + "\\/";
  }
  expected += pattern.substr(from);
  char* escaped = fixPatternForSed(pattern.c_str());
  CHECK(escaped && expected == escaped);
  free(escaped);
  return 0;
}
