// Tests of the tripwire report parser: the record kinds of a real report,
// hand-written records for what the checker cannot be made to print, the
// line-level helpers, and a report of 100,000 objects for time and memory.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "maint.h"

namespace {

std::vector<std::string> texts(array* list) {
  std::vector<std::string> out;
  if (!list) return out;
  for (array_elem* e = first(*list); e; e = next(*e)) out.push_back(static_cast<char*>(e->data));
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string dataFile(const char* name) {
  std::string here = __FILE__;
  return here.substr(0, here.rfind("/unit/")) + "/data/twreports/" + name;
}

int physicalLines(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// One row of the property table as twprint lays it out: the change mark in
// column 0, the property name from column 2, the expected value from column
// 23 and the observed value from column 51.
std::string row(char mark, const char* name, const std::string& expected,
                const std::string& observed) {
  char line[400];
  snprintf(line, sizeof line, "%c %-21s%-28s%-28s\n", mark, name, expected.c_str(),
           observed.c_str());
  return line;
}

std::string recordHead(const char* keyword, const std::string& path) {
  return std::string(keyword) + "  " + path +
         "\n\n  Property:            Expected                    Observed\n"
         "  -------------        -----------                 -----------\n";
}

const char* const REPORT_HEAD =
    "Open Source Tripwire(R) 2.4.3.7 Integrity Check Report\n"
    "\n"
    "===============================================================================\n"
    "Object Detail: \n"
    "===============================================================================\n"
    "\n"
    "-------------------------------------------------------------------------------\n"
    "  Section: Unix File System\n"
    "-------------------------------------------------------------------------------\n"
    "\n"
    "Rule Name: tree (/mnt/tree)\n"
    "Severity Level: 0\n";

const char* const REPORT_TAIL =
    "===============================================================================\n"
    "Error Report: \n"
    "===============================================================================\n"
    "\n"
    "No Errors\n"
    "\n"
    "-------------------------------------------------------------------------------\n"
    "*** End of report ***\n";

// An added object as the checker prints it: every property marked, the
// expected side "---".
std::string added(const std::string& path, const char* type, const char* mode,
                  const std::string& uid, const std::string& gid) {
  return recordHead(ADDEDOBJ, path) + row('*', "Object Type", "---", type) +
         row('*', "Mode", "---", mode) + row('*', "Num Links", "---", "1") +
         row('*', "UID", "---", uid) + row('*', "GID", "---", gid) + "\n\n";
}

std::string removed(const std::string& path, const char* type, const char* mode,
                    const char* links) {
  std::string rec = recordHead(REMOBJ, path) + row('*', "Object Type", type, "---") +
                    row('*', "Mode", mode, "---") + row('*', "Num Links", links, "---") +
                    row('*', "UID", "root (0)", "---") + row('*', "GID", "root (0)", "---");
  if (strncmp(type, "Directory", 9) == 0) return rec + "\n\n";
  return rec + row('*', "MD5", "BAGzDjuLXWKWNaXGE823kZ", "---") + "\n\n";
}

// A modified object with the rows given, in the checker's order.
std::string modified(const std::string& path, const std::string& rows) {
  return recordHead(MODOBJ, path) + rows + "\n\n";
}

std::string sameType(const char* type) { return row(' ', "Object Type", type, type); }
std::string sameMode(const char* mode) { return row(' ', "Mode", mode, mode); }
std::string sameLinks(const char* links) { return row(' ', "Num Links", links, links); }
std::string sameOwner() { return row(' ', "UID", "root (0)", "root (0)"); }
std::string sameGroup() { return row(' ', "GID", "root (0)", "root (0)"); }
std::string md5(char mark) {
  return row(mark, "MD5", "BgtyXxDJyFxw2XiA3+gZGz",
             mark == '*' ? "AmHD33PwnLTyr+1drvsgZw" : "BgtyXxDJyFxw2XiA3+gZGz");
}

FILE* openText(const std::string& text) {
  return fmemopen(const_cast<char*>(text.data()), text.size(), "r");
}

class TwReport : public ::testing::Test {
 protected:
  void SetUp() override { freeChangeLists(); }
  void TearDown() override { freeChangeLists(); }

  void parse(const std::string& report, int prefix) {
    freeChangeLists();
    FILE* in = openText(report);
    ASSERT_NE(in, nullptr);
    parseTWReport(in, added_, deleted_, changed_, prefix);
    fclose(in);
  }
  void parseBody(const std::string& body) { parse(REPORT_HEAD + body + REPORT_TAIL, 9); }

  int added_ = -1;
  int deleted_ = -1;
  int changed_ = -1;
};

using Lines = std::vector<std::string>;

// ---------------------------------------------------------------------------
// A real report of every record kind
// ---------------------------------------------------------------------------

// The checker's report (twprint -t 4) after these changes below /mnt/tree:
// added a file, a directory owned by 500:100 and a socket; removed one name
// of a two-name hard link, a directory and a file; changed the content of a
// file and of the remaining hard-link name; turned a file into a directory
// and a directory into a file; changed a mode, an owner, an owner and group.
TEST_F(TwReport, RealReportSortsEveryRecordKind) {
  std::string report = readFile(dataFile("all_kinds_pnugM.txt"));
  ASSERT_FALSE(report.empty());
  parse(report, static_cast<int>(strlen("/mnt/tree")));

  EXPECT_EQ(added_, 2);  // the socket is not counted
  EXPECT_EQ(deleted_, 3);
  EXPECT_EQ(changed_, 7);
  EXPECT_EQ(texts(addedFiles()), (Lines{"/added", "/d2f"}));
  EXPECT_EQ(texts(addedDirectories()), (Lines{"/newdir(500:100)755", "/f2d"}));
  EXPECT_EQ(texts(deletedFiles()), (Lines{"/rmme", "/f2d"}));
  EXPECT_EQ(texts(deletedDirectories()), (Lines{"/rmdir", "/d2f"}));
  // The former directory had two links and its digest changed.
  EXPECT_EQ(texts(changedHardLinks()), (Lines{"hl2", "d2f", "hl1"}));
  EXPECT_EQ(texts(changedFiles()), (Lines{"a", "f2d"}));
  EXPECT_EQ(texts(attributesModified()),
            (Lines{"  chmod -v 644    \"/modeonly\"\n", "  chown -v 65534:65534  \"/ownergroup\"\n",
                   "  chown -v 65534  \"/owneronly\"\n"}));
  EXPECT_EQ(originals4HardLinks(), nullptr);
  // Every physical line is consumed, plus the read that met the end.
  EXPECT_EQ(lineno, physicalLines(report) + 1);
}

TEST_F(TwReport, EachParseStartsFromFreshListsAndCounts) {
  parseBody(added("/mnt/tree/one", "Regular File", "-rw-r--r--", "root (0)", "root (0)"));
  array* firstList = addedFiles();
  // The lists of the first parse stay the caller's: take them over.
  myAddedFiles = nullptr;
  parseBody(removed("/mnt/tree/two", "Regular File", "-rw-r--r--", "1"));
  EXPECT_NE(addedFiles(), firstList);
  EXPECT_EQ(texts(addedFiles()), Lines{});
  EXPECT_EQ(texts(firstList), Lines{"/one"});
  EXPECT_EQ(added_, 0);
  EXPECT_EQ(deleted_, 1);
  deleteArray(firstList);
}

TEST_F(TwReport, RecordHelpersWithoutAParseMakeTheListsTheyNeed) {
  // No parse has made the lists: they are missing, and must not be a crash.
  ASSERT_EQ(addedFiles(), nullptr);
  std::string body = row('*', "Object Type", "---", "Regular File") +
                     row('*', "Mode", "---", "-rw-r--r--") +
                     removed("/mnt/tree/old", "Regular File", "-rw-r--r--", "1");
  FILE* in = openText(body);
  ASSERT_NE(in, nullptr);
  char buff[MAINT_BUFF];
  snprintf(buff, sizeof buff, "%s  /mnt/tree/new", ADDEDOBJ);
  int added = 0;
  free(processTWAddedObj(buff, sizeof buff, 9, in, added));
  ASSERT_TRUE(getNextReportLine(in, buff, sizeof buff));
  int deleted = 0;
  char* name = processTWRemovedObj(buff, sizeof buff, 9, in, deleted);
  fclose(in);
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "/old");
  free(name);
  EXPECT_EQ(added, 1);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(texts(addedFiles()), Lines{"/new"});
  EXPECT_EQ(texts(deletedFiles()), Lines{"/old"});
}

// ---------------------------------------------------------------------------
// Added records
// ---------------------------------------------------------------------------

TEST_F(TwReport, AddedDirectoryEntryLeavesOutRootAndMissingIds) {
  parseBody(added("/mnt/tree/both", "Directory", "drwxr-xr-x", "maint (500)", "users (100)") +
            added("/mnt/tree/group", "Directory", "drwxr-xr-x", "root (0)", "users (100)") +
            added("/mnt/tree/owner", "Directory", "drwxr-x---", "maint (500)", "root (0)") +
            added("/mnt/tree/none", "Directory", "drwxrwxrwt", "root (0)", "root (0)") +
            added("/mnt/tree/nogroupid", "Directory", "drwxr-xr-x", "maint (500)", "unknown"));
  EXPECT_EQ(added_, 5);
  EXPECT_EQ(texts(addedDirectories()),
            (Lines{"/both(500:100)755", "/group(:100)755", "/owner(500)750", "/none()1777",
                   "/nogroupid(500)755"}));
  EXPECT_EQ(texts(addedFiles()), Lines{});
}

TEST_F(TwReport, AddedDirectoryWithBareIdsTrimsTheOwnerButNotTheGroup) {
  // An id without a name is printed as a bare number, padded with blanks.
  std::string gidRow = row('*', "GID", "---", "100");
  std::string groupText = gidRow.substr(gidRow.find("100"));
  groupText.erase(groupText.find('\n'));
  parseBody(added("/mnt/tree/bare", "Directory", "drwxr-sr-x", "500", "100"));
  EXPECT_EQ(texts(addedDirectories()), Lines{"/bare(500:" + groupText + ")2755"});
  EXPECT_GT(groupText.size(), strlen("100"));
}

TEST_F(TwReport, AddedNonDirectoriesGoToAddedFilesWithTheirSlash) {
  parseBody(added("/mnt/tree/file", "Regular File", "-rw-r--r--", "maint (500)", "users (100)") +
            added("/mnt/tree/link", "Symbolic Link", "lrwxrwxrwx", "root (0)", "root (0)") +
            added("/mnt/tree/fifo", "FIFO", "prw-r--r--", "root (0)", "root (0)"));
  EXPECT_EQ(added_, 3);
  EXPECT_EQ(texts(addedFiles()), (Lines{"/file", "/link", "/fifo"}));
}

TEST_F(TwReport, SocketsAreNeitherRecordedNorCounted) {
  // The removed socket's remaining rows are skipped, so the records after
  // it are read from their first line.
  parseBody(added("/mnt/tree/sock", "Socket", "srwxr-xr-x", "root (0)", "root (0)") +
            removed("/mnt/tree/oldsock", "Socket", "srwxr-xr-x", "1") +
            added("/mnt/tree/file", "Regular File", "-rw-r--r--", "root (0)", "root (0)") +
            removed("/mnt/tree/gone", "Regular File", "-rw-r--r--", "1"));
  EXPECT_EQ(added_, 1);
  EXPECT_EQ(deleted_, 1);
  EXPECT_EQ(texts(addedFiles()), Lines{"/file"});
  EXPECT_EQ(texts(deletedFiles()), Lines{"/gone"});
  EXPECT_EQ(texts(addedDirectories()), Lines{});
}

// ---------------------------------------------------------------------------
// Removed records
// ---------------------------------------------------------------------------

TEST_F(TwReport, RemovedObjectsAreRoutedByTypeAndLinkCount) {
  parseBody(removed("/mnt/tree/single", "Regular File", "-rw-r--r--", "1") +
            removed("/mnt/tree/linked", "Regular File", "-rw-r--r--", "2") +
            removed("/mnt/tree/symlink", "Symbolic Link", "lrwxrwxrwx", "1") +
            removed("/mnt/tree/device", "Block Device", "brw-rw----", "3") +
            removed("/mnt/tree/dir", "Directory", "drwxr-xr-x", "3"));
  EXPECT_EQ(deleted_, 5);
  EXPECT_EQ(texts(deletedFiles()), (Lines{"/single", "/symlink"}));
  EXPECT_EQ(texts(changedHardLinks()), (Lines{"linked", "device"}));
  EXPECT_EQ(texts(deletedDirectories()), Lines{"/dir"});
}

// ---------------------------------------------------------------------------
// Modified records
// ---------------------------------------------------------------------------

TEST_F(TwReport, ContentChangeIsReadFromTheThirdLineAfterNumLinks) {
  parseBody(modified("/mnt/tree/content", sameType("Regular File") + sameMode("-rw-r--r--") +
                                              sameLinks("1") + sameOwner() + sameGroup() +
                                              md5('*')) +
            modified("/mnt/tree/linkedcontent", sameType("Regular File") + sameMode("-rw-r--r--") +
                                                    sameLinks("3") + sameOwner() + sameGroup() +
                                                    md5('*')) +
            // Mode and owner changed too: the content change wins.
            modified("/mnt/tree/everything",
                     sameType("Regular File") + row('*', "Mode", "-rw-r--r--", "-rwxrwxrwx") +
                         sameLinks("1") + row('*', "UID", "root (0)", "maint (500)") + sameGroup() +
                         md5('*')) +
            // Only the link count changed: counted, in no list.
            modified("/mnt/tree/links", sameType("Regular File") + sameMode("-rw-r--r--") +
                                            row('*', "Num Links", "1", "2") + sameOwner() +
                                            sameGroup() + md5(' ')));
  EXPECT_EQ(changed_, 4);
  EXPECT_EQ(texts(changedFiles()), (Lines{"content", "everything"}));
  EXPECT_EQ(texts(changedHardLinks()), Lines{"linkedcontent"});
  EXPECT_EQ(texts(attributesModified()), Lines{});
}

TEST_F(TwReport, SizeLineMarksAChangeAndTheLineAfterItIsReadToo) {
  std::string sizeChanged = row('*', "Size", "2", "7");
  std::string sizeSame = row(' ', "Size", "2", "2");
  std::string report =
      std::string(REPORT_HEAD) +
      modified("/mnt/tree/bysize", sameType("Regular File") + sameMode("-rw-r--r--") +
                                       sameLinks("1") + sameOwner() + sameGroup() + sizeChanged +
                                       md5(' ')) +
      modified("/mnt/tree/bydigest", sameType("Regular File") + sameMode("-rw-r--r--") +
                                         sameLinks("1") + sameOwner() + sameGroup() + sizeSame +
                                         md5('*')) +
      modified("/mnt/tree/modeonly",
               sameType("Regular File") + row('*', "Mode", "-rw-r--r--", "-rw-------") +
                   sameLinks("1") + sameOwner() + sameGroup() + sizeSame + md5(' ')) +
      REPORT_TAIL;
  parse(report, 9);
  EXPECT_EQ(changed_, 3);
  EXPECT_EQ(texts(changedFiles()), (Lines{"bysize", "bydigest"}));
  EXPECT_EQ(texts(attributesModified()), Lines{"  chmod -v 644    \"/modeonly\"\n"});
  EXPECT_EQ(lineno, physicalLines(report) + 1);
}

TEST_F(TwReport, AttributeEntriesUseExpectedModeAndObservedIds) {
  std::string common = sameLinks("1");
  parseBody(modified("/mnt/tree/setuid", sameType("Regular File") +
                                             row('*', "Mode", "-rwsr-xr-x", "-rwxr-xr-x") + common +
                                             sameOwner() + sameGroup() + md5(' ')) +
            modified("/mnt/tree/ownergroup",
                     sameType("Regular File") + sameMode("-rw-r--r--") + common +
                         row('*', "UID", "maint (500)", "root (0)") +
                         row('*', "GID", "users (100)", "wheel (10)") + md5(' ')) +
            modified("/mnt/tree/grouponly",
                     sameType("Regular File") + sameMode("-rw-r--r--") + common + sameOwner() +
                         row('*', "GID", "root (0)", "users (100)") + md5(' ')) +
            modified("/mnt/tree/all", sameType("Regular File") +
                                          row('*', "Mode", "-rw-------", "-rw-r--r--") + common +
                                          row('*', "UID", "root (0)", "maint (500)") +
                                          row('*', "GID", "root (0)", "users (100)") + md5(' ')));
  EXPECT_EQ(changed_, 4);
  EXPECT_EQ(texts(attributesModified()),
            (Lines{"  chmod -v 4755    \"/setuid\"\n", "  chown -v 0:10  \"/ownergroup\"\n",
                   "  chgrp -v 100  \"/grouponly\"\n",
                   "  chmod -v 600    \"/all\"\n  chown -v 500:100  \"/all\"\n"}));
}

TEST_F(TwReport, SymbolicLinkModeChangeWritesNoChmod) {
  // Linux gives a symbolic link no mode of its own, so only a hand-written
  // report can carry this change.
  parseBody(modified("/mnt/tree/link", sameType("Symbolic Link") +
                                           row('*', "Mode", "lrwxrwxrwx", "lrwxr-xr-x") +
                                           sameLinks("1") + sameOwner() + sameGroup() + md5(' ')) +
            modified("/mnt/tree/ownedlink",
                     sameType("Symbolic Link") + row('*', "Mode", "lrwxrwxrwx", "lrwxr-xr-x") +
                         sameLinks("1") + row('*', "UID", "root (0)", "maint (500)") + sameGroup() +
                         md5(' ')));
  EXPECT_EQ(changed_, 2);
  EXPECT_EQ(texts(attributesModified()), Lines{"  chown -v 500  \"/ownedlink\"\n"});
}

TEST_F(TwReport, TypeChangesListBothSidesAndAreStillExamined) {
  parseBody(modified("/mnt/tree/f2d", row('*', "Object Type", "Regular File", "Directory") +
                                          row('*', "Mode", "-rw-r--r--", "drwxr-xr-x") +
                                          row('*', "Num Links", "1", "2") + sameOwner() +
                                          sameGroup() + row('*', "MD5", "CaitksUMrjmq", "n/a")) +
            modified("/mnt/tree/d2f", row('*', "Object Type", "Directory", "Regular File") +
                                          row('*', "Mode", "drwxr-xr-x", "-rw-r--r--") +
                                          row('*', "Num Links", "2", "1") + sameOwner() +
                                          sameGroup() + md5(' ')) +
            // Other pairs record nothing for the type itself.
            modified("/mnt/tree/l2f", row('*', "Object Type", "Symbolic Link", "Regular File") +
                                          row('*', "Mode", "lrwxrwxrwx", "-rw-r--r--") +
                                          sameLinks("1") + sameOwner() + sameGroup() + md5(' ')));
  EXPECT_EQ(changed_, 3);
  EXPECT_EQ(texts(deletedFiles()), Lines{"/f2d"});
  EXPECT_EQ(texts(addedDirectories()), Lines{"/f2d"});
  EXPECT_EQ(texts(deletedDirectories()), Lines{"/d2f"});
  EXPECT_EQ(texts(addedFiles()), Lines{"/d2f"});
  EXPECT_EQ(texts(changedFiles()), Lines{"f2d"});
  // Mode-only changes of the two unchanged-content objects.
  EXPECT_EQ(texts(attributesModified()), Lines{"  chmod -v 755    \"/d2f\"\n"});
}

// ---------------------------------------------------------------------------
// The report as a whole
// ---------------------------------------------------------------------------

TEST_F(TwReport, QuotedObjectDetailDoesNotEndThePreamble) {
  std::string fake = added("/mnt/tree/fake", "Regular File", "-rw-r--r--", "root (0)", "root (0)");
  parse("Object Summary:\n\"Object Detail: /mnt/tree/x\"\n" + fake + REPORT_HEAD +
            added("/mnt/tree/real", "Regular File", "-rw-r--r--", "root (0)", "root (0)") +
            REPORT_TAIL,
        9);
  EXPECT_EQ(added_, 1);
  EXPECT_EQ(texts(addedFiles()), Lines{"/real"});
}

TEST_F(TwReport, ReportWithoutObjectDetailGivesEmptyListsAndZeroCounts) {
  std::string body = added("/mnt/tree/x", "Regular File", "-rw-r--r--", "root (0)", "root (0)");
  parse("Report Summary:\nTotal violations found:  1\n" + body, 9);
  EXPECT_EQ(added_ + deleted_ + changed_, 0);
  for (array* list : {addedFiles(), deletedFiles(), changedHardLinks(), addedDirectories(),
                      deletedDirectories(), changedFiles(), attributesModified()}) {
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(arraySize(*list), 0);
  }
}

TEST_F(TwReport, LinesLongerThan299CharactersArriveInPieces) {
  // The second piece of this preamble line begins with the keyword.
  std::string longPreamble = std::string(299, 'x') + "Object Detail: \n";
  std::string longName = "/mnt/tree/" + std::string(400, 'n');
  std::string report = "Report\n" + longPreamble +
                       added(longName, "Regular File", "-rw-r--r--", "root (0)", "root (0)") +
                       REPORT_TAIL;
  parse(report, 9);
  EXPECT_EQ(added_, 1);
  // The record line is cut after 299 characters; its rest is a line that
  // begins with no keyword.
  std::string firstPiece = (std::string(ADDEDOBJ) + "  " + longName).substr(0, 299);
  std::vector<std::string> files = texts(addedFiles());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0], firstPiece.substr(firstPiece.find("/mnt/tree") + 9));
  // Two long lines make two extra pieces.
  EXPECT_EQ(lineno, physicalLines(report) + 2 + 1);
}

TEST_F(TwReport, InputEndingInsideARecordCountsItAndMatchesNoTypeOrCount) {
  std::string head = std::string(REPORT_HEAD);
  parse(head + ADDEDOBJ + "  /mnt/tree/cut\n", 9);
  EXPECT_EQ(added_, 1);
  EXPECT_EQ(texts(addedFiles()), Lines{"/cut"});

  // The input ends before the link count: not a directory, not one link.
  parse(head + recordHead(REMOBJ, "/mnt/tree/cut") + row('*', "Object Type", "Regular File", "---"),
        9);
  EXPECT_EQ(deleted_, 1);
  EXPECT_EQ(texts(changedHardLinks()), Lines{"cut"});
  EXPECT_EQ(texts(deletedFiles()), Lines{});

  parse(head + recordHead(MODOBJ, "/mnt/tree/cut") +
            row('*', "Object Type", "Regular File", "Directory"),
        9);
  EXPECT_EQ(changed_, 1);
  EXPECT_EQ(texts(deletedFiles()), Lines{"/cut"});
  EXPECT_EQ(texts(addedDirectories()), Lines{"/cut"});
  EXPECT_EQ(texts(changedFiles()), Lines{});
  EXPECT_EQ(texts(attributesModified()), Lines{});
}

TEST_F(TwReport, PropertySearchRunsOnIntoTheNextRecord) {
  // The first record has no Mode row: its search takes the next record's,
  // whose own head line is passed over.
  std::string noMode = recordHead(ADDEDOBJ, "/mnt/tree/first") +
                       row('*', "Object Type", "---", "Regular File") + "\n\n";
  parseBody(noMode +
            added("/mnt/tree/second", "Directory", "drwxr-xr-x", "maint (500)", "users (100)"));
  EXPECT_EQ(added_, 1);
  EXPECT_EQ(texts(addedDirectories()), Lines{"/first(500:100)755"});
  EXPECT_EQ(texts(addedFiles()), Lines{});
}

TEST_F(TwReport, NamesShorterThanThePrefixLandInNoListButAreCounted) {
  std::string report =
      std::string(REPORT_HEAD) +
      added("/mnt", "Regular File", "-rw-r--r--", "root (0)", "root (0)") +
      added("/mnt/d", "Directory", "drwxr-xr-x", "maint (500)", "users (100)") +
      removed("/mn", "Regular File", "-rw-r--r--", "2") +
      modified("/m", sameType("Regular File") + sameMode("-rw-r--r--") + sameLinks("2") +
                         sameOwner() + sameGroup() + md5('*')) +
      // The tree's own root: its name is empty after the cut.
      modified("/mnt/tree", sameType("Directory") + row('*', "Mode", "drwxr-xr-x", "drwx------") +
                                row('*', "Num Links", "3", "4") + sameOwner() + sameGroup()) +
      removed("/mnt/tree/after", "Regular File", "-rw-r--r--", "1") + REPORT_TAIL;
  parse(report, 9);
  EXPECT_EQ(added_, 2);
  EXPECT_EQ(deleted_, 2);
  EXPECT_EQ(changed_, 2);
  EXPECT_EQ(texts(addedFiles()), Lines{});
  EXPECT_EQ(texts(addedDirectories()), Lines{});
  EXPECT_EQ(texts(changedHardLinks()), Lines{});
  EXPECT_EQ(texts(attributesModified()), Lines{});
  EXPECT_EQ(texts(deletedFiles()), Lines{"/after"});
}

// ---------------------------------------------------------------------------
// Line-level helpers
// ---------------------------------------------------------------------------

TEST(TwReportHelpers, IdentifyObjectTypeComparesLeadingWords) {
  EXPECT_EQ(identifyObjectType("---"), MISSING);
  EXPECT_EQ(identifyObjectType("Regular"), REG);
  EXPECT_EQ(identifyObjectType("Symbolic"), SYM);
  EXPECT_EQ(identifyObjectType("Directory"), DIR);
  EXPECT_EQ(identifyObjectType("Block"), BLK);
  EXPECT_EQ(identifyObjectType("Character"), CHR);
  EXPECT_EQ(identifyObjectType("Socket"), SCK);
  EXPECT_EQ(identifyObjectType("Directorys"), DIR);
  EXPECT_EQ(identifyObjectType("Dir"), -1);
  EXPECT_EQ(identifyObjectType("FIFO"), -1);
  EXPECT_EQ(identifyObjectType(""), -1);
  EXPECT_EQ(identifyObjectType(static_cast<const char*>(nullptr)), -1);
}

TEST(TwReportHelpers, ObjectNameIsCutAfterTheFirstColonAndThePrefix) {
  struct Case {
    const char* line;
    int prefix;
    const char* name;
  } cases[] = {
      {"Added object name:  /mnt/tree/etc/passwd  ", 9, "/etc/passwd"},
      {"Removed object name:\t/mnt/tree/a:b", 9, "/a:b"},
      {"Modified object name:  /mnt/tree/ x", 10, "x"},
      {"Added object name:  /mnt/tree", 9, ""},
      {"Added object name:  /etc", 0, "/etc"},
  };
  for (const Case& c : cases) {
    char* name = getObjectName(c.line, c.prefix);
    ASSERT_NE(name, nullptr) << c.line;
    EXPECT_STREQ(name, c.name) << c.line;
    free(name);
  }
  EXPECT_EQ(getObjectName("Added object name:  /mnt", 9), nullptr);
  EXPECT_EQ(getObjectName("Added object name:", 1), nullptr);
}

class TwReportLines : public ::testing::Test {
 protected:
  void open(const std::string& text) {
    text_ = text;
    in_ = openText(text_);
    ASSERT_NE(in_, nullptr);
    lineno = 0;
  }
  void TearDown() override {
    if (in_) fclose(in_);
  }
  std::string nextLine() {
    char buff[MAINT_BUFF];
    return getNextReportLine(in_, buff, sizeof buff) ? std::string(buff) : std::string("<end>");
  }
  std::string text_;
  FILE* in_ = nullptr;
};

TEST_F(TwReportLines, ReportLinesSkipEmptyAndRuledLines) {
  open("\n\r\n-----\n=====\n -x\n  --\nkept\r\n");
  EXPECT_EQ(nextLine(), "  --");
  EXPECT_EQ(lineno, 6);
  EXPECT_EQ(nextLine(), "kept");
  EXPECT_EQ(nextLine(), "<end>");
  EXPECT_EQ(lineno, 8);
}

TEST_F(TwReportLines, PreambleSkipCountsItsLines) {
  open("one\n\"Object Detail: quoted\"\nObject Detail: \nAdded object name:  /x\n");
  int count = -1;
  skipToObjectDetail(in_, count);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(nextLine(), "Added object name:  /x");
}

TEST_F(TwReportLines, UidValueSkipsLinesWithoutAnId) {
  open(row('*', "UID", "---", "nobody") + row('*', "GID", "---", "users (100)") +
       row('*', "UID", "---", "maint (500)") + row('*', "UID", "---", "root (0)") +
       row('*', "UID", "---", " 42 "));
  char* uid = getUIDValue(in_);
  ASSERT_NE(uid, nullptr);
  EXPECT_STREQ(uid, "500");
  free(uid);
  EXPECT_EQ(getUIDValue(in_), nullptr);  // id 0
  uid = getUIDValue(in_);
  ASSERT_NE(uid, nullptr);
  EXPECT_STREQ(uid, "42");
  free(uid);
  EXPECT_EQ(getUIDValue(in_), nullptr);  // end of input
}

TEST_F(TwReportLines, GidValueStopsAtTheFirstGidLine) {
  open(row('*', "GID", "---", "nogroup") + row('*', "GID", "---", "users (100)") +
       "* GID                  ---                         12)\n" + "* GID  7  \n");
  EXPECT_EQ(getGIDValue(in_), nullptr);  // neither '(' nor a digit: no group
  char* gid = getGIDValue(in_);          // the search stopped: this line is next
  ASSERT_NE(gid, nullptr);
  EXPECT_STREQ(gid, "100");
  free(gid);
  gid = getGIDValue(in_);
  ASSERT_NE(gid, nullptr);
  EXPECT_STREQ(gid, "12)");  // without '(' the text from the first digit
  free(gid);
  gid = getGIDValue(in_);
  ASSERT_NE(gid, nullptr);
  EXPECT_STREQ(gid, "7  ");  // blanks are kept
  free(gid);
}

TEST_F(TwReportLines, PropertySearchesAtTheEndOfInputSetNothingThatMatches) {
  open(row(' ', "UID", "root (0)", "root (0)"));
  char buff[MAINT_BUFF];
  int isChanged = 5, first = 5, second = 5;
  getObjectType(in_, buff, sizeof buff, isChanged, first, second);
  EXPECT_EQ(isChanged, 0);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(second, -1);
  char* perm1 = nullptr;
  char* perm2 = nullptr;
  getModeValue(in_, buff, sizeof buff, isChanged, perm1, perm2);
  EXPECT_EQ(perm1, nullptr);
  EXPECT_EQ(perm2, nullptr);
  first = second = 5;
  getNumLinksValue(in_, buff, sizeof buff, isChanged, first, second);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(second, -1);
}

TEST_F(TwReportLines, PropertyValuesComeFromTheirColumns) {
  open(row('*', "Object Type", "Character Device", "Block Device") +
       row(' ', "Mode", "crw-rw----", "brw-rw----") + row('*', "Num Links", "---", "3"));
  char buff[MAINT_BUFF];
  int isChanged = -1, first = -1, second = -1;
  getObjectType(in_, buff, sizeof buff, isChanged, first, second);
  EXPECT_EQ(isChanged, 1);
  EXPECT_EQ(first, CHR);
  EXPECT_EQ(second, BLK);
  char* perm1 = nullptr;
  char* perm2 = nullptr;
  getModeValue(in_, buff, sizeof buff, isChanged, perm1, perm2);
  EXPECT_EQ(isChanged, 0);
  ASSERT_NE(perm1, nullptr);
  ASSERT_NE(perm2, nullptr);
  EXPECT_STREQ(perm1, "crw-rw----");
  EXPECT_STREQ(perm2, "brw-rw----");
  free(perm1);
  free(perm2);
  getNumLinksValue(in_, buff, sizeof buff, isChanged, first, second);
  EXPECT_EQ(isChanged, 1);
  EXPECT_EQ(first, 0);  // "---" is not a number
  EXPECT_EQ(second, 3);
}

// ---------------------------------------------------------------------------
// Size: 100,000 objects
// ---------------------------------------------------------------------------

// A report of `objects` records, cycling through the five kinds of object
// the parser lists.
std::string bigReport(int objects) {
  std::string report = REPORT_HEAD;
  report.reserve(static_cast<size_t>(objects) * 700 + 1024);
  for (int i = 0; i < objects; ++i) {
    std::string path = "/mnt/tree/dir" + std::to_string(i / 1000) + "/obj" + std::to_string(i);
    switch (i % 5) {
      case 0:
        report += added(path, "Regular File", "-rw-r--r--", "root (0)", "root (0)");
        break;
      case 1:
        report += added(path, "Directory", "drwxr-xr-x", "maint (500)", "users (100)");
        break;
      case 2:
        report += removed(path, "Regular File", "-rw-r--r--", "1");
        break;
      case 3:
        report += modified(path, sameType("Regular File") + sameMode("-rw-r--r--") +
                                     sameLinks("1") + sameOwner() + sameGroup() + md5('*'));
        break;
      default:
        report +=
            modified(path, sameType("Regular File") + row('*', "Mode", "-rw-r--r--", "-rw-------") +
                               sameLinks("1") + sameOwner() + sameGroup() + md5(' '));
        break;
    }
  }
  return report + REPORT_TAIL;
}

double parseSeconds(const std::string& report, int& added, int& deleted, int& changed) {
  FILE* in = openText(report);
  auto start = std::chrono::steady_clock::now();
  parseTWReport(in, added, deleted, changed, 9);
  auto end = std::chrono::steady_clock::now();
  fclose(in);
  return std::chrono::duration<double>(end - start).count();
}

TEST(TwReportSize, HundredThousandObjectsInLinearTimeWithoutLeaks) {
  const int small = 10000;
  const int large = 100000;
  std::string smallReport = bigReport(small);
  std::string largeReport = bigReport(large);
  int added = 0, deleted = 0, changed = 0;

  freeChangeLists();
  double smallTime = 1e9;
  for (int run = 0; run < 3; ++run) {
    smallTime = std::min(smallTime, parseSeconds(smallReport, added, deleted, changed));
    freeChangeLists();
  }

  size_t before = mallinfo2().uordblks;
  double largeTime = parseSeconds(largeReport, added, deleted, changed);
  EXPECT_EQ(added, 2 * large / 5);
  EXPECT_EQ(deleted, large / 5);
  EXPECT_EQ(changed, 2 * large / 5);
  EXPECT_EQ(arraySize(*addedDirectories()), large / 5);
  EXPECT_EQ(arraySize(*attributesModified()), large / 5);
  freeChangeLists();
  size_t after = mallinfo2().uordblks;

  // Nothing of the parse outlives its lists: even one leaked byte per
  // object would show as 100,000 bytes.
  EXPECT_LT(after > before ? after - before : 0, 16384u);
  // Ten times the objects: about ten times the time, far from a hundred.
  EXPECT_LT(largeTime, 30 * smallTime) << "10k: " << smallTime << " s, 100k: " << largeTime;
}

}  // namespace
