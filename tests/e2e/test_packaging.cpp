// Shipping the tool: `cmake --install` with DESTDIR puts the commands in
// sbin (or bin), each with its gzipped manual page, and the message
// catalogues under share/locale, nothing else; the manual page renders
// without groff warnings; and the RPM that CPack builds installs for real
// into a sandbox's rpm database and /usr, where the tool finds itself in
// the package and `rpm -V` finds nothing changed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "sandbox.h"
#include "tool_run.h"

namespace {

using Lines = std::vector<std::string>;

// Runs a host command (no fixed paths involved), output and errors
// apart; the status is system()'s exit code.
struct HostRun {
  int status;
  std::string out;
  std::string err;
};

HostRun hostRun(const std::string& command) {
  char dir[] = "/tmp/dm-host-run.XXXXXX";
  if (!mkdtemp(dir)) return {-1, "", "mkdtemp failed"};
  std::string d = dir;
  std::string full = "( " + command + " ) >" + d + "/out 2>" + d + "/err";
  int rc = system(full.c_str());
  HostRun r{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, readHostFile(d + "/out"),
            readHostFile(d + "/err")};
  std::string cleanup = "rm -rf " + shellQuote(d);
  if (system(cleanup.c_str()) != 0) r.err += "\ncould not remove " + d;
  return r;
}

// Skips (or, when end-to-end tests are required, fails) without a tool.
#define REQUIRE_TOOL(tool)                                                   \
  do {                                                                       \
    if (system("command -v " tool " >/dev/null 2>&1") != 0) {                \
      if (e2eRequired()) FAIL() << tool " is not installed";                 \
      GTEST_SKIP() << tool " is not installed";                              \
    }                                                                        \
  } while (0)

// Files a package of the project may ship (paths below /, without the
// leading slash): commands in usr/sbin or usr/bin, each with its gzipped
// manual page and no other page, and message catalogues.
void expectShippedFilesOnly(const Lines& paths) {
  const std::regex command("usr/s?bin/([^/]+)");
  const std::regex page("usr/share/man/man[1-8]/([^/]+)\\.[1-8]\\.gz");
  const std::regex catalogue("usr/share/locale/[a-zA-Z_@]+/LC_MESSAGES/[^/]+\\.mo");
  std::set<std::string> commands, pages;
  std::smatch m;
  for (const std::string& f : paths) {
    if (std::regex_match(f, m, command)) {
      commands.insert(m[1]);
    } else if (std::regex_match(f, m, page)) {
      pages.insert(m[1]);
    } else {
      EXPECT_TRUE(std::regex_match(f, catalogue)) << "shipped, but not asked for: " << f;
    }
  }
  EXPECT_EQ(commands, pages) << "every command with its manual page, and no other page";
}

}  // namespace

TEST(Packaging, InstallPutsCommandsManPagesAndCataloguesOnly) {
  char dir[] = "/tmp/dm-install.XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  std::string dest = dir;
  HostRun install = hostRun("DESTDIR=" + shellQuote(dest) + " cmake --install " +
                            shellQuote(binaryDir()) + " --prefix /usr");
  ASSERT_EQ(0, install.status) << install.out << install.err;
  HostRun listing = hostRun("cd " + shellQuote(dest) +
                            " && find . \\( -type f -o -type l \\) -printf '%P %m\\n' | sort");
  HostRun sameTool = hostRun("cmp " + shellQuote(dest + "/usr/sbin/applyKestro") + " " +
                             shellQuote(applyKestroPath()));
  HostRun sameMo = hostRun("cmp " + shellQuote(dest + "/usr/share/locale/de/LC_MESSAGES/"
                                                      "applyKestro.mo") +
                           " " + shellQuote(binaryDir() + "/locale/de/LC_MESSAGES/applyKestro.mo"));
  HostRun samePage = hostRun("zcat " + shellQuote(dest + "/usr/share/man/man8/applyKestro.8.gz") +
                             " | cmp - " + shellQuote(sourceDir() + "/man/applyKestro.8"));
  std::string cleanup = "rm -rf " + shellQuote(dest);
  ASSERT_EQ(0, system(cleanup.c_str()));

  Lines files = lines(listing.out);
  std::set<std::string> all(files.begin(), files.end());
  EXPECT_EQ(1u, all.count("usr/sbin/applyKestro 755")) << listing.out;
  EXPECT_EQ(1u, all.count("usr/share/man/man8/applyKestro.8.gz 644")) << listing.out;
  EXPECT_EQ(1u, all.count("usr/share/locale/de/LC_MESSAGES/applyKestro.mo 644")) << listing.out;
  EXPECT_EQ(0, sameTool.status) << sameTool.out;
  EXPECT_EQ(0, sameMo.status) << sameMo.out;
  EXPECT_EQ(0, samePage.status) << samePage.out << samePage.err;

  Lines paths;
  for (const std::string& f : files) paths.push_back(f.substr(0, f.rfind(' ')));
  expectShippedFilesOnly(paths);
}

TEST(Packaging, ManPageRendersWithoutWarnings) {
  REQUIRE_TOOL("groff");
  REQUIRE_TOOL("man");
  // Every page of the project, with all of groff's warnings on.
  HostRun pages = hostRun("ls " + shellQuote(sourceDir() + "/man") + " | grep '\\.[1-8]$'");
  ASSERT_FALSE(lines(pages.out).empty());
  for (const std::string& name : lines(pages.out)) {
    HostRun groff = hostRun("groff -man -ww -z " + shellQuote(sourceDir() + "/man/" + name));
    EXPECT_EQ(0, groff.status) << name;
    EXPECT_EQ("", groff.err) << name;
  }
  // The installed form, as an operator reads it.
  HostRun man = hostRun("MANWIDTH=80 man --warnings -l " +
                        shellQuote(binaryDir() + "/man/applyKestro.8.gz"));
  EXPECT_EQ(0, man.status) << man.err;
  EXPECT_EQ("", man.err);
  const std::string& page = man.out;
  for (const char* heading : {"NAME", "SYNOPSIS", "OPTIONS", "BUNDLE LAYOUT", "FILES",
                              "EXIT STATUS", "ENVIRONMENT", "EXAMPLES"}) {
    EXPECT_TRUE(std::regex_search(page, std::regex(std::string("\n") + heading + "\n")))
        << "no section " << heading;
  }
  // What an operator looks up: the files, the variable, the data keys.
  for (const char* term : {"/var/log/maint/kestro.log", "/var/maint/kestro.lock",
                           "/etc/logrotate.d/maint", "/tftpboot/image", "ZOR_MTRACE",
                           "oldImageName", "oldImageMD5", "newImageName", "newImageSize",
                           "newImageFStype", "newImageInodes", "maint_cmd_bash1",
                           "maint_cmd_bash2", "tw.maint_db", "maint.tar.bz2"}) {
    EXPECT_NE(std::string::npos, page.find(term)) << "the page does not mention " << term;
  }
}

TEST(Packaging, RpmInstallsIntoTheSandboxAndVerifiesClean) {
  REQUIRE_SANDBOX();
  REQUIRE_TOOL("cpack");
  REQUIRE_TOOL("rpmbuild");
  // Built inside the sandbox: rpmbuild and rpm write below $HOME, which is
  // the sandbox's; the package goes to its /tmp.
  Sandbox sb("2.3.1");
  RunResult r = sb.run(
      "set -u\nmkdir -p /share/out /tftpboot/image\n"
      "cpack --config " + shellQuote(binaryDir() + "/CPackConfig.cmake") +
      " -G RPM -B /tmp/pkg >/share/out/cpack 2>&1 || exit 3\n"
      "cd /tmp/pkg && ls *.rpm >/share/out/packages\n"
      "rpm -qp --qf '%{NAME} %{VERSION}\\n' *.rpm >/share/out/nameversion 2>/dev/null\n"
      "rpm -qpR *.rpm >/share/out/requires 2>/dev/null\n"
      "rpm -i --nodeps *.rpm 2>/share/out/install-errors; echo $? >/share/out/install\n"
      "rpm -q deltamaint >/share/out/package\n"
      "rpm -ql deltamaint >/share/out/files\n"
      "cd /root\n"
      "which applyKestro >/share/out/which\n"
      "applyKestro b.tar </dev/null >/share/out/console 2>&1; echo $? >/share/out/status\n"
      "cp /var/log/maint/kestro.log /share/out/log\n"
      "rpm -V deltamaint >/share/out/verify 2>&1; echo $? >>/share/out/verify\n",
      300);
  ASSERT_EQ(0, r.status) << r << "\n" << sb.readFile("out/cpack");

  Lines nameVersion = lines(sb.readFile("out/nameversion"));
  ASSERT_EQ(1u, nameVersion.size()) << sb.readFile("out/packages");
  std::string version = nameVersion[0].substr(nameVersion[0].find(' ') + 1);
  EXPECT_EQ("deltamaint " + version, nameVersion[0]);
  EXPECT_EQ("deltamaint-" + version + ".rpm\n", sb.readFile("out/packages"));
  // No automatic requirements: only rpm's own feature marks.
  for (const std::string& req : lines(sb.readFile("out/requires"))) {
    EXPECT_EQ(0u, req.find("rpmlib(")) << "requirement: " << req;
  }
  EXPECT_EQ("0\n", sb.readFile("out/install")) << sb.readFile("out/install-errors");
  Lines packaged = lines(sb.readFile("out/files"));
  for (const char* file : {"/usr/sbin/applyKestro", "/usr/share/man/man8/applyKestro.8.gz",
                           "/usr/share/locale/de/LC_MESSAGES/applyKestro.mo"}) {
    EXPECT_NE(packaged.end(), std::find(packaged.begin(), packaged.end(), file))
        << "not in the package: " << file;
  }
  Lines paths;
  for (const std::string& f : packaged) paths.push_back(f.substr(1));
  expectShippedFilesOnly(paths);
  EXPECT_EQ("/usr/sbin/applyKestro\n", sb.readFile("out/which"));

  // The run from the package records where its executable came from.
  std::string package = lines(sb.readFile("out/package")).at(0);
  EXPECT_EQ(0u, package.find("deltamaint-" + version + "-")) << package;
  EXPECT_EQ("1\n", sb.readFile("out/status")) << sb.readFile("out/console");
  Lines log = logLines(sb.readFile("out/log"));
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(),
                                 "T Executable applyKestro is from RPM " + package))
      << sb.readFile("out/log");
  EXPECT_EQ("0\n", sb.readFile("out/verify"));
}
