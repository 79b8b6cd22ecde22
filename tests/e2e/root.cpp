// Runs scripts through tests/e2e/root.sh and reads back what they left.
#include "root.h"

#include <fnmatch.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <regex>
#include <sstream>

const std::string START = "\nStarting apply phase for client POS image maintenance.\n";
const std::string DELIM = std::string(72, '#') + "\n";

static std::string rootScript() { return std::string(DM_SOURCE_DIR) + "/tests/e2e/root.sh"; }

static int shell(const std::string& command) {
  int rc = system(command.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc);
}

bool rootAvailable(std::string* why) {
  static std::once_flag once;
  static int status;
  std::call_once(once, [] { status = shell("bash " + shellQuote(rootScript()) + " --check"); });
  *why = "no throwaway root here (root.sh --check: " + std::to_string(status) + ")";
  return status == 0;
}

// The share lives in $DM_ROOTS (default /tmp) beside the roots.
Root::Root(const std::string& rpmVersion) : rpm(rpmVersion) {
  const char* roots = getenv("DM_ROOTS");
  std::string dir = std::string(roots && *roots ? roots : "/tmp") + "/dm-share.XXXXXX";
  share_ = mkdtemp(&dir[0]) ? dir : "";
}

Root::~Root() {
  const char* keep = getenv("DM_KEEP_SHARE");
  if (keep && std::string(keep) == "1") {
    std::cerr << "share kept: " << share_ << "\n";
  } else if (!share_.empty()) {
    shell("rm -rf --one-file-system " + shellQuote(share_));
  }
}

std::string Root::read(const std::string& rel) const { return readFile(share_ + "/" + rel); }

void Root::write(const std::string& rel, const std::string& text) const {
  std::ofstream(share_ + "/" + rel, std::ios::binary) << text;
}

Outcome Root::run(const std::string& script, int seconds) {
  write(".script", "set -u\nTOOL=" + shellQuote(DM_APPLYKESTRO) + "\nGATE=" +
                       shellQuote(DM_GATE) + "\n. \"$DM_SOURCE_DIR/tests/e2e/fixtures.sh\"\n" +
                       script + "\n");
  Outcome o;
  o.status = shell("DM_BINARY_DIR=" + shellQuote(DM_BINARY_DIR) + " bash " +
                   shellQuote(rootScript()) + " -r " + rpm + " -t " + std::to_string(seconds) +
                   " " + shellQuote(share_) + " bash /share/.script >" + share_ + "/.out 2>" +
                   share_ + "/.err");
  o.out = read(".out");
  o.err = read(".err");
  o.leaks = read(".leaks");
  return o;
}

// Replaces every `from` in `text` by `to`.
static void replace(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
}

Outcome Root::apply(const std::string& args, const std::string& before, const std::string& after,
                    const std::string& during) {
  Outcome o = run("mkdir -p /share/out /tftpboot/image; cd /root\n" + before +
                  "\nsetsid env --default-signal=INT,QUIT ${RUN:-} ${DM_TOOL_WRAPPER:-} \"$TOOL\" " +
                  args +
                  " </dev/null >/share/out/console 2>/share/out/errors & tool=$!\n" + during +
                  "\nwait $tool; echo $? >/share/out/status; echo $tool >/share/out/pid\n"
                  "cd /share; { :; " + after + "\n} >/share/out/after 2>&1; cd /share\n"
                  "cp /var/log/maint/kestro.log out/log; cp /var/maint/clientinstall.bundles "
                  "out/stanzas\n{ [ -d /tmp/maint_zor ] && echo \"zor($(ls -A /tmp/maint_zor))\"; "
                  "ls -A /tftpboot/image; } | xargs >out/left\nexit 0");
  EXPECT_EQ(0, o.status) << o;
  std::string pid = read("out/pid");
  if (pid.empty()) return o;
  pid.pop_back();
  o.tool = atoi(read("out/status").c_str());
  o.console = read("out/console");
  o.errors = read("out/errors");
  o.log = read("out/log");
  o.after = read("out/after");
  o.left = read("out/left");
  o.records = stamped(o.log);
  size_t at = o.records.rfind("T Starting apply phase");
  at = at == std::string::npos ? 0 : o.records.rfind(DELIM, at);
  o.records = o.records.substr(at == std::string::npos ? 0 : at);
  for (std::string* t : {&o.records, &o.left}) {
    replace(*t, "/tmp/maint_zor/maint" + pid, "W");
    replace(*t, "maint" + pid, "maintP");
    replace(*t, "." + pid + ".", ".P.");
    replace(*t, "." + pid + " ", ".P ");
  }
  std::vector<std::string> s = lines(read("out/stanzas"));
  if (s.size() >= 3) o.stanza = s[s.size() - 3] + "|" + s[s.size() - 2].substr(0, s[s.size() - 2].find(" - "));
  return o;
}

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "status " << o.status << "\n--- out ---\n" << o.out << "--- err ---\n" << o.err
            << "--- leaks ---\n" << o.leaks << "--- tool " << o.tool << ", console ---\n"
            << o.console << "--- records ---\n" << o.records << "--- left: " << o.left
            << "\n--- stanza: " << o.stanza << "\n--- after ---\n" << o.after;
}

std::string shellQuote(const std::string& word) {
  std::string q = "'";
  for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

testing::AssertionResult globMatch(const char*, const char* textExpr, const std::string& glob,
                                   const std::string& text) {
  if (fnmatch(glob.c_str(), text.c_str(), 0) == 0) return testing::AssertionSuccess();
  return testing::AssertionFailure() << textExpr << " does not match\n--- pattern ---\n"
                                     << glob << "\n--- text ---\n" << text << "\n---";
}
