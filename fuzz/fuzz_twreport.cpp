// fuzz_twreport.cpp - fuzzes the integrity report parser, with no prefix
// and with a mount directory's length as prefix.  Properties: the counts
// are not negative, every list exists and holds texts, and every attribute
// entry is one to three chmod, chown or chgrp lines, each ending with the
// quoted path and a newline.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "maint.h"

#define CHECK(c) ((c) ? (void)0 : (fprintf(stderr, "property failed: %s\n", #c), abort()))

static void parseOnce(const std::string& report, int prefix) {
  // fmemopen refuses an empty buffer; the parser takes a null stream.
  FILE* in =
      report.empty() ? nullptr : fmemopen(const_cast<char*>(report.data()), report.size(), "r");
  int added = -1, deleted = -1, changed = -1;
  parseTWReport(in, added, deleted, changed, prefix);
  if (in) fclose(in);
  CHECK(added >= 0 && deleted >= 0 && changed >= 0);
  for (array* list : {addedFiles(), deletedFiles(), changedHardLinks(), addedDirectories(),
                      deletedDirectories(), changedFiles(), attributesModified()}) {
    CHECK(list != nullptr);
    for (array_elem* e = first(*list); e; e = next(*e)) CHECK(e->data != nullptr);
  }
  for (array_elem* e = first(*attributesModified()); e; e = next(*e)) {
    int lines = 0;
    for (const char* p = static_cast<char*>(e->data); *p; ++lines) {
      const char* end = strchr(p, '\n');
      CHECK(end && end - p >= 2 && end[-1] == '"');
      CHECK(!strncmp(p, "  chmod -v ", 11) || !strncmp(p, "  chown -v ", 11) ||
            !strncmp(p, "  chgrp -v ", 11));
      p = end + 1;
    }
    CHECK(lines >= 1 && lines <= 3);
  }
  freeChangeLists();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string report(reinterpret_cast<const char*>(data), size);
  parseOnce(report, 0);
  parseOnce(report, static_cast<int>(strlen("/tmp/maint_zor/new")));
  return 0;
}
