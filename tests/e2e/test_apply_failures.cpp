// End-to-end apply runs that fail, one per row of the failure tables that a
// real platform can provoke: the messages on the console and in the log,
// the "Failed" stanza, and what the run leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "apply_fixture.h"

using Lines = std::vector<std::string>;

static const std::string START = "\nStarting apply phase for client POS image maintenance.\n";
static const std::string OLD = "/tftpboot/image/pos-2.1-20060105";
static const std::string INPROCESS = "/tftpboot/image/pos-2.2-20060301.ImageInProcess";

// The records after the first one equal to `anchor`.
static Lines after(const Lines& records, const std::string& anchor) {
  auto at = std::find(records.begin(), records.end(), anchor);
  if (at == records.end()) return {"<no record " + anchor + ">"};
  return Lines(at + 1, records.end());
}

static std::string lastStatus(const ToolRun& run) {
  Lines s = lines(run.stanzas);
  if (s.size() < 3) return "<no stanza>";
  return s[s.size() - 3] + "|" + s[s.size() - 2].substr(0, s[s.size() - 2].find(" - "));
}

static const std::string FAILED_STANZA = "/var/maint/downloads/b.tar {|   Applied:   Failed";

// A failed run that cleaned up: no working directory, no mount point, no
// mount and no loop device; the old image and `extra` remain.
static void expectCleanedUp(const ToolRun& run, Lines extra = {}) {
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(FAILED_STANZA, lastStatus(run));
  Lines expected = {"/tmp/maint_zor"};
  expected.insert(expected.end(), extra.begin(), extra.end());
  expected.push_back(OLD);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, run.leftovers);
  EXPECT_EQ("", run.leaks);
}

TEST_F(ApplyRuns, MissingControlFiles) {
  struct Case {
    const char* member;
    const char* message;
  } cases[] = {
      {"maint_cmd_bash1",
       " Fatal error: Maintenance control file maint_cmd_bash1 was not in the tar file."},
      {"maintData", "Fatal error: Maintenance control file maintData was not in the tar file."},
      {"tw.maint_db", "Fatal error: Maintenance control file tw.maint_db was not in the tar file."},
  };
  for (const Case& c : cases) {
    ToolRun run = apply("-M b", std::string("without ") + c.member);
    EXPECT_EQ(START + "E" + c.message + "\n\n\n", run.console) << c.member;
    EXPECT_EQ((Lines{std::string("T ") + c.message, DELIMITER}),
              after(runRecords(run), "T >>/bin/tar -xjf W/control.tar.bz2 2>/dev/null"))
        << c.member;
    expectCleanedUp(run);
  }
}

TEST_F(ApplyRuns, MaintenanceDataThatCannotBeUsed) {
  struct Case {
    const char* edit;
    const char* message;
  } cases[] = {
      {"drop_data newImageInodes",
       "Fatal error: The maintenance data file maintData does not give newImageInodes."},
      {"set_data newImageSize ''", "Fatal error: The maintenance data item newImageSize is empty."},
      {"set_data newImageSize -5",
       "Fatal error: The maintenance data item newImageSize must be a positive decimal number, "
       "not \"-5\"."},
      {"set_data newImageInodes 12x",
       "Fatal error: The maintenance data item newImageInodes must be a positive decimal "
       "number, not \"12x\"."},
      {"set_data newImageName ../../etc/passwd",
       "Fatal error: The maintenance data item newImageName must be a plain file name, not "
       "\"../../etc/passwd\"."},
  };
  for (const Case& c : cases) {
    ToolRun run = apply("-M b", c.edit);
    EXPECT_EQ(START + "E" + c.message + "\n\n\n", run.console) << c.edit;
    EXPECT_EQ((Lines{std::string("T ") + c.message, DELIMITER}),
              after(runRecords(run), "T >>/bin/tar -xjf W/control.tar.bz2 2>/dev/null"))
        << c.edit;
    expectCleanedUp(run);
  }
}

TEST_F(ApplyRuns, ShellCharactersNeverReachACommand) {
  ToolRun run = apply("-M b", "set_data newImageName 'pos 2.2'");
  std::string message =
      "Fatal error: The new image name \"/tftpboot/image/pos 2.2.ImageInProcess\" holds "
      "characters that a shell command must not be given. Exiting.";
  EXPECT_EQ(START + "E" + message + "\n\n\n", run.console);
  EXPECT_EQ((Lines{"T Creating and zeroing file file to hold the new image.", "T " + message,
                   DELIMITER}),
            after(runRecords(run), "T >>/bin/mount -r " + OLD +
                                       " W/oldimage -o loop >W/temp.file 2>&1"));
  expectCleanedUp(run);

  // A missing old image whose name holds a blank fails as missing.
  run = apply("-M b", "set_data oldImageName ' x'");
  EXPECT_EQ(START +
                "EFatal error. Old image /tftpboot/image/ x does not exist. New image can not be "
                "created.\n\n\n",
            run.console);
  expectCleanedUp(run);
}

TEST_F(ApplyRuns, OldImageMissingUnderBothNames) {
  ToolRun run = apply("-M b", "mv " + OLD + " /tftpboot/image/other-2.1");
  std::string message = "Fatal error. Old image " + OLD +
                        " does not exist. New image can not be created.";
  EXPECT_EQ(START + "E" + message + "\n\n\n", run.console);
  EXPECT_EQ((Lines{"T New Image Name   = /tftpboot/image/pos-2.2-20060301", "T " + message,
                   DELIMITER}),
            after(runRecords(run), "T Old Image Name   = " + OLD));
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(FAILED_STANZA, lastStatus(run));
}

TEST_F(ApplyRuns, UncompressFailure) {
  // Only the new name is gzipped: the plain old image goes to gunzip.
  ToolRun run = apply("-M b", "set_data newImageName pos-2.2-20060301.gz");
  std::string message = "Attempt to uncompress " + OLD + " failed. Fatal error. rc = 256.";
  EXPECT_EQ(START + "E" + message + "\n\n", run.console);
  Lines log = logLines(run.log);
  auto at = std::find(log.begin(), log.end(), "T " + message);
  ASSERT_NE(log.end(), at);
  EXPECT_EQ((Lines{"T     ", "T     gzip: " + OLD + ": not in gzip format", "", DELIMITER}),
            Lines(at + 1, log.end()));
  EXPECT_EQ(FAILED_STANZA, lastStatus(run));
}

TEST_F(ApplyRuns, OldImageThatDoesNotMount) {
  ToolRun run = apply("-M b", "head -c 1048576 /dev/zero >" + OLD);
  EXPECT_NE(std::string::npos,
            run.console.find("EUnable to mount " + OLD + " for processing. rc = 32.\n\n\n"));
  Lines tail = after(runRecords(run),
                     "T >>/bin/mount -r " + OLD + " W/oldimage -o loop >W/temp.file 2>&1");
  ASSERT_EQ(4u, tail.size());
  EXPECT_EQ("T Unable to mount " + OLD + " for processing. rc = 32.", tail[0]);
  EXPECT_TRUE(std::regex_match(tail[1], std::regex("T I -> -rw-r--r-- 1 root root 1.0M .* " + OLD)))
      << tail[1];
  EXPECT_TRUE(std::regex_match(tail[2], std::regex("T D -> drwxr-xr-x .* W/oldimage"))) << tail[2];
  EXPECT_EQ(DELIMITER, tail[3]);
  expectCleanedUp(run);
}

TEST_F(ApplyRuns, NewImageFileCannotBeCreated) {
  ToolRun run =
      apply("-M b",
            "mkdir /tmp/keep && mv /tftpboot/image/* /tmp/keep/ && "
            "mount -t tmpfs -o size=10m tmpfs /tftpboot/image && mv /tmp/keep/* /tftpboot/image/",
            "umount /tftpboot/image");
  std::string message = "Attempt to create image file for new image failed. Success.";
  EXPECT_EQ(START + "E" + message + "\n\n\n", run.console);
  EXPECT_EQ((Lines{"T " + message, DELIMITER}),
            after(runRecords(run), "T >>/bin/dd if=/dev/zero of=" + INPROCESS +
                                       " bs=1M count=16 >W/temp.file 2>&1"));
  Lines log = logLines(run.log);
  EXPECT_NE(log.end(), std::find_if(log.begin(), log.end(), [](const std::string& l) {
              return l.find("No space left on device") != std::string::npos;
            }));
  EXPECT_EQ(FAILED_STANZA, lastStatus(run));
}

TEST_F(ApplyRuns, NewImageCannotBeFormatted) {
  ToolRun run = apply("-M b", "set_data newImageInodes 999999999");
  std::string message = "Attempt to format image file for new image failed. Success.";
  EXPECT_EQ(START + "E" + message + "\n\n\n", run.console);
  EXPECT_EQ(message, logText(lines(run.log)[lines(run.log).size() - 2]));
  // The partly built image stays until the next run's start removes it.
  expectCleanedUp(run, {INPROCESS});
}

TEST_F(ApplyRuns, JournalAndCopyFailures) {
  // A 1 MB filesystem has no room for a journal (a warning) nor for the
  // old tree once it holds a 2 MB file (fatal).
  ToolRun run = apply("-M b", "set_data newImageSize 1\nset_data newImageInodes 64\n"
                              "set_data newImageFStype ext3\n"
                              "mkdir /tmp/big && mount -o loop " + OLD + " /tmp/big && "
                              "head -c 2097152 /dev/urandom >/tmp/big/big && umount /tmp/big");
  std::string warning = "Attempt to add a filesystem journal to the image file " + INPROCESS +
                        " failed. Success.";
  std::string error =
      "Fatal Error: Attempt to copy old image contents to /tftpboot/image/zor_image failed. "
      "Success.";
  EXPECT_NE(std::string::npos, run.console.find("W" + warning + "\n"));
  EXPECT_NE(std::string::npos, run.console.find("E" + error + "\n\n\n"));
  EXPECT_NE(std::string::npos, run.errors.find("No space left on device"));
  Lines tail = after(runRecords(run), "T >>/sbin/tune2fs -j " + INPROCESS + " >W/temp.file 2>&1");
  ASSERT_EQ(5u, tail.size());
  EXPECT_EQ("T " + warning, tail[0]);
  EXPECT_EQ("T >>/bin/mount " + INPROCESS + " /tftpboot/image/zor_image -o loop >W/temp.file 2>&1",
            tail[1]);
  EXPECT_EQ("T >>/bin/cp -a W/oldimage/* /tftpboot/image/zor_image", tail[2]);
  EXPECT_EQ("T " + error, tail[3]);
  EXPECT_EQ(DELIMITER, tail[4]);
  expectCleanedUp(run, {INPROCESS});
}

TEST_F(ApplyRuns, PayloadThatCannotBeUnpacked) {
  ToolRun run = apply("-M b", "without maint.tar.bz2");
  std::string message = "Attempt to apply maintenance to image failed. Success.";
  EXPECT_EQ(START + "E" + message + "\n\n\n", run.console);
  Lines tail = after(runRecords(run), "T >>/bin/tar --same-owner -xpjf W/maint.tar.bz2 >W/temp.file 2>&1");
  ASSERT_GE(tail.size(), 3u);
  EXPECT_EQ("T " + message, tail[0]);
  EXPECT_TRUE(std::regex_match(
      tail[1], std::regex("T    tar -> .*W/maint.tar.bz2: Cannot open: No such file or directory")))
      << tail[1];
  EXPECT_EQ(DELIMITER, tail.back());
  expectCleanedUp(run, {INPROCESS});
}

TEST_F(ApplyRuns, CheckerControlFilesCannotBeBuilt) {
  ToolRun run = apply("-M b", "mkdir -p /var/maint/dm.skey");
  EXPECT_NE(std::string::npos,
            run.console.find("EAttempt to build tripwire control files failed. See following "
                             "error message.\nE    "));
  EXPECT_TRUE(std::regex_search(run.console, std::regex("IElapsed time = 0:00:\\d\\d \n\n\n$")));
  Lines tail = after(runRecords(run), "T Running tripwire on newly created image to validate "
                                      "maintenance apply.");
  ASSERT_EQ(3u, tail.size());
  EXPECT_TRUE(std::regex_match(
      tail[0], std::regex("T >>/usr/sbin/twadmin -m G -S /var/maint/dm.skey  -Q \"\" "
                          ">/tmp/maint_zor/temp.P.twadmin 2>&1 \\(rc = [1-9][0-9]*\\)")))
      << tail[0];
  EXPECT_TRUE(std::regex_match(tail[1], std::regex("T Elapsed time = 0:00:\\d\\d ")));
  EXPECT_EQ(DELIMITER, tail[2]);
  // The checker's scratch output stays for the operator to read.
  expectCleanedUp(run, {INPROCESS, "/tmp/maint_zor/temp." + runPid(run) + ".twadmin"});
}

TEST_F(ApplyRuns, CheckerNotInstalled) {
  ToolRun run = apply("-M b", "", "", "plain", "none");
  std::string message = "Prerequesite package tripwire does not appear to be installed. Exiting.";
  EXPECT_EQ(START + "E" + message + "\n\n\n", run.console);
  EXPECT_EQ((Lines{"T " + message, DELIMITER}),
            after(runRecords(run), "T Error locating executable: applyKestro"));
  expectCleanedUp(run);
}

TEST_F(ApplyRuns, CheckerTooOld) {
  ToolRun run = apply("-M b", "", "", "plain", "1.3.1");
  std::string message =
      "tripwire-1.3.1-2.noarch installed on your system is too old to work with this software. "
      "Contact ZOR Support.";
  EXPECT_EQ(START + "W" + message + "\n", run.console);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ((Lines{"T " + message}), after(runRecords(run), "T Error locating executable: applyKestro"));
  EXPECT_FALSE(run.stanzaFile);
}

TEST_F(ApplyRuns, CheckerOfAnotherVersionWarnsAndGoesOn) {
  ToolRun run = apply("-M b", "", "", "plain", "2.4.0");
  std::string message =
      "tripwire-2.4.0-2.noarch installed on your system may not function properly with this "
      "software. Contact ZOR Support.";
  EXPECT_EQ(0, run.status);
  EXPECT_EQ(0u, run.console.find(START + "W" + message + "\nITotal files in image: 37"));
  Lines log = logLines(run.log);
  auto at = std::find(log.begin(), log.end(), "T " + message);
  ASSERT_NE(log.end(), at);
  EXPECT_EQ("T     ## level = \"2 4 0\"", *(at + 1));
  EXPECT_EQ("T     ##i1 = 2  i2 = 4  i3 = 0   version = 20400", *(at + 2));
}

TEST_F(ApplyRuns, NewImageThatCannotBeUnmounted) {
  // The fix script detaches the mount: the later unmount fails and nothing
  // is left mounted.
  ToolRun run = apply("-M b", "set_script maint_cmd_bash2 'umount -l /tftpboot/image/zor_image'");
  std::string message = "Unable to unmount image from /tftpboot/image/zor_image. rc = 8192.";
  EXPECT_EQ(START + "W" + message + "\n\n\n", run.console);
  EXPECT_EQ((Lines{"T " + message, DELIMITER}),
            after(runRecords(run), "T >>/bin/umount /tftpboot/image/zor_image  >W/temp.file 2>&1"));
  // The image is never checked, compressed or put in place.
  expectCleanedUp(run, {INPROCESS});
}

// Installs, in the sandbox only, a wrapper over a platform command that
// runs the real command and then does `after` (bash, with the command's
// arguments in "$@"); the wrapper keeps the command's exit status.
static std::string afterCommand(const std::string& path, const std::string& after) {
  return "cp -p " + path + " /tmp/real-command && cat >/tmp/wrapper <<'EOF'\n"
         "#!/bin/bash\n"
         "/tmp/real-command \"$@\"; rc=$?\n" +
         after +
         "\nexit $rc\nEOF\n"
         "chmod 755 /tmp/wrapper && mount --bind /tmp/wrapper " +
         path + "\n";
}

TEST_F(ApplyRuns, OldImageThatCannotBeUnmounted) {
  // When the copy has run, a process keeps its working directory in the
  // old image for two seconds: the run's unmount finds the mount busy, and
  // the clean-up, trying again, unmounts it once the process has gone.
  ToolRun run = apply(
      "-M b", afterCommand("/usr/bin/cp",
                           "for a; do case $a in */oldimage/*)\n"
                           "  (cd \"${a%/oldimage/*}/oldimage\" && touch /tmp/held && exec sleep 2) "
                           "</dev/null >/dev/null 2>&1 &\n"
                           "  while [ ! -e /tmp/held ]; do sleep 0.01; done; break;;\n"
                           "esac; done"));
  std::string pid = runPid(run);
  std::string oldimage = "/tmp/maint_zor/maint" + pid + "/oldimage";
  std::string message = "Fatal Error: Unable to unmount " + OLD + " from " + oldimage + ".";
  // The return-code line: the literal, one more blank, the text and a stop.
  std::string code = "       Return code:   rc = 8192.";
  EXPECT_EQ(START + "E" + message + "\nE" + code + "\n\n\n", run.console);
  Lines log = logLines(run.log);
  auto at = std::find(log.begin(), log.end(), "T " + message);
  ASSERT_NE(log.end(), at);
  EXPECT_EQ((Lines{"T " + code, DELIMITER}), Lines(at + 1, log.end()));
  EXPECT_NE(std::string::npos, run.log.find("    umount: " + oldimage + ": target is busy."))
      << run.log;
  expectCleanedUp(run, {INPROCESS});
}

TEST_F(ApplyRuns, NewImageThatDoesNotMount) {
  // The new image's filesystem is made and then its superblock wiped, so
  // the real mount of the new image fails.
  ToolRun run = apply(
      "-M b", afterCommand("/sbin/mke2fs",
                           "dd if=/dev/zero of=\"${@: -1}\" bs=1024 seek=1 count=1 conv=notrunc "
                           "2>/dev/null"));
  std::string message = "Unable to mount " + INPROCESS + " for processing. rc = 32.";
  EXPECT_EQ(START + "E" + message + "\n\n\n", run.console);
  Lines tail = after(runRecords(run), "T >>/bin/mount " + INPROCESS +
                                          " /tftpboot/image/zor_image -o loop >W/temp.file 2>&1");
  ASSERT_EQ(4u, tail.size());
  EXPECT_EQ("T " + message, tail[0]);
  EXPECT_TRUE(std::regex_match(tail[1], std::regex("T I -> -rwxr-xr-x 1 root root 16M .* " + INPROCESS)))
      << tail[1];
  EXPECT_TRUE(std::regex_match(tail[2], std::regex("T D -> drwxr-xr-x .* /tftpboot/image/zor_image")))
      << tail[2];
  EXPECT_EQ(DELIMITER, tail[3]);
  expectCleanedUp(run, {INPROCESS});
}
