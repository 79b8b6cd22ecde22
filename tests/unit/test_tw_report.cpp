// Tests of the tripwire report parser on the reports in tests/data/twreports
// (a real one, and hand-written records for what the checker cannot be made
// to print; each file says on its first line what it shows): the counts,
// the lines read and the change lists of each, and the time a large report
// takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "maint.h"

namespace {

std::string report(const std::string& name) {
  std::string here = __FILE__;
  std::ifstream in(here.substr(0, here.rfind("/unit/")) + "/data/twreports/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The thread's processor time: what other work on the machine does not
// stretch.
double cpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

// A parse with the prefix /mnt/tree in one line: the counts, the lines
// counted beyond the text's own, and each list that is missing (=null) or
// not empty, with newlines shown as \n.
std::string parsed(const std::string& text, double* seconds = nullptr) {
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  int added = -1, deleted = -1, changed = -1;
  double start = cpuSeconds();
  parseTWReport(in, added, deleted, changed, 9);
  if (seconds) *seconds = cpuSeconds() - start;
  fclose(in);
  std::string out = "+" + std::to_string(added) + " -" + std::to_string(deleted) + " ~" +
                    std::to_string(changed) + " L" +
                    std::to_string(lineno - std::count(text.begin(), text.end(), '\n'));
  const std::pair<const char*, array*> lists[] = {
      {"AF", addedFiles()},         {"AD", addedDirectories()}, {"DF", deletedFiles()},
      {"DD", deletedDirectories()}, {"CF", changedFiles()},     {"HL", changedHardLinks()},
      {"AT", attributesModified()}};
  for (const auto& list : lists) {
    if (!list.second) out += std::string(" ") + list.first + "=null";
    if (!list.second || arraySize(*list.second) == 0) continue;
    out += std::string(" ") + list.first + "[";
    for (array_elem* e = first(*list.second); e; e = next(*e)) {
      for (const char* c = static_cast<char*>(e->data); *c; ++c) {
        out += *c == '\n' ? std::string("\\n") : std::string(1, *c);
      }
      out += e->next ? "," : "]";
    }
  }
  freeChangeLists();
  return out;
}

TEST(TwReport, ReportsGiveTheirCountsAndLists) {
  struct Case {
    const char* file;
    std::string expected;
  } cases[] = {
      {"all_kinds_pnugM.txt",
       R"(+2 -3 ~7 L1 AF[/added,/d2f] AD[/newdir(500:100)755,/f2d] DF[/rmme,/f2d] DD[/rmdir,/d2f] )"
       R"(CF[a,f2d] HL[hl2,d2f,hl1] AT[  chmod -v 644    "/modeonly"\n,)"
       R"(  chown -v 65534:65534  "/ownergroup"\n,  chown -v 65534  "/owneronly"\n])"},
      {"added_directories.txt",
       "+7 -0 ~0 L1 AD[/both(500:100)755,/group(:100)755,/owner(500)750,/none()1777,"
       "/nogid(500)755,/bare(500:100" +
           std::string(25, ' ') + ")2755,/nouid()755]"},
      {"added_removed_files.txt", "+3 -1 ~0 L1 AF[/file,/link,/fifo] DF[/a:b]"},
      {"removed_by_links.txt", "+0 -5 ~0 L1 DF[/single,/symlink] DD[/dir] HL[linked,device]"},
      {"content_changes.txt", "+0 -0 ~4 L1 CF[content,all] HL[linked]"},
      {"size_rows.txt", R"(+0 -0 ~3 L1 CF[bysize,bydigest] AT[  chmod -v 644    "/modeonly"\n])"},
      {"attributes.txt",
       R"(+0 -0 ~6 L1 AT[  chmod -v 4755    "/setuid"\n,  chown -v 0:10  "/og"\n,)"
       R"(  chgrp -v 100  "/g"\n,  chmod -v 600    "/all"\n  chown -v 500:100  "/all"\n,)"
       R"(  chown -v 500  "/ownedlink"\n])"},
      {"type_changes.txt",
       R"(+0 -0 ~3 L1 AF[/d2f] AD[/f2d] DF[/f2d] DD[/d2f] CF[f2d] AT[  chmod -v 755    "/d2f"\n])"},
      {"quoted_detail.txt", "+1 -0 ~0 L1 AF[/real]"},
      {"no_detail.txt", "+0 -0 ~0 L1"},
      {"long_lines.txt", "+1 -0 ~0 L3 AF[/" + std::string(269, 'n') + "]"},
      {"cut_added.txt", "+1 -0 ~0 L1 AF[/cut]"},
      {"cut_removed.txt", "+0 -1 ~0 L5 HL[cut]"},
      {"cut_modified.txt", "+0 -0 ~1 L4 AD[/cut] DF[/cut]"},
      {"search_runs_on.txt", "+1 -0 ~0 L1 AD[/first(500:100)755]"},
      {"short_names.txt", "+2 -2 ~2 L1 DF[/after]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string text = report(c.file);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(c.expected, parsed(text));
  }
}

TEST(TwReport, TenTimesTheRecordsTakeAboutTenTimesTheTime) {
  // The records of three reports, 400 and 4,000 times over.
  std::string records;
  for (const char* name : {"attributes.txt", "removed_by_links.txt", "added_removed_files.txt"}) {
    std::string text = report(name);
    size_t from = text.find("Severity Level: 0\n") + 18;
    records += text.substr(from, text.find("=====\nError Report") - from);
  }
  auto repeated = [&](int times) {
    std::string text = "Object Detail:\n";
    for (int i = 0; i < times; ++i) text += records;
    return text;
  };
  std::string small = repeated(400), large = repeated(4000);
  double smallTime = 1e9, largeTime = 1e9, time = 0;
  for (int run = 0; run < 3; ++run) {  // the quickest of three, each
    EXPECT_EQ(0u, parsed(small, &time).find("+1200 -2400 ~2400 "));
    smallTime = std::min(smallTime, time);
    EXPECT_EQ(0u, parsed(large, &time).find("+12000 -24000 ~24000 "));
    largeTime = std::min(largeTime, time);
  }
  EXPECT_LT(largeTime, 30 * smallTime) << "small: " << smallTime << " s, large: " << largeTime;
}

}  // namespace
