// tw_control.cpp - the integrity checker's control files (keys,
// configuration, compiled policy) made with twadmin, and the check of the
// installed tripwire package's version.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "maint.h"
#include "owned.h"

char* twSkeyFile = nullptr;
char* twLkeyFile = nullptr;
char* local_twDB = nullptr;
char* local_twRPT = nullptr;
char* local_twPolicyFile = nullptr;
char* local_twConfigFile = nullptr;
int tripVersionWarning = 0;

static void setName(char*& global, const char* format, const char* target) {
  char name[MAINT_BUFF];
  formatText(name, sizeof name, format, target);
  free(global);
  global = copyString(name);
}

int buildTripFilenames(const char* target) {
  methodTrace trace("buildTripFilenames");
  if (!target) target = "";
  setName(twSkeyFile, "%s/dm.skey", target);
  setName(twLkeyFile, "%s/dm.lkey", target);
  setName(local_twDB, "%s/dm.db", target);
  setName(local_twRPT, "%s/dm.rpt", target);
  setName(local_twPolicyFile, "%s/dm.policy", target);
  setName(local_twConfigFile, "%s/dm.config", target);
  return 0;
}

const char* twDatabaseFile() { return local_twDB; }
const char* twReportFile() { return local_twRPT; }
const char* twConfigFile() { return local_twConfigFile; }
const char* twPolicyFile() { return local_twPolicyFile; }

// Shows why a twadmin command failed: the message, then its output on the
// console and in the log.
static void showTwadminFailure(const char* message, const char* output) {
  console('E', message);
  tmpfileToConsole('E', "    ", output);
  tmpfileToLog("    ", output);
}

// Makes one key file unless it is there; returns the twadmin status.  A
// twadmin that failed or was killed may have left part of a key: it is
// removed, so that the next run makes the key again.
static int buildKey(const char* optionFormat, const char* keyFile, const char* output) {
  if (fileExists(keyFile)) return 0;
  char options[MAINT_BUFF];
  char cmd[MAINT_BUFF];
  formatText(options, sizeof options, optionFormat, keyFile);
  composeCommand(cmd, "/usr/sbin/twadmin -m G %s >%s 2>&1", options, output);
  int rc = runCommand(cmd, LOG_WITH_STATUS);
  if (rc != 0) {
    unlink(keyFile);
    showTwadminFailure(
        "Attempt to build tripwire control files failed. See following error message.", output);
  }
  return rc;
}

static int buildConfig(const char* output) {
  if (fileExists(local_twConfigFile)) return 0;
  OwnedText text(tempfilename("dm.config.%d"));
  {
    OwnedFile out(fopen(text.get(), "w"));
    if (!out) {
      logAndConsole('E', "Attempt to create and write to file %s failed.", text.get());
      return 1;
    }
    fprintf(out.get(), "POLFILE = %s\n", local_twPolicyFile);
    fprintf(out.get(), "DBFILE = %s\n", local_twDB);
    fprintf(out.get(), "REPORTFILE = %s\n", local_twRPT);
    fprintf(out.get(), "SITEKEYFILE = %s\n", twSkeyFile);
    fprintf(out.get(), "LOCALKEYFILE = %s\n", twLkeyFile);
    fputs("LOOSEDIRECTORYCHECKING = true\n", out.get());
    fputs("REPORTLEVEL = 3\n", out.get());
  }
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/usr/sbin/twadmin -m F -c %s -e %s >%s 2>&1", local_twConfigFile, text.get(),
                 output);
  int rc = runCommand(cmd, LOG_WITH_STATUS);
  if (rc != 0) {
    unlink(local_twConfigFile);  // as a key: never a partial one kept
    showTwadminFailure("Attempt to build tripwire config file failed. See following error message.",
                       output);
  } else {
    unlink(text.get());
  }
  return rc;
}

// Shows the policy line that twadmin's "Syntax error" report names: the
// number after "Line number" counts the policy's non-empty lines from 1.
static void showPolicyErrorLine(const char* tripcmd, const char* output) {
  char cmd[MAINT_BUFF];
  if (!composeCommand(cmd, "/bin/cat %s | /usr/bin/grep 'Syntax error'", output)) return;
  OwnedText report(backtics(cmd));
  const char* at = strstr(report.get(), "Line number");
  if (report.get()[0] != '\0' && at && strlen(at) >= 12) {
    int wanted = atoi(at + 12);
    OwnedText copy(copyString(tripcmd));
    char* save = nullptr;
    int number = 0;
    for (char* line = strtok_r(copy.get(), "\n", &save); line;
         line = strtok_r(nullptr, "\n", &save)) {
      if (++number == wanted) {
        console('E', "Line generating error = \"%s\" ", line);
        break;
      }
    }
  }
}

int buildTripControlFiles(const char* tripcmd, const char* /*target*/) {
  methodTrace trace("buildTripControlFiles");
  if (!tripcmd) tripcmd = "";
  OwnedText outputName(tempfilename("temp.%d.twadmin"));
  const char* output = outputName.get();
  int rc = buildKey("-S %s  -Q \"\"", twSkeyFile, output);
  if (rc == 0) rc = buildKey("-L %s -P \"\" ", twLkeyFile, output);
  if (rc == 0) rc = buildConfig(output);
  if (rc != 0) return rc;
  logOnly("", "Processing command:");
  logOnly("    ", tripcmd);
  logBlank(1);
  OwnedText policyText(tempfilename("tw.policy.%d"));
  buffer2file(policyText.get(), tripcmd, "\n");
  char cmd[MAINT_BUFF];
  composeCommand(cmd, "/usr/sbin/twadmin -m P -c %s -p %s -e %s >%s 2>&1", local_twConfigFile,
                 local_twPolicyFile, policyText.get(), output);
  rc = runCommand(cmd, LOG_WITH_STATUS);
  if (rc == 0) {
    unlink(policyText.get());
    unlink(output);
  } else {
    showTwadminFailure("Attempt to build tripwire policy file failed. See following error message.",
                       output);
    showPolicyErrorLine(tripcmd, output);
  }
  return rc;
}

int checkTripwireVersion() {
  methodTrace trace("checkTripwireVersion");
  if (tripVersionWarning) return 0;
  tripVersionWarning = 1;
  OwnedText levelText(backtics("/bin/rpm -q tripwire | cut -f2 -d- | tr [:punct:] ' '"));
  const char* level = strip(levelText.get());
  // rpm's answer for a missing package is one line without a hyphen that
  // begins with the word "package"; it passes the pipeline whole.
  if (strncmp(level, "package", 7) == 0 && (level[7] == '\0' || level[7] == ' ')) {
    logAndConsole('E', "Prerequesite package tripwire does not appear to be installed. Exiting.");
    return 1;
  }
  int i1 = 0, i2 = 0, i3 = 0;
  sscanf(level, "%d %d %d", &i1, &i2, &i3);
  OwnedText packageText(backtics("/bin/rpm -q tripwire"));
  const char* package = chomp(packageText.get());
  if (i1 == 1) {
    logAndConsole('W',
                  "%s installed on your system is too old to work with this software. Contact "
                  "ZOR Support.",
                  package);
    exit(1);
  }
  int version = (i1 * 100 + i2) * 100 + i3;
  if (version != 20301) {
    logAndConsole('W',
                  "%s installed on your system may not function properly with this software. "
                  "Contact ZOR Support.",
                  package);
    char line[MAINT_BUFF];
    formatText(line, sizeof line, "    ## level = \"%s\"", level);
    logOnly("", line);
    formatText(line, sizeof line, "i1 = %d  i2 = %d  i3 = %d   version = %d", i1, i2, i3, version);
    logOnly("    ##", line);
  }
  return version == 20301 ? 0 : -1;
}
