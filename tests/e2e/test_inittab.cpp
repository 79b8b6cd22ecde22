// End-to-end tests of the /etc/inittab editing for runlevel 7, run inside
// the sandbox on a realistic System V inittab through tests/tools/inittab_tool:
// the whole prepare / apply / normal / back-off / normal cycle for tables
// with default runlevel 3 and 5, the edits that must leave the table alone,
// the console edits, and the current runlevel read from a stand-in
// /sbin/runlevel.  The host's /etc must not change.
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "maint.h"
#include "sandbox.h"

namespace {

std::string tool() { return binaryDir() + "/tests/inittab_tool"; }
std::string data(const std::string& rel) { return sourceDir() + "/tests/data/inittab/" + rel; }

// What the host has at a path, to show that a run left it alone.
std::string hostState(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "absent";
  return std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
         std::to_string(st.st_ino) + " " + std::to_string(st.st_ctim.tv_sec) + "." +
         std::to_string(st.st_ctim.tv_nsec);
}

// Compares two tables line by line, naming the step and the line.
void expectSameTable(const std::string& expected, const std::string& actual,
                     const std::string& step) {
  std::vector<std::string> want = lines(expected);
  std::vector<std::string> got = lines(actual);
  int differences = 0;
  for (size_t i = 0; i < want.size() && i < got.size() && differences < 5; ++i) {
    if (want[i] != got[i]) ++differences;
    EXPECT_EQ(want[i], got[i]) << "after " << step << ", line " << i + 1;
  }
  EXPECT_EQ(want.size(), got.size()) << "line count after " << step;
  EXPECT_TRUE(expected == actual) << "the bytes differ after " << step;
}

// How often a log holds a record with exactly this text.
int logCount(const std::string& log, const std::string& text) {
  int n = 0;
  for (const auto& line : lines(log))
    if (logText(line) == text) ++n;
  return n;
}

// Shell lines that define `step NAME ARGS...`: run the tool with the log in
// the share, keep its output in NAME.out, its status in NAME.rc and the table
// in NAME.tab; a scratch copy left behind is recorded in NAME.sv1.
std::string stepFunction() {
  return "step() { name=$1; shift; rc=0\n"
         "  " +
         shellQuote(tool()) +
         " -l /share/maint.log \"$@\" >/share/$name.out || rc=$?\n"
         "  echo $rc >/share/$name.rc; cp /etc/inittab /share/$name.tab\n"
         "  if [ -e /etc/inittab.sv1 ]; then touch /share/$name.sv1; fi; }\n";
}

class InittabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_SANDBOX();
    struct stat st;
    ASSERT_EQ(0, stat(tool().c_str(), &st)) << "build the inittab_tool target: " << tool();
    hostBefore_ = hostState("/etc/inittab") + " / " + hostState("/etc/inittab.sv1");
  }
  void TearDown() override {
    if (hostBefore_.empty()) return;
    EXPECT_EQ(hostBefore_, hostState("/etc/inittab") + " / " + hostState("/etc/inittab.sv1"))
        << "the host's inittab changed";
  }
  // Runs `body` after installing `table` (a path inside the sandbox) as
  // /etc/inittab.
  void runWith(const std::string& table, const std::string& body) {
    RunResult r = sandbox_.run(
        "set -eu\ncp " + shellQuote(table) + " /etc/inittab\n" + stepFunction() + body, 120);
    ASSERT_EQ(0, r.status) << r;
    EXPECT_EQ("", sandbox_.leaks());
  }
  std::string out(const std::string& step) { return sandbox_.readFile(step + ".out"); }
  std::string table(const std::string& step) { return sandbox_.readFile(step + ".tab"); }
  std::string rc(const std::string& step) { return sandbox_.readFile(step + ".rc"); }
  std::string log() { return sandbox_.readFile("maint.log"); }

  Sandbox sandbox_;
  std::string hostBefore_;
};

class InittabCycle : public InittabTest, public ::testing::WithParamInterface<int> {};

}  // namespace

TEST(FixPatternForSed, EscapesEverySlashOnly) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {":3:initdefault", ":3:initdefault"},
      {"/usr/sbin/applyVantel.sh", "\\/usr\\/sbin\\/applyVantel.sh"},
      {"a//b/", "a\\/\\/b\\/"},
      {"x.[*]$&\"\\", "x.[*]$&\"\\"},
      {"", ""},
  };
  for (const auto& c : cases) {
    char* escaped = fixPatternForSed(c.in);
    EXPECT_STREQ(c.out, escaped) << c.in;
    free(escaped);
  }
  EXPECT_EQ(nullptr, fixPatternForSed(nullptr));
}

TEST_P(InittabCycle, WholeCycleGivesExpectedTableAfterEachStep) {
  const std::string rl = std::to_string(GetParam());
  const std::string dir = "rl" + rl + "/";
  runWith(data("inittab.rl" + rl),
          "step prepare prepare\nstep prepare-again prepare\nstep apply apply\n"
          "step normal normal\nstep backoff backoff\nstep normal-again normal\n");
  const std::string prepared = readHostFile(data(dir + "prepared"));
  const std::string normal = readHostFile(data(dir + "normal"));
  ASSERT_FALSE(prepared.empty());
  expectSameTable(prepared, table("prepare"), "prepare");
  expectSameTable(prepared, table("prepare-again"), "a second prepare");
  expectSameTable(readHostFile(data(dir + "apply")), table("apply"), "switch for apply");
  expectSameTable(normal, table("normal"), "switch to normal after apply");
  expectSameTable(readHostFile(data(dir + "backoff")), table("backoff"), "switch for back-off");
  expectSameTable(normal, table("normal-again"), "switch to normal after back-off");
  EXPECT_EQ(rl + "\n", out("normal"));
  EXPECT_EQ(rl + "\n", out("normal-again"));
  for (const char* step :
       {"prepare", "prepare-again", "apply", "normal", "backoff", "normal-again"}) {
    EXPECT_EQ("0\n", rc(step)) << step;
    EXPECT_FALSE(sandbox_.exists(std::string(step) + ".sv1")) << "scratch copy left by " << step;
  }
  // Only the first prepare inserts, and says so.
  EXPECT_EQ("Inserting an initdefault line for runlevel 7.\n", out("prepare"));
  EXPECT_EQ("", out("prepare-again"));
  const std::string text = log();
  EXPECT_EQ(1, logCount(text, "Adding definition for runlevel 7 to /etc/inittab"));
  EXPECT_EQ(1, logCount(text, "    Runlevel 7 definition inserted. Filesystem synced."));
  EXPECT_EQ(1, logCount(text, "Inserting an initdefault line for runlevel 7."));
  EXPECT_EQ(1, logCount(text, "    New initdefault entry inserted. Filesystem synced."));
  EXPECT_EQ(1, logCount(text, ">>/usr/bin/sed \"/^id:" + rl +
                                  ":initdefault:/ a\\#id:7:initdefault:\" /etc/inittab "
                                  "2>/dev/null >/etc/inittab.sv1"));
}

INSTANTIATE_TEST_SUITE_P(DefaultRunlevels, InittabCycle, ::testing::Values(3, 5));

TEST_F(InittabTest, NormalOnPreparedTableFindsNothingToTurnOn) {
  // The runlevel 3 entry is already on: step 1 edits nothing, so the result
  // is 5; only the apply entry is switched off.
  runWith(data("rl3/prepared"), "step normal normal\n");
  EXPECT_EQ("5\n", out("normal"));
  expectSameTable(readHostFile(data("rl3/normal")), table("normal"), "switch to normal");
}

TEST_F(InittabTest, FailingOrOversizedEditsLeaveTableUntouched) {
  // A line of 117 characters fits the comment command, one of 118 does not;
  // an uncomment edit takes 118 with its "#".
  const std::string fits = "b1:7:once:echo boundary " + std::string(93, 'a');
  const std::string tooLong = "b2:7:once:echo boundary " + std::string(94, 'b');
  const std::string hashed = "#b3:7:once:echo hashed " + std::string(95, 'c');
  const std::string hashedTooLong = "#b4:7:once:echo hashed " + std::string(96, 'd');
  ASSERT_EQ(117u, fits.size());
  ASSERT_EQ(118u, hashed.size());
  std::string base = readHostFile(data("inittab.rl3"));
  sandbox_.writeFile("long.tab", base + fits + "\n" + tooLong + "\n" + hashed + "\n" +
                                     hashedTooLong + "\n##x9:7:once:echo first-hash-only\n");
  runWith("/share/long.tab",
          "step kb comment kbrequest\n"
          "step boundary comment boundary\n"
          "step hashed uncomment hashed\n"
          "step first uncomment first-hash-only\n"
          "step nothing comment no-such-entry\n");
  // The keyboard entry holds double quotes: its sed fails and the table stays.
  EXPECT_EQ("0\n", out("kb"));
  expectSameTable(sandbox_.readFile("long.tab"), table("kb"), "a failing sed");
  EXPECT_FALSE(sandbox_.exists("kb.sv1"));
  EXPECT_EQ(1, logCount(log(),
                        "The edit of /etc/inittab failed (rc = 256); /etc/inittab is left "
                        "unchanged."));

  std::string expected = base + "#" + fits + "\n" + tooLong + "\n" + hashed + "\n" + hashedTooLong +
                         "\n##x9:7:once:echo first-hash-only\n";
  EXPECT_EQ("1\n", out("boundary"));
  expectSameTable(expected, table("boundary"), "commenting long lines");
  EXPECT_EQ(1, logCount(log(), "The command to edit /etc/inittab for " + tooLong +
                                   " does not fit its buffer; /etc/inittab is left unchanged."));

  expected = base + "#" + fits + "\n" + tooLong + "\n" + hashed.substr(1) + "\n" + hashedTooLong +
             "\n##x9:7:once:echo first-hash-only\n";
  EXPECT_EQ("1\n", out("hashed"));
  expectSameTable(expected, table("hashed"), "uncommenting long lines");

  // Only the first "#" goes.
  expected = base + "#" + fits + "\n" + tooLong + "\n" + hashed.substr(1) + "\n" + hashedTooLong +
             "\n#x9:7:once:echo first-hash-only\n";
  EXPECT_EQ("1\n", out("first"));
  expectSameTable(expected, table("first"), "uncommenting a doubly commented line");

  EXPECT_EQ("0\n", out("nothing"));
  expectSameTable(expected, table("nothing"), "a pattern that matches nothing");
}

TEST_F(InittabTest, DefaultEntryIsAddedOnlyAfterExactlyOneDefault) {
  runWith(data("inittab.rl3"),
          "grep -v ':initdefault:$' /etc/inittab >/share/none.in\n"
          "sed '/^id:3:initdefault:$/ a #id:5:initdefault:' /etc/inittab >/share/two.in\n"
          "cp /share/none.in /etc/inittab; step none initdefault\n"
          "cp /share/two.in /etc/inittab; step two initdefault\n");
  const std::string none = sandbox_.readFile("none.in");
  const std::string two = sandbox_.readFile("two.in");
  ASSERT_EQ(std::string::npos, none.find(":initdefault:\n"));
  ASSERT_NE(std::string::npos, two.find("id:3:initdefault:\n#id:5:initdefault:\n"));
  expectSameTable(none, table("none"), "no default entry");
  expectSameTable(two, table("two"), "two default entries");
  const std::string text = log();
  EXPECT_EQ(1, logCount(text,
                        "No initdefault entry found in /etc/inittab; no runlevel 7 entry "
                        "inserted."));
  EXPECT_EQ(1, logCount(text,
                        "Several initdefault entries found in /etc/inittab; no runlevel 7 "
                        "entry inserted."));
  EXPECT_EQ(0, logCount(text, "    New initdefault entry inserted. Filesystem synced."));
}

TEST_F(InittabTest, TableWithoutSuloginGetsNoBlockButConsoles) {
  runWith(data("inittab.rl3"),
          "grep -v 'sbin/sulogin$' /etc/inittab >/share/nosulogin.in\n"
          "cp /share/nosulogin.in /etc/inittab; step definition definition\n");
  std::string expected = sandbox_.readFile("nosulogin.in");
  for (const char* console : {"2:235:", "3:235:"}) {
    size_t at = expected.find(std::string("\n") + console);
    ASSERT_NE(std::string::npos, at);
    expected.insert(at + 6, "7");
  }
  expectSameTable(expected, table("definition"), "a definition without a sulogin entry");
  EXPECT_EQ(1, logCount(log(), "    Runlevel 7 definition inserted. Filesystem synced."));
}

TEST_F(InittabTest, ConsoleEditTouchesOnlyRunlevels235) {
  runWith(data("inittab.rl3"), "step c4 console 4\nstep c2 console 2\nstep c2-again console 2\n");
  const std::string original = readHostFile(data("inittab.rl3"));
  expectSameTable(original, table("c4"), "console 4 (runlevels 2345)");
  std::string expected = original;
  size_t at = expected.find("\n2:235:");
  ASSERT_NE(std::string::npos, at);
  expected.insert(at + 6, "7");
  expectSameTable(expected, table("c2"), "console 2");
  expectSameTable(expected, table("c2-again"), "console 2 again");
}

TEST_F(InittabTest, UncreatableBlockFileEndsTheProcess) {
  // A read-only /tmp/maint_zor: the block's temporary file cannot be made.
  runWith(data("inittab.rl3"),
          "mkdir -p -m 0700 /tmp/maint_zor && mount -t tmpfs -o ro,mode=0700 tmpfs /tmp/maint_zor\n"
          "step definition definition\numount /tmp/maint_zor\n");
  EXPECT_EQ("1\n", rc("definition"));
  EXPECT_EQ("Temporary file could not be opened for writing. Exiting.\n", out("definition"));
  expectSameTable(readHostFile(data("inittab.rl3")), table("definition"), "a failed definition");
  EXPECT_EQ(1, logCount(log(), "Temporary file could not be opened for writing. Exiting."));
}

TEST_F(InittabTest, CurrentRunlevelFromRunlevelCommand) {
  // The sysvinit command prints the previous and the current runlevel, or
  // "unknown" with status 1; a small stand-in replaces systemd's one.
  runWith(data("inittab.rl3"),
          "rm -f /sbin/runlevel\n"
          "standin() { printf '#!/bin/sh\\necho \"%s\"\\nexit %s\\n' \"$1\" \"$2\" "
          ">/sbin/runlevel; chmod 755 /sbin/runlevel; }\n"
          "standin 'N 5' 0; step n5 runlevel\n"
          "standin '3 5' 0; step r35 runlevel\n"
          "standin '5 3' 0; step r53 runlevel\n"
          "standin 'unknown' 1; step unknown runlevel\n"
          "standin 'N S' 0; step single runlevel\n");
  EXPECT_EQ("5\n", out("n5"));
  EXPECT_EQ("5\n", out("r35"));
  EXPECT_EQ("3\n", out("r53"));
  EXPECT_EQ("-1\n", out("unknown"));
  EXPECT_EQ("-1\n", out("single"));
}
