// Runs test scripts through tests/sandbox/sandbox.sh and reads back what they
// left in the share; helpers for lines, log stamps and quoting.
#include "sandbox.h"

#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <regex>
#include <sstream>

extern char** environ;

namespace {

// Extra time the outer guard gives the sandbox beyond the script's own limit
// (set-up, stand-in package build, leak report).
const int GUARD_SECONDS = 120;

std::string sandboxScript() { return sourceDir() + "/tests/sandbox/sandbox.sh"; }

void makeParents(const std::string& file) {
  for (size_t at = file.find('/', 1); at != std::string::npos; at = file.find('/', at + 1)) {
    std::string dir = file.substr(0, at);
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
      ADD_FAILURE() << "mkdir " << dir << ": " << strerror(errno);
  }
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path) == 0 ? 0 : -1;
}

// Environment of the sandbox process: ours, with the build paths set.
std::vector<std::string> sandboxEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (strncmp(*e, "DM_BINARY_DIR=", 14) != 0 && strncmp(*e, "DM_APPLYKESTRO=", 15) != 0)
      env.push_back(*e);
  }
  env.push_back("DM_BINARY_DIR=" + binaryDir());
  env.push_back("DM_APPLYKESTRO=" + applyKestroPath());
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& words) {
  std::vector<char*> p;
  for (auto& w : words) p.push_back(&w[0]);
  p.push_back(nullptr);
  return p;
}

// Starts argv with stdin /dev/null and stdout, stderr into files; returns
// the exit status (128 + signal when killed), or -1 when it cannot start.
// posix_spawn keeps this safe to call from several threads.
int spawnAndWait(std::vector<std::string> argv, const std::string& outPath,
                 const std::string& errPath) {
  std::vector<std::string> env = sandboxEnvironment();
  std::vector<char*> argp = pointers(argv);
  std::vector<char*> envp = pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << strerror(rc);
    return -1;
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) {
      ADD_FAILURE() << "waitpid: " << strerror(errno);
      return -1;
    }
  }
  if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
  return -1;
}

bool checkSandbox(std::string* why) {
  char dirTemplate[] = "/tmp/dm-sandbox-check.XXXXXX";
  if (mkdtemp(dirTemplate) == nullptr) {
    *why = std::string("mkdtemp: ") + strerror(errno);
    return false;
  }
  std::string dir = dirTemplate;
  int status = spawnAndWait({"bash", sandboxScript(), "--check"}, dir + "/out", dir + "/err");
  std::string err = readHostFile(dir + "/err");
  nftw(dir.c_str(), removeEntry, 8, FTW_DEPTH | FTW_PHYS);
  while (!err.empty() && err.back() == '\n') err.pop_back();
  if (status == 0) return true;
  *why = err.empty() ? "sandbox.sh --check failed" : err;
  if (status != 77) *why += " (status " + std::to_string(status) + ")";
  return false;
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const RunResult& r) {
  return os << "status " << r.status << "\n--- stdout ---\n"
            << r.out << "\n--- stderr ---\n"
            << r.err << "\n---";
}

Sandbox::Sandbox(const std::string& rpmTripwire) : rpm_(rpmTripwire) {
  char dirTemplate[] = "/tmp/dm-sandbox-test.XXXXXX";
  if (mkdtemp(dirTemplate) == nullptr) {
    ADD_FAILURE() << "mkdtemp: " << strerror(errno);
    return;
  }
  top_ = dirTemplate;
  share_ = top_ + "/share";
  if (mkdir(share_.c_str(), 0755) != 0)
    ADD_FAILURE() << "mkdir " << share_ << ": " << strerror(errno);
}

Sandbox::~Sandbox() {
  if (top_.empty()) return;
  const char* keep = getenv("DM_KEEP_SANDBOX");
  if (keep != nullptr && strcmp(keep, "1") == 0) {
    std::cerr << "sandbox share kept: " << share_ << "\n";
    return;
  }
  // FTW_MOUNT: never descend into anything mounted below the share.
  nftw(top_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

std::string Sandbox::path(const std::string& rel) const { return share_ + "/" + rel; }

void Sandbox::writeFile(const std::string& rel, const std::string& content, int mode) {
  std::string file = path(rel);
  makeParents(file);
  std::ofstream os(file, std::ios::binary | std::ios::trunc);
  os.write(content.data(), static_cast<std::streamsize>(content.size()));
  os.close();
  if (!os) ADD_FAILURE() << "cannot write " << file;
  if (chmod(file.c_str(), static_cast<mode_t>(mode)) != 0)
    ADD_FAILURE() << "chmod " << file << ": " << strerror(errno);
}

std::string Sandbox::readFile(const std::string& rel) const {
  if (!exists(rel)) {
    ADD_FAILURE() << "no file " << rel << " in the share";
    return "";
  }
  return readHostFile(path(rel));
}

bool Sandbox::exists(const std::string& rel) const {
  struct stat st;
  return lstat(path(rel).c_str(), &st) == 0;
}

RunResult Sandbox::run(const std::string& script, int timeoutSeconds) {
  RunResult result{-1, "", ""};
  leaks_.clear();
  if (top_.empty()) return result;
  std::string report = path(".sandbox-leaks");
  unlink(report.c_str());

  std::string limit = std::to_string(timeoutSeconds);
  std::vector<std::string> argv = {"timeout",
                                   "-k",
                                   "10",
                                   std::to_string(timeoutSeconds + GUARD_SECONDS),
                                   "bash",
                                   sandboxScript(),
                                   "--share",
                                   share_,
                                   "--rpm-tripwire",
                                   rpm_,
                                   "--timeout",
                                   limit};
  for (const auto& b : binds_) {
    argv.push_back("--bind");
    argv.push_back(b);
  }
  argv.insert(argv.end(), {"--", "bash", "-c", script});

  std::string outPath = top_ + "/run.out";
  std::string errPath = top_ + "/run.err";
  result.status = spawnAndWait(argv, outPath, errPath);
  result.out = readHostFile(outPath);
  result.err = readHostFile(errPath);
  leaks_ = readHostFile(report);
  return result;
}

bool sandboxAvailable(std::string* why) {
  static std::once_flag once;
  static bool available = false;
  static std::string reason;
  std::call_once(once, [] { available = checkSandbox(&reason); });
  if (!available && why != nullptr) *why = reason;
  return available;
}

bool e2eRequired() {
  const char* v = getenv("DELTAMAINT_REQUIRE_E2E");
  return v != nullptr && strcmp(v, "1") == 0;
}

std::string applyKestroPath() { return DM_APPLYKESTRO; }
std::string sourceDir() { return DM_SOURCE_DIR; }
std::string binaryDir() { return DM_BINARY_DIR; }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    result.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

std::string shellQuote(const std::string& word) {
  std::string q = "'";
  for (char c : word) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

std::string readHostFile(const std::string& path) {
  std::ifstream is(path, std::ios::binary);
  if (!is) return "";
  std::ostringstream ss;
  ss << is.rdbuf();
  return ss.str();
}

namespace {

// Fills tm from a stamp; false when the line does not start with one.
bool parseLogStamp(const std::string& line, struct tm* tm) {
  static const std::regex stamp("^(\\d{2})/(\\d{2})/(\\d{2})-(\\d{2}):(\\d{2}):(\\d{2}) - ");
  std::smatch m;
  if (line.size() < LOG_STAMP_LENGTH ||
      !std::regex_search(line.begin(), line.begin() + LOG_STAMP_LENGTH, m, stamp))
    return false;
  int v[6];
  for (int i = 0; i < 6; ++i) v[i] = std::stoi(m[i + 1].str());
  if (v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59 || v[5] > 60)
    return false;
  *tm = {};
  tm->tm_year = 100 + v[0];
  tm->tm_mon = v[1] - 1;
  tm->tm_mday = v[2];
  tm->tm_hour = v[3];
  tm->tm_min = v[4];
  tm->tm_sec = v[5];
  tm->tm_isdst = -1;
  return true;
}

}  // namespace

bool hasLogStamp(const std::string& line) {
  struct tm tm;
  return parseLogStamp(line, &tm);
}

std::string logText(const std::string& line) {
  return hasLogStamp(line) ? line.substr(LOG_STAMP_LENGTH) : std::string();
}

time_t logStampTime(const std::string& line) {
  struct tm tm;
  if (!parseLogStamp(line, &tm)) return -1;
  return mktime(&tm);
}
