// End-to-end test of the image filesystem check, run inside the sandbox
// through tests/tools/fstype_tool: real read-only loop mounts of an ext2
// image, the same image made ext3 with a journal, and files that hold no
// filesystem.  Each check must leave no mount, no loop device and no
// mnt_check_dir behind.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "sandbox.h"

namespace {

std::string tool() { return binaryDir() + "/tests/fstype_tool"; }

}  // namespace

TEST(CheckImageFilesystemType, TrialMountsTellExt3Ext2AndJunk) {
  REQUIRE_SANDBOX();
  struct stat st;
  ASSERT_EQ(0, stat(tool().c_str(), &st)) << "build the fstype_tool target: " << tool();
  Sandbox sandbox;
  // For each image: the type printed, then what is left: the check
  // directory, a mount on it, a loop device backed by the image.
  const std::string script =
      "set -eu\n"
      "mkdir /tmp/images && cd /tmp/images\n"
      "dd if=/dev/zero of=plain.img bs=1M count=8 status=none\n"
      "mke2fs -F -q plain.img\n"
      "cp plain.img journal.img\n"
      "tune2fs -j journal.img >/dev/null\n"
      "head -c 4194304 /dev/urandom >junk.img\n"
      "check() {\n"
      "  echo \"$1 $(" +
      shellQuote(tool()) +
      " -l /share/maint.log \"$2\" 2>/dev/null)\"\n"
      "  if [ -e mnt_check_dir ]; then echo \"$1 left mnt_check_dir\"; fi\n"
      "  if grep -q mnt_check_dir /proc/self/mountinfo; then\n"
      "    echo \"$1 left a mount\"; fi\n"
      "  if [ -e \"$2\" ] && [ -n \"$(losetup -j \"$2\")\" ]; then\n"
      "    echo \"$1 left a loop device\"; fi\n"
      "}\n"
      "check ext2 /tmp/images/plain.img\n"
      "check ext3 /tmp/images/journal.img\n"
      "check junk /tmp/images/junk.img\n"
      "check missing /tmp/images/no-such.img\n"
      "check relative journal.img\n"
      "e2fsck -fn plain.img >/dev/null && e2fsck -fn journal.img >/dev/null && echo images-clean\n";
  RunResult r = sandbox.run(script, 120);
  ASSERT_EQ(0, r.status) << r;
  EXPECT_EQ(
      "ext2 ext2\n"
      "ext3 ext3\n"
      "junk ????\n"
      "missing ????\n"
      "relative ext3\n"
      "images-clean\n",
      r.out);
  EXPECT_EQ("", sandbox.leaks());
  // The log shows the trial mounts in their order and the unmount.
  std::string log = sandbox.readFile("maint.log");
  std::vector<std::string> commands;
  for (const auto& line : lines(log)) {
    std::string text = logText(line);
    if (text.rfind(">>", 0) == 0 && text.find("junk.img") != std::string::npos)
      commands.push_back(text);
  }
  EXPECT_EQ((std::vector<std::string>{
                ">>/bin/mount -r -t ext3 /tmp/images/junk.img mnt_check_dir -o loop 2>/dev/null",
                ">>/bin/mount -r -t ext2 /tmp/images/junk.img mnt_check_dir -o loop 2>/dev/null"}),
            commands);
  EXPECT_NE(std::string::npos, log.find(">>/bin/umount mnt_check_dir"));
}
