// bundle_builder_verify.cpp - the verification of a finished bundle: an
// apply run of it with applyKestro in a throwaway root that holds a copy of
// the old image in /tftpboot/image, and as keyring the signer's public key
// (none when the bundle is not signed).  The run must end "OK", check as many
// objects as the built image holds and find no violation.
//
// The outcome is read from what the run records in the same words whatever
// the operator's language: the status word of its stanza and the counts in
// its log.  Its console is copied into the builder's log, which is kept in
// English, so the run itself speaks English (LC_ALL=C); the operator sees
// only the builder's own, translated, lines.
//
// applyKestro reads the checker's version from rpm.  Where rpm knows no
// tripwire package (Debian's tripwire is not an rpm), the throwaway root
// gets a files-less stand-in, tripwire-2.3.1-2.noarch, built there with
// rpmbuild from the recipe below and registered with "rpm -i --justdb".
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "bundle_builder.h"
#include "maint.h"
#include "owned.h"
#include "signature.h"

// Set by the parent from the build step before the verification starts.
long bbExpectedObjects = -1;

static const char* const STANDIN_RECIPE =
    "Name: tripwire\n"
    "Version: 2.3.1\n"
    "Release: 2\n"
    "Summary: Registry entry for the tripwire integrity checker\n"
    "License: GPL-2.0-or-later\n"
    "BuildArch: noarch\n"
    "\n"
    "%description\n"
    "Records the installed tripwire version for applyKestro; carries no files.\n"
    "\n"
    "%files\n";

static const char* const VERIFY_OUT = "/tmp/verify.out";

// Registers the stand-in unless rpm already knows a tripwire package.
static void provideTripwirePackage() {
  OwnedText answer(backtics("/bin/rpm -q tripwire"));
  bool missing = backticsRC != 0 || strstr(answer.get(), "not installed") != nullptr;
  if (!missing) return;
  logOnly("", "rpm knows no tripwire package: registering a files-less stand-in.");
  if (mkdir("/tmp/standin", 0700) != 0) {
    bbFail("Fatal error: Unable to create working directory %s.", "/tmp/standin", strerror(errno));
  }
  {
    // Closed before rpmbuild reads it.
    OwnedFile f(fopen("/tmp/standin/tripwire.rpmbuild", "w"));
    if (!f)
      bbFail("Fatal error: Unable to write %s.", "/tmp/standin/tripwire.rpmbuild", strerror(errno));
    fputs(STANDIN_RECIPE, f.get());
  }
  bbRunOrFail(
      "/usr/bin/rpmbuild -bb --quiet --define '_topdir /tmp/standin/top' "
      "/tmp/standin/tripwire.rpmbuild >/tmp/verify.out 2>&1",
      VERIFY_OUT,
      "Fatal error: Building the rpm stand-in for tripwire failed (%s); is rpmbuild installed?");
  bbRunOrFail(
      "/bin/rpm -i --justdb --nodeps "
      "/tmp/standin/top/RPMS/noarch/tripwire-2.3.1-2.noarch.rpm >/tmp/verify.out 2>&1",
      VERIFY_OUT, "Fatal error: Registering the rpm stand-in for tripwire failed (%s).");
}

// What follows the last `key` in `text` after blanks: the characters of
// `keep` when it is given, else up to a blank or line end; "" without `key`.
static std::string lastValueAfter(const char* text, const char* key, const char* keep) {
  std::string value;
  for (const char* at = text ? strstr(text, key) : nullptr; at; at = strstr(at + 1, key)) {
    const char* start = at + strlen(key);
    while (*start == ' ') ++start;
    value.assign(start, keep ? strspn(start, keep) : strcspn(start, " \n"));
  }
  return value;
}

// The count after the last `key` in the log, or -1.
static long lastCount(const char* log, const char* key) {
  std::string digits = lastValueAfter(log, key, "0123456789");
  return digits.empty() ? -1 : strtol(digits.c_str(), nullptr, 10);
}

// With --sign, the verifying run must have found the signature good with
// the signer's key (its log says so), not merely run without a keyring.
static void requireCheckedSignature() {
  if (build.signKey.empty()) return;
  OwnedText log(file2Buffer(APPLY_LOG_FILE));
  std::string verified =
      std::string(" verified with key ") + KEYRING_DIR + "/" + SIGNER_KEY_NAME + ".";
  if (!log || !strstr(log.get(), verified.c_str())) {
    bbFail("Fatal error: The verifying apply run did not check the bundle's signature. Exiting.");
  }
  logOnly("", "The verifying apply run found the bundle's signature good.");
}

void verifyInSandbox() {
  methodTrace trace("verifyInSandbox");
  logAndConsole('I', "Verifying the bundle with an apply run in a throwaway root.");
  std::string bundleName = build.output.substr(build.output.rfind('/') + 1);
  char cmd[MAINT_BUFF];
  std::string out = bbPath("temp.file");
  composeCommand(cmd, "/bin/cp %s %s/vimage/%s >%s 2>&1", build.oldImage.c_str(),
                 build.work.c_str(), build.oldName.c_str(), out.c_str());
  bbRunOrFail(cmd, out.c_str(),
              "Fatal error: Copying the old image for the verification failed (%s).");
  composeCommand(cmd, "/bin/cp %s/bundle.tar %s/vtmp/%s >%s 2>&1", build.work.c_str(),
                 build.work.c_str(), bundleName.c_str(), out.c_str());
  bbRunOrFail(cmd, out.c_str(),
              "Fatal error: Copying the bundle for the verification failed (%s).");
  if (!build.signKey.empty()) {
    composeCommand(cmd, "/bin/cp %s/bundle.tar.sig %s/vtmp/%s.sig >%s 2>&1", build.work.c_str(),
                   build.work.c_str(), bundleName.c_str(), out.c_str());
    bbRunOrFail(cmd, out.c_str(),
                "Fatal error: Copying the signature for the verification failed (%s).");
  }

  std::vector<RootBind> binds;
  binds.push_back(RootBind{bbPath("vimage"), IMAGE_DIR, false});
  binds.push_back(RootBind{build.applyKestro, build.applyKestro, true});
  binds.push_back(RootBind{bbPath("vkeys"), KEYRING_DIR, true});
  enterPrivateRoot(bbPath("vroot"), binds, bbPath("vtmp"));
  if (chdir("/tmp") != 0) bbFail("Fatal error: Unable to change to /tmp.");
  // A lock file, a log and a stanza file of the throwaway root's own: the
  // builder holds the host's lock, and the records read below must be this
  // run's alone.
  unlink(LOCK_FILE);
  unlink(APPLY_LOG_FILE);
  unlink(STANZA_FILE);
  provideTripwirePackage();

  composeCommand(cmd, "LC_ALL=C %s -M /tmp/%s >/tmp/apply.out 2>&1", build.applyKestro.c_str(),
                 bundleName.c_str());
  int rc = runCommand(cmd);
  logOnly("", "Console of the verifying apply run:");
  tmpfileToLog("    ", "/tmp/apply.out");
  OwnedText log(file2Buffer(APPLY_LOG_FILE));
  long files = lastCount(log.get(), "Total files in image:");
  long errors = lastCount(log.get(), "Total errors:");
  OwnedText stanzas(file2Buffer(STANZA_FILE));
  std::string status = lastValueAfter(stanzas.get(), "Applied:", nullptr);

  char a[32];
  char b[32];
  if (rc != 0 || status != "OK") {
    logOnly("", "Log of the verifying apply run:");
    tmpfileToLog("    ", APPLY_LOG_FILE);
    snprintf(a, sizeof a, "%d", rc);
    bbFail(
        "Fatal error: The verifying apply run did not end OK (rc = %s, status \"%s\"). "
        "Exiting.",
        a, status.c_str());
  }
  if (files != bbExpectedObjects) {
    snprintf(a, sizeof a, "%ld", files);
    snprintf(b, sizeof b, "%ld", bbExpectedObjects);
    bbFail(
        "Fatal error: The verifying apply run checked %s objects; the built image holds %s. "
        "Exiting.",
        a, b);
  }
  if (errors != 0) {
    snprintf(a, sizeof a, "%ld", errors);
    bbFail("Fatal error: The verifying apply run found %s violations. Exiting.", a);
  }
  requireCheckedSignature();
  snprintf(a, sizeof a, "%ld", files);
  logAndConsole('I', "The verifying apply run ended OK: %s objects, no violations.", a);
}
