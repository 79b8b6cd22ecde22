// End-to-end tests of makeKestroBundle: bundles built for real pairs of
// trees (real ext2/ext3 images, the real checker, tar and loop mounts) and
// applied with applyKestro in the sandbox, each apply ending with 0
// violations and a new image whose tree equals the wanted one apart from
// lost+found.  Also: names a maintenance script cannot hold are refused,
// and the command line's errors and usage text.
#include <string>

#include "root.h"

namespace {

// Shell functions of the scripts below.
//   mk_image TREE IMAGE FSTYPE: a 16 MB image holding a copy of TREE.
//   apply_and_list BUNDLE IMAGE: applyKestro on the bundle, then the
//     listing of the image it made (gunzipped when needed) in /tmp/result.
const char* const HELPERS = R"SH(
set -u
MKB=$DM_BINARY_DIR/makeKestroBundle
mkdir -p /tftpboot/image
mk_image() {
  dd if=/dev/zero of="$2" bs=1M count=16 status=none
  mke2fs -q -N 512 -F "$2"
  if [ "$3" = ext3 ]; then tune2fs -j "$2" >/dev/null; fi
  mkdir -p /tmp/mk_mnt
  mount -o loop "$2" /tmp/mk_mnt && cp -a "$1"/. /tmp/mk_mnt/ && umount /tmp/mk_mnt
}
apply_and_list() {
  ( cd /share && "$TOOL" -M "$1" >/share/apply.out 2>&1 ); echo "apply rc=$?"
  cat /share/apply.out
  local image=/tftpboot/image/$2
  if [ "${image%.gz}" != "$image" ]; then
    gunzip -c "$image" >/tmp/result.img; image=/tmp/result.img
  fi
  e2fsck -fn "$image" >/dev/null 2>&1; echo "e2fsck rc=$?"
  mkdir -p /tmp/result
  mount -o loop,ro "$image" /tmp/result && listing /tmp/result >/share/result.list
  umount /tmp/result
}
leftovers() {
  ls -d /var/tmp/makeKestroBundle.* /tftpboot/image/zor_image 2>/dev/null | sed 's/^/LEFTOVER /'
  grep -E ' /(tftpboot|var/tmp/makeKestroBundle)' /proc/self/mountinfo | sed 's/^/LEFTOVER mount /'
}
)SH";

// Checks one build-and-apply: both commands end well, the apply reports
// no violation and the new image's tree is the wanted one.
void expectApplied(Root& root, const Outcome& r, const std::string& tag) {
  EXPECT_EQ(0, r.status) << tag << "\n" << r;
  EXPECT_NE(std::string::npos, r.out.find("build rc=0")) << tag << "\n" << r;
  EXPECT_NE(std::string::npos, r.out.find("IThe built image equals the new tree.")) << r;
  EXPECT_NE(std::string::npos, r.out.find("IThe verifying apply run ended OK")) << r;
  EXPECT_NE(std::string::npos, r.out.find("apply rc=0")) << tag << "\n" << r;
  EXPECT_NE(std::string::npos, r.out.find("Total errors: 0.")) << tag << "\n" << r;
  EXPECT_EQ(std::string::npos, r.out.find("Total files in image: 0 ")) << r;
  EXPECT_NE(std::string::npos, r.out.find("e2fsck rc=0")) << tag << "\n" << r;
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  std::string wanted = root.read(tag + ".wanted");
  EXPECT_FALSE(wanted.empty());
  EXPECT_EQ(wanted, root.read(tag + ".result")) << tag << ": the applied image differs";
  EXPECT_EQ("", r.leaks);
}

// Runs the build of /tmp/new against OLD, then the apply, keeping both
// listings as TAG.wanted and TAG.result in the share.
std::string buildApplyStep(const std::string& tag, const std::string& oldImage,
                           const std::string& newName, const std::string& options = "") {
  return "( cd /share && $MKB -M " + options + " " + oldImage + " /tmp/new " + newName +
         " ); echo \"build rc=$?\"\n"
         "listing /tmp/new >/share/" +
         tag +
         ".wanted\n"
         "apply_and_list " +
         (newName.size() > 3 && newName.compare(newName.size() - 3, 3, ".gz") == 0
              ? newName.substr(0, newName.size() - 3)
              : newName) +
         ".tar " + newName +
         "\n"
         "cp /share/result.list /share/" +
         tag +
         ".result\n"
         "leftovers\n";
}

// The everyday old tree: files, directories, owners without names, a
// setuid program, a symbolic link, a name with blanks, hidden entries.
const char* const EVERYDAY_OLD = R"SH(
mkdir -p /tmp/old && cd /tmp/old
mkdir -p etc usr/bin usr/lib/app/legacy var/spool "data dir" home/pos
echo hosts >etc/hosts; ln -s hosts etc/hosts.link; echo conf1 >etc/app.conf; echo motd >etc/motd
echo secret >etc/secret; chmod 600 etc/secret
echo bin >usr/bin/tool; chmod 755 usr/bin/tool
echo suid >usr/bin/suidtool; chmod 4755 usr/bin/suidtool
echo old >usr/bin/gone
echo a >usr/lib/app/legacy/a; echo b >usr/lib/app/legacy/b
echo lib1 >usr/lib/app/lib.so.1; ln -s lib.so.1 usr/lib/app/lib.so
echo q >var/spool/job; chown 500:100 var/spool/job
echo 'one' >"data dir/file one"
echo p >home/pos/.profile; chown -R 500:100 home/pos; chmod 700 home/pos
echo hidden >.hidden_top
)SH";

// The wanted tree: every kind of everyday change.
const char* const EVERYDAY_NEW = R"SH(
cp -a /tmp/old /tmp/new && cd /tmp/new
echo conf2 >etc/app.conf
chown 1234 etc/motd
chmod 640 etc/secret
chown 1:1 var/spool/job
rm usr/bin/gone
rm -r usr/lib/app/legacy
mkdir usr/lib/app/plugins; echo r >usr/lib/app/plugins/report.so
echo i >usr/lib/app/plugins/.index; chown -R 1234:4321 usr/lib/app/plugins
chmod 2775 usr/lib/app/plugins; chmod 640 usr/lib/app/plugins/report.so
echo lib2 >usr/lib/app/lib.so.2; ln -sfn lib.so.2 usr/lib/app/lib.so
echo other >usr/lib/app/lib.so.1
chown -h 500:100 etc/hosts.link
echo newsuid >usr/bin/newsuid; chmod 4711 usr/bin/newsuid
echo suid2 >usr/bin/suidtool
chmod 2755 usr/bin/tool
echo 'one, changed' >"data dir/file one"
echo two >"data dir/new file"
mkdir "new dir with blanks"; echo x >"new dir with blanks/in it"
mkdir .newhidden; echo h >.newhidden/file; echo deep >usr/lib/app/.cfg
chmod 750 /tmp/new
)SH";

// A tree of kinds: objects that change kind, hard-link groups that form
// and split, devices, fifos.
const char* const KINDS_OLD = R"SH(
mkdir -p /tmp/old && cd /tmp/old
mkdir -p d2f/sub dev run lib
echo f >f2d
echo in >d2f/sub/file; echo in2 >d2f/x
echo shared >lib/a; ln lib/a lib/a.link
echo solo >lib/solo
echo pair >lib/c; ln lib/c lib/c2
mknod dev/ttyX c 4 64; mknod dev/null c 1 3; chmod 666 dev/null
mkfifo run/pipe
ln -s lib/solo sym2file
echo plain >file2sym
)SH";

const char* const KINDS_NEW = R"SH(
cp -a /tmp/old /tmp/new && cd /tmp/new
rm f2d; mkdir f2d; echo now >f2d/inside; chown 500:100 f2d
rm -r d2f; echo was-a-dir >d2f
rm lib/a.link; cp -p lib/a lib/a.link
ln lib/solo lib/solo.hard
echo pair2 >lib/c
rm dev/ttyX; mknod dev/ttyX c 4 65
mkfifo run/pipe2; chmod 600 run/pipe2
rm sym2file; echo now-a-file >sym2file
rm file2sym; ln -s lib/c file2sym
)SH";

}  // namespace

// Builder runs: each test has a root of its own (no rpm stand-in unless it
// applies a bundle).
class MakeKestroBundle : public E2E {};
class MakeKestroBundleRefusals : public E2E {
 protected:
  void SetUp() override {
    E2E::SetUp();
    root.rpm = "none";
  }
};

// Everyday changes on an ext3 image: the bundle applies with no violation
// and the new image's tree is the wanted one, owners, modes, set-id bits,
// links and hidden entries included.
TEST_F(MakeKestroBundle, EverydayChangesApplyCleanly) {
  std::string script =
      std::string(HELPERS) + EVERYDAY_OLD +
      "mk_image /tmp/old /tftpboot/image/pos-1.0-20260101.img ext3\n" + EVERYDAY_NEW +
      buildApplyStep("everyday", "/tftpboot/image/pos-1.0-20260101.img", "pos-1.1-20260201.img") +
      "tar -xOf /share/pos-1.1-20260201.img.tar control.tar.bz2 |"
      " tar -xjO maint_cmd_bash2 >/share/bash2\n";
  Outcome r = root.run(script, 600);
  expectApplied(root, r, "everyday");
  // The hidden top-level entry the apply copy drops is carried again.
  EXPECT_NE(std::string::npos, root.read("everyday.result").find("./.hidden_top|")) << r;
  EXPECT_NE(std::string::npos, root.read("everyday.result").find("./usr/bin/newsuid|0:0 4711"));
  // The fix script sets the wanted values, never follows a link and never
  // changes a link's mode.
  std::string bash2 = root.read("bash2");
  EXPECT_NE(std::string::npos, bash2.find("chown -h 500:100 -- './etc/hosts.link'\n")) << bash2;
  EXPECT_EQ(std::string::npos, bash2.find("chmod 0777 -- './etc/hosts.link'")) << bash2;
  EXPECT_NE(std::string::npos, bash2.find("chown -h 1234:0 -- './etc/motd'\n")) << bash2;
  EXPECT_NE(std::string::npos, bash2.find("chmod 0640 -- './etc/secret'\n")) << bash2;
}

// Kinds of objects that change, on gzipped ext2 images, there and back:
// the second bundle starts from the image the first apply made and brings
// back the old tree (the file that became a directory becomes a file
// again, the split hard links join again).
TEST_F(MakeKestroBundle, KindsChangeThereAndBack) {
  std::string script =
      std::string(HELPERS) + KINDS_OLD +
      "mk_image /tmp/old /tmp/pos.img ext2 && gzip -c /tmp/pos.img >/tftpboot/image/pos-2.0.gz\n" +
      KINDS_NEW +
      buildApplyStep("there", "/tftpboot/image/pos-2.0.gz", "pos-2.1.gz",
                     "--size 20 --inodes 600 --fstype ext3") +
      "tar -xOf /share/pos-2.1.tar control.tar.bz2 | tar -xjO maintData >/share/there.data\n"
      "echo \"there size=$(stat -c %s /tmp/result.img)"
      " journal=$(dumpe2fs -h /tmp/result.img 2>/dev/null | grep -c has_journal)\"\n" +
      "rm -rf /tmp/new && cp -a /tmp/old /tmp/new\n" +
      buildApplyStep("back", "/tftpboot/image/pos-2.1.gz", "pos-2.2.gz", "-o /share/pos-2.2.tar");
  Outcome r = root.run(script, 900);
  expectApplied(root, r, "there");
  expectApplied(root, r, "back");
  EXPECT_NE(std::string::npos, root.read("there.result").find("group ./lib/solo|./lib/solo.hard"))
      << root.read("there.result");
  EXPECT_NE(std::string::npos, root.read("back.result").find("group ./lib/a|./lib/a.link"));
  // The options reach maintData and the image the apply run makes; the
  // defaults come from the old image.
  std::string data = root.read("there.data");
  EXPECT_NE(std::string::npos, data.find("oldImageName=pos-2.0.gz\n")) << data;
  EXPECT_NE(std::string::npos, data.find("newImageName=pos-2.1.gz\n")) << data;
  EXPECT_NE(std::string::npos, data.find("newImageSize=20\n")) << data;
  EXPECT_NE(std::string::npos, data.find("newImageInodes=600\n")) << data;
  EXPECT_NE(std::string::npos, data.find("newImageFStype=ext3\n")) << data;
  EXPECT_NE(std::string::npos, r.out.find("there size=20971520 journal=1")) << r;
}

// The builder holds the run lock for its whole run: an apply run started
// meanwhile says it waits and goes on only after the build has ended.
TEST_F(MakeKestroBundle, HoldsTheRunLock) {
  std::string script = std::string(HELPERS) + EVERYDAY_OLD +
                       "mk_image /tmp/old /tftpboot/image/pos-1.0.img ext2\n" + EVERYDAY_NEW +
                       R"SH(
cd /share
$MKB -M --no-verify /tftpboot/image/pos-1.0.img /tmp/new pos-1.1.img >/share/build.out 2>&1 &
builder=$!
for i in $(seq 300); do
  grep -q 'Comparing the old image' /var/log/maint/makeKestroBundle.log 2>/dev/null && break
  sleep 0.1
done
"$TOOL" -M nothing.tar >/share/apply.out 2>&1 &
applier=$!
for i in $(seq 300); do
  grep -q 'Waiting for the delta maintenance lock' /share/apply.out && break
  sleep 0.1
done
if kill -0 $builder 2>/dev/null; then echo "builder still running while apply waits"; fi
wait $builder; echo "build rc=$?"
wait $applier; echo "apply rc=$?"
)SH";
  Outcome r = root.run(script, 600);
  ASSERT_EQ(0, r.status) << r;
  EXPECT_NE(std::string::npos, r.out.find("builder still running while apply waits")) << r;
  EXPECT_NE(std::string::npos, r.out.find("build rc=0")) << r;
  // Once the builder is done, the apply run goes on to its own ending.
  EXPECT_NE(std::string::npos, r.out.find("apply rc=1")) << r;
  std::string apply = root.read("apply.out");
  EXPECT_NE(std::string::npos,
            apply.find("Waiting for the delta maintenance lock file to be released."))
      << apply;
  EXPECT_NE(std::string::npos, apply.find("nothing.tar does not exist")) << apply;
}

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

std::string outcome(Root& root, const std::string& tag) { return root.read(tag + ".out"); }

}  // namespace

// Each hostile name in the wanted tree stops the build before anything is
// written; the message names the object in a printable form.
TEST_F(MakeKestroBundleRefusals, HostileNamesInTheNewTree) {
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
  Outcome r = root.run(script, 600);
  ASSERT_EQ(0, r.status) << r;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    EXPECT_NE(std::string::npos, r.out.find(std::string(c.tag) + " rc=1")) << r;
    std::string out = outcome(root, c.tag);
    EXPECT_NE(std::string::npos,
              out.find(std::string("EFatal error: The name \"") + c.shown +
                       "\" in the new tree cannot be written safely into a maintenance script"))
        << out;
  }
  EXPECT_EQ(std::string::npos, r.out.find("BUNDLE")) << r;
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  EXPECT_EQ("", r.leaks);
}

// A hostile name that exists only in the old image would have to be
// removed by the first script: refused too, after the old image is read.
TEST_F(MakeKestroBundleRefusals, HostileNameInTheOldImage) {
  Outcome r = root.run(std::string(SETUP) +
                           "fresh_new; echo x >/tmp/old/etc/$'two\\nlines'; populate\n"
                           "try oldname -M /tftpboot/image/pos-1.0.img /tmp/new pos-1.1.img\n",
                       600);
  ASSERT_EQ(0, r.status) << r;
  EXPECT_NE(std::string::npos, r.out.find("oldname rc=1")) << r;
  EXPECT_NE(std::string::npos,
            outcome(root, "oldname")
                .find("EFatal error: The name \"/etc/two\\012lines\" in the old image cannot be "
                      "written safely"))
      << outcome(root, "oldname");
  EXPECT_EQ(std::string::npos, r.out.find("BUNDLE")) << r;
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  EXPECT_EQ("", r.leaks);
}

// Command lines it cannot use: the usage text, or a message naming the
// input; status 1 and a log with the run's records in every case.
TEST_F(MakeKestroBundleRefusals, CommandLineErrors) {
  Outcome r =
      root.run(std::string(SETUP) +
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
  EXPECT_NE(std::string::npos, outcome(root, "none").find(usage)) << outcome(root, "none");
  EXPECT_NE(std::string::npos, outcome(root, "none").find("EGive the old image, the new tree"));
  EXPECT_NE(std::string::npos, outcome(root, "help").find("usage: makeKestroBundle"));
  EXPECT_NE(std::string::npos, outcome(root, "badopt").find("EInvalid option: --frobnicate"));
  EXPECT_NE(std::string::npos, outcome(root, "fstype").find("EInvalid filesystem type: ext4"));
  EXPECT_NE(std::string::npos, outcome(root, "size").find("EInvalid size: 0"));
  EXPECT_NE(std::string::npos, outcome(root, "noold")
                                   .find("EFatal error: Old image /tftpboot/image/missing.img does "
                                         "not exist"));
  EXPECT_NE(std::string::npos,
            outcome(root, "notree").find("EFatal error: New tree /tmp/nothere is not a directory"));
  EXPECT_NE(std::string::npos, outcome(root, "gz").find("must hold \".gz\" exactly when"));
  EXPECT_NE(std::string::npos, outcome(root, "slash").find("EFatal error: The new image name"));
  EXPECT_EQ(std::string::npos, r.out.find("BUNDLE")) << r;
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  // The log: the runs' records, each run closed by a delimiter, and the
  // traced run's scopes.
  std::string log = root.read("log");
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
TEST_F(MakeKestroBundleRefusals, SelfCheckAndNoVerify) {
  Outcome r = root.run(
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
            outcome(root, "socket")
                .find("EFatal error: The built image differs from the new tree: /etc/app.sock: "
                      "missing from the built image"))
      << outcome(root, "socket");
  EXPECT_EQ(std::string::npos, r.out.find("socket BUNDLE")) << r;
  EXPECT_NE(std::string::npos, r.out.find("noverify rc=0")) << r;
  EXPECT_NE(std::string::npos, r.out.find("noverify BUNDLE /share/pos-1.1.img.tar")) << r;
  std::string out = outcome(root, "noverify");
  EXPECT_NE(std::string::npos, out.find("WThe bundle was not verified with an apply run")) << out;
  EXPECT_EQ(std::string::npos, out.find("Verifying the bundle")) << out;
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  EXPECT_EQ("", r.leaks);
}

// A build stopped by SIGTERM in the middle (the expected image mounted in
// the private root) ends with status 1 and the interruption message, and
// leaves no working directory, mount or loop device behind.
TEST_F(MakeKestroBundleRefusals, InterruptedBuildLeavesNothing) {
  Outcome r = root.run(std::string(SETUP) + R"SH(
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
            outcome(root, "intr").find("EFatal error: The run was interrupted by signal 15."))
      << outcome(root, "intr");
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  EXPECT_EQ("", r.leaks);
}
