// End-to-end tests of makeKestroBundle: bundles built for real pairs of
// trees (real ext2/ext3 images, the real checker, tar and loop mounts) and
// applied with applyKestro in the sandbox, each apply ending with 0
// violations and a new image whose tree equals the wanted one apart from
// lost+found.  Also: names a maintenance script cannot hold are refused,
// and the command line's errors and usage text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "make_bundle_support.h"
#include "sandbox.h"

namespace {

// Shell functions of the scripts below.
//   mk_image TREE IMAGE FSTYPE: a 16 MB image holding a copy of TREE.
//   listing ROOT: one line per object (path, owner, mode, kind, content
//     checksum and link count, link target or device numbers), then one
//     line per hard-link group; the top-level lost+found is left out.
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
listing() {
  ( cd "$1" || exit 1
    find . -path ./lost+found -prune -o -print0 | sort -z |
    while IFS= read -r -d '' p; do
      kind=$(stat -c %F -- "$p")
      line="$p|$(stat -c '%u:%g %a' -- "$p")|$kind"
      case $kind in
        regular*) line="$line|$(md5sum <"$p" | cut -d' ' -f1)|$(stat -c %h -- "$p")" ;;
        symbolic*) line="$line|$(readlink -- "$p")" ;;
        *special*) line="$line|$(stat -c '%t:%T' -- "$p")" ;;
      esac
      printf '%s\n' "$line"
    done
    find . -path ./lost+found -prune -o -type f -links +1 -printf '%i %p\n' | sort |
      awk '{ i = $1; p = substr($0, index($0, " ") + 1)
             if (i == prev) g = g "|" p; else { if (g != "") print "group " g; g = p }
             prev = i }
           END { if (g != "") print "group " g }' | sort )
}
apply_and_list() {
  ( cd /share && "$DM_APPLYKESTRO" -M "$1" >/share/apply.out 2>&1 ); echo "apply rc=$?"
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
  grep -E ' /(tftpboot|var/tmp)' /proc/self/mountinfo | sed 's/^/LEFTOVER mount /'
}
)SH";

// Checks one build-and-apply: both commands end well, the apply reports
// no violation and the new image's tree is the wanted one.
void expectApplied(Sandbox& sb, const RunResult& r, const std::string& tag) {
  EXPECT_EQ(0, r.status) << tag << "\n" << r;
  EXPECT_NE(std::string::npos, r.out.find("build rc=0")) << tag << "\n" << r;
  EXPECT_NE(std::string::npos, r.out.find("IThe built image equals the new tree.")) << r;
  EXPECT_NE(std::string::npos, r.out.find("IThe verifying apply run ended OK")) << r;
  EXPECT_NE(std::string::npos, r.out.find("apply rc=0")) << tag << "\n" << r;
  EXPECT_NE(std::string::npos, r.out.find("Total errors: 0.")) << tag << "\n" << r;
  EXPECT_EQ(std::string::npos, r.out.find("Total files in image: 0 ")) << r;
  EXPECT_NE(std::string::npos, r.out.find("e2fsck rc=0")) << tag << "\n" << r;
  EXPECT_EQ(std::string::npos, r.out.find("LEFTOVER")) << r;
  std::string wanted = sb.readFile(tag + ".wanted");
  EXPECT_FALSE(wanted.empty());
  EXPECT_EQ(wanted, sb.readFile(tag + ".result")) << tag << ": the applied image differs";
  EXPECT_EQ("", sb.leaks());
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

// Everyday changes on an ext3 image: the bundle applies with no violation
// and the new image's tree is the wanted one, owners, modes, set-id bits,
// links and hidden entries included.
TEST(MakeKestroBundle, EverydayChangesApplyCleanly) {
  REQUIRE_SANDBOX();
  REQUIRE_BUILDER();
  Sandbox sb("2.3.1");
  std::string script =
      std::string(HELPERS) + EVERYDAY_OLD +
      "mk_image /tmp/old /tftpboot/image/pos-1.0-20260101.img ext3\n" + EVERYDAY_NEW +
      buildApplyStep("everyday", "/tftpboot/image/pos-1.0-20260101.img", "pos-1.1-20260201.img") +
      "tar -xOf /share/pos-1.1-20260201.img.tar control.tar.bz2 |"
      " tar -xjO maint_cmd_bash2 >/share/bash2\n";
  RunResult r = sb.run(script, 600);
  expectApplied(sb, r, "everyday");
  // The hidden top-level entry the apply copy drops is carried again.
  EXPECT_NE(std::string::npos, sb.readFile("everyday.result").find("./.hidden_top|")) << r;
  EXPECT_NE(std::string::npos, sb.readFile("everyday.result").find("./usr/bin/newsuid|0:0 4711"));
  // The fix script sets the wanted values, never follows a link and never
  // changes a link's mode.
  std::string bash2 = sb.readFile("bash2");
  EXPECT_NE(std::string::npos, bash2.find("chown -h 500:100 -- './etc/hosts.link'\n")) << bash2;
  EXPECT_EQ(std::string::npos, bash2.find("chmod 0777 -- './etc/hosts.link'")) << bash2;
  EXPECT_NE(std::string::npos, bash2.find("chown -h 1234:0 -- './etc/motd'\n")) << bash2;
  EXPECT_NE(std::string::npos, bash2.find("chmod 0640 -- './etc/secret'\n")) << bash2;
}

// Kinds of objects that change, on gzipped ext2 images, there and back:
// the second bundle starts from the image the first apply made and brings
// back the old tree (the file that became a directory becomes a file
// again, the split hard links join again).
TEST(MakeKestroBundle, KindsChangeThereAndBack) {
  REQUIRE_SANDBOX();
  REQUIRE_BUILDER();
  Sandbox sb("2.3.1");
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
  RunResult r = sb.run(script, 900);
  expectApplied(sb, r, "there");
  expectApplied(sb, r, "back");
  EXPECT_NE(std::string::npos, sb.readFile("there.result").find("group ./lib/solo|./lib/solo.hard"))
      << sb.readFile("there.result");
  EXPECT_NE(std::string::npos, sb.readFile("back.result").find("group ./lib/a|./lib/a.link"));
  // The options reach maintData and the image the apply run makes; the
  // defaults come from the old image.
  std::string data = sb.readFile("there.data");
  EXPECT_NE(std::string::npos, data.find("oldImageName=pos-2.0.gz\n")) << data;
  EXPECT_NE(std::string::npos, data.find("newImageName=pos-2.1.gz\n")) << data;
  EXPECT_NE(std::string::npos, data.find("newImageSize=20\n")) << data;
  EXPECT_NE(std::string::npos, data.find("newImageInodes=600\n")) << data;
  EXPECT_NE(std::string::npos, data.find("newImageFStype=ext3\n")) << data;
  EXPECT_NE(std::string::npos, r.out.find("there size=20971520 journal=1")) << r;
}

// The builder holds the run lock for its whole run: an apply run started
// meanwhile says it waits and goes on only after the build has ended.
TEST(MakeKestroBundle, HoldsTheRunLock) {
  REQUIRE_SANDBOX();
  REQUIRE_BUILDER();
  Sandbox sb;
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
"$DM_APPLYKESTRO" -M nothing.tar >/share/apply.out 2>&1 &
applier=$!
for i in $(seq 300); do
  grep -q 'Waiting for the delta maintenance lock' /share/apply.out && break
  sleep 0.1
done
if kill -0 $builder 2>/dev/null; then echo "builder still running while apply waits"; fi
wait $builder; echo "build rc=$?"
wait $applier; echo "apply rc=$?"
)SH";
  RunResult r = sb.run(script, 600);
  ASSERT_EQ(0, r.status) << r;
  EXPECT_NE(std::string::npos, r.out.find("builder still running while apply waits")) << r;
  EXPECT_NE(std::string::npos, r.out.find("build rc=0")) << r;
  // Once the builder is done, the apply run goes on to its own ending.
  EXPECT_NE(std::string::npos, r.out.find("apply rc=1")) << r;
  std::string apply = sb.readFile("apply.out");
  EXPECT_NE(std::string::npos,
            apply.find("Waiting for the delta maintenance lock file to be released."))
      << apply;
  EXPECT_NE(std::string::npos, apply.find("nothing.tar does not exist")) << apply;
}
