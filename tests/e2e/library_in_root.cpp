// Library operations on the tool's fixed paths (/tmp/maint_zor, the capture
// file, /etc/inittab) or with the platform's real commands (ls, df, ps, loop
// mounts, twadmin, tripwire, twprint) that no run of the commands reaches:
// this program runs as a whole inside a throwaway root (tests/e2e/root.sh).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <regex>

#include "maint.h"
#include "root.h"

namespace {

int sh(const std::string& command) { return system(command.c_str()); }
std::string pid() { return std::to_string(getpid()); }
bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
std::string captured(const std::function<void()>& act) {
  testing::internal::CaptureStdout();
  act();
  return testing::internal::GetCapturedStdout();
}
std::string taken(char* text) {  // the library's heap text, freed
  std::string copy = text ? text : "(null)";
  free(text);
  return copy;
}

// A fresh log for one test, read back with "T " for each record's stamp.
struct TempLog {
  std::string path = "/tmp/test-" + std::to_string(++count) + ".log";
  TempLog() { logFileName(path.c_str()); }
  ~TempLog() { logFileName(nullptr); }
  std::string text() const { return stamped(readFile(path)); }
  static inline int count = 0;
};

}  // namespace

// The capture file: standard output only, and never one planted by another user.
TEST(Backtics, CapturesStandardOutputIntoAFileNoOneElseHolds) {
  char* out = nullptr;
  EXPECT_EQ("err\n", captured([&] { out = backtics("(echo out; echo err >&2; exit 3)"); }));
  EXPECT_EQ("out\n", taken(out));
  EXPECT_EQ(3 << 8, backticsRC);
  const std::string capture = "/tmp/maint" + pid() + ".tmp";
  ASSERT_EQ(0, symlink("/etc/planted-target", capture.c_str()));
  EXPECT_EQ("safe\n", taken(backtics("echo safe")));
  EXPECT_FALSE(exists("/etc/planted-target") || exists(capture));
  ASSERT_EQ(0, sh("echo planted >" + capture + " && chmod 666 " + capture + " && chown nobody " + capture +
                  " && ln " + capture + " /tmp/planted-copy"));
  EXPECT_EQ("", taken(backtics("true")));
  EXPECT_EQ("planted\n", readFile("/tmp/planted-copy"));
}

// What the apply runs do not reach: shell patterns, links, line splitting.
TEST(Files, ShellPatternsLinksAndLineSplitting) {
  sh("mkdir /tmp/ft && touch /tmp/ft/b.x /tmp/ft/a.x /tmp/ft/c.y && ln -s a.x /tmp/ft/link");
  EXPECT_EQ("/tmp/ft/a.x,/tmp/ft/b.x,", taken(globFiles("/tmp/ft/*.x", ",")));
  EXPECT_EQ("(null)", taken(globFiles("/tmp/ft/*.z", ",")));
  int found[] = {alternateFileExists("/tmp/ft/*.x"), alternateFileExists("/tmp/ft/*.z"), fileExists("/tmp/ft"),
                 directoryExists("/tmp/ft"), linkExists("/tmp/ft/link"), fileExists("/tmp/ft/link"),
                 linkExists("/tmp/ft/a.x")};
  EXPECT_EQ((std::vector<int>{1, 0, 0, 1, 1, 1, 0}), std::vector<int>(found, found + 7));
  EXPECT_EQ(0, buffer2file("/tmp/ft/out", "a b,,c", " ,"));
  EXPECT_EQ("a\nb\nc\n", taken(file2Buffer("/tmp/ft/out")));
  EXPECT_EQ(1, buffer2file("/tmp/nodir/out", "x", "\n"));
}

// Diagnostic records never run a command cut to fit its buffer: an
// executable at the cut path is not found, the cut listing is left out.
TEST(Diagnostics, CommandsCutToFitTheirBufferAreNotRun) {
  TempLog log;
  const std::string dir = "/tmp/" + std::string(200, 'a'), exec = dir + "/" + std::string(100, 'b');
  ASSERT_EQ(0, sh("mkdir " + dir + " && install -m 755 /dev/null " + exec.substr(0, 293)));
  logRPMLevel(exec.c_str());
  captured([&] { failedMount("", 32 << 8, exec.c_str(), dir.c_str()); });
  const std::string text = log.text();  // records are cut to the log's line length
  EXPECT_EQ(0u, text.find("T Error locating executable: /tmp/aaa")) << text;
  EXPECT_EQ(std::string::npos, text.find("I -> ")) << text;
  EXPECT_NE(std::string::npos, text.find("\nT D -> d")) << text;
}

// Records of the running system that the library offers and no command
// writes today: directory listings, the disk space, the processes.
TEST(Records, ListingsDiskSpaceAndProcesses) {
  ASSERT_EQ(0, sh("mkdir -p /tmp/dl/sub && touch /tmp/dl/f /tmp/dl/sub/g"));
  for (int recurse : {0, 1}) {
    TempLog log;
    dirListToLog("  ", "/tmp/dl", recurse);
    std::vector<std::string> listed = lines(log.text());
    EXPECT_EQ(recurse ? 4u : 3u, listed.size());
    for (const std::string& line : listed) EXPECT_GLOB("T   [-d]rw* /tmp/dl*", line);
  }
  TempLog log;
  EXPECT_GLOB("  Disk space:\n    Filesystem *", captured([] { logAndPrintDiskSpace(2, 4, "Disk space:"); }));
  logRunningProcesses();
  EXPECT_GLOB("T   Disk space:\nT     Filesystem *\nT Running processes:\nT     *PID TTY*\n \n", log.text());
}

TEST(Lock, LockFileIsMadeOnceAndKept) {
  sh("mkdir -p /tmp/lk && printf keep >/tmp/lk/kept && chmod 640 /tmp/lk/kept");
  mode_t old = umask(022);
  getMaintLock("/tmp/lk/l", "test");
  umask(old);
  getMaintLock("/tmp/lk/kept", "test");
  struct stat made, kept;
  ASSERT_EQ(0, stat("/tmp/lk/l", &made) + stat("/tmp/lk/kept", &kept));
  EXPECT_EQ(0700u, made.st_mode & 07777);
  EXPECT_EQ(0640u, kept.st_mode & 07777);
  EXPECT_EQ("keep", readFile("/tmp/lk/kept"));
}

TEST(LockDeathTest, UnopenableLockFileEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT((dup2(2, 1), setConsole(MBEAN), getMaintLock("/tmp/no/dir/l", "applyKestro")),
              testing::ExitedWithCode(1),
              "EFatal error: Could not open lock file /tmp/no/dir/l\\. No such file or directory\\.\n");
}

// The first time as in every apply run's log; then the keys and the
// configuration are there and only the policy is made again.  Failures
// show the checker's words.
TEST(TripwireControl, OnlyThePolicyIsMadeAgainAndFailuresShowTheCheckersWords) {
  sh("rm -rf /tmp/tw && mkdir -p /tmp/tw/tree && echo x >/tmp/tw/tree/f");
  buildTripFilenames("/tmp/tw");
  EXPECT_EQ(0, buildTripControlFiles("/tmp/tw/tree -> pugsM ;", "/tmp/tw"));
  TempLog again;
  EXPECT_EQ(0, buildTripControlFiles("/tmp/tw/tree -> pugs ;", "/tmp/tw"));
  EXPECT_EQ("T Processing command:\nT     /tmp/tw/tree -> pugs ;\n \nT >>/usr/sbin/twadmin -m P -c /tmp/tw/dm.config"
            " -p /tmp/tw/dm.policy -e /tmp/maint_zor/tw.policy." + pid() + " >/tmp/maint_zor/temp." + pid() +
                ".twadmin 2>&1 (rc = 0)\n", again.text());
  EXPECT_FALSE(exists("/tmp/maint_zor/tw.policy." + pid()) || exists("/tmp/maint_zor/dm.config." + pid()));
  sh("rm -r /tmp/tw/dm.*");
  mkdir("/tmp/tw/dm.skey", 0755);  // a key file name held by a directory counts as missing
  EXPECT_GLOB("Attempt to build tripwire control files failed. See following error message.\n    *",
              captured([] { EXPECT_NE(0, buildTripControlFiles("/tmp/tw/tree -> pugsM ;", "/tmp/tw")); }));
  EXPECT_TRUE(exists("/tmp/maint_zor/temp." + pid() + ".twadmin"));
  rmdir("/tmp/tw/dm.skey");
  // twadmin counts physical lines, the error line is picked among the
  // non-empty ones: after a blank line the next rule is shown.
  for (std::string blank : {"", "\n"}) {
    std::string rules = "/tmp/tw/tree -> pugsM ;\n/tmp/tw/a -> p ;\n" + blank + "/tmp/tw/b -> -> p ;\n/tmp/tw/c -> p ;\n";
    EXPECT_GLOB("Attempt to build tripwire policy file failed. See following error message.\n*Line generating "
                "error = \"/tmp/tw/" + std::string(blank.empty() ? "b -> -> p" : "c -> p") + " ;\" \n*",
                captured([&] { EXPECT_NE(0, buildTripControlFiles(rules.c_str(), "/tmp/tw")); }));
    EXPECT_TRUE(exists("/tmp/maint_zor/tw.policy." + pid()));  // kept for the operator
  }
}

// A tree, its control files and database made by the library, every kind
// of change, the real check and its full-detail report, parsed.
const std::string SOCK = "sock() { perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => $ARGV[0], "
                         "Listen => 1) or die' \"$1\"; }\n";
const std::string TREE = SOCK + R"SH(set -e; rm -rf /tmp/twtree /tmp/twctl; mkdir -p /tmp/twtree /tmp/twctl
cd /tmp/twtree; echo keep >keep; echo content >content; echo gone >gone; mkdir olddir d2f; echo f >f2d
echo pair >pair1; ln pair1 pair2; echo link >link1; ln link1 link2; echo m >modeonly; echo o >owneronly
echo og >ownergroup; echo g >grouponly; echo mo >modeowner; sock oldsock)SH";
const std::string CHANGES = SOCK + R"SH(cd /tmp/twtree; echo new >newfile; ln -s keep newlink; mkdir newdir
chown daemon:users newdir; mkdir -m 750 baredir; chown 500:777 baredir; rm oldsock gone; sock newsock
echo more >>content; rmdir olddir; echo more >>pair1; rm link2; chmod 600 modeonly; chown daemon owneronly
chown bin:users ownergroup; chgrp users grouponly; chmod 700 modeowner; chown daemon modeowner; rm f2d
mkdir f2d; rmdir d2f; echo file >d2f; c=/tmp/twctl/dm.config
tripwire -m c -c $c -p /tmp/twctl/dm.policy >/dev/null || echo "check $?" >/tmp/twctl/rc
twprint -m r -c $c -r /tmp/twctl/dm.rpt -t 4 >/tmp/twctl/report)SH";

TEST(TwReal, DatabaseAndTheReportOfEveryKindOfChange) {
  ASSERT_EQ(0, sh(TREE));
  buildTripFilenames("/tmp/twctl");
  ASSERT_EQ(0, buildTripControlFiles("/tmp/twtree -> +pnugM ;", "/tmp/twctl"));
  TempLog log;
  ASSERT_EQ(0, buildTripDatabase("test"));
  EXPECT_GLOB("T >>/usr/sbin/tripwire  --init -e -c /tmp/twctl/dm.config -p /tmp/twctl/dm.policy >/tmp/"
              "maint_zor/temp." + pid() + ".build 2>&1\n*T     The database was successfully generated.\n \n"
              "T Build of database containing filesystem state complete.\n", log.text());
  EXPECT_FALSE(exists("/tmp/maint_zor/temp." + pid() + ".build"));
  ASSERT_EQ(0, sh(CHANGES));
  EXPECT_EQ("check 7\n", readFile("/tmp/twctl/rc"));  // added, removed and changed objects
  FILE* report = fopen("/tmp/twctl/report", "r");
  ASSERT_NE(nullptr, report);
  int added = 0, deleted = 0, changed = 0;
  parseTWReport(report, added, deleted, changed, strlen("/tmp/twtree"));
  fclose(report);
  std::string parsed = std::to_string(added) + " added, " + std::to_string(deleted) + " deleted, " +
                       std::to_string(changed) + " changed\n";
  std::pair<const char*, array*> lists[] = {
      {"addedFiles", addedFiles()}, {"addedDirectories", addedDirectories()}, {"deletedFiles", deletedFiles()},
      {"deletedDirectories", deletedDirectories()}, {"changedFiles", changedFiles()},
      {"changedHardLinks", changedHardLinks()}, {"attributesModified", attributesModified()},
      {"originals4HardLinks", originals4HardLinks()}};
  for (auto& l : lists) {
    std::vector<std::string> entries;
    for (array_elem* e = l.second ? first(*l.second) : nullptr; e; e = next(*e))
      entries.push_back(static_cast<char*>(e->data));
    std::sort(entries.begin(), entries.end());
    for (const std::string& e : entries) parsed += l.first + (": " + e) + (e.back() == '\n' ? "" : "\n");
  }
  EXPECT_GLOB(readFile(DM_SOURCE_DIR "/tests/e2e/tw-changes.txt"), parsed);
  freeChangeLists();
}

TEST(TwReal, DatabaseFailureAndTracedBuild) {
  TempLog log;
  buildTripFilenames("/tmp/nodb");  // no configuration there
  int rc = 0;
  std::string console = captured([&] { rc = buildTripDatabase("test"); });
  const std::string failed = "Attempt to build filesystem state database failed. rc = " + std::to_string(rc) +
                             ". Exiting.\n";
  EXPECT_NE(0, rc);
  EXPECT_EQ(failed, console);
  EXPECT_GLOB("T >>/usr/sbin/tripwire  --init *\nT     ### Filename: /tmp/nodb/dm.config\n*T " + failed, log.text());
  // Traced, the checker is asked for verbose output; the verdict follows its status.
  ASSERT_EQ(0, sh(TREE));
  buildTripFilenames("/tmp/twctl");
  ASSERT_EQ(0, buildTripControlFiles("/tmp/twtree -> +pnugM ;", "/tmp/twctl"));
  TempLog traced;
  methodTrace::startTracing();
  captured([&] { rc = buildTripDatabase("test"); });
  methodTrace::stopTracing();
  EXPECT_GLOB("*T ->>buildTripDatabase\n*T >>/usr/sbin/tripwire -v --init -e -c /tmp/twctl/dm.config *" +
                  std::string(rc ? "T Attempt to build" : "T Build of database containing") + "*", traced.text());
}

// The policy of the running system: the root directory's entries less the
// excluded ones, from the file (/var is never excluded) and the built-in table.
TEST(TwReal, PolicyCoversTheRootDirectoryLessTheExcludedOnes) {
  ASSERT_EQ(0, sh("mkdir -p /srv /media /mnt /opt && printf '  srv\\n/var/cache\\n/var\\n# x\\n\\n' >/tmp/exclude"));
  std::string excluded = " /srv /var/cache /proc /sys /var/log /var/run /var/tmp /tftpboot/image /tftpboot/CR "
                         "/var/maint /media /mnt /tmp/maint_zor /tftpboot/upload ";
  std::string policy, included, skipped;
  for (const std::string& d : lines(taken(backtics("/usr/bin/find /* -maxdepth 0")) + "/var/lib/rpm\n")) {
    if (excluded.find(" " + d + " ") != std::string::npos) continue;
    policy += "\"" + d + "\" -> +pnugM;\n";
    included += "T     " + d + "\n";
  }
  for (const std::string& d : lines(std::regex_replace(excluded.substr(1), std::regex(" "), "\n"))) {
    policy += "!\"" + d + "\" ;\n";
    skipped += "T     " + d + "\n";
  }
  EXPECT_GLOB("*\nT     /opt\n*\nT     /var\n*\nT     /var/lib/rpm\n", included);
  for (int logflag : {1, 0}) {
    TempLog log;
    EXPECT_EQ(policy, taken(buildTripCommand("/tmp/exclude", logflag)));
    EXPECT_EQ(logflag ? " \nT Inclusion List: \n" + included + " \nT Exclusion List:\n" + skipped + " \n" : "", log.text());
  }
}

// /etc/inittab and runlevel 7, on realistic System V tables (tests/data/inittab).
std::string inittabData(const std::string& rel) {
  return readFile(DM_SOURCE_DIR "/tests/data/inittab/" + rel);
}
void installInittab(const std::string& text) { std::ofstream("/etc/inittab", std::ios::trunc) << text; }

// Each step's table and the cycle's log (rlN/log) are the data's.
TEST(Inittab, WholeCycleForDefaultRunlevels3And5) {
  for (std::string rl : {"3", "5"}) {
    TempLog log;
    installInittab(inittabData("inittab.rl" + rl));
    auto prepare = [] { addRunlevel7Definiition(); addRunlevel7Initdefault(); };
    EXPECT_EQ("Inserting an initdefault line for runlevel 7.\n", captured(prepare));
    EXPECT_EQ("", captured(prepare));  // only the first prepare inserts
    EXPECT_EQ(inittabData("rl" + rl + "/prepared"), readFile("/etc/inittab")) << rl;
    struct {
      const char* table;
      std::function<int()> step;
      int runlevel;
    } steps[] = {{"apply", [] { return switchSystemForApply(nullptr), 0; }, 0},
                 {"normal", switchSystemToNormal, std::stoi(rl)},
                 {"backoff", [] { return switchSystemForBackoff(), 0; }, 0},
                 {"normal", switchSystemToNormal, std::stoi(rl)}};
    for (auto& s : steps) {
      EXPECT_EQ(s.runlevel, s.step()) << s.table;
      EXPECT_EQ(inittabData("rl" + rl + "/" + s.table), readFile("/etc/inittab")) << rl << " " << s.table;
    }
    EXPECT_FALSE(exists("/etc/inittab.sv1"));
    EXPECT_EQ(inittabData("rl" + rl + "/log"), std::regex_replace(log.text(), std::regex("\\.[0-9]+\\.file"), ".P.file"));
  }
  installInittab(inittabData("rl3/prepared"));  // runlevel 3 is on already: nothing to turn on
  EXPECT_EQ(5, switchSystemToNormal());
  EXPECT_EQ(inittabData("rl3/normal"), readFile("/etc/inittab"));
}

// long-lines: 117 characters that fit the comment command, 118 that do
// not, commented lines of 118 and 119 for the uncomment edit, and one
// commented twice, of which only the first "#" goes.
TEST(Inittab, FailingOrOversizedEditsLeaveTheTable) {
  std::vector<std::string> tail = lines(inittabData("long-lines"));
  auto table = [&] {
    std::string text = inittabData("inittab.rl3");
    for (const std::string& line : tail) text += line + "\n";
    return text;
  };
  struct {
    const char* pattern;
    INITTAB edit;
    size_t line;  // the one edited, if any
  } steps[] = {{"kbrequest", COMMENT, 9},  // its sed fails on the quotes
               {"boundary", COMMENT, 0}, {"hashed", UNCOMMENT, 2}, {"first", UNCOMMENT, 4}, {"none", COMMENT, 9}};
  TempLog log;
  installInittab(table());
  for (auto& s : steps) {
    EXPECT_EQ(s.line < 9, comment_inittab_entry(s.pattern, s.edit)) << s.pattern;
    if (s.line < 9) tail[s.line] = s.edit == COMMENT ? "#" + tail[s.line] : tail[s.line].substr(1);
    EXPECT_EQ(table(), readFile("/etc/inittab")) << s.pattern;
    EXPECT_FALSE(exists("/etc/inittab.sv1"));
  }
  EXPECT_GLOB("*T The edit of /etc/inittab failed (rc = 256); /etc/inittab is left unchanged.\n*T The command to "
              "edit /etc/inittab for " + tail[1] + " does not fit its buffer; /etc/inittab is left unchanged.\n*",
              log.text());
}

TEST(Inittab, DefaultEntryOnlyAfterExactlyOneAndConsoleEdits) {
  TempLog log;
  const std::string plain = inittabData("inittab.rl3");
  for (std::string table : {std::regex_replace(plain, std::regex(".*:initdefault:\n"), ""),
                            std::regex_replace(plain, std::regex("id:3:initdefault:\n"), "$&#id:5:initdefault:\n")}) {
    installInittab(table);
    addRunlevel7Initdefault();
    EXPECT_EQ(table, readFile("/etc/inittab"));
  }
  EXPECT_GLOB("*\nT No initdefault entry found in /etc/inittab; no runlevel 7 entry inserted.\n*"
              "\nT Several initdefault entries found in /etc/inittab; no runlevel 7 entry inserted.\n", log.text());
  std::string consoles = std::regex_replace(plain, std::regex("\n([23]):235:"), "\n$1:2357:");
  installInittab(std::regex_replace(plain, std::regex(".*sbin/sulogin\n"), ""));
  addRunlevel7Definiition();  // without a sulogin entry: no block, but the consoles
  EXPECT_EQ(std::regex_replace(consoles, std::regex(".*sbin/sulogin\n"), ""), readFile("/etc/inittab"));
  installInittab(plain);
  addVirtualConsole(4);  // runlevels 2345: left alone
  addVirtualConsole(2);
  addVirtualConsole(2);
  EXPECT_EQ(std::regex_replace(plain, std::regex("\n2:235:"), "\n2:2357:"), readFile("/etc/inittab"));
}

TEST(InittabDeathTest, UncreatableBlockFileEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  installInittab(inittabData("inittab.rl3"));
  // The death test's child runs this again, with the mount in place.
  ASSERT_EQ(0, sh("mountpoint -q /tmp/maint_zor || { rm -rf /tmp/maint_zor && mkdir -m 0700 /tmp/maint_zor && "
                  "mount -t tmpfs -o ro tmpfs /tmp/maint_zor; }"));
  EXPECT_EXIT((dup2(2, 1), addRunlevel7Definiition()), testing::ExitedWithCode(1),
              "Temporary file could not be opened for writing\\. Exiting\\.\n");
  EXPECT_EQ(0, sh("umount /tmp/maint_zor"));
  EXPECT_EQ(inittabData("inittab.rl3"), readFile("/etc/inittab"));
}

// sysvinit's command prints the previous and the current runlevel, or
// "unknown" with status 1: a small stand-in replaces systemd's.
TEST(Inittab, CurrentRunlevelFromTheRunlevelCommand) {
  const char* cases[][3] = {{"N 5", "0", "5"}, {"3 5", "0", "5"}, {"5 3", "0", "3"}, {"unknown", "1", "-1"},
                            {"N S", "0", "-1"}};
  for (auto& c : cases) {
    unlink("/sbin/runlevel");
    std::ofstream("/sbin/runlevel") << "#!/bin/sh\necho \"" << c[0] << "\"\nexit " << c[1] << "\n";
    ASSERT_EQ(0, chmod("/sbin/runlevel", 0755));
    EXPECT_EQ(c[2], std::to_string(getCurrentRunlevel())) << c[0];
  }
}

// The image filesystem check: trial mounts of real images, nothing left.
TEST(ImageFilesystemType, Ext3Ext2AndJunk) {
  TempLog log;
  ASSERT_EQ(0, sh("mkdir -p /tmp/img && cd /tmp/img && dd if=/dev/zero of=plain.img bs=1M count=8 status=none && "
                  "mke2fs -F -q plain.img && cp plain.img journal.img && tune2fs -j journal.img >/dev/null && "
                  "head -c 4194304 /dev/urandom >junk.img"));
  ASSERT_EQ(0, chdir("/tmp/img"));
  const char* cases[][2] = {{"/tmp/img/plain.img", "ext2"}, {"/tmp/img/journal.img", "ext3"},
                            {"/tmp/img/junk.img", "????"}, {"/tmp/img/none.img", "????"}, {"journal.img", "ext3"}};
  for (auto& c : cases) {
    EXPECT_STREQ(c[1], checkImageFilesystemType(c[0], ".")) << c[0];
    EXPECT_FALSE(exists("mnt_check_dir")) << c[0];
  }
  EXPECT_EQ(0, sh("! for i in plain journal junk; do losetup -j $i.img; done | grep -q . && ! grep -q mnt_check_dir "
                  "/proc/self/mountinfo && e2fsck -fn plain.img >/dev/null && e2fsck -fn journal.img >/dev/null"));
  EXPECT_GLOB("*T >>/bin/mount -r -t ext3 /tmp/img/junk.img mnt_check_dir -o loop 2>/dev/null\nT >>/bin/mount -r -t "
              "ext2 /tmp/img/junk.img mnt_check_dir -o loop 2>/dev/null\n*>>/bin/umount mnt_check_dir*", log.text());
  ASSERT_EQ(0, chdir("/"));
}
