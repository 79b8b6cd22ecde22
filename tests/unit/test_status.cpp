// Tests of what kestroStatus reports (status/): prepared stanza files,
// images with their records and the run lock, each a row of
// tests/data/cases/status.tsv, shown as text and as JSON; and the newest
// stanza of one bundle as a name finds it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "maint.h"
#include "status.h"
#include "support.h"

namespace {

// A child that holds the run lock, taken through the library as
// applyKestro takes it; its process id, or 0.
pid_t holdLock(const std::string& path) {
  int ready[2];
  if (pipe(ready) != 0) return 0;
  pid_t pid = fork();
  if (pid == 0) {
    getMaintLock(path.c_str(), "test");
    if (write(ready[1], "x", 1) == 1) pause();
    _exit(0);
  }
  char c;
  bool held = read(ready[0], &c, 1) == 1;
  close(ready[0]);
  close(ready[1]);
  return held ? pid : 0;
}

// Columns: what, stanza file ("~": none), files of the image directory
// ("NAME" or "NAME=CONTENT", ";" between them, all dated 1970), the lock
// file ("~": none, "free", "held"), then the text and the JSON expected
// ("D" for the directory of the places, "P" for the holder's process id);
// a bundle name and its text, where given.
TEST(Status, PreparedServers) {
  setenv("TZ", "UTC", 1);
  tzset();
  for (const Row& c : caseRows("status")) {
    TempLog dir;
    StatusPlaces places{dir.dir() + "/clientinstall.bundles", dir.dir() + "/kestro.lock",
                        dir.dir() + "/image"};
    if (c[1] == "DIR") mkdir(places.stanzaFile.c_str(), 0755);
    if (c[1] != "~" && c[1] != "DIR") writeWholeFile(places.stanzaFile, c[1]);
    if (!c[2].empty()) mkdir(places.imageDir.c_str(), 0755);
    for (const std::string& file : lines(std::regex_replace(c[2], std::regex(";"), "\n"))) {
      std::string path = places.imageDir + "/" + file.substr(0, file.find('='));
      writeWholeFile(path, file.find('=') == std::string::npos ? "" : file.substr(file.find('=') + 1));
      utimbuf epoch{0, 0};
      utime(path.c_str(), &epoch);
    }
    if (c[3] == "free") writeWholeFile(places.lockFile, "");
    pid_t holder = c[3] == "held" ? holdLock(places.lockFile) : 0;
    ServerStatus status;
    std::string error;
    std::string text = gatherStatus(places, status, error)
                           ? statusText(places, status) + statusJson(places, status).dump()
                           : "error: " + error;
    text = std::regex_replace(text, std::regex(dir.dir()), "D");
    if (holder) {
      text = std::regex_replace(text, std::regex(std::to_string(holder)), "P");
      kill(holder, SIGKILL);
      waitpid(holder, nullptr, 0);
    }
    EXPECT_EQ(c[4] + c[5], text) << c[0];
    if (!c[6].empty()) {
      EXPECT_EQ(c[7], bundleText(c[6], findBundle(status, c[6]))) << c[0];
    }
  }
}

}  // namespace
