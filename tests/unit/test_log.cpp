// Tests of the log and the console: what each writing operation puts in the
// log and on the console, method tracing, and message composition.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "support.h"
#include "maint.h"

namespace {

using Lines = std::vector<std::string>;

const std::string OPEN = "T     " + std::string(61, '>');
const std::string CLOSE = "T     " + std::string(61, '<');
const std::string HASHES(72, '#');

TEST(Log, WritersPutTheirRecordsInTheLogAndOnTheConsole) {
  TempLog log;
  const std::string file = log.dir() + "/captured";
  struct Case {
    const char* what;
    std::function<void()> act;
    Lines logged;  // stamps shown as "T "
    std::string console;
  } cases[] = {
      {"logOnly: each non-empty line behind the prefix, at most 4 leading newlines",
       [] {
         logOnly("    ", "first\nsecond");
         logOnly("", "\n\n\n");
         logOnly(">>", "\n\nx\n\ny\n");
         logOnly("  ", "\n\n\n\n\n\nz");
         logOnly("", "Old %s", "x");
       },
       {"T     first", "T     second", "", "", "T >>x", "", "", "T >>y", "", "", "", "", "T   z",
        "T Old x"},
       ""},
      {"stamped, blank, delimiter and plain records",
       [] {
         ::log("\n\nstamped");
         logBlank(2);
         logOnlyDelimiter(1, 2);
         writelog("plain");
       },
       {"", "", "T stamped", " ", " ", "", HASHES, "plain"},
       "\n\n"},
      {"console forms",
       [] {
         setConsole(SCREEN);
         console('E', "plain");
         setConsole(MBEAN);
         console('W', "\ntwo\nlines");
         console('I', "Value %s", "v");
       },
       {},
       "plain\nW\ntwo\nlines\nIValue v\n"},
      {"logAndPrint and logAndConsole: the same lines to both",
       [] {
         logAndPrint('I', "  ", "one\n\ntwo\n");
         array* list = newArray();
         push(*list, "three\nfour");
         logAndPrint('W', "- ", *list);
         deleteArray(list);
         logAndConsole('E', "Unable to mount %s for processing.", "img", "rc = 32");
         logAndConsole('W', "No texts here.");
       },
       {"T   one", "T   two", "T - three", "T - four",
        "T Unable to mount img for processing. rc = 32.", "T No texts here."},
       "I  one\nI  two\nW- three\nW- four\nEUnable to mount img for processing. rc = 32.\nWNo "
       "texts here.\n"},
      {"tmpfileToLog: lines behind the indent, 294 characters a piece, no unfinished last line",
       [&] {
         writeWholeFile(file, "one\r\n\ntwo\n" + std::string(600, 'a') + "\nno newline");
         EXPECT_EQ(1, tmpfileToLog("    ", file.c_str()));
         writeWholeFile(file, "");
         EXPECT_EQ(0, tmpfileToLog("    ", file.c_str()));
         EXPECT_EQ(0, tmpfileToLog("    ", (file + "-missing").c_str()));
       },
       {"T     one", "T     ", "T     two", "T     " + std::string(294, 'a'),
        "T     " + std::string(294, 'a'), "T     " + std::string(12, 'a')},
       ""},
      {"trace switched with scopes open keeps the depth sound",
       [] {
         {
           methodTrace untraced("U");
           methodTrace::startTracing();
           { methodTrace inner("I"); }
         }  // U owes no exit line and lowers nothing
         EXPECT_EQ(0, methodTrace::levelValue());
         {
           methodTrace traced("T");
           { methodTrace nested("N"); }
           methodTrace::stopTracing();
         }
         EXPECT_EQ(0, methodTrace::levelValue());
       },
       {" ", OPEN, "T ->>I", "T <<-I", CLOSE, " ", " ", OPEN, "T ->>T", "T    ->>N", "T    <<-N"},
       ""},
      {"a log that cannot be opened is reported on the console; an unnamed one drops records",
       [&] {
         setConsole(SCREEN);
         logFileName(log.dir().c_str());
         ::log("lost");
         logFileName(nullptr);
         ::log("nowhere");
         logFileName((log.dir() + "/a/b/c.log").c_str());
         ::log("x");
         struct stat st;
         EXPECT_EQ(0, stat((log.dir() + "/a/b/c.log").c_str(), &st));
         logFileName(log.path().c_str());
       },
       {},
       "Fatal Error: Could not open maintenance logfile " + log.dir() + ". Is a directory.\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeWholeFile(log.path(), "");
    setConsole(MBEAN);
    testing::internal::CaptureStdout();
    c.act();
    EXPECT_EQ(c.console, testing::internal::GetCapturedStdout());
    EXPECT_EQ(c.logged, log.lines());
  }
  setConsole(SCREEN);
}

TEST(Log, ComposeMessage) {
  std::vector<Row> cases = caseRows("compose");
  cases.push_back({"%s", std::string(400, 'z'), "~", std::string(299, 'z')});  // cut to the buffer
  for (const Row& c : cases) {
    SCOPED_TRACE(c[0]);
    char out[MAINT_BUFF];
    composeMessage(out, sizeof out, c[0].c_str(), textOrNull(c[1]), textOrNull(c[2]));
    EXPECT_EQ(c[3], out);
  }
}

}  // namespace
