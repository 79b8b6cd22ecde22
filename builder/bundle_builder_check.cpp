// bundle_builder_check.cpp - finding the differences with the real checker
// inside the build root: a database of the old tree (mounted read-only at
// the apply run's mount point) under a policy with link counts, a check of
// the wanted tree bound at the same path, the full-detail report printed
// with twprint and handed unchanged to the report parser.
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "bundle_builder.h"
#include "maint.h"
#include "owned.h"

// A checker exit status of 8 or more is an error; below it the bits say
// what kinds of violation were found.
static bool checkerFailed(int rc) { return rc == -1 || !WIFEXITED(rc) || WEXITSTATUS(rc) >= 8; }

// Mounts `source` on the mount point with `how` ("-r -o loop" or "--bind").
void bbMountAt(const char* how, const char* source, const char* failure) {
  char cmd[MAINT_BUFF];
  std::string out = bbPath("temp.file");
  composeCommand(cmd, "/bin/mount %s %s %s >%s 2>&1", how, source, IMAGE_MOUNT_POINT, out.c_str());
  bbRunOrFail(cmd, out.c_str(), failure);
}

void bbUnmount(const char* path) {
  char cmd[MAINT_BUFF];
  std::string out = bbPath("temp.file");
  composeCommand(cmd, "/bin/umount %s >%s 2>&1", path, out.c_str());
  bbRunOrFail(cmd, out.c_str(), "Fatal error: Unmounting failed (%s).");
}

// The checker's keys, configuration and a policy compiled from `rule`, in
// W/tw; the keys and configuration are made once per build.
void bbCheckerFiles(const char* rule) {
  std::string dir = bbPath("tw");
  buildTripFilenames(dir.c_str());
  if (buildTripControlFiles(rule, dir.c_str()) != 0) {
    bbFail("Fatal error: The checker's control files could not be built. Exiting.");
  }
}

void findDifferences() {
  methodTrace trace("findDifferences");
  char cmd[MAINT_BUFF];
  std::string oldImage = bbPath("old.img");
  std::string oldMount = bbPath("oldmnt");
  std::string wanted = bbPath("wanted");
  composeCommand(cmd, "/bin/mount -r %s %s -o loop >%s 2>&1", oldImage.c_str(), oldMount.c_str(),
                 bbPath("temp.file").c_str());
  bbRunOrFail(cmd, bbPath("temp.file").c_str(), "Fatal error: Mounting the old image failed (%s).");

  logAndConsole('I', "Comparing the old image with the new tree.");
  char rule[MAINT_BUFF];
  formatText(rule, sizeof rule, "%s -> +pnugM ;\n!%s/lost+found ;", IMAGE_MOUNT_POINT,
             IMAGE_MOUNT_POINT);
  bbCheckerFiles(rule);
  bbMountAt("--bind", oldMount.c_str(),
            "Fatal error: Mounting the old tree for the checker failed (%s).");
  std::string out = bbPath("tw/init.out");
  composeCommand(cmd, "/usr/sbin/tripwire --init -e -c %s -p %s >%s 2>&1", twConfigFile(),
                 twPolicyFile(), out.c_str());
  if (checkerFailed(runCommand(cmd))) {
    bbFailWithOutput(out.c_str(), "Fatal error: tripwire could not build a database of %s.",
                     build.oldImage.c_str());
  }
  bbUnmount(IMAGE_MOUNT_POINT);

  bbMountAt("--bind -o ro", wanted.c_str(),
            "Fatal error: Mounting the new tree for the checker failed (%s).");
  out = bbPath("tw/check.out");
  composeCommand(cmd, "/usr/sbin/tripwire -m c -c %s -p %s -d %s >%s 2>&1", twConfigFile(),
                 twPolicyFile(), twDatabaseFile(), out.c_str());
  if (checkerFailed(runCommand(cmd))) {
    bbFailWithOutput(out.c_str(), "Fatal error: tripwire could not check the new tree %s.",
                     build.newTree.c_str());
  }
  bbUnmount(IMAGE_MOUNT_POINT);

  std::string report = bbPath("tw/report.txt");
  composeCommand(cmd, "/usr/sbin/twprint -m r -c %s -r %s -t 4 >%s 2>&1", twConfigFile(),
                 twReportFile(), report.c_str());
  bbRunOrFail(cmd, nullptr, "Fatal error: Printing the checker's report failed (%s).");
  OwnedFile in(fopen(report.c_str(), "r"));
  if (!in) bbFail("Fatal error: Unable to read the report %s.", report.c_str(), strerror(errno));
  int added = 0;
  int deleted = 0;
  int changed = 0;
  parseTWReport(in.get(), added, deleted, changed, static_cast<int>(strlen(IMAGE_MOUNT_POINT)));
  char counts[MAINT_BUFF];
  snprintf(counts, sizeof counts, "Checker report: %d added, %d removed, %d modified objects.",
           added, deleted, changed);
  logOnly("", counts);
}
