// Hostile paths: a second, unprivileged user (mallory) plants links and
// files where the root tool writes, and links are put at the mount points
// and at the image under construction when each becomes reachable.  The
// tool never writes, mounts or unmounts through them: its own temporary
// directory and capture file are made again privately and the run goes on;
// a planted mount point or image name ends the stage that meets it with a
// message naming the path.  Overlong names are refused before any command
// would hold them.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "reliability.h"

namespace {

class HostilePaths : public ApplyRuns {};

const char* const MALLORY =
    "useradd -M -s /usr/sbin/nologin mallory\n"
    "as_mallory() { setpriv --reuid=mallory --regid=mallory --clear-groups \"$@\"; }\n";
// A mounted directory elsewhere that a link will point to; the after-script
// reports whether it is still mounted and then unmounts it.
const char* const ELSEWHERE = "mkdir -p /tmp/elsewhere && mount -t tmpfs bait /tmp/elsewhere\n";
const char* const ELSEWHERE_AFTER =
    "grep -q ' /tmp/elsewhere ' /proc/mounts && echo mounted >/share/out/elsewhere\n"
    "umount /tmp/elsewhere\n";
// The bundle's removal script records how the temporary directory looks
// while the run uses it.
const char* const RECORD_TEMPDIR =
    "edit_bundle sed -i '1a stat -c \"%U %a %F\" /tmp/maint_zor >/share/out/tempdir' maint_cmd_bash1\n";
const std::string FINAL =
    "final name /tftpboot/image/pos-2.2-20060301\nfinal name /tftpboot/image/pos-2.2-20060301.md5\n";

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The run stopped at the link planted at `path` (where `what`, "a
// directory" or "a regular file", belongs): status 1, its message last.
void expectLinkRefused(const Outcome& o, const std::string& path, const char* what) {
  EXPECT_EQ(1, o.status);
  EXPECT_TRUE(endsWith(o.console, "\nEFatal error: " + path + " is a symbolic link or not " + what +
                                      ". Exiting.\n\n\n"))
      << o.console;
}

// A link planted at the image under construction was refused: the file it
// points to is untouched, the bundle failed, and no image was placed.
void expectImageLinkRefused(const Outcome& o, const std::string& image, const Sandbox& sb) {
  expectLinkRefused(o, image, "a regular file");
  EXPECT_EQ("precious\n", sb.readFile("out/victim"));
  EXPECT_EQ(FAILED_LAST + "\n", o.stanza);
  EXPECT_EQ("", o.state);
}

TEST_F(HostilePaths, TempDirectoryPlantedAsALink) {
  recordTrial("hostile", "/tmp/maint_zor planted by another user as a link to their directory");
  Outcome o = runOnce(*sb, "plain",
                      std::string(MALLORY) + RECORD_TEMPDIR +
                          "mkdir /tmp/bait && chown mallory /tmp/bait && "
                          "as_mallory ln -s /tmp/bait /tmp/maint_zor",
                      "{ stat -c '%U' /tmp/bait; ls -A /tmp/bait; } >/share/out/bait");
  EXPECT_EQ(0, o.status) << o.console;
  EXPECT_EQ("root 700 directory\n", sb->readFile("out/tempdir"));
  EXPECT_EQ("mallory\n", sb->readFile("out/bait"));
  EXPECT_EQ(FINAL, o.state);
}

TEST_F(HostilePaths, TempDirectoryOfAnotherUser) {
  recordTrial("hostile", "/tmp/maint_zor planted by another user as their directory");
  Outcome o = runOnce(*sb, "plain",
                      std::string(MALLORY) + RECORD_TEMPDIR +
                          "as_mallory mkdir -m 755 /tmp/maint_zor && as_mallory touch /tmp/maint_zor/trap");
  EXPECT_EQ(0, o.status) << o.console;
  EXPECT_EQ("root 700 directory\n", sb->readFile("out/tempdir"));
  EXPECT_EQ(FINAL, o.state);
}

TEST_F(HostilePaths, TempDirectoryWritableByOthers) {
  recordTrial("hostile", "/tmp/maint_zor left writable by everybody");
  Outcome o = runOnce(*sb, "plain", std::string(RECORD_TEMPDIR) + "mkdir -m 777 /tmp/maint_zor");
  EXPECT_EQ(0, o.status) << o.console;
  EXPECT_EQ("root 700 directory\n", sb->readFile("out/tempdir"));
}

// Starts the tool from a shell whose process id it inherits, after
// mallory has run `plant` (with $P standing for that id); what she planted
// is listed in /share/out/planted.
std::string plantedLaunch(const std::string& plant) {
  return "sh -c 'P=$$; setpriv --reuid=mallory --regid=mallory --clear-groups sh -c \"" + plant +
         "\"; ls -l /tmp/maint$P.tmp >/share/out/planted; exec \"$0\" -M b' \"$TOOL\" "
         "</dev/null >/share/out/console 2>&1 & tool=$!";
}

TEST_F(HostilePaths, CaptureFilePlantedAsALink) {
  recordTrial("hostile", "capture file /tmp/maint<pid>.tmp planted as a link to a root file");
  Outcome o = runOnce(*sb, "plain", std::string(MALLORY) + "echo precious >/etc/victim",
                      "cat /etc/victim >/share/out/victim; ls /tmp/maint*.tmp >/share/out/capture 2>&1",
                      plantedLaunch("ln -s /etc/victim /tmp/maint$P.tmp"));
  EXPECT_NE(std::string::npos, sb->readFile("out/planted").find(" mallory mallory ")) << sb->readFile("out/planted");
  EXPECT_NE(std::string::npos, sb->readFile("out/planted").find(".tmp -> /etc/victim\n"));
  EXPECT_EQ(0, o.status) << o.console;
  EXPECT_EQ(std::string::npos, o.console.find("WARNING")) << o.console;
  EXPECT_EQ("precious\n", sb->readFile("out/victim"));
  EXPECT_EQ(std::string::npos, sb->readFile("out/capture").find(".tmp\n"));
}

TEST_F(HostilePaths, CaptureFileOfAnotherUser) {
  recordTrial("hostile", "capture file /tmp/maint<pid>.tmp planted as another user's file");
  // mallory keeps a second name for her file to see whether the tool wrote
  // into it.
  Outcome o = runOnce(*sb, "plain", MALLORY, "cat /tmp/mallory-copy >/share/out/copy",
                      plantedLaunch("echo planted >/tmp/maint$P.tmp && chmod 666 /tmp/maint$P.tmp && "
                                    "ln /tmp/maint$P.tmp /tmp/mallory-copy"));
  EXPECT_EQ(0u, sb->readFile("out/planted").find("-rw-rw-rw- 2 mallory mallory 8 "))
      << sb->readFile("out/planted");
  EXPECT_EQ(0, o.status) << o.console;
  EXPECT_EQ(std::string::npos, o.console.find("WARNING")) << o.console;
  EXPECT_EQ("planted\n", sb->readFile("out/copy"));
}

TEST_F(HostilePaths, MountPointLinkBeforeTheRun) {
  recordTrial("hostile", "/tftpboot/image/zor_image a link to a mounted directory before the run");
  Outcome o = runOnce(*sb, "plain",
                      std::string(ELSEWHERE) + "ln -s /tmp/elsewhere /tftpboot/image/zor_image",
                      ELSEWHERE_AFTER);
  EXPECT_EQ(1, o.status);
  EXPECT_TRUE(endsWith(o.console, "Fatal error: /tftpboot/image/zor_image is a symbolic link or not a "
                                  "directory. Exiting.\n\n\n"))
      << o.console;
  EXPECT_EQ("mounted\n", sb->readFile("out/elsewhere"));
  EXPECT_EQ("", o.stanza);  // the bundle is not known yet
}

TEST_F(HostilePaths, MountPointLinkPlantedByTheFixScript) {
  recordTrial("hostile", "/tftpboot/image/zor_image replaced by a link while maint_cmd_bash2 runs");
  Outcome o = runOnce(*sb, "plain",
                      std::string(ELSEWHERE) +
                          "set_script maint_cmd_bash2 'cd / && umount -l /tftpboot/image/zor_image && "
                          "rmdir /tftpboot/image/zor_image && ln -s /tmp/elsewhere "
                          "/tftpboot/image/zor_image'",
                      ELSEWHERE_AFTER);
  expectLinkRefused(o, "/tftpboot/image/zor_image", "a directory");
  EXPECT_EQ("mounted\n", sb->readFile("out/elsewhere"));
  EXPECT_EQ(FAILED_LAST + "\n", o.stanza);
  EXPECT_EQ("mount point /tftpboot/image/zor_image\n", o.state);  // the planted link
}

TEST_F(HostilePaths, OldImageMountPointLinkInTheBundle) {
  recordTrial("hostile", "a bundle member that puts a link at the old image's mount point");
  Outcome o = runOnce(*sb, "plain",
                      std::string(ELSEWHERE) +
                          "mkdir /tmp/o && ln -s /tmp/elsewhere /tmp/o/oldimage && "
                          "tar -rf /var/maint/downloads/b.tar -C /tmp/o oldimage",
                      ELSEWHERE_AFTER);
  EXPECT_EQ(1, o.status);
  EXPECT_TRUE(std::regex_search(o.console,
                                std::regex("\nEFatal error: /tmp/maint_zor/maint[0-9]+/oldimage is a "
                                           "symbolic link or not a directory. Exiting.\n\n\n$")))
      << o.console;
  EXPECT_EQ("mounted\n", sb->readFile("out/elsewhere"));
  EXPECT_EQ(FAILED_LAST + "\n", o.stanza);
  EXPECT_EQ("", o.state);
}

TEST_F(HostilePaths, OldImageMountPointLinkPlantedLater) {
  recordTrial("hostile", "the old image's mount point replaced by a link after its unmount");
  // The clean-up at the end must not unmount through the link.
  Outcome o = runOnce(*sb, "plain",
                      std::string(ELSEWHERE) +
                          "edit_bundle sed -i '1a w=$(echo /tmp/maint_zor/maint*); rmdir $w/oldimage "
                          "&& ln -s /tmp/elsewhere $w/oldimage' maint_cmd_bash2",
                      ELSEWHERE_AFTER);
  EXPECT_EQ(0, o.status) << o.console;
  EXPECT_EQ("mounted\n", sb->readFile("out/elsewhere"));
  EXPECT_EQ(FINAL, o.state);
}

TEST_F(HostilePaths, ImageUnderConstructionLinkBeforeDd) {
  recordTrial("hostile", "a link at the .ImageInProcess name planted while gunzip runs, before dd");
  std::string image = "/tftpboot/image/pos-2.2-20060301.gz.ImageInProcess";
  Outcome o = runOnce(*sb, "gz",
                      "echo precious >/tmp/victim\nhold_commands /usr/bin/gunzip\narm gunzip -c",
                      "cat /tmp/victim >/share/out/victim",
                      "\"$TOOL\" -M b </dev/null >/share/out/console 2>&1 & tool=$!\n"
                      "wait_for test -s /tmp/hold/ready.gunzip && ln -s /tmp/victim " +
                          image + "; touch /tmp/hold/go");
  expectImageLinkRefused(o, image, *sb);
}

TEST_F(HostilePaths, ImageUnderConstructionLinkPlantedByTheFixScript) {
  recordTrial("hostile", "the .ImageInProcess file replaced by a link while maint_cmd_bash2 runs");
  std::string image = "/tftpboot/image/pos-2.2-20060301.ImageInProcess";
  Outcome o = runOnce(*sb, "plain",
                      "echo precious >/tmp/victim\nset_script maint_cmd_bash2 'ln -sf /tmp/victim " +
                          image + "'",
                      "cat /tmp/victim >/share/out/victim");
  expectImageLinkRefused(o, image, *sb);
}

TEST_F(HostilePaths, OverlongBundlePath) {
  recordTrial("hostile", "a bundle path of 318 characters");
  std::string path = "/var/maint/downloads/" + std::string(293, 'x') + ".tar";
  Outcome o = runOnce(*sb, "plain", "",  "",
                      "\"$TOOL\" -M " + path + " </dev/null >/share/out/console 2>&1 & tool=$!");
  EXPECT_EQ(1, o.status);
  EXPECT_NE(std::string::npos, o.console.find("\nEFatal error: A maintenance bundle path is longer "
                                              "than 299 characters: /var/maint/downloads/xxx"))
      << o.console;
  EXPECT_EQ(0u, o.stanza.find("/var/maint/downloads/xxx"));
  EXPECT_TRUE(endsWith(o.stanza, " {|   Applied:   Failed\n")) << o.stanza;
  EXPECT_EQ("", commandsWith(o.log, "xxxxxxxxxx"));
}

// A new image name of `length` characters.
std::string longName(size_t length) {
  return "set_data newImageName " + std::string(length, 'n');
}

TEST_F(HostilePaths, OverlongImagePath) {
  recordTrial("hostile", "a new image name of 290 characters: its path does not fit");
  Outcome o = runOnce(*sb, "plain", longName(290));
  EXPECT_EQ(1, o.status);
  EXPECT_NE(std::string::npos,
            o.console.find("\nEFatal error: The maintenance data item newImageName is too long: \"nnn"))
      << o.console;
  EXPECT_EQ(FAILED_LAST + "\n", o.stanza);
  EXPECT_EQ("", commandsWith(o.log, "nnnnnnnnnn"));
}

TEST_F(HostilePaths, OverlongImageUnderConstructionName) {
  recordTrial("hostile", "a new image name of 270 characters: its .ImageInProcess name does not fit");
  Outcome o = runOnce(*sb, "plain", longName(270));
  EXPECT_EQ(1, o.status);
  EXPECT_NE(std::string::npos,
            o.console.find("\nEFatal error: The maintenance data item newImageName is too long: "
                           "\"/tftpboot/image/nnn"))
      << o.console;
  EXPECT_EQ("", commandsWith(o.log, "nnnnnnnnnn"));
  EXPECT_EQ("", o.state);
}

TEST_F(HostilePaths, OverlongCommandLine) {
  recordTrial("hostile", "a new image name of 250 characters: the dd command would not fit");
  Outcome o = runOnce(*sb, "plain", longName(250));
  EXPECT_EQ(1, o.status);
  EXPECT_TRUE(endsWith(o.console, "\nEFatal error: A command line would be longer than 299 "
                                  "characters. Exiting.\n\n\n"))
      << o.console;
  EXPECT_EQ("", commandsWith(o.log, "nnnnnnnnnn"));
  EXPECT_EQ(FAILED_LAST + "\n", o.stanza);
  EXPECT_EQ("", o.state);
}

}  // namespace
