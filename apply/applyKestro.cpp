// applyKestro.cpp - the apply run's frame: main, the run state, start-up,
// the root check, the working directories, the command line and bundle
// resolution, the clean-up that failures and signals run, and the failure
// ending shared by every stage.
#include "applyKestro.h"

#include <errno.h>
#include <libintl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "bundle_data.h"
#include "fixed_paths.h"
#include "maint.h"
#include "owned.h"

char* maintRoot = copyString(MAINT_ROOT);
char maintLogRoot[15] = "";
char* defaultDownload = copyString(DOWNLOAD_DIR);
char* stanzaFile = copyString(STANZA_FILE_NAME);

time_t starttime = 0;
char* startDir = nullptr;
// The start directory is unknown because its path does not fit the buffer.
static bool startDirTooLong = false;
char* workdir = nullptr;
char* oldimagedir = nullptr;
char* newimagedir = nullptr;
char* tripdb = nullptr;
char* tempfile = nullptr;
char* clientBundles = nullptr;
char* maintBundle = nullptr;

char* orig_old_image = nullptr;
char* orig_new_image = nullptr;
char* old_image = nullptr;
char* new_image = nullptr;
int imagesGzipped = 0;
char* oldImageMD5 = nullptr;
char* newImageSize = nullptr;
char* newImageFSType = nullptr;
char* newImageInodes = nullptr;

// The clean-up's command lines, composed when the directories are named so
// that the signal handler runs no formatting of its own.
static char umountOld[MAINT_BUFF];
static char umountNew[MAINT_BUFF];
static char removeWorkdir[MAINT_BUFF];
// Where a gzipped old image is uncompressed to; the clean-up removes it.
static char uncompressedOld[MAINT_BUFF];

// Files a finishing stage that has not completed wrote under temporary names.
static char* partialImage = nullptr;
static char* partialRecord = nullptr;

// The signal the handler caught, 0 when none.
static volatile sig_atomic_t caughtSignal = 0;
// Set for each signal the run handles: those the caller did not set to be
// ignored (a background job, nohup), which stay ignored.
static volatile sig_atomic_t handling[NSIG];

void setState(char*& variable, const char* value) {
  free(variable);
  variable = copyString(value);
}

// fork/exec of the shell without any stdio, safe inside the signal handler.
static void quietShell(const char* cmd) {
  pid_t pid = fork();
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", cmd, static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid > 0) {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

// True when `path` is a directory itself, not a link to one.
static bool realDirectory(const char* path) {
  struct stat st;
  return lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// True when a filesystem is mounted on the directory `path`: its device
// differs from that of `parent`, the directory holding it.
static bool mountedOn(const char* path, const char* parent) {
  struct stat here, up;
  return lstat(path, &here) == 0 && S_ISDIR(here.st_mode) && stat(parent, &up) == 0 &&
         here.st_dev != up.st_dev;
}

// Unmounts a mount point.  Processes that a signal to the whole process
// group ended together with the run's command (a script's children, tar's
// bzip2) may hold the mount for a moment after the command has been
// reaped, so outside the signal handler a busy unmount is tried again for
// up to five seconds.
static void unmountDir(const char* cmd, const char* dir, const char* parent, bool persist) {
  quietShell(cmd);
  const struct timespec pause = {0, 100 * 1000 * 1000};
  for (int i = 0; persist && i < 50 && mountedOn(dir, parent); ++i) {
    nanosleep(&pause, nullptr);
    quietShell(cmd);
  }
}

void cleanupWorkDir(int sig) {
  if (sig > 0) caughtSignal = sig;
  if (workdir) {
    if (chdir(workdir) != 0) {
      // The directory may be gone already; the commands below use full paths.
    }
    // umount follows links: a mount point that has been replaced by a link
    // is left alone, so the clean-up never unmounts what it points to.
    if (oldimagedir && realDirectory(oldimagedir)) {
      unmountDir(umountOld, oldimagedir, workdir, sig <= 0);
      rmdir(oldimagedir);
    }
    if (newimagedir && realDirectory(newimagedir)) {
      unmountDir(umountNew, newimagedir, IMAGE_DIR, sig <= 0);
      rmdir(newimagedir);
    }
    if (chdir("..") != 0) {
    }
    quietShell(removeWorkdir);
  }
  if (uncompressedOld[0]) unlink(uncompressedOld);
  for (int s : HANDLED_SIGNALS) {
    if (handling[s]) signal(s, SIG_DFL);
  }
}

void setPartialOutput(const char* image, const char* record) {
  setState(partialImage, image);
  setState(partialRecord, record);
}

void clearPartialOutput() {
  setState(partialImage, nullptr);
  setState(partialRecord, nullptr);
}

// The steps every failure ending shares, before and after its own.
static void removePartialOutput() {
  if (partialImage) unlink(partialImage);
  if (partialRecord) unlink(partialRecord);
  if (uncompressedOld[0]) unlink(uncompressedOld);
}

[[noreturn]] static void recordFailureAndExit() {
  if (maintBundle && clientBundles) {
    appendClientStanza(clientBundles, maintBundle, canonicalDate(nullptr), FAILED);
  }
  exit(1);
}

void failAfterCleanup() {
  removePartialOutput();
  cleanupWorkDir(-1);
  logOnlyDelimiter(0, 2);
  recordFailureAndExit();
}

void failAfterCleanupReported() {
  removePartialOutput();
  cleanupWorkDir(-1);
  recordFailureAndExit();
}

void failAfterCleanupSpaced() {
  removePartialOutput();
  cleanupWorkDir(-1);
  logOnlyDelimiter(1, 1);
  recordFailureAndExit();
}

void failKeepingWorkDir() {
  removePartialOutput();
  logOnlyDelimiter(0, 2);
  recordFailureAndExit();
}

void requirePlainPath(const char* path, bool directory) {
  // A signal's clean-up removes the mount points: that is no planted link.
  checkInterrupted();
  struct stat st;
  if (lstat(path, &st) == 0 && (directory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode))) return;
  logAndConsole('E',
                directory ? "Fatal error: %s is a symbolic link or not a directory. Exiting."
                          : "Fatal error: %s is a symbolic link or not a regular file. "
                            "Exiting.",
                path);
  failAfterCleanup();
}

void checkInterrupted() {
  if (!caughtSignal) return;
  char number[16];
  snprintf(number, sizeof number, "%d", static_cast<int>(caughtSignal));
  logAndConsole('E', "Fatal error: The run was interrupted by signal %s. Exiting.", number);
  failAfterCleanup();
}

// A command line that would not fit ends the run; the cut text is logged.
static void refuseCommand(const char* cut) {
  logAndConsole('E', "Fatal error: A command line would be longer than %s characters. Exiting.",
                "299");
  logOnly("    ", cut);
  failAfterCleanup();
}

// The shell itself killed by one of the run's signals counts like the
// handler having caught it: the run must not go on.
static void watchCommand(int status) {
  if (status != -1 && WIFSIGNALED(status) && isHandledSignal(WTERMSIG(status)) &&
      handling[WTERMSIG(status)]) {
    caughtSignal = WTERMSIG(status);
  }
}

void installCommandHandlers() { setCommandHandlers(refuseCommand, watchCommand); }

const char* shellValue(const char* failure, const char* value) {
  if (shellSafe(value)) return value;
  logAndConsole('E', failure, value ? value : "");
  failAfterCleanup();
}

int runLogged(const char* cmd, CommandLog how) {
  checkInterrupted();
  int rc = runCommand(cmd, how);
  int error = errno;
  checkInterrupted();
  errno = error;
  return rc;
}

std::string statusText(int rc) { return "rc = " + std::to_string(rc); }

void startup() {
  starttime = time(nullptr);
  mkdir(maintRoot, 0755);
  snprintf(maintLogRoot, sizeof maintLogRoot, "%s", LOG_DIR);
  logFileName(APPLY_LOG_FILE);
  methodTrace trace("main");
  getMaintLock(LOCK_FILE, "applyKestro");
  setupLogrotate();
  char cwd[MAINT_BUFF];
  // A start directory longer than the buffer stays unknown; a relative
  // bundle name then cannot be resolved against it (parseCommandLine).  One
  // that cannot be read (removed) is passed over.
  bool known = getcwd(cwd, sizeof cwd) != nullptr;
  startDirTooLong = !known && errno == ERANGE;
  setState(startDir, known ? cwd : nullptr);
}

void authorize(int argc, char** argv) {
  methodTrace trace("authorize");
  OwnedText user(backtics("whoami"));
  bool root = strcmp(chomp(user.get()), "root") == 0;
  if (!root) {
    logAndConsole('E', "This application must be run with root authority. Exiting.");
    failAfterCleanup();
  }
  logOnlyDelimiter(1, 1);
  logAndConsole('I', "Starting apply phase for client POS image maintenance.");
  logCommandLine(argc, argv);
  setState(workdir, OwnedText(tempfilename("maint%d")).get());
  char path[MAINT_BUFF];
  formatText(path, sizeof path, "%s/oldimage", workdir);
  setState(oldimagedir, path);
  setState(newimagedir, IMAGE_MOUNT_POINT);
  formatText(path, sizeof path, "%s/tw.maint_db", workdir);
  setState(tripdb, path);
  formatText(path, sizeof path, "%s/temp.file", workdir);
  setState(tempfile, path);
  formatText(umountOld, sizeof umountOld, "/bin/umount %s 2>/dev/null", oldimagedir);
  formatText(umountNew, sizeof umountNew, "/bin/umount %s 2>/dev/null", newimagedir);
  formatText(removeWorkdir, sizeof removeWorkdir, "/bin/rm -rf %s 2>/dev/null", workdir);
  formatText(uncompressedOld, sizeof uncompressedOld, "%s",
             OwnedText(tempfilename("temp.%d.old")).get());
}

// Blocks the handled signals (true) or lets them through again (false).
static void blockSignals(bool block) {
  sigset_t set;
  sigemptyset(&set);
  for (int s : HANDLED_SIGNALS) sigaddset(&set, s);
  sigprocmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void buildWorkDirs() {
  mkdir(maintRoot, 0755);
  for (int s : HANDLED_SIGNALS) {
    struct sigaction before;
    if (sigaction(s, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    handling[s] = 1;
    signal(s, cleanupWorkDir);
  }
  const char* dirs[] = {workdir, oldimagedir, newimagedir};
  for (const char* dir : dirs) {
    if (directoryExists(dir)) continue;
    if (mkdir(dir, 0755) != 0) {
      logAndConsole('E',
                    dir == workdir ? "Fatal Error: Unable to create working directory %s."
                                   : "Fatal Error: Unable to create image working directory %s.",
                    dir, strerror(errno));
      failAfterCleanup();
    }
  }
  // The mount points are used by path from here on: a link planted at one
  // of them would carry mounts and removals elsewhere.
  for (const char* dir : dirs) requirePlainPath(dir, true);
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "rm -f %s/*.ImageInProcess", IMAGE_DIR);
  runCommand(cmd, LOG_NOT);
  char path[MAINT_BUFF];
  formatText(path, sizeof path, "%s/%s", maintRoot, stanzaFile);
  setState(clientBundles, path);
  if (chdir(workdir) != 0) {
    // Commands below use full paths; a missing directory shows there.
  }
}

void help() {
  methodTrace trace("help");
  console(' ', " ");
  console('I', gettext("applyKestro accepts one command line parameter."));
  console('I', gettext("Specify the name of the maintenance bundle to be processed."));
  exit(1);
}

// The bundle was not found (or its path cannot be formed): message,
// delimiter and a "Failed" stanza naming `name`.
[[noreturn]] static void bundleMissing(char severity, const char* format, const char* name) {
  setState(maintBundle, name);
  logAndConsole(severity, format, name);
  failKeepingWorkDir();
}

void parseCommandLine(int argc, char** argv) {
  methodTrace trace("parseCommandLine");
  const char* bundle = nullptr;
  char* invalid = nullptr;
  int invalidSize = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] == '-' && arg[1] == 'M') {
      setConsole(MBEAN);
    } else if ((arg[0] == '-' && arg[1] == 'h') || strcmp(arg, "--help") == 0) {
      help();
    } else if (arg[0] == '-') {
      dynamicStrCat(invalid, arg, invalidSize);
      dynamicStrCat(invalid, " ", invalidSize);
    } else if (!bundle) {
      bundle = arg;
    } else {
      logAndConsole('E', "Only one maintenance bundle may be specified on the command line.");
      logAndConsole('E', "%s and %s both appear to be bundle names.", bundle, arg);
      console(' ', " ");
      help();
    }
  }
  if (invalid) {
    OwnedText options(invalid);
    char* save = nullptr;
    for (char* opt = strtok_r(invalid, " ", &save); opt; opt = strtok_r(nullptr, " ", &save)) {
      logAndConsole('E', "Invalid option: %s", opt);
      console(' ', " ");
    }
    failKeepingWorkDir();
  }
  if (!bundle) {
    logAndConsole('E', "Maintenance bundle name must be specified on the command line. Exiting.\n");
    failKeepingWorkDir();
  }

  // The path comes last: the console cuts an overlong line short.
  const char* tooLong = "Fatal error: A maintenance bundle path is longer than 299 characters: %s";
  char name[MAINT_BUFF];
  size_t len = strlen(bundle);
  bool hasTar = len >= 4 && strcmp(bundle + len - 4, ".tar") == 0;
  if (!formatText(name, sizeof name, "%s%s", bundle, hasTar ? "" : ".tar")) {
    bundleMissing('E', tooLong, name);
  }
  if (name[0] != '/' && (startDir || startDirTooLong)) {
    if (!startDir) {
      bundleMissing('E',
                    "Fatal error: The start directory is longer than 299 characters, so "
                    "bundle %s cannot be looked for there.",
                    name);
    }
    const char* rel = strncmp(name, "./", 2) == 0 ? name + 2 : name;
    char path[MAINT_BUFF];
    if (!formatText(path, sizeof path, "%s/%s", startDir, rel)) bundleMissing('E', tooLong, path);
    if (fileExists(path)) snprintf(name, sizeof name, "%s", path);
  }
  if (!fileExists(name)) {
    const char* missing = "Fatal error: Maintenance bundle %s does not exist.";
    if (name[0] == '/') bundleMissing('W', missing, name);
    char path[MAINT_BUFF];
    if (!formatText(path, sizeof path, "%s/%s", defaultDownload, name)) {
      bundleMissing('E', tooLong, path);
    }
    if (!fileExists(path)) bundleMissing('W', missing, path);
    snprintf(name, sizeof name, "%s", path);
  }
  setState(maintBundle, name);
}

int main(int argc, char** argv) {
  static char programName[] = "applyKestro";
  static char mbeanOption[] = "-M";
  static char defaultBundle[] = "/tmp/javagz.tar";
  static char* replacement[] = {programName, mbeanOption, defaultBundle, nullptr};
  if (argc > 99) {
    argc = 3;
    argv = replacement;
  }
  setupForTranslation("applyKestro");
  ignoreBrokenPipes();
  installCommandHandlers();
  startup();
  authorize(argc, argv);
  logRPMLevel("applyKestro");
  buildWorkDirs();
  parseCommandLine(argc, argv);
  checkInterrupted();
  int checker = checkTripwireVersion();
  checkInterrupted();
  if (checker == 1) failAfterCleanup();
  extractControlFiles();
  parseMaintData();
  processImageNames();
  prepForMaint();
  applyMaintToNewImage();
  validateNewImage();
  finishNewImage();
  cleanupWorkDir(-1);
  // From the last check until the "OK" stanza is written no signal is taken:
  // one caught up to here fails the run, one that comes later waits.
  blockSignals(true);
  checkInterrupted();
  placeNewImage();
  clearPartialOutput();
  logAndPrintElapsedTime(static_cast<unsigned long>(starttime),
                         static_cast<unsigned long>(time(nullptr)));
  logOnlyDelimiter(0, 2);
  appendClientStanza(clientBundles, maintBundle, canonicalDate(nullptr), OK);
  blockSignals(false);
  char removeTemp[MAINT_BUFF];
  composeCommand(removeTemp, "rm -rf %s", TEMP_ROOT);
  runCommand(removeTemp, LOG_NOT);
  return 0;
}
