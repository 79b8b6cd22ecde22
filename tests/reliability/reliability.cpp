// Shell functions and trial records shared by the reliability tests.
#include "reliability.h"

#include <gtest/gtest.h>

#include <cstdlib>

static const char* const FUNCTIONS = R"SH(
hold_commands() {
  local path
  mkdir -p /tmp/hold/real
  cp "$DM_SOURCE_DIR/tests/reliability/hold.sh" /tmp/hold/hold.sh && chmod 755 /tmp/hold/hold.sh
  for path in "$@"; do
    cp -p "$path" "/tmp/hold/real/${path##*/}" && mount --bind /tmp/hold/hold.sh "$path" || return 1
  done
}
arm() { mkdir -p /tmp/hold && printf '%s' "$2" >"/tmp/hold/arm.$1"; }
hold_script() {
  mkdir -p /tmp/hold
  edit_bundle sed -i "1a touch /tmp/hold/ready.$1; while [ ! -e /tmp/hold/go ]; do sleep 0.05; done" "$1"
}
start_tool() {
  set -m
  "$TOOL" -M b </dev/null >"$1" 2>&1 &
  tool=$!
  set +m
  [ "$(ps -o pgid= -p $tool | tr -d ' ')" = "$tool" ] ||
    echo "the tool does not lead a process group" >>/share/out/problems
}
leftover_state() {
  local pid=$1 f i loops=""
  # A loop device is detached when its last user closes it; allow a moment.
  for i in $(seq 30); do
    loops=$(for f in /tftpboot/image/pos-2.1-20060105* /tftpboot/image/*.ImageInProcess \
                     /tmp/maint_zor/temp.$pid.old; do [ -e "$f" ] && losetup -j "$f"; done)
    [ -z "$loops" ] && break
    sleep 0.1
  done
  [ -n "$loops" ] && printf 'loop %s\n' "$loops"
  awk '$2 ~ /^\/(tmp\/maint_zor(\/|$)|tftpboot\/image\/)/ { print "mount " $2 }' /proc/mounts
  [ -e /tmp/maint_zor/maint$pid ] && echo "working directory /tmp/maint_zor/maint$pid"
  [ -e /tftpboot/image/zor_image ] && echo "mount point /tftpboot/image/zor_image"
  for f in /tftpboot/image/pos-2.2-20060301 /tftpboot/image/pos-2.2-20060301.gz \
           /tftpboot/image/pos-2.2-20060301.md5; do
    [ -e "$f" ] && echo "final name $f"
  done
  return 0
}
last_stanza() {
  [ -f /var/maint/clientinstall.bundles ] || return 0
  tail -n 3 /var/maint/clientinstall.bundles 2>/dev/null | head -n 2 | sed 's/ - .*//' |
    paste -sd '|'
}
)SH";

std::string reliabilityFunctions() {
  return std::string("TOOL=") + shellQuote(applyKestroPath()) + "\nCATCH=" +
         shellQuote(DM_CATCH_CHILD) + "\n" + FUNCTIONS;
}

void recordTrial(const std::string& kind, const std::string& tried) {
  testing::Test::RecordProperty("kind", kind);
  testing::Test::RecordProperty("tried", tried);
}

Outcome runOnce(Sandbox& sb, const std::string& variant, const std::string& before,
                const std::string& after, const std::string& launch) {
  std::string start = launch.empty()
                          ? "\"$TOOL\" -M b </dev/null >/share/out/console 2>&1 & tool=$!\n"
                          : launch + "\n";
  std::string script = "rm -rf /share/out && mkdir -p /share/out\n" + ApplyRunsAccess::setUp(variant) +
                       reliabilityFunctions() + before + "\ncd /root\n" + start +
                       "wait $tool; echo $? >/share/out/status\n"
                       "leftover_state $tool >/share/out/state\n"
                       "last_stanza >/share/out/stanza\n"
                       "cp /var/log/maint/kestro.log /share/out/log 2>/dev/null || : >/share/out/log\n"
                       "cd /share\n" +
                       after + "\n";
  Outcome o;
  o.script = sb.run(script, 600);
  if (!sb.exists("out/status")) {
    ADD_FAILURE() << "the tool did not run: " << o.script;
    return o;
  }
  o.status = atoi(sb.readFile("out/status").c_str());
  o.console = sb.readFile("out/console");
  o.log = sb.readFile("out/log");
  o.state = sb.readFile("out/state");
  o.stanza = sb.readFile("out/stanza");
  return o;
}

std::string commandsWith(const std::string& log, const std::string& text) {
  std::string found;
  for (const std::string& line : lines(log)) {
    if (hasLogStamp(line) && logText(line).compare(0, 2, ">>") == 0 &&
        line.find(text) != std::string::npos) {
      found += line + "\n";
    }
  }
  return found;
}
