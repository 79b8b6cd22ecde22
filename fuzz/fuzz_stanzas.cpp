// fuzz_stanzas.cpp - fuzzes the installed-bundles table reader
// (readInstalledBundles) and the record update rules (updateStanzaItem).
// The reader takes a file name: each input is written to a file in a
// directory of this process, /tmp/dm-fuzz-PID-XXXXXX, removed at exit
// (scripts/fuzz.sh removes it after a crash).  The table is freed after
// each input.
//
// Properties: the table holds one record per closing line "}", and
// an update that is accepted leaves the item holding the new value.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "maint.h"

static char dir[64];
static char file[96];

static void removeFiles() {
  unlink(file);
  rmdir(dir);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  snprintf(dir, sizeof dir, "/tmp/dm-fuzz-%d-XXXXXX", static_cast<int>(getpid()));
  if (!mkdtemp(dir)) {
    perror("mkdtemp");
    abort();
  }
  snprintf(file, sizeof file, "%s/clientinstall.bundles", dir);
  atexit(removeFiles);
  return 0;
}

static int closingLines(const std::string& text) {
  int n = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.find_first_not_of(" \t\v\f\r") != std::string::npos &&
        line.substr(line.find_first_not_of(" \t\v\f\r")) == "}")
      ++n;
    start = end + 1;
  }
  return n;
}

static void tryUpdate(ins_elem* ins, const char* item) {
  const char* value = "OK - 2026/01/02-03:04:05";
  if (updateStanzaItem(ins, item, value) == 0) {
    const char* now = strcmp(item, APPLIED) == 0 ? ins->inst : ins->back;
    fuzzCheck(now && strcmp(now, value) == 0, "an accepted update stores the value");
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A new file each time: truncating one that holds data makes ext4 start
  // writing it back at close, which costs more than the parse.
  unlink(file);
  FILE* out = fopen(file, "w");
  if (!out) abort();
  if (size && fwrite(data, 1, size, out) != size) abort();
  if (fclose(out) != 0) abort();

  array* table = readInstalledBundles(file);
  fuzzCheck(table != nullptr, "the reader always returns a table");
  // The file is read as C text: up to its first NUL byte.
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.c_str();
  fuzzCheck(arraySize(*table) == closingLines(text), "one record per closing line");
  for (array_elem* e = first(*table); e; e = next(*e)) {
    ins_elem* ins = static_cast<ins_elem*>(e->data);
    fuzzCheck(ins != nullptr, "a record is there");
    tryUpdate(ins, APPLIED);
    tryUpdate(ins, BACKOFF);
    tryUpdate(ins, PREPPED);
  }
  freeInstalledBundles(table);
  return 0;
}
