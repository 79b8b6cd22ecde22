// Library operations that work on the tool's fixed paths (/tmp/maint_zor,
// the capture file, /var/maint, /etc/inittab, /etc/logrotate.d) or run the
// platform's commands: this program runs as a whole inside a throwaway root
// (tests/e2e/root.sh), with the rpm stand-in tripwire-2.3.1.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "maint.h"

#include <fnmatch.h>
#define EXPECT_GLOB_LOG(glob, text) EXPECT_EQ(0, fnmatch(glob, (text).c_str(), 0)) << (text)

using Lines = std::vector<std::string>;

static std::string pidText() { return std::to_string(getpid()); }

static std::string readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A fresh log for one test, read back with "T " for each record's stamp.
class TempLog {
 public:
  TempLog() : path_("/tmp/test-" + std::to_string(++count_) + ".log") { logFileName(path_.c_str()); }
  ~TempLog() { logFileName(nullptr); }
  Lines lines() const {
    static const std::regex stamp(R"(^\d\d/\d\d/\d\d-\d\d:\d\d:\d\d - )");
    Lines out;
    std::istringstream in(readWhole(path_));
    for (std::string line; std::getline(in, line);) out.push_back(std::regex_replace(line, stamp, "T "));
    return out;
  }
  std::string text() const {
    std::string all;
    for (const std::string& l : lines()) all += l + "\n";
    return all;
  }

 private:
  std::string path_;
  static int count_;
};
int TempLog::count_ = 0;

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

TEST(Backtics, CaptureFileOfAnotherUserIsNotWrittenInto) {
  std::string capture = "/tmp/maint" + pidText() + ".tmp";
  ASSERT_EQ(0, system(("echo planted >" + capture + " && chmod 666 " + capture + " && chown nobody " +
                       capture + " && ln " + capture + " /tmp/planted-copy").c_str()));
  char* out = backtics("echo safe");
  EXPECT_STREQ("safe\n", out);
  free(out);
  EXPECT_EQ("planted\n", readWhole("/tmp/planted-copy"));
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

// /etc/inittab and runlevel 7, on realistic System V tables (tests/data/inittab).

static std::string inittabData(const std::string& rel) {
  return readWhole(std::string(DM_SOURCE_DIR) + "/tests/data/inittab/" + rel);
}
static void installInittab(const std::string& text) {
  std::ofstream("/etc/inittab", std::ios::binary | std::ios::trunc) << text;
}
static std::string inittab() { return readWhole("/etc/inittab"); }

TEST(FixPatternForSed, EscapesEverySlashOnly) {
  const char* cases[][2] = {{":3:initdefault", ":3:initdefault"},
                            {"/usr/sbin/applyVantel.sh", "\\/usr\\/sbin\\/applyVantel.sh"},
                            {"a//b/", "a\\/\\/b\\/"}, {"x.[*]$&\"\\", "x.[*]$&\"\\"}, {"", ""}};
  for (auto& c : cases) {
    char* escaped = fixPatternForSed(c[0]);
    EXPECT_STREQ(c[1], escaped) << c[0];
    free(escaped);
  }
  EXPECT_EQ(nullptr, fixPatternForSed(nullptr));
}

TEST(Inittab, WholeCycleForDefaultRunlevels3And5) {
  for (std::string rl : {"3", "5"}) {
    TempLog log;
    installInittab(inittabData("inittab.rl" + rl));
    testing::internal::CaptureStdout();
    addRunlevel7Definiition();
    addRunlevel7Initdefault();
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(inittabData("rl" + rl + "/prepared"), inittab()) << rl;
    testing::internal::CaptureStdout();
    addRunlevel7Definiition();
    addRunlevel7Initdefault();
    EXPECT_EQ("", testing::internal::GetCapturedStdout());  // only the first prepare inserts
    EXPECT_EQ("Inserting an initdefault line for runlevel 7.\n", said);
    EXPECT_EQ(inittabData("rl" + rl + "/prepared"), inittab()) << rl;
    switchSystemForApply(nullptr);
    EXPECT_EQ(inittabData("rl" + rl + "/apply"), inittab()) << rl;
    EXPECT_EQ(std::stoi(rl), switchSystemToNormal());
    EXPECT_EQ(inittabData("rl" + rl + "/normal"), inittab()) << rl;
    switchSystemForBackoff();
    EXPECT_EQ(inittabData("rl" + rl + "/backoff"), inittab()) << rl;
    EXPECT_EQ(std::stoi(rl), switchSystemToNormal());
    EXPECT_EQ(inittabData("rl" + rl + "/normal"), inittab()) << rl;
    EXPECT_NE(0, access("/etc/inittab.sv1", F_OK));
    std::string text = log.text();
    for (std::string once : std::vector<std::string>{"T Adding definition for runlevel 7 to /etc/inittab\n",
                             "T     Runlevel 7 definition inserted. Filesystem synced.\n",
                             "T Inserting an initdefault line for runlevel 7.\n",
                             "T     New initdefault entry inserted. Filesystem synced.\n",
                             "T >>/usr/bin/sed \"/^id:" + rl + ":initdefault:/ a\\#id:7:initdefault:\" "
                             "/etc/inittab 2>/dev/null >/etc/inittab.sv1\n"}) {
      EXPECT_NE(std::string::npos, text.find(once)) << once;
      EXPECT_EQ(text.find(once), text.rfind(once)) << once;
    }
  }
}

TEST(Inittab, NormalOnPreparedTableFindsNothingToTurnOn) {
  installInittab(inittabData("rl3/prepared"));
  EXPECT_EQ(5, switchSystemToNormal());
  EXPECT_EQ(inittabData("rl3/normal"), inittab());
}

TEST(Inittab, FailingOrOversizedEditsLeaveTheTable) {
  // 117 characters fit the comment command, 118 do not; an uncomment edit
  // takes 118 with its "#"; only the first "#" goes.
  const std::string fits = "b1:7:once:echo boundary " + std::string(93, 'a');
  const std::string tooLong = "b2:7:once:echo boundary " + std::string(94, 'b');
  const std::string hashed = "#b3:7:once:echo hashed " + std::string(95, 'c');
  const std::string hashedTooLong = "#b4:7:once:echo hashed " + std::string(96, 'd');
  const std::string base = inittabData("inittab.rl3");
  auto table = [&](const std::string& a, const std::string& c, const std::string& x) {
    return base + a + "\n" + tooLong + "\n" + c + "\n" + hashedTooLong + "\n" + x + "x9:7:once:echo first\n";
  };
  TempLog log;
  installInittab(table(fits, hashed, "##"));
  EXPECT_EQ(0, comment_inittab_entry("kbrequest", COMMENT));  // its sed fails on the quotes
  EXPECT_EQ(table(fits, hashed, "##"), inittab());
  EXPECT_NE(0, access("/etc/inittab.sv1", F_OK));
  EXPECT_EQ(1, comment_inittab_entry("boundary", COMMENT));
  EXPECT_EQ(table("#" + fits, hashed, "##"), inittab());
  EXPECT_EQ(1, comment_inittab_entry("hashed", UNCOMMENT));
  EXPECT_EQ(table("#" + fits, hashed.substr(1), "##"), inittab());
  EXPECT_EQ(1, comment_inittab_entry("first", UNCOMMENT));
  EXPECT_EQ(table("#" + fits, hashed.substr(1), "#"), inittab());
  EXPECT_EQ(0, comment_inittab_entry("no-such-entry", COMMENT));
  EXPECT_EQ(table("#" + fits, hashed.substr(1), "#"), inittab());
  EXPECT_NE(std::string::npos, log.text().find("T The edit of /etc/inittab failed (rc = 256); "
                                               "/etc/inittab is left unchanged.\n"));
  EXPECT_NE(std::string::npos, log.text().find("T The command to edit /etc/inittab for " + tooLong +
                                               " does not fit its buffer; /etc/inittab is left unchanged.\n"));
}

TEST(Inittab, DefaultEntryOnlyAfterExactlyOneDefault) {
  TempLog log;
  std::string none = std::regex_replace(inittabData("inittab.rl3"), std::regex(".*:initdefault:\n"), "");
  installInittab(none);
  addRunlevel7Initdefault();
  EXPECT_EQ(none, inittab());
  std::string two = std::regex_replace(inittabData("inittab.rl3"), std::regex("id:3:initdefault:\n"),
                                       "id:3:initdefault:\n#id:5:initdefault:\n");
  installInittab(two);
  addRunlevel7Initdefault();
  EXPECT_EQ(two, inittab());
  EXPECT_GLOB_LOG("*T No initdefault entry found in /etc/inittab; no runlevel 7 entry inserted.\n"
                  "*T Several initdefault entries found in /etc/inittab; no runlevel 7 entry inserted.\n*",
                  log.text());
}

TEST(Inittab, ConsolesWithoutSuloginAndConsoleEdits) {
  std::string plain = inittabData("inittab.rl3");
  std::string consoles = std::regex_replace(plain, std::regex("\n([23]):235:"), "\n$1:2357:");
  installInittab(std::regex_replace(plain, std::regex(".*sbin/sulogin\n"), ""));
  addRunlevel7Definiition();
  EXPECT_EQ(std::regex_replace(consoles, std::regex(".*sbin/sulogin\n"), ""), inittab());
  installInittab(plain);
  addVirtualConsole(4);  // runlevels 2345: left alone
  EXPECT_EQ(plain, inittab());
  addVirtualConsole(2);
  addVirtualConsole(2);
  EXPECT_EQ(std::regex_replace(plain, std::regex("\n2:235:"), "\n2:2357:"), inittab());
}

TEST(InittabDeathTest, UncreatableBlockFileEndsTheProcess) {
  testing::FLAGS_gtest_death_test_style = "threadsafe";
  installInittab(inittabData("inittab.rl3"));
  ASSERT_EQ(0, system("rm -rf /tmp/maint_zor && mkdir -m 0700 /tmp/maint_zor && "
                      "mount -t tmpfs -o ro tmpfs /tmp/maint_zor"));
  EXPECT_EXIT(addRunlevel7Definiition(), testing::ExitedWithCode(1),
              "");
  EXPECT_EQ(0, system("umount /tmp/maint_zor"));
  EXPECT_EQ(inittabData("inittab.rl3"), inittab());
}

TEST(Inittab, CurrentRunlevelFromTheRunlevelCommand) {
  // sysvinit's command prints the previous and the current runlevel, or
  // "unknown" with status 1: a small stand-in replaces systemd's.
  const char* cases[][3] = {{"N 5", "0", "5"}, {"3 5", "0", "5"}, {"5 3", "0", "3"},
                            {"unknown", "1", "-1"}, {"N S", "0", "-1"}};
  for (auto& c : cases) {
    std::ofstream("/sbin/runlevel.new") << "#!/bin/sh\necho \"" << c[0] << "\"\nexit " << c[1] << "\n";
    ASSERT_EQ(0, system("chmod 755 /sbin/runlevel.new && mv -f /sbin/runlevel.new /sbin/runlevel"));
    EXPECT_EQ(std::stoi(c[2]), getCurrentRunlevel()) << c[0];
  }
}

// The image filesystem check: trial mounts of real images.
TEST(ImageFilesystemType, Ext3Ext2AndJunk) {
  TempLog log;
  ASSERT_EQ(0, system("mkdir -p /tmp/img && cd /tmp/img && dd if=/dev/zero of=plain.img bs=1M count=8 "
                      "status=none && mke2fs -F -q plain.img && cp plain.img journal.img && tune2fs -j "
                      "journal.img >/dev/null && head -c 4194304 /dev/urandom >junk.img"));
  ASSERT_EQ(0, chdir("/tmp/img"));
  const char* cases[][2] = {{"/tmp/img/plain.img", "ext2"}, {"/tmp/img/journal.img", "ext3"},
                            {"/tmp/img/junk.img", "????"}, {"/tmp/img/none.img", "????"},
                            {"journal.img", "ext3"}};
  for (auto& c : cases) {
    EXPECT_STREQ(c[1], checkImageFilesystemType(c[0], ".")) << c[0];
    EXPECT_NE(0, access("mnt_check_dir", F_OK)) << c[0];
    EXPECT_EQ(0, system(("! losetup -j /tmp/img/" + std::string(c[0]).substr(std::string(c[0]).rfind('/') + 1) +
                         " 2>/dev/null | grep -q .").c_str())) << c[0];
  }
  EXPECT_EQ(0, system("! grep -q mnt_check_dir /proc/self/mountinfo && e2fsck -fn plain.img >/dev/null && "
                      "e2fsck -fn journal.img >/dev/null"));
  std::string text = log.text();
  EXPECT_NE(std::string::npos, text.find("T >>/bin/mount -r -t ext3 /tmp/img/junk.img mnt_check_dir -o loop "
                                         "2>/dev/null\nT >>/bin/mount -r -t ext2 /tmp/img/junk.img "
                                         "mnt_check_dir -o loop 2>/dev/null\n")) << text;
  EXPECT_NE(std::string::npos, text.find(">>/bin/umount mnt_check_dir"));
  ASSERT_EQ(0, chdir("/"));
}
