// Test-side handle on tests/sandbox/sandbox.sh: runs bash scripts as root in
// a throwaway root with a host directory bound at /share, plus small helpers
// for reading the results (lines, log record stamps, shell quoting).
#ifndef DELTAMAINT_TESTS_SANDBOX_H
#define DELTAMAINT_TESTS_SANDBOX_H

#include <gtest/gtest.h>

#include <ctime>
#include <ostream>
#include <string>
#include <vector>

// Outcome of one sandbox run. status is the script's exit status, 128 plus
// the signal number when it died of a signal, 124 when it timed out.
struct RunResult {
  int status;
  std::string out;
  std::string err;
};
std::ostream& operator<<(std::ostream& os, const RunResult& r);

// One share directory on the host per object, removed by the destructor
// (kept, and its path printed, when DM_KEEP_SANDBOX=1). Every run starts from
// the host's root again: only the share carries files from run to run.
class Sandbox {
 public:
  // rpmTripwire: version of the rpm stand-in for the checker, or "none".
  explicit Sandbox(const std::string& rpmTripwire = "none");
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::string& share() const { return share_; }  // host path of /share
  std::string path(const std::string& rel) const;      // host path of /share/rel

  // Files in the share, by path relative to it; parents are created.
  void writeFile(const std::string& rel, const std::string& content, int mode = 0644);
  std::string readFile(const std::string& rel) const;  // adds a test failure if missing
  bool exists(const std::string& rel) const;

  void setRpmTripwire(const std::string& version) { rpm_ = version; }
  void bind(const std::string& hostPath) { binds_.push_back(hostPath); }

  // Runs `bash -c script` inside: cwd /share, HOME=/root, stdin /dev/null,
  // ended by timeout after timeoutSeconds (status 124).
  RunResult run(const std::string& script, int timeoutSeconds = 300);

  // Leak report of the last run: one line per mount or loop device the
  // script left behind ("mount TARGET SOURCE TYPE", "loop DEVICE FILE").
  const std::string& leaks() const { return leaks_; }

 private:
  std::string top_;  // host temp dir: share/ and the captured streams
  std::string share_;
  std::string rpm_;
  std::vector<std::string> binds_;
  std::string leaks_;
};

// True when this machine can host a sandbox; else *why says what is missing.
bool sandboxAvailable(std::string* why);
// True when DELTAMAINT_REQUIRE_E2E=1: sandbox tests must run, not skip.
bool e2eRequired();

// Skips the test when no sandbox can be built here, or fails it under
// DELTAMAINT_REQUIRE_E2E=1.
#define REQUIRE_SANDBOX()                                                                        \
  do {                                                                                           \
    std::string dmSandboxWhy_;                                                                   \
    if (!sandboxAvailable(&dmSandboxWhy_)) {                                                     \
      if (e2eRequired()) FAIL() << "DELTAMAINT_REQUIRE_E2E=1 but no sandbox: " << dmSandboxWhy_; \
      GTEST_SKIP() << dmSandboxWhy_;                                                             \
    }                                                                                            \
  } while (0)

std::string applyKestroPath();  // the built binary, same path inside the sandbox
std::string sourceDir();        // the source tree, same path inside the sandbox
std::string binaryDir();        // the build tree, same path inside the sandbox

// Text helpers.
std::vector<std::string> lines(const std::string& text);  // no empty last line
std::string shellQuote(const std::string& word);          // 'word' for bash
std::string readHostFile(const std::string& path);        // "" when unreadable

// Log records start with the 20-character local-time stamp
// "yy/mm/dd-HH:MM:SS - ".
const size_t LOG_STAMP_LENGTH = 20;
bool hasLogStamp(const std::string& line);
std::string logText(const std::string& line);  // the line after its stamp
time_t logStampTime(const std::string& line);  // -1 when there is no stamp

#endif
