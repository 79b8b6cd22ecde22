// bundle_builder_root.cpp - the private roots the bundle builder works in:
// a child process leaves the host's mount namespace, puts an overlay of /
// on a tmpfs, binds in what it needs and changes root into it.  Every mount
// it makes there, loop mounts included, ends with the child, so neither the
// host nor a concurrent run sees them and nothing is created on the host.
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "bundle_builder.h"
#include "maint.h"
#include "owned.h"

static volatile sig_atomic_t caughtSignal = 0;
static volatile pid_t childPid = -1;

static void passSignal(int sig) {
  caughtSignal = sig;
  // The child and the commands it runs form a process group of their own.
  if (childPid > 0) kill(-childPid, sig);
}

// Runs one mount command (its output captured); ends the child with
// `failure` (as bbRunOrFail does) when it fails.
static void mountStep(const char* failure, const char* cmd) {
  std::string out = bbPath("root.out");
  char full[MAINT_BUFF];
  composeCommand(full, "%s >%s 2>&1", cmd, out.c_str());
  bbRunOrFail(full, out.c_str(), failure);
}

// Makes `path` (inside the new root) a file or directory like `source`, so
// that `source` can be bound on it.
static void makeBindTarget(const std::string& source, const std::string& path) {
  struct stat st;
  bool dir = stat(source.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  std::string parent = dir ? path : path.substr(0, path.rfind('/'));
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/bin/mkdir -p %s", parent.c_str());
  runCommand(cmd, LOG_NOT);
  if (!dir && access(path.c_str(), F_OK) != 0) {
    OwnedFile created(fopen(path.c_str(), "w"));
  }
}

// tripwire crashes in the systemd NSS module on ids without a name: inside
// the private root the user and group databases are read from files only;
// the other lines of nsswitch.conf stay.
static void filesOnlyNameLookups(const std::string& nss) {
  OwnedText text(file2Buffer(nss.c_str()));
  std::string kept;
  for (const char* line = text ? text.get() : ""; *line;) {
    const char* end = strchr(line, '\n');
    std::string one(line, end ? static_cast<size_t>(end - line) : strlen(line));
    bool replaced = false;
    for (const char* db : {"passwd:", "group:", "shadow:", "gshadow:"}) {
      if (one.compare(0, strlen(db), db) == 0) replaced = true;
    }
    if (!replaced) kept += one + "\n";
    line = end ? end + 1 : line + one.size();
  }
  kept += "passwd: files\ngroup: files\nshadow: files\ngshadow: files\n";
  OwnedFile f(fopen(nss.c_str(), "w"));
  bool written = f && fputs(kept.c_str(), f.get()) >= 0;
  if (f && fclose(f.release()) != 0) written = false;
  if (!written) bbFail("Fatal error: Unable to write %s.", nss.c_str(), strerror(errno));
}

void enterPrivateRoot(const std::string& base, const std::vector<RootBind>& binds,
                      const std::string& tmpSource) {
  methodTrace trace("enterPrivateRoot");
  if (unshare(CLONE_NEWNS) != 0) {
    bbFail("Fatal error: Unable to create a private mount namespace.", strerror(errno));
  }
  char cmd[MAINT_BUFF];
  mountStep("Fatal error: Making the mounts private failed (%s).", "/bin/mount --make-rprivate /");
  composeCommand(cmd, "/bin/mount -t tmpfs -o mode=0755 kestro %s", base.c_str());
  mountStep("Fatal error: Mounting the private root's tmpfs failed (%s).", cmd);
  std::string upper = base + "/upper";
  std::string work = base + "/work";
  std::string root = base + "/root";
  for (const std::string& d : {upper, work, root}) mkdir(d.c_str(), 0755);
  composeCommand(cmd, "/bin/mount -t overlay kestro -o lowerdir=/,upperdir=%s,workdir=%s %s",
                 upper.c_str(), work.c_str(), root.c_str());
  mountStep("Fatal error: Mounting the overlay root failed (%s).", cmd);
  for (const char* d : {"/dev", "/proc", "/sys"}) {
    composeCommand(cmd, "/bin/mount --rbind %s %s%s", d, root.c_str(), d);
    mountStep("Fatal error: Binding a system directory failed (%s).", cmd);
  }
  if (tmpSource.empty()) {
    composeCommand(cmd, "/bin/mount -t tmpfs -o mode=1777 kestro %s/tmp", root.c_str());
  } else {
    composeCommand(cmd, "/bin/mount --bind %s %s/tmp", tmpSource.c_str(), root.c_str());
  }
  mountStep("Fatal error: Mounting /tmp failed (%s).", cmd);
  // The log file, so that records written inside reach the host's log.
  std::vector<RootBind> all = binds;
  all.push_back(RootBind{BUILDER_LOG_FILE, BUILDER_LOG_FILE, false});
  for (const RootBind& b : all) {
    std::string target = root + b.target;
    makeBindTarget(b.source, target);
    composeCommand(cmd, "/bin/mount --bind %s %s", b.source.c_str(), target.c_str());
    mountStep("Fatal error: Binding into the private root failed (%s).", cmd);
    if (b.readOnly) {
      composeCommand(cmd, "/bin/mount -o remount,bind,ro %s", target.c_str());
      mountStep("Fatal error: Making a bind read-only failed (%s).", cmd);
    }
  }
  filesOnlyNameLookups(root + "/etc/nsswitch.conf");
  if (chroot(root.c_str()) != 0 || chdir("/") != 0) {
    bbFail("Fatal error: Unable to enter the private root %s.", root.c_str(), strerror(errno));
  }
  setenv("HOME", "/root", 1);
  setenv("PATH", "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", 1);
}

void runInChild(void (*body)(), const char* failure) {
  fflush(nullptr);
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = passSignal;
  sigemptyset(&sa.sa_mask);
  const int count = sizeof HANDLED_SIGNALS / sizeof HANDLED_SIGNALS[0];
  struct sigaction saved[count];
  for (int i = 0; i < count; ++i) sigaction(HANDLED_SIGNALS[i], &sa, &saved[i]);
  pid_t pid = fork();
  if (pid < 0) bbFail("Fatal error: Unable to start a child process.", strerror(errno));
  if (pid == 0) {
    setpgid(0, 0);
    for (int i = 0; i < count; ++i) sigaction(HANDLED_SIGNALS[i], &saved[i], nullptr);
    bbInChild = true;
    body();
    fflush(nullptr);
    exit(0);
  }
  setpgid(pid, pid);
  childPid = pid;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      status = -1;
      break;
    }
  }
  childPid = -1;
  for (int i = 0; i < count; ++i) sigaction(HANDLED_SIGNALS[i], &saved[i], nullptr);
  if (caughtSignal) {
    char number[16];
    snprintf(number, sizeof number, "%d", static_cast<int>(caughtSignal));
    bbFail("Fatal error: The run was interrupted by signal %s. Exiting.", number);
  }
  if (status == 0) return;
  // A child that ended with status 1 has written its own message.
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 1) {
    char text[32];
    snprintf(text, sizeof text, "%d", status);
    logOnly("", "The child process ended abnormally (status %s).", text);
  }
  bbFail(failure);
}
