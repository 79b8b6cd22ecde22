// End-to-end tests of the run's frame: usage, options, bundle resolution,
// the argument-count rule, the root check, tracing and the rotation stanza.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sandbox.h"
#include "tool_run.h"

using Lines = std::vector<std::string>;

static const std::string START = "\nStarting apply phase for client POS image maintenance.";
static const std::string USAGE =
    "applyKestro accepts one command line parameter.\n"
    "Specify the name of the maintenance bundle to be processed.\n";

// The log records of a run that ended in the command line, after the
// start message and the command line itself.
static Lines afterCommandLine(const ToolRun& run) {
  Lines log = lastRunLog(run.log);
  auto at = std::find(log.begin(), log.end(), "T Command line issued:");
  if (at == log.end() || at + 3 > log.end()) return {};
  return Lines(at + 3, log.end());  // skip the args record and the package record
}

TEST(Frame, HelpShowsTheUsageOnTheConsoleOnly) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  for (const char* args : {"-h", "--help", "-hello", "a.tar -h b.tar"}) {
    ToolRun run = runTool(sb, args);
    EXPECT_EQ(1, run.status) << args;
    EXPECT_EQ(START + "\n \n" + USAGE, run.console) << args;
    EXPECT_EQ(Lines{}, afterCommandLine(run)) << args;
    EXPECT_FALSE(run.stanzaFile) << args;
  }
  ToolRun run = runTool(sb, "-M --help");
  EXPECT_EQ(START + "\n  \nIapplyKestro accepts one command line parameter.\n"
                    "ISpecify the name of the maintenance bundle to be processed.\n",
            run.console);
}

TEST(Frame, InvalidOptionsAreEachReported) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  ToolRun run = runTool(sb, "-x -y b.tar");
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(START + "\nInvalid option: -x\n \nInvalid option: -y\n \n\n\n", run.console);
  EXPECT_EQ((Lines{"T Invalid option: -x", "T Invalid option: -y", DELIMITER}),
            afterCommandLine(run));
  EXPECT_FALSE(run.stanzaFile);

  run = runTool(sb, "- --verbose -M");
  EXPECT_EQ(START + "\nEInvalid option: -\n  \nEInvalid option: --verbose\n  \n\n\n",
            run.console);
}

TEST(Frame, TwoBundleNamesShowTheUsage) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  ToolRun run = runTool(sb, "-x a.tar b.tar -x");
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(START +
                "\nOnly one maintenance bundle may be specified on the command line.\n"
                "a.tar and b.tar both appear to be bundle names.\n \n \n" + USAGE,
            run.console);
  EXPECT_EQ((Lines{"T Only one maintenance bundle may be specified on the command line.",
                   "T a.tar and b.tar both appear to be bundle names."}),
            afterCommandLine(run));
  EXPECT_FALSE(run.stanzaFile);
}

TEST(Frame, MissingBundleName) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  ToolRun run = runTool(sb, "-M");
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(START +
                "\nEMaintenance bundle name must be specified on the command line. Exiting.\n"
                "\n\n\n",
            run.console);
  EXPECT_EQ((Lines{"T Maintenance bundle name must be specified on the command line. Exiting.",
                   DELIMITER}),
            afterCommandLine(run));
  EXPECT_FALSE(run.stanzaFile);
  // The command-line failures leave the (empty) working directories.
  EXPECT_NE(run.leftovers.end(),
            std::find(run.leftovers.begin(), run.leftovers.end(), "/tftpboot/image/zor_image"));
}

// The stanza appended last: the bundle name of its header and its status.
static std::string lastStanza(const ToolRun& run) {
  Lines all = lines(run.stanzas);
  if (all.size() < 3) return "";
  std::string header = all[all.size() - 3];
  std::string item = all[all.size() - 2];
  std::string status = item.substr(0, item.find(" - "));
  return header + "|" + status;
}

TEST(Frame, BundleResolutionOrder) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  ToolOptions opt;
  opt.before = "mkdir -p /start/here /var/maint/downloads /var/x && touch /var/x/b.tar";
  opt.cwd = "/start/here";

  // Not anywhere: the failure names the default directory's path.
  ToolRun run = runTool(sb, "b", opt);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(START + "\nFatal error: Maintenance bundle /var/maint/downloads/b.tar does not "
                    "exist.\n\n\n",
            run.console);
  EXPECT_EQ("/var/maint/downloads/b.tar {|   Applied:   Failed", lastStanza(run));
  EXPECT_EQ((Lines{"T Fatal error: Maintenance bundle /var/maint/downloads/b.tar does not exist.",
                   DELIMITER}),
            afterCommandLine(run));

  // In the default directory; later stages then fail, but the stanza names
  // the resolved path.
  opt.before += " && touch /var/maint/downloads/b.tar";
  run = runTool(sb, "-M b", opt);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("/var/maint/downloads/b.tar {|   Applied:   Failed", lastStanza(run));

  // In the start directory, which wins over the default directory.
  opt.before += " && touch /start/here/b.tar";
  run = runTool(sb, "b", opt);
  EXPECT_EQ("/start/here/b.tar {|   Applied:   Failed", lastStanza(run));
  run = runTool(sb, "./b.tar", opt);
  EXPECT_EQ("/start/here/b.tar {|   Applied:   Failed", lastStanza(run));

  // "./" is removed once for the start directory only; the default
  // directory keeps it.
  ToolOptions dot;
  dot.before = "mkdir -p /start/here /var/maint/downloads";
  dot.cwd = "/start/here";
  run = runTool(sb, "./b.tar", dot);
  EXPECT_EQ("/var/maint/downloads/./b.tar {|   Applied:   Failed", lastStanza(run));

  // Relative to the working directory (/tmp/maint_zor/maintPID) when the
  // start directory does not have it.
  ToolOptions rel;
  rel.before = "mkdir -p /a/b/c/d/e /var/x && touch /var/x/b.tar";
  rel.cwd = "/a/b/c/d/e";
  run = runTool(sb, "../../../var/x/b.tar", rel);
  EXPECT_EQ("../../../var/x/b.tar {|   Applied:   Failed", lastStanza(run));

  // An absolute name is not looked for elsewhere; a directory does not count.
  ToolOptions abs;
  abs.before = "mkdir -p /var/maint/downloads/var/y.tar /var/y.tar";
  run = runTool(sb, "/var/y", abs);
  EXPECT_EQ(START + "\nFatal error: Maintenance bundle /var/y.tar does not exist.\n\n\n",
            run.console);
  EXPECT_EQ("/var/y.tar {|   Applied:   Failed", lastStanza(run));
}

TEST(Frame, ManyArgumentsAreReplaced) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  std::string ninetyNine;
  for (int i = 0; i < 99; ++i) ninetyNine += " -q";
  ToolRun run = runTool(sb, ninetyNine);
  EXPECT_EQ(1, run.status);
  EXPECT_EQ(START + "\nWFatal error: Maintenance bundle /tmp/javagz.tar does not exist.\n\n\n",
            run.console);
  Lines log = lastRunLog(run.log);
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "T     applyKestro -M /tmp/javagz.tar "));
  EXPECT_EQ("/tmp/javagz.tar {|   Applied:   Failed", lastStanza(run));

  std::string ninetyEight;
  for (int i = 0; i < 98; ++i) ninetyEight += " -q";
  run = runTool(sb, ninetyEight);
  EXPECT_EQ(1, run.status);
  std::string expected = START + "\n";
  for (int i = 0; i < 98; ++i) expected += "Invalid option: -q\n \n";
  EXPECT_EQ(expected + "\n\n", run.console);
  EXPECT_FALSE(run.stanzaFile);
}

TEST(Frame, NonRootCallerIsRefused) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  ToolOptions opt;
  // The operator's setup leaves the lock file open to others; the log
  // stays root's, so every record fails to open it.
  opt.before =
      "mkdir -p /var/maint /var/log/maint && : >/var/log/maint/kestro.log && "
      "touch /var/maint/kestro.lock && chmod 666 /var/maint/kestro.lock";
  opt.env = "setpriv --reuid=65534 --regid=65534 --clear-groups";
  ToolRun run = runTool(sb, "-M b.tar", opt);
  EXPECT_EQ(1, run.status);
  std::string logOpen =
      "Fatal Error: Could not open maintenance logfile /var/log/maint/kestro.log. Permission "
      "denied.\n\n";
  EXPECT_EQ(logOpen + "This application must be run with root authority. Exiting.\n" + logOpen +
                "\n\n",
            run.console);
  EXPECT_EQ("", run.log);
  EXPECT_FALSE(run.stanzaFile);
  EXPECT_EQ(Lines{}, run.leftovers);  // no working directory was made

  // With a log it can write, the refusal is logged.
  opt.before += " && chmod 666 /var/log/maint/kestro.log";
  run = runTool(sb, "b.tar", opt);
  EXPECT_EQ("This application must be run with root authority. Exiting.\n\n\n", run.console);
  EXPECT_EQ((Lines{"T This application must be run with root authority. Exiting.", DELIMITER}),
            logLines(run.log));
}

TEST(Frame, TracingWritesScopes) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  ToolOptions opt;
  opt.env = "ZOR_MTRACE=";
  ToolRun run = runTool(sb, "-h", opt);
  Lines log = logLines(run.log);
  const std::string open = "T     " + std::string(61, '>');
  const std::string close = "T     " + std::string(61, '<');
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ((Lines{" ", open, "T ->>main"}), Lines(log.begin(), log.begin() + 3));
  for (const char* expected :
       {"T    ->>setupLogrotate", "T       ->>backtics", "T <<-main", "T ->>authorize",
        "T <<-authorize", "T ->>logRPMLevel", "T ->>parseCommandLine", "T    ->>help"}) {
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), expected)) << expected;
  }
  EXPECT_EQ(log.end(), std::find(log.begin(), log.end(), "T ->>setupForTranslation"));
  // help ends the process inside the open scope of parseCommandLine.
  EXPECT_EQ(std::count(log.begin(), log.end(), open),
            std::count(log.begin(), log.end(), close) + 1);

  opt.env = "";
  run = runTool(sb, "-h", opt);
  for (const std::string& line : logLines(run.log)) {
    EXPECT_EQ(std::string::npos, line.find("->>")) << line;
  }
}

TEST(Frame, RotationStanzaIsInstalledOnce) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  ToolOptions opt;
  opt.after = "cp /etc/logrotate.d/maint /share/out/rotation";
  runTool(sb, "-h", opt);
  EXPECT_EQ(
      "/var/log/maint/kestro.log {\n      compress\n      size 60k\n      notifempty\n"
      "      rotate 5\n      create 644 root root\n      dateext\n}\n\n"
      "/var/log/maint/vantel.log {\n      compress\n      size 100k\n      notifempty\n"
      "      rotate 5\n      create 644 root root\n      dateext\n}\n",
      sb.readFile("out/rotation"));

  opt.before = "mkdir -p /etc/logrotate.d && echo mine >/etc/logrotate.d/maint";
  runTool(sb, "-h", opt);
  EXPECT_EQ("mine\n", sb.readFile("out/rotation"));
}

TEST(Frame, PackageOfTheExecutableIsLoggedAsRpmAnswers) {
  REQUIRE_SANDBOX();
  Sandbox sb;
  ToolOptions opt;
  opt.before = "cp " + shellQuote(applyKestroPath()) + " /usr/local/sbin/applyKestro";
  ToolRun run = runTool(sb, "-h", opt);
  Lines log = lastRunLog(run.log);
  EXPECT_NE(log.end(),
            std::find(log.begin(), log.end(),
                      "T Executable applyKestro is from RPM file /usr/local/sbin/applyKestro is "
                      "not owned by any package"));
}
