// Resource faults: the image directory too small for the new image or
// filling up while it is compressed, the status stanza file and the log
// directory unwritable.  Each run ends as its failure row says, leaves no
// mount, loop device or working directory, and never leaves an image or a
// checksum record under the final name from a run that did not end "OK".
#include <gtest/gtest.h>

#include <string>

#include "reliability.h"

namespace {

class Resources : public ApplyRuns {};

const std::string START = "\nStarting apply phase for client POS image maintenance.\n";
const std::string FINAL_PLAIN =
    "final name /tftpboot/image/pos-2.2-20060301\nfinal name /tftpboot/image/pos-2.2-20060301.md5\n";

// Moves the image directory's files onto a tmpfs of `size` mounted there.
std::string smallImageDir(const std::string& size) {
  return "mkdir /tmp/keep && mv /tftpboot/image/* /tmp/keep/ && mount -t tmpfs -o size=" + size +
         " tmpfs /tftpboot/image && mv /tmp/keep/* /tftpboot/image/\n";
}

TEST_F(Resources, ImageDirectoryTooSmallForTheNewImage) {
  recordTrial("fault", "/tftpboot/image on a 10 MB tmpfs: dd of the 16 MB image fails");
  Outcome o = runOnce(*sb, "plain", smallImageDir("10m"), "umount /tftpboot/image");
  EXPECT_EQ(1, o.status);
  EXPECT_EQ(START + "EAttempt to create image file for new image failed. Success.\n\n\n", o.console);
  EXPECT_NE(std::string::npos, o.log.find("No space left on device"));
  EXPECT_EQ("", o.state);
  EXPECT_EQ(FAILED_LAST + "\n", o.stanza);
  EXPECT_EQ("", sb->leaks());
}

TEST_F(Resources, ImageDirectoryFillsUpWhileTheImageIsCompressed) {
  recordTrial("fault", "/tftpboot/image fills up during gzip: the partial .gz is removed, no .md5");
  // The fix script fills the tmpfs but for two pages, after the new image
  // file has been written in full.
  std::string before = smallImageDir("48m") +
                       "set_script maint_cmd_bash2 'cat /dev/zero >/tftpboot/image/fill 2>/dev/null; "
                       "truncate -s -8192 /tftpboot/image/fill'\n";
  Outcome o = runOnce(*sb, "gz", before,
                      "ls /tftpboot/image >/share/out/files; umount /tftpboot/image");
  EXPECT_EQ(1, o.status);
  EXPECT_NE(std::string::npos, o.console.find("\nEAttempt to gzip the new image failed.\n\n\n"))
      << o.console;
  EXPECT_NE(std::string::npos, o.log.find("No space left on device"));
  // No clean-up in this failure row: the working directory stays, but
  // nothing is mounted and nothing stands under the final names.
  EXPECT_EQ(std::string::npos, o.state.find("mount /")) << o.state;
  EXPECT_EQ(std::string::npos, o.state.find("loop ")) << o.state;
  EXPECT_EQ(std::string::npos, o.state.find("final name")) << o.state;
  EXPECT_EQ("fill\npos-2.1-20060105.gz\npos-2.2-20060301.gz.ImageInProcess\nzor_image\n",
            sb->readFile("out/files"));
  EXPECT_EQ(FAILED_LAST + "\n", o.stanza);
  EXPECT_EQ("", sb->leaks());
}

const std::string STANZA_MESSAGE =
    "EFatal error: Attempt to update /var/maint/clientinstall.bundles file failed. Is a directory.\n";

TEST_F(Resources, StanzaFileUnwritableOnASuccessfulRun) {
  recordTrial("fault", "a directory at the status stanza file's path, successful run");
  Outcome o = runOnce(*sb, "plain", "mkdir -p /var/maint/clientinstall.bundles");
  EXPECT_EQ(0, o.status);
  EXPECT_NE(std::string::npos, o.console.find("\n\n" + STANZA_MESSAGE)) << o.console;
  EXPECT_EQ(o.console.size() - STANZA_MESSAGE.size(), o.console.find(STANZA_MESSAGE));
  EXPECT_NE(std::string::npos,
            o.log.find("Fatal error: Attempt to update /var/maint/clientinstall.bundles file "
                       "failed. Is a directory.\n"));
  EXPECT_EQ(FINAL_PLAIN, o.state);
  EXPECT_EQ("", o.stanza);
}

TEST_F(Resources, StanzaFileUnwritableOnAFailingRun) {
  recordTrial("fault", "a directory at the status stanza file's path, failing run");
  Outcome o = runOnce(*sb, "plain", "mkdir -p /var/maint/clientinstall.bundles\nwithout maintData");
  EXPECT_EQ(1, o.status);
  EXPECT_EQ(START + "EFatal error: Maintenance control file maintData was not in the tar file.\n\n\n" +
                STANZA_MESSAGE,
            o.console);
  EXPECT_EQ("", o.state);
}

TEST_F(Resources, LogDirectoryUnwritable) {
  recordTrial("fault", "a file at the log directory's path: the run goes on");
  Outcome o = runOnce(*sb, "plain", "rm -rf /var/log/maint && echo x >/var/log/maint");
  EXPECT_EQ(0, o.status);
  EXPECT_NE(std::string::npos, o.console.find("\nIFatal Error: Could not open maintenance logfile "
                                              "/var/log/maint/kestro.log. Not a directory.\n"))
      << o.console;
  EXPECT_NE(std::string::npos, o.console.find("\nStarting apply phase for client POS image maintenance.\n"));
  EXPECT_EQ(FINAL_PLAIN, o.state);
  EXPECT_EQ(OK_LAST + "\n", o.stanza);
}

}  // namespace
