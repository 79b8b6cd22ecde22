// Builds the apply-run fixtures once and gives each test a sandbox with
// them in place.
#include "apply_fixture.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <regex>
#include <sstream>

std::string ApplyRuns::builtDir;
std::string ApplyRuns::buildFailure;

static const char* const BUILD_SCRIPT = R"(
set -e
F=$DM_SOURCE_DIR/tests/fixtures
mkdir -p /tftpboot/image /share/fx/plain /share/fx/gz
$F/make-old-image.sh /share/fx/plain/pos-2.1-20060105
$F/make-bundle.sh --old /share/fx/plain/pos-2.1-20060105 --new-name pos-2.2-20060301 \
    --out /share/fx/plain/b.tar
$F/make-old-image.sh --fstype ext3 --gzip /share/fx/gz/pos-2.1-20060105.gz
$F/make-bundle.sh --old /share/fx/gz/pos-2.1-20060105.gz --new-name pos-2.2-20060301.gz \
    --out /share/fx/gz/b.tar
)";

// A key of the fixture scripts' contents, so that a changed script gives
// a fresh cache.
static std::string fixtureKey() {
  unsigned long long hash = 1469598103934665603ULL;
  for (const char* name : {"lib.sh", "make-old-image.sh", "make-bundle.sh"}) {
    for (unsigned char c : readHostFile(sourceDir() + "/tests/fixtures/" + name)) {
      hash = (hash ^ c) * 1099511628211ULL;
    }
  }
  hash ^= std::hash<std::string>()(BUILD_SCRIPT);
  char key[32];
  snprintf(key, sizeof key, "%016llx", hash);
  return key;
}

// Each test runs in a process of its own: the fixtures are built once per
// build tree, under a lock, and kept in the build directory.
void ApplyRuns::SetUpTestSuite() {
  std::string why;
  if (!sandboxAvailable(&why)) return;
  std::string base = binaryDir() + "/fixtures";
  mkdir(base.c_str(), 0755);
  builtDir = base + "/apply-" + fixtureKey();
  int lock = open((base + "/apply.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock >= 0) flock(lock, LOCK_EX);
  if (readHostFile(builtDir + "/done").empty()) {
    Sandbox sb;
    RunResult r = sb.run(BUILD_SCRIPT, 600);
    std::string copy = "rm -rf '" + builtDir + "' && cp -a '" + sb.path("fx") + "' '" +
                       builtDir + "' && echo yes >'" + builtDir + "/done'";
    if (r.status != 0 || system(copy.c_str()) != 0) {
      std::ostringstream s;
      s << r;
      buildFailure = s.str();
    }
  }
  if (lock >= 0) close(lock);
}

void ApplyRuns::TearDownTestSuite() {}

void ApplyRuns::SetUp() {
  REQUIRE_SANDBOX();
  ASSERT_EQ("", buildFailure) << "fixtures could not be built";
  sb.reset(new Sandbox("2.3.1"));
  sb->bind(fixtures());
}

std::string ApplyRuns::fixtures() { return builtDir; }

static const char* const FUNCTIONS = R"(
# Unpacks /var/maint/downloads/b.tar, runs "$@" inside the unpacked control
# directory (the payload lies one level up), and packs it again.
edit_bundle() {
  local d; d=$(mktemp -d /tmp/edit.XXXXXX)
  (cd "$d" && tar -xf /var/maint/downloads/b.tar && mkdir c && tar -xjf control.tar.bz2 -C c &&
   rm control.tar.bz2 && cd c && "$@" && tar -cjf ../control.tar.bz2 $(ls -A) &&
   cd .. && rm -rf c && tar -cf /var/maint/downloads/b.tar $(ls -A)) || return 1
  rm -rf "$d"
}
without() { edit_bundle rm -f "$1" ../"$1"; }
set_data() { edit_bundle sed -i "s|^$1=.*|$1=$2|" maintData; }
drop_data() { edit_bundle sed -i "/^$1=/d" maintData; }
# Waits up to a minute for a command to succeed.
wait_for() { local i; for i in $(seq 600); do "$@" && return 0; sleep 0.1; done; return 1; }
set_script() { edit_bundle sh -c 'printf "%s\n" "$2" >"$1" && chmod 755 "$1"' x "$1" "$2"; }

# e2fsck -fn and the bundle's manifest against a finished image (plain or
# gzipped); results in /share/out/check.
check_image() {
  local img=$1 plain=$1 mnt=/tmp/check_mnt
  mkdir -p $mnt
  if [ "${img%.gz}" != "$img" ]; then plain=/tmp/check.img; gunzip -c "$img" >$plain; fi
  { e2fsck -fn $plain >/dev/null 2>&1; echo "fsck $?"
    mount -r -o loop $plain $mnt
    while read -r kind path rest; do
      case $kind in
        present) got=$(stat -c '%u:%g %a' "$mnt$path" 2>&1)
                 [ "$got" = "$rest" ] || echo "present $path: $got, not $rest";;
        absent) [ ! -e "$mnt$path" ] && [ ! -L "$mnt$path" ] || echo "absent $path: exists";;
        content) got=$(md5sum <"$mnt$path" | cut -d' ' -f1)
                 [ "$got" = "$rest" ] || echo "content $path: $got";;
      esac
    done </var/maint/downloads/b.tar.expect
    [ -e $mnt/.hidden_top ] && echo "hidden top-level entry copied"
    umount $mnt
  } >/share/out/check 2>&1
}
)";

std::string ApplyRuns::setUp(const std::string& variant) {
  std::string dir = fixtures() + "/" + variant;
  return std::string(FUNCTIONS) + "mkdir -p /var/maint/downloads /tftpboot/image\n" + "cp " + dir +
         "/pos-2.1-* /tftpboot/image/\n" + "cp " + dir + "/b.tar /var/maint/downloads/b.tar\n" +
         "cp " + dir + "/b.tar.expect /var/maint/downloads/b.tar.expect\n";
}

std::string ApplyRuns::lockWaitRuns(const std::string& waiting,
                                    const std::string& whileWaiting) {
  std::string tool = shellQuote(applyKestroPath());
  return "set_script maint_cmd_bash1 'touch /share/started; "
         "for i in $(seq 600); do [ -e /share/go ] && break; sleep 0.1; done'\n"
         "rm -rf /share/out /share/started /share/go; mkdir -p /share/out; cd /root\n" +
         tool + " b </dev/null >/share/out/first 2>&1 & first=$!\n"
         "wait_for test -e /share/started || exit 1\n" +
         tool + " -M /tmp/javagz.tar </dev/null >/share/out/second 2>&1 & second=$!\n"
         "wait_for " + waiting + " || exit 1\n" + whileWaiting +
         "touch /share/go\n"
         "wait $first; echo $? >/share/out/status1; wait $second; echo $? >/share/out/status2\n"
         "cp /var/log/maint/kestro.log /share/out/log\n"
         "cp /var/maint/clientinstall.bundles /share/out/stanzas\n";
}

ToolRun ApplyRuns::apply(const std::string& args, const std::string& before,
                         const std::string& after, const std::string& variant,
                         const std::string& rpm) {
  sb->setRpmTripwire(rpm);
  ToolOptions opt;
  opt.before = setUp(variant) + before;
  opt.after = std::string(FUNCTIONS) + after;
  opt.cwd = "/root";
  return runTool(*sb, args, opt);
}

std::string runPid(const ToolRun& run) {
  std::smatch m;
  static const std::regex work("/tmp/maint_zor/maint([0-9]+)");
  return std::regex_search(run.log, m, work) ? std::string(m[1]) : std::string();
}

std::vector<std::string> runRecords(const ToolRun& run) {
  std::string pid = runPid(run);
  std::vector<std::string> out;
  for (std::string line : lastRunLog(run.log)) {
    if (line.compare(0, 6, "T     ") == 0) continue;
    if (!pid.empty()) {
      line = std::regex_replace(line, std::regex("/tmp/maint_zor/maint" + pid), "W");
      line = std::regex_replace(line, std::regex("\\." + pid + "\\."), ".P.");
      line = std::regex_replace(line, std::regex("\\." + pid + " "), ".P ");
    }
    out.push_back(line);
  }
  return out;
}

