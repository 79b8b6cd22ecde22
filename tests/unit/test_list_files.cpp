// Tests of the files of lines the library reads and writes: list files in
// and out, list-file vetting, the backoff file list and the delete-directory
// list.  (The list itself is exercised by every other test.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support.h"
#include "maint.h"

namespace {

using Lines = std::vector<std::string>;

// The texts of a list joined by '|'.
std::string joined(array& arr) {
  std::string out;
  for (array_elem* e = first(arr); e; e = next(*e)) {
    out += std::string(out.empty() ? "" : "|") + static_cast<char*>(e->data);
  }
  return out;
}

// A list of the lines of `text`; null for a null text.
array* listOf(const char* text) {
  if (!text) return nullptr;
  array* list = newArray();
  std::string t = text;
  for (size_t at = 0; !t.empty() && at <= t.size();) {
    size_t end = std::min(t.find('\n', at), t.size());
    push(*list, t.substr(at, end - at).c_str());
    at = end + 1;
  }
  return list;
}

}  // namespace

TEST(List, LineFilesInAndOut) {
  TempLog log;
  std::string file = log.dir() + "/list.txt";
  array* arr = listOf("a\nb c\n");
  arrayToFile(file.c_str(), arr);
  EXPECT_EQ("a\nb c\n\n", readFile(file));
  arrayToFile(file.c_str(), nullptr);
  EXPECT_EQ("", readFile(file));
  std::string bad = log.dir() + "/no/dir/f";
  arrayToFile(bad.c_str(), arr);
  deleteArray(arr);
  EXPECT_EQ(Lines{"T Warning: Could not open file " + bad + ". No such file or directory."},
            log.lines());

  writeWholeFile(file, "x\r\ny\n" + std::string(310, 'z') + "\nlast without newline");
  arr = fileToArray(file.c_str());
  EXPECT_EQ("x|y|" + std::string(299, 'z') + "|" + std::string(11, 'z'), joined(*arr));
  deleteArray(arr);
  arr = fileToArray((log.dir() + "/missing").c_str());
  EXPECT_EQ(0, arraySize(*arr));
  deleteArray(arr);
}

TEST(ListFile, RpmListsAndPathLists) {
  TempLog log;
  const std::string file = log.dir() + "/files.list";
  setConsole(MBEAN);
  for (const Row& c : caseRows("list-files")) {
    SCOPED_TRACE(c[0]);
    writeWholeFile(file, c[0]);
    EXPECT_EQ(std::stoi(c[1]), idRpmListFile(file.c_str()));
    testing::internal::CaptureStdout();
    EXPECT_EQ(c[2].empty() ? 0 : 1, validateFilenameFile(file.c_str()));
    std::string refusal = std::regex_replace(c[2], std::regex("FILE"), file);
    EXPECT_EQ(c[2].empty() ? "" : "E" + refusal + "\n", testing::internal::GetCapturedStdout());
  }
  setConsole(SCREEN);
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(validateFilenameFile((file + "-missing").c_str()), ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(
      "T Fatal Error: Could not open input file " + file + "-missing. No such file or directory.",
      log.lines().back());
}

TEST(BackoffList, DeletedThenChangedThenOriginalsNeverThroughALink) {
  TempLog log;
  const std::string out = log.dir() + "/backoff", target = log.dir() + "/target";
  struct Case {
    const char* deleted;
    const char* changed;
    const char* originals;  // null: the list is missing
    int lines;
    const char* text;
  } cases[] = {
      {"", "", "", 0, ""},
      {"/etc/old\n/usr/lib/gone.so", "etc/passwd", "/usr/bin/other-name", 4,
       "etc/old\nusr/lib/gone.so\netc/passwd\nusr/bin/other-name\n"},
      {"/etc/old", "etc/passwd", nullptr, 2, "etc/old\netc/passwd\n"},
      {nullptr, nullptr, nullptr, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    writeWholeFile(target, "keep\n");
    unlink(out.c_str());
    std::filesystem::create_symlink(target, out);
    myDeletedFiles = listOf(c.deleted);
    myChangedFiles = listOf(c.changed);
    myOriginals4HardLinks = listOf(c.originals);
    myAddedFiles = listOf("/etc/new");  // not a list the backoff restores
    EXPECT_EQ(c.lines, buildBackoffFileList(out.c_str()));
    EXPECT_FALSE(std::filesystem::is_symlink(out));
    EXPECT_EQ(c.text, readFile(out));
    EXPECT_EQ("keep\n", readFile(target));
    freeChangeLists();
  }
  myDeletedFiles = listOf("/etc/old");
  EXPECT_EXIT(buildBackoffFileList((log.dir() + "/no/backoff").c_str()),
              ::testing::ExitedWithCode(1), "");
  freeChangeLists();
  EXPECT_EQ("T Fatal Error: Could not open output file " + log.dir() +
                "/no/backoff. No such file or directory.",
            log.lines().back());
}

TEST(DeleteDirList, ExclusionFileThenTheAlwaysSkippedDirectories) {
  TempLog log;
  const std::string file = log.dir() + "/exclude";
  for (const Row& c : caseRows("delete-dirs")) {
    SCOPED_TRACE(c[0]);
    unlink(file.c_str());
    if (c[0] != "~") writeWholeFile(file, c[0]);
    char* list = buildDeleteDirList(file.c_str());
    std::string dirs;
    for (char* d = strtok(list + 1, "\n"); d; d = strtok(nullptr, "\n"))
      dirs += std::string(dirs.empty() ? "" : " ") + d;
    EXPECT_EQ('\n', list[0]);
    EXPECT_EQ(c[1], dirs);
    free(list);
  }
}
