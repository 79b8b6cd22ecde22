// log_lock.cpp - the run lock: one maintenance run at a time, serialised
// by an advisory lockf lock held until the process ends.
#include <errno.h>
#include <fcntl.h>
#include <libintl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "maint.h"

static char* maintLock = nullptr;
static int fd_maintLock = -1;

static void lockFailure(const char* format, const char* value, int error) {
  const char* text = strerror(error);
  console('E', gettext(format), value, text);
  logOnly("", format, value, text);
  logOnlyDelimiter(1, 1);
  exit(1);
}

void getMaintLock(const char* lockFile, const char* str) {
  free(maintLock);
  maintLock = copyString(lockFile);
  fd_maintLock = open(lockFile, O_WRONLY | O_CREAT | O_CLOEXEC, 0700);
  if (fd_maintLock < 0) {
    lockFailure("Fatal error: Could not open lock file %s.", lockFile, errno);
  }
  if (lockf(fd_maintLock, F_TLOCK, 0) == 0) return;
  const char* waiting = gettext("Waiting for the delta maintenance lock file to be released.");
  console('I', waiting);
  logOnly("", waiting);
  while (lockf(fd_maintLock, F_LOCK, 0) != 0) {
    if (errno == EINTR) continue;
    lockFailure("Fatal error: Could not lock file to execute %s.", str, errno);
  }
}

void releaseMaintLock() {}
