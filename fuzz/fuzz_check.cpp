// fuzz_check.cpp - reporting a broken output property (see fuzz_check.h).
#include "fuzz_check.h"

#include <cstdio>
#include <cstdlib>

void fuzzCheck(bool ok, const char* what) {
  if (ok) return;
  fprintf(stderr, "property failed: %s\n", what);
  abort();
}
