// Library operations that work on the tool's fixed paths (/tmp/maint_zor,
// the backtics capture file, /var/maint, /etc/logrotate.d) or run the
// platform's commands; this program runs inside a sandbox.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "log_test_util.h"
#include "maint.h"

using Lines = std::vector<std::string>;

static std::string pidText() { return std::to_string(getpid()); }

TEST(Backtics, CapturesStandardOutputOnly) {
  testing::internal::CaptureStdout();
  char* out = backtics("(echo out; echo err >&2; exit 3)");
  std::string console = testing::internal::GetCapturedStdout();
  EXPECT_STREQ("out\n", out);
  EXPECT_EQ("err\n", console);  // the command's errors reach our own output
  EXPECT_EQ(3 << 8, backticsRC);
  free(out);
  struct stat st;
  EXPECT_NE(0, stat(("/tmp/maint" + pidText() + ".tmp").c_str(), &st));

  char* empty = backtics("true");
  ASSERT_NE(nullptr, empty);
  EXPECT_STREQ("", empty);
  EXPECT_EQ(0, backticsRC);
  free(empty);
}

TEST(Backtics, PlantedCaptureFileIsNotFollowed) {
  std::string capture = "/tmp/maint" + pidText() + ".tmp";
  ASSERT_EQ(0, symlink("/etc/hostname-target", capture.c_str()));
  char* out = backtics("echo safe");
  EXPECT_STREQ("safe\n", out);
  free(out);
  struct stat st;
  EXPECT_NE(0, lstat("/etc/hostname-target", &st));
}

TEST(TempFiles, NamesLieInTheToolsDirectory) {
  system("rm -rf /tmp/maint_zor");
  char* name = tempfilename("temp.%d.old");
  EXPECT_EQ("/tmp/maint_zor/temp." + pidText() + ".old", std::string(name));
  free(name);
  struct stat st;
  ASSERT_EQ(0, stat("/tmp/maint_zor", &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  name = tempfilename("/plain");
  EXPECT_STREQ("/tmp/maint_zor/plain", name);
  free(name);
}

TEST(Files, ShellPatternsAndWholeFiles) {
  system("rm -rf /tmp/ft && mkdir -p /tmp/ft && touch /tmp/ft/b.x /tmp/ft/a.x /tmp/ft/c.y");
  EXPECT_EQ(1, alternateFileExists("/tmp/ft/*.x"));
  EXPECT_EQ(0, alternateFileExists("/tmp/ft/*.z"));
  char* found = globFiles("/tmp/ft/*.x", ",");
  EXPECT_STREQ("/tmp/ft/a.x,/tmp/ft/b.x,", found);
  free(found);
  EXPECT_EQ(nullptr, globFiles("/tmp/ft/*.z", ","));

  EXPECT_EQ(nullptr, file2Buffer("/tmp/ft/a.x"));  // empty
  EXPECT_EQ(0, buffer2file("/tmp/ft/out", "a b,,c", " ,"));
  char* text = file2Buffer("/tmp/ft/out");
  EXPECT_STREQ("a\nb\nc\n", text);
  free(text);
  EXPECT_EQ(0, buffer2file("/tmp/ft/out", "kept\n as is", "\n"));
  text = file2Buffer("/tmp/ft/out");
  EXPECT_STREQ("kept\n as is", text);
  free(text);
  EXPECT_EQ(0, buffer2file("/tmp/ft/out", nullptr, "\n"));
  EXPECT_EQ(0, fileSize("/tmp/ft/out"));
  EXPECT_EQ(1, buffer2file("/tmp/nodir/out", "x", "\n"));

  EXPECT_EQ(1, fileExists("/tmp/ft/a.x"));
  EXPECT_EQ(0, fileExists("/tmp/ft"));
  EXPECT_EQ(1, directoryExists("/tmp/ft"));
  symlink("/tmp/ft/a.x", "/tmp/ft/link");
  EXPECT_EQ(1, linkExists("/tmp/ft/link"));
  EXPECT_EQ(1, fileExists("/tmp/ft/link"));
  EXPECT_EQ(0, linkExists("/tmp/ft/a.x"));
}

TEST(Records, CommandLineAndElapsedTime) {
  TempLog log;
  char a[] = "a";
  char b[] = "b";
  char* argv[] = {a, b};
  logCommandLine(2, argv);
  testing::internal::CaptureStdout();
  logAndPrintElapsedTime(1000, 1000 + 3725);
  logAndPrintElapsedTime(5, 5);
  logAndPrintElapsedTime(0, 90061);
  EXPECT_EQ("Elapsed time = 1:02:05 \nElapsed time = 0:00:00 \nElapsed time = 25:01:01 \n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ((Lines{"T Command line issued:", "T     a b ", "T Elapsed time = 1:02:05 ",
                   "T Elapsed time = 0:00:00 ", "T Elapsed time = 25:01:01 "}),
            log.lines());
}

TEST(Records, PackageOfAnExecutable) {
  TempLog log;
  logRPMLevel("no-such-command-here");
  logRPMLevel("sh");
  EXPECT_EQ((Lines{"T Error locating executable: no-such-command-here",
                   "T Executable sh is from RPM file /usr/bin/sh is not owned by any package"}),
            log.lines());
}

TEST(Records, FailedMountListsImageAndMountPoint) {
  TempLog log;
  system("mkdir -p /tmp/fm && head -c 2048 /dev/zero >/tmp/fm/img && chmod 600 /tmp/fm/img");
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  failedMount("/bin/mount ...", 32 << 8, "/tmp/fm/img", "/tmp/fm");
  failedMount("/bin/mount ...", 1 << 8, "/tmp/fm/missing", "/tmp/fm");
  std::string console = testing::internal::GetCapturedStdout();
  setConsole(SCREEN);
  Lines records = log.lines();
  ASSERT_EQ(7u, records.size());
  EXPECT_EQ("T Unable to mount /tmp/fm/img for processing. rc = 32.", records[0]);
  EXPECT_EQ(0u, records[1].find("T I -> -rw------- 1 root root 2.0K "));
  EXPECT_EQ(0u, records[2].find("T D -> drwxr-xr-x "));
  EXPECT_EQ(std::string(72, '#'), records[3]);
  EXPECT_EQ("T Unable to mount /tmp/fm/missing for processing. rc = 1.", records[4]);
  // ls's own complaint goes to the console, not the log.
  EXPECT_EQ(0u, records[5].find("T D -> "));
  EXPECT_NE(std::string::npos, console.find("EUnable to mount /tmp/fm/img for processing. rc = 32.\n\n\n"));
  EXPECT_NE(std::string::npos, console.find("cannot access '/tmp/fm/missing'"));
}

TEST(Records, ListingsDiskSpaceAndProcesses) {
  TempLog log;
  system("rm -rf /tmp/dl && mkdir -p /tmp/dl/sub && touch /tmp/dl/f /tmp/dl/sub/g");
  dirListToLog("  ", "/tmp/dl", 0);
  Lines flat = log.lines();
  EXPECT_EQ(3u, flat.size());
  dirListToLog("  ", "/tmp/dl", 1);
  EXPECT_EQ(7u, log.lines().size());
  for (const std::string& line : log.lines()) EXPECT_EQ(0u, line.find("T   ")) << line;

  TempLog second;
  testing::internal::CaptureStdout();
  logAndPrintDiskSpace(2, 4, "Disk space:");
  std::string console = testing::internal::GetCapturedStdout();
  Lines records = second.lines();
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ("T   Disk space:", records[0]);
  EXPECT_EQ(0u, records[1].find("T     Filesystem"));
  EXPECT_EQ(0u, console.find("  Disk space:\n    Filesystem"));

  TempLog third;
  logRunningProcesses();
  records = third.lines();
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ("T Running processes:", records[0]);
  EXPECT_EQ(0u, records[1].find("T     "));
  EXPECT_NE(std::string::npos, records[1].find("PID TTY"));
  EXPECT_EQ(" ", records.back());
}

TEST(Rotation, StanzaIsWrittenOnceForRoot) {
  system("rm -f /etc/logrotate.d/maint");
  setupLogrotate();
  char* text = file2Buffer("/etc/logrotate.d/maint");
  ASSERT_NE(nullptr, text);
  EXPECT_EQ(0u, std::string(text).find("/var/log/maint/kestro.log {\n      compress\n"));
  free(text);
  buffer2file("/etc/logrotate.d/maint", "operator's own\n", "\n");
  setupLogrotate();
  text = file2Buffer("/etc/logrotate.d/maint");
  EXPECT_STREQ("operator's own\n", text);
  free(text);
}

TEST(Lock, LockFileIsMadeOnceAndKept) {
  system("mkdir -p /tmp/lk && rm -f /tmp/lk/l && printf keep >/tmp/lk/kept && chmod 640 /tmp/lk/kept");
  mode_t old = umask(022);
  getMaintLock("/tmp/lk/l", "test");
  umask(old);
  struct stat st;
  ASSERT_EQ(0, stat("/tmp/lk/l", &st));
  EXPECT_EQ(0700 & ~022, static_cast<int>(st.st_mode & 07777));
  getMaintLock("/tmp/lk/kept", "test");
  ASSERT_EQ(0, stat("/tmp/lk/kept", &st));
  EXPECT_EQ(0640, static_cast<int>(st.st_mode & 07777));
  char* text = file2Buffer("/tmp/lk/kept");
  EXPECT_STREQ("keep", text);
  free(text);
}

TEST(LockDeathTest, UnopenableLockFileEndsTheProcess) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  EXPECT_EXIT(
      {
        setConsole(MBEAN);
        getMaintLock("/tmp/no/such/dir/l", "applyKestro");
      },
      testing::ExitedWithCode(1),
      "");
}

class TripwireControl : public testing::Test {
 protected:
  void SetUp() override {
    system("rm -rf /tmp/tw && mkdir -p /tmp/tw/tree && echo x >/tmp/tw/tree/f");
    buildTripFilenames("/tmp/tw");
  }
};

TEST_F(TripwireControl, NamesUnderTheTarget) {
  EXPECT_STREQ("/tmp/tw/dm.skey", twSkeyFile);
  EXPECT_STREQ("/tmp/tw/dm.lkey", twLkeyFile);
  EXPECT_STREQ("/tmp/tw/dm.db", twDatabaseFile());
  EXPECT_STREQ("/tmp/tw/dm.rpt", twReportFile());
  EXPECT_STREQ("/tmp/tw/dm.policy", twPolicyFile());
  EXPECT_STREQ("/tmp/tw/dm.config", twConfigFile());
}

TEST_F(TripwireControl, KeysAndConfigurationAreMadeOnce) {
  TempLog log;
  EXPECT_EQ(0, buildTripControlFiles("/tmp/tw/tree -> pugsM ;", "/tmp/tw"));
  for (const char* f : {"/tmp/tw/dm.skey", "/tmp/tw/dm.lkey", "/tmp/tw/dm.config",
                        "/tmp/tw/dm.policy"}) {
    EXPECT_EQ(1, fileExists(f)) << f;
  }
  std::string p = pidText();
  EXPECT_EQ((Lines{"T >>/usr/sbin/twadmin -m G -S /tmp/tw/dm.skey  -Q \"\" "
                   ">/tmp/maint_zor/temp." + p + ".twadmin 2>&1 (rc = 0)",
                   "T >>/usr/sbin/twadmin -m G -L /tmp/tw/dm.lkey -P \"\"  "
                   ">/tmp/maint_zor/temp." + p + ".twadmin 2>&1 (rc = 0)",
                   "T >>/usr/sbin/twadmin -m F -c /tmp/tw/dm.config -e /tmp/maint_zor/dm.config." +
                       p + " >/tmp/maint_zor/temp." + p + ".twadmin 2>&1 (rc = 0)",
                   "T Processing command:", "T     /tmp/tw/tree -> pugsM ;", " ",
                   "T >>/usr/sbin/twadmin -m P -c /tmp/tw/dm.config -p /tmp/tw/dm.policy -e "
                   "/tmp/maint_zor/tw.policy." + p + " >/tmp/maint_zor/temp." + p +
                       ".twadmin 2>&1 (rc = 0)"}),
            log.lines());
  EXPECT_EQ(0, fileExists(("/tmp/maint_zor/tw.policy." + p).c_str()));
  EXPECT_EQ(0, fileExists(("/tmp/maint_zor/dm.config." + p).c_str()));

  TempLog again;
  EXPECT_EQ(0, buildTripControlFiles("/tmp/tw/tree -> pugs ;", "/tmp/tw"));
  Lines second = again.lines();
  ASSERT_EQ(4u, second.size());  // the policy alone is compiled again
  EXPECT_EQ(0u, second[3].find("T >>/usr/sbin/twadmin -m P "));
}

TEST_F(TripwireControl, KeyFileNameHeldByADirectoryCountsAsMissing) {
  TempLog log;
  mkdir("/tmp/tw/dm.skey", 0755);
  testing::internal::CaptureStdout();
  int rc = buildTripControlFiles("/tmp/tw/tree -> pugsM ;", "/tmp/tw");
  std::string console = testing::internal::GetCapturedStdout();
  EXPECT_NE(0, rc);
  EXPECT_EQ(0u, console.find("Attempt to build tripwire control files failed. See following "
                             "error message.\n    "));
  EXPECT_EQ(1, fileExists(("/tmp/maint_zor/temp." + pidText() + ".twadmin").c_str()));
}

TEST_F(TripwireControl, PolicySyntaxErrorNamesTheLine) {
  TempLog log;
  const std::string rules = "/tmp/tw/tree -> pugsM ;\n/tmp/tw/a -> p ;\n";
  const std::string tail = "/tmp/tw/b -> -> p ;\n/tmp/tw/c -> p ;\n";
  testing::internal::CaptureStdout();
  int rc = buildTripControlFiles((rules + tail).c_str(), "/tmp/tw");
  std::string console = testing::internal::GetCapturedStdout();
  EXPECT_NE(0, rc);
  EXPECT_EQ(0u, console.find("Attempt to build tripwire policy file failed. See following error "
                             "message.\n"));
  EXPECT_NE(std::string::npos, console.find("Line generating error = \"/tmp/tw/b -> -> p ;\" \n"))
      << console;
  // The temporary files stay for the operator.
  EXPECT_EQ(1, fileExists(("/tmp/maint_zor/tw.policy." + pidText()).c_str()));

  // twadmin counts physical lines while the error line is picked among the
  // non-empty ones: after a blank line the next rule is shown.
  testing::internal::CaptureStdout();
  buildTripControlFiles((rules + "\n" + tail).c_str(), "/tmp/tw");
  console = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, console.find("Line generating error = \"/tmp/tw/c -> p ;\" \n"))
      << console;
}

TEST(TripwireVersion, ExpectedVersionIsQuietAndCheckedOnce) {
  TempLog log;
  chdir("/tmp");
  tripVersionWarning = 0;
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, checkTripwireVersion());
  system("rpm -e --nodeps tripwire >/dev/null 2>&1");
  EXPECT_EQ(0, checkTripwireVersion());  // a second call runs no command
  tripVersionWarning = 0;
  EXPECT_EQ(1, checkTripwireVersion());
  EXPECT_EQ("Prerequesite package tripwire does not appear to be installed. Exiting.\n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ((Lines{"T Prerequesite package tripwire does not appear to be installed. Exiting."}),
            log.lines());
}
