// apply_finish.cpp - finishing the new image: filesystem check, checksum,
// compression, the checksum record, and both put in place under their
// final names.
#include <errno.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
  composeCommand(cmd, "md5sum %s",
                 shellValue("Fatal error: The image name \"%s\" holds characters that a shell "
                            "command must not be given. Exiting.",
                            image));
  char* output = backtics(cmd);
  checkInterrupted();
  output[strcspn(output, " ")] = '\0';
  return output;
}

char* createImageMD5(char* image) { return createImageMD5(static_cast<const char*>(image)); }

// Writes the checksum record of the image `image` (the file whose size a
// gzipped record gives) to `path`; buffer2file's result.
static int writeImageMD5(const char* localmd5, const char* image, const char* path) {
  long long compressed = imagesGzipped ? fileSize64(image) : 0;
  std::string line = md5RecordLine(localmd5, atoll(newImageSize), imagesGzipped != 0, compressed);
  int rc = buffer2file(path, line.c_str(), "\n");
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "chmod +x %s", path);
  runCommand(cmd, LOG_NOT);
  return rc;
}

void buildNewImageMD5(const char* localmd5) {
  writeImageMD5(localmd5, orig_new_image, md5RecordPath(orig_new_image).c_str());
}

void buildNewImageMD5(char* localmd5) { buildNewImageMD5(static_cast<const char*>(localmd5)); }

// The finished image and its record under their temporary names, in
// /tftpboot/image beside the final ones; names ending in ".ImageInProcess"
// are removed by the next run's start-up if this one dies.
static std::string finishedImage;
static std::string finishedRecord;

// Removes whatever stands at a temporary name, without following a link,
// so that the run creates the file there itself.
static void clearName(const std::string& path) { unlink(path.c_str()); }

void finishNewImage() {
  // The bundle's scripts could reach the image's name while they ran: the
  // check, checksum and move must work on the file built, not on a link.
  requirePlainPath(new_image, false);
  logOnly("", "Running filesystem check on the newly generated image file.");
  char cmd[MAINT_BUFF];
  // A check that only reports: no question, no terminal needed.
  composeCommand(cmd, "/sbin/e2fsck -f -n %s >%s 2>&1 </dev/null", new_image, tempfile);
  int rc = runLogged(cmd);
  tmpfileToLog("    ", tempfile);
  // Exit status 4 and above: errors left in the filesystem, or no check.
  if (rc == -1 || !WIFEXITED(rc) || WEXITSTATUS(rc) >= 4) {
    logAndConsole('E', "Fatal error: The filesystem check of the new image %s failed.", new_image,
                  statusText(rc).c_str());
    failAfterCleanup();
  }

  OwnedText checksum(createImageMD5(new_image));
  if (checksum.get()[0] == '\0') {
    logAndConsole('E', "Fatal error: Could not take the checksum of the new image %s.", new_image);
    failAfterCleanup();
  }
  finishedImage = imagesGzipped ? std::string(orig_new_image) + ".gzip.ImageInProcess" : new_image;
  finishedRecord = md5RecordPath(orig_new_image) + ".ImageInProcess";
  setPartialOutput(finishedImage.c_str(), finishedRecord.c_str());
  clearName(finishedRecord);
  if (imagesGzipped) {
    clearName(finishedImage);
    composeCommand(cmd, "/usr/bin/gzip -c %s 2>%s > %s", new_image, tempfile,
                   finishedImage.c_str());
    if (runLogged(cmd) != 0) {
      logAndConsole('E', "Attempt to gzip the new image failed.");
      tmpfileToLog("    ", tempfile);
      failKeepingWorkDir();
    }
    tmpfileToLog("    ", tempfile);
    unlink(new_image);
  }
  if (writeImageMD5(checksum.get(), finishedImage.c_str(), finishedRecord.c_str()) != 0) {
    logAndConsole('E', "Fatal error: Could not write the checksum record %s.",
                  finishedRecord.c_str());
    failAfterCleanup();
  }
  composeCommand(cmd, "chmod +x %s", finishedImage.c_str());
  runCommand(cmd, LOG_NOT);
}

// Renames `from` over `to`, or (`checkOnly`) ends the run when a directory
// there would stop the rename; a failed rename ends the run too.
static void putInPlace(const std::string& from, const char* to, bool checkOnly) {
  struct stat st;
  if (checkOnly) {
    if (lstat(to, &st) != 0 || !S_ISDIR(st.st_mode)) return;
    errno = EISDIR;
  } else if (rename(from.c_str(), to) == 0) {
    return;
  }
  logAndConsole('E', "Fatal error: The new image could not be put in place as %s.", to,
                strerror(errno));
  failAfterCleanup();
}

void placeNewImage() {
  std::string record = md5RecordPath(orig_new_image);
  // The record's name is checked first: once the image is in place its
  // record must not be left behind.
  putInPlace(finishedRecord, record.c_str(), true);
  putInPlace(finishedImage, orig_new_image, false);
  putInPlace(finishedRecord, record.c_str(), false);
}
