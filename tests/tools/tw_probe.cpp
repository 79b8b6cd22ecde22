// tw_probe - drives the tripwire operations of the library for the tests
// that run inside the sandbox, and prints what they produced.
//
//   tw_probe parse PREFIX REPORT
//       parseTWReport on REPORT; prints the three counts and every entry of
//       the eight change lists, one "LIST<TAB>ENTRY" line each, with "\n"
//       and "\\" inside an entry written as the two characters \n and \\.
//   tw_probe policy EXCLUDEFILE|- LOGFLAG LOGFILE
//       buildTripCommand(EXCLUDEFILE, LOGFLAG) with the log at LOGFILE;
//       prints the policy text.
//   tw_probe database TARGETDIR POLICYFILE LOGFILE [trace]
//       buildTripFilenames(TARGETDIR); unless POLICYFILE is "-",
//       buildTripControlFiles with its text; then buildTripDatabase, with
//       tracing on when "trace" is given.  Prints "controls RC" and
//       "database RC".
//   tw_probe socket PATH
//       binds a Unix socket at PATH and leaves it there.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "maint.h"

namespace {

int usage() {
  fprintf(stderr,
          "usage: tw_probe parse PREFIX REPORT\n"
          "       tw_probe policy EXCLUDEFILE|- LOGFLAG LOGFILE\n"
          "       tw_probe database TARGETDIR POLICYFILE|- LOGFILE [trace]\n"
          "       tw_probe socket PATH\n");
  return 2;
}

void printList(const char* name, array* list) {
  if (!list) return;
  for (array_elem* e = first(*list); e; e = next(*e)) {
    std::string entry;
    for (const char* p = static_cast<const char*>(e->data); *p; ++p) {
      if (*p == '\n') {
        entry += "\\n";
      } else if (*p == '\\') {
        entry += "\\\\";
      } else {
        entry += *p;
      }
    }
    printf("%s\t%s\n", name, entry.c_str());
  }
}

int parse(const char* prefix, const char* report) {
  FILE* in = fopen(report, "r");
  if (!in) {
    perror(report);
    return 1;
  }
  int added = 0, deleted = 0, changed = 0;
  parseTWReport(in, added, deleted, changed, atoi(prefix));
  fclose(in);
  printf("added %d\ndeleted %d\nchanged %d\n", added, deleted, changed);
  printList("addedFiles", addedFiles());
  printList("addedDirectories", addedDirectories());
  printList("deletedFiles", deletedFiles());
  printList("deletedDirectories", deletedDirectories());
  printList("changedFiles", changedFiles());
  printList("changedHardLinks", changedHardLinks());
  printList("attributesModified", attributesModified());
  printList("originals4HardLinks", originals4HardLinks());
  freeChangeLists();
  return 0;
}

int policy(const char* exclude, const char* logflag, const char* logfile) {
  logFileName(logfile);
  char* text = buildTripCommand(strcmp(exclude, "-") == 0 ? nullptr : exclude, atoi(logflag));
  fputs(text, stdout);
  free(text);
  return 0;
}

int database(const char* target, const char* policyFile, const char* logfile, bool trace) {
  logFileName(logfile);
  if (trace) {
    methodTrace::startTracing();
  } else {
    methodTrace::stopTracing();
  }
  buildTripFilenames(target);
  int controls = 0;
  if (strcmp(policyFile, "-") != 0) {
    char* text = file2Buffer(policyFile);
    controls = buildTripControlFiles(text ? text : "", target);
    free(text);
  }
  printf("controls %d\n", controls);
  int rc = buildTripDatabase("probe");
  printf("database %d\n", rc);
  return 0;
}

int makeSocket(const char* path) {
  struct sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (!formatText(addr.sun_path, sizeof addr.sun_path, "%s", path)) return 1;
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0 || bind(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0) {
    perror(path);
    return 1;
  }
  close(fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string command = argv[1];
  if (command == "parse" && argc == 4) return parse(argv[2], argv[3]);
  if (command == "policy" && argc == 5) return policy(argv[2], argv[3], argv[4]);
  if (command == "database" && (argc == 5 || argc == 6)) {
    return database(argv[2], argv[3], argv[4], argc == 6 && strcmp(argv[5], "trace") == 0);
  }
  if (command == "socket" && argc == 3) return makeSocket(argv[2]);
  return usage();
}
