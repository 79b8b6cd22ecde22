// Shared pieces of the reliability tests: shell functions that hold a
// command of a run, check what a run left behind, and read the last stanza;
// and the record each test leaves for the reliability figures.
#ifndef DELTAMAINT_TESTS_RELIABILITY_H
#define DELTAMAINT_TESTS_RELIABILITY_H

#include <string>

#include "apply_fixture.h"

// Opens the apply fixture's set-up prelude to the helpers below.
struct ApplyRunsAccess : ApplyRuns {
  using ApplyRuns::setUp;
};

// Shell functions for a sandbox script, on top of the apply fixture's:
//   hold_commands PATH...   bind hold.sh over platform commands (sandbox only)
//   arm NAME TEXT           hold the next call of NAME whose arguments hold TEXT
//   hold_script NAME        make a bundle script announce itself and wait
//   start_tool OUT          start applyKestro -M b in the background as the
//                           leader of a process group of its own (job
//                           control); its pid in $tool
//   leftover_state PID      what a failed run must not leave, one line each
//   last_stanza             the last stanza's first two lines, joined by "|"
// $TOOL is the tool and $CATCH the catch_child helper.
std::string reliabilityFunctions();

// Records the test's kind ("fault" or "input") and what it tried, as test
// properties that scripts/reliability-doc.sh reads from the XML results.
void recordTrial(const std::string& kind, const std::string& tried);

// One apply run of the prepared bundle ("-M b" from /root unless `launch`
// starts the tool itself, setting $tool and writing the console to
// /share/out/console): its exit status, console, log, leftover_state and
// last_stanza.  `before` runs after the fixture's set-up, `after` after the
// run (cwd /share).
struct Outcome {
  RunResult script;
  int status = -1;
  std::string console;
  std::string log;
  std::string state;
  std::string stanza;
};
Outcome runOnce(Sandbox& sb, const std::string& variant, const std::string& before,
                const std::string& after = "", const std::string& launch = "");

// The log's command lines (indent ">>") that hold `text`.
std::string commandsWith(const std::string& log, const std::string& text);

// The status line of the last stanza as last_stanza prints it.
const std::string FAILED_LAST = "/var/maint/downloads/b.tar {|   Applied:   Failed";
const std::string OK_LAST = "/var/maint/downloads/b.tar {|   Applied:   OK";

#endif  // DELTAMAINT_TESTS_RELIABILITY_H
