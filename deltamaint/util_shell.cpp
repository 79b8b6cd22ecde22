// util_shell.cpp - running shell commands: composing a command line, the
// runner every command of the tool goes through, and backtics, which
// captures a command's output.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "maint.h"

int backticsRC = 0;

// True when ignoreBrokenPipes found SIGPIPE at its default action: the
// commands then get the default back.
static bool pipeDefaultForCommands = false;

void ignoreBrokenPipes() {
  struct sigaction ignore, before;
  memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  if (sigaction(SIGPIPE, &ignore, &before) == 0) {
    pipeDefaultForCommands = before.sa_handler == SIG_DFL;
  }
}

int runShell(const char* command) {
  if (!command) return -1;
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (pipeDefaultForCommands) signal(SIGPIPE, SIG_DFL);
    execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

static void (*refuseHandler)(const char*) = nullptr;
static void (*watchHandler)(int) = nullptr;

void setCommandHandlers(void (*refuse)(const char* cut), void (*watch)(int status)) {
  refuseHandler = refuse;
  watchHandler = watch;
}

int composeCommand(char* buff, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buff, MAINT_BUFF, fmt, ap);
  va_end(ap);
  if (n >= 0 && n < MAINT_BUFF) return 1;
  if (refuseHandler) refuseHandler(buff);
  return 0;
}

int runCommand(const char* command, CommandLog how) {
  if (how == LOG_BEFORE) logOnly(">>", command);
  // The error text some failure messages append is the one this command
  // leaves: the system's text for 0 unless the command could not start.
  errno = 0;
  int status = runShell(command);
  int error = errno;
  if (how == LOG_AFTER) logOnly(">>", command);
  if (how == LOG_WITH_STATUS) {
    char line[MAINT_BUFF + 32];
    snprintf(line, sizeof line, "%s (rc = %d)", command, status);
    logOnly(">>", line);
  }
  if (watchHandler) watchHandler(status);
  errno = error;
  return status;
}

// Makes a fresh, empty capture file owned by this process: whatever stood
// at the name (a file of another user or a planted link) is removed without
// being followed, and the file is created exclusively.  /tmp is sticky, so
// once created nobody else can replace it.  False when another process
// keeps winning the name.
static bool prepareCaptureFile(const char* name) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    unlink(name);
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      return true;
    }
  }
  return false;
}

char* backtics(const char* buff) {
  methodTrace trace("backtics");
  char capture[100];
  snprintf(capture, sizeof capture, "/tmp/maint%d.tmp", static_cast<int>(getpid()));
  if (!buff) buff = "";
  size_t len = strlen(buff) + strlen(capture) + 16;
  char* command = static_cast<char*>(malloc(len));
  if (!command) abort();
  snprintf(command, len, "%s 2>&1 >%s", buff, capture);
  // The command never runs with its output going to a file it does not own.
  backticsRC = prepareCaptureFile(capture) ? runShell(command) : -1;
  free(command);
  char* text = file2Buffer(capture);
  unlink(capture);
  return text ? text : copyString("");
}
