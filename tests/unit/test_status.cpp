// Tests of what kestroStatus reports (status/): prepared stanza files,
// images with their records and the run lock, each a row of
// tests/data/cases/status.tsv, shown as text and as JSON; and the newest
// stanza of one bundle as a name finds it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <regex>
#include <string>

#include "status.h"
#include "support.h"

namespace {

// A process that holds the run lock as applyKestro does until it is ended.
struct LockHolder {
  pid_t pid = 0;
  explicit LockHolder(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid = fork();
    if (pid == 0) {
      int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0700);
      if (fd >= 0 && lockf(fd, F_TLOCK, 0) == 0 && write(ready[1], "x", 1) == 1) pause();
      _exit(1);
    }
    char c;
    if (read(ready[0], &c, 1) != 1) pid = 0;
    close(ready[0]);
    close(ready[1]);
  }
  ~LockHolder() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
};

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
    std::unique_ptr<LockHolder> holder;
    if (c[3] == "held") holder = std::make_unique<LockHolder>(places.lockFile);
    ServerStatus status;
    std::string error;
    std::string text = gatherStatus(places, status, error)
                           ? statusText(places, status) + statusJson(places, status).dump()
                           : "error: " + error;
    text = std::regex_replace(text, std::regex(dir.dir()), "D");
    if (holder) text = std::regex_replace(text, std::regex(std::to_string(holder->pid)), "P");
    EXPECT_EQ(c[4] + c[5], text) << c[0];
    if (!c[6].empty()) {
      EXPECT_EQ(c[7], bundleText(c[6], findBundle(status, c[6]))) << c[0];
    }
  }
}

}  // namespace
