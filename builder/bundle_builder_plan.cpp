// bundle_builder_plan.cpp - turns the checker's change lists and the two
// trees into the bundle's plan: what maint_cmd_bash1 removes, what the
// payload carries and whose owner, group and mode maint_cmd_bash2 sets.
// The lists say what the checker saw; the trees complete what its policy
// cannot see: hard-link groups that formed or split, device numbers, kinds
// of object it does not tell apart, and the top-level hidden entries that
// the apply run's copy of the old tree drops.  Also the order of the
// payload and the scripts' command lines, each naming many objects.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "bundle_builder.h"
#include "maint.h"

// Every text of a change list, with the leading slash removed.
static std::vector<std::string> listPaths(array* list) {
  std::vector<std::string> paths;
  if (!list) return paths;
  for (array_elem* e = first(*list); e; e = next(*e)) {
    const char* text = static_cast<const char*>(e->data);
    if (!text) continue;
    if (text[0] == '/') ++text;
    // The image's lost+found belongs to the filesystem, not to the tree.
    if (strcmp(text, "lost+found") == 0 || strncmp(text, "lost+found/", 11) == 0) continue;
    paths.push_back(text);
  }
  return paths;
}

// An added-directory entry is "path(owner:group)octal" (or a bare path for a
// file that became a directory): the path is the one that is a directory
// of the wanted tree.
static std::string addedDirectoryPath(const std::string& entry, const Tree& newTree) {
  auto it = newTree.find(entry);
  if (it != newTree.end() && S_ISDIR(it->second.mode)) return entry;
  size_t end = entry.size();
  while (end > 0 && entry[end - 1] >= '0' && entry[end - 1] <= '7') --end;
  if (end > 0 && entry[end - 1] == ')') {
    size_t open = entry.rfind('(', end - 1);
    if (open != std::string::npos) return entry.substr(0, open);
  }
  return entry;
}

// The path of an attribute entry: the text between the first "\"/" and the
// next '"' (names with quotes never get this far).
static std::string attributePath(const char* entry) {
  const char* start = strstr(entry, "\"/");
  if (!start) return "";
  start += 2;
  const char* end = strchr(start, '"');
  return end ? std::string(start, static_cast<size_t>(end - start)) : std::string();
}

static bool isUnder(const std::string& path, const std::string& dir) {
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
         path[dir.size()] == '/';
}

// Puts `rel` and, for a directory, everything below it into the payload.
static void addWithContents(ChangePlan& plan, const Tree& newTree, const std::string& rel) {
  plan.payload.insert(rel);
  auto it = newTree.find(rel);
  if (it == newTree.end() || !S_ISDIR(it->second.mode)) return;
  for (auto below = newTree.upper_bound(rel); below != newTree.end(); ++below) {
    if (isUnder(below->first, rel)) plan.payload.insert(below->first);
  }
}

// Replaces `rel` of the old tree: removed first, then carried whole.
static void replace(ChangePlan& plan, const Tree& oldTree, const Tree& newTree,
                    const std::string& rel) {
  if (oldTree.count(rel)) plan.remove.insert(rel);
  if (newTree.count(rel)) addWithContents(plan, newTree, rel);
}

static bool sameKind(const TreeEntry& a, const TreeEntry& b) {
  return (a.mode & S_IFMT) == (b.mode & S_IFMT);
}

ChangePlan planChanges(const Tree& oldTree, const Tree& newTree) {
  methodTrace trace("planChanges");
  ChangePlan plan;

  // What the checker reported.
  for (const std::string& p : listPaths(deletedFiles())) plan.remove.insert(p);
  for (const std::string& p : listPaths(deletedDirectories())) plan.remove.insert(p);
  for (const std::string& p : listPaths(changedFiles())) replace(plan, oldTree, newTree, p);
  for (const std::string& p : listPaths(changedHardLinks())) replace(plan, oldTree, newTree, p);
  for (const std::string& p : listPaths(addedFiles())) addWithContents(plan, newTree, p);
  for (const std::string& p : listPaths(addedDirectories())) {
    addWithContents(plan, newTree, addedDirectoryPath(p, newTree));
  }
  if (array* attrs = attributesModified()) {
    for (array_elem* e = first(*attrs); e; e = next(*e)) {
      std::string p = attributePath(static_cast<const char*>(e->data));
      if (!p.empty() && newTree.count(p)) plan.fix.insert(p);
    }
  }

  // What the policy cannot show.  Objects gone from the wanted tree:
  for (const auto& entry : oldTree) {
    if (!entry.first.empty() && !newTree.count(entry.first)) plan.remove.insert(entry.first);
  }
  for (const auto& entry : newTree) {
    const std::string& rel = entry.first;
    if (rel.empty()) continue;
    const TreeEntry& w = entry.second;
    auto old = oldTree.find(rel);
    // Top-level hidden entries: the apply run's "cp -a OLD/*" skips them.
    if (rel[0] == '.' && rel.find('/') == std::string::npos) addWithContents(plan, newTree, rel);
    if (old == oldTree.end()) {
      addWithContents(plan, newTree, rel);
      continue;
    }
    const TreeEntry& o = old->second;
    bool differs = !sameKind(w, o) || (S_ISLNK(w.mode) && w.target != o.target) ||
                   ((S_ISCHR(w.mode) || S_ISBLK(w.mode)) && w.rdev != o.rdev) ||
                   (S_ISREG(w.mode) && w.size != o.size);
    if (differs) {
      replace(plan, oldTree, newTree, rel);
    } else if (w.uid != o.uid || w.gid != o.gid ||
               (!S_ISLNK(w.mode) && (w.mode & 07777) != (o.mode & 07777))) {
      plan.fix.insert(rel);
    }
  }

  // Hard-link groups: a file whose group of names changed is carried with
  // all its names, and every name of a carried file is carried, so that the
  // payload recreates the links.  Repeat until nothing is added.
  bool grown = true;
  while (grown) {
    grown = false;
    for (const auto& entry : newTree) {
      if (!S_ISREG(entry.second.mode)) continue;
      const std::string& rel = entry.first;
      std::set<std::string> group = linkGroup(newTree, rel);
      bool carried = plan.payload.count(rel) > 0;
      if (!carried && group != linkGroup(oldTree, rel)) carried = true;
      if (!carried) continue;
      for (const std::string& name : group) {
        if (plan.payload.count(name)) continue;
        replace(plan, oldTree, newTree, name);
        grown = true;
      }
      if (!plan.payload.count(rel)) {
        replace(plan, oldTree, newTree, rel);
        grown = true;
      }
    }
  }

  // Carried objects get their owners and modes from the payload.
  for (const std::string& p : plan.payload) plan.fix.erase(p);
  // The new image's root comes from mke2fs (root's, 755); the wanted root
  // may differ.
  auto root = newTree.find("");
  if (root != newTree.end() &&
      (root->second.uid != 0 || root->second.gid != 0 || (root->second.mode & 07777) != 0755)) {
    plan.fix.insert("");
  }
  return plan;
}

// Component-wise order: "a" < "a/b" < "a b", so a directory precedes its
// contents whatever characters its siblings hold.
static bool componentLess(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    if (a[i] == '/') return true;
    if (b[i] == '/') return false;
    return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
  }
  return a.size() < b.size();
}

std::vector<std::string> payloadOrder(const std::set<std::string>& payload) {
  std::vector<std::string> order(payload.begin(), payload.end());
  std::sort(order.begin(), order.end(), componentLess);
  return order;
}

// './path' for a script line, single-quoted; the root is './'.  A quote
// inside a name ends the quoting, is escaped and quoting resumes (names
// with quotes are refused before this, but the line stays one name).
static std::string quoted(const std::string& rel) {
  std::string text = "'./";
  for (char c : rel) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return text + "'";
}

// Appends lines of `command` followed by the quoted names, as many names a
// line as fit in `budget` bytes with the newline; a name that alone would
// not fit still gets a line of its own.
static void batch(std::vector<std::string>& lines, const std::string& command,
                  const std::vector<std::string>& rels, size_t budget) {
  std::string line;
  for (const std::string& rel : rels) {
    std::string name = " " + quoted(rel);
    if (!line.empty() && line.size() + name.size() + 1 > budget) {
      lines.push_back(line);
      line.clear();
    }
    if (line.empty()) line = command;
    line += name;
  }
  if (!line.empty()) lines.push_back(line);
}

// True when a directory above `rel` is removed already.
static bool parentRemoved(const std::set<std::string>& remove, const std::string& rel) {
  for (size_t slash = rel.find('/'); slash != std::string::npos; slash = rel.find('/', slash + 1)) {
    if (remove.count(rel.substr(0, slash))) return true;
  }
  return false;
}

std::vector<std::string> removalLines(const std::set<std::string>& remove, size_t budget) {
  std::vector<std::string> names;
  for (const std::string& rel : remove) {
    if (!parentRemoved(remove, rel)) names.push_back(rel);
  }
  std::vector<std::string> lines;
  batch(lines, "rm -rf --", names, budget);
  return lines;
}

std::vector<std::string> fixLines(const std::set<std::string>& fix, const Tree& newTree,
                                  size_t budget) {
  std::map<std::pair<uid_t, gid_t>, std::vector<std::string>> owners;
  std::map<mode_t, std::vector<std::string>> modes;
  for (const std::string& rel : fix) {
    const TreeEntry& e = newTree.at(rel);
    owners[{e.uid, e.gid}].push_back(rel);
    if (!S_ISLNK(e.mode)) modes[e.mode & 07777].push_back(rel);
  }
  std::vector<std::string> lines;
  char command[64];
  for (const auto& group : owners) {
    snprintf(command, sizeof command, "chown -h %u:%u --", static_cast<unsigned>(group.first.first),
             static_cast<unsigned>(group.first.second));
    batch(lines, command, group.second, budget);
  }
  for (const auto& group : modes) {
    snprintf(command, sizeof command, "chmod %04o --", static_cast<unsigned>(group.first));
    batch(lines, command, group.second, budget);
  }
  return lines;
}
