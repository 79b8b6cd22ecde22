// Tests of the bundle builder's pure logic: the names it refuses and how it
// shows them, reading a tree, hard-link groups, the comparison of two trees,
// the change plan from the checker's lists and the trees, the order of
// the payload and the scripts' command lines.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bundle_builder.h"
#include "support.h"
#include "maint.h"

namespace {

using Lines = std::vector<std::string>;

TreeEntry node(mode_t mode, const char* target = "") {
  TreeEntry e;
  e.mode = mode;
  e.nlink = 1;
  e.target = target;
  return e;
}
TreeEntry owned(TreeEntry e, uid_t uid, gid_t gid) {
  e.uid = uid;
  e.gid = gid;
  return e;
}
TreeEntry dir(mode_t perm = 0755) { return node(S_IFDIR | perm); }
TreeEntry symlink(const char* target, mode_t perm = 0777) { return node(S_IFLNK | perm, target); }
TreeEntry file(off_t size, ino_t ino = 0, nlink_t nlink = 1, mode_t perm = 0644) {
  TreeEntry e = node(S_IFREG | perm);
  e.size = size;
  e.ino = ino;
  e.nlink = nlink;
  return e;
}
TreeEntry device(unsigned major, unsigned minor) {
  TreeEntry e = node(S_IFCHR | 0600);
  e.rdev = makedev(major, minor);
  return e;
}

// Paths of a set or list, each shown with a leading slash.
template <typename Paths>
std::string shown(const Paths& paths) {
  std::string out;
  for (const std::string& p : paths) out += (out.empty() ? "/" : " /") + p;
  return out;
}

}  // namespace

TEST(Builder, NamesAScriptCanHoldAndHowNamesAreShown) {
  std::vector<Row> cases = caseRows("tree-names");
  cases.push_back({std::string(240, 'n'), "1", ""});  // the longest name held
  cases.push_back({std::string(241, 'n'), "0", ""});
  for (const Row& c : cases) {
    EXPECT_EQ(std::stoi(c[1]), safeTreeName(c[0])) << c[0];
    if (!c[2].empty()) {
      EXPECT_EQ(c[2], printableName(c[0])) << c[0];
    }
  }
}

TEST(Builder, ReadTreeAndLinkGroups) {
  TempLog scratch;
  namespace fs = std::filesystem;
  const std::string root = scratch.dir() + "/tree";
  fs::create_directories(root + "/lost+found");
  fs::create_directories(root + "/d/lost+found");
  std::ofstream(root + "/d/f") << "abc";
  fs::create_hard_link(root + "/d/f", root + "/h");
  fs::create_symlink("d/f", root + "/l");
  std::ofstream(root + "/single") << "x";
  Tree tree;
  std::string error;
  ASSERT_TRUE(readTree(root, tree, &error)) << error;
  Lines names;
  for (const auto& entry : tree) names.push_back(entry.first);
  EXPECT_EQ((Lines{"", "d", "d/f", "d/lost+found", "h", "l", "single"}), names);
  EXPECT_EQ("d/f", tree["l"].target);
  EXPECT_TRUE(S_ISLNK(tree["l"].mode));
  EXPECT_EQ(3, tree["d/f"].size);
  EXPECT_EQ("/d/f /h", shown(linkGroup(tree, "h")));
  EXPECT_EQ("/single", shown(linkGroup(tree, "single")));
  EXPECT_EQ("", shown(linkGroup(tree, "d")));
  EXPECT_EQ("", shown(linkGroup(tree, "missing")));
  EXPECT_FALSE(readTree(root + "/single", tree, &error));
  EXPECT_EQ(root + "/single: not a directory", error);
}

TEST(Builder, TreeComparison) {
  TempLog scratch;
  const std::string want = scratch.dir() + "/want", have = scratch.dir() + "/have";
  std::filesystem::create_directories(want);
  std::filesystem::create_directories(have);
  for (const char* name : {"same", "differs", "h1", "h2"}) {
    std::ofstream(want + "/" + name) << "abc";
    std::ofstream(have + "/" + name) << (std::string(name) == "differs" ? "abd" : "abc");
  }
  struct Case {
    const char* what;
    Tree want, have;  // each with a root directory of root's, 0755
    Lines diffs;
  } cases[] = {
      // clang-format off
      {"the same; a link's mode does not count",
       {{"same", file(3)}, {"l", symlink("a")}}, {{"same", file(3)}, {"l", symlink("a", 0755)}},
       {}},
      {"missing and extra", {{"gone", dir()}, {"bad\nname", dir()}}, {{"extra", file(1)}},
       {"/bad\\012name: missing from the built image", "/gone: missing from the built image",
        "/extra: in the built image but not in the new tree"}},
      {"kind, owner, mode",
       {{"k", dir()}, {"o", owned(dir(), 500, 100)}, {"m", dir(0755)}},
       {{"k", file(0)}, {"o", dir()}, {"m", dir(0700)}},
       {"/k: directory wanted, regular file built", "/m: mode 755 wanted, 700 built",
        "/o: owner 500:100 wanted, 0:0 built"}},
      {"link target, device, content",
       {{"l", symlink("a")}, {"d", device(1, 3)}, {"s", file(3)}, {"differs", file(3)}},
       {{"l", symlink("b")}, {"d", device(1, 5)}, {"s", file(4)}, {"differs", file(3)}},
       {"/d: device 1,3 wanted, 1,5 built", "/differs: content differs",
        "/l: link target a wanted, b built", "/s: content differs"}},
      {"hard links",
       {{"h1", file(3, 5, 2)}, {"h2", file(3, 5, 2)}}, {{"h1", file(3, 6)}, {"h2", file(3, 7)}},
       {"/h1: hard links differ", "/h2: hard links differ"}},
      {"at most five from the new tree", {{"a", dir()}, {"b", dir()}, {"c", dir()}, {"d", dir()},
       {"e", dir()}, {"f", dir()}}, {{"g", dir()}},
       {"/a: missing from the built image", "/b: missing from the built image",
        "/c: missing from the built image", "/d: missing from the built image",
        "/e: missing from the built image"}},
      {"at most five with the built image's", {{"a", dir()}, {"b", dir()}, {"c", dir()}, {"d", dir()}},
       {{"e", dir()}, {"f", dir()}},
       {"/a: missing from the built image", "/b: missing from the built image",
        "/c: missing from the built image", "/d: missing from the built image",
        "/e: in the built image but not in the new tree"}}};
  // clang-format on
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.want.emplace("", dir());
    c.have.emplace("", dir());
    EXPECT_EQ(c.diffs, compareTrees(want, c.want, have, c.have, 5));
  }
}

TEST(Builder, ChangePlan) {
  struct Case {
    const char* what;
    Tree before, after;  // each with a root directory of root's, 0755, unless given
    std::vector<std::pair<array**, const char*>> reported;  // list, entry
    const char* plan;  // removed | carried | owner and mode set
  } cases[] = {        // clang-format off
      {"removed by the report and by the trees; lost+found is the filesystem's",
       {{"gone", file(3)}, {"old", dir()}, {"old/x", file(1)}, {"quiet", file(1)}}, {},
       {{&myDeletedFiles, "/gone"}, {&myDeletedDirectories, "/old"},
        {&myDeletedDirectories, "/lost+found"}, {&myDeletedFiles, "/lost+found/#12"}},
       "/gone /old /old/x /quiet |  | "},
      {"a content change the trees cannot see: removed, then carried with all its names",
       {{"c", file(3)}, {"l", file(3, 9, 2)}, {"l2", file(3, 9, 2)}},
       {{"c", file(3)}, {"l", file(3, 9, 2)}, {"l2", file(3, 9, 2)}},
       {{&myChangedFiles, "c"}, {&myChangedHardLinks, "l"}},
       "/c /l /l2 | /c /l /l2 | "},
      {"added files and directories with their contents",
       {},
       {{"nf", file(1)}, {"nd", dir()}, {"nd/x", file(1)}, {"nd/sub", dir()},
        {"nd/sub/y", file(1)}, {"f2d", dir()}},
       {{&myAddedFiles, "/nf"}, {&myAddedDirectories, "/nd(500:100)755"},
        {&myAddedDirectories, "/f2d"}},
       " | /f2d /nd /nd/sub /nd/sub/y /nd/x /nf | "},
      {"kind, link target, device or size differ: replaced",
       {{"k", file(1)}, {"t", symlink("a")}, {"d", device(1, 3)}, {"s", file(3)},
        {"same", file(3)}},
       {{"k", dir()}, {"k/in", file(1)}, {"t", symlink("b")}, {"d", device(1, 5)},
        {"s", file(4)}, {"same", file(3)}},
       {}, "/d /k /s /t | /d /k /k/in /s /t | "},
      {"owners and modes from the report and the trees; none for carried objects",
       {{"m", file(1)}, {"o", file(1)}, {"l", symlink("t")}, {"lm", symlink("t")},
        {"p", file(1)}, {"b", file(3)}},
       {{"m", file(1, 0, 1, 0600)}, {"o", owned(file(1), 500, 100)},
        {"l", owned(symlink("t"), 7, 0)}, {"lm", symlink("t", 0755)}, {"p", file(1)},
        {"b", file(4, 0, 1, 0600)}},
       {{&myAttributesModified, "  chmod -v 600    \"/p\"\n"},
        {&myAttributesModified, "  chmod -v 600    \"/b\"\n"},
        {&myAttributesModified, "  chown -v 5  \"/absent\"\n"}},
       "/b | /b | /l /m /o /p"},
      {"top-level hidden entries are always carried",
       {{".h", dir()}, {".h/f", file(1)}, {"a", dir()}, {"a/.i", file(1)}},
       {{".h", dir()}, {".h/f", file(1)}, {"a", dir()}, {"a/.i", file(1)}},
       {}, " | /.h /.h/f | "},
      {"a hard-link group that formed is carried with all its names",
       {{"h1", file(3, 10)}, {"h2", file(3, 11)}, {"h3", file(3, 12)}},
       {{"h1", file(3, 20, 2)}, {"h2", file(3, 20, 2)}, {"h3", file(3, 12)}},
       {}, "/h1 /h2 | /h1 /h2 | "},
      {"the root: set when the wanted root is not root's 0755",
       {}, {{"", dir(0700)}}, {}, " |  | /"}};
  // clang-format on
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    freeChangeLists();
    for (const auto& entry : c.reported) {
      if (!*entry.first) *entry.first = newArray();
      push(**entry.first, entry.second);
    }
    c.before.emplace("", dir());
    c.after.emplace("", dir());
    ChangePlan plan = planChanges(c.before, c.after);
    EXPECT_EQ(c.plan, shown(plan.remove) + " | " + shown(plan.payload) + " | " + shown(plan.fix));
  }
  freeChangeLists();
}

TEST(Builder, PayloadOrderPutsEveryDirectoryBeforeItsContents) {
  EXPECT_EQ((std::vector<std::string>{".x", "a", "a/b", "a/b/c", "a b", "a b/c", "a-b", "b"}),
            payloadOrder({"b", "a-b", "a b/c", "a b", "a/b/c", "a/b", "a", ".x"}));
}

TEST(Builder, ScriptLines) {
  for (const Row& c : caseRows("script-lines")) {
    std::set<std::string> names;
    Tree tree;
    for (const std::string& item : lines(c[2])) {
      unsigned uid = 0, gid = 0, mode = 0;
      int at = 0;
      char kind = 'f';
      if (c[0] == "bash2") sscanf(item.c_str(), "%c %u:%u %o %n", &kind, &uid, &gid, &mode, &at);
      std::string rel = item.substr(static_cast<size_t>(at));
      names.insert(rel);
      mode |= kind == 'd' ? S_IFDIR : kind == 'l' ? S_IFLNK : S_IFREG;
      tree[rel] = owned(node(mode), uid, gid);
    }
    size_t budget = std::stoul(c[1]);
    Lines made = c[0] == "bash1" ? removalLines(names, budget) : fixLines(names, tree, budget);
    EXPECT_EQ(lines(c[3]), made) << c[0] << " " << c[2];
  }
  // Cut at the budget: 2,000 names, 206 bytes quoted, 159 a line, in order.
  std::set<std::string> many;
  std::string all;
  for (int i = 1000; i < 3000; ++i) {
    all += " './" + *many.insert(std::to_string(i) + std::string(196, 'n')).first + "'";
  }
  Lines cut = removalLines(many, SCRIPT_LINE_BYTES);
  EXPECT_EQ(13u, cut.size());
  std::string joined;
  for (const std::string& line : cut) {
    EXPECT_LE(line.size() + 1, SCRIPT_LINE_BYTES);
    joined += line.substr(9);
  }
  EXPECT_EQ(all, joined);
}
