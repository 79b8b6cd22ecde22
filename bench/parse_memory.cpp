// parse_memory.cpp - peak memory of one report parse: parses the report
// file once and prints the process's peak resident size before and after,
// with the counts the parser found.
//
//   parse_memory REPORT PREFIX
//
// Prints: rss_before_kb=... peak_kb=... added=... deleted=... changed=...
// entries=... bytes=...
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "maint.h"

static long peakKb() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

static int entries(array* list) { return list ? arraySize(*list) : 0; }

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: parse_memory REPORT PREFIX\n");
    return 2;
  }
  struct stat st;
  if (stat(argv[1], &st) != 0) {
    perror(argv[1]);
    return 1;
  }
  long before = peakKb();
  FILE* in = fopen(argv[1], "r");
  if (!in) {
    perror(argv[1]);
    return 1;
  }
  int added = 0, deleted = 0, changed = 0;
  parseTWReport(in, added, deleted, changed, atoi(argv[2]));
  fclose(in);
  long after = peakKb();
  int total = entries(addedFiles()) + entries(deletedFiles()) + entries(changedHardLinks()) +
              entries(addedDirectories()) + entries(deletedDirectories()) +
              entries(changedFiles()) + entries(attributesModified());
  printf("rss_before_kb=%ld peak_kb=%ld added=%d deleted=%d changed=%d entries=%d bytes=%lld\n",
         before, after, added, deleted, changed, total, static_cast<long long>(st.st_size));
  return 0;
}
