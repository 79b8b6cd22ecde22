// inittab.cpp - /etc/inittab editing for the maintenance runlevel 7: the
// runlevel 7 block and default entry, the console entries, commenting and
// uncommenting entries, the three switches between normal operation, apply
// and back-off, and the current runlevel.
//
// Every edit is a sed into the scratch copy /etc/inittab.sv1 that is then
// copied over /etc/inittab.  A sed that fails or leaves an empty scratch
// copy is never copied back, and an edit whose command does not fit the
// command buffer is not made; both are logged with the reason.
#include <libintl.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "maint.h"
#include "owned.h"

static const char* const SCRATCH = "/etc/inittab.sv1";
static const char* const INSTALL_SCRATCH = "/bin/cp /etc/inittab.sv1 /etc/inittab";

// Returns a command's standard output.  The edits log their own lines, not
// the commands that make them.
static OwnedText capture(const char* cmd) { return OwnedText(backtics(cmd)); }

static void logTooLong(const char* what) {
  logOnly("",
          "The command to edit /etc/inittab for %s does not fit its buffer; /etc/inittab is left "
          "unchanged.",
          what);
}

// Runs a sed whose output is the scratch copy and puts the copy in place.
// Returns 1 when /etc/inittab was replaced; a failed sed or an empty copy
// leaves /etc/inittab as it was.  The scratch copy is removed unless the
// caller keeps it.
static int installSedResult(const char* sedCmd, bool keepScratch) {
  int rc = runCommand(sedCmd, LOG_NOT);
  if (rc != 0 || fileSize(SCRATCH) <= 0) {
    char status[32];
    snprintf(status, sizeof status, "%d", rc);
    logOnly("", "The edit of /etc/inittab failed (rc = %s); /etc/inittab is left unchanged.",
            status);
    unlink(SCRATCH);
    return 0;
  }
  runCommand(INSTALL_SCRATCH, LOG_NOT);
  sync();
  if (!keepScratch) unlink(SCRATCH);
  return 1;
}

char* fixPatternForSed(const char* pattern) {
  if (!pattern) return nullptr;
  if (!strchr(pattern, '/')) return copyString(pattern);
  char* result = nullptr;
  int size = 0;
  const char* rest = pattern;
  for (const char* slash = strchr(rest, '/'); slash; slash = strchr(rest, '/')) {
    // Each piece between slashes passes through a command-sized buffer.
    char piece[MAINT_BUFF];
    memset(piece, 0, sizeof piece);
    size_t len = static_cast<size_t>(slash - rest);
    if (len > sizeof piece - 1) len = sizeof piece - 1;
    memcpy(piece, rest, len);
    dynamicStrCat(result, piece, size);
    dynamicStrCat(result, "\\/", size);
    rest = slash + 1;
  }
  dynamicStrCat(result, rest, size);
  return result;
}

// Comments out or uncomments one matched line; 1 when the edit was made.
static int editInittabLine(const char* line, INITTAB flag) {
  OwnedText escaped(fixPatternForSed(line));
  char cmd[MAINT_BUFF];
  bool fits;
  if (flag == COMMENT) {
    fits = composeCommand(cmd,
                          "/usr/bin/sed \"s/^%s/#%s/\" /etc/inittab 2>/dev/null >/etc/inittab.sv1",
                          escaped.get(), escaped.get());
  } else {
    fits =
        composeCommand(cmd, "/usr/bin/sed \"s/^%s/%s/\" /etc/inittab 2>/dev/null >/etc/inittab.sv1",
                       escaped.get(), escaped.get() + 1);
  }
  if (!fits) {
    logTooLong(line);
    return 0;
  }
  return installSedResult(cmd, false);
}

int comment_inittab_entry(const char* pattern, INITTAB flag) {
  methodTrace trace("comment_inittab_entry");
  OwnedText escaped(fixPatternForSed(pattern ? pattern : ""));
  char cmd[MAINT_BUFF];
  if (!composeCommand(cmd, "/usr/bin/grep %s /etc/inittab ", escaped.get())) {
    logTooLong(pattern);
    return 0;
  }
  OwnedText found = capture(cmd);
  chomp(found.get());
  int edited = 0;
  char* save = nullptr;
  for (char* line = strtok_r(found.get(), "\n", &save); line;
       line = strtok_r(nullptr, "\n", &save)) {
    bool commented = line[0] == '#';
    if (flag == COMMENT && !commented) {
      edited |= editInittabLine(line, COMMENT);
    } else if (flag == UNCOMMENT && commented) {
      edited |= editInittabLine(line, UNCOMMENT);
    }
  }
  return edited;
}

int switchSystemToNormal() {
  methodTrace trace("switchSystemToNormal");
  int runlevel = 3;
  if (!comment_inittab_entry(":3:initdefault", UNCOMMENT)) {
    runlevel = 5;
    comment_inittab_entry(":5:initdefault", UNCOMMENT);
  }
  comment_inittab_entry(":7:initdefault", COMMENT);
  comment_inittab_entry("/usr/sbin/applyVantel.sh", COMMENT);
  comment_inittab_entry("/usr/sbin/backoffVantel.sh", COMMENT);
  return runlevel;
}

void switchSystemForBackoff() {
  methodTrace trace("switchSystemForBackoff");
  if (!comment_inittab_entry(":3:initdefault", COMMENT)) {
    comment_inittab_entry(":5:initdefault", COMMENT);
  }
  comment_inittab_entry(":7:initdefault", UNCOMMENT);
  comment_inittab_entry("/usr/sbin/applyVantel.sh", COMMENT);
  comment_inittab_entry("/usr/sbin/backoffVantel.sh", UNCOMMENT);
}

void switchSystemForApply(const char* line) {
  methodTrace trace("switchSystemForApply");
  (void)line;
  if (!comment_inittab_entry(":3:initdefault", COMMENT)) {
    comment_inittab_entry(":5:initdefault", COMMENT);
  }
  comment_inittab_entry(":7:initdefault", UNCOMMENT);
  comment_inittab_entry("/usr/sbin/applyVantel.sh", UNCOMMENT);
  comment_inittab_entry("/usr/sbin/backoffVantel.sh", COMMENT);
}

void addVirtualConsole(int console) {
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/usr/bin/grep -q \"^%d:2357\" /etc/inittab", console);
  if (runCommand(cmd, LOG_NOT) == 0) return;
  composeCommand(cmd,
                 "/usr/bin/sed \"s/^%d:235/%d:2357/\" /etc/inittab 2>/dev/null >/etc/inittab.sv1",
                 console, console);
  installSedResult(cmd, false);
}

// The runlevel 7 block: the apply entry on, the back-off entry off.
static const char* const RUNLEVEL7_BLOCK[] = {
    "\n# What to do in runlevel 7 (Branch maintenance)\n",
    "l7:7:wait:/etc/init.d/rc S\n",
    "ma:7:wait:/bin/bash -c /usr/sbin/applyVantel.sh\n",
    "#bo:7:wait:/bin/bash -c /usr/sbin/backoffVantel.sh\n",
};

void addRunlevel7Definiition() {
  methodTrace trace("addRunlevel7Definiition");
  if (runCommand("/usr/bin/grep -q \"(Branch maintenance)\" /etc/inittab", LOG_NOT) != 0) {
    logOnly("", "Adding definition for runlevel 7 to /etc/inittab");
    OwnedText blockFile(tempfilename("addrun7.%d.file"));
    {
      OwnedFile out(fopen(blockFile.get(), "w"));
      if (!out) {
        const char* message = "Temporary file could not be opened for writing. Exiting.";
        logOnly("", message);
        console('I', gettext(message));
        exit(1);
      }
      for (const char* text : RUNLEVEL7_BLOCK) fputs(text, out.get());
    }
    char cmd[MAINT_BUFF];
    int inserted = 0;
    if (composeCommand(cmd,
                       "/usr/bin/sed \"/sbin\\/sulogin$/ r %s\" /etc/inittab >/etc/inittab.sv1",
                       blockFile.get())) {
      // The scratch copy is kept after this edit.
      inserted = installSedResult(cmd, true);
    } else {
      logTooLong("the runlevel 7 definition");
    }
    unlink(blockFile.get());
    sync();
    if (inserted) logOnly("    ", "Runlevel 7 definition inserted. Filesystem synced.");
  }
  addVirtualConsole(2);
  addVirtualConsole(3);
}

void addRunlevel7Initdefault() {
  methodTrace trace("addRunlevel7Initdefault");
  if (runCommand("/usr/bin/grep -q \":7:initdefault:$\" /etc/inittab", LOG_NOT) == 0) return;
  logAndConsole('I', "Inserting an initdefault line for runlevel 7.");
  OwnedText found = capture("/usr/bin/grep :initdefault:$ /etc/inittab");
  const char* entry = chomp(found.get());
  if (entry[0] == '\0' || strchr(entry, '\n')) {
    // The new entry goes after the one default entry; without exactly one
    // there is no place for it.
    logOnly(
        "",
        entry[0] == '\0'
            ? "No initdefault entry found in /etc/inittab; no runlevel 7 entry inserted."
            : "Several initdefault entries found in /etc/inittab; no runlevel 7 entry inserted.");
    return;
  }
  OwnedText escaped(fixPatternForSed(entry));
  char cmd[MAINT_BUFF];
  if (!composeCommand(cmd,
                      "/usr/bin/sed \"/^%s/ a\\%s\" /etc/inittab 2>/dev/null >/etc/inittab.sv1",
                      escaped.get(), "#id:7:initdefault:")) {
    logTooLong(entry);
  } else if (installSedResult(cmd, false)) {
    logOnly("    ", "New initdefault entry inserted. Filesystem synced.");
  }
}

int getCurrentRunlevel() {
  methodTrace trace("getCurrentRunlevel");
  OwnedText output = capture("/sbin/runlevel");
  char previous[16] = "";
  char current[16] = "";
  int words = sscanf(output.get(), "%15s %15s", previous, current);
  if (words < 2 || !isdigit(static_cast<unsigned char>(current[0]))) return -1;
  return atoi(current);
}
