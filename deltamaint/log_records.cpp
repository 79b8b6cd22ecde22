// log_records.cpp - ready-made log records: the command line, the
// executable's package, elapsed time, a failed loop mount, and (for other
// users of the library) directory listings, disk space and processes.
#include <libintl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "maint.h"

void logCommandLine(int argc, char** argv) {
  methodTrace trace("logCommandLine");
  char* text = nullptr;
  int size = 0;
  dynamicStrCat(text, "    ", size);
  for (int i = 0; i < argc; ++i) {
    dynamicStrCat(text, argv[i] ? argv[i] : "", size);
    dynamicStrCat(text, " ", size);
  }
  log("Command line issued:");
  log(text);
  free(text);
}

void logRPMLevel(const char* exec) {
  methodTrace trace("logRPMLevel");
  char cmd[MAINT_BUFF];
  formatText(cmd, sizeof cmd, "which %s 2>/dev/null", exec ? exec : "");
  char* path = backtics(cmd);
  if (path[0] != '/') {
    logOnly("", "Error locating executable: %s", exec);
    free(path);
    return;
  }
  chomp(path);
  char* package = nullptr;
  if (formatText(cmd, sizeof cmd, "/bin/rpm -qf %s 2>/dev/null", path)) {
    package = backtics(cmd);
    chomp(package);
  } else {
    package = copyString("");
  }
  if (package[0] != '\0') {
    logOnly("", "Executable %s is from RPM %s", exec, package);
  } else {
    logOnly("", "RPM for file %s could not be identified.", path);
  }
  free(package);
  free(path);
}

void logAndPrintElapsedTime(unsigned long start, unsigned long end) {
  methodTrace trace("logAndPrintElapsedTime");
  unsigned long diff = end - start;
  int hours = static_cast<int>(diff / 3600);
  int minutes = static_cast<int>((diff % 3600) / 60);
  int seconds = static_cast<int>(diff % 60);
  const char* format = "Elapsed time = %d:%02d:%02d ";
  char text[128];
  snprintf(text, sizeof text, format, hours, minutes, seconds);
  logOnly("", text);
  snprintf(text, sizeof text, gettext(format), hours, minutes, seconds);
  console('I', text);
}

void failedMount(const char* /*cmd*/, int rc, const char* image, const char* target) {
  char rcText[32];
  snprintf(rcText, sizeof rcText, "rc = %d", (rc >> 8) & 0xff);
  logAndConsole('E', "Unable to mount %s for processing.", image, rcText);
  char cmd[MAINT_BUFF];
  formatText(cmd, sizeof cmd, "ls -lh %s", image ? image : "");
  char* listing = backtics(cmd);
  logOnly("I -> ", listing);
  free(listing);
  formatText(cmd, sizeof cmd, "ls -ld %s", target ? target : "");
  listing = backtics(cmd);
  logOnly("D -> ", listing);
  free(listing);
  logOnlyDelimiter(0, 2);
}

void dirListToLog(const char* indent, const char* dir, int recurse) {
  char* name = tempfilename("dirListToLog.%d.tmp");
  char cmd[MAINT_BUFF];
  const char* format = recurse ? "/usr/bin/find %s -exec ls -d -l {} \\; >%s"
                               : "/usr/bin/find %s -maxdepth 1 -exec ls -d -l {} \\; >%s";
  if (formatText(cmd, sizeof cmd, format, dir ? dir : "", name)) runShell(cmd);
  tmpfileToLog(indent, name);
  unlink(name);
  free(name);
}

void logAndPrintDiskSpace(int i1, int i2, const char* msg) {
  methodTrace trace("logAndPrintDiskSpace");
  char* space = backtics("/bin/df -h 2>/dev/null");
  std::string indent1(static_cast<size_t>(i1 < 0 ? 0 : (i1 > 127 ? 127 : i1)), ' ');
  std::string indent2(static_cast<size_t>(i2 < 0 ? 0 : (i2 > 127 ? 127 : i2)), ' ');
  logAndPrint('I', indent1.c_str(), msg);
  logAndPrint('I', indent2.c_str(), space);
  free(space);
}

void logRunningProcesses() {
  methodTrace trace("logRunningProcesses");
  char* procs = backtics("/bin/ps ax");
  logOnly("", "Running processes:");
  logOnly("    ", procs);
  free(procs);
  logBlank(1);
}
