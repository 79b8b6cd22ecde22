// apply_validate.cpp - checking the new image with the integrity checker
// against the bundle's database, unmounting it, and reporting the counts of
// objects and violations from the checker's report.
#include <errno.h>
#include <libintl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "applyKestro.h"
#include "maint.h"
#include "owned.h"

char* newImageTripwireRun() {
  if (chdir(workdir) != 0) {
  }
  logBlank(1);
  logOnly("", "Running tripwire on newly created image to validate maintenance apply.");
  buildTripFilenames(maintRoot);
  char rule[MAINT_BUFF];
  composeCommand(rule, "%s -> pugsM ;", newimagedir);
  if (buildTripControlFiles(rule, maintRoot) != 0) {
    checkInterrupted();
    logAndPrintElapsedTime(static_cast<unsigned long>(starttime),
                           static_cast<unsigned long>(time(nullptr)));
    failAfterCleanup();
  }
  // The bundle's scripts ran in the image: the checker and the unmount
  // below must find the mount point itself, not a link put in its place.
  requirePlainPath(newimagedir, true);
  char report[MAINT_BUFF];
  formatText(report, sizeof report, "%s/trip.lst", workdir);
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/usr/sbin/tripwire -m c -c %s -p %s -d %s >%s 2>&1", twConfigFile(),
                 twPolicyFile(), tripdb, report);
  runLogged(cmd);
  unlink(tripdb);
  composeCommand(cmd, "/bin/umount %s  >%s 2>&1", newimagedir, tempfile);
  int rc = runLogged(cmd);
  if (rc != 0) {
    // The image must not be checked, compressed or put in place while it
    // is still mounted: the run ends here.
    tmpfileToLog("    ", tempfile);
    logAndConsole('W', "Unable to unmount image from %s.", newimagedir, statusText(rc).c_str());
    failAfterCleanup();
  }
  return copyString(report);
}

// The number after the first ':' that follows `phrase` in `line`, read the
// way atoi reads; leaves `count` alone when the line lacks the phrase.
// Returns true when it read one.
static bool readCount(const char* line, const char* phrase, int& count) {
  const char* at = strstr(line, phrase);
  if (!at) return false;
  const char* colon = strchr(at, ':');
  if (!colon) return false;
  char number[MAINT_BUFF];
  snprintf(number, sizeof number, "%s", colon + 1);
  count = atoi(skipWS(number));
  return true;
}

void validateNewImage() {
  if (chdir(workdir) != 0) {
  }
  OwnedText reportName(newImageTripwireRun());
  const char* report = reportName.get();
  errno = 0;
  OwnedText text(file2Buffer(report));
  int total = 0;
  int errors = 0;
  bool scanned = false;
  bool found = false;
  if (!text) {
    logAndConsole('W', "Can not open file %s.", report, strerror(errno));
  } else {
    char* save = nullptr;
    for (char* line = strtok_r(text.get(), "\n", &save); line;
         line = strtok_r(nullptr, "\n", &save)) {
      scanned |= readCount(line, "Total objects scanned:", total);
      found |= readCount(line, "Total violations found:", errors);
    }
    tmpfileToLog("    ", report);
  }
  // Without both counts the check did not run to its end and validated
  // nothing; violations that a completed check found are only reported.
  if (!scanned || !found) {
    logAndConsole('E',
                  "Fatal error: The tripwire check of the new image did not complete. Exiting.");
    failAfterCleanup();
  }
  const char* format = "Total files in image: %d    Total errors: %d. ";
  char line[MAINT_BUFF];
  snprintf(line, sizeof line, format, total, errors);
  logOnly("", line);
  snprintf(line, sizeof line, gettext(format), total, errors);
  console('I', line);
}
