// The end-to-end tests' side of tests/e2e/root.sh: a share directory on the
// host, bash scripts run as root in a fresh throwaway root each, and runs of
// the tool whose outcome (status, console, log records, stanzas, leftovers,
// leaks) comes back in one struct.  The scripts start with the shell helpers
// of tests/e2e/fixtures.sh sourced.
#ifndef DELTAMAINT_TESTS_E2E_ROOT_H
#define DELTAMAINT_TESTS_E2E_ROOT_H

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "text.h"

struct Outcome {
  int status = -1;       // the script's exit status (124: timed out)
  std::string out, err;  // its standard output and error
  std::string leaks;     // mounts and loop devices it left: "" when clean
  // Runs of the tool (Root::apply) only:
  int tool = -1;           // the tool's exit status
  std::string console;     // its standard output
  std::string errors;      // its standard error
  std::string log;         // /var/log/maint/kestro.log
  std::string records;     // the last run's log records, "T " for the stamp,
                           // W for its working directory, P for its pid
  std::string stanza;      // the last stanza's header and status word, "|"
                           // between them; "" without a stanza file
  std::string left;        // "zor(NAMES)" when /tmp/maint_zor is there, then
                           // the names in /tftpboot/image
  std::string after;       // what the `after` script printed
};
std::ostream& operator<<(std::ostream& os, const Outcome& o);

class Root {
 public:
  // rpm: version of the checker's stand-in package, or "none".
  explicit Root(const std::string& rpm = "2.3.1");
  ~Root();
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;

  Outcome run(const std::string& script, int seconds = 300);
  // applyKestro ARGS in the background ($tool), in its own process group,
  // SIGINT and SIGQUIT not ignored (as a start at a terminal leaves them):
  // `before` runs first in /root (it may cd elsewhere, and set RUN to a
  // command that runs the tool), `during` while it runs, `after` once it
  // has ended.
  Outcome apply(const std::string& args, const std::string& before = "",
                const std::string& after = "", const std::string& during = "");
  std::string read(const std::string& rel) const;  // file of the share
  void write(const std::string& rel, const std::string& text) const;

  std::string rpm;

 private:
  std::string share_;
};

// Skips a test that cannot run here, or fails it under DELTAMAINT_REQUIRE_E2E=1.
bool rootAvailable(std::string* why);
#define REQUIRE_E2E(available, why)                                           \
  do {                                                                        \
    std::string why_ = why;                                                   \
    if (!(available)) {                                                       \
      const char* need = getenv("DELTAMAINT_REQUIRE_E2E");                    \
      if (need && std::string(need) == "1") FAIL() << "cannot run: " << why_; \
      GTEST_SKIP() << why_;                                                   \
    }                                                                         \
  } while (0)

// Tests that run the tool: each gets a root of its own.
class E2E : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_E2E(rootAvailable(&why), why);
  }
  Root root;
};

std::string shellQuote(const std::string& word);
// The whole text matches the fnmatch(3) pattern ('*' spans lines too).
testing::AssertionResult globMatch(const char*, const char*, const std::string& glob,
                                   const std::string& text);
#define EXPECT_GLOB(glob, text) EXPECT_PRED_FORMAT2(globMatch, glob, text)
extern const std::string START;  // the console's first lines of a run
extern const std::string DELIM;  // the log's delimiter line

#endif  // DELTAMAINT_TESTS_E2E_ROOT_H
