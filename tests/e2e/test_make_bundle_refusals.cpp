// End-to-end tests of the runs of makeKestroBundle that must not write a
// bundle: names that a maintenance script cannot hold (in the new tree and
// in the old image), command lines it cannot use, a tree its payload cannot
// carry, and an interrupted build.  Each ends with status 1, an E message
// that says what and where, no bundle, and nothing left behind.  (The
// --no-verify run beside the self-check writes one, as it should.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "make_bundle_support.h"
#include "sandbox.h"

namespace {

// An old image with a small tree, and a wanted tree copied from it.
const char* const SETUP = R"SH(
set -u
MKB=$DM_BINARY_DIR/makeKestroBundle
mkdir -p /tftpboot/image /tmp/old/etc /tmp/mnt
echo a >/tmp/old/etc/a
dd if=/dev/zero of=/tftpboot/image/pos-1.0.img bs=1M count=8 status=none
mke2fs -q -N 256 -F /tftpboot/image/pos-1.0.img
populate() {
  mount -o loop /tftpboot/image/pos-1.0.img /tmp/mnt && cp -a /tmp/old/. /tmp/mnt/ && umount /tmp/mnt
}
fresh_new() { rm -rf /tmp/new; cp -a /tmp/old /tmp/new; }
# try TAG ARGS...: one run; its status, console and what it left.
try() {
  local tag=$1; shift
  ( cd /share && "$MKB" "$@" >"/share/$tag.out" 2>&1 ); echo "$tag rc=$?"
  ls /share/*.tar 2>/dev/null | sed "s/^/$tag BUNDLE /"
  ls -d /var/tmp/makeKestroBundle.* 2>/dev/null | sed "s/^/$tag LEFTOVER /"
}
)SH";

std::string outcome(Sandbox& sb, const std::string& tag) { return sb.readFile(tag + ".out"); }

}  // namespace

// Each hostile name in the wanted tree stops the build before anything is
// written; the message names the object in a printable form.
TEST(MakeKestroBundleRefusals, HostileNamesInTheNewTree) {
  REQUIRE_SANDBOX();
  REQUIRE_BUILDER();
  Sandbox sb;
  struct Case {
    const char* tag;
    const char* create;  // bash word for the name inside /tmp/new/etc
    const char* shown;   // how the message shows it
  };
  const Case cases[] = {
      {"newline", "$'line\\nbreak'", "/etc/line\\012break"},
      {"quote", "\"it's\"", "/etc/it's"},
      {"dquote", "'say\"x'", "/etc/say\"x"},
      {"backslash", "'back\\slash'", "/etc/back\\134slash"},
      {"backquote", "'run`id`'", "/etc/run`id`"},
      {"tab", "$'tab\\tx'", "/etc/tab\\011x"},
      {"nonascii", "$'caf\\xc3\\xa9'", "/etc/caf\\303\\251"},
      {"trailing", "'blank '", "/etc/blank "},
  };
  std::string script = std::string(SETUP) + "populate\n";
  for (const Case& c : cases) {
    script += std::string("fresh_new; echo x >/tmp/new/etc/") + c.create + "\n" + "try " + c.tag +
              " -M /tftpboot/image/pos-1.0.img /tmp/new pos-1.1.img\n";
  }
  RunResult r = sb.run(script, 600);
  ASSERT_EQ(0, r.status) << r;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    EXPECT_NE(std::string::npos, r.out.find(std::string(c.tag) + " rc=1")) << r;
    std::string out = outcome(sb, c.tag);
    EXPECT_NE(std::string::npos,
              out.find(std::string("EFatal error: The name \"") + c.shown +
                       "\" in the new tree cannot be written safely into a maintenance script"))
        << out;
  }
  EXPECT_EQ(std::string::npos, r.out.find("BUNDLE")) << r;
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  EXPECT_EQ("", sb.leaks());
}

// A hostile name that exists only in the old image would have to be
// removed by the first script: refused too, after the old image is read.
TEST(MakeKestroBundleRefusals, HostileNameInTheOldImage) {
  REQUIRE_SANDBOX();
  REQUIRE_BUILDER();
  Sandbox sb;
  RunResult r = sb.run(std::string(SETUP) +
                           "fresh_new; echo x >/tmp/old/etc/$'two\\nlines'; populate\n"
                           "try oldname -M /tftpboot/image/pos-1.0.img /tmp/new pos-1.1.img\n",
                       600);
  ASSERT_EQ(0, r.status) << r;
  EXPECT_NE(std::string::npos, r.out.find("oldname rc=1")) << r;
  EXPECT_NE(std::string::npos,
            outcome(sb, "oldname")
                .find("EFatal error: The name \"/etc/two\\012lines\" in the old image cannot be "
                      "written safely"))
      << outcome(sb, "oldname");
  EXPECT_EQ(std::string::npos, r.out.find("BUNDLE")) << r;
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  EXPECT_EQ("", sb.leaks());
}

// Command lines it cannot use: the usage text, or a message naming the
// input; status 1 and a log with the run's records in every case.
TEST(MakeKestroBundleRefusals, CommandLineErrors) {
  REQUIRE_SANDBOX();
  REQUIRE_BUILDER();
  Sandbox sb;
  RunResult r =
      sb.run(std::string(SETUP) +
                 "populate; fresh_new\n"
                 "try none -M\n"
                 "try help --help\n"
                 "try badopt -M --frobnicate /tftpboot/image/pos-1.0.img /tmp/new x.img\n"
                 "try fstype -M --fstype ext4 /tftpboot/image/pos-1.0.img /tmp/new x.img\n"
                 "try size -M --size 0 /tftpboot/image/pos-1.0.img /tmp/new x.img\n"
                 "try noold -M /tftpboot/image/missing.img /tmp/new x.img\n"
                 "try notree -M /tftpboot/image/pos-1.0.img /tmp/nothere x.img\n"
                 "try gz -M /tftpboot/image/pos-1.0.img /tmp/new x.img.gz\n"
                 "try slash -M /tftpboot/image/pos-1.0.img /tmp/new sub/x.img\n"
                 "ZOR_MTRACE= try traced /tftpboot/image/pos-1.0.img\n"
                 "cp /var/log/maint/makeKestroBundle.log /share/log\n",
             600);
  ASSERT_EQ(0, r.status) << r;
  const char* tags[] = {"none",  "help",   "badopt", "fstype", "size",
                        "noold", "notree", "gz",     "slash",  "traced"};
  for (const char* tag : tags) {
    EXPECT_NE(std::string::npos, r.out.find(std::string(tag) + " rc=1")) << tag << "\n" << r;
  }
  const std::string usage = "Iusage: makeKestroBundle [-M] [-o BUNDLE.tar]";
  EXPECT_NE(std::string::npos, outcome(sb, "none").find(usage)) << outcome(sb, "none");
  EXPECT_NE(std::string::npos, outcome(sb, "none").find("EGive the old image, the new tree"));
  EXPECT_NE(std::string::npos, outcome(sb, "help").find("usage: makeKestroBundle"));
  EXPECT_NE(std::string::npos, outcome(sb, "badopt").find("EInvalid option: --frobnicate"));
  EXPECT_NE(std::string::npos, outcome(sb, "fstype").find("EInvalid filesystem type: ext4"));
  EXPECT_NE(std::string::npos, outcome(sb, "size").find("EInvalid size: 0"));
  EXPECT_NE(std::string::npos, outcome(sb, "noold")
                                   .find("EFatal error: Old image /tftpboot/image/missing.img does "
                                         "not exist"));
  EXPECT_NE(std::string::npos,
            outcome(sb, "notree").find("EFatal error: New tree /tmp/nothere is not a directory"));
  EXPECT_NE(std::string::npos, outcome(sb, "gz").find("must hold \".gz\" exactly when"));
  EXPECT_NE(std::string::npos, outcome(sb, "slash").find("EFatal error: The new image name"));
  EXPECT_EQ(std::string::npos, r.out.find("BUNDLE")) << r;
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  // The log: the runs' records, each run closed by a delimiter, and the
  // traced run's scopes.
  std::string log = sb.readFile("log");
  EXPECT_NE(std::string::npos, log.find(" - Starting build of a maintenance bundle.")) << log;
  EXPECT_NE(std::string::npos, log.find(" - Invalid option: --frobnicate")) << log;
  EXPECT_NE(std::string::npos, log.find(std::string(72, '#')));
  EXPECT_NE(std::string::npos, log.find("->>main")) << log;
  EXPECT_NE(std::string::npos, log.find("   ->>parseCommandLine")) << log;
}

// The self-check: a wanted tree the payload cannot carry (tar leaves
// sockets out) fails the build, naming the object, and writes no bundle.
// Then --no-verify: the bundle is written without the apply run, with a
// warning that says so.
TEST(MakeKestroBundleRefusals, SelfCheckAndNoVerify) {
  REQUIRE_SANDBOX();
  REQUIRE_BUILDER();
  Sandbox sb;
  RunResult r = sb.run(
      std::string(SETUP) +
          "populate; fresh_new\n"
          "perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => \"/tmp/new/etc/app.sock\","
          " Listen => 1) or die'\n"
          "try socket -M /tftpboot/image/pos-1.0.img /tmp/new pos-1.1.img\n"
          "rm /tmp/new/etc/app.sock; echo b >/tmp/new/etc/a\n"
          "try noverify -M --no-verify /tftpboot/image/pos-1.0.img /tmp/new pos-1.1.img\n",
      600);
  ASSERT_EQ(0, r.status) << r;
  EXPECT_NE(std::string::npos, r.out.find("socket rc=1")) << r;
  EXPECT_NE(std::string::npos,
            outcome(sb, "socket")
                .find("EFatal error: The built image differs from the new tree: /etc/app.sock: "
                      "missing from the built image"))
      << outcome(sb, "socket");
  EXPECT_EQ(std::string::npos, r.out.find("socket BUNDLE")) << r;
  EXPECT_NE(std::string::npos, r.out.find("noverify rc=0")) << r;
  EXPECT_NE(std::string::npos, r.out.find("noverify BUNDLE /share/pos-1.1.img.tar")) << r;
  std::string out = outcome(sb, "noverify");
  EXPECT_NE(std::string::npos, out.find("WThe bundle was not verified with an apply run")) << out;
  EXPECT_EQ(std::string::npos, out.find("Verifying the bundle")) << out;
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  EXPECT_EQ("", sb.leaks());
}

// A build stopped by SIGTERM in the middle (the expected image mounted in
// the private root) ends with status 1 and the interruption message, and
// leaves no working directory, mount or loop device behind.
TEST(MakeKestroBundleRefusals, InterruptedBuildLeavesNothing) {
  REQUIRE_SANDBOX();
  REQUIRE_BUILDER();
  Sandbox sb;
  RunResult r = sb.run(std::string(SETUP) + R"SH(
populate; fresh_new; echo b >/tmp/new/etc/a
cd /share
"$MKB" -M /tftpboot/image/pos-1.0.img /tmp/new pos-1.1.img >/share/intr.out 2>&1 &
builder=$!
for i in $(seq 300); do
  grep -q 'Building the expected new image' /share/intr.out && break
  sleep 0.1
done
kill -TERM $builder; wait $builder; echo "intr rc=$?"
# The builder's namespaces end with it; the kernel frees their loop devices
# shortly after.
for i in $(seq 150); do losetup -a | grep -q makeKestroBundle || break; sleep 0.1; done
ls -d /var/tmp/makeKestroBundle.* /share/*.tar 2>/dev/null | sed 's/^/LEFTOVER /'
losetup -a | grep makeKestroBundle | sed 's/^/LEFTOVER loop /'
grep makeKestroBundle /proc/self/mountinfo | sed 's/^/LEFTOVER mount /'
)SH",
                       600);
  ASSERT_EQ(0, r.status) << r;
  EXPECT_NE(std::string::npos, r.out.find("intr rc=1")) << r;
  EXPECT_NE(std::string::npos,
            outcome(sb, "intr").find("EFatal error: The run was interrupted by signal 15."))
      << outcome(sb, "intr");
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  EXPECT_EQ("", sb.leaks());
}
