// Tests of the status stanza appends: client and preparation stanzas,
// their bytes, and an unopenable file.
#include <gtest/gtest.h>

#include <string>

#include "log_test_util.h"
#include "maint.h"

TEST(StanzaAppend, ClientStanzasAreAppended) {
  TempLog log;
  std::string file = log.dir() + "/clientinstall.bundles";
  EXPECT_EQ(0, appendClientStanza(file.c_str(), "/var/maint/downloads/b.tar",
                                  "2026/12/06-01:02:03", OK));
  EXPECT_EQ(0, appendClientStanza(file.c_str(), "/var/maint/downloads/b.tar",
                                  "2026/12/06-01:02:04", FAILED));
  EXPECT_EQ(
      "\n/var/maint/downloads/b.tar {\n   Applied:   OK - 2026/12/06-01:02:03\n}\n"
      "\n/var/maint/downloads/b.tar {\n   Applied:   Failed - 2026/12/06-01:02:04\n}\n",
      readWholeFile(file));
}

TEST(StanzaAppend, PrepStanzaListsPackages) {
  TempLog log;
  std::string file = log.dir() + "/s";
  EXPECT_EQ(0, appendPrepStanza(file.c_str(), "b1", "2026/01/02-03:04:05", OK,
                                "\npkg-a 1\n\npkg-b\n"));
  EXPECT_EQ(0, appendPrepStanza(file.c_str(), "b2", "2026/01/02-03:04:06", FAILED, ""));
  EXPECT_EQ(
      "\nb1 {\n   Prepped:   OK - 2026/01/02-03:04:05\n   Applied:   No\n   Backoff:   No\n"
      "   rpm: pkg-a 1\n   rpm: pkg-b\n}\n"
      "\nb2 {\n   Prepped:   Failed - 2026/01/02-03:04:06\n   Applied:   No\n   Backoff:   No\n}\n",
      readWholeFile(file));
}

TEST(StanzaAppend, StatusWords) {
  EXPECT_STREQ("Prepped", PREPPED);
  EXPECT_STREQ("Applied", APPLIED);
  EXPECT_STREQ("Backoff", BACKOFF);
  EXPECT_STREQ("rpm", RPM);
  EXPECT_STREQ("OK", OK);
  EXPECT_STREQ("Failed", FAILED);
  EXPECT_STREQ("No", NO);
  EXPECT_STREQ("No/Abandoned", ABANDONED);
  EXPECT_STREQ("NotPossible", NOTPOSSIBLE);
}

TEST(StanzaAppend, UnopenableFileIsReportedAndLeftAlone) {
  TempLog log;
  std::string file = log.dir() + "/missing-dir/s";
  setConsole(MBEAN);
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, appendClientStanza(file.c_str(), "b", "d", OK));
  EXPECT_EQ(1, appendPrepStanza(file.c_str(), "b", "d", OK, ""));
  setConsole(SCREEN);
  std::string message =
      "Fatal error: Attempt to update " + file + " file failed. No such file or directory.";
  EXPECT_EQ("E" + message + "\nE" + message + "\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ((std::vector<std::string>{"T " + message, "T " + message}), log.lines());
}
