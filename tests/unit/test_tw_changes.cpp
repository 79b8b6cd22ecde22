// Tests of the change lists (accessors, free and new operations, missing
// lists) and of the backoff file list written from them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "maint.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

array* listOf(std::initializer_list<const char*> entries) {
  array* list = newArray();
  for (const char* e : entries) push(*list, e);
  return list;
}

class TwChanges : public ::testing::Test {
 protected:
  void SetUp() override {
    freeChangeLists();
    char pattern[] = "/tmp/dm-twchanges-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    freeChangeLists();
    logFileName(nullptr);
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
};

struct ListOps {
  const char* name;
  array*& global;
  array* (*accessor)();
  void (*release)();
};

TEST_F(TwChanges, AccessorsAndFreeOperationsWorkOnTheirOwnGlobal) {
  ListOps lists[] = {
      {"changed files", myChangedFiles, changedFiles, freeChangedFiles},
      {"attributes", myAttributesModified, attributesModified, freeAttributesModified},
      {"added files", myAddedFiles, addedFiles, freeAddedFiles},
      {"deleted files", myDeletedFiles, deletedFiles, freeDeletedFiles},
      {"added directories", myAddedDirectories, addedDirectories, freeAddedDirectories},
      {"deleted directories", myDeletedDirectories, deletedDirectories, freeDeletedDirectories},
      {"originals", myOriginals4HardLinks, originals4HardLinks, freeOriginals4HardLinks},
      {"hard links", myChangedHardLinks, changedHardLinks, freeChangedHardLinks},
  };
  for (ListOps& l : lists) l.global = listOf({l.name, "second"});
  for (ListOps& l : lists) {
    ASSERT_NE(l.accessor(), nullptr) << l.name;
    EXPECT_STREQ(static_cast<char*>(first(*l.accessor())->data), l.name);
  }
  // Freeing one list leaves the others alone.
  for (size_t i = 0; i < sizeof lists / sizeof lists[0]; ++i) {
    lists[i].release();
    EXPECT_EQ(lists[i].accessor(), nullptr) << lists[i].name;
    EXPECT_EQ(lists[i].global, nullptr) << lists[i].name;
    for (size_t j = i + 1; j < sizeof lists / sizeof lists[0]; ++j) {
      EXPECT_NE(lists[j].accessor(), nullptr) << lists[j].name;
    }
  }
  // A missing list can be freed again.
  for (ListOps& l : lists) l.release();
}

TEST_F(TwChanges, NewOperationsReplaceWithoutFreeing) {
  newChangedHardLinks();
  newOriginals4HardLinks();
  ASSERT_NE(changedHardLinks(), nullptr);
  ASSERT_NE(originals4HardLinks(), nullptr);
  EXPECT_EQ(arraySize(*changedHardLinks()), 0);
  EXPECT_EQ(arraySize(*originals4HardLinks()), 0);

  array* old = originals4HardLinks();
  push(*old, "/still/usable");
  newOriginals4HardLinks();
  EXPECT_NE(originals4HardLinks(), old);
  EXPECT_EQ(arraySize(*originals4HardLinks()), 0);
  EXPECT_STREQ(static_cast<char*>(first(*old)->data), "/still/usable");
  deleteArray(old);
}

TEST_F(TwChanges, BackoffListWithEmptyListsIsAnEmptyFile) {
  std::string out = dir_ + "/backoff";
  myDeletedFiles = newArray();
  myChangedFiles = newArray();
  newOriginals4HardLinks();
  EXPECT_EQ(buildBackoffFileList(out.c_str()), 0);
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_EQ(readFile(out), "");
}

TEST_F(TwChanges, BackoffListHoldsDeletedThenChangedThenOriginals) {
  std::string out = dir_ + "/backoff";
  myDeletedFiles = listOf({"/etc/old", "/usr/lib/gone.so"});
  myChangedFiles = listOf({"etc/passwd"});
  myOriginals4HardLinks = listOf({"/usr/bin/other-name"});
  // A list of another kind does not belong in the backoff list.
  myAddedFiles = listOf({"/etc/new"});
  EXPECT_EQ(buildBackoffFileList(out.c_str()), 4);
  EXPECT_EQ(readFile(out), "etc/old\nusr/lib/gone.so\netc/passwd\nusr/bin/other-name\n");
}

TEST_F(TwChanges, BackoffListReplacesAnOldFileAndTakesMissingListsAsEmpty) {
  std::string out = dir_ + "/backoff";
  std::ofstream(out) << "stale line\nanother\n";
  myDeletedFiles = listOf({"/etc/old"});
  myChangedFiles = listOf({"etc/passwd"});
  // No newOriginals4HardLinks: that list does not exist.
  ASSERT_EQ(originals4HardLinks(), nullptr);
  EXPECT_EQ(buildBackoffFileList(out.c_str()), 2);
  EXPECT_EQ(readFile(out), "etc/old\netc/passwd\n");

  freeChangeLists();
  EXPECT_EQ(buildBackoffFileList(out.c_str()), 0);
  EXPECT_EQ(readFile(out), "");
}

TEST_F(TwChanges, BackoffListDoesNotWriteThroughALinkOfItsName) {
  std::string target = dir_ + "/target";
  std::string out = dir_ + "/backoff";
  std::ofstream(target) << "keep\n";
  std::filesystem::create_symlink(target, out);
  myChangedFiles = listOf({"etc/passwd"});
  EXPECT_EQ(buildBackoffFileList(out.c_str()), 1);
  EXPECT_FALSE(std::filesystem::is_symlink(out));
  EXPECT_EQ(readFile(out), "etc/passwd\n");
  EXPECT_EQ(readFile(target), "keep\n");
}

TEST_F(TwChanges, BackoffListThatCannotBeCreatedEndsTheProcess) {
  std::string log = dir_ + "/maint.log";
  std::string consoleOut = dir_ + "/console";
  std::string out = dir_ + "/missing-dir/backoff";
  logFileName(log.c_str());
  setConsole(SCREEN);
  myDeletedFiles = listOf({"/etc/old"});
  EXPECT_EXIT(
      {
        if (!freopen(consoleOut.c_str(), "w", stdout)) _exit(3);
        buildBackoffFileList(out.c_str());
      },
      ::testing::ExitedWithCode(1), "");
  std::string message =
      "Fatal Error: Could not open output file " + out + ". No such file or directory.";
  std::string logText = readFile(log);
  EXPECT_NE(logText.find(" - " + message + "\n"), std::string::npos) << logText;
  EXPECT_EQ(readFile(consoleOut), message + "\n");
}

}  // namespace
