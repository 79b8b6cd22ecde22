// status.h - what kestroStatus tells about this server: the bundles of the
// status stanza file (each with its newest stanza), whether a run holds the
// run lock, and the images with their checksum records.  The places are
// the caller's: the command passes the fixed ones, the tests their own.
#ifndef DELTAMAINT_STATUS_STATUS_H
#define DELTAMAINT_STATUS_STATUS_H

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

struct StatusPlaces {
  std::string stanzaFile;
  std::string lockFile;
  std::string imageDir;
};

// A stanza item: the value before " - " is its status word, the rest its
// date ("No" has none).
struct StanzaItem {
  bool present = false;
  std::string status;
  std::string date;
};

// A bundle as its newest stanza records it.
struct BundleStatus {
  std::string name;
  StanzaItem prepped, applied, backoff;
  std::vector<std::string> rpm;
};

struct ImageStatus {
  std::string name;      // file name in the image directory
  std::string modified;  // its modification time as a stanza date
  bool hasRecord = false;
  std::string record;    // the first line of its .md5 record
};

struct ServerStatus {
  std::vector<BundleStatus> bundles;  // in the order of their newest stanzas
  pid_t lockHolder = 0;               // the process holding the lock, or 0
  std::vector<ImageStatus> images;    // sorted by name
};

// Reads everything; false, with `error` set, when the stanza file exists
// but cannot be read.  A missing file, lock file or image directory is
// simply empty.
bool gatherStatus(const StatusPlaces& places, ServerStatus& status, std::string& error);

// The bundle that BUNDLE names: a stanza named BUNDLE or, as applyKestro
// takes a name, BUNDLE.tar; a name without "/" also matches a stanza whose
// header ends in "/" and either.  Null when no stanza names it.
const BundleStatus* findBundle(const ServerStatus& status, const std::string& bundle);

std::string statusText(const StatusPlaces& places, const ServerStatus& status);
std::string bundleText(const std::string& bundle, const BundleStatus* found);
nlohmann::json statusJson(const StatusPlaces& places, const ServerStatus& status);
nlohmann::json bundleJson(const std::string& bundle, const BundleStatus* found);

#endif  // DELTAMAINT_STATUS_STATUS_H
