// Signals while each command of a run is running: SIGTERM, SIGINT, SIGQUIT
// or SIGHUP to the tool alone or to its whole process group (as Ctrl-C at a
// terminal).  The command is held at its start by tests/e2e/gate.cpp, the
// signal is sent, and the command let go once the tool's handler has run
// (it gives the signals their default actions back last).  The run must end
// with status 1 and the interruption message, a "Failed" stanza, no mount,
// loop device, working directory, mount point or image under a final name;
// the next run of the same bundle must end "OK".  CI runs one case per
// command, the signals and both ways rotating; DM_SIGNAL_MATRIX=full runs
// all 144.
#include <cstdlib>
#include <sstream>

#include "root.h"

namespace {

// A command of signals.tsv: name, fixture, program, text.
using Command = std::vector<std::string>;

std::vector<Command> commands() {
  std::vector<Command> rows;
  for (const std::string& line : lines(readFile(DM_SOURCE_DIR "/tests/e2e/signals.tsv"))) {
    if (line[0] == '#' || line.rfind("name\t", 0) == 0) continue;
    Command c;
    std::istringstream fields(line);
    for (std::string f; std::getline(fields, f, '\t');) c.push_back(f);
    c.resize(4);  // an empty text ends the line
    rows.push_back(c);
  }
  return rows;
}

const char* const SIGNALS[] = {"TERM", "INT", "QUIT", "HUP"};
const int NUMBERS[] = {15, 2, 3, 1};

struct Case {
  Command command;
  int signal;  // index into SIGNALS
  bool group;
};

std::vector<Case> matrix() {
  const char* full = getenv("DM_SIGNAL_MATRIX");
  std::vector<Command> all = commands();
  std::vector<Case> cases;
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t s = 0; s < 8; ++s)
      if ((full && std::string(full) == "full") || s == (i % 4) * 2 + (i / 4) % 2)
        cases.push_back({all[i], static_cast<int>(s / 2), s % 2 == 1});
  return cases;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.command[0]; }

class Interrupt : public E2E, public testing::WithParamInterface<Case> {};

TEST_P(Interrupt, Run) {
  const Case& k = GetParam();
  const char* stanza = "tail -n 3 /var/maint/clientinstall.bundles | head -n 2 | sed 's/ - .*//'\n";
  Outcome o = root.apply(
      "-M b", "use " + k.command[1] + "; hold " + k.command[2] + " " + shellQuote(k.command[3]),
      std::string(stanza) +
          "ls -d /tmp/maint_zor/maint* /tftpboot/image/zor_image /tftpboot/image/*.md5 "
          "/tftpboot/image/pos-2.2-20060301 /tftpboot/image/pos-2.2-20060301.gz 2>/dev/null\n"
          "\"$TOOL\" -M b </dev/null >/dev/null 2>&1; echo $?\n" + stanza,
      std::string("held >/dev/null || echo never held\nkill -") + SIGNALS[k.signal] +
          (k.group ? " -- -$tool" : " $tool") + "\nwait_for handled $tool || echo never handled\nrelease");
  EXPECT_EQ(1, o.tool) << o;
  EXPECT_EQ("", o.out);  // held and handled
  EXPECT_GLOB("*\nEFatal error: The run was interrupted by signal " + std::to_string(NUMBERS[k.signal]) +
                  ". Exiting.\n\n\n", o.console);
  EXPECT_EQ("/var/maint/downloads/b.tar {\n   Applied:   Failed\n0\n"
            "/var/maint/downloads/b.tar {\n   Applied:   OK\n", o.after);
  EXPECT_EQ("", o.leaks);
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupt, testing::ValuesIn(matrix()),
                         [](const testing::TestParamInfo<Case>& i) {
                           return i.param.command[0] + "_SIG" +
                                  SIGNALS[i.param.signal] + (i.param.group ? "_ToGroup" : "_ToTool");
                         });

}  // namespace
