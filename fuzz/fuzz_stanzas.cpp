// fuzz_stanzas.cpp - fuzzes the installed-bundles table reader and the
// update rules.  The reader takes a file name: each input is written to a
// memory file named by /proc/self/fd.  Properties: one record per closing
// line "}", and an accepted update leaves the item holding the new value.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "maint.h"

#define CHECK(c) ((c) ? (void)0 : (fprintf(stderr, "property failed: %s\n", #c), abort()))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int fd = memfd_create("clientinstall.bundles", 0);
  static std::string file = "/proc/self/fd/" + std::to_string(fd);
  CHECK(fd >= 0 && ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == ssize_t(size));
  std::string text = std::string(reinterpret_cast<const char*>(data), size).c_str();
  int closes = 0;
  for (size_t at = 0; at <= text.size(); at = text.find('\n', at) + 1) {
    size_t start = text.find_first_not_of(" \t\v\f\r", at), end = text.find('\n', at);
    closes +=
        start < end && text.compare(start, 1, "}") == 0 && start + 1 == std::min(end, text.size());
    if (end == std::string::npos) break;
  }
  array* table = readInstalledBundles(file.c_str());
  CHECK(arraySize(*table) == closes);
  const char* value = "OK - 2026/01/02-03:04:05";
  for (array_elem* e = first(*table); e; e = next(*e)) {
    ins_elem* ins = static_cast<ins_elem*>(e->data);
    if (updateStanzaItem(ins, APPLIED, value) == 0) CHECK(strcmp(ins->inst, value) == 0);
    if (updateStanzaItem(ins, BACKOFF, value) == 0) CHECK(strcmp(ins->back, value) == 0);
    CHECK(updateStanzaItem(ins, PREPPED, value) == 1);
  }
  freeInstalledBundles(table);
  return 0;
}
