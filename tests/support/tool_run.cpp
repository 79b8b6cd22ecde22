// Running the tool in a sandbox and reading back its traces.
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

ToolRun runTool(Sandbox& sb, const std::string& args, const ToolOptions& opt) {
  std::ostringstream s;
  s << "set -u\nrm -rf /share/out && mkdir -p /share/out\n";
  if (opt.makeImageDir) s << "mkdir -p /tftpboot/image\n";
  s << opt.before << "\n";
  s << "cd " << shellQuote(opt.cwd) << "\n";
  // DM_TOOL_WRAPPER, when set, goes before the tool's path: a command that
  // runs the tool, such as valgrind (scripts/memcheck.sh).
  const char* wrapper = getenv("DM_TOOL_WRAPPER");
  s << opt.env << " " << (wrapper ? wrapper : "") << " " << shellQuote(applyKestroPath()) << " "
    << args
    << " </dev/null >/share/out/console 2>/share/out/errors\n";
  s << "echo $? >/share/out/status\n";
  s << "cd /share\n" << opt.after << "\n";
  s << "cp /var/log/maint/kestro.log /share/out/log 2>/dev/null || : >/share/out/log\n";
  s << "if [ -e /var/maint/clientinstall.bundles ]; then cp /var/maint/clientinstall.bundles "
       "/share/out/stanzas; echo yes >/share/out/stanzafile; fi\n";
  s << "{ find /tmp/maint_zor; find /tftpboot/image -mindepth 1; } 2>/dev/null | sort "
       ">/share/out/leftovers\n";
  s << "exit 0\n";
  ToolRun run;
  run.script = sb.run(s.str(), opt.timeout);
  run.leaks = sb.leaks();
  if (!sb.exists("out/status")) {
    ADD_FAILURE() << "the tool did not run: " << run.script;
    return run;
  }
  run.status = atoi(sb.readFile("out/status").c_str());
  run.console = sb.readFile("out/console");
  run.errors = sb.readFile("out/errors");
  run.log = sb.readFile("out/log");
  run.stanzaFile = sb.exists("out/stanzafile");
  if (run.stanzaFile) run.stanzas = sb.readFile("out/stanzas");
  run.leftovers = lines(sb.readFile("out/leftovers"));
  return run;
}

std::vector<std::string> logLines(const std::string& log) {
  std::vector<std::string> out;
  for (const std::string& line : lines(log)) {
    if (hasLogStamp(line)) {
      out.push_back("T " + logText(line));
    } else {
      out.push_back(line);
    }
  }
  return out;
}

std::vector<std::string> lastRunLog(const std::string& log) {
  std::vector<std::string> all = logLines(log);
  size_t start = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i] == "T Starting apply phase for client POS image maintenance." && i >= 1) {
      start = i - 1;
    }
  }
  return std::vector<std::string>(all.begin() + static_cast<long>(start), all.end());
}
