// Tests of the log records and console forms: stamped, blank and
// delimiter records, message composition, prefixes and file copies.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "log_test_util.h"
#include "maint.h"

using Lines = std::vector<std::string>;

TEST(LogConsole, TimestampIsTwentyCharacters) {
  std::string t = timestamp();
  EXPECT_EQ(20u, t.size());
  EXPECT_EQ(20, timestampLength());
  EXPECT_EQ(" - ", t.substr(17));
  EXPECT_EQ('/', t[2]);
  EXPECT_EQ('-', t[8]);
}

TEST(LogConsole, LogOnlySplitsLinesAndKeepsPrefixes) {
  TempLog log;
  logOnly("    ", "first\nsecond");
  logOnly("", "");
  logOnly("", "\n\n\n");
  logOnly("", "\nafter one newline");
  logOnly(">>", "\n\nx\n\ny\n");
  EXPECT_EQ((Lines{"T     first", "T     second", "", "T after one newline", "", "", "T >>x",
                   "", "", "T >>y"}),
            log.lines());
}

TEST(LogConsole, RecordsAreWrittenWhole) {
  TempLog log;
  ::log("\n\nstamped");
  logBlank(2);
  logOnlyDelimiter(1, 0);
  writelog("plain");
  std::string hashes(72, '#');
  EXPECT_EQ((Lines{"", "", "T stamped", " ", " ", "", hashes, "plain"}), log.lines());
}

TEST(LogConsole, RecordsBeforeALogIsNamedAreDropped) {
  logFileName(nullptr);
  testing::internal::CaptureStdout();
  log("nowhere");
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

TEST(LogConsole, ComposeWithOneText) {
  char out[300];
  composeMessage(out, sizeof out, "Attempt failed.", "No such file", nullptr);
  EXPECT_STREQ("Attempt failed. No such file.", out);
  composeMessage(out, sizeof out, "Bundle %s missing.", "b.tar", nullptr);
  EXPECT_STREQ("Bundle b.tar missing.", out);
}

TEST(LogConsole, ComposeWithTwoTexts) {
  char out[300];
  composeMessage(out, sizeof out, "Could not open lock file %s.", "/var/maint/kestro.lock",
                 "Permission denied");
  EXPECT_STREQ("Could not open lock file /var/maint/kestro.lock. Permission denied.", out);
  composeMessage(out, sizeof out, "%s and %s both", "a", "b");
  EXPECT_STREQ("a and b both", out);
  // Only "%s" is a place: any other '%' stays as it is.
  composeMessage(out, sizeof out, "100%d %s", "x", "y");
  EXPECT_STREQ("100%d x y.", out);
}

TEST(LogConsole, ComposeCutsToTheBuffer) {
  char out[300];
  std::string longText(400, 'z');
  composeMessage(out, sizeof out, "%s", longText.c_str(), nullptr);
  EXPECT_EQ(299u, std::string(out).size());
}

TEST(LogConsole, ConsoleForms) {
  testing::internal::CaptureStdout();
  setConsole(SCREEN);
  console('E', "plain");
  setConsole(MBEAN);
  console('E', "lettered");
  console('W', "\ntwo\nlines");
  console('I', "Value %s", "v");
  setConsole(SCREEN);
  EXPECT_EQ("plain\nElettered\nW\ntwo\nlines\nIValue v\n", testing::internal::GetCapturedStdout());
}

TEST(LogConsole, DelimiterNewlinesCarryNoLetter) {
  TempLog log;
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  logOnlyDelimiter(0, 2);
  setConsole(SCREEN);
  EXPECT_EQ("\n\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(std::string(72, '#') + "\n", log.raw());
}

TEST(LogConsole, LogAndPrintWritesEachLineToBoth) {
  TempLog log;
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  logAndPrint('I', "  ", "one\n\ntwo\n");
  setConsole(SCREEN);
  EXPECT_EQ("I  one\nI  two\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ((Lines{"T   one", "T   two"}), log.lines());
}

TEST(LogConsole, LogAndConsoleKeepsTheEnglishInTheLog) {
  TempLog log;
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  logAndConsole('E', "Unable to mount %s for processing.", "img", "rc = 32");
  logAndConsole('W', "No texts here.");
  setConsole(SCREEN);
  EXPECT_EQ("EUnable to mount img for processing. rc = 32.\nWNo texts here.\n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ((Lines{"T Unable to mount img for processing. rc = 32.", "T No texts here."}),
            log.lines());
}

TEST(LogConsole, CountNewlinesBuildsThePrefix) {
  char out[128];
  EXPECT_EQ(4, countNewlines(out, sizeof out, "\n\nx", ">>"));
  EXPECT_STREQ("\n\n>>", out);
  EXPECT_EQ(8, countNewlines(out, sizeof out, "\n\n\n\n\n\nx", "    "));
  EXPECT_STREQ("\n\n\n\n    ", out);
}

TEST(LogConsole, TmpfileToLogCopiesLinesBehindTheIndent) {
  TempLog log;
  std::string file = log.dir() + "/captured";
  std::string longLine(600, 'a');
  writeWholeFile(file, "one\r\n\ntwo\n" + longLine + "\nno newline at the end");
  EXPECT_EQ(1, tmpfileToLog("    ", file.c_str()));
  Lines lines = log.lines();
  ASSERT_EQ(6u, lines.size());
  EXPECT_EQ("T     one", lines[0]);
  EXPECT_EQ("T     ", lines[1]);
  EXPECT_EQ("T     two", lines[2]);
  // 294 characters per read behind a four-blank indent.
  EXPECT_EQ("T     " + std::string(294, 'a'), lines[3]);
  EXPECT_EQ("T     " + std::string(294, 'a'), lines[4]);
  EXPECT_EQ("T     " + std::string(12, 'a'), lines[5]);
}

TEST(LogConsole, TmpfileToLogOfMissingOrEmptyFileWritesNothing) {
  TempLog log;
  std::string empty = log.dir() + "/empty";
  writeWholeFile(empty, "");
  EXPECT_EQ(0, tmpfileToLog("    ", empty.c_str()));
  EXPECT_EQ(0, tmpfileToLog("    ", (log.dir() + "/missing").c_str()));
  EXPECT_EQ("", log.raw());
}

TEST(LogConsole, TmpfileToConsoleUsesTheConsoleForm) {
  TempLog log;
  std::string file = log.dir() + "/out";
  writeWholeFile(file, "a\nb\n");
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, tmpfileToConsole('E', "    ", file.c_str()));
  setConsole(SCREEN);
  EXPECT_EQ("E    a\nE    b\n", testing::internal::GetCapturedStdout());
}

TEST(LogConsole, UnopenableLogIsReportedOnTheConsole) {
  TempLog log;
  std::string dirAsLog = log.dir();
  logFileName(dirAsLog.c_str());
  testing::internal::CaptureStdout();
  ::log("lost");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ("Fatal Error: Could not open maintenance logfile " + dirAsLog +
                ". Is a directory.\n\n",
            out);
}

TEST(LogConsole, LogFileNameCreatesTheDirectory) {
  TempLog log;
  std::string nested = log.dir() + "/a/b/c.log";
  logFileName(nested.c_str());
  ::log("x");
  struct stat st;
  EXPECT_EQ(0, stat(nested.c_str(), &st));
}
