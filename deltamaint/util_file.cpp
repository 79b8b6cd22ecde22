// util_file.cpp - file tests by stat, whole-file reads and writes,
// temporary file names (in a directory only this user can write) and shell
// pattern expansion.
#include <fcntl.h>
#include <ftw.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "fixed_paths.h"
#include "maint.h"
#include "owned.h"

int fileExists(const char* file) {
  methodTrace trace("fileExists");
  struct stat st;
  return file && stat(file, &st) == 0 && S_ISREG(st.st_mode);
}

int directoryExists(const char* file) {
  methodTrace trace("directoryExists");
  struct stat st;
  return file && stat(file, &st) == 0 && S_ISDIR(st.st_mode);
}

int linkExists(const char* file) {
  struct stat st;
  return file && lstat(file, &st) == 0 && S_ISLNK(st.st_mode);
}

int fileSize(const char* file) {
  methodTrace trace("fileSize");
  struct stat st;
  if (!file || stat(file, &st) != 0) return 0;
  return static_cast<int>(st.st_size);
}

long long fileSize64(const char* file) {
  struct stat st;
  if (!file || stat(file, &st) != 0) return 0;
  return static_cast<long long>(st.st_size);
}

int alternateFileExists(const char* file) {
  methodTrace trace("alternateFileExists");
  char cmd[MAINT_BUFF];
  if (!composeCommand(cmd, "/bin/ls %s >/dev/null 2>&1", file ? file : "")) return 0;
  int rc = runCommand(cmd, LOG_NOT);
  return rc != -1 && ((rc >> 8) & 0xff) == 0;
}

// One entry of a planted tree, removed without following links.
static int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

// True when TEMP_ROOT is a directory of this user that nobody else may write.
static bool tempDirIsPrivate() {
  struct stat st;
  return lstat(TEMP_ROOT, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 022) == 0;
}

// Makes TEMP_ROOT safe to write into.  Absent, it is made with mode 755.
// Anything else at the name that is not this user's own directory closed
// to others (a link, a file, another user's directory, one others may
// write) is removed without following links and made again with mode 700.
static void prepareTempDir() {
  if (tempDirIsPrivate()) return;
  struct stat st;
  mode_t mode = 0755;
  for (int attempt = 0; attempt < 3 && !tempDirIsPrivate(); ++attempt) {
    if (lstat(TEMP_ROOT, &st) == 0) {
      mode = 0700;
      if (S_ISDIR(st.st_mode)) {
        nftw(TEMP_ROOT, removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
      } else {
        unlink(TEMP_ROOT);
      }
    }
    mkdir(TEMP_ROOT, mode);
  }
}

char* tempfilename(const char* file) {
  methodTrace trace("tempfilename");
  prepareTempDir();
  if (!file) file = "";
  char pattern[MAINT_BUFF];
  formatText(pattern, sizeof pattern, "%s%s%s", TEMP_ROOT, file[0] == '/' ? "" : "/", file);
  // The pattern holds at most one "%d", replaced by the process id; any
  // other '%' is taken literally.
  char name[MAINT_BUFF];
  char pid[24];
  snprintf(pid, sizeof pid, "%d", static_cast<int>(getpid()));
  size_t out = 0;
  bool replaced = false;
  for (const char* p = pattern; *p && out + 1 < sizeof name; ++p) {
    if (!replaced && p[0] == '%' && p[1] == 'd') {
      for (const char* q = pid; *q && out + 1 < sizeof name; ++q) name[out++] = *q;
      replaced = true;
      ++p;
    } else {
      name[out++] = *p;
    }
  }
  name[out] = '\0';
  return copyString(name);
}

char* globFiles(const char* pattern, const char* delimiter) {
  methodTrace trace("globFiles");
  glob_t g;
  memset(&g, 0, sizeof g);
  if (!pattern || glob(pattern, 0, nullptr, &g) != 0) {
    globfree(&g);
    return nullptr;
  }
  char* text = nullptr;
  int size = 0;
  for (size_t i = 0; i < g.gl_pathc; ++i) {
    dynamicStrCat(text, g.gl_pathv[i], size);
    dynamicStrCat(text, delimiter ? delimiter : "", size);
  }
  globfree(&g);
  return text;
}

char* file2Buffer(const char* filename) {
  methodTrace trace("file2Buffer");
  struct stat st;
  if (!filename || stat(filename, &st) != 0 || st.st_size <= 0) return nullptr;
  int fd = open(filename, O_RDONLY);
  if (fd < 0) return nullptr;
  size_t size = static_cast<size_t>(st.st_size);
  char* buff = static_cast<char*>(calloc(size + 1, 1));
  if (!buff) abort();
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, buff + got, size - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  return buff;
}

int buffer2file(const char* filename, const char* input, const char* breakchar) {
  methodTrace trace("buffer2file");
  if (!filename) return 1;
  unlink(filename);
  OwnedFile out(fopen(filename, "w"));
  if (!out) return 1;
  if (input) {
    if (breakchar && breakchar[0] == '\n') {
      fputs(input, out.get());
    } else {
      const char* delims = breakchar ? breakchar : "";
      OwnedText copy(copyString(input));
      char* save = nullptr;
      for (char* piece = strtok_r(copy.get(), delims, &save); piece;
           piece = strtok_r(nullptr, delims, &save)) {
        fputs(piece, out.get());
        fputc('\n', out.get());
      }
    }
  }
  return 0;
}

int buffer2file(const char* filename, const char* input, char* breakchar) {
  return buffer2file(filename, input, static_cast<const char*>(breakchar));
}
