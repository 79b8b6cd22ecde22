// Tests of the status stanza file: the appends' bytes, reading files
// written by the appends and by hand into the installed-bundles table and
// writing it back, the update rules in their order, updateStanza on whole
// files, and files that cannot be opened.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "support.h"
#include "maint.h"

namespace {

const std::string NOFILE = "No such file or directory.";

std::string shown(const char* text) {
  if (!text) return "~";
  std::string out;
  for (const char* c = text; *c; ++c) out += *c == '\r' ? std::string("\\r") : std::string(1, *c);
  return out;
}

// A record as "name|prep|inst|back|rpm", a missing text as "~".
std::string shown(const ins_elem& r) {
  return shown(r.name) + "|" + shown(r.prep) + "|" + shown(r.inst) + "|" + shown(r.back) + "|" +
         shown(r.rpm);
}

// The table read from `path`, its records joined by " / ".
std::string table(const std::string& path) {
  array* t = readInstalledBundles(path.c_str());
  std::string out;
  for (array_elem* e = first(*t); e; e = next(*e)) {
    out += (out.empty() ? "" : " / ") + shown(*static_cast<ins_elem*>(e->data));
  }
  freeInstalledBundles(t);
  return out;
}

class Stanzas : public ::testing::Test {
 protected:
  std::string path() const { return log_.dir() + "/clientinstall.bundles"; }
  TempLog log_;
};

TEST_F(Stanzas, AppendsWriteTheirBytesWhichReadAndWriteBackUnchanged) {
  ASSERT_EQ(0, appendPrepStanza(path().c_str(), "b1", "T1", OK, "\n\nzeta-1.0\n\nalpha-2\n"));
  ASSERT_EQ(0, appendClientStanza(path().c_str(), "/var/maint/b1.tar", "T2", FAILED));
  ASSERT_EQ(0, appendPrepStanza(path().c_str(), "b2", "T3", FAILED, ""));
  const std::string bytes =
      "\nb1 {\n   Prepped:   OK - T1\n   Applied:   No\n   Backoff:   No\n"
      "   rpm: zeta-1.0\n   rpm: alpha-2\n}\n"
      "\n/var/maint/b1.tar {\n   Applied:   Failed - T2\n}\n"
      "\nb2 {\n   Prepped:   Failed - T3\n   Applied:   No\n   Backoff:   No\n}\n";
  EXPECT_EQ(bytes, readFile(path()));
  array* t = readInstalledBundles(path().c_str());
  std::string copy = log_.dir() + "/copy";
  EXPECT_EQ(0, writeInstalledBundles(copy.c_str(), t));
  // The dump: a delimiter, the count and tag, then each record's addresses.
  writeWholeFile(log_.path(), "");
  testing::internal::CaptureStdout();
  printInstalledBundles("read", t);
  EXPECT_EQ("\n", testing::internal::GetCapturedStdout());
  const ins_elem* r = static_cast<ins_elem*>(last(*t)->data);
  char line[128];
  auto low = [](const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); };
  snprintf(line, sizeof line, "T   2: %08X - %08X %08X %08X %08X %08X ", low(r), low(r->name),
           low(r->prep), low(r->inst), low(r->back), 0u);
  std::vector<std::string> dump = log_.lines();
  ASSERT_EQ(5u, dump.size());
  EXPECT_EQ(std::string(72, '#'), dump[0]);
  EXPECT_EQ("T Number of array entries: 3 - Tag read", dump[1]);
  EXPECT_EQ(line, dump[4]);
  freeInstalledBundles(t);
  EXPECT_EQ(bytes, readFile(copy));
}

TEST_F(Stanzas, HandWrittenFilesReadAndWriteBack) {
  EXPECT_EQ("", table(path()));  // no file
  for (const Row& c : caseRows("stanzas-by-hand")) {
    SCOPED_TRACE(c[0]);
    writeWholeFile(path(), c[1]);
    EXPECT_EQ(c[2], table(path()));
    if (c[3] == "~") continue;
    array* t = readInstalledBundles(path().c_str());
    EXPECT_EQ(0, writeInstalledBundles(path().c_str(), t));
    freeInstalledBundles(t);
    EXPECT_EQ(c[3] == "=" ? c[1] : c[3], readFile(path()));
  }
}

TEST(UpdateStanzaItem, RulesApplyInOrder) {
  for (const Row& row : caseRows("stanza-item-rules")) {
    const char *prep = textOrNull(row[0]), *inst = textOrNull(row[1]), *back = textOrNull(row[2]);
    const std::string& item = row[3];
    int result = std::stoi(row[4]);
    std::string before = "b|" + shown(prep) + "|" + shown(inst) + "|" + shown(back) + "|~";
    SCOPED_TRACE(before + " " + item);
    array* owner = newArray();
    ins_elem* ins = static_cast<ins_elem*>(calloc(1, sizeof(ins_elem)));
    *ins = {copyString("b"), copyString(prep), copyString(inst), copyString(back), nullptr};
    push(*owner, static_cast<void*>(ins));
    std::string value = "NEW";
    EXPECT_EQ(result, updateStanzaItem(ins, item.c_str(), value.c_str()));
    value[0] = 'X';  // the record holds its own copy
    bool applied = result == 0 && item == APPLIED, backoff = result == 0 && item == BACKOFF;
    EXPECT_EQ(shown(*ins), "b|" + shown(prep) + "|" + (applied ? "NEW" : shown(inst)) + "|" +
                               (backoff ? "NEW" : shown(back)) + "|~");
    freeInstalledBundles(owner);
  }
}

TEST_F(Stanzas, UpdateSetsTheNewestStanzaOfTheBundle) {
  const std::string prep = "   Prepped:   OK - p\n";
  const std::string older = "\nalpha {\n" + prep + "   Applied:   No\n   Backoff:   No\n}\n";
  const std::string beta = "\nbeta {\n" + prep + "   Applied:   No\n   Backoff:   No\n}\n";
  const std::string applied = "\nalpha {\n" + prep + "   Applied:   OK - a\n   Backoff:   No\n}\n";
  const std::string client = "\nalpha {\n   Applied:   OK - a\n}\n";
  const std::string NONE = "<none>";
  struct Case {
    const char* what;
    std::string file;  // NONE: no file
    const char* bundle;
    const char* item;
    std::string value;
    int result;
    std::string after;  // empty: unchanged; DATE stands for the time of the update
  } cases[] = {
      {"Applied on the newest stanza only", (older + beta + older), "alpha", APPLIED, OK, 0,
       (older + beta + "\nalpha {\n" + prep + "   Applied:   OK - DATE\n   Backoff:   No\n}\n")},
      {"Backoff after an OK apply", (older + applied), "alpha", BACKOFF, FAILED, 0,
       (older + "\nalpha {\n" + prep + "   Applied:   OK - a\n   Backoff:   Failed - DATE\n}\n")},
      {"the newest decides though an older one would accept: Applied", (older + client), "alpha",
       APPLIED, OK, 1, ""},
      {"unknown bundle", beta, "nosuch", APPLIED, OK, 1, ""},
      {"a prefix of a name is not the name", beta, "bet", APPLIED, OK, 1, ""},
      {"a stanza without Prepped", "\nb1 {\n   Applied:   No\n}\n", "b1", APPLIED, OK, 0,
       "\nb1 {\n   Applied:   OK - DATE\n}\n"},
      {"a record without a name is never found", "   Applied:   No\n}\n", "", APPLIED, OK, 1, ""},
      {"a value with its date fills 299 characters", beta, "beta", APPLIED, std::string(277, 'v'),
       0,
       ("\nbeta {\n" + prep + "   Applied:   " + std::string(277, 'v') +
        " - DATE\n   Backoff:   No\n}\n")},
      {"a longer value is refused, not cut", beta, "beta", APPLIED, std::string(278, 'v'), 1, ""},
      {"a missing file is not created", NONE, "alpha", APPLIED, OK, 1, ""},
  };
  const std::regex date(R"(\d{4}/\d\d/\d\d-\d\d:\d\d:\d\d)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    unlink(path().c_str());
    if (c.file != NONE) writeWholeFile(path(), c.file);
    setConsole(MBEAN);
    testing::internal::CaptureStdout();
    std::string from = canonicalDate(nullptr);
    EXPECT_EQ(c.result, updateStanza(path().c_str(), c.bundle, c.item, c.value.c_str()));
    std::string to = canonicalDate(nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    setConsole(SCREEN);
    std::string after = readFile(path());
    std::smatch when;
    if (std::regex_search(after, when, date) && c.result == 0) {
      EXPECT_TRUE(when.str() == from || when.str() == to) << when.str();
      after = std::regex_replace(after, date, "DATE");
    }
    EXPECT_EQ(c.after.empty() ? (c.file == NONE ? "" : c.file) : c.after, after);
    EXPECT_EQ(c.file != NONE, fileExists(path().c_str()) != 0);
    EXPECT_EQ(c.result ? "WAttempt to update stanza for item " + std::string(c.item) +
                             " in bundle " + c.bundle + " failed.\n"
                       : "",
              out);
  }
}

TEST_F(Stanzas, FilesThatCannotBeOpenedAreReported) {
  const std::string bad = log_.dir() + "/missing/s";
  const std::string append = "Fatal error: Attempt to update " + bad + " file failed. " + NOFILE;
  const std::string write = "Fatal Error: Could not open output file " + bad + ". " + NOFILE;
  array* empty = newArray();
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, appendClientStanza(bad.c_str(), "b", "d", OK));
  EXPECT_EQ(1, appendPrepStanza(bad.c_str(), "b", "d", OK, ""));
  EXPECT_EQ(1, writeInstalledBundles(bad.c_str(), empty));
  EXPECT_EQ("E" + append + "\nE" + append + "\nE" + write + "\n",
            testing::internal::GetCapturedStdout());
  setConsole(SCREEN);
  deleteArray(empty);
  EXPECT_EQ((std::vector<std::string>{"T " + append, "T " + append,
                                      "T writeInstalledBundles - Array count = 0", "T " + write}),
            log_.lines());
}

}  // namespace
