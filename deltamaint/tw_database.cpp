// tw_database.cpp - the tripwire database of the running system: which
// directories it covers (the delete-directory list from an exclusion file
// and built-in tables, the inclusion list from the root directory's
// entries), the policy text made from both, and the database
// initialisation run.
//
// A directory list is a text of absolute paths, each behind a newline; it
// begins with a newline and may hold empty lines.  A path is in a list when
// the path enclosed in newlines occurs in the text.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "maint.h"
#include "owned.h"

namespace {

// Directories always excluded; the first empty slot ends the table.
const char* const mustSkipLst[20] = {"\n/proc\n",
                                     "\n/sys\n",
                                     "\n/var/log\n",
                                     "\n/var/run\n",
                                     "\n/var/tmp\n",
                                     "\n/tftpboot/image\n",
                                     "\n/tftpboot/CR\n",
                                     "\n/var/maint\n",
                                     "\n/media\n",
                                     "\n/mnt\n",
                                     "\n/sys\n",
                                     "\n/tmp/maint_zor\n",
                                     "\n/tftpboot/upload\n"};

// Directories never excluded.
const char* const mustNotSkipLst[16] = {"\n/var\n", "\n/var/lib\n", "\n/var/lib/rpm\n"};

// Directories always included.
const char* const mustIncludeLst[16] = {"\n/var/lib/rpm\n"};

// The rule of an included directory and of an excluded one.
const char* const baseScanCmd = "-> +pnugM;";
const char* const baseSkipCmd = ";";

const int DELETE_LIST_START = 1024;
const int POLICY_START = 512;

// A growing text that starts with an allocation of `size` bytes.
char* startText(const char* text, int size, int& maxtarget) {
  char* target = static_cast<char*>(malloc(static_cast<size_t>(size)));
  if (!target) abort();
  target[0] = '\0';
  maxtarget = size;
  return dynamicStrCat(target, text, maxtarget);
}

// `path` enclosed in newlines, as a heap text.
char* enclose(const char* path) {
  size_t size = strlen(path) + 3;
  char* enclosed = static_cast<char*>(malloc(size));
  if (!enclosed) abort();
  snprintf(enclosed, size, "\n%s\n", path);
  return enclosed;
}

// Removes the first occurrence of `enclosed` from `list`, keeping the
// newline in front of it: the path and its own newline go.
void removeFirst(char* list, const char* enclosed) {
  char* at = strstr(list, enclosed);
  if (!at) return;
  char* rest = at + strlen(enclosed);
  memmove(at + 1, rest, strlen(rest) + 1);
}

// Appends every table entry (up to the first empty slot) that the list
// does not hold yet.
void appendMissing(char*& list, int& size, const char* const* table, int slots) {
  for (int i = 0; i < slots && table[i] && table[i][0]; ++i) {
    if (!strstr(list, table[i])) dynamicStrCat(list, table[i], size);
  }
}

// Appends one policy line for every non-empty line of `dirs`.
void appendPolicyLines(char*& policy, int& size, const char* dirs, const char* mark,
                       const char* rule) {
  OwnedText copy(copyString(dirs));
  char* save = nullptr;
  for (char* dir = strtok_r(copy.get(), "\n", &save); dir; dir = strtok_r(nullptr, "\n", &save)) {
    std::string line = std::string(mark) + "\"" + dir + "\" " + rule + "\n";
    dynamicStrCat(policy, line.c_str(), size);
  }
}

// Logs a directory list behind a heading, one record per directory.
void logList(const char* heading, const char* dirs) {
  logOnly("", heading);
  OwnedText copy(copyString(dirs));
  logOnly("    ", skipWS(copy.get()));
  logBlank(1);
}

}  // namespace

char* buildDeleteDirList(const char* file) {
  methodTrace trace("buildDeleteDirList");
  int size = 0;
  char* list = startText("\n", DELETE_LIST_START, size);

  OwnedFile in((file && file[0]) ? fopen(file, "r") : nullptr);
  if (in) {
    char buff[MAINT_BUFF];
    while (readConfigFile(in.get(), buff, sizeof buff)) {
      chomp(buff);
      char path[MAINT_BUFF + 1];
      snprintf(path, sizeof path, "%s%s", buff[0] == '/' ? "" : "/", buff);
      OwnedText entry(enclose(path));
      // A directory named twice is listed once.
      if (!strstr(list, entry.get())) dynamicStrCat(list, entry.get() + 1, size);
    }
  }

  appendMissing(list, size, mustSkipLst, 20);
  for (int i = 0; i < 16 && mustNotSkipLst[i] && mustNotSkipLst[i][0]; ++i) {
    removeFirst(list, mustNotSkipLst[i]);
  }
  return list;
}

char* buildIncludeDirList(const char* rejectDirs) {
  methodTrace trace("buildIncludeDirList");
  OwnedText found(backtics("/usr/bin/find /* -maxdepth 0"));
  int size = 0;
  char* list = nullptr;
  dynamicStrCat(list, "\n", size);
  dynamicStrCat(list, found.get(), size);

  if (rejectDirs) {
    OwnedText copy(copyString(rejectDirs));
    char* save = nullptr;
    for (char* dir = strtok_r(copy.get(), "\n", &save); dir; dir = strtok_r(nullptr, "\n", &save)) {
      removeFirst(list, OwnedText(enclose(dir)).get());
    }
  }

  appendMissing(list, size, mustIncludeLst, 16);
  return list;
}

char* buildTripCommand(const char* fileExcludeList, int logflag) {
  methodTrace trace("buildTripCommand");
  OwnedText deleteDirs(buildDeleteDirList(fileExcludeList));
  OwnedText includeDirs(buildIncludeDirList(deleteDirs.get()));

  if (logflag) {
    logBlank(1);
    logList("Inclusion List: ", includeDirs.get());
    logList("Exclusion List:", deleteDirs.get());
  }

  int size = 0;
  char* policy = startText("", POLICY_START, size);
  appendPolicyLines(policy, size, includeDirs.get(), "", baseScanCmd);
  appendPolicyLines(policy, size, deleteDirs.get(), "!", baseSkipCmd);
  return policy;
}

int buildTripDatabase(const char* stage) {
  methodTrace trace("buildTripDatabase");
  (void)stage;
  OwnedText output(tempfilename("temp.%d.build"));
  const char* verbosity = isTraceActive() > 0 ? "-v" : "";
  const char* config = local_twConfigFile ? local_twConfigFile : "";
  const char* policy = local_twPolicyFile ? local_twPolicyFile : "";
  // The checker's files may have long names: this command is not held to
  // the command buffer.
  std::string command = std::string("/usr/sbin/tripwire ") + verbosity + " --init -e -c " + config +
                        " -p " + policy + " >" + output.get() + " 2>&1";
  int rc = runCommand(command.c_str());

  tmpfileToLog("    ", output.get());
  unlink(output.get());

  if (rc != 0) {
    char status[24];
    snprintf(status, sizeof status, "%d", rc);
    logAndConsole('I', "Attempt to build filesystem state database failed. rc = %s. Exiting.",
                  status);
    return rc;
  }
  logBlank(1);
  logOnly("", "Build of database containing filesystem state complete.");
  return 0;
}
