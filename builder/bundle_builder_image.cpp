// bundle_builder_image.cpp - the build inside the private root: the
// differences, the plan and the bundle files, then the expected new image
// built exactly as the apply run will build it (dd, mke2fs, tune2fs for
// ext3, "cp -a OLD/* NEW", the two scripts and the payload), its comparison
// with the wanted tree, and the checker's database of it under the apply
// run's policy, with the number of objects the apply run must report.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "bundle_builder.h"
#include "maint.h"
#include "owned.h"

// How many differences the self-check names.
static const size_t SHOWN_DIFFERENCES = 5;

// Reads the new tree (`wanted`) or the old image's tree and refuses names a
// maintenance script cannot hold.
static void readCheckedTree(const std::string& root, Tree& tree, bool wanted) {
  std::string error;
  if (!readTree(root, tree, &error)) {
    if (wanted) bbFail("Fatal error: Unable to read the new tree: %s.", error.c_str());
    bbFail("Fatal error: Unable to read the old image: %s.", error.c_str());
  }
  for (const auto& entry : tree) {
    if (entry.first.empty() || safeTreeName(entry.first)) continue;
    std::string name = "/" + printableName(entry.first);
    if (wanted) {
      bbFail(
          "Fatal error: The name \"%s\" in the new tree cannot be written safely into a "
          "maintenance script (quotes, backslash, control or non-ASCII characters, a blank at "
          "the start or end of a name, or too long). Exiting.",
          name.c_str());
    }
    bbFail(
        "Fatal error: The name \"%s\" in the old image cannot be written safely into a "
        "maintenance script (quotes, backslash, control or non-ASCII characters, a blank at the "
        "start or end of a name, or too long). Exiting.",
        name.c_str());
  }
}

// The number after `label` in the checker's output, or -1.
static long summaryNumber(const char* text, const char* label) {
  const char* at = text ? strstr(text, label) : nullptr;
  return at ? strtol(at + strlen(label), nullptr, 10) : -1;
}

// Runs a maintenance script the way the apply run does, from the image root.
static void runScript(const char* name) {
  char cmd[MAINT_BUFF];
  std::string out = bbPath("temp.file");
  composeCommand(cmd, "%s/control/%s >%s 2>&1", build.work.c_str(), name, out.c_str());
  runCommand(cmd);
  tmpfileToLog("    ", out.c_str());
}

static void makeImageFile(const std::string& image) {
  char cmd[MAINT_BUFF];
  std::string out = bbPath("temp.file");
  composeCommand(cmd, "/bin/dd if=/dev/zero of=%s bs=1M count=%s >%s 2>&1", image.c_str(),
                 build.size.c_str(), out.c_str());
  bbRunOrFail(cmd, out.c_str(), "Fatal error: Creating the new image file failed (%s).");
  composeCommand(cmd, "/sbin/mke2fs -N %s -F %s >%s 2>&1", build.inodes.c_str(), image.c_str(),
                 out.c_str());
  bbRunOrFail(cmd, out.c_str(), "Fatal error: Formatting the new image file failed (%s).");
  if (build.fstype == "ext3") {
    composeCommand(cmd, "/sbin/tune2fs -j %s >%s 2>&1", image.c_str(), out.c_str());
    bbRunOrFail(cmd, out.c_str(),
                "Fatal error: Adding a journal to the new image file failed (%s).");
  }
}

// The number of objects in the database `db` (twprint's object names):
// the count a check of an image that matches it reports.
static long databaseObjects(const std::string& db) {
  char cmd[MAINT_BUFF];
  std::string out = bbPath("tw/dbprint.out");
  composeCommand(cmd, "/usr/sbin/twprint -m d -c %s -d %s >%s 2>&1", twConfigFile(), db.c_str(),
                 out.c_str());
  bbRunOrFail(cmd, nullptr, "Fatal error: Printing the bundle's database failed (%s).");
  OwnedText text(file2Buffer(out.c_str()));
  long objects = 0;
  for (const char* at = text ? strstr(text.get(), "\nObject name:") : nullptr; at;
       at = strstr(at + 1, "\nObject name:")) {
    ++objects;
  }
  if (objects <= 0) {
    bbFailWithOutput(out.c_str(), "Fatal error: The bundle's database holds no objects.");
  }
  return objects;
}

// A check of the mounted image against `db`: no violation, and the object
// count the apply run must report.
static long checkAgainstDatabase(const std::string& db) {
  char cmd[MAINT_BUFF];
  std::string out = bbPath("tw/selfcheck.out");
  composeCommand(cmd, "/usr/sbin/tripwire -m c -c %s -p %s -d %s >%s 2>&1", twConfigFile(),
                 twPolicyFile(), db.c_str(), out.c_str());
  runCommand(cmd);
  OwnedText text(file2Buffer(out.c_str()));
  long objects = summaryNumber(text.get(), "Total objects scanned:");
  long violations = summaryNumber(text.get(), "Total violations found:");
  if (objects <= 0 || violations != 0) {
    bbFailWithOutput(out.c_str(),
                     "Fatal error: The built image does not pass a check against its own "
                     "database.");
  }
  return objects;
}

long buildExpectedImage(const Tree& newTree) {
  methodTrace trace("buildExpectedImage");
  logAndConsole('I', "Building the expected new image.");
  char cmd[MAINT_BUFF];
  std::string image = bbPath("new.img");
  std::string oldMount = bbPath("oldmnt");
  makeImageFile(image);
  bbMountAt("-o loop", image.c_str(), "Fatal error: Mounting the new image failed (%s).");
  composeCommand(cmd, "/bin/cp -a %s/* %s", oldMount.c_str(), IMAGE_MOUNT_POINT);
  if (runCommand(cmd) != 0) bbFail("Fatal error: Copying the old tree into the new image failed.");
  bbUnmount(oldMount.c_str());
  if (chdir(IMAGE_MOUNT_POINT) != 0) {
    bbFail("Fatal error: Unable to change to %s.", IMAGE_MOUNT_POINT, strerror(errno));
  }
  runScript("maint_cmd_bash1");
  std::string out = bbPath("temp.file");
  composeCommand(cmd, "/bin/tar --same-owner -xpjf %s/maint.tar.bz2 >%s 2>&1", build.work.c_str(),
                 out.c_str());
  bbRunOrFail(cmd, out.c_str(),
              "Fatal error: Unpacking the payload into the new image failed (%s).");
  runScript("maint_cmd_bash2");
  if (chdir("/") != 0) bbFail("Fatal error: Unable to change to /.");

  Tree built;
  std::string error;
  if (!readTree(IMAGE_MOUNT_POINT, built, &error)) {
    bbFail("Fatal error: Unable to read the built image: %s.", error.c_str());
  }
  std::vector<std::string> diffs =
      compareTrees(bbPath("wanted"), newTree, IMAGE_MOUNT_POINT, built, SHOWN_DIFFERENCES);
  if (!diffs.empty()) {
    for (const std::string& d : diffs) logOnly("    ", d.c_str());
    bbFail("Fatal error: The built image differs from the new tree at %s (the log says how).",
           diffs[0].substr(0, diffs[0].find(": ")).c_str());
  }
  logAndConsole('I', "The built image equals the new tree.");

  // The database the apply run checks its image against.
  char rule[MAINT_BUFF];
  formatText(rule, sizeof rule, "%s -> pugsM ;", IMAGE_MOUNT_POINT);
  bbCheckerFiles(rule);
  out = bbPath("tw/dbinit.out");
  composeCommand(cmd, "/usr/sbin/tripwire --init -e -c %s -p %s >%s 2>&1", twConfigFile(),
                 twPolicyFile(), out.c_str());
  if (runCommand(cmd) != 0) {
    bbFailWithOutput(out.c_str(), "Fatal error: tripwire could not build the bundle's database.");
  }
  std::string db = bbPath("control/tw.maint_db");
  composeCommand(cmd, "/bin/cp %s %s", twDatabaseFile(), db.c_str());
  bbRunOrFail(cmd, nullptr, "Fatal error: Copying the database failed (%s).");
  // The verifying apply run checks an image built the same way against
  // this database: a check here too would only repeat it.
  long objects = build.verify ? databaseObjects(db) : checkAgainstDatabase(db);
  bbUnmount(IMAGE_MOUNT_POINT);
  return objects;
}

void buildInPrivateRoot() {
  methodTrace trace("buildInPrivateRoot");
  std::vector<RootBind> binds;
  binds.push_back(RootBind{build.work, build.work, false});
  binds.push_back(RootBind{build.newTree, bbPath("wanted"), true});
  if (!build.gzipped) binds.push_back(RootBind{build.oldImage, bbPath("old.img"), true});
  enterPrivateRoot(bbPath("root"), binds, "");
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/bin/mkdir -p %s %s", IMAGE_MOUNT_POINT, TEMP_ROOT);
  bbRunOrFail(cmd, nullptr, "Fatal error: Making the mount point failed (%s).");

  // Names are vetted before anything else is done with the trees.
  Tree newTree;
  readCheckedTree(bbPath("wanted"), newTree, true);
  findDifferences();
  Tree oldTree;
  readCheckedTree(bbPath("oldmnt"), oldTree, false);
  ChangePlan plan = planChanges(oldTree, newTree);
  freeChangeLists();
  writeBundleFiles(plan, newTree);
  long objects = buildExpectedImage(newTree);
  OwnedFile f(fopen(bbPath("objects").c_str(), "w"));
  if (!f) bbFail("Fatal error: Unable to write %s.", bbPath("objects").c_str(), strerror(errno));
  fprintf(f.get(), "%ld\n", objects);
}
