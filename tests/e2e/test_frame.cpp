// The run's frame, one run per row: the command line (usage, options, the
// argument-count rule), how a bundle name is resolved, the root check; then
// tracing, the rotation stanza and the package record.
#include "root.h"

namespace {

struct Row {
  const char* name;
  const char* args;
  const char* before;   // in /root; may cd elsewhere and set RUN
  int status;
  const char* console;  // glob
  const char* log;      // glob of the records
  const char* stanza;   // glob
  const char* left;     // glob
};

#define S "\nStarting apply phase for client POS image maintenance."
#define D "########################################################################\n"
#define USAGE "applyKestro accepts one command line parameter.\nSpecify the name of the maintenance bundle to be processed.\n"
#define LINE "*T Command line issued:\nT     *\nT Error locating executable: applyKestro\n"
#define HELP(args) {"Help" #args, args, "", 1, S "\n \n" USAGE, LINE, "", "*"}
#define NOWHERE "mkdir -p /start/here /var/maint/downloads; cd /start/here"
#define STANZA(path) path " {|   Applied:   Failed"
#define MISSING(path) S "\nFatal error: Maintenance bundle " path " does not exist.\n\n\n"
#define NOROOT "mkdir -p /var/maint /var/log/maint && : >/var/log/maint/kestro.log && touch " \
  "/var/maint/kestro.lock && chmod 666 /var/maint/kestro.lock; RUN='setpriv --reuid=65534 --regid=65534 --clear-groups'"
#define NOLOG "Fatal Error: Could not open maintenance logfile /var/log/maint/kestro.log. Permission denied.\n\n"

const Row ROWS[] = {
    {"Help", "-h", "", 1, S "\n \n" USAGE, LINE, "", "*"},
    {"HelpLong", "--help", "", 1, S "\n \n" USAGE, LINE, "", "*"},
    {"HelpPrefix", "-hello", "", 1, S "\n \n" USAGE, LINE, "", "*"},
    {"HelpAmongNames", "a.tar -h b.tar", "", 1, S "\n \n" USAGE, LINE, "", "*"},
    {"HelpWithSeverities", "-M --help", "", 1, S "\n  \nI" USAGE "*", LINE, "", "*"},
    {"InvalidOptions", "-x -y b.tar", "", 1, S "\nInvalid option: -x\n \nInvalid option: -y\n \n\n\n",
     LINE "T Invalid option: -x\nT Invalid option: -y\n" D, "", "*"},
    {"InvalidOptionsWithSeverities", "- --verbose -M", "", 1,
     S "\nEInvalid option: -\n  \nEInvalid option: --verbose\n  \n\n\n", "*", "", "*"},
    {"TwoNames", "-x a.tar b.tar -x", "", 1,
     S "\nOnly one maintenance bundle may be specified on the command line.\na.tar and b.tar both appear to be "
       "bundle names.\n \n \n" USAGE,
     LINE "T Only one maintenance bundle may be specified on the command line.\nT a.tar and b.tar both appear "
          "to be bundle names.\n", "", "*"},
    {"NoName", "-M", "", 1, S "\nEMaintenance bundle name must be specified on the command line. Exiting.\n\n\n\n",
     LINE "T Maintenance bundle name must be specified on the command line. Exiting.\n" D, "",
     "zor(maintP) zor_image\n"},
    {"NotFound", "b", NOWHERE, 1, MISSING("/var/maint/downloads/b.tar"),
     LINE "T Fatal error: Maintenance bundle /var/maint/downloads/b.tar does not exist.\n" D,
     STANZA("/var/maint/downloads/b.tar"), "*"},
    {"InTheDownloads", "-M b", NOWHERE "; touch /var/maint/downloads/b.tar", 1, "*", "*",
     STANZA("/var/maint/downloads/b.tar"), "*"},
    {"StartDirectoryFirst", "b", NOWHERE "; touch /var/maint/downloads/b.tar b.tar", 1, "*", "*",
     STANZA("/start/here/b.tar"), "*"},
    {"DotSlashInTheStartDirectory", "./b.tar", NOWHERE "; touch b.tar", 1, "*", "*", STANZA("/start/here/b.tar"), "*"},
    {"DotSlashKeptForTheDownloads", "./b.tar", NOWHERE, 1, "*", "*", STANZA("/var/maint/downloads/./b.tar"), "*"},
    {"RelativeToTheWorkingDirectory", "../../../var/x/b.tar",
     "mkdir -p /a/b/c/d/e /var/x && touch /var/x/b.tar && cd /a/b/c/d/e", 1, "*", "*",
     STANZA("../../../var/x/b.tar"), "*"},
    {"AbsoluteNameOnly", "/var/y", "mkdir -p /var/maint/downloads/var/y.tar /var/y.tar", 1,
     MISSING("/var/y.tar"), "*", STANZA("/var/y.tar"), "*"},
    {"NinetyNineArguments", "$(printf ' -q%.0s' $(seq 99))", "", 1,
     S "\nWFatal error: Maintenance bundle /tmp/javagz.tar does not exist.\n\n\n",
     "*\nT     applyKestro -M /tmp/javagz.tar \n*", STANZA("/tmp/javagz.tar"), "*"},
    {"NinetyEightArguments", "$(printf ' -q%.0s' $(seq 98))", "", 1, S "\nInvalid option: -q\n \n*\n\n", "*", "", "*"},
    {"NotRootWithoutLog", "-M b.tar", NOROOT, 1,
     NOLOG "This application must be run with root authority. Exiting.\n" NOLOG "\n\n", "", "", ""},
    {"NotRoot", "b.tar", NOROOT "; chmod 666 /var/log/maint/kestro.log", 1,
     "This application must be run with root authority. Exiting.\n\n\n",
     "\nT This application must be run with root authority. Exiting.\n" D, "", "*"},
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

class Frame : public E2E, public testing::WithParamInterface<Row> {};

TEST_P(Frame, Run) {
  const Row& r = GetParam();
  Outcome o = root.apply(r.args, r.before);
  EXPECT_EQ(r.status, o.tool) << o;
  EXPECT_GLOB(r.console, o.console);
  EXPECT_GLOB(r.log, r.name == std::string("NotRoot") ? stamped(o.log) : o.records);
  EXPECT_GLOB(r.stanza, o.stanza);
  EXPECT_GLOB(r.left, o.left);
  EXPECT_EQ("", o.leaks);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, Frame, testing::ValuesIn(ROWS),
                         [](const testing::TestParamInfo<Row>& i) { return i.param.name; });

TEST_F(E2E, TracingWritesScopes) {
  Outcome o = root.apply("-h", "RUN='env ZOR_MTRACE='", "cp /var/log/maint/kestro.log traced\n"
                         "rm /var/log/maint/kestro.log; \"$TOOL\" -h >/dev/null");
  std::string open = "T     " + std::string(61, '>') + "\n", close = "T     " + std::string(61, '<') + "\n";
  std::string log = stamped(root.read("traced"));
  EXPECT_GLOB(" \n" + open + "T ->>main\n*T    ->>setupLogrotate\n*T       ->>backtics\n"
              "*T <<-main\n*T ->>authorize\n*T <<-authorize\n*T ->>logRPMLevel\n*T ->>parseCommandLine\n"
              "*T    ->>help\n*", log);
  EXPECT_EQ(std::string::npos, log.find("->>setupForTranslation"));
  int opened = 0, closed = 0;
  for (size_t at = 0; (at = log.find(open, at)) != std::string::npos; ++at) ++opened;
  for (size_t at = 0; (at = log.find(close, at)) != std::string::npos; ++at) ++closed;
  EXPECT_EQ(opened, closed + 1);  // help ends the process inside parseCommandLine
  EXPECT_EQ(std::string::npos, o.log.find("->>"));  // untraced
}

TEST_F(E2E, RotationStanzaIsInstalledOnce) {
  Outcome o = root.apply("-h", "", "cat /etc/logrotate.d/maint; echo mine >/etc/logrotate.d/maint\n"
                         "\"$TOOL\" -h >/dev/null; cat /etc/logrotate.d/maint");
  EXPECT_EQ("/var/log/maint/kestro.log {\n      compress\n      size 60k\n      notifempty\n"
            "      rotate 5\n      create 644 root root\n      dateext\n}\n\n"
            "/var/log/maint/vantel.log {\n      compress\n      size 100k\n      notifempty\n"
            "      rotate 5\n      create 644 root root\n      dateext\n}\nmine\n", o.after);
}

TEST_F(E2E, PackageOfTheExecutableIsLoggedAsRpmAnswers) {
  Outcome o = root.apply("-h", "cp \"$TOOL\" /usr/local/sbin/applyKestro");
  EXPECT_GLOB("*\nT Executable applyKestro is from RPM file /usr/local/sbin/applyKestro is not owned by "
              "any package\n*", o.records);
}

}  // namespace
