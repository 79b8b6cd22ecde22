// fstype_tool.cpp - test driver for the library's image filesystem check:
// prints "ext3", "ext2" or "????" for one image file.  It loop-mounts the
// image on mnt_check_dir in the current directory, so it is meant to run
// inside the test sandbox only.
//
// Usage: fstype_tool [-l LOGFILE] IMAGE
#include <cstdio>
#include <cstring>

#include "maint.h"

int main(int argc, char** argv) {
  int at = 1;
  if (at + 1 < argc && strcmp(argv[at], "-l") == 0) {
    logFileName(argv[at + 1]);
    at += 2;
  }
  if (at + 1 != argc) {
    fprintf(stderr, "usage: fstype_tool [-l LOGFILE] IMAGE\n");
    return 2;
  }
  printf("%s\n", checkImageFilesystemType(argv[at], "."));
  return 0;
}
