// Tests of list-file vetting: line preparation, recognising rpm lists, the
// absolute-path and 255-byte rules with their messages, and the exit on a
// list file that cannot be opened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_test_util.h"
#include "maint.h"

namespace {

class ListFile : public ::testing::Test {
 protected:
  std::string path() const { return log_.dir() + "/files.list"; }
  // Writes the list file and returns its path.
  const char* list(const std::string& text) {
    writeWholeFile(path(), text);
    file_ = path();
    return file_.c_str();
  }
  bool logged(const std::string& text) const {
    for (const auto& line : log_.lines())
      if (line == "T " + text) return true;
    return false;
  }
  std::string absolutePathMessage() const {
    return "File " + path() +
           " has an apparent filename entry that does not have an absolute path.";
  }
  std::string tooLongMessage() const {
    return "File " + path() + " has an apparent filename that is longer than 255 bytes.";
  }

  TempLog log_;
  std::string file_;
};

// An absolute path of exactly `length` bytes.
std::string pathOfLength(size_t length) {
  std::string p = "/opt/";
  while (p.size() + 10 < length) p += "directory/";
  return p + std::string(length - p.size(), 'f');
}

}  // namespace

TEST(ProcessListLine, TrimsAndTellsWhatToSkip) {
  struct Case {
    const char* in;
    const char* out;
    int skip;
  } cases[] = {
      {"  /usr/bin/x\r\n", "/usr/bin/x", 0},
      {"\t\r\n", "", 1},
      {"", "", 1},
      {"   ## note\n", "## note", 1},
      {"  # one hash\n", "# one hash", 0},
      {"rpm -qa  \n", "rpm -qa  ", 0},
      {"\n\r\r\n", "", 1},
  };
  for (const auto& c : cases) {
    char buff[64];
    snprintf(buff, sizeof buff, "%s", c.in);
    EXPECT_EQ(c.skip, processListLine(buff)) << c.in;
    EXPECT_STREQ(c.out, buff) << c.in;
  }
}

TEST_F(ListFile, RpmListIsRecognisedAfterCommentsAndBlanks) {
  EXPECT_EQ(5, idRpmListFile(list("rpm -qa\n/not checked\n")));
  EXPECT_EQ(5, idRpmListFile(list("# files of the bundle\n\n   \n## more\n  /bin/rpm -qa\n")));
  EXPECT_EQ(5, idRpmListFile(list("\r\n\t# comment\r\nrpmlist follows\r\n")));
  EXPECT_EQ(0, idRpmListFile(list("/etc/passwd\nrpm -qa\n")));
  EXPECT_EQ(0, idRpmListFile(list("/usr/bin/rpm -qa\n")));
  EXPECT_EQ(0, idRpmListFile(list("")));
  EXPECT_EQ(0, idRpmListFile(list("# only a comment\n\n")));
}

TEST_F(ListFile, LastLineWithoutNewlineIsNotLookedAt) {
  EXPECT_EQ(0, idRpmListFile(list("# comment\nrpm -qa")));
  EXPECT_EQ(5, idRpmListFile(list("# comment\nrpm -qa\n")));
  // Not an rpm list, so its one entry is vetted as a path.
  EXPECT_EQ(1, validateFilenameFile(list("rpm -qa")));
  EXPECT_TRUE(logged(absolutePathMessage()));
}

TEST_F(ListFile, RpmListIsValidWithoutFurtherChecks) {
  EXPECT_EQ(0, validateFilenameFile(
                   list("\n# list\nrpm -qa\nrelative\n/" + std::string(300, 'x') + "\n")));
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(ListFile, EntriesOfAtMost255BytesAreValid) {
  const std::string p255 = pathOfLength(255);
  ASSERT_EQ(255u, p255.size());
  EXPECT_EQ(
      0, validateFilenameFile(list("# files\n" + p255 + "\n\n  \t" + p255 + "  \r\n/etc/hosts")));
  EXPECT_EQ(0, validateFilenameFile(list("")));
  EXPECT_EQ(0, validateFilenameFile(list("\n\n   # " + std::string(400, 'c') + "\n")));
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(ListFile, EntryOf256BytesIsTooLong) {
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  int result = validateFilenameFile(list("/etc/hosts\n" + pathOfLength(256) + "\nrelative\n"));
  std::string out = testing::internal::GetCapturedStdout();
  setConsole(SCREEN);
  EXPECT_EQ(1, result);
  EXPECT_TRUE(logged(tooLongMessage()));
  EXPECT_FALSE(logged(absolutePathMessage()));
  EXPECT_EQ("E" + tooLongMessage() + "\n", out);
}

TEST_F(ListFile, RelativeEntryIsReportedFirst) {
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  int result = validateFilenameFile(list("/etc/hosts\netc/passwd\n" + pathOfLength(300) + "\n"));
  std::string out = testing::internal::GetCapturedStdout();
  setConsole(SCREEN);
  EXPECT_EQ(1, result);
  EXPECT_TRUE(logged(absolutePathMessage()));
  EXPECT_FALSE(logged(tooLongMessage()));
  EXPECT_EQ("E" + absolutePathMessage() + "\n", out);
}

TEST_F(ListFile, UnopenableListEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::string missing = log_.dir() + "/no/such.list";
  EXPECT_EXIT(idRpmListFile(missing.c_str()), ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(validateFilenameFile(missing.c_str()), ::testing::ExitedWithCode(1), "");
  // The forked child wrote to the same log.
  EXPECT_TRUE(
      logged("Fatal Error: Could not open input file " + missing + ". No such file or directory."));
}
