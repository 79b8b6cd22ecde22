// status_gather.cpp - reads where this server stands: the status stanza
// file through the library's installed-bundles reader (so the same reading
// rules apply), the run lock as a lock test that takes nothing, and the
// images of the image directory with their checksum records.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "maint.h"
#include "status.h"

static StanzaItem item(const char* value) {
  StanzaItem it;
  if (!value) return it;
  it.present = true;
  std::string text = value;
  size_t dash = text.find(" - ");
  it.status = text.substr(0, dash);
  if (dash != std::string::npos) it.date = text.substr(dash + 3);
  return it;
}

static BundleStatus bundle(const ins_elem& ins) {
  BundleStatus b;
  b.name = ins.name ? ins.name : "";
  b.prepped = item(ins.prep);
  b.applied = item(ins.inst);
  b.backoff = item(ins.back);
  std::string rpms = ins.rpm ? ins.rpm : "";
  for (size_t at = 0, blank; (blank = rpms.find(' ', at)) != std::string::npos; at = blank + 1) {
    if (blank > at) b.rpm.push_back(rpms.substr(at, blank - at));
  }
  return b;
}

// The file must be there to be unreadable: a missing one is an empty list,
// as the reader takes it.  A directory opens but cannot be read.
static bool readable(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return true;
  struct stat st;
  int why = fd < 0 ? errno : fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (fd >= 0) close(fd);
  if (why != 0) error = strerror(why);
  return why == 0;
}

static void readBundles(const std::string& path, ServerStatus& status) {
  array* table = readInstalledBundles(path.c_str());
  // Each bundle once, as its newest stanza says, in the order of those.
  for (array_elem* e = first(*table); e; e = next(*e)) {
    BundleStatus b = bundle(*static_cast<const ins_elem*>(e->data));
    auto& list = status.bundles;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const BundleStatus& old) { return old.name == b.name; }),
               list.end());
    list.push_back(b);
  }
  freeInstalledBundles(table);
}

// The process whose lockf lock covers the lock file, if any.
static pid_t lockHolder(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct flock probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  pid_t holder = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK ? probe.l_pid : 0;
  close(fd);
  return holder;
}

static bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The checksum record of an image: the name up to its first ".gz", then
// ".md5", as the apply run names it.
static std::string recordName(const std::string& image) {
  return image.substr(0, image.find(".gz")) + ".md5";
}

static void readImages(const std::string& dir, ServerStatus& status) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::string name = entry.path().filename();
    struct stat st;
    if (lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (endsWith(name, ".md5")) continue;
    ImageStatus image;
    image.name = name;
    time_t when = st.st_mtime;
    image.modified = canonicalDate(&when);
    std::ifstream record(dir + "/" + recordName(name));
    image.hasRecord = static_cast<bool>(std::getline(record, image.record));
    status.images.push_back(image);
  }
  std::sort(status.images.begin(), status.images.end(),
            [](const ImageStatus& a, const ImageStatus& b) { return a.name < b.name; });
}

bool gatherStatus(const StatusPlaces& places, ServerStatus& status, std::string& error) {
  if (!readable(places.stanzaFile, error)) return false;
  readBundles(places.stanzaFile, status);
  status.lockHolder = lockHolder(places.lockFile);
  readImages(places.imageDir, status);
  return true;
}

static bool names(const std::string& header, const std::string& want, bool plain) {
  return header == want || (plain && endsWith(header, "/" + want));
}

const BundleStatus* findBundle(const ServerStatus& status, const std::string& bundle) {
  std::string tar = endsWith(bundle, ".tar") ? bundle : bundle + ".tar";
  bool plain = bundle.find('/') == std::string::npos;
  // The newest first: two paths may end in the same name.
  for (auto b = status.bundles.rbegin(); b != status.bundles.rend(); ++b) {
    if (names(b->name, bundle, plain) || names(b->name, tar, plain)) return &*b;
  }
  return nullptr;
}
