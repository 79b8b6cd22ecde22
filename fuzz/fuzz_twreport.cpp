// fuzz_twreport.cpp - fuzzes the integrity report parser (parseTWReport) on
// a report read through fmemopen, with no prefix and with the length of a
// mount directory as prefix; the seven change lists are freed after each
// parse with the change-list free operations.
//
// Properties: the counts are not negative, every list entry is a text, and
// every attribute entry is whole: one to three lines, each a chmod, chown
// or chgrp command that ends with the quoted path and a newline.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "maint.h"

static void checkAttributeEntry(const char* entry) {
  int lines = 0;
  const char* p = entry;
  while (*p) {
    const char* end = strchr(p, '\n');
    fuzzCheck(end != nullptr, "an attribute line ends with a newline");
    fuzzCheck(strncmp(p, "  chmod -v ", 11) == 0 || strncmp(p, "  chown -v ", 11) == 0 ||
                  strncmp(p, "  chgrp -v ", 11) == 0,
              "an attribute line is a chmod, chown or chgrp command");
    fuzzCheck(end - p >= 2 && end[-1] == '"', "an attribute line ends with the quoted path");
    ++lines;
    p = end + 1;
  }
  fuzzCheck(lines >= 1 && lines <= 3, "an attribute entry has one to three lines");
}

static void checkList(array* list, bool attributes) {
  fuzzCheck(list != nullptr, "parseTWReport makes every list");
  int n = 0;
  for (array_elem* e = first(*list); e; e = next(*e)) {
    const char* text = static_cast<const char*>(e->data);
    fuzzCheck(text != nullptr, "a list entry is a text");
    if (attributes) checkAttributeEntry(text);
    ++n;
  }
  fuzzCheck(n == arraySize(*list), "the list count matches its entries");
}

static void parseOnce(const std::string& report, int prefix) {
  // fmemopen refuses an empty buffer; the parser takes a null stream.
  FILE* in = report.empty()
                 ? nullptr
                 : fmemopen(const_cast<char*>(report.data()), report.size(), "r");
  int added = -1, deleted = -1, changed = -1;
  parseTWReport(in, added, deleted, changed, prefix);
  if (in) fclose(in);
  fuzzCheck(added >= 0 && deleted >= 0 && changed >= 0, "the counts are not negative");
  checkList(addedFiles(), false);
  checkList(deletedFiles(), false);
  checkList(changedHardLinks(), false);
  checkList(addedDirectories(), false);
  checkList(deletedDirectories(), false);
  checkList(changedFiles(), false);
  checkList(attributesModified(), true);
  freeChangeLists();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string report(reinterpret_cast<const char*>(data), size);
  parseOnce(report, 0);
  parseOnce(report, static_cast<int>(strlen("/tmp/maint_zor/new")));
  return 0;
}
