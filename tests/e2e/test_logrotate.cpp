// The rotation stanza that the tool installs, run through the platform's
// logrotate in a sandbox: it is valid once both logs it names exist (it has
// no missingok, so an absent vantel.log is an error), and a forced rotation
// compresses kestro.log into a dated file and recreates it with mode 644
// for root, after which the next run writes into the new file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sandbox.h"
#include "tool_run.h"

namespace {

using Lines = std::vector<std::string>;

bool hasLine(const Lines& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

}  // namespace

TEST(Logrotate, InstalledStanzaRotatesTheLogForReal) {
  REQUIRE_SANDBOX();
  if (system("command -v logrotate >/dev/null 2>&1") != 0) {
    if (e2eRequired()) FAIL() << "logrotate is not installed";
    GTEST_SKIP() << "logrotate is not installed";
  }
  std::string tool = shellQuote(applyKestroPath());
  Sandbox sb;
  RunResult r = sb.run(
      "set -u\nmkdir -p /share/out /tftpboot/image; cd /root\n"
      "logs=/var/log/maint\n"
      // A first run installs the stanza and writes its records.
      "rm -f /etc/logrotate.d/maint\n" +
      tool + " first.tar </dev/null >/dev/null 2>&1\n"
      "cp $logs/kestro.log /share/out/before\n"
      // The stanza names vantel.log without missingok.
      "logrotate -d /etc/logrotate.d/maint >/share/out/check-missing 2>&1; "
      "echo $? >/share/out/status-missing\n"
      ": >$logs/vantel.log\n"
      "logrotate -d /etc/logrotate.d/maint >/share/out/check 2>&1; echo $? >/share/out/status\n"
      "logrotate -f -s /tmp/logrotate.state /etc/logrotate.d/maint >/share/out/force 2>&1; "
      "echo $? >/share/out/status-force\n"
      "date +%Y%m%d >/share/out/today\n"
      "(cd $logs && ls -A) >/share/out/files\n"
      "stat -c '%a %U %G %s' $logs/kestro.log >/share/out/recreated\n"
      "zcat $logs/kestro.log-$(cat /share/out/today).gz >/share/out/rotated 2>&1\n"
      // The next run appends to the recreated file.
      + tool + " second.tar </dev/null >/dev/null 2>&1\n"
      "cp $logs/kestro.log /share/out/after\n"
      "stat -c '%a %U %G' $logs/kestro.log >/share/out/after-mode\n",
      120);
  ASSERT_EQ(0, r.status) << r;

  // Without vantel.log the check reports it; with it the stanza is clean.
  EXPECT_NE("0\n", sb.readFile("out/status-missing")) << sb.readFile("out/check-missing");
  EXPECT_NE(std::string::npos, sb.readFile("out/check-missing").find("vantel.log"));
  EXPECT_EQ("0\n", sb.readFile("out/status")) << sb.readFile("out/check");
  EXPECT_EQ(std::string::npos, sb.readFile("out/check").find("error")) << sb.readFile("out/check");

  // The forced rotation: a dated, compressed copy holding the first run's
  // records, a new empty log for root with mode 644; the empty vantel.log
  // is not rotated (notifempty).
  EXPECT_EQ("0\n", sb.readFile("out/status-force")) << sb.readFile("out/force");
  std::string today = lines(sb.readFile("out/today")).at(0);
  EXPECT_EQ((Lines{"kestro.log", "kestro.log-" + today + ".gz", "vantel.log"}),
            lines(sb.readFile("out/files")));
  EXPECT_EQ("644 root root 0\n", sb.readFile("out/recreated"));
  std::string before = sb.readFile("out/before");
  ASSERT_NE(std::string::npos, before.find(" first.tar ")) << before;
  EXPECT_EQ(before, sb.readFile("out/rotated"));

  // The second run's records are the new file's whole content.
  std::string after = sb.readFile("out/after");
  Lines records = logLines(after);
  EXPECT_TRUE(hasLine(records, "T     " + applyKestroPath() + " second.tar ")) << after;
  EXPECT_EQ(std::string::npos, after.find(" first.tar ")) << after;
  ASSERT_FALSE(records.empty());
  EXPECT_EQ("", records.front());        // the delimiter's empty line opens the file
  EXPECT_EQ(DELIMITER, records.at(1));
  EXPECT_EQ("644 root root\n", sb.readFile("out/after-mode"));
}
