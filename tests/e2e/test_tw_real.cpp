// End-to-end tests of the tripwire report parser and the state database
// against the real checker, inside the sandbox: a small tree is put under
// a database with tripwire --init, changed, checked, and the full-detail
// report (twprint -t 4) is parsed by tests/tools/tw_probe; the policy text
// is built from the sandbox's real root directory; a database built by
// buildTripDatabase is checked with the real checker.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "sandbox.h"

namespace {

using Lines = std::vector<std::string>;

std::string probePath() {
#ifdef DM_TW_PROBE
  return DM_TW_PROBE;
#else
  return binaryDir() + "/tests/tw_probe";
#endif
}

#define REQUIRE_PROBE()                                              \
  do {                                                               \
    struct stat probeStat_;                                          \
    ASSERT_EQ(stat(probePath().c_str(), &probeStat_), 0)             \
        << "the test tool tw_probe is not built at " << probePath(); \
  } while (0)

// The examined tree; every object name in its report starts with it.
const std::string TREE = "/tmp/twtree";

// Keys, configuration (as the tool writes it) and a policy of one rule on
// the tree with the given properties; then a database of the tree as
// mktree left it.
std::string checkerSetup(const std::string& properties) {
  return "set -e\n"
         "probe=" +
         shellQuote(probePath()) +
         "\n"
         "tw=/tmp/twctl; mkdir -p $tw\n"
         "twadmin -m G -S $tw/site.key -Q \"\" >/dev/null\n"
         "twadmin -m G -L $tw/local.key -P \"\" >/dev/null\n"
         "cat > $tw/config.txt <<EOF\n"
         "POLFILE = $tw/tw.pol\n"
         "DBFILE = $tw/tw.db\n"
         "REPORTFILE = $tw/tw.rpt\n"
         "SITEKEYFILE = $tw/site.key\n"
         "LOCALKEYFILE = $tw/local.key\n"
         "LOOSEDIRECTORYCHECKING = true\n"
         "REPORTLEVEL = 3\n"
         "EOF\n"
         "twadmin -m F -c $tw/tw.cfg -e $tw/config.txt >/dev/null\n"
         "echo '" +
         TREE + " -> " + properties +
         ";' > $tw/policy.txt\n"
         "twadmin -m P -c $tw/tw.cfg -p $tw/tw.pol -e $tw/policy.txt >/dev/null\n";
}

// The tree before and the changes after the database was made.
const char* const MAKE_TREE =
    "mkdir -p "
    "/tmp/twtree"
    " && cd /tmp/twtree\n"
    "echo keep > keep; echo content > content; echo gone > gone; mkdir olddir\n"
    "echo pair > pair1; ln pair1 pair2; echo link > link1; ln link1 link2\n"
    "echo m > modeonly; echo o > owneronly; echo og > ownergroup; echo g > grouponly\n"
    "echo mo > modeowner; echo f > f2d; mkdir d2f\n"
    "$probe socket /tmp/twtree/oldsock\n"
    "cd /\n";

const char* const CHANGE_TREE =
    "cd /tmp/twtree\n"
    "echo new > newfile; ln -s keep newlink\n"
    "mkdir newdir; chown daemon:users newdir\n"
    "mkdir -m 750 baredir; chown 500:777 baredir\n"
    "$probe socket /tmp/twtree/newsock; rm oldsock\n"
    "echo more >> content; rm gone; rmdir olddir\n"
    "echo more >> pair1; rm link2\n"
    "chmod 600 modeonly; chown daemon owneronly; chown bin:users ownergroup\n"
    "chgrp users grouponly; chmod 700 modeowner; chown daemon modeowner\n"
    "rm f2d; mkdir f2d; rmdir d2f; echo now a file > d2f\n"
    "cd /\n";

// Database, changes, check, full-detail report, parse.
std::string checkAndParse() {
  return std::string(MAKE_TREE) +
         "tripwire --init -e -c $tw/tw.cfg -p $tw/tw.pol >/share/init.out 2>&1\n" + CHANGE_TREE +
         "rc=0; tripwire -m c -c $tw/tw.cfg -p $tw/tw.pol >/share/check.out 2>&1 || rc=$?\n"
         "echo $rc > /share/check.rc\n"
         "twprint -m r -c $tw/tw.cfg -r $tw/tw.rpt -t 4 >/share/report.txt 2>/dev/null\n"
         "$probe parse " +
         std::to_string(TREE.size()) + " /share/report.txt >/share/parsed.txt\n";
}

struct Parsed {
  std::map<std::string, int> counts;
  std::map<std::string, Lines> lists;  // each sorted: the checker orders its records
};

// Reads the probe's "name N" count lines and "LIST<TAB>ENTRY" lines.
Parsed readParsed(const std::string& text) {
  Parsed p;
  for (const std::string& line : lines(text)) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos) {
      size_t blank = line.find(' ');
      if (blank != std::string::npos)
        p.counts[line.substr(0, blank)] = std::stoi(line.substr(blank + 1));
      continue;
    }
    std::string entry;
    for (size_t i = tab + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) {
        entry += line[i + 1] == 'n' ? '\n' : line[i + 1];
        ++i;
      } else {
        entry += line[i];
      }
    }
    p.lists[line.substr(0, tab)].push_back(entry);
  }
  for (auto& l : p.lists) std::sort(l.second.begin(), l.second.end());
  return p;
}

Lines sorted(Lines l) {
  std::sort(l.begin(), l.end());
  return l;
}

// Runs the scenario with the given property set and returns the parse.
Parsed runScenario(Sandbox& sb, const std::string& properties) {
  RunResult r = sb.run(checkerSetup(properties) + checkAndParse(), 300);
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(sb.leaks(), "");
  // The check found added, removed and changed objects (status bits 1, 2, 4).
  EXPECT_EQ(sb.readFile("check.rc"), "7\n") << sb.readFile("check.out");
  EXPECT_NE(sb.readFile("report.txt").find("Object Detail:"), std::string::npos);
  return readParsed(sb.readFile("parsed.txt"));
}

// Takes the entry of an added directory whose group has no name out of
// `dirs`: a bare id is printed padded with blanks, which the group keeps.
bool takeBareIdDirectory(Lines& dirs) {
  static const std::regex bare(R"(/baredir\(500:777 +\)750)");
  auto at = std::find_if(dirs.begin(), dirs.end(),
                         [](const std::string& d) { return std::regex_match(d, bare); });
  if (at == dirs.end()) return false;
  dirs.erase(at);
  return true;
}

TEST(TwReal, ReportOfEveryKindOfChangeIsSortedIntoTheLists) {
  REQUIRE_SANDBOX();
  REQUIRE_PROBE();
  Sandbox sb;
  Parsed p = runScenario(sb, "+pnugM");

  // newfile, newlink, newdir, baredir; the new socket is not counted.
  EXPECT_EQ(p.counts["added"], 4);
  // gone, olddir, link2; the removed socket is not counted.
  EXPECT_EQ(p.counts["deleted"], 3);
  // content, pair1, pair2, link1 (its link count), modeonly, owneronly,
  // ownergroup, grouponly, modeowner, f2d, d2f.
  EXPECT_EQ(p.counts["changed"], 11);

  // The directory that became a file is an added file.
  EXPECT_EQ(p.lists["addedFiles"], sorted({"/newfile", "/newlink", "/d2f"}));
  Lines dirs = p.lists["addedDirectories"];
  EXPECT_TRUE(takeBareIdDirectory(dirs)) << ::testing::PrintToString(dirs);
  // daemon is uid 1, users gid 100; the file that became a directory is
  // listed as a plain path.
  EXPECT_EQ(dirs, sorted({"/newdir(1:100)755", "/f2d"}));
  EXPECT_EQ(p.lists["deletedFiles"], sorted({"/gone", "/f2d"}));
  EXPECT_EQ(p.lists["deletedDirectories"], sorted({"/olddir", "/d2f"}));
  EXPECT_EQ(p.lists["changedFiles"], sorted({"content", "f2d"}));
  // link2 was removed while it had two links; pair1 and pair2 share new
  // content; the former directory had two links and its digest changed.
  EXPECT_EQ(p.lists["changedHardLinks"], sorted({"link2", "pair1", "pair2", "d2f"}));
  // The mode restored is the database's, the owner and group the ones found.
  EXPECT_EQ(p.lists["attributesModified"],
            sorted({"  chmod -v 644    \"/modeonly\"\n", "  chown -v 1  \"/owneronly\"\n",
                    "  chown -v 2:100  \"/ownergroup\"\n", "  chgrp -v 100  \"/grouponly\"\n",
                    "  chmod -v 644    \"/modeowner\"\n  chown -v 1  \"/modeowner\"\n"}));
  EXPECT_EQ(p.lists.count("originals4HardLinks"), 0u);
}

TEST(TwReal, ImagePolicyReportWithoutLinkCountsStillYieldsTheAddedObjects) {
  REQUIRE_SANDBOX();
  REQUIRE_PROBE();
  Sandbox sb;
  // Without Num Links rows the removed and modified records run on into
  // later ones; only the added records, which come first, are determined.
  Parsed p = runScenario(sb, "pugsM");
  EXPECT_EQ(p.counts["added"], 4);
  EXPECT_EQ(p.lists["addedFiles"], sorted({"/newfile", "/newlink"}));
  Lines dirs = p.lists["addedDirectories"];
  EXPECT_TRUE(takeBareIdDirectory(dirs)) << ::testing::PrintToString(dirs);
  EXPECT_EQ(dirs, Lines{"/newdir(1:100)755"});
}

// ---------------------------------------------------------------------------
// Policy text from the real root directory
// ---------------------------------------------------------------------------

// The records of a log, stamps taken off; blank records stay " ".
Lines logRecords(const std::string& log) {
  Lines out;
  for (const std::string& line : lines(log))
    out.push_back(hasLogStamp(line) ? logText(line) : line);
  return out;
}

TEST(TwReal, PolicyTextCoversTheRootDirectoryLessTheExcludedOnes) {
  REQUIRE_SANDBOX();
  REQUIRE_PROBE();
  Sandbox sb;
  sb.writeFile("exclude", "  srv\n/var/cache\n/var\n# /opt stays\n\n");
  RunResult r = sb.run("set -e\nprobe=" + shellQuote(probePath()) +
                       "\nmkdir -p /srv /media /mnt /opt\n"
                       "/usr/bin/find /* -maxdepth 0 > /share/root.txt\n"
                       "$probe policy /share/exclude 1 /share/on.log > /share/on.txt\n"
                       "$probe policy /share/exclude 0 /share/off.log > /share/off.txt\n"
                       "ls /tmp > /share/tmp.txt\n");
  ASSERT_EQ(r.status, 0) << r;

  Lines excluded = {"/srv",           "/var/cache",      "/proc",    "/sys",
                    "/var/log",       "/var/run",        "/var/tmp", "/tftpboot/image",
                    "/tftpboot/CR",   "/var/maint",      "/media",   "/mnt",
                    "/tmp/maint_zor", "/tftpboot/upload"};
  Lines included;
  for (const std::string& entry : lines(sb.readFile("root.txt"))) {
    if (std::find(excluded.begin(), excluded.end(), entry) == excluded.end())
      included.push_back(entry);
  }
  included.push_back("/var/lib/rpm");

  std::string policy;
  for (const std::string& d : included) policy += "\"" + d + "\" -> +pnugM;\n";
  for (const std::string& d : excluded) policy += "!\"" + d + "\" ;\n";
  EXPECT_EQ(sb.readFile("on.txt"), policy);
  EXPECT_EQ(sb.readFile("off.txt"), policy);

  // The cases that matter most, spelled out.
  std::string text = sb.readFile("on.txt");
  for (const char* d : {"/proc", "/sys", "/media", "/mnt", "/srv"}) {
    EXPECT_EQ(text.find("\n\"" + std::string(d) + "\" "), std::string::npos) << d;
    EXPECT_NE(text.find("!\"" + std::string(d) + "\" ;\n"), std::string::npos) << d;
  }
  for (const char* d : {"/var", "/var/lib/rpm", "/opt"}) {
    EXPECT_NE(text.find("\"" + std::string(d) + "\" -> +pnugM;\n"), std::string::npos) << d;
    EXPECT_EQ(text.find("!\"" + std::string(d) + "\""), std::string::npos) << d;
  }

  Lines expectedLog = {" ", "Inclusion List: "};
  for (const std::string& d : included) expectedLog.push_back("    " + d);
  expectedLog.push_back(" ");
  expectedLog.push_back("Exclusion List:");
  for (const std::string& d : excluded) expectedLog.push_back("    " + d);
  expectedLog.push_back(" ");
  EXPECT_EQ(logRecords(sb.readFile("on.log")), expectedLog);
  EXPECT_FALSE(sb.exists("off.log"));
  // The captured listing of the root directory is not left behind.
  EXPECT_EQ(sb.readFile("tmp.txt").find("maint"), std::string::npos) << sb.readFile("tmp.txt");
}

// ---------------------------------------------------------------------------
// Database of the filesystem state
// ---------------------------------------------------------------------------

const char* const DB_TREE =
    "mkdir -p /tmp/dbtree/sub /tmp/twdb\n"
    "echo one > /tmp/dbtree/one; echo two > /tmp/dbtree/sub/two\n"
    "echo '/tmp/dbtree -> +pnugM;' > /share/small.policy\n";

// Checks the tree against the database; the report goes to checkN.txt.
std::string dbCheck(int n) {
  return "tripwire -m c -c /tmp/twdb/dm.config -p /tmp/twdb/dm.policy > /share/check" +
         std::to_string(n) + ".txt 2>&1 || true\n";
}

// The log records from the database command line on.
Lines fromCommand(const std::string& log) {
  Lines records = logRecords(log);
  auto at = std::find_if(records.begin(), records.end(), [](const std::string& l) {
    return l.rfind(">>/usr/sbin/tripwire ", 0) == 0;
  });
  return Lines(at, records.end());
}

TEST(TwReal, BuiltDatabaseMatchesTheTreeUntilItChanges) {
  REQUIRE_SANDBOX();
  REQUIRE_PROBE();
  Sandbox sb;
  RunResult r =
      sb.run("set -e\nprobe=" + shellQuote(probePath()) + "\n" + DB_TREE +
             "$probe database /tmp/twdb /share/small.policy /share/db.log > /share/db.out\n" +
             dbCheck(0) + "echo changed >> /tmp/dbtree/sub/two\n" + dbCheck(1) +
             "ls -A /tmp/maint_zor > /share/zor.txt\n");
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(sb.readFile("db.out"), "controls 0\ndatabase 0\n");
  EXPECT_NE(sb.readFile("check0.txt").find("Total violations found:  0\n"), std::string::npos)
      << sb.readFile("check0.txt");
  EXPECT_NE(sb.readFile("check1.txt").find("Total violations found:  1\n"), std::string::npos)
      << sb.readFile("check1.txt");

  Lines records = fromCommand(sb.readFile("db.log"));
  ASSERT_GE(records.size(), 4u) << sb.readFile("db.log");
  // No tracing: two blanks where the verbosity option would stand.
  EXPECT_TRUE(std::regex_match(
      records[0],
      std::regex(R"(>>/usr/sbin/tripwire  --init -e -c /tmp/twdb/dm\.config )"
                 R"(-p /tmp/twdb/dm\.policy >/tmp/maint_zor/temp\.[0-9]+\.build 2>&1)")))
      << records[0];
  // The checker's own output follows, behind four blanks.
  EXPECT_NE(
      std::find(records.begin(), records.end(), "    The database was successfully generated."),
      records.end());
  EXPECT_EQ(records[records.size() - 2], " ");
  EXPECT_EQ(records.back(), "Build of database containing filesystem state complete.");
  EXPECT_EQ(sb.readFile("zor.txt").find(".build"), std::string::npos) << sb.readFile("zor.txt");
}

TEST(TwReal, DatabaseFailureIsReportedWithTheCommandStatus) {
  REQUIRE_SANDBOX();
  REQUIRE_PROBE();
  Sandbox sb;
  // No control files in /tmp/nodb: the checker cannot read its configuration.
  RunResult r = sb.run("set -e\nprobe=" + shellQuote(probePath()) + "\n" +
                       "$probe database /tmp/nodb - /share/fail.log > /share/fail.out\n"
                       "ls -A /tmp/maint_zor > /share/zor.txt\n");
  ASSERT_EQ(r.status, 0) << r;
  Lines out = lines(sb.readFile("fail.out"));
  ASSERT_EQ(out.size(), 3u) << sb.readFile("fail.out");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(out[2], m, std::regex("database ([0-9]+)"))) << out[2];
  std::string status = m[1];
  EXPECT_NE(status, "0");
  std::string message =
      "Attempt to build filesystem state database failed. rc = " + status + ". Exiting.";
  EXPECT_EQ(out[1], message);  // the console line, before the probe's own

  Lines records = fromCommand(sb.readFile("fail.log"));
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records.back(), message);
  EXPECT_NE(std::find(records.begin(), records.end(), "    ### Filename: /tmp/nodb/dm.config"),
            records.end());
  EXPECT_EQ(sb.readFile("zor.txt").find(".build"), std::string::npos) << sb.readFile("zor.txt");
}

TEST(TwReal, TracedDatabaseBuildAsksTheCheckerForVerboseOutput) {
  REQUIRE_SANDBOX();
  REQUIRE_PROBE();
  Sandbox sb;
  RunResult r = sb.run("set -e\nprobe=" + shellQuote(probePath()) + "\n" + DB_TREE +
                       "$probe database /tmp/twdb /share/small.policy /share/trace.log trace "
                       "> /share/trace.out\n");
  ASSERT_EQ(r.status, 0) << r;
  Lines out = lines(sb.readFile("trace.out"));
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.front(), "controls 0");

  Lines records = fromCommand(sb.readFile("trace.log"));
  ASSERT_FALSE(records.empty()) << sb.readFile("trace.log");
  EXPECT_EQ(records[0].rfind(">>/usr/sbin/tripwire -v --init -e -c /tmp/twdb/dm.config ", 0), 0u)
      << records[0];
  // Whatever the checker makes of the option, the log's last word on the
  // build agrees with the status returned.
  std::string status = out.back().substr(out.back().find(' ') + 1);
  std::string verdict =
      status == "0"
          ? "Build of database containing filesystem state complete."
          : "Attempt to build filesystem state database failed. rc = " + status + ". Exiting.";
  EXPECT_NE(std::find(records.begin(), records.end(), verdict), records.end())
      << sb.readFile("trace.log");
  Lines all = logRecords(sb.readFile("trace.log"));
  EXPECT_NE(std::find(all.begin(), all.end(), "->>buildTripDatabase"), all.end());
}

}  // namespace
