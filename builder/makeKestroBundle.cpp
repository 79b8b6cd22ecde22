// makeKestroBundle.cpp - the bundle builder's frame: main, the command line,
// the inputs and their defaults, the private working directory, the failure
// ending, the signing, and the final placing of the bundle and its
// signature.  The work that needs mounts
// runs in child processes inside private roots (bundle_builder_root.cpp).
#include <errno.h>
#include <libintl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "bundle_builder.h"
#include "bundle_data.h"
#include "maint.h"
#include "owned.h"
#include "signature.h"

BuildRun build;
bool bbInChild = false;

static time_t startTime = 0;

std::string bbPath(const char* name) { return build.work + "/" + name; }

// Removes the private working directory.  No host mount ever lies below it:
// every mount is made inside a child's own namespace.
static void removeWorkDir() {
  if (build.work.empty()) return;
  char cmd[MAINT_BUFF];
  // Composed without the refusal handler: this runs inside the failure ending.
  if (formatText(cmd, sizeof cmd, "/bin/rm -rf %s", build.work.c_str())) runCommand(cmd, LOG_NOT);
  build.work.clear();
}

// The end of a failed run once its message is out.
[[noreturn]] static void failEnding() {
  if (bbInChild) exit(1);
  removeWorkDir();
  logOnlyDelimiter(0, 2);
  exit(1);
}

void bbFail(const char* fmtstr, const char* arg1, const char* arg2) {
  logAndConsole('E', fmtstr, arg1, arg2);
  failEnding();
}

void bbFailWithOutput(const char* output, const char* fmtstr, const char* arg1, const char* arg2) {
  if (output) tmpfileToLog("    ", output);
  bbFail(fmtstr, arg1, arg2);
}

// A command line that would not fit ends the build; the cut text is logged.
static void refuseCommand(const char* cut) {
  logOnly("    ", cut);
  bbFail("Fatal error: A command line would be longer than %s characters. Exiting.", "299");
}

void bbRunOrFail(const char* cmd, const char* output, const char* failure) {
  int rc = runCommand(cmd);
  if (rc != 0) bbFailWithOutput(output, failure, ("rc = " + std::to_string(rc)).c_str());
  if (output) tmpfileToLog("    ", output);
}

static void usage() {
  console(' ', " ");
  console('I', gettext("usage: makeKestroBundle [-M] [-o BUNDLE.tar] [--size MB] [--inodes N]"));
  console('I', gettext("         [--fstype ext2|ext3] [--sign KEY.pem] [--no-verify] OLD_IMAGE "
                       "NEW_TREE NEW_IMAGE_NAME"));
}

[[noreturn]] static void usageError(const char* fmtstr, const char* arg = nullptr) {
  logAndConsole('E', fmtstr, arg);
  usage();
  logOnlyDelimiter(0, 2);
  exit(1);
}

// An absolute form of `path` (relative to the start directory).
static std::string absolutePath(const char* path) {
  if (path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) bbFail("Fatal error: The current directory cannot be read.");
  return std::string(cwd) + "/" + path;
}

static void parseCommandLine(int argc, char** argv) {
  methodTrace trace("parseCommandLine");
  std::vector<const char*> names;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    bool valued = strcmp(arg, "-o") == 0 || strcmp(arg, "--size") == 0 ||
                  strcmp(arg, "--inodes") == 0 || strcmp(arg, "--fstype") == 0 ||
                  strcmp(arg, "--sign") == 0;
    if (valued && i + 1 >= argc) usageError("Option %s needs a value.", arg);
    if (strcmp(arg, "-M") == 0) {
      setConsole(MBEAN);
    } else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) {
      usage();
      logOnlyDelimiter(0, 2);
      exit(1);
    } else if (strcmp(arg, "--no-verify") == 0) {
      build.verify = false;
    } else if (strcmp(arg, "-o") == 0) {
      output = argv[++i];
    } else if (strcmp(arg, "--sign") == 0) {
      build.signKey = absolutePath(argv[++i]);
    } else if (strcmp(arg, "--size") == 0) {
      build.size = argv[++i];
      if (!positiveDecimal(build.size.c_str())) usageError("Invalid size: %s", build.size.c_str());
    } else if (strcmp(arg, "--inodes") == 0) {
      build.inodes = argv[++i];
      if (!positiveDecimal(build.inodes.c_str())) {
        usageError("Invalid inode count: %s", build.inodes.c_str());
      }
    } else if (strcmp(arg, "--fstype") == 0) {
      build.fstype = argv[++i];
      if (build.fstype != "ext2" && build.fstype != "ext3") {
        usageError("Invalid filesystem type: %s", build.fstype.c_str());
      }
    } else if (arg[0] == '-' && arg[1] != '\0') {
      usageError("Invalid option: %s", arg);
    } else {
      names.push_back(arg);
    }
  }
  if (names.size() != 3) {
    usageError("Give the old image, the new tree and the new image name.");
  }
  build.oldImage = absolutePath(names[0]);
  build.newTree = absolutePath(names[1]);
  build.newName = names[2];
  const char* slash = strrchr(build.oldImage.c_str(), '/');
  build.oldName = slash + 1;
  if (output) {
    build.output = absolutePath(output);
  } else {
    std::string base = build.newName;
    size_t gz = base.size() >= 3 ? base.size() - 3 : std::string::npos;
    if (gz != std::string::npos && base.compare(gz, 3, ".gz") == 0) base.erase(gz);
    build.output = absolutePath((base + ".tar").c_str());
  }
}

static void requireShellSafe(const std::string& path, const char* failure) {
  if (!shellSafe(path.c_str())) bbFail(failure, path.c_str());
}

// Checked as given and once resolved.
static const char* const UNSAFE_NEW_TREE =
    "Fatal error: The new tree path \"%s\" holds characters that a shell command must not be "
    "given. Exiting.";

// Paths and names that reach shell commands or the bundle's maintData.
static void checkInputs() {
  methodTrace trace("checkInputs");
  requireShellSafe(build.oldImage,
                   "Fatal error: The old image path \"%s\" holds characters that a shell "
                   "command must not be given. Exiting.");
  requireShellSafe(build.newTree, UNSAFE_NEW_TREE);
  requireShellSafe(build.output,
                   "Fatal error: The bundle path \"%s\" holds characters that a shell command "
                   "must not be given. Exiting.");
  if (!shellSafe(build.newName.c_str()) || !plainFileName(build.newName.c_str())) {
    bbFail(
        "Fatal error: The new image name \"%s\" must be a plain file name without blanks or "
        "shell characters. Exiting.",
        build.newName.c_str());
  }
  if (!plainFileName(build.oldName.c_str())) {
    bbFail("Fatal error: Old image %s is not a file name. Exiting.", build.oldImage.c_str());
  }
  if (!fileExists(build.oldImage.c_str())) {
    bbFail("Fatal error: Old image %s does not exist or is not a regular file. Exiting.",
           build.oldImage.c_str());
  }
  char resolved[4096];
  if (!realpath(build.newTree.c_str(), resolved) || !directoryExists(resolved)) {
    bbFail("Fatal error: New tree %s is not a directory. Exiting.", build.newTree.c_str());
  }
  build.newTree = resolved;
  requireShellSafe(build.newTree, UNSAFE_NEW_TREE);
  bool oldGz = strstr(build.oldName.c_str(), ".gz") != nullptr;
  bool newGz = strstr(build.newName.c_str(), ".gz") != nullptr;
  if (oldGz != newGz) {
    bbFail(
        "Fatal error: The new image name %s must hold \".gz\" exactly when the old image "
        "is gzipped. Exiting.",
        build.newName.c_str());
  }
  build.gzipped = oldGz;
  std::string error;
  if (!build.signKey.empty() && !signingKeyUsable(build.signKey.c_str(), &error)) {
    bbFail("Fatal error: The signing key %s cannot be used.", build.signKey.c_str(), error.c_str());
  }
  std::string outDir = build.output.substr(0, build.output.rfind('/'));
  if (!directoryExists(outDir.empty() ? "/" : outDir.c_str())) {
    bbFail("Fatal error: There is no directory for the bundle %s. Exiting.", build.output.c_str());
  }
}

// The applyKestro beside this program: installed together in one
// directory, and built together in one build directory.
static void findApplyCommand() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  self[n] = '\0';
  char* slash = strrchr(self, '/');
  if (!slash) return;
  *slash = '\0';
  build.applyKestro = std::string(self) + "/applyKestro";
  if (!build.verify) return;
  if (access(build.applyKestro.c_str(), X_OK) != 0 || !shellSafe(build.applyKestro.c_str())) {
    bbFail("Fatal error: %s is needed to verify the bundle (or give --no-verify). Exiting.",
           build.applyKestro.c_str());
  }
}

static void makeWorkDir() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern =
      std::string(tmp && tmp[0] == '/' ? tmp : "/var/tmp") + "/makeKestroBundle.XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // The name goes into command lines: one a shell would split or expand
  // (from TMPDIR) is refused before anything is made.
  int error = shellSafe(name.data()) ? 0 : EINVAL;
  if (error == 0 && !mkdtemp(name.data())) error = errno;
  if (error != 0) {
    bbFail("Fatal error: Unable to create working directory %s.", pattern.c_str(), strerror(error));
  }
  build.work = name.data();
  chmod(build.work.c_str(), 0700);
  const char* dirs[] = {"control", "wanted", "oldmnt", "tw",   "root",
                        "vroot",   "vimage", "vtmp",   "vkeys"};
  for (const char* d : dirs) {
    if (mkdir(bbPath(d).c_str(), 0700) != 0) {
      bbFail("Fatal error: Unable to create working directory %s.", bbPath(d).c_str(),
             strerror(errno));
    }
  }
  chmod(bbPath("vtmp").c_str(), 01777);
  // The verification's keyring: root's alone, as the apply run demands.
  chmod(bbPath("vkeys").c_str(), 0755);
  logOnly("", "Working directory: %s", build.work.c_str());
}

// The old image as the apply run mounts it (uncompressed when gzipped), its
// checksum as stored, and the defaults taken from it.
static void readOldImage() {
  methodTrace trace("readOldImage");
  char cmd[MAINT_BUFF];
  std::string raw = bbPath("old.img");
  std::string out = bbPath("temp.file");
  if (build.gzipped) {
    composeCommand(cmd, "/usr/bin/gunzip -c %s 2>%s > %s", build.oldImage.c_str(), out.c_str(),
                   raw.c_str());
    bbRunOrFail(cmd, out.c_str(), "Fatal error: Uncompressing the old image failed (%s).");
  } else {
    // An empty file for the old image to be bound on inside the private root.
    OwnedFile created(fopen(raw.c_str(), "w"));
  }
  const char* image = build.gzipped ? raw.c_str() : build.oldImage.c_str();
  // backtics sends standard error to the console: the pipes keep the
  // commands' own messages out of it.
  composeCommand(cmd, "/usr/bin/md5sum %s 2>/dev/null | /bin/cat", build.oldImage.c_str());
  OwnedText sum(backtics(cmd));
  char* end = strchr(sum.get(), ' ');
  if (end) *end = '\0';
  if (backticsRC != 0 || strlen(sum.get()) != 32) {
    bbFail("Fatal error: The checksum of %s cannot be computed. Exiting.", build.oldImage.c_str());
  }
  build.oldMD5 = sum.get();
  composeCommand(cmd, "/sbin/dumpe2fs -h %s 2>/dev/null | /bin/cat", image);
  OwnedText facts(backtics(cmd));
  const char* count = strstr(facts.get(), "Inode count:");
  bool journal = strstr(facts.get(), "has_journal") != nullptr;
  if (!count) {
    bbFail("Fatal error: Old image %s is not an ext2 or ext3 filesystem image. Exiting.",
           build.oldImage.c_str());
  }
  char inodes[32];
  snprintf(inodes, sizeof inodes, "%ld", strtol(count + strlen("Inode count:"), nullptr, 10));
  if (build.inodes.empty()) build.inodes = inodes;
  if (build.fstype.empty()) build.fstype = journal ? "ext3" : "ext2";
  if (build.size.empty()) {
    struct stat st;
    if (stat(image, &st) != 0 || st.st_size < 1048576) {
      bbFail("Fatal error: The size of old image %s cannot be used. Exiting.",
             build.oldImage.c_str());
    }
    char mb[32];
    snprintf(mb, sizeof mb, "%lld", static_cast<long long>(st.st_size / 1048576));
    build.size = mb;
  }
  logOnly("", "Old Image Name   = %s", build.oldName.c_str());
  logOnly("", "Old Image MD5    = %s", build.oldMD5.c_str());
  logOnly("", "New Image Name   = %s", build.newName.c_str());
  logOnly("", "New Image Size   = %s Meg.", build.size.c_str());
  logOnly("", "New Image FSType = %s", build.fstype.c_str());
  logOnly("", "New Image Inodes = %s", build.inodes.c_str());
}

// The number of objects the build step's check of the built image found.
static void readObjectCount() {
  OwnedText text(file2Buffer(bbPath("objects").c_str()));
  bbExpectedObjects = text ? strtol(text.get(), nullptr, 10) : -1;
  if (bbExpectedObjects <= 0) bbFail("Fatal error: The build step left no object count.");
}

// control.tar.bz2 and the bundle in the working directory.
static void packBundle() {
  methodTrace trace("packBundle");
  char cmd[MAINT_BUFF];
  std::string out = bbPath("temp.file");
  composeCommand(cmd,
                 "/bin/tar --numeric-owner -cjf %s/control.tar.bz2 -C %s/control maint_cmd_bash1 "
                 "maint_cmd_bash2 maintData tw.maint_db >%s 2>&1",
                 build.work.c_str(), build.work.c_str(), out.c_str());
  bbRunOrFail(cmd, out.c_str(), "Fatal error: Packing control.tar.bz2 failed (%s).");
  composeCommand(cmd,
                 "/bin/tar --numeric-owner -cf %s/bundle.tar -C %s control.tar.bz2 "
                 "maint.tar.bz2 >%s 2>&1",
                 build.work.c_str(), build.work.c_str(), out.c_str());
  bbRunOrFail(cmd, out.c_str(), "Fatal error: Packing the bundle failed (%s).");
}

// --sign: the bundle's detached signature in W/bundle.tar.sig, and the
// matching public key in the verification's keyring, so that the apply run
// there checks the signature as a server will.
static void signBundle() {
  methodTrace trace("signBundle");
  std::string bundle = bbPath("bundle.tar");
  std::string sig = bundle + SIGNATURE_SUFFIX;
  std::string pub = bbPath("vkeys") + "/" + SIGNER_KEY_NAME;
  std::string error;
  if (!signFile(build.signKey.c_str(), bundle.c_str(), sig.c_str(), pub.c_str(), &error)) {
    bbFail("Fatal error: The bundle cannot be signed with %s.", build.signKey.c_str(),
           error.c_str());
  }
  chmod(pub.c_str(), 0644);
  logOnly("", "Bundle signed with %s.", build.signKey.c_str());
}

// Moves W/`name` to `target`: copied next to it first, then renamed, so
// that a file of that name is always whole.
static void placeFile(const char* name, const std::string& target) {
  char cmd[MAINT_BUFF];
  std::string part = target + ".part";
  std::string out = bbPath("temp.file");
  composeCommand(cmd, "/bin/cp %s/%s %s >%s 2>&1", build.work.c_str(), name, part.c_str(),
                 out.c_str());
  bbRunOrFail(cmd, out.c_str(), "Fatal error: Writing the bundle failed (%s).");
  if (rename(part.c_str(), target.c_str()) != 0) {
    unlink(part.c_str());
    bbFail("Fatal error: Unable to write the bundle %s.", target.c_str(), strerror(errno));
  }
}

// The signature first: a bundle whose new signature is missing is refused
// by a server with a keyring rather than applied.
static void placeBundle() {
  methodTrace trace("placeBundle");
  if (!build.signKey.empty()) placeFile("bundle.tar.sig", build.output + SIGNATURE_SUFFIX);
  placeFile("bundle.tar", build.output);
}

int main(int argc, char** argv) {
  setupForTranslation("applyKestro");  // the product's one message catalogue
  setCommandHandlers(refuseCommand, nullptr);
  startTime = time(nullptr);
  mkdir(MAINT_ROOT, 0755);
  logFileName(BUILDER_LOG_FILE);
  methodTrace trace("main");
  getMaintLock(LOCK_FILE, "makeKestroBundle");
  if (geteuid() != 0) {
    logAndConsole('E', "This application must be run with root authority. Exiting.");
    logOnlyDelimiter(0, 2);
    exit(1);
  }
  // The console form holds for every line, the first one included.
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-M") == 0) setConsole(MBEAN);
  }
  logOnlyDelimiter(1, 0);
  logAndConsole('I', "Starting build of a maintenance bundle.");
  logCommandLine(argc, argv);
  parseCommandLine(argc, argv);
  checkInputs();
  findApplyCommand();
  makeWorkDir();
  readOldImage();
  runInChild(buildInPrivateRoot, "Fatal error: The bundle could not be built. Exiting.");
  readObjectCount();
  packBundle();
  if (!build.signKey.empty()) signBundle();
  if (build.verify) {
    runInChild(verifyInSandbox, "Fatal error: The bundle did not pass its verification. Exiting.");
  } else {
    logAndConsole('W', "The bundle was not verified with an apply run (--no-verify).");
  }
  placeBundle();
  removeWorkDir();
  logAndPrintElapsedTime(static_cast<unsigned long>(startTime),
                         static_cast<unsigned long>(time(nullptr)));
  logAndConsole('I', "Maintenance bundle %s written.", build.output.c_str());
  if (!build.signKey.empty()) {
    logAndConsole('I', "Its signature %s written.", (build.output + SIGNATURE_SUFFIX).c_str());
  }
  logOnlyDelimiter(0, 2);
  return 0;
}
