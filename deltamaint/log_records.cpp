// log_records.cpp - ready-made log records: the command line, the
// executable's package, elapsed time, a failed loop mount, and (for other
// users of the library) directory listings, disk space and processes.
#include <libintl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "maint.h"
#include "owned.h"

void logCommandLine(int argc, char** argv) {
  methodTrace trace("logCommandLine");
  char* text = nullptr;
  int size = 0;
  dynamicStrCat(text, "    ", size);
  for (int i = 0; i < argc; ++i) {
    dynamicStrCat(text, argv[i] ? argv[i] : "", size);
    dynamicStrCat(text, " ", size);
  }
  OwnedText line(text);
  log("Command line issued:");
  log(line.get());
}

void logRPMLevel(const char* exec) {
  methodTrace trace("logRPMLevel");
  char cmd[MAINT_BUFF];
  // A command cut to fit its buffer is never run: the executable counts as
  // not found.
  OwnedText found(copyString(""));
  if (composeCommand(cmd, "which %s 2>/dev/null", exec ? exec : "")) found.reset(backtics(cmd));
  if (found.get()[0] != '/') {
    logOnly("", "Error locating executable: %s", exec);
    return;
  }
  const char* path = chomp(found.get());
  OwnedText package(composeCommand(cmd, "/bin/rpm -qf %s 2>/dev/null", path) ? backtics(cmd)
                                                                             : copyString(""));
  chomp(package.get());
  if (package.get()[0] != '\0') {
    logOnly("", "Executable %s is from RPM %s", exec, package.get());
  } else {
    logOnly("", "RPM for file %s could not be identified.", path);
  }
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
  // A listing whose command was cut to fit its buffer is left out.
  if (composeCommand(cmd, "ls -lh %s", image ? image : "")) {
    logOnly("I -> ", OwnedText(backtics(cmd)).get());
  }
  if (composeCommand(cmd, "ls -ld %s", target ? target : "")) {
    logOnly("D -> ", OwnedText(backtics(cmd)).get());
  }
  logOnlyDelimiter(0, 2);
}

void dirListToLog(const char* indent, const char* dir, int recurse) {
  OwnedText name(tempfilename("dirListToLog.%d.tmp"));
  char cmd[MAINT_BUFF];
  const char* format = recurse ? "/usr/bin/find %s -exec ls -d -l {} \\; >%s"
                               : "/usr/bin/find %s -maxdepth 1 -exec ls -d -l {} \\; >%s";
  if (composeCommand(cmd, format, dir ? dir : "", name.get())) runCommand(cmd, LOG_NOT);
  tmpfileToLog(indent, name.get());
  unlink(name.get());
}

void logAndPrintDiskSpace(int i1, int i2, const char* msg) {
  methodTrace trace("logAndPrintDiskSpace");
  OwnedText space(backtics("/bin/df -h 2>/dev/null"));
  std::string indent1(static_cast<size_t>(i1 < 0 ? 0 : (i1 > 127 ? 127 : i1)), ' ');
  std::string indent2(static_cast<size_t>(i2 < 0 ? 0 : (i2 > 127 ? 127 : i2)), ' ');
  logAndPrint('I', indent1.c_str(), msg);
  logAndPrint('I', indent2.c_str(), space.get());
}

void logRunningProcesses() {
  methodTrace trace("logRunningProcesses");
  OwnedText procs(backtics("/bin/ps ax"));
  logOnly("", "Running processes:");
  logOnly("    ", procs.get());
  logBlank(1);
}
