// Console messages in the operator's language: the template is current
// with the sources; in a sandbox with the German catalogue installed under
// /usr/share/locale and the de_DE.UTF-8 locale, runs show the catalogue's
// German texts on the console while the log keeps the English ones (the
// lock's waiting message excepted, which is logged as shown); a locale the
// system cannot provide leaves the console in English.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "apply_fixture.h"
#include "po_file.h"
#include "sandbox.h"
#include "tool_run.h"

namespace {

using Lines = std::vector<std::string>;

const char* const START = "Starting apply phase for client POS image maintenance.";
const char* const WAITING = "Waiting for the delta maintenance lock file to be released.";
const char* const TOTALS = "Total files in image: %d    Total errors: %d. ";
const char* const ELAPSED = "Elapsed time = %d:%02d:%02d ";

const std::map<std::string, PoEntry>& german() {
  static const std::map<std::string, PoEntry> catalogue =
      readPoFile(sourceDir() + "/po/de.po");
  return catalogue;
}

// The German text of a message; a failure when the catalogue lacks it.
std::string de(const std::string& msgid) {
  auto found = german().find(msgid);
  if (found == german().end() || found->second.msgstr.empty()) {
    ADD_FAILURE() << "no German text for \"" << msgid << "\"";
    return msgid;
  }
  return found->second.msgstr;
}

std::string english(const std::string& msgid) { return msgid; }

std::string chompAll(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

bool contains(const Lines& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

// Bash that makes the German locale and catalogue available in the sandbox:
// the locale generated on the machine (scripts/setup.sh) or, failing that,
// generated here; the built catalogue where the tool looks for it.
std::string germanSetUp() {
  return "locale -a 2>/dev/null | grep -qx de_DE.utf8 || "
         "localedef -i de_DE -f UTF-8 de_DE.UTF-8 >/dev/null 2>&1 || { echo no locale; exit 90; }\n"
         "install -D -m 644 " +
         shellQuote(binaryDir() + "/locale/de/LC_MESSAGES/applyKestro.mo") +
         " /usr/share/locale/de/LC_MESSAGES/applyKestro.mo || exit 91\n"
         "mkdir -p /tftpboot/image\n";
}

// One console message expected from a run: its severity letter (0 when it
// comes before the console form is chosen), the catalogue's English text,
// the texts that fill its "%s" places, and whether it is logged too (the
// usage text is not).
struct Shown {
  char severity;
  std::string msgid;
  std::vector<std::string> args;
  bool logged = true;
};

struct Case {
  std::string args;
  std::vector<Shown> shown;
};

// Runs every case with LANG=`lang` in one sandbox, each with a fresh log.
// Returns console and log per case.
std::vector<std::pair<std::string, std::string>> runCases(Sandbox& sb, const std::string& lang,
                                                         const std::vector<Case>& cases) {
  std::string script = "set -u\n" + germanSetUp() + ": >/share/b.tar\nmkdir -p /share/out\n";
  for (size_t i = 0; i < cases.size(); ++i) {
    std::string n = std::to_string(i);
    script += "rm -f /var/log/maint/kestro.log; cd /root\n"
              "LANG=" + lang + " timeout 60 " + shellQuote(applyKestroPath()) + " " +
              cases[i].args + " </dev/null >/share/out/console" + n + " 2>&1\n"
              "cp /var/log/maint/kestro.log /share/out/log" + n +
              " 2>/dev/null || : >/share/out/log" + n + "\n";
  }
  RunResult r = sb.run(script, 300);
  EXPECT_EQ(0, r.status) << r;
  std::vector<std::pair<std::string, std::string>> out;
  for (size_t i = 0; i < cases.size(); ++i) {
    std::string n = std::to_string(i);
    out.emplace_back(sb.readFile("out/console" + n), sb.readFile("out/log" + n));
  }
  return out;
}

// Each expected message is on the console in the language `tr` gives,
// in order, and in the log in English.
void expectShown(const std::vector<Case>& cases,
                 const std::vector<std::pair<std::string, std::string>>& results,
                 std::string (*tr)(const std::string&), const std::string& lang) {
  ASSERT_EQ(cases.size(), results.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    Lines console = lines(results[i].first);
    Lines log = logLines(results[i].second);
    size_t from = 0;
    for (const Shown& s : cases[i].shown) {
      std::string line = chompAll(fillFormat(tr(s.msgid), s.args));
      if (s.severity) line = std::string(1, s.severity) + line;
      size_t at = from;
      while (at < console.size() && console[at] != line) ++at;
      EXPECT_LT(at, console.size()) << lang << ", applyKestro " << cases[i].args
                                    << ": console lacks (in order) \"" << line << "\"\n"
                                    << results[i].first;
      if (at < console.size()) from = at + 1;
      if (!s.logged) continue;
      std::string record = "T " + chompAll(fillFormat(s.msgid, s.args));
      EXPECT_TRUE(contains(log, record)) << lang << ", applyKestro " << cases[i].args
                                         << ": log lacks \"" << record << "\"\n"
                                         << results[i].second;
    }
  }
}

// Empty when every tool is installed, else the first one missing.
std::string missingTool(const std::vector<std::string>& tools) {
  for (const std::string& t : tools) {
    std::string command = "command -v " + t + " >/dev/null 2>&1";
    if (system(command.c_str()) != 0) return t;
  }
  return "";
}

}  // namespace

TEST(Translation, TemplateIsCurrentWithTheSources) {
  // The committed template is what the `pot` target would write now: a
  // message added to the sources without regenerating it fails here.
  std::string missingXgettext = missingTool({"xgettext"});
  if (!missingXgettext.empty()) {
    if (e2eRequired()) FAIL() << missingXgettext << " is not installed";
    GTEST_SKIP() << missingXgettext << " is not installed";
  }
  std::string list = readHostFile(binaryDir() + "/po/applyKestro.sources");
  ASSERT_FALSE(list.empty()) << "the build wrote no source list";
  std::string sources;
  for (const std::string& s : lines(list)) sources += " " + shellQuote(s);
  char scratch[] = "/tmp/dm-pot-test.XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(scratch));
  std::string fresh = std::string(scratch) + "/fresh.pot";
  std::string command = "bash " + shellQuote(sourceDir() + "/po/make-pot.sh") + " " +
                        shellQuote(sourceDir()) + " " + shellQuote(fresh) + sources;
  ASSERT_EQ(0, system(command.c_str())) << command;
  auto regenerated = readPoFile(fresh);
  auto committed = readPoFile(sourceDir() + "/po/applyKestro.pot");
  std::string cleanup = "rm -rf " + shellQuote(scratch);
  ASSERT_EQ(0, system(cleanup.c_str()));
  ASSERT_FALSE(regenerated.empty());
  for (const auto& e : regenerated) {
    EXPECT_EQ(1u, committed.count(e.first))
        << "not in po/applyKestro.pot (run the `pot` target): \"" << e.first << "\"";
  }
  for (const auto& e : committed) {
    EXPECT_EQ(1u, regenerated.count(e.first))
        << "po/applyKestro.pot holds a message the sources no longer have: \"" << e.first
        << "\"";
  }
}

TEST(Translation, GermanConsoleEnglishLogAndEnglishForAnUnknownLocale) {
  REQUIRE_SANDBOX();
  const std::string missing = "Fatal error: Maintenance bundle %s does not exist.";
  const std::vector<Case> cases = {
      {"--help",
       {{0, START, {}},
        {0, "applyKestro accepts one command line parameter.", {}, false},
        {0, "Specify the name of the maintenance bundle to be processed.", {}, false}}},
      {"-M -x", {{0, START, {}}, {'E', "Invalid option: %s", {"-x"}}}},
      {"-M",
       {{0, START, {}},
        {'E', "Maintenance bundle name must be specified on the command line. Exiting.\n", {}}}},
      {"-M /nonexistent/b.tar", {{0, START, {}}, {'W', missing, {"/nonexistent/b.tar"}}}},
      {"-M a.tar b.tar",
       {{'E', "Only one maintenance bundle may be specified on the command line.", {}},
        {'E', "%s and %s both appear to be bundle names.", {"a.tar", "b.tar"}}}},
      // The checker is not installed (no rpm stand-in).
      {"-M /share/b.tar",
       {{'E', "Prerequesite package tripwire does not appear to be installed. Exiting.", {}}}},
  };
  // With a checker version that may not work and a bundle without members.
  const std::vector<Case> versionCases = {
      {"-M /share/b.tar",
       {{'W',
         "%s installed on your system may not function properly with this software. Contact "
         "ZOR Support.",
         {"tripwire-2.4.0-2.noarch"}},
        {'E', " Fatal error: Maintenance control file maint_cmd_bash1 was not in the tar file.",
         {}}}},
  };
  Sandbox sb;
  auto germanRuns = runCases(sb, "de_DE.UTF-8", cases);
  expectShown(cases, germanRuns, de, "de_DE.UTF-8");
  // Nothing German reaches the log.
  for (const auto& run : germanRuns) {
    EXPECT_EQ(std::string::npos, run.second.find(de(START))) << run.second;
  }
  auto unknownRuns = runCases(sb, "xx_YY.UTF-8", cases);
  expectShown(cases, unknownRuns, english, "xx_YY.UTF-8");

  sb.setRpmTripwire("2.4.0");
  expectShown(versionCases, runCases(sb, "de_DE.UTF-8", versionCases), de, "de_DE.UTF-8");
  expectShown(versionCases, runCases(sb, "xx_YY.UTF-8", versionCases), english, "xx_YY.UTF-8");
}

TEST_F(ApplyRuns, GermanFullRunAndLockWait) {
  // A whole apply run in German holds the lock while its removal script
  // waits for a sign; a second German instance started meanwhile waits,
  // shows and logs the waiting message in German, and goes on when the
  // first has ended. The first run's records stay English.
  std::string script = setUp("plain") + germanSetUp() + "export LANG=de_DE.UTF-8\n" +
                       lockWaitRuns("test -s /share/out/second", "");
  RunResult r = sb->run(script, 300);
  ASSERT_EQ(0, r.status) << r;
  EXPECT_EQ("0\n", sb->readFile("out/status1"));
  EXPECT_EQ("1\n", sb->readFile("out/status2"));
  Lines first = lines(sb->readFile("out/first"));
  Lines second = lines(sb->readFile("out/second"));
  Lines log = logLines(sb->readFile("out/log"));

  // The waiting message: German on the console (before the console form is
  // chosen) and in the log, never English.
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(de(WAITING), second[0]);
  EXPECT_TRUE(contains(log, "T " + de(WAITING))) << sb->readFile("out/log");
  EXPECT_FALSE(contains(log, std::string("T ") + WAITING));
  EXPECT_TRUE(contains(second, "W" + fillFormat(de("Fatal error: Maintenance bundle %s does "
                                                   "not exist."),
                                                {"/tmp/javagz.tar"})))
      << sb->readFile("out/second");

  // The start message and the counts: German on the console, English in
  // the log, with the same numbers.
  EXPECT_TRUE(contains(first, de(START))) << sb->readFile("out/first");
  EXPECT_TRUE(contains(log, std::string("T ") + START));
  std::smatch m;
  std::string records = sb->readFile("out/log");
  ASSERT_TRUE(std::regex_search(records, m,
                                std::regex("Total files in image: ([0-9]+)    Total errors: "
                                           "([0-9]+)\\. \n")))
      << records;
  char line[512];
  snprintf(line, sizeof line, de(TOTALS).c_str(), std::stoi(m[1]), std::stoi(m[2]));
  EXPECT_TRUE(contains(first, line)) << line << "\n" << sb->readFile("out/first");
  ASSERT_TRUE(std::regex_search(records, m,
                                std::regex("Elapsed time = ([0-9]+):([0-9]{2}):([0-9]{2}) \n")));
  snprintf(line, sizeof line, de(ELAPSED).c_str(), std::stoi(m[1]), std::stoi(m[2]),
           std::stoi(m[3]));
  EXPECT_TRUE(contains(first, line)) << line << "\n" << sb->readFile("out/first");
  for (const std::string& l : first) {
    EXPECT_NE(START, l);
    EXPECT_EQ(std::string::npos, l.find("Total files in image"));
  }
}
