// apply_finish.cpp - finishing the new image: filesystem check, checksum,
// compression or rename to the final name, and the checksum record.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "applyKestro.h"
#include "bundle_data.h"
#include "maint.h"
#include "owned.h"

char* createImageMD5(const char* image) {
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "md5sum %s", shellValue("image name", image));
  char* output = backtics(cmd);
  checkInterrupted();
  output[strcspn(output, " ")] = '\0';
  return output;
}

char* createImageMD5(char* image) { return createImageMD5(static_cast<const char*>(image)); }

void buildNewImageMD5(const char* localmd5) {
  std::string path = md5RecordPath(orig_new_image);
  long long compressed = imagesGzipped ? fileSize64(orig_new_image) : 0;
  std::string line = md5RecordLine(localmd5, atoll(newImageSize), imagesGzipped != 0, compressed);
  buffer2file(path.c_str(), line.c_str(), "\n");
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "chmod +x %s", path.c_str());
  runCommand(cmd, LOG_NOT);
}

void buildNewImageMD5(char* localmd5) { buildNewImageMD5(static_cast<const char*>(localmd5)); }

// Removes a symbolic link at `path`, so that a redirection or a write to
// the name creates a file there instead of writing where the link points.
static void removeLink(const char* path) {
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) unlink(path);
}

void finishNewImage() {
  // The bundle's scripts could reach the image's name while they ran: the
  // check, checksum and move must work on the file built, not on a link.
  requirePlainPath(new_image, false);
  logOnly("", "Running filesystem check on the newly generated image file.");
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/sbin/e2fsck -f %s 2>%s", new_image, tempfile);
  runLogged(cmd);
  tmpfileToLog("    ", tempfile);

  OwnedText checksum(createImageMD5(new_image));
  if (checksum.get()[0] == '\0') {
    logAndConsole('E', "Fatal error: Could not take the checksum of the new image %s.", new_image);
    failAfterCleanup();
  }
  // From here until the run has checked for signals, the final image and
  // its record are this run's partial output.
  std::string record = md5RecordPath(orig_new_image);
  setPartialOutput(orig_new_image, record.c_str());
  removeLink(orig_new_image);
  removeLink(record.c_str());
  if (imagesGzipped) {
    composeCommand(cmd, "/usr/bin/gzip -c %s 2>%s > %s", new_image, tempfile, orig_new_image);
    if (runLogged(cmd) != 0) {
      logAndConsole('E', "Attempt to gzip the new image failed.");
      tmpfileToLog("    ", tempfile);
      failKeepingWorkDir();
    }
    tmpfileToLog("    ", tempfile);
  } else {
    rename(new_image, orig_new_image);
  }
  buildNewImageMD5(checksum.get());
  if (fileExists(new_image)) unlink(new_image);
  composeCommand(cmd, "chmod +x %s", orig_new_image);
  runCommand(cmd, LOG_NOT);
}
