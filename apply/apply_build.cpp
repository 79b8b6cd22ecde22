// apply_build.cpp - building the new image: the old image mounted
// read-only, the new image file created, formatted and mounted, the old
// tree copied in, and the bundle's removals, payload and fixes applied.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "applyKestro.h"
#include "maint.h"

// The system's text for the error number as the last command left it.
static const char* errorText() { return strerror(errno); }

void prepOldImageFile() {
  checkOldImageMD5(oldImageMD5);
  requirePlainPath(oldimagedir, true);
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/bin/mount -r %s %s -o loop >%s 2>&1",
                 shellValue("Fatal error: The old image name \"%s\" holds characters that a shell "
                            "command must not be given. Exiting.",
                            old_image),
                 oldimagedir, tempfile);
  int rc = runLogged(cmd);
  if (rc != 0) {
    tmpfileToLog("    ", tempfile);
    failedMount(cmd, rc, old_image, oldimagedir);
    failAfterCleanupReported();
  }
}

// Runs one of the commands that make the new image file; on failure ends
// the run with `message` and the system's error text.
static void imageCommand(const char* cmd, const char* message) {
  if (runLogged(cmd) == 0) return;
  char error[MAINT_BUFF];
  snprintf(error, sizeof error, "%s", errorText());
  tmpfileToLog("    ", tempfile);
  logAndConsole('E', message, error);
  failAfterCleanup();
}

void buildNewImageFile() {
  if (chdir(workdir) != 0) {
  }
  char cmd[MAINT_BUFF];
  logOnly("", "Creating and zeroing file file to hold the new image.");
  const char* image = shellValue(
      "Fatal error: The new image name \"%s\" holds characters that a shell command must not be "
      "given. Exiting.",
      new_image);
  // The start-up removed every image under construction, so whatever
  // stands at the name now was put there since: dd must not write through
  // a link, and a file in the way is removed, not overwritten.
  struct stat st;
  if (lstat(image, &st) == 0) {
    requirePlainPath(image, false);
    unlink(image);
  }
  composeCommand(cmd, "/bin/dd if=/dev/zero of=%s bs=1M count=%s >%s 2>&1", image,
                 shellValue("Fatal error: The new image size \"%s\" holds characters that a shell "
                            "command must not be given. Exiting.",
                            newImageSize),
                 tempfile);
  imageCommand(cmd, "Attempt to create image file for new image failed.");

  logOnly("", "Formatting a filesystem into the new image file.");
  composeCommand(cmd, "/sbin/mke2fs -N %s -F %s >%s 2>&1",
                 shellValue("Fatal error: The new image inode count \"%s\" holds characters that a "
                            "shell command must not be given. Exiting.",
                            newImageInodes),
                 image, tempfile);
  imageCommand(cmd, "Attempt to format image file for new image failed.");

  if (strcmp(newImageFSType, "ext3") == 0) {
    logOnly("", "Converting the ext2 image filesystem to ext3.");
    composeCommand(cmd, "/sbin/tune2fs -j %s >%s 2>&1", image, tempfile);
    if (runLogged(cmd) != 0) {
      char error[MAINT_BUFF];
      snprintf(error, sizeof error, "%s", errorText());
      tmpfileToLog("    ", tempfile);
      logAndConsole('W', "Attempt to add a filesystem journal to the image file %s failed.", image,
                    error);
    }
  }

  composeCommand(cmd, "chmod +x %s", image);
  runCommand(cmd, LOG_NOT);
  checkInterrupted();

  requirePlainPath(image, false);
  requirePlainPath(newimagedir, true);
  composeCommand(cmd, "/bin/mount %s %s -o loop >%s 2>&1", image, newimagedir, tempfile);
  int rc = runLogged(cmd);
  if (rc != 0) {
    tmpfileToLog("    ", tempfile);
    failedMount(cmd, rc, new_image, newimagedir);
    failAfterCleanupReported();
  }
}

void prepForMaint() {
  prepOldImageFile();
  buildNewImageFile();
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/bin/cp -a %s/* %s", oldimagedir, newimagedir);
  if (runLogged(cmd) != 0) {
    char error[MAINT_BUFF];
    snprintf(error, sizeof error, "%s", errorText());
    logAndConsole('E', "Fatal Error: Attempt to copy old image contents to %s failed.", newimagedir,
                  error);
    failAfterCleanup();
  }
  composeCommand(cmd, "/bin/umount %s >%s 2>&1", oldimagedir, tempfile);
  int rc = runLogged(cmd);
  if (rc != 0) {
    tmpfileToLog("    ", tempfile);
    logAndConsole('E', "Fatal Error: Unable to unmount %s from %s.", old_image, oldimagedir);
    logAndConsole('E', "       Return code:  ", statusText(rc).c_str());
    failAfterCleanup();
  }
}

// Removes one of the used control files from the working directory.
static void removeControlFile(const char* name) {
  char path[MAINT_BUFF];
  formatText(path, sizeof path, "%s/%s", workdir, name);
  unlink(path);
}

void applyMaintToNewImage() {
  // The scripts and the unpack below name everything relative to the new
  // image's root: anywhere else they would change the wrong tree.
  if (chdir(newimagedir) != 0) {
    logAndConsole('E', "Fatal Error: Unable to change to the new image's root %s.", newimagedir,
                  strerror(errno));
    failAfterCleanup();
  }
  char cmd[MAINT_BUFF];
  logOnly("", "Cleaning out deleted/changed files/directories from the new image.");
  composeCommand(cmd, "%s/maint_cmd_bash1 >%s 2>&1", workdir, tempfile);
  runLogged(cmd, LOG_AFTER);
  tmpfileToLog("    ", tempfile);

  composeCommand(cmd, "/bin/tar --same-owner -xpjf %s/maint.tar.bz2 >%s 2>&1", workdir, tempfile);
  if (runLogged(cmd) != 0) {
    char error[MAINT_BUFF];
    snprintf(error, sizeof error, "%s", errorText());
    logAndConsole('E', "Attempt to apply maintenance to image failed.", error);
    tmpfileToLog("   tar -> ", tempfile);
    failAfterCleanup();
  }
  logOnly("", "tar reported no problems applying maintenance.");
  tmpfileToLog("    ", tempfile);
  unlink(tempfile);

  logOnly("", "Fixing owner, group, and permission changes for files in the new image.");
  composeCommand(cmd, "%s/maint_cmd_bash2 >%s 2>&1", workdir, tempfile);
  runLogged(cmd);
  tmpfileToLog("    ", tempfile);

  removeControlFile("maint_cmd_bash1");
  removeControlFile("maint_cmd_bash2");
  removeControlFile("maintData");
  removeControlFile("maint.tar.bz2");
}
