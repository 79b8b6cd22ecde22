// Runs applyKestro inside a sandbox and collects what a run leaves: its
// exit status, console, standard error, log, status stanza file and the
// paths it left in the working and image directories.
#ifndef DELTAMAINT_TESTS_TOOL_RUN_H
#define DELTAMAINT_TESTS_TOOL_RUN_H

#include <string>
#include <vector>

#include "sandbox.h"

struct ToolRun {
  RunResult script;       // the whole sandbox script
  int status = -1;        // applyKestro's exit status
  std::string console;    // its standard output
  std::string errors;     // its standard error
  std::string log;        // /var/log/maint/kestro.log after the run
  std::string stanzas;    // /var/maint/clientinstall.bundles ("" when missing)
  bool stanzaFile = false;
  std::vector<std::string> leftovers;  // paths under /tmp/maint_zor and /tftpboot/image
  std::string leaks;      // mounts and loop devices the sandbox found afterwards
};

// Options of one run.
struct ToolOptions {
  std::string before;       // bash run before the tool (inside, cwd /share)
  std::string after;        // bash run after it, before the results are copied
  std::string cwd = "/share";
  std::string env;          // assignments put before the command, e.g. "ZOR_MTRACE="
  bool makeImageDir = true; // mkdir -p /tftpboot/image first
  int timeout = 300;
};

// Runs `applyKestro ARGS` (args already shell-quoted as needed).
ToolRun runTool(Sandbox& sb, const std::string& args, const ToolOptions& opt = ToolOptions());

// The log lines with stamps replaced by "T " (stamps are checked for form).
std::vector<std::string> logLines(const std::string& log);
// The records of the last run: the lines after the last line that opens a
// run ("Starting apply phase ...") less one for the delimiter before it.
std::vector<std::string> lastRunLog(const std::string& log);

const std::string DELIMITER = std::string(72, '#');

#endif  // DELTAMAINT_TESTS_TOOL_RUN_H
