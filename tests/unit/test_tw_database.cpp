// Tests of the delete-directory list: the built-in tables and the
// exclusion file.  The inclusion list, the policy text and the database run
// read the machine's root directory and use the tool's fixed temporary
// paths, so their tests run inside the sandbox (e2e/test_tw_real.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "maint.h"

namespace {

using Lines = std::vector<std::string>;

// The non-empty lines of a directory list, in order.
Lines dirs(const char* list) {
  Lines out;
  std::string text = list ? list : "";
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    if (end > pos) out.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

// The directories that are always excluded, each once, in table order.
const Lines ALWAYS_SKIPPED = {
    "/proc",        "/sys",       "/var/log", "/var/run", "/var/tmp",       "/tftpboot/image",
    "/tftpboot/CR", "/var/maint", "/media",   "/mnt",     "/tmp/maint_zor", "/tftpboot/upload"};

class TwDeleteDirList : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dm-twdatabase-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string exclusionFile(const std::string& text) {
    std::string path = dir_ + "/exclude";
    std::ofstream(path) << text;
    return path;
  }
  Lines build(const char* file) {
    char* list = buildDeleteDirList(file);
    EXPECT_NE(list, nullptr);
    if (!list) return {};
    EXPECT_EQ(list[0], '\n') << "a directory list begins with a newline";
    Lines out = dirs(list);
    free(list);
    return out;
  }
  std::string dir_;
};

TEST_F(TwDeleteDirList, WithoutExclusionFileHoldsTheTwelveAlwaysSkippedDirectories) {
  EXPECT_EQ(build(nullptr), ALWAYS_SKIPPED);
  EXPECT_EQ(build(""), ALWAYS_SKIPPED);
  EXPECT_EQ(build((dir_ + "/no-such-file").c_str()), ALWAYS_SKIPPED);
  EXPECT_EQ(build(exclusionFile("# only a comment\n\n   \n").c_str()), ALWAYS_SKIPPED);
}

TEST_F(TwDeleteDirList, ExclusionFileEntriesComeFirstTrimmedAndAbsolute) {
  Lines list = build(exclusionFile("  var/cache  \n"
                                   "# /opt is a comment\n"
                                   "\t/srv/data\n"
                                   "/home/user # not a comment\n")
                         .c_str());
  Lines expected = {"/var/cache", "/srv/data", "/home/user # not a comment"};
  expected.insert(expected.end(), ALWAYS_SKIPPED.begin(), ALWAYS_SKIPPED.end());
  EXPECT_EQ(list, expected);
}

TEST_F(TwDeleteDirList, EachDirectoryIsListedOnce) {
  Lines list = build(exclusionFile("/mnt\n/srv\nsrv\n/proc\n").c_str());
  Lines expected = {"/mnt", "/srv", "/proc"};
  for (const std::string& d : ALWAYS_SKIPPED) {
    if (d != "/mnt" && d != "/proc") expected.push_back(d);
  }
  EXPECT_EQ(list, expected);
}

TEST_F(TwDeleteDirList, MustNotSkipDirectoriesAreNeverExcluded) {
  Lines list = build(exclusionFile("/var\n/var/lib\n/var/lib/rpm\n/var/lib/dpkg\n/var\n").c_str());
  for (const char* kept : {"/var", "/var/lib", "/var/lib/rpm"}) {
    EXPECT_EQ(std::count(list.begin(), list.end(), kept), 0) << kept;
  }
  // Directories below them stay excluded.
  EXPECT_EQ(std::count(list.begin(), list.end(), "/var/lib/dpkg"), 1);
  EXPECT_EQ(std::count(list.begin(), list.end(), "/var/log"), 1);
}

TEST_F(TwDeleteDirList, MembershipIsDecidedByWholePaths) {
  // Neither a longer nor a shorter path that shares the text counts as the
  // built-in directory.
  Lines list = build(exclusionFile("/var/logs\n/pro\n/sys/kernel\n").c_str());
  for (const char* d : {"/var/log", "/proc", "/sys", "/var/logs", "/pro", "/sys/kernel"}) {
    EXPECT_EQ(std::count(list.begin(), list.end(), d), 1) << d;
  }
}

}  // namespace
