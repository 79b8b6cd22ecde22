// apply_bundle.cpp - checking the bundle's signature when a keyring is
// set up, unpacking the maintenance bundle, reading its
// maintenance data, working out the image names (with the date-less
// fallback), uncompressing a gzipped old image, and comparing the old
// image's checksum with the one the bundle was built from.
#include <errno.h>
#include <libintl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "applyKestro.h"
#include "bundle_data.h"
#include "maint.h"
#include "owned.h"
#include "signature.h"

void extractControlFiles() {
  if (chdir(workdir) != 0) {
    // The unpack below then finds nothing and the checks report it.
  }
  // With a keyring, the bundle is verified while it is copied into the
  // working directory, and that copy is unpacked: the bytes unpacked are
  // the bytes verified, whatever happens to the bundle's own file meanwhile.
  char copy[MAINT_BUFF];
  formatText(copy, sizeof copy, "%s/verified-bundle.tar", workdir);
  BundleTrust trust = checkBundle(KEYRING_DIR, maintBundle, copy);
  checkInterrupted();
  if (trust == BUNDLE_REFUSED) failAfterCleanup();
  const char* source = trust == BUNDLE_VERIFIED ? copy : maintBundle;
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/bin/tar  -xf %s 2>/dev/null",
                 shellValue("Fatal error: The bundle path \"%s\" holds characters that a shell "
                            "command must not be given. Exiting.",
                            source));
  runLogged(cmd);
  if (trust == BUNDLE_VERIFIED) unlink(copy);
  composeCommand(cmd, "/bin/tar -xjf %s/control.tar.bz2 2>/dev/null", workdir);
  runLogged(cmd);
  char path[MAINT_BUFF];
  formatText(path, sizeof path, "%s/control.tar.bz2", workdir);
  unlink(path);

  struct Required {
    const char* name;
    const char* message;
  };
  const Required required[] = {
      {"maint_cmd_bash1",
       " Fatal error: Maintenance control file maint_cmd_bash1 was not in the tar file."},
      {"maintData", "Fatal error: Maintenance control file maintData was not in the tar file."},
      {"tw.maint_db", "Fatal error: Maintenance control file tw.maint_db was not in the tar file."},
  };
  // The bundle is unpacked where the run keeps its own files: a member
  // must not have put a link in place of the old image's mount point or of
  // the file that receives the commands' output.
  requirePlainPath(oldimagedir, true);
  struct stat st;
  if (lstat(tempfile, &st) == 0) requirePlainPath(tempfile, false);
  for (const Required& r : required) {
    formatText(path, sizeof path, "%s/%s", workdir, r.name);
    if (fileExists(path)) continue;
    logAndConsole('E', r.message);
    failAfterCleanup();
  }
}

// Ends the run before any image work when an item of the maintenance data
// cannot be used.
[[noreturn]] static void badMaintData(const char* format, const char* item,
                                      const char* value = nullptr) {
  logAndConsole('E', format, item, value);
  failAfterCleanup();
}

// The value of `key`, vetted; `number` asks for a positive decimal number
// and `fileName` for a plain file name.
static const char* maintValue(const MaintData& data, MaintData::Key key, bool number,
                              bool fileName) {
  const char* item = MaintData::NAMES[key];
  if (!data.present[key]) {
    badMaintData("Fatal error: The maintenance data file maintData does not give %s.", item);
  }
  const char* value = data.value[key].c_str();
  if ((number || fileName) && value[0] == '\0') {
    badMaintData("Fatal error: The maintenance data item %s is empty.", item);
  }
  if (number && !positiveDecimal(value)) {
    badMaintData(
        "Fatal error: The maintenance data item %s must be a positive decimal number, "
        "not \"%s\".",
        item, value);
  }
  if (fileName && !plainFileName(value)) {
    badMaintData(
        "Fatal error: The maintenance data item %s must be a plain file name, not "
        "\"%s\".",
        item, value);
  }
  return value;
}

static void setImagePath(char*& variable, const char* item, const char* name) {
  char path[MAINT_BUFF];
  if (!formatText(path, sizeof path, "%s/%s", IMAGE_DIR, name)) {
    badMaintData("Fatal error: The maintenance data item %s is too long: \"%s\".", item, name);
  }
  setState(variable, path);
}

void parseMaintData() {
  if (chdir(workdir) != 0) {
  }
  char path[MAINT_BUFF];
  formatText(path, sizeof path, "%s/maintData", workdir);
  MaintData data = parseMaintDataText(OwnedText(file2Buffer(path)).get());
  setImagePath(orig_old_image, MaintData::NAMES[MaintData::OLD_IMAGE_NAME],
               maintValue(data, MaintData::OLD_IMAGE_NAME, false, true));
  setState(oldImageMD5, maintValue(data, MaintData::OLD_IMAGE_MD5, false, false));
  setImagePath(orig_new_image, MaintData::NAMES[MaintData::NEW_IMAGE_NAME],
               maintValue(data, MaintData::NEW_IMAGE_NAME, false, true));
  setState(newImageSize, maintValue(data, MaintData::NEW_IMAGE_SIZE, true, false));
  setState(newImageFSType, maintValue(data, MaintData::NEW_IMAGE_FSTYPE, false, false));
  setState(newImageInodes, maintValue(data, MaintData::NEW_IMAGE_INODES, true, false));
}

// base-version[.ext] of an image path, or an empty text when the name has
// no "-" to split at.
static std::string datelessName(const char* image) {
  char *barename, *ver, *date, *ext;
  parseImageName(image, barename, ver, date, ext);
  OwnedText ownBare(barename), ownVer(ver), ownDate(date), ownExt(ext);
  std::string name;
  if (barename && ver) {
    name = std::string(barename) + "-" + ver;
    if (ext) name += std::string(".") + ext;
  }
  return name;
}

// True when `text` ends with `tail`.
static bool endsWith(const char* text, const char* tail) {
  size_t n = strlen(text), m = strlen(tail);
  return n >= m && strcmp(text + n - m, tail) == 0;
}

// Ends the run when the new image, or its checksum record, would take the
// old image's name, when it would take the mount point's, or when its name
// is that of an image under construction (which the start-up removes).
static void refuseCollidingNames() {
  if (strcmp(orig_new_image, orig_old_image) != 0 &&
      md5RecordPath(orig_new_image) != orig_old_image &&
      strcmp(orig_new_image, IMAGE_MOUNT_POINT) != 0 &&
      !endsWith(orig_new_image, ".ImageInProcess")) {
    return;
  }
  logAndConsole('E',
                "Fatal error: The new image name %s collides with %s, the old image, the mount "
                "point or an image under construction. Exiting.",
                orig_new_image, orig_old_image);
  failAfterCleanup();
}

void processImageNames() {
  logOnly("", "Old Image Name   = %s", orig_old_image);
  logOnly("", "New Image Name   = %s", orig_new_image);
  if (!fileExists(orig_old_image)) {
    std::string alternative = datelessName(orig_old_image);
    if (alternative.empty() || !fileExists(alternative.c_str())) {
      logAndConsole('E', "Fatal error. Old image %s does not exist. New image can not be created.",
                    orig_old_image);
      failAfterCleanup();
    }
    setState(orig_old_image, alternative.c_str());
    std::string newAlternative = datelessName(orig_new_image);
    if (!newAlternative.empty()) setState(orig_new_image, newAlternative.c_str());
  }
  refuseCollidingNames();
  if (strstr(orig_old_image, ".gz") || strstr(orig_new_image, ".gz")) {
    processGzippedImage();
  } else {
    setState(old_image, orig_old_image);
  }
  char path[MAINT_BUFF];
  if (!formatText(path, sizeof path, "%s.ImageInProcess", orig_new_image)) {
    badMaintData("Fatal error: The maintenance data item %s is too long: \"%s\".",
                 MaintData::NAMES[MaintData::NEW_IMAGE_NAME], orig_new_image);
  }
  setState(new_image, path);
  logOnly("", "Old Image Name   = %s", orig_old_image);
  logOnly("", "Old Image MD5    = %s", oldImageMD5);
  logOnly("", "New Image Name   = %s", orig_new_image);
  logOnly("", "New Image Size   = %s Meg.", newImageSize);
  logOnly("", "New Image FSType = %s", newImageFSType);
}

void processGzippedImage() {
  imagesGzipped = 1;
  setState(old_image, OwnedText(tempfilename("temp.%d.old")).get());
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/usr/bin/gunzip -c %s 2>%s > %s",
                 shellValue("Fatal error: The old image name \"%s\" holds characters that a shell "
                            "command must not be given. Exiting.",
                            orig_old_image),
                 tempfile, old_image);
  int rc = runLogged(cmd);
  if (rc == 0) {
    tmpfileToLog("    ", tempfile);
    return;
  }
  logAndConsole('E', "Attempt to uncompress %s failed. Fatal error.", orig_old_image,
                statusText(rc).c_str());
  tmpfileToLog("    ", tempfile);
  failAfterCleanupSpaced();
}

int checkOldImageMD5(const char* expected) {
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "md5sum %s",
                 shellValue("Fatal error: The old image name \"%s\" holds characters that a shell "
                            "command must not be given. Exiting.",
                            orig_old_image));
  OwnedText sum(backtics(cmd));
  checkInterrupted();
  char* output = sum.get();
  output[strcspn(output, " ")] = '\0';
  // A checksum that md5sum did not print counts as a mismatch.
  int same = output[0] != '\0' && expected && strcmp(output, expected) == 0;
  if (!same) {
    console('W', gettext("WARNING: Local copy of the old image we are starting from DOES NOT "
                         "match the one the maintenance bundle was built from."));
    console('W', gettext("MD5 from the original image we started from: %s"),
            expected ? expected : "");
    console('W', gettext("MD5 from the local image we will use:        %s"), output);
  }
  return same;
}
