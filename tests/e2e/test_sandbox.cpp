// Checks the test sandbox itself: writes to the tool's fixed paths stay
// inside, the share carries files both ways, status and streams pass
// through, leftover mounts and loop devices are reported and cleared, the rpm
// stand-in answers like an installed package, name lookups use files only.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sandbox.h"

namespace {

// The paths the tool writes; the host must not see any change to them.
const std::vector<std::string> FIXED_PATHS = {"/var/maint",
                                              "/var/log/maint",
                                              "/tftpboot",
                                              "/tmp/maint_zor",
                                              "/etc/inittab",
                                              "/etc/inittab.sv1",
                                              "/etc/logrotate.d/maint",
                                              "/root/.rpmdb",
                                              "/etc/nsswitch.conf"};

// What the host has at a path: absent, or type, size, inode and change time.
std::string hostState(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "absent";
  return std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " +
         std::to_string(st.st_ino) + " " + std::to_string(st.st_ctim.tv_sec) + "." +
         std::to_string(st.st_ctim.tv_nsec);
}

std::map<std::string, std::string> hostStates() {
  std::map<std::string, std::string> states;
  for (const auto& p : FIXED_PATHS) states[p] = hostState(p);
  return states;
}

// A name no other test or run uses, for files whose traces are looked for.
std::string uniqueName(const char* what) {
  static std::atomic<int> counter{0};
  return std::string("dmsb-") + what + "-" + std::to_string(getpid()) + "-" +
         std::to_string(counter++);
}

// Host lines (mount table, loop devices) that mention a name.
std::vector<std::string> hostLinesWith(const std::string& text, const std::string& name) {
  std::vector<std::string> found;
  for (const auto& l : lines(text))
    if (l.find(name) != std::string::npos) found.push_back(l);
  return found;
}

// Standard output of a command run on the host (read-only queries only).
std::string hostOutput(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  EXPECT_EQ(pclose(p), 0) << command;
  return out;
}

// A script that prints "PATH yes" or "PATH no" for each fixed path.
std::string existenceScript() {
  std::string script;
  for (const auto& p : FIXED_PATHS)
    script += "if [ -e " + p + " ]; then echo '" + p + " yes'; else echo '" + p + " no'; fi\n";
  return script;
}

std::string hostExistence() {
  std::string text;
  for (const auto& p : FIXED_PATHS) text += p + (hostState(p) == "absent" ? " no\n" : " yes\n");
  return text;
}

TEST(SandboxHarness, WritesToFixedPathsStayInside) {
  REQUIRE_SANDBOX();
  auto before = hostStates();
  Sandbox sb;
  RunResult r = sb.run(
      "set -e\n"
      "mkdir -p /var/maint/downloads /var/log/maint /tftpboot/image /tmp/maint_zor\n"
      "for f in /var/maint/kestro.lock /var/log/maint/kestro.log /tftpboot/image/x.img "
      "/tmp/maint_zor/f /etc/inittab /etc/inittab.sv1 /etc/logrotate.d/maint; do\n"
      "  echo inside > $f\n"
      "done\n"
      "rpm -q tripwire >/dev/null || true\n"  // creates /root/.rpmdb
      "echo 'hosts: files' >> /etc/nsswitch.conf\n"
      "ls -d /root/.rpmdb /tftpboot/image/x.img /etc/inittab | wc -l\n");
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "3\n");
  EXPECT_EQ(hostStates(), before);

  // Nothing carries over from one run to the next, even in one object.
  r = sb.run(existenceScript());
  EXPECT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, hostExistence()) << "left over from the first run";
  EXPECT_EQ(hostStates(), before);
}

TEST(SandboxHarness, ShareCarriesFilesBothWays) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  std::string binary("a\0b\nc\xff", 6);
  sb.writeFile("in/data", binary);
  sb.writeFile("in/tool.sh", "#!/bin/sh\necho \"$0 in $(pwd) home $HOME\"\n", 0755);
  RunResult r = sb.run(
      "set -e\n"
      "mkdir out\n"
      "cp in/data out/data\n"
      "./in/tool.sh > out/tool.txt\n"
      "stat -c %a in/tool.sh > out/mode\n"
      "readlink /proc/self/fd/0 > out/stdin\n");
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(sb.readFile("out/data"), binary);
  EXPECT_EQ(sb.readFile("out/tool.txt"), "./in/tool.sh in /share home /root\n");
  EXPECT_EQ(sb.readFile("out/mode"), "755\n");
  EXPECT_EQ(sb.readFile("out/stdin"), "/dev/null\n");
  EXPECT_FALSE(sb.exists("out/missing"));
  EXPECT_EQ(sb.leaks(), "");

  // The share's own contents survive a second run.
  r = sb.run("cat out/mode in/data | wc -c");
  EXPECT_EQ(r.out, "10\n") << r;
}

TEST(SandboxHarness, StatusAndStreamsPassThrough) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  for (int status : {0, 1, 42, 255}) {
    std::string n = std::to_string(status);
    RunResult r = sb.run("echo out-" + n + "; echo err-" + n + " >&2; exit " + n);
    EXPECT_EQ(r.status, status) << r;
    EXPECT_EQ(r.out, "out-" + n + "\n");
    EXPECT_EQ(r.err, "err-" + n + "\n");
  }

  RunResult r = sb.run("kill -TERM $$");
  EXPECT_EQ(r.status, 128 + SIGTERM) << r;
  EXPECT_EQ(r.err, "") << "the harness added a notice of its own";

  auto start = std::chrono::steady_clock::now();
  r = sb.run("echo started; sleep 60; echo late", 1);
  auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_EQ(r.status, 124) << r;
  EXPECT_EQ(r.out, "started\n");
  EXPECT_LT(seconds, 30);
}

TEST(SandboxHarness, LeftoverMountsAndLoopDevicesAreReportedAndCleared) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  std::string name = uniqueName("leak");
  std::string image = "/tftpboot/image/" + name + ".img";
  std::string loose = "/tmp/maint_zor/" + name + ".raw";
  std::string tmpfsDir = "/var/maint/" + name;
  RunResult r = sb.run(
      "set -e\n"
      "mkdir -p /tftpboot/image/zor_image /tmp/maint_zor " +
      tmpfsDir +
      "\n"
      "dd if=/dev/zero of=" +
      image +
      " bs=1M count=8 status=none\n"
      "mke2fs -q -F " +
      image +
      "\n"
      "mount -o loop " +
      image +
      " /tftpboot/image/zor_image\n"
      "dd if=/dev/zero of=" +
      loose +
      " bs=1M count=1 status=none\n"
      "losetup -f " +
      loose +
      "\n"
      "mount -t tmpfs " +
      name + " " + tmpfsDir +
      "\n"
      "losetup -j " +
      image +
      " | wc -l\n"
      "losetup -j " +
      loose + " | wc -l\n");
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_EQ(r.out, "1\n1\n");

  std::vector<std::string> report = lines(sb.leaks());
  auto reported = [&](const std::string& kind, const std::string& what) {
    return std::any_of(report.begin(), report.end(), [&](const std::string& l) {
      return l.rfind(kind + " ", 0) == 0 && l.find(what) != std::string::npos;
    });
  };
  EXPECT_TRUE(reported("mount", "/tftpboot/image/zor_image")) << sb.leaks();
  EXPECT_TRUE(reported("mount", tmpfsDir)) << sb.leaks();
  EXPECT_TRUE(reported("loop", image)) << sb.leaks();
  EXPECT_TRUE(reported("loop", loose)) << sb.leaks();
  EXPECT_EQ(report.size(), 4u) << sb.leaks();

  EXPECT_EQ(hostLinesWith(readHostFile("/proc/mounts"), name), std::vector<std::string>());
  EXPECT_EQ(hostLinesWith(readHostFile("/proc/mounts"), "zor_image"), std::vector<std::string>());
  EXPECT_EQ(hostLinesWith(hostOutput("losetup --list --noheadings --output NAME,BACK-FILE"), name),
            std::vector<std::string>());

  // A run that cleans up after itself reports nothing.
  r = sb.run(
      "set -e\n"
      "mkdir -p /tmp/maint_zor/m\n"
      "dd if=/dev/zero of=/tmp/maint_zor/i bs=1M count=8 status=none\n"
      "mke2fs -q -F /tmp/maint_zor/i\n"
      "mount -o loop /tmp/maint_zor/i /tmp/maint_zor/m\n"
      "dev=$(losetup -f --show /tmp/maint_zor/i)\n"
      "umount /tmp/maint_zor/m\n"
      "losetup -d $dev\n");
  ASSERT_EQ(r.status, 0) << r;
  EXPECT_TRUE(sb.exists(".sandbox-leaks"));
  EXPECT_EQ(sb.leaks(), "");
}

// The tool reads the checker's version with this pipeline through /bin/sh,
// in an empty directory (the unquoted [:punct:] is a glob).
const char* VERSION_QUERY =
    "mkdir /tmp/empty && cd /tmp/empty && rpm -q tripwire; "
    "sh -c \"/bin/rpm -q tripwire | cut -f2 -d- | tr [:punct:] ' '\"";

TEST(SandboxHarness, RpmStandInAnswersLikeAnInstalledPackage) {
  REQUIRE_SANDBOX();
  std::string rpmdb = hostState("/root/.rpmdb");
  {
    Sandbox sb("2.3.1");
    RunResult r = sb.run(VERSION_QUERY);
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, "tripwire-2.3.1-2.noarch\n2 3 1\n");
    EXPECT_EQ(r.err, "") << "rpm's warning should be kept out of the run";
  }
  {
    Sandbox sb("2.4.3.7");
    RunResult r = sb.run(VERSION_QUERY);
    EXPECT_EQ(r.out, "tripwire-2.4.3.7-2.noarch\n2 4 3 7\n") << r;
  }
  {
    Sandbox sb;
    RunResult r = sb.run(std::string(VERSION_QUERY) + "; echo status $?");
    EXPECT_EQ(r.out,
              "package tripwire is not installed\n"
              "package tripwire is not installed\n"
              "status 0\n")
        << r;
    r = sb.run("rpm -q tripwire");
    EXPECT_EQ(r.status, 1) << r;
  }
  EXPECT_EQ(hostState("/root/.rpmdb"), rpmdb);
}

TEST(SandboxHarness, ParallelSandboxesShareOneStandInBuild) {
  REQUIRE_SANDBOX();
  // A version no other run has cached, so both sandboxes race to build it.
  std::string version = "0." + std::to_string(getpid());
  std::string cached = binaryDir() + "/fixtures/rpm/tripwire-" + version + "-2.noarch.rpm";
  std::remove(cached.c_str());
  RunResult results[3];
  std::vector<std::thread> threads;
  for (RunResult& result : results) {
    threads.emplace_back([&result, &version] {
      Sandbox sb(version);
      result = sb.run("rpm -q tripwire");
    });
  }
  for (auto& t : threads) t.join();
  for (const RunResult& r : results) {
    EXPECT_EQ(r.status, 0) << r;
    EXPECT_EQ(r.out, "tripwire-" + version + "-2.noarch\n");
  }
  struct stat st;
  EXPECT_EQ(stat(cached.c_str(), &st), 0) << "no cached package " << cached;
  std::remove(cached.c_str());
}

TEST(SandboxHarness, NameLookupsUseFilesOnly) {
  REQUIRE_SANDBOX();
  std::string hostNsswitch = readHostFile("/etc/nsswitch.conf");
  Sandbox sb;
  RunResult r = sb.run(
      "grep -E '^(passwd|group|shadow|gshadow):' /etc/nsswitch.conf | "
      "sed -E 's/[[:space:]]+/ /g'\n"
      "touch f && chown 54321:54322 f && stat -c '%U %G %u %g' f\n"
      "getent passwd root | cut -d: -f1,3\n");
  EXPECT_EQ(r.status, 0) << r;
  std::vector<std::string> out = lines(r.out);
  std::sort(out.begin(), out.begin() + std::min<size_t>(4, out.size()));
  EXPECT_EQ(out,
            (std::vector<std::string>{"group: files", "gshadow: files", "passwd: files",
                                      "shadow: files", "UNKNOWN UNKNOWN 54321 54322", "root:0"}));
  EXPECT_EQ(readHostFile("/etc/nsswitch.conf"), hostNsswitch);
}

// The helpers below need no sandbox.
TEST(SandboxHelpers, LinesSplitsOnNewlines) {
  EXPECT_EQ(lines(""), std::vector<std::string>());
  EXPECT_EQ(lines("a\nb\n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(lines("a\n\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(lines("\n"), std::vector<std::string>{""});
}

TEST(SandboxHelpers, LogStampsAreRecognisedAndRead) {
  time_t now = time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  char stamp[32];
  int n = snprintf(stamp, sizeof stamp, "%02d/%02d/%02d-%02d:%02d:%02d - ", tm.tm_year % 100,
                   tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  ASSERT_EQ(n, static_cast<int>(LOG_STAMP_LENGTH));
  std::string line = std::string(stamp) + ">>mount -o loop";
  EXPECT_TRUE(hasLogStamp(line));
  EXPECT_EQ(logText(line), ">>mount -o loop");
  EXPECT_EQ(logStampTime(line), now);

  for (const char* bad : {"2024/02/29-13:05:09 - x", "24/02/29-13:05:09 -x", "24/13/01-00:00:00 - ",
                          "24/02/29 13:05:09 - x", "24/02/29-13:05:0", ""}) {
    EXPECT_FALSE(hasLogStamp(bad)) << bad;
    EXPECT_EQ(logStampTime(bad), -1) << bad;
    EXPECT_EQ(logText(bad), "") << bad;
  }
  EXPECT_EQ(shellQuote("it's"), "'it'\\''s'");
}

}  // namespace
