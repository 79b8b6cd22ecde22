// Tests of the files of lines the library reads and writes: list files in
// and out, list-file vetting, the backoff file list and the delete-directory
// list.  (The list itself is exercised by every other test.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "log_test_util.h"
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
  EXPECT_EQ("a\nb c\n\n", readWholeFile(file));
  arrayToFile(file.c_str(), nullptr);
  EXPECT_EQ("", readWholeFile(file));
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
  auto path = [](size_t length) {  // an absolute path of `length` bytes
    std::string p = "/opt/";
    while (p.size() + 10 < length) p += "directory/";
    return p + std::string(length - p.size(), 'f');
  };
  const std::string absolute =
      "File " + file + " has an apparent filename entry that does not have an absolute path.";
  const std::string tooLong =
      "File " + file + " has an apparent filename that is longer than 255 bytes.";
  struct Case {
    std::string text;
    int rpm;              // idRpmListFile
    std::string message;  // the refusal of validateFilenameFile, empty when valid
  } cases[] = {
      {"rpm -qa\n/not checked\n", 5, ""},
      {"# files\n\n   \n## more\n  /bin/rpm -qa\n", 5, ""},
      {"\r\n\t# comment\r\nrpmlist follows\r\n", 5, ""},
      {"\n# list\nrpm -qa\nrelative\n/" + std::string(300, 'x') + "\n", 5, ""},
      {"/etc/passwd\nrpm -qa\n", 0, absolute},
      {"/usr/bin/rpm -qa\n", 0, ""},
      {"", 0, ""},
      {"# comment\nrpm -qa", 0, absolute},  // an unfinished last line is not looked at
      {"# files\n" + path(255) + "\n\n  \t" + path(255) + "  \r\n/etc/hosts", 0, ""},
      {"\n\n   # " + std::string(400, 'c') + "\n", 0, ""},
      {"/etc/hosts\n" + path(256) + "\nrelative\n", 0, tooLong},
      {"/etc/hosts\netc/passwd\n" + path(300) + "\n", 0, absolute},
  };
  setConsole(MBEAN);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    writeWholeFile(file, c.text);
    EXPECT_EQ(c.rpm, idRpmListFile(file.c_str()));
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.message.empty() ? 0 : 1, validateFilenameFile(file.c_str()));
    EXPECT_EQ(c.message.empty() ? "" : "E" + c.message + "\n",
              testing::internal::GetCapturedStdout());
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
    EXPECT_EQ(c.text, readWholeFile(out));
    EXPECT_EQ("keep\n", readWholeFile(target));
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
  const std::string always =
      " /proc /sys /var/log /var/run /var/tmp /tftpboot/image /tftpboot/CR /var/maint";
  const std::string rest = " /media /mnt /tmp/maint_zor /tftpboot/upload";
  struct Case {
    const char* text;  // null: no exclusion file
    std::string dirs;
  } cases[] = {
      {nullptr, always + rest},
      {"# only a comment\n\n   \n", always + rest},
      {"  var/cache  \n# /opt\n\t/srv/data\n/home/user # not a comment\n/unfinished",
       " /var/cache /srv/data /home/user # not a comment" + always + rest},
      {"/mnt\n/srv\nsrv\n/proc\n",
       " /mnt /srv /proc /sys /var/log /var/run /var/tmp /tftpboot/image /tftpboot/CR /var/maint "
       "/media"
       " /tmp/maint_zor /tftpboot/upload"},
      {"/var\n/var/lib\n/var/lib/rpm\n/var/lib/dpkg\n/var\n", " /var/lib/dpkg" + always + rest},
      {"/var/logs\n/pro\n/sys/kernel\n", " /var/logs /pro /sys/kernel" + always + rest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "no file");
    unlink(file.c_str());
    if (c.text) writeWholeFile(file, c.text);
    char* list = buildDeleteDirList(file.c_str());
    std::string dirs;
    for (char* d = strtok(list + 1, "\n"); d; d = strtok(nullptr, "\n"))
      dirs += std::string(" ") + d;
    EXPECT_EQ('\n', list[0]);
    EXPECT_EQ(c.dirs, dirs);
    free(list);
  }
}
