// bundle_builder_tree.cpp - snapshots of a directory tree for the bundle
// builder: reading a tree without following links, the names that can be
// written into a maintenance script, hard-link groups, and the comparison
// of two trees that the builder's self-check reports.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bundle_builder.h"

// The longest relative path whose report line ("Modified object name:  ",
// the mount point, "/" and the path) still fits the parser's line buffer.
static const size_t MAX_REL_PATH = 240;

// The attributes of one object as lstat() gives them.
static TreeEntry entryOf(const struct stat& st) {
  TreeEntry e;
  e.mode = st.st_mode;
  e.uid = st.st_uid;
  e.gid = st.st_gid;
  e.nlink = st.st_nlink;
  e.size = st.st_size;
  e.rdev = st.st_rdev;
  e.ino = st.st_ino;
  return e;
}

static bool readDir(const std::string& root, const std::string& rel, Tree& tree,
                    std::string* error) {
  std::string dirPath = rel.empty() ? root : root + "/" + rel;
  DIR* dir = opendir(dirPath.c_str());
  if (!dir) {
    *error = dirPath + ": " + strerror(errno);
    return false;
  }
  std::vector<std::string> subdirs;
  errno = 0;
  while (struct dirent* de = readdir(dir)) {
    const char* name = de->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    if (rel.empty() && strcmp(name, "lost+found") == 0) continue;
    std::string child = rel.empty() ? std::string(name) : rel + "/" + name;
    std::string full = root + "/" + child;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) {
      *error = full + ": " + strerror(errno);
      closedir(dir);
      return false;
    }
    TreeEntry e = entryOf(st);
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      ssize_t n = readlink(full.c_str(), target, sizeof target - 1);
      if (n < 0) {
        *error = full + ": " + strerror(errno);
        closedir(dir);
        return false;
      }
      e.target.assign(target, static_cast<size_t>(n));
    }
    tree[child] = e;
    if (S_ISDIR(st.st_mode)) subdirs.push_back(child);
  }
  closedir(dir);
  for (const std::string& sub : subdirs) {
    if (!readDir(root, sub, tree, error)) return false;
  }
  return true;
}

bool readTree(const std::string& root, Tree& tree, std::string* error) {
  tree.clear();
  struct stat st;
  if (lstat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = root + ": not a directory";
    return false;
  }
  TreeEntry e = entryOf(st);
  e.size = 0;
  tree[""] = e;
  return readDir(root, "", tree, error);
}

int safeTreeName(const std::string& rel) {
  if (rel.empty() || rel.size() > MAX_REL_PATH) return 0;
  size_t start = 0;
  while (start <= rel.size()) {
    size_t end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    if (end == start) return 0;
    if (rel[start] == ' ' || rel[end - 1] == ' ') return 0;
    for (size_t i = start; i < end; ++i) {
      unsigned char c = static_cast<unsigned char>(rel[i]);
      if (c < 0x20 || c > 0x7e) return 0;
      if (c == '\'' || c == '"' || c == '`' || c == '\\') return 0;
    }
    start = end + 1;
  }
  return 1;
}

std::string printableName(const std::string& rel) {
  std::string out;
  for (unsigned char c : rel) {
    if (c < 0x20 || c > 0x7e || c == '\\') {
      char code[8];
      snprintf(code, sizeof code, "\\%03o", c);
      out += code;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::set<std::string> linkGroup(const Tree& tree, const std::string& rel) {
  std::set<std::string> group;
  auto it = tree.find(rel);
  if (it == tree.end() || !S_ISREG(it->second.mode)) return group;
  group.insert(rel);
  if (it->second.nlink < 2) return group;
  for (const auto& entry : tree) {
    if (S_ISREG(entry.second.mode) && entry.second.ino == it->second.ino) group.insert(entry.first);
  }
  return group;
}

// True when the two regular files hold the same bytes.
static bool sameContent(const std::string& a, const std::string& b) {
  int fa = open(a.c_str(), O_RDONLY | O_NOFOLLOW);
  int fb = open(b.c_str(), O_RDONLY | O_NOFOLLOW);
  bool same = fa >= 0 && fb >= 0;
  char ba[65536];
  char bb[65536];
  while (same) {
    ssize_t na = read(fa, ba, sizeof ba);
    ssize_t nb = na > 0 ? read(fb, bb, static_cast<size_t>(na)) : read(fb, bb, 1);
    if (na < 0 || nb < 0 || na != nb) {
      same = false;
    } else if (na == 0) {
      break;
    } else {
      same = memcmp(ba, bb, static_cast<size_t>(na)) == 0;
    }
  }
  if (fa >= 0) close(fa);
  if (fb >= 0) close(fb);
  return same;
}

static const char* kindName(mode_t mode) {
  if (S_ISREG(mode)) return "regular file";
  if (S_ISDIR(mode)) return "directory";
  if (S_ISLNK(mode)) return "symbolic link";
  if (S_ISCHR(mode)) return "character device";
  if (S_ISBLK(mode)) return "block device";
  if (S_ISFIFO(mode)) return "fifo";
  if (S_ISSOCK(mode)) return "socket";
  return "unknown object";
}

static std::string shown(const std::string& rel) { return "/" + printableName(rel); }

// One line describing how `have` differs from `want`, or "".
static std::string entryDifference(const std::string& rel, const std::string& wantRoot,
                                   const TreeEntry& w, const std::string& haveRoot,
                                   const TreeEntry& h) {
  char text[512];
  if ((w.mode & S_IFMT) != (h.mode & S_IFMT)) {
    snprintf(text, sizeof text, "%s: %s wanted, %s built", shown(rel).c_str(), kindName(w.mode),
             kindName(h.mode));
    return text;
  }
  if (w.uid != h.uid || w.gid != h.gid) {
    snprintf(text, sizeof text, "%s: owner %u:%u wanted, %u:%u built", shown(rel).c_str(),
             static_cast<unsigned>(w.uid), static_cast<unsigned>(w.gid),
             static_cast<unsigned>(h.uid), static_cast<unsigned>(h.gid));
    return text;
  }
  if (!S_ISLNK(w.mode) && (w.mode & 07777) != (h.mode & 07777)) {
    snprintf(text, sizeof text, "%s: mode %o wanted, %o built", shown(rel).c_str(),
             static_cast<unsigned>(w.mode & 07777), static_cast<unsigned>(h.mode & 07777));
    return text;
  }
  if (S_ISLNK(w.mode) && w.target != h.target) {
    return shown(rel) + ": link target " + printableName(w.target) + " wanted, " +
           printableName(h.target) + " built";
  }
  if ((S_ISCHR(w.mode) || S_ISBLK(w.mode)) && w.rdev != h.rdev) {
    snprintf(text, sizeof text, "%s: device %u,%u wanted, %u,%u built", shown(rel).c_str(),
             major(w.rdev), minor(w.rdev), major(h.rdev), minor(h.rdev));
    return text;
  }
  if (S_ISREG(w.mode)) {
    if (w.size != h.size || !sameContent(wantRoot + "/" + rel, haveRoot + "/" + rel)) {
      return shown(rel) + ": content differs";
    }
  }
  return "";
}

std::vector<std::string> compareTrees(const std::string& wantRoot, const Tree& want,
                                      const std::string& haveRoot, const Tree& have, size_t max) {
  std::vector<std::string> diffs;
  for (const auto& entry : want) {
    if (diffs.size() >= max) return diffs;
    auto it = have.find(entry.first);
    if (it == have.end()) {
      diffs.push_back(shown(entry.first) + ": missing from the built image");
      continue;
    }
    std::string d = entryDifference(entry.first, wantRoot, entry.second, haveRoot, it->second);
    if (d.empty() && S_ISREG(entry.second.mode) &&
        (entry.second.nlink > 1 || it->second.nlink > 1) &&
        linkGroup(want, entry.first) != linkGroup(have, entry.first)) {
      d = shown(entry.first) + ": hard links differ";
    }
    if (!d.empty()) diffs.push_back(d);
  }
  for (const auto& entry : have) {
    if (diffs.size() >= max) return diffs;
    if (want.find(entry.first) == want.end()) {
      diffs.push_back(shown(entry.first) + ": in the built image but not in the new tree");
    }
  }
  return diffs;
}
