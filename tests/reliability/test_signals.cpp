// Signal matrix: SIGTERM, SIGINT, SIGQUIT and SIGHUP delivered while each
// command of an apply run is running, to the tool alone and to its whole
// process group (as Ctrl-C at a terminal does).  After each: exit status 1
// with the interruption message, a "Failed" stanza, no mount or loop device
// of the run, no working directory, no image under its final name and no
// checksum record; and the next run of the same bundle in the same sandbox
// ends "OK".
//
// How a signal is made to land while a command runs, with the commands
// themselves kept real:
//  - maint_cmd_bash1 and maint_cmd_bash2: the bundle's script announces
//    itself and waits for a go file before doing its work.
//  - gunzip, dd, mke2fs, tune2fs, cp, the new image's umount, e2fsck and
//    gzip: tests/reliability/hold.sh is bind-mounted over the command inside
//    the sandbox; armed, the run's call announces itself, waits for the go
//    file and then executes the real program (saved in the sandbox's /tmp).
//  - the bundle unpack (tar), the old image's mount, the payload tar and
//    the checker (tripwire) are never wrapped: catch_child polls the tool's
//    descendants every 100 microseconds, stops the real process with
//    SIGSTOP as soon as it has started, the signal is delivered, and the
//    process is continued with SIGCONT.  The bundle is padded with 20,000
//    empty members so that its unpacking takes long enough to be caught.
// Either way the signal arrives while the command's process exists; the
// tool's clean-up runs while it is held, and the command then goes on (or
// dies of the signal, when the whole group got it).  The tool is started
// with job control, as the leader of a process group of its own, so that a
// signal to "its whole process group" reaches it and its commands only.
//
// CI runs one case per command, rotating the signals and both delivery
// modes; DM_SIGNAL_MATRIX=full (scripts/reliability.sh) runs all 112.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "reliability.h"

namespace {

enum class Hold { Script, Wrapper, Catch };

struct Command {
  const char* name;     // test name part
  const char* label;    // what the figures call it
  const char* variant;  // fixture: plain (ext2) or gz (gzipped ext3)
  Hold hold;
  const char* what;  // script name, wrapped path, or argv[0] for catch_child
  const char* text;  // the argument text that marks the run's own call
};

const Command COMMANDS[] = {
    {"BundleUnpack", "bundle unpack (tar)", "plain", Hold::Catch, "/bin/tar",
     "-xf /var/maint/downloads/b.tar"},
    {"Gunzip", "gunzip of the old image", "gz", Hold::Wrapper, "/usr/bin/gunzip", "-c"},
    {"OldImageMount", "old image mount", "plain", Hold::Catch, "/bin/mount", "-r"},
    {"Dd", "dd", "plain", Hold::Wrapper, "/usr/bin/dd", "of="},
    {"Mke2fs", "mke2fs", "plain", Hold::Wrapper, "/usr/sbin/mke2fs", "-F"},
    {"Tune2fs", "tune2fs", "gz", Hold::Wrapper, "/usr/sbin/tune2fs", "-j"},
    {"Cp", "cp of the old tree", "plain", Hold::Wrapper, "/usr/bin/cp", "-a"},
    {"Bash1", "maint_cmd_bash1", "plain", Hold::Script, "maint_cmd_bash1", ""},
    {"PayloadTar", "payload tar", "plain", Hold::Catch, "/bin/tar", "--same-owner"},
    {"Bash2", "maint_cmd_bash2", "plain", Hold::Script, "maint_cmd_bash2", ""},
    // tripwire rewrites its argument list as it starts; it is the only
    // command of that name that a run starts.
    {"Checker", "checker (tripwire)", "plain", Hold::Catch, "/usr/sbin/tripwire", ""},
    {"Unmount", "new image unmount", "plain", Hold::Wrapper, "/usr/bin/umount", "zor_image"},
    {"E2fsck", "e2fsck", "plain", Hold::Wrapper, "/usr/sbin/e2fsck", "-f"},
    {"Gzip", "gzip of the new image", "gz", Hold::Wrapper, "/usr/bin/gzip", "ImageInProcess"},
};

struct Signal {
  const char* name;
  int number;
};
const Signal SIGNALS[] = {{"SIGTERM", 15}, {"SIGINT", 2}, {"SIGQUIT", 3}, {"SIGHUP", 1}};

struct Case {
  const Command* command;
  const Signal* signal;
  bool group;  // to the whole process group, else to the tool alone
};

std::string caseName(const testing::TestParamInfo<Case>& info) {
  return std::string(info.param.command->name) + "_" + info.param.signal->name +
         (info.param.group ? "_ToGroup" : "_ToTool");
}

// The full matrix, or one case per command with the signal and the
// delivery mode rotating so that each signal goes both ways.
std::vector<Case> matrix() {
  const char* full = getenv("DM_SIGNAL_MATRIX");
  bool all = full && std::string(full) == "full";
  std::vector<Case> cases;
  int i = 0;
  for (const Command& c : COMMANDS) {
    if (all) {
      for (const Signal& s : SIGNALS) {
        cases.push_back({&c, &s, false});
        cases.push_back({&c, &s, true});
      }
    } else {
      cases.push_back({&c, &SIGNALS[i % 4], (i / 4) % 2 == 1});
    }
    ++i;
  }
  return cases;
}

// Bash that arranges the hold of the case's command before the tool starts.
std::string prepare(const Command& c) {
  switch (c.hold) {
    case Hold::Script:
      return std::string("hold_script ") + c.what + "\n";
    case Hold::Wrapper: {
      std::string name = c.what;
      name = name.substr(name.rfind('/') + 1);
      return std::string("hold_commands ") + c.what + "\narm " + name + " " + shellQuote(c.text) +
             "\n";
    }
    case Hold::Catch:
      // Members nobody uses make the unpack long enough to be caught.
      if (std::string(c.name) == "BundleUnpack") {
        return "mkdir -p /tmp/pad/pad && (cd /tmp/pad/pad && seq 20000 | xargs touch) && "
               "tar -rf /var/maint/downloads/b.tar -C /tmp/pad pad\n";
      }
      return "";
  }
  return "";
}

// Bash that waits until the command is held; sets $held (a pid to continue,
// or empty when the go file releases it).
std::string waitForHold(const Command& c) {
  switch (c.hold) {
    case Hold::Script:
      return std::string("wait_for test -e /tmp/hold/ready.") + c.what +
             " || echo 'never held' >>/share/out/problems\nheld=\n";
    case Hold::Wrapper: {
      std::string name = c.what;
      name = name.substr(name.rfind('/') + 1);
      return "wait_for test -s /tmp/hold/ready." + name +
             " || echo 'never held' >>/share/out/problems\nheld=\n";
    }
    case Hold::Catch:
      return std::string("held=$(\"$CATCH\" $tool ") + c.what + " " + shellQuote(c.text) +
             " 120) || echo 'never caught' >>/share/out/problems\n";
  }
  return "";
}

class Interrupt : public ApplyRuns, public testing::WithParamInterface<Case> {};

TEST_P(Interrupt, Run) {
  const Case& k = GetParam();
  const Command& c = *k.command;
  recordTrial("fault", std::string(k.signal->name) + " to the " + (k.group ? "process group" : "tool") +
                           " during " + c.label);
  std::string target = k.group ? "-- -$tool" : "$tool";
  std::string script = setUp(c.variant) + reliabilityFunctions() + "mkdir -p /share/out\n" +
                       prepare(c) + "cd /root\nstart_tool /share/out/console1\n" + waitForHold(c) +
                       "kill -" + std::to_string(k.signal->number) + " " + target + "\n" +
                       // The handler's clean-up runs while the command is held.
                       "sleep 0.5\n"
                       "mkdir -p /tmp/hold && touch /tmp/hold/go\n"
                       "[ -n \"$held\" ] && kill -CONT $held\n"
                       "wait $tool; echo $? >/share/out/status1\n"
                       "leftover_state $tool >/share/out/state1\n"
                       "cp /var/log/maint/kestro.log /share/out/log1\n"
                       "last_stanza >/share/out/stanza1\n"
                       "\"$TOOL\" -M b </dev/null >/share/out/console2 2>&1; echo $? "
                       ">/share/out/status2\n"
                       "last_stanza >/share/out/stanza2\n";
  RunResult r = sb->run(script, 600);
  ASSERT_EQ(0, r.status) << r;
  EXPECT_FALSE(sb->exists("out/problems")) << sb->readFile("out/problems");
  std::string console = sb->readFile("out/console1");
  EXPECT_EQ("1\n", sb->readFile("out/status1")) << console;
  EXPECT_NE(std::string::npos,
            console.find("EFatal error: The run was interrupted by signal " +
                         std::to_string(k.signal->number) + ". Exiting.\n"))
      << console;
  std::vector<std::string> log = lines(sb->readFile("out/log1"));
  std::string tail;
  for (size_t i = log.size() > 25 ? log.size() - 25 : 0; i < log.size(); ++i) tail += log[i] + "\n";
  EXPECT_EQ("", sb->readFile("out/state1")) << console << tail;
  EXPECT_EQ(FAILED_LAST + "\n", sb->readFile("out/stanza1"));
  EXPECT_EQ("0\n", sb->readFile("out/status2")) << sb->readFile("out/console2");
  EXPECT_EQ(OK_LAST + "\n", sb->readFile("out/stanza2"));
  EXPECT_EQ("", sb->leaks());
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupt, testing::ValuesIn(matrix()), caseName);

}  // namespace
