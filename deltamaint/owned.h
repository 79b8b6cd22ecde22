// owned.h - scope holders for what the C-style operations hand out: a text
// allocated with malloc, and an open FILE*.  The holder frees or closes it
// when its scope ends, on every way out.
#ifndef DELTAMAINT_OWNED_H
#define DELTAMAINT_OWNED_H

#include <cstdio>
#include <cstdlib>
#include <memory>

struct FreeText {
  void operator()(char* text) const { free(text); }
};
// A malloc'd text; .get() is null when there is none.
using OwnedText = std::unique_ptr<char, FreeText>;

struct CloseFile {
  void operator()(FILE* file) const { fclose(file); }
};
// An open stream; null when the open failed.
using OwnedFile = std::unique_ptr<FILE, CloseFile>;

#endif  // DELTAMAINT_OWNED_H
