// makeKestroBundle on the real platform (loop-mounted ext2/ext3 images, tar,
// the checker, private roots): bundles for everyday changes and for objects
// changing kind there and back (trees in builder-*.txt), each applied by
// applyKestro to an image whose tree must equal the wanted one; the refusals
// (builder-refusals.tsv), none leaving a bundle or a working directory;
// --sign; --no-verify while the run lock is held; an interrupted build.  The
// builder's pure logic is unit-tested.
#include "root.h"

namespace {

// mk_tree DIR LIST WHERE: the tree of a builder-*.txt list.
// mk_image TREE IMAGE FSTYPE: a 16 MB image holding a copy of TREE.
// round OLD NEW [OPTIONS]: builds the bundle for /tmp/new, applies it and
// prints both statuses, the apply's totals, e2fsck's status and how the
// new image's tree differs from /tmp/new; then anything left behind.
const std::string HELPERS = R"SH(
MKB=$DM_BINARY_DIR/makeKestroBundle; mkdir -p /tftpboot/image /tmp/mnt; cd /share
mk_tree() {
  grep -v '^#' "$DM_SOURCE_DIR/tests/e2e/$2" | while IFS='|' read -r w t p o m a; do
    [ "$w" = b ] || [ "$w" = "$3" ] || continue
    f=$1/$p
    case $t in d) mkdir -p "$f" ;; f) echo "$a" >"$f" ;; l) ln -s "$a" "$f" ;; h) ln "$1/$a" "$f" ;;
      p) mkfifo "$f" ;; c) mknod "$f" c "${a%:*}" "${a#*:}" ;; esac
    [ -z "$o" ] || chown -h "$o" "$f"; [ -z "$m" ] || chmod "$m" "$f"
  done
}
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
const std::string ROUND = "build 0\napply 0\nTotal files in image: [1-9]*    Total errors: 0. \nfsck 0\n";

class MakeKestroBundle : public E2E {};

// Every kind of everyday change on an ext3 image, with the defaults taken
// from the old image.
TEST_F(MakeKestroBundle, EverydayChangesRoundTrip) {
  Outcome o = root.run(HELPERS + R"SH(
mk_tree /tmp/old builder-everyday.txt o; mk_tree /tmp/new builder-everyday.txt n
mk_image /tmp/old /tftpboot/image/pos-1.0 ext3; round /tftpboot/image/pos-1.0 pos-1.1
data pos-1.1.tar maintData; data pos-1.1.tar maint_cmd_bash1 >scripts; data pos-1.1.tar maint_cmd_bash2 >>scripts)SH");
  EXPECT_GLOB(ROUND + "oldImageName=pos-1.0\noldImageMD5=" + std::string(32, '?') +
                  "\nnewImageName=pos-1.1\nnewImageSize=16\nnewImageFStype=ext3\nnewImageInodes=512\n",
              o.out) << root.read("build.out");
  EXPECT_GLOB("*\nIThe built image equals the new tree.\n*\nIThe verifying apply run ended OK: [1-9]* objects, "
              "no violations.\n*", root.read("build.out"));
  // One command line for many objects: removals below a removed directory
  // left out; owners (of a link, not followed) before modes (never a link's).
  EXPECT_EQ(readFile(DM_SOURCE_DIR "/tests/e2e/builder-everyday-scripts.txt"), root.read("scripts"));
  EXPECT_EQ("", o.leaks);
}

// On gzipped images with the options given; then back to the old tree
// from the image the first apply made.
TEST_F(MakeKestroBundle, KindsChangeThereAndBack) {
  Outcome o = root.run(HELPERS + R"SH(
mk_tree /tmp/old builder-kinds.txt o; mk_tree /tmp/new builder-kinds.txt n
mk_image /tmp/old /tmp/pos.img ext2 && gzip -c /tmp/pos.img >/tftpboot/image/pos-2.0.gz
round /tftpboot/image/pos-2.0.gz pos-2.1.gz "--size 20 --inodes 600 --fstype ext3"
data pos-2.1.tar maintData | tail -n 3; stat -c %s /tmp/r.img; dumpe2fs -h /tmp/r.img 2>&1 | grep -c has_journal
rm -rf /tmp/new && cp -a /tmp/old /tmp/new
round /tftpboot/image/pos-2.1.gz pos-2.2.gz "-o /share/pos-2.2.tar")SH", 600);
  EXPECT_GLOB(ROUND + "newImageSize=20\nnewImageFStype=ext3\nnewImageInodes=600\n20971520\n1\n" + ROUND, o.out)
      << root.read("build.out");
  EXPECT_EQ("", o.leaks);
}

// --sign: the signature beside the bundle verifies with openssl, with the
// builder's verifying run, and with an apply run on a server whose keyring
// holds the public key.
TEST_F(MakeKestroBundle, SignedBundleVerifiesWithTheToolAndOpenssl) {
  Outcome o = root.run(HELPERS + R"SH(
mkdir -p /tmp/old/etc; echo a >/tmp/old/etc/a; mk_image /tmp/old /tftpboot/image/pos-1.0 ext2
cp -a /tmp/old /tmp/new; echo b >/tmp/new/etc/a
make_key ec signer; install -D -m 644 /tmp/keys/signer.pem /etc/maint/keys/server.pem; round /tftpboot/image/pos-1.0 pos-1.1 "--sign /tmp/keys/signer.key"
openssl dgst -sha256 -verify /tmp/keys/signer.pem -signature pos-1.1.tar.sig pos-1.1.tar
grep -c 'Signature /share/pos-1.1.tar.sig verified with key /etc/maint/keys/server.pem' /var/log/maint/kestro.log
grep -c "apply run found the bundle's signature good" /var/log/maint/makeKestroBundle.log)SH");
  EXPECT_GLOB(ROUND + "Verified OK\n1\n1\n", o.out) << root.read("build.out");
  EXPECT_EQ("", o.leaks);
}

struct Refusal {
  std::string name, setup, args, shows;
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

std::vector<Refusal> refusals() {
  std::vector<Refusal> rows;
  for (const std::string& line : lines(readFile(DM_SOURCE_DIR "/tests/e2e/builder-refusals.tsv"))) {
    size_t a = line.find('\t'), b = line.find('\t', a + 1), c = line.find('\t', b + 1);
    if (line[0] != '#') rows.push_back({line.substr(0, a), line.substr(a + 1, b - a - 1),
                                        line.substr(b + 1, c - b - 1), line.substr(c + 1)});
  }
  return rows;
}

class MakeKestroBundleRefusal : public E2E, public testing::WithParamInterface<Refusal> {};

// Status 1, the message on the console and in the log, a log closed by a
// delimiter, no bundle, no working directory.
TEST_P(MakeKestroBundleRefusal, Run) {
  const Refusal& r = GetParam();
  Outcome o = root.run(HELPERS + "mkdir -p /tmp/old/etc /tmp/new/etc; echo a >/tmp/old/etc/a\n"
                       "mk_image /tmp/old /tftpboot/image/pos-1.0 ext2 && cp -a /tmp/old/. /tmp/new\n" + r.setup +
                       "\nZOR_MTRACE= \"$MKB\" -M " + r.args + " >console 2>&1; echo $?\n"
                       "ls -d \"${TMPDIR:-/var/tmp}\"/makeKestroBundle.* *.tar /tmp/*.tar 2>/dev/null\n"
                       "cp /var/log/maint/makeKestroBundle.log log");
  EXPECT_EQ("1\n", o.out) << o;
  EXPECT_NE(std::string::npos, root.read("console").find(r.shows)) << root.read("console");
  std::string log = stamped(root.read("log"));
  EXPECT_GLOB("*T ->>main\n*T Starting build of a maintenance bundle.\n*T    ->>parseCommandLine\n*" + DELIM, log);
  if (r.shows[0] == 'E') {
    EXPECT_NE(std::string::npos, log.find("T " + r.shows.substr(1))) << log;
  }
  EXPECT_EQ("", o.leaks);
}

INSTANTIATE_TEST_SUITE_P(Inputs, MakeKestroBundleRefusal, testing::ValuesIn(refusals()),
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
