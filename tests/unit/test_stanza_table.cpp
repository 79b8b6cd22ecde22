// Tests of the installed-bundles table: reading files written by the
// appends and by hand, writing back byte for byte, the update rules in their
// order, updateStanza on files with several bundles and repeated stanzas,
// and the texts of the warnings and errors.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "log_test_util.h"
#include "maint.h"

namespace {

// A stanza file and the log, both in one temporary directory.
class StanzaFile : public ::testing::Test {
 protected:
  std::string path() const { return log_.dir() + "/clientinstall.bundles"; }
  std::string other() const { return log_.dir() + "/written.bundles"; }
  void write(const std::string& text) { writeWholeFile(path(), text); }
  std::string bytes() const { return readWholeFile(path()); }
  // Log lines without their stamps (each stamped line starts with "T ").
  std::vector<std::string> logLines() const { return log_.lines(); }
  bool logged(const std::string& text) const {
    for (const auto& line : log_.lines())
      if (line == "T " + text) return true;
    return false;
  }

  TempLog log_;
};

struct Record {
  const char* name;
  const char* prep;
  const char* inst;
  const char* back;
  const char* rpm;
};

std::string show(const char* text) { return text ? "\"" + std::string(text) + "\"" : "null"; }

std::string show(const ins_elem& r) {
  return show(r.name) + " " + show(r.prep) + " " + show(r.inst) + " " + show(r.back) + " " +
         show(r.rpm);
}

std::string show(const Record& r) {
  return show(r.name) + " " + show(r.prep) + " " + show(r.inst) + " " + show(r.back) + " " +
         show(r.rpm);
}

std::vector<std::string> records(array* table) {
  std::vector<std::string> out;
  for (array_elem* e = first(*table); e; e = next(*e))
    out.push_back(show(*static_cast<ins_elem*>(e->data)));
  return out;
}

std::vector<std::string> records(const std::vector<Record>& expected) {
  std::vector<std::string> out;
  for (const auto& r : expected) out.push_back(show(r));
  return out;
}

// Reads `file` and checks every record field by field.
void expectTable(const std::string& file, const std::vector<Record>& expected) {
  array* table = readInstalledBundles(file.c_str());
  ASSERT_NE(nullptr, table);
  EXPECT_EQ(records(expected), records(table));
  EXPECT_EQ(static_cast<int>(expected.size()), arraySize(*table));
  freeInstalledBundles(table);
}

// A record built by hand, as the table would own it.
ins_elem* newRecord(const Record& r) {
  ins_elem* ins = static_cast<ins_elem*>(calloc(1, sizeof(ins_elem)));
  ins->name = copyString(r.name);
  ins->prep = copyString(r.prep);
  ins->inst = copyString(r.inst);
  ins->back = copyString(r.back);
  ins->rpm = copyString(r.rpm);
  return ins;
}

void freeRecord(ins_elem* ins) {
  free(ins->name);
  free(ins->prep);
  free(ins->inst);
  free(ins->back);
  free(ins->rpm);
  free(ins);
}

const char* const TS1 = "2024/01/02-03:04:05";
const char* const TS2 = "2024/02/03-04:05:06";

}  // namespace

// ---------------------------------------------------------------------------
// Files written by the appends
// ---------------------------------------------------------------------------

TEST_F(StanzaFile, AppendedStanzasReadAsRecords) {
  ASSERT_EQ(0, appendPrepStanza(path().c_str(), "bundleA", TS1, OK,
                                "\n\nzeta-1.0\n\nalpha-2.0\nmid-3\n"));
  ASSERT_EQ(0, appendClientStanza(path().c_str(), "bundleA", TS2, FAILED));
  ASSERT_EQ(0, appendPrepStanza(path().c_str(), "bundleB", TS2, FAILED, ""));
  expectTable(path(),
              {
                  {"bundleA", "OK - 2024/01/02-03:04:05", "No", "No", "zeta-1.0 alpha-2.0 mid-3 "},
                  {"bundleA", nullptr, "Failed - 2024/02/03-04:05:06", nullptr, nullptr},
                  {"bundleB", "Failed - 2024/02/03-04:05:06", "No", "No", nullptr},
              });
}

TEST_F(StanzaFile, AppendedFileWritesBackByteForByte) {
  appendPrepStanza(path().c_str(), "b1", TS1, OK, "pkg-a\npkg-b\npkg-c");
  appendClientStanza(path().c_str(), "b1", TS2, OK);
  appendPrepStanza(path().c_str(), "b2", TS1, FAILED, "");
  appendClientStanza(path().c_str(), "b3", TS2, FAILED);
  appendPrepStanza(path().c_str(), "b1", TS2, OK, "pkg-d\n");
  array* table = readInstalledBundles(path().c_str());
  EXPECT_EQ(0, writeInstalledBundles(other().c_str(), table));
  freeInstalledBundles(table);
  EXPECT_EQ(bytes(), readWholeFile(other()));
  EXPECT_TRUE(logged("writeInstalledBundles - Array count = 5"));
}

// ---------------------------------------------------------------------------
// Reading rules on files written by hand
// ---------------------------------------------------------------------------

TEST_F(StanzaFile, MissingOrEmptyFileReadsAsEmptyTable) {
  expectTable(path(), {});
  write("");
  expectTable(path(), {});
  write("\n\n   \n\t\n");
  expectTable(path(), {});
}

TEST_F(StanzaFile, BlankLinesAndIndentationDoNotMatter) {
  write("\n\n\n  b1 {\n\n\t  Applied:   No\n \n   Prepped:OK - x\n\t}\n\n\n");
  expectTable(path(), {{"b1", "OK - x", "No", nullptr, nullptr}});
}

TEST_F(StanzaFile, ItemsCarryOverWhenClosingLineIsMissing) {
  write(
      "\nfirst {\n   Prepped:   OK - p\n   rpm: a\n"
      "\nsecond {\n   Applied:   No\n   rpm: b\n}\n");
  expectTable(path(), {{"second", "OK - p", "No", nullptr, "a b "}});
}

TEST_F(StanzaFile, ItemsBeforeFirstHeaderAndAfterLastCloseLine) {
  write("   Backoff:   No\n\nb1 {\n   Applied:   No\n}\n   Prepped:   OK - lost\nb2 {\n");
  expectTable(path(), {{"b1", nullptr, "No", "No", nullptr}});
}

TEST_F(StanzaFile, LaterItemReplacesEarlierAndOnlyCloseClears) {
  write("\nb1 {\n   Applied:   No\n   Applied:   OK - 2\n}\n\nb2 {\n   Backoff:   No\n}\n");
  expectTable(path(), {{"b1", nullptr, "OK - 2", nullptr, nullptr},
                       {"b2", nullptr, nullptr, "No", nullptr}});
}

TEST_F(StanzaFile, HeaderTakesPrecedenceOverItem) {
  // A line with both "{" and ":" is a header, cut at its first blank.
  write("\nname:with:colons {\n   Applied:   No\n}\n\nb2 extra words {\n}\n");
  expectTable(path(), {{"name:with:colons", nullptr, "No", nullptr, nullptr},
                       {"b2", nullptr, nullptr, nullptr, nullptr}});
}

TEST_F(StanzaFile, HeaderWithoutBlankKeepsTextBeforeBrace) {
  write("\nb1{\n}\n\nb2\t{\n}\n\n{\n}\n");
  expectTable(path(), {{"b1", nullptr, nullptr, nullptr, nullptr},
                       {"b2", nullptr, nullptr, nullptr, nullptr},
                       {"", nullptr, nullptr, nullptr, nullptr}});
}

TEST_F(StanzaFile, KeysAreComparedExactly) {
  write(
      "\nb1 {\n   Applied :   OK\n   applied:   OK\n   APPLIED:   OK\n   Status:   x\n"
      "   Prepped:   OK - 2024/01/02-03:04:05  \n   just text\n   } \n}\n");
  // Later colons and trailing blanks stay in the value; "} " does not close.
  expectTable(path(), {{"b1", "OK - 2024/01/02-03:04:05  ", nullptr, nullptr, nullptr}});
}

TEST_F(StanzaFile, CarriageReturnsStayInTheirLines) {
  write("\r\nb1 {\r\n   Applied:   No\r\n}\r\n\r\nb2 {\r\n   rpm: p\r\n}\n");
  // "}\r" closes nothing, so b1's item goes on into b2.
  expectTable(path(), {{"b2", nullptr, "No\r", nullptr, "p\r "}});
}

TEST_F(StanzaFile, CloseBeforeAnyHeaderGivesRecordWithoutName) {
  write("   Applied:   No\n}\n");
  expectTable(path(), {{nullptr, nullptr, "No", nullptr, nullptr}});
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

TEST_F(StanzaFile, WriterNormalisesItemLinesAndSplitsPackages) {
  write(
      "junk line\n\nb1 {\n  rpm:two words\nBackoff:No\n  Applied:OK - t\n"
      "Prepped:OK - p\n   Other:   x\n}\n");
  array* table = readInstalledBundles(path().c_str());
  EXPECT_EQ(0, writeInstalledBundles(path().c_str(), table));
  freeInstalledBundles(table);
  EXPECT_EQ(
      "\nb1 {\n   Prepped:   OK - p\n   Applied:   OK - t\n   Backoff:   No\n"
      "   rpm: two\n   rpm: words\n}\n",
      bytes());
}

TEST_F(StanzaFile, WriterLeavesOutMissingItems) {
  const std::string text = "\nb1 {\n   Backoff:   No\n   rpm: x\n}\n\nb2 {\n}\n";
  write(text);
  array* table = readInstalledBundles(path().c_str());
  EXPECT_EQ(0, writeInstalledBundles(other().c_str(), table));
  freeInstalledBundles(table);
  EXPECT_EQ(text, readWholeFile(other()));
}

TEST_F(StanzaFile, EmptyTableEmptiesTheFile) {
  write("\nb1 {\n}\n");
  array* table = newArray();
  EXPECT_EQ(0, writeInstalledBundles(path().c_str(), table));
  deleteArray(table);
  EXPECT_EQ("", bytes());
  EXPECT_TRUE(logged("writeInstalledBundles - Array count = 0"));
}

TEST_F(StanzaFile, UnopenableOutputIsReported) {
  const std::string bad = log_.dir() + "/missing/dir/out.bundles";
  array* table = newArray();
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, writeInstalledBundles(bad.c_str(), table));
  std::string out = testing::internal::GetCapturedStdout();
  setConsole(SCREEN);
  deleteArray(table);
  const std::string message =
      "Fatal Error: Could not open output file " + bad + ". No such file or directory.";
  EXPECT_TRUE(logged(message));
  EXPECT_EQ("E" + message + "\n", out);
}

TEST_F(StanzaFile, DumpLogsCountTagAndAddresses) {
  write("\nb1 {\n   Applied:   No\n}\n\nb2 {\n   rpm: x\n}\n");
  array* table = readInstalledBundles(path().c_str());
  testing::internal::CaptureStdout();
  printInstalledBundles("after read", table);
  EXPECT_EQ("\n", testing::internal::GetCapturedStdout());
  std::vector<std::string> lines = logLines();
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ(std::string(72, '#'), lines[0]);
  EXPECT_EQ("T Number of array entries: 2 - Tag after read", lines[1]);
  // Each record line: number, record address, then name, prep, inst, back,
  // rpm addresses, with 0 for a missing text.
  int number = 0;
  for (array_elem* e = first(*table); e; e = next(*e), ++number) {
    const ins_elem* ins = static_cast<const ins_elem*>(e->data);
    std::smatch m;
    const std::string& line = lines[2 + number];
    ASSERT_TRUE(std::regex_match(line, m,
                                 std::regex("T +(\\d+): ([0-9A-F]{8,}) - ([0-9A-F]{8,}) "
                                            "([0-9A-F]{8,}) ([0-9A-F]{8,}) ([0-9A-F]{8,}) "
                                            "([0-9A-F]{8,}) ")))
        << line;
    EXPECT_EQ(number, std::stoi(m[1]));
    const void* expected[] = {ins, ins->name, ins->prep, ins->inst, ins->back, ins->rpm};
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(reinterpret_cast<uintptr_t>(expected[i]), std::stoull(m[2 + i], nullptr, 16))
          << line << " field " << i;
  }
  freeInstalledBundles(table);
  freeInstalledBundles(nullptr);
}

// ---------------------------------------------------------------------------
// Update rules
// ---------------------------------------------------------------------------

struct RuleCase {
  Record before;
  const char* item;
  int result;
  const char* why;
};

TEST(UpdateStanzaItem, RulesApplyInOrder) {
  const RuleCase cases[] = {
      {{"b", "OK - p", "No", "No", nullptr}, "Prepped", 1, "Prepped is never updated"},
      {{"b", "Failed - p", "No", "No", nullptr}, "Applied", 1, "failed preparation"},
      {{"b", "Failed", "OK - a", "No", nullptr}, "Backoff", 1, "failed preparation"},
      {{"b", "OK - p", "No", "No", nullptr}, "Applied", 0, "Applied over No"},
      {{"b", "OK - p", "No", "No", nullptr}, "Backoff", 1, "Backoff before an apply"},
      {{"b", "OK - p", "OK - a", "No", nullptr}, "Backoff", 0, "Backoff after OK"},
      {{"b", "OK - p", "Failed - a", "No", nullptr}, "Backoff", 1, "Backoff after a failure"},
      {{"b", "OK - p", "OK - a", "No", nullptr}, "Applied", 1, "Applied only once"},
      {{"b", "OK - p", "OK - a", "OK - b", nullptr}, "Backoff", 1, "Backoff only once"},
      {{"b", "OK - p", "No ", "No", nullptr}, "Applied", 1, "No compared exactly"},
      {{"b", "OK - p", "No", "No", nullptr}, "applied", 1, "item compared exactly"},
      {{"b", "OK - p", "No", "No", nullptr}, "rpm", 1, "no rule for packages"},
      {{"b", nullptr, "No", nullptr, nullptr}, "Applied", 0, "missing Prepped is empty"},
      {{"b", nullptr, "OK - a", nullptr, nullptr}, "Backoff", 1, "missing Backoff is not No"},
      {{"b", "OK - p", nullptr, "No", nullptr}, "Applied", 1, "missing Applied is not No"},
  };
  for (const auto& c : cases) {
    ins_elem* ins = newRecord(c.before);
    std::string value = "NEW - 2024/03/04-05:06:07";
    EXPECT_EQ(c.result, updateStanzaItem(ins, c.item, value.c_str())) << c.why;
    Record after = c.before;
    if (c.result == 0 && strcmp(c.item, APPLIED) == 0) after.inst = "NEW - 2024/03/04-05:06:07";
    if (c.result == 0 && strcmp(c.item, BACKOFF) == 0) after.back = "NEW - 2024/03/04-05:06:07";
    value[0] = 'X';  // the record holds its own copy
    EXPECT_EQ(show(after), show(*ins)) << c.why;
    freeRecord(ins);
  }
}

// ---------------------------------------------------------------------------
// updateStanza on whole files
// ---------------------------------------------------------------------------

namespace {

// Checks that `line` is "   ITEM:   VALUE - <date>" with a date between
// `from` and now, and returns the date text.
std::string datedLine(const std::string& line, const std::string& item, const std::string& value,
                      time_t from) {
  std::smatch m;
  std::regex form("   " + item + ":   " + value +
                  " - ((\\d{4})/(\\d\\d)/(\\d\\d)-(\\d\\d):(\\d\\d):(\\d\\d))");
  if (!std::regex_match(line, m, form)) {
    ADD_FAILURE() << "not a dated " << item << " line: " << line;
    return "";
  }
  struct tm tm = {};
  tm.tm_year = std::stoi(m[2]) - 1900;
  tm.tm_mon = std::stoi(m[3]) - 1;
  tm.tm_mday = std::stoi(m[4]);
  tm.tm_hour = std::stoi(m[5]);
  tm.tm_min = std::stoi(m[6]);
  tm.tm_sec = std::stoi(m[7]);
  tm.tm_isdst = -1;
  time_t when = mktime(&tm);
  EXPECT_LE(from, when) << line;
  EXPECT_LE(when, time(nullptr)) << line;
  return m[1];
}

// Replaces the first occurrence of `from` at or after `start`.
std::string replaceAt(std::string text, size_t start, const std::string& from,
                      const std::string& to) {
  size_t at = text.find(from, start);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no " << from << " in " << text;
    return text;
  }
  return text.replace(at, from.size(), to);
}

}  // namespace

TEST_F(StanzaFile, UpdateChangesOnlyNewestStanzaOfBundle) {
  appendPrepStanza(path().c_str(), "alpha", TS1, OK, "a1\na2");
  appendPrepStanza(path().c_str(), "beta", TS1, OK, "b1");
  appendClientStanza(path().c_str(), "gamma", TS1, OK);
  appendPrepStanza(path().c_str(), "alpha", TS2, OK, "a3");
  appendPrepStanza(path().c_str(), "delta", TS2, OK, "");
  const std::string before = bytes();
  const size_t newestAlpha = before.find("\nalpha {", before.find("\nalpha {") + 1);
  time_t from = time(nullptr);

  ASSERT_EQ(0, updateStanza(path().c_str(), "alpha", APPLIED, OK));
  std::string after = bytes();
  size_t at = after.find("   Applied:   OK - ", newestAlpha);
  ASSERT_NE(std::string::npos, at);
  std::string line = after.substr(at, after.find('\n', at) - at);
  std::string date = datedLine(line, "Applied", "OK", from);
  EXPECT_EQ(replaceAt(before, newestAlpha, "   Applied:   No\n", line + "\n"), after);

  // The same item is set once only; the file keeps its bytes.
  EXPECT_EQ(1, updateStanza(path().c_str(), "alpha", APPLIED, OK));
  EXPECT_EQ(after, bytes());
  EXPECT_TRUE(logged("Attempt to update stanza for item Applied in bundle alpha failed."));

  // Back-off follows an OK apply.
  ASSERT_EQ(0, updateStanza(path().c_str(), "alpha", BACKOFF, FAILED));
  std::string third = bytes();
  at = third.find("   Backoff:   Failed - ", newestAlpha);
  ASSERT_NE(std::string::npos, at);
  line = third.substr(at, third.find('\n', at) - at);
  datedLine(line, "Backoff", "Failed", from);
  EXPECT_EQ(replaceAt(after, newestAlpha, "   Backoff:   No\n", line + "\n"), third);
}

TEST_F(StanzaFile, NewestStanzaDecidesEvenWhenOlderOneWouldAccept) {
  appendPrepStanza(path().c_str(), "alpha", TS1, OK, "a1");
  appendClientStanza(path().c_str(), "alpha", TS2, OK);
  const std::string before = bytes();
  // The newest stanza has Applied OK and no Backoff line: both refused.
  EXPECT_EQ(1, updateStanza(path().c_str(), "alpha", APPLIED, OK));
  EXPECT_EQ(1, updateStanza(path().c_str(), "alpha", BACKOFF, OK));
  EXPECT_EQ(before, bytes());
  EXPECT_TRUE(logged("Attempt to update stanza for item Backoff in bundle alpha failed."));
}

TEST_F(StanzaFile, UpdateOfFailedPreparationOrUnknownBundleIsRefused) {
  appendPrepStanza(path().c_str(), "broken", TS1, FAILED, "x");
  const std::string before = bytes();
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, updateStanza(path().c_str(), "broken", APPLIED, OK));
  EXPECT_EQ(1, updateStanza(path().c_str(), "nosuch", APPLIED, OK));
  EXPECT_EQ(1, updateStanza(path().c_str(), "brok", APPLIED, OK));
  std::string out = testing::internal::GetCapturedStdout();
  setConsole(SCREEN);
  EXPECT_EQ(before, bytes());
  EXPECT_EQ(
      "WAttempt to update stanza for item Applied in bundle broken failed.\n"
      "WAttempt to update stanza for item Applied in bundle nosuch failed.\n"
      "WAttempt to update stanza for item Applied in bundle brok failed.\n",
      out);
}

TEST_F(StanzaFile, UpdateOfMissingFileCreatesNothing) {
  EXPECT_EQ(1, updateStanza(path().c_str(), "alpha", APPLIED, OK));
  EXPECT_FALSE(fileExists(path().c_str()));
  EXPECT_TRUE(logged("Attempt to update stanza for item Applied in bundle alpha failed."));
}

TEST_F(StanzaFile, UpdateOfClientStanzaWithoutPreppedLine) {
  // A hand-made stanza without Prepped: the missing value counts as empty.
  write("\nb1 {\n   Applied:   No\n}\n");
  ASSERT_EQ(0, updateStanza(path().c_str(), "b1", APPLIED, OK));
  std::string text = bytes();
  ASSERT_EQ(0u, text.find("\nb1 {\n   Applied:   OK - ")) << text;
  EXPECT_EQ(std::string::npos, text.find("Prepped")) << text;
  EXPECT_EQ(std::string::npos, text.find("Backoff")) << text;
}

TEST_F(StanzaFile, RecordWithoutNameIsNeverFound) {
  write("   Applied:   No\n}\n");
  EXPECT_EQ(1, updateStanza(path().c_str(), "", APPLIED, OK));
  EXPECT_EQ("   Applied:   No\n}\n", bytes());
}

TEST_F(StanzaFile, ValueLengthIsBoundedByTheDateBuffer) {
  // value, " - " and the 19-character date fill at most 299 characters.
  appendPrepStanza(path().c_str(), "b", TS1, OK, "");
  const std::string before = bytes();
  EXPECT_EQ(1, updateStanza(path().c_str(), "b", APPLIED, std::string(278, 'v').c_str()));
  EXPECT_EQ(before, bytes());
  EXPECT_EQ(0, updateStanza(path().c_str(), "b", APPLIED, std::string(277, 'v').c_str()));
  EXPECT_NE(std::string::npos, bytes().find("   Applied:   " + std::string(277, 'v') + " - "));
}
