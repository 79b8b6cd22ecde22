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

#include "root.h"

namespace {

struct Command {
  const char* name;
  const char* fixture;
  const char* program;  // as the kernel names the process
  const char* text;     // in its arguments: the run's own call
};

const Command COMMANDS[] = {
    {"BundleUnpack", "plain", "tar", "-xf /var/maint/downloads/b.tar"},
    {"Gunzip", "gz", "gunzip", "-c"},
    {"OldImageMount", "plain", "mount", "-r"},
    {"Dd", "plain", "dd", "of="},
    {"Mke2fs", "plain", "mke2fs", "-F"},
    {"Tune2fs", "gz", "tune2fs", "-j"},
    {"Cp", "plain", "cp", "-a"},
    {"Bash1", "plain", "maint_cmd_bash1", ""},
    {"PayloadTar", "plain", "tar", "--same-owner"},
    {"Bash2", "plain", "maint_cmd_bash2", ""},
    {"Checker", "plain", "tripwire", ""},  // static: its first open comes late
    {"Unmount", "plain", "umount", "zor_image"},
    {"E2fsck", "plain", "e2fsck", "-f"},
    {"Gzip", "gz", "gzip", "ImageInProcess"},
    // Outside the runner: start-up, checker keys, version query, last clean-up.
    {"StaleRemoval", "plain", "rm", "ImageInProcess"},
    {"CheckerKeys", "plain", "twadmin", ""},  // it hides its arguments
    {"VersionQuery", "plain", "rpm", "-q tripwire"},
    {"FinalCleanUp", "plain", "rm", "-rf /tmp/maint_zor/maint"},
};
const char* const SIGNALS[] = {"TERM", "INT", "QUIT", "HUP"};
const int NUMBERS[] = {15, 2, 3, 1};

struct Case {
  const Command* command;
  int signal;  // index into SIGNALS
  bool group;
};

std::vector<Case> matrix() {
  const char* full = getenv("DM_SIGNAL_MATRIX");
  std::vector<Case> cases;
  for (int i = 0; i < int(sizeof COMMANDS / sizeof COMMANDS[0]); ++i)
    for (int s = 0; s < 8; ++s)
      if ((full && std::string(full) == "full") || s == (i % 4) * 2 + (i / 4) % 2)
        cases.push_back({&COMMANDS[i], s / 2, s % 2 == 1});
  return cases;
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.command->name; }

class Interrupt : public E2E, public testing::WithParamInterface<Case> {};

TEST_P(Interrupt, Run) {
  const Case& k = GetParam();
  const char* stanza = "tail -n 3 /var/maint/clientinstall.bundles | head -n 2 | sed 's/ - .*//'\n";
  Outcome o = root.apply(
      "-M b", std::string("use ") + k.command->fixture + "; hold " + k.command->program + " " +
                  shellQuote(k.command->text),
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
                           return std::string(i.param.command->name) + "_SIG" +
                                  SIGNALS[i.param.signal] + (i.param.group ? "_ToGroup" : "_ToTool");
                         });

}  // namespace
