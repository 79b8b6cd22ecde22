// listfile.cpp - vetting of list files (an rpm list, or absolute paths of
// at most 255 bytes) and finding an image file's filesystem type by
// read-only trial loop mounts.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "maint.h"
#include "owned.h"

static const size_t MAX_FILENAME = 255;
static const char* const CHECK_DIR = "mnt_check_dir";

int processListLine(char* rpm) {
  chomp(rpm);
  skipWS(rpm);
  return rpm[0] == '\0' || (rpm[0] == '#' && rpm[1] == '#');
}

int idRpmListFile(const char* file) {
  OwnedFile in(file ? fopen(file, "r") : nullptr);
  if (!in) {
    logAndConsole('E', "Fatal Error: Could not open input file %s.", file ? file : "",
                  strerror(file ? errno : EINVAL));
    exit(1);
  }
  char buff[MAINT_BUFF];
  // A line that reaches the end of the file while it is read (the last line
  // without a newline) is not looked at.
  while (fgets(buff, MAINT_BUFF - 1, in.get()) && !feof(in.get())) {
    if (processListLine(buff) || buff[0] == '#') continue;
    return strncmp(buff, "rpm", 3) == 0 || strncmp(buff, "/bin/rpm", 8) == 0 ? 5 : 0;
  }
  return 0;
}

int validateFilenameFile(const char* file) {
  methodTrace trace("validateFilenameFile");
  if (idRpmListFile(file) == 5) return 0;
  OwnedText text(file2Buffer(file));
  if (!text) return 0;
  int result = 0;
  char* save = nullptr;
  for (char* line = strtok_r(text.get(), "\n", &save); line;
       line = strtok_r(nullptr, "\n", &save)) {
    strip(line);
    if (line[0] == '\0' || line[0] == '#') continue;
    if (line[0] != '/') {
      logAndConsole(
          'E', "File %s has an apparent filename entry that does not have an absolute path.", file);
      result = 1;
      break;
    }
    if (strlen(line) > MAX_FILENAME) {
      logAndConsole('E', "File %s has an apparent filename that is longer than 255 bytes.", file);
      result = 1;
      break;
    }
  }
  return result;
}

// Mounts `imageName` read-only as `type` on the check directory; 1 when it
// mounted.  A name too long for the command is not tried.
static int mountsAs(const char* imageName, const char* type) {
  char cmd[MAINT_BUFF];
  if (!composeCommand(cmd, "/bin/mount -r -t %s %s %s -o loop 2>/dev/null", type, imageName,
                      CHECK_DIR)) {
    logOnly("", "The image name %s is too long for the mount command.", imageName);
    return 0;
  }
  return runCommand(cmd) == 0;
}

const char* checkImageFilesystemType(const char* imageName, const char* imageDir) {
  methodTrace trace("checkImageFilesystemType");
  (void)imageDir;
  if (!imageName) imageName = "";
  mkdir(CHECK_DIR, 0755);
  const char* type = "????";
  if (mountsAs(imageName, "ext3")) {
    type = "ext3";
  } else if (mountsAs(imageName, "ext2")) {
    type = "ext2";
  }
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/bin/umount %s", CHECK_DIR);
  runCommand(cmd);
  rmdir(CHECK_DIR);
  return type;
}
