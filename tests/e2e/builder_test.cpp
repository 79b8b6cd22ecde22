// makeKestroBundle on the real platform (loop-mounted ext2/ext3 images, tar,
// the checker, private roots): bundles for everyday changes and for objects
// changing kind there and back, each applied by applyKestro to an image whose
// tree must equal the wanted one; the refusals, one row each, none leaving a
// bundle or a working directory; --no-verify while the run lock is held; an
// interrupted build.  The builder's pure logic is unit-tested.
#include "root.h"

namespace {

// mk_image TREE IMAGE FSTYPE: a 16 MB image holding a copy of TREE.
// round OLD NEW [OPTIONS]: builds the bundle for /tmp/new, applies it and
// prints both statuses, the apply's totals, e2fsck's status and how the
// new image's tree differs from /tmp/new; then anything left behind.
const std::string HELPERS = R"SH(
MKB=$DM_BINARY_DIR/makeKestroBundle; mkdir -p /tftpboot/image /tmp/mnt; cd /share
mk_image() {
  dd if=/dev/zero of="$2" bs=1M count=16 status=none && mke2fs -q -N 512 -F "$2" &&
    { [ "$3" = ext2 ] || tune2fs -j "$2" >/dev/null; } &&
    mount -o loop "$2" /tmp/mnt && cp -a "$1"/. /tmp/mnt && umount /tmp/mnt
}
round() {
  "$MKB" -M ${3:-} "$1" /tmp/new "$2" >/share/build.out 2>&1; echo "build $?"
  "$TOOL" -M "${2%.gz}.tar" >/share/apply.out 2>&1; echo "apply $?"; grep -o 'Total files.*' /share/apply.out
  img=/tftpboot/image/$2; [ "${img%.gz}" = "$img" ] || { gunzip -c "$img" >/tmp/r.img; img=/tmp/r.img; }
  e2fsck -fn "$img" >/dev/null 2>&1; echo "fsck $?"
  mount -r -o loop "$img" /tmp/mnt && diff <(listing /tmp/new | sort) <(listing /tmp/mnt | sort); umount /tmp/mnt
  ls -d /var/tmp/makeKestroBundle.* /tftpboot/image/zor_image 2>/dev/null
}
data() { tar -xOf "$1" control.tar.bz2 | tar -xjO "$2"; }
)SH";
const char* const ROUND = "build 0\napply 0\nTotal files in image: [1-9]*    Total errors: 0. \nfsck 0\n";

class MakeKestroBundle : public E2E {};

// Files, directories, owners without names, set-id bits, links, blanks and
// hidden entries at the top and below: every kind of everyday change on an
// ext3 image, with the defaults taken from the old image.
TEST_F(MakeKestroBundle, EverydayChangesRoundTrip) {
  Outcome o = root.run(HELPERS + R"SH(
mkdir -p /tmp/old && cd /tmp/old && mkdir -p etc usr/bin usr/lib/app/legacy var/spool "data dir" home/pos
echo hosts >etc/hosts; ln -s hosts etc/hosts.link; echo conf1 >etc/app.conf; echo motd >etc/motd
echo secret >etc/secret; chmod 600 etc/secret; echo bin >usr/bin/tool; echo old >usr/bin/gone
echo suid >usr/bin/suidtool; chmod 4755 usr/bin/suidtool; echo a >usr/lib/app/legacy/a
echo lib1 >usr/lib/app/lib.so.1; ln -s lib.so.1 usr/lib/app/lib.so; echo q >var/spool/job
chown 500:100 var/spool/job; echo one >"data dir/file one"; echo p >home/pos/.profile
chown -R 500:100 home/pos; chmod 700 home/pos; echo hidden >.hidden_top
mk_image /tmp/old /tftpboot/image/pos-1.0 ext3
cp -a /tmp/old /tmp/new && cd /tmp/new
echo conf2 >etc/app.conf; chown 1234 etc/motd; chmod 640 etc/secret; chown 1:1 var/spool/job
rm usr/bin/gone; rm -r usr/lib/app/legacy; mkdir usr/lib/app/plugins; echo r >usr/lib/app/plugins/x.so
echo i >usr/lib/app/plugins/.index; chown -R 1234:4321 usr/lib/app/plugins; chmod 2775 usr/lib/app/plugins
echo lib2 >usr/lib/app/lib.so.2; ln -sfn lib.so.2 usr/lib/app/lib.so; echo other >usr/lib/app/lib.so.1
chown -h 500:100 etc/hosts.link; echo n >usr/bin/newsuid; chmod 4711 usr/bin/newsuid
echo suid2 >usr/bin/suidtool; chmod 2755 usr/bin/tool; echo changed >"data dir/file one"
mkdir "new dir"; echo x >"new dir/in it"; mkdir .newhidden; echo h >.newhidden/f; echo d >usr/lib/app/.cfg
chmod 750 /tmp/new; cd /share
round /tftpboot/image/pos-1.0 pos-1.1
data pos-1.1.tar maintData; data pos-1.1.tar maint_cmd_bash2 >bash2)SH");
  EXPECT_GLOB(std::string(ROUND) + "oldImageName=pos-1.0\noldImageMD5=" + std::string(32, '?') +
                  "\nnewImageName=pos-1.1\nnewImageSize=16\nnewImageFStype=ext3\nnewImageInodes=512\n",
              o.out) << root.read("build.out");
  EXPECT_GLOB("*\nIThe built image equals the new tree.\n*\nIThe verifying apply run ended OK: [1-9]* objects, "
              "no violations.\n*", root.read("build.out"));
  // Owners and modes are set on links without following them; a link's mode is never set.
  EXPECT_GLOB("*\nchown -h 500:100 -- './etc/hosts.link'\n*", root.read("bash2"));
  EXPECT_EQ(std::string::npos, root.read("bash2").find("chmod 0777 -- './etc/hosts.link'"));
  EXPECT_EQ("", o.leaks);
}

// Objects changing kind, hard-link groups forming and splitting, devices and
// fifos on gzipped images with the options given; then back to the old tree
// from the image the first apply made.
TEST_F(MakeKestroBundle, KindsChangeThereAndBack) {
  Outcome o = root.run(HELPERS + R"SH(
mkdir -p /tmp/old && cd /tmp/old && mkdir -p d2f/sub dev run lib
echo f >f2d; echo in >d2f/sub/file; echo shared >lib/a; ln lib/a lib/a.link; echo solo >lib/solo
echo pair >lib/c; ln lib/c lib/c2; mknod dev/ttyX c 4 64; mknod dev/null c 1 3; mkfifo run/pipe
ln -s lib/solo sym2file; echo plain >file2sym
mk_image /tmp/old /tmp/pos.img ext2 && gzip -c /tmp/pos.img >/tftpboot/image/pos-2.0.gz
cp -a /tmp/old /tmp/new && cd /tmp/new
rm f2d; mkdir f2d; echo now >f2d/inside; chown 500:100 f2d; rm -r d2f; echo was-a-dir >d2f
rm lib/a.link; cp -p lib/a lib/a.link; ln lib/solo lib/solo.hard; echo pair2 >lib/c
rm dev/ttyX; mknod dev/ttyX c 4 65; mkfifo run/pipe2; rm sym2file; echo file >sym2file
rm file2sym; ln -s lib/c file2sym; cd /share
round /tftpboot/image/pos-2.0.gz pos-2.1.gz "--size 20 --inodes 600 --fstype ext3"
data pos-2.1.tar maintData | tail -n 3; stat -c %s /tmp/r.img; dumpe2fs -h /tmp/r.img 2>&1 | grep -c has_journal
rm -rf /tmp/new && cp -a /tmp/old /tmp/new
round /tftpboot/image/pos-2.1.gz pos-2.2.gz "-o /share/pos-2.2.tar")SH", 600);
  EXPECT_GLOB(std::string(ROUND) + "newImageSize=20\nnewImageFStype=ext3\nnewImageInodes=600\n20971520\n1\n" +
                  ROUND, o.out) << root.read("build.out");
  EXPECT_EQ("", o.leaks);
}

struct Refusal {
  const char* name;
  const char* setup;  // then the wanted tree is /tmp/new
  const char* args;   // after -M
  const char* shows;  // in the console
};

#define OLD " /tftpboot/image/pos-1.0 "
#define NAMED(name, where) "EFatal error: The name \"/etc/" name "\" in the " where " cannot be written safely"
const Refusal REFUSALS[] = {
    {"NoNames", "", "", "EGive the old image, the new tree and the new image name.\n  \n"
     "Iusage: makeKestroBundle [-M] [-o BUNDLE.tar] [--size MB] [--inodes N]\n"},
    {"Help", "", "--help", "Iusage: makeKestroBundle [-M]"},
    {"Option", "", "--frobnicate" OLD "/tmp/new x.img", "EInvalid option: --frobnicate\n"},
    {"OptionWithoutValue", "", OLD "/tmp/new x.img -o", "EOption -o needs a value.\n"},
    {"Fstype", "", "--fstype ext4" OLD "/tmp/new x.img", "EInvalid filesystem type: ext4\n"},
    {"Size", "", "--size 0" OLD "/tmp/new x.img", "EInvalid size: 0\n"},
    {"Inodes", "", "--inodes 1k" OLD "/tmp/new x.img", "EInvalid inode count: 1k\n"},
    {"NoOldImage", "", "/tftpboot/image/none.img /tmp/new x.img",
     "EFatal error: Old image /tftpboot/image/none.img does not exist or is not a regular file."},
    {"OldImageNoFilesystem", "head -c 2M /dev/zero >/tftpboot/image/zero.img",
     "/tftpboot/image/zero.img /tmp/new x.img",
     "EFatal error: Old image /tftpboot/image/zero.img is not an ext2 or ext3 filesystem image."},
    {"NoTree", "", OLD "/tmp/none x.img", "EFatal error: New tree /tmp/none is not a directory."},
    {"GzOnlyInTheNewName", "", OLD "/tmp/new x.img.gz",
     "EFatal error: The new image name x.img.gz must hold \".gz\" exactly when the old image is gzipped."},
    {"NameWithASlash", "", OLD "/tmp/new a/x.img", "EFatal error: The new image name \"a/x.img\" must be"},
    {"NoOutputDirectory", "", "-o /none/b.tar" OLD "/tmp/new x.img",
     "EFatal error: There is no directory for the bundle /none/b.tar."},
    {"Newline", "echo >/tmp/new/etc/$'a\\nb'", OLD "/tmp/new x.img", NAMED("a\\012b", "new tree")},
    {"Quote", "echo >\"/tmp/new/etc/it's\"", OLD "/tmp/new x.img", NAMED("it's", "new tree")},
    {"DoubleQuote", "echo >'/tmp/new/etc/a\"b'", OLD "/tmp/new x.img", NAMED("a\"b", "new tree")},
    {"Backslash", "echo >'/tmp/new/etc/a\\b'", OLD "/tmp/new x.img", NAMED("a\\134b", "new tree")},
    {"Backquote", "echo >'/tmp/new/etc/`id`'", OLD "/tmp/new x.img", NAMED("`id`", "new tree")},
    {"Tab", "echo >/tmp/new/etc/$'a\\tb'", OLD "/tmp/new x.img", NAMED("a\\011b", "new tree")},
    {"NonAscii", "echo >/tmp/new/etc/$'caf\\xc3\\xa9'", OLD "/tmp/new x.img", NAMED("caf\\303\\251", "new tree")},
    {"TrailingBlank", "echo >'/tmp/new/etc/a '", OLD "/tmp/new x.img", NAMED("a ", "new tree")},
    {"InTheOldImage", "cp /tftpboot/image/pos-1.0 /tmp/b.img && mount -o loop /tmp/b.img /tmp/mnt && "
     "echo >/tmp/mnt/etc/$'a\\nb'; umount /tmp/mnt", "/tmp/b.img /tmp/new x.img", NAMED("a\\012b", "old image")},
    // tar leaves sockets out of the payload: the built image is checked.
    {"PayloadCannotCarry", "perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => \"/tmp/new/etc/s\", "
     "Listen => 1) or die'", OLD "/tmp/new x.img",
     "EFatal error: The built image differs from the new tree: /etc/s: missing from the built image"},
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class MakeKestroBundleRefusal : public E2E, public testing::WithParamInterface<Refusal> {};

// Status 1, the message, a log closed by a delimiter, no bundle, no
// working directory.
TEST_P(MakeKestroBundleRefusal, Run) {
  const Refusal& r = GetParam();
  Outcome o = root.run(HELPERS + "mkdir -p /tmp/old/etc /tmp/new/etc; echo a >/tmp/old/etc/a\n"
                       "mk_image /tmp/old /tftpboot/image/pos-1.0 ext2 && cp -a /tmp/old/. /tmp/new\n" +
                       r.setup + "\nZOR_MTRACE= \"$MKB\" -M " + r.args + " >console 2>&1; echo $?\n"
                       "ls -d /var/tmp/makeKestroBundle.* *.tar /tmp/*.tar 2>/dev/null\n"
                       "cp /var/log/maint/makeKestroBundle.log log",
                       r.name == std::string("PayloadCannotCarry") ? 300 : 60);
  EXPECT_EQ("1\n", o.out) << o;
  EXPECT_NE(std::string::npos, root.read("console").find(r.shows)) << root.read("console");
  std::string log = stamped(root.read("log")), shown = r.shows;
  EXPECT_GLOB("*T ->>main\n*T Starting build of a maintenance bundle.\n*T    ->>parseCommandLine\n*" + DELIM, log);
  if (shown[0] == 'E') {
    EXPECT_NE(std::string::npos, log.find("T " + shown.substr(1, shown.find('\n') - 1))) << log;
  }
  EXPECT_EQ("", o.leaks);
}

INSTANTIATE_TEST_SUITE_P(Inputs, MakeKestroBundleRefusal, testing::ValuesIn(REFUSALS),
                         [](const testing::TestParamInfo<Refusal>& i) { return i.param.name; });

// --no-verify: the bundle is written without the apply run, with a warning;
// the build holds the run lock throughout, so an apply run started
// meanwhile waits for it.  A build stopped by SIGTERM ends with status 1
// and leaves nothing behind.
TEST_F(MakeKestroBundle, NoVerifyHoldsTheLockAndAnInterruptedBuildLeavesNothing) {
  Outcome o = root.run(HELPERS + R"SH(
mkdir -p /tmp/old/etc; echo a >/tmp/old/etc/a; mk_image /tmp/old /tftpboot/image/pos-1.0 ext2
cp -a /tmp/old /tmp/new; echo b >/tmp/new/etc/a
"$MKB" -M --no-verify /tftpboot/image/pos-1.0 /tmp/new pos-1.1 >build.out 2>&1 & builder=$!
wait_for grep -q 'Comparing the old image' build.out
"$TOOL" -M nothing.tar >apply.out 2>&1 & applier=$!
wait_for grep -q Waiting apply.out; kill -0 $builder && echo "waits for the build"
wait $builder; echo "build $?"; wait $applier; echo "apply $?"; ls *.tar
"$MKB" -M /tftpboot/image/pos-1.0 /tmp/new pos-1.2 >intr.out 2>&1 & builder=$!
wait_for grep -q 'Building the expected new image' intr.out; kill -TERM $builder; wait $builder; echo "intr $?"
wait_for sh -c '! losetup -a | grep -q makeKestroBundle'
ls -d /var/tmp/makeKestroBundle.* pos-1.2.tar 2>/dev/null; grep makeKestroBundle /proc/self/mountinfo)SH");
  EXPECT_EQ("waits for the build\nbuild 0\napply 1\npos-1.1.tar\nintr 1\n", o.out) << o;
  EXPECT_GLOB("*\nWThe bundle was not verified with an apply run (--no-verify).\n*", root.read("build.out"));
  EXPECT_EQ(std::string::npos, root.read("build.out").find("Verifying"));
  EXPECT_GLOB("Waiting for the delta maintenance lock file to be released.\n*nothing.tar does not exist.\n*",
              root.read("apply.out"));
  EXPECT_GLOB("*\nEFatal error: The run was interrupted by signal 15.*", root.read("intr.out"));
  EXPECT_EQ("", o.leaks);
}

}  // namespace
