// inittab_tool.cpp - test driver for the library's /etc/inittab operations:
// runs one operation on the fixed path /etc/inittab and prints its result.
// Meant to run inside the test sandbox only.
//
// Usage: inittab_tool [-l LOGFILE] COMMAND [ARG]
//   prepare          add the runlevel 7 block, then its default entry
//   definition       add the runlevel 7 block (and the console edits)
//   initdefault      add the runlevel 7 default entry
//   apply | backoff  switch for an apply or a back-off
//   normal           switch to normal; prints the runlevel chosen
//   comment PATTERN | uncomment PATTERN
//                    comment edit; prints 1 when a line was edited, else 0
//   console N        give console N runlevel 7
//   escape PATTERN   prints the pattern escaped for sed
//   runlevel         prints the current runlevel
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "maint.h"

static int usage() {
  fprintf(stderr, "usage: inittab_tool [-l LOGFILE] COMMAND [ARG]\n");
  return 2;
}

int main(int argc, char** argv) {
  int at = 1;
  if (at + 1 < argc && strcmp(argv[at], "-l") == 0) {
    logFileName(argv[at + 1]);
    at += 2;
  }
  if (at >= argc) return usage();
  const char* command = argv[at];
  const char* arg = at + 1 < argc ? argv[at + 1] : nullptr;
  if (strcmp(command, "prepare") == 0) {
    addRunlevel7Definiition();
    addRunlevel7Initdefault();
  } else if (strcmp(command, "definition") == 0) {
    addRunlevel7Definiition();
  } else if (strcmp(command, "initdefault") == 0) {
    addRunlevel7Initdefault();
  } else if (strcmp(command, "apply") == 0) {
    switchSystemForApply(nullptr);
  } else if (strcmp(command, "backoff") == 0) {
    switchSystemForBackoff();
  } else if (strcmp(command, "normal") == 0) {
    printf("%d\n", switchSystemToNormal());
  } else if (strcmp(command, "runlevel") == 0) {
    printf("%d\n", getCurrentRunlevel());
  } else if (!arg) {
    return usage();
  } else if (strcmp(command, "comment") == 0) {
    printf("%d\n", comment_inittab_entry(arg, COMMENT));
  } else if (strcmp(command, "uncomment") == 0) {
    printf("%d\n", comment_inittab_entry(arg, UNCOMMENT));
  } else if (strcmp(command, "console") == 0) {
    addVirtualConsole(atoi(arg));
  } else if (strcmp(command, "escape") == 0) {
    char* escaped = fixPatternForSed(arg);
    printf("%s\n", escaped);
    free(escaped);
  } else {
    return usage();
  }
  return 0;
}
