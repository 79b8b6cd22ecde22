// One apply run per row, each a way a run can meet trouble: bundles and
// maintenance data that are bad, platform commands that fail, resources
// that run out, paths planted by another user, names too long for a
// command.  Every row gives the exit status, the whole console (a glob),
// the run's log records (a glob), what stays in /tmp/maint_zor and
// /tftpboot/image, the last stanza, and optionally a script run afterwards
// with its exact output.  Nothing may stay mounted or attached.
#include "root.h"

namespace {

struct Row {
  const char* name;
  const char* before;   // after `use plain` (unless it says `use gz`)
  int status;
  const char* console;  // @MD5@ stands for the old image's checksum
  const char* log;
  const char* left;
  const char* stanza;
  const char* after;
  const char* shows;
  const char* args = nullptr;  // instead of "-M b"
};

#define S "\nStarting apply phase for client POS image maintenance.\n"
#define D "########################################################################\n"
#define OLD "/tftpboot/image/pos-2.1-20060105"
#define IP "/tftpboot/image/pos-2.2-20060301.ImageInProcess"
#define CLEAN "zor() pos-2.1-20060105\n"
#define CLEAN_IP "zor() pos-2.1-20060105 pos-2.2-20060301.ImageInProcess\n"
#define DONE "pos-2.1-20060105 pos-2.2-20060301 pos-2.2-20060301.md5\n"
#define FAILED "/var/maint/downloads/b.tar {|   Applied:   Failed"
#define OK "/var/maint/downloads/b.tar {|   Applied:   OK"
#define TOTALS "ITotal files in image: 37    Total errors: 0. \nIElapsed time = 0:00:[0-9][0-9] \n\n\n"
#define ANY_TOTALS "ITotal files in image: [0-9]*    Total errors: [0-9]*. \nIElapsed time = 0:00:[0-9][0-9] \n\n\n"
#define UNTAR "*T >>/bin/tar -xjf W/control.tar.bz2 2>/dev/null\n"
#define STOP(msg) S "E" msg "\n\n\n"
// A run that stops right after unpacking, on its maintenance data.
#define EARLY(name, before, msg) {name, before, 1, STOP(msg), UNTAR "T " msg "\n" D, CLEAN, FAILED, "", ""}
#define DATA "Fatal error: The maintenance data "
#define BASH1 " Fatal error: Maintenance control file maint_cmd_bash1 was not in the tar file."
#define MOUNTED "/tmp/elsewhere: mounted\n"
// A mounted directory elsewhere for a planted link to point to.
#define ELSEWHERE "mkdir /tmp/elsewhere && mount -t tmpfs bait /tmp/elsewhere\n"
#define ELSEWHERE_AFTER "mountpoint -q /tmp/elsewhere && echo /tmp/elsewhere: mounted; umount /tmp/elsewhere"
#define LINK(path, what) "\nEFatal error: " path " is a symbolic link or not " what ". Exiting.\n\n\n"
#define TEMPDIR "edit_bundle sed -i '1a stat -c \"%U %a %F\" /tmp/maint_zor >/share/tempdir' maint_cmd_bash1\n"
#define NEVER(text) "grep -c '>>.*" text "' /var/log/maint/kestro.log"

const Row ROWS[] = {
    // The bundle and its members.
    EARLY("NoRemovalScript", "without maint_cmd_bash1", BASH1),
    EARLY("NoMaintData", "without maintData",
          "Fatal error: Maintenance control file maintData was not in the tar file."),
    EARLY("NoDatabase", "without tw.maint_db",
          "Fatal error: Maintenance control file tw.maint_db was not in the tar file."),
    EARLY("NotATar", "echo 'not a tar archive' >/var/maint/downloads/b.tar", BASH1),
    EARLY("TruncatedTar", "truncate -s 1024 /var/maint/downloads/b.tar", BASH1),
    EARLY("CorruptControlArchive", "replace_member control.tar.bz2", BASH1),
    {"NoPayload", "without maint.tar.bz2", 1, STOP("Attempt to apply maintenance to image failed. Success."),
     "*T >>/bin/tar --same-owner -xpjf W/maint.tar.bz2 >W/temp.file 2>&1\nT Attempt to apply maintenance "
     "to image failed. Success.\nT    tar -> *W/maint.tar.bz2: Cannot open: No such file or directory\n*" D,
     CLEAN_IP, FAILED, "", ""},
    {"CorruptPayload", "replace_member maint.tar.bz2", 1, STOP("Attempt to apply maintenance to image failed. Success."),
     "*T Attempt to apply maintenance to image failed. Success.\nT    tar -> *" D, CLEAN_IP, FAILED, "", ""},
    {"FailingAndMissingScripts", "without maint_cmd_bash2; set_script maint_cmd_bash1 'exit 3'", 0, S ANY_TOTALS,
     "*T >>W/maint_cmd_bash2 >W/temp.file 2>&1\n*maint_cmd_bash2: not found*", DONE, OK, "", ""},
    {"ScriptsNotExecutable", "edit_bundle chmod 644 maint_cmd_bash1 maint_cmd_bash2", 0, S ANY_TOTALS,
     "*maint_cmd_bash2: Permission denied*", DONE, OK, "", ""},
    {"ViolationsReportedNotEnforced", "set_script maint_cmd_bash2 'chmod 600 etc/hosts; echo fixed'", 0,
     S "ITotal files in image: 37    Total errors: [1-9]*", "*\nT     fixed\n*", DONE, OK, "", ""},

    // Maintenance data.
    EARLY("MissingKey", "drop_data newImageInodes", DATA "file maintData does not give newImageInodes."),
    EARLY("EmptySize", "set_data newImageSize ''", DATA "item newImageSize is empty."),
    EARLY("EmptyName", "set_data newImageName ''", DATA "item newImageName is empty."),
    EARLY("NegativeSize", "set_data newImageSize -5",
          DATA "item newImageSize must be a positive decimal number, not \"-5\"."),
    EARLY("ZeroSize", "set_data newImageSize 0",
          DATA "item newImageSize must be a positive decimal number, not \"0\"."),
    EARLY("SizeWithUnit", "set_data newImageSize 16MB",
          DATA "item newImageSize must be a positive decimal number, not \"16MB\"."),
    EARLY("InodesNotANumber", "set_data newImageInodes 12x",
          DATA "item newImageInodes must be a positive decimal number, not \"12x\"."),
    EARLY("InodesOverlong", "set_data newImageInodes 99999999999999999999",
          DATA "item newImageInodes must be a positive decimal number, not \"99999999999999999999\"."),
    EARLY("NameWithPath", "set_data newImageName ../../etc/passwd",
          DATA "item newImageName must be a plain file name, not \"../../etc/passwd\"."),
    EARLY("BinaryData", "edit_bundle sh -c 'head -c 4096 /bin/true >maintData'",
          DATA "file maintData does not give oldImageName."),
    EARLY("BinaryDataWithoutZeros", "edit_bundle sh -c 'head -c 4096 /bin/true | tr -d \"\\000\" >maintData'",
          DATA "file maintData does not give oldImageName."),
    {"HugeValue", "set_data oldImageName $(printf %100000s | tr ' ' a)", 1,
     S "EFatal error: The maintenance data item oldImageName is too long: \"aaaa*\n\n\n", "*", CLEAN, FAILED,
     NEVER("aaaaaaaaaa"), "0\n"},
    {"HugeLines", "edit_bundle sh -c '{ printf \"#%100000s\\n\" c; printf \"junkKey=%100000s\\n\" j; cat maintData; } >m && mv m maintData'",
     0, S TOTALS, "*", DONE, OK, NEVER("          "), "0\n"},
    {"RepeatedKey", "edit_bundle sed -i '1i newImageSize=junk' maintData", 0, S TOTALS, "*", DONE, OK,
     NEVER("junk"), "0\n"},
    {"UpperCaseFSType", "set_data newImageFStype EXT3", 0, S TOTALS, "*T New Image FSType = EXT3\n*", DONE, OK,
     "dumpe2fs -h /tftpboot/image/pos-2.2-20060301 2>/dev/null | grep -c has_journal", "0\n"},
    {"ShellCharactersInTheName", "set_data newImageName 'pos 2.2;touch pwned'", 1,
     STOP("Fatal error: The new image name \"/tftpboot/image/pos 2.2;touch pwned.ImageInProcess\" holds "
          "characters that a shell command must not be given. Exiting."),
     "*T >>/bin/mount -r " OLD " W/oldimage -o loop >W/temp.file 2>&1\nT Creating and zeroing file file to "
     "hold the new image.\nT Fatal error: The new image name \"/tftpboot/image/pos 2.2;touch "
     "/tmp/pwned.ImageInProcess\" holds characters that a shell command must not be given. Exiting.\n" D,
     CLEAN, FAILED, "ls /tmp/pwned /root/pwned /tmp/maint_zor/*/pwned 2>/dev/null; " NEVER("touch"), "0\n"},
    {"ShellCharactersInTheChecksum", "set_data oldImageMD5 '$(touch /tmp/pwned)'", 0,
     S "WWARNING: Local copy of the old image we are starting from DOES NOT match the one the maintenance "
       "bundle was built from.\nWMD5 from the original image we started from: $(touch /tmp/pwned)\n"
       "WMD5 from the local image we will use:        @MD5@\n" TOTALS,
     "*T Old Image MD5    = $(touch /tmp/pwned)\n*", DONE, OK,
     "ls /tmp/pwned 2>/dev/null; grep -c WARNING /var/log/maint/kestro.log", "0\n"},

    // Old image.
    {"OldImageMissing", "mv " OLD " /tftpboot/image/other-2.1", 1,
     STOP("Fatal error. Old image " OLD " does not exist. New image can not be created."),
     "*T Old Image Name   = " OLD "\nT New Image Name   = /tftpboot/image/pos-2.2-20060301\nT Fatal error. "
     "Old image " OLD " does not exist. New image can not be created.\n" D,
     "zor() other-2.1\n", FAILED, "", ""},
    {"OldImageNameWithABlank", "set_data oldImageName ' x'", 1,
     STOP("Fatal error. Old image /tftpboot/image/ x does not exist. New image can not be created."), "*",
     CLEAN, FAILED, "", ""},
    {"DatelessFallbackNames", "use gz; mv " OLD ".gz /tftpboot/image/pos-2.1.gz; touch /tftpboot/image/pos-2.2.gz", 0,
     S TOTALS, "*T Old Image Name   = " OLD ".gz\n*T Old Image Name   = /tftpboot/image/pos-2.1.gz\n"
     "*T New Image Name   = /tftpboot/image/pos-2.2.gz\n*", "pos-2.1.gz pos-2.2.gz pos-2.2.md5\n", OK, "", ""},
    {"UncompressFails", "set_data newImageName pos-2.2-20060301.gz", 1,
     S "EAttempt to uncompress " OLD " failed. Fatal error. rc = 256.\n\n",
     "*T Attempt to uncompress " OLD " failed. Fatal error. rc = 256.\nT     \nT     gzip: " OLD
     ": not in gzip format\n\n" D, "zor(temp.P.old) pos-2.1-20060105\n", FAILED, "", ""},
    {"OldImageDoesNotMount", "head -c 1048576 /dev/zero >" OLD, 1,
     S "*\nEUnable to mount " OLD " for processing. rc = 32.\n\n\n",
     "*T >>/bin/mount -r " OLD " W/oldimage -o loop >W/temp.file 2>&1\n*T Unable to mount " OLD
     " for processing. rc = 32.\nT I -> -rw-r--r-- 1 root root 1.0M * " OLD "\nT D -> drwxr-xr-x * W/oldimage\n" D,
     CLEAN, FAILED, "", ""},
    {"OldImageBusyAtUnmount",
     "hold umount oldimage; ( held >/dev/null; cd /tmp/maint_zor/maint*/oldimage && { sleep 600 & }; cd /\n"
     "  release; wait_for grep -q 'Unable to unmount' /var/log/maint/kestro.log; kill $! ) &", 1,
     S "EFatal Error: Unable to unmount " OLD " from W/oldimage.\nE       Return code:   rc = 8192.\n\n\n",
     "*    umount: W/oldimage: target is busy.\n*T Fatal Error: Unable to unmount " OLD
     " from W/oldimage.\nT        Return code:   rc = 8192.\n" D, CLEAN_IP, FAILED, "", ""},

    // The new image.
    {"ImageDirectoryFull", "small_image_dir 10m", 1,
     STOP("Attempt to create image file for new image failed. Success."),
     "*T >>/bin/dd if=/dev/zero of=" IP " bs=1M count=16 >W/temp.file 2>&1\n*No space left on device*"
     "T Attempt to create image file for new image failed. Success.\n" D,
     "zor()\n", FAILED, "ls /tftpboot/image; umount /tftpboot/image",
     "pos-2.1-20060105\npos-2.2-20060301.ImageInProcess\n"},
    {"TooManyInodes", "set_data newImageInodes 999999999", 1,
     STOP("Attempt to format image file for new image failed. Success."),
     "*T Attempt to format image file for new image failed. Success.\n" D, CLEAN_IP, FAILED, "", ""},
    {"NoRoomForJournalNorTree",
     "set_data newImageSize 1; set_data newImageInodes 64; set_data newImageFStype ext3\n"
     "mkdir /tmp/big && mount -o loop " OLD " /tmp/big && head -c 2097152 /dev/urandom >/tmp/big/big && umount /tmp/big", 1,
     S "*\nWAttempt to add a filesystem journal to the image file " IP " failed. Success.\n"
       "EFatal Error: Attempt to copy old image contents to /tftpboot/image/zor_image failed. Success.\n\n\n",
     "*T >>/sbin/tune2fs -j " IP " >W/temp.file 2>&1\n*T Attempt to add a filesystem journal to the image file "
     IP " failed. Success.\nT >>/bin/mount " IP " /tftpboot/image/zor_image -o loop >W/temp.file 2>&1\n"
     "T >>/bin/cp -a W/oldimage/* /tftpboot/image/zor_image\n*T Fatal Error: Attempt to copy old image contents "
     "to /tftpboot/image/zor_image failed. Success.\n" D, CLEAN_IP, FAILED, "", ""},
    {"NewImageDoesNotMount",
     "hold mount ImageInProcess; ( held >/dev/null; dd if=/dev/zero of=" IP " bs=1024 seek=1 count=1 "
     "conv=notrunc 2>/dev/null; release ) &", 1,
     STOP("Unable to mount " IP " for processing. rc = 32."),
     "*T >>/bin/mount " IP " /tftpboot/image/zor_image -o loop >W/temp.file 2>&1\n*T Unable to mount " IP
     " for processing. rc = 32.\nT I -> -rwxr-xr-x 1 root root 16M * " IP "\nT D -> drwxr-xr-x * "
     "/tftpboot/image/zor_image\n" D, CLEAN_IP, FAILED, "", ""},
    {"NewImageCannotBeUnmounted", "set_script maint_cmd_bash2 'umount -l /tftpboot/image/zor_image'", 1,
     STOP("Unable to unmount image from /tftpboot/image/zor_image. rc = 8192."),
     "*T >>/bin/umount /tftpboot/image/zor_image  >W/temp.file 2>&1\nT Unable to unmount image from "
     "/tftpboot/image/zor_image. rc = 8192.\n" D, CLEAN_IP, FAILED, "", ""},
    {"ImageDirectoryFillsWhileCompressing",
     "use gz; small_image_dir 48m; set_script maint_cmd_bash2 'cat /dev/zero >/tftpboot/image/fill 2>/dev/null; "
     "truncate -s -8192 /tftpboot/image/fill'", 1,
     S "*\nEAttempt to gzip the new image failed.\n\n\n", "*No space left on device*", "", FAILED,
     "ls /tftpboot/image; umount /tftpboot/image",
     "fill\npos-2.1-20060105.gz\npos-2.2-20060301.gz.ImageInProcess\nzor_image\n"},

    // The checker.
    {"CheckerControlFilesFail", "mkdir -p /var/maint/dm.skey", 1,
     S "EAttempt to build tripwire control files failed. See following error message.\nE    *"
       "IElapsed time = 0:00:[0-9][0-9] \n\n\n",
     "*T Running tripwire on newly created image to validate maintenance apply.\nT >>/usr/sbin/twadmin -m G "
     "-S /var/maint/dm.skey  -Q \"\" >/tmp/maint_zor/temp.P.twadmin 2>&1 (rc = [1-9]*)\n"
     "T Elapsed time = 0:00:[0-9][0-9] \n" D,
     "zor(temp.P.twadmin) pos-2.1-20060105 pos-2.2-20060301.ImageInProcess\n", FAILED, "", ""},
    {"CheckerNotInstalled", "rpm -e --nodeps tripwire", 1,
     STOP("Prerequesite package tripwire does not appear to be installed. Exiting."),
     "*T Error locating executable: applyKestro\nT Prerequesite package tripwire does not appear to be "
     "installed. Exiting.\n" D, CLEAN, FAILED, "", ""},
    {"CheckerTooOld", "rpm -e --nodeps tripwire && bash \"$DM_SOURCE_DIR/tests/e2e/root.sh\" --standin 1.3.1", 1,
     S "Wtripwire-1.3.1-2.noarch installed on your system is too old to work with this software. "
       "Contact ZOR Support.\n",
     "*T Error locating executable: applyKestro\nT tripwire-1.3.1-2.noarch installed on your system is too "
     "old to work with this software. Contact ZOR Support.\n", "*", "", "", ""},
    {"CheckerOfAnotherVersion", "rpm -e --nodeps tripwire && bash \"$DM_SOURCE_DIR/tests/e2e/root.sh\" --standin 2.4.0", 0,
     S "Wtripwire-2.4.0-2.noarch installed on your system may not function properly with this software. "
       "Contact ZOR Support.\n" TOTALS,
     "*T tripwire-2.4.0-2.noarch installed on your system may not function properly with this software. "
     "Contact ZOR Support.\nT     ## level = \"2 4 0\"\nT     ##i1 = 2  i2 = 4  i3 = 0   version = 20400\n*",
     DONE, OK, "", ""},

    // Files the run writes.
    {"StanzaFileIsADirectoryOnSuccess", "mkdir -p /var/maint/clientinstall.bundles", 0,
     S TOTALS "EFatal error: Attempt to update /var/maint/clientinstall.bundles file failed. Is a directory.\n",
     "*T Fatal error: Attempt to update /var/maint/clientinstall.bundles file failed. Is a directory.\n", DONE, "",
     "", ""},
    {"StanzaFileIsADirectoryOnFailure", "mkdir -p /var/maint/clientinstall.bundles; without maintData", 1,
     STOP("Fatal error: Maintenance control file maintData was not in the tar file.")
     "EFatal error: Attempt to update /var/maint/clientinstall.bundles file failed. Is a directory.\n",
     "*", CLEAN, "", "", ""},
    {"LogDirectoryIsAFile", "rm -rf /var/log/maint && echo x >/var/log/maint", 0,
     "*\nIFatal Error: Could not open maintenance logfile /var/log/maint/kestro.log. Not a directory.\n*"
     S "*", "", DONE, OK, "", ""},

    // Paths planted by another user or by the bundle.
    {"TempDirectoryPlantedAsALink",
     TEMPDIR "mkdir /tmp/bait && chown nobody /tmp/bait && as_nobody ln -s /tmp/bait /tmp/maint_zor", 0, S TOTALS,
     "*", DONE, OK, "cat /share/tempdir; stat -c %U /tmp/bait; ls -A /tmp/bait", "root 700 directory\nnobody\n"},
    {"TempDirectoryOfAnotherUser",
     TEMPDIR "as_nobody mkdir -m 755 /tmp/maint_zor && as_nobody touch /tmp/maint_zor/trap", 0, S TOTALS, "*",
     DONE, OK, "cat /share/tempdir", "root 700 directory\n"},
    {"TempDirectoryWritableByAll", TEMPDIR "mkdir -m 777 /tmp/maint_zor", 0, S TOTALS, "*", DONE, OK,
     "cat /share/tempdir", "root 700 directory\n"},
    {"MountPointLinkBeforeTheRun", ELSEWHERE "ln -s /tmp/elsewhere /tftpboot/image/zor_image", 1,
     "*" LINK("/tftpboot/image/zor_image", "a directory"), "*", "*", "", ELSEWHERE_AFTER, MOUNTED},
    {"MountPointLinkPlantedByTheFixScript",
     ELSEWHERE "set_script maint_cmd_bash2 'cd / && umount -l /tftpboot/image/zor_image && rmdir "
     "/tftpboot/image/zor_image && ln -s /tmp/elsewhere /tftpboot/image/zor_image'", 1,
     "*" LINK("/tftpboot/image/zor_image", "a directory"), "*",
     "zor() pos-2.1-20060105 pos-2.2-20060301.ImageInProcess zor_image\n", FAILED, ELSEWHERE_AFTER, MOUNTED},
    {"OldImageMountPointLinkInTheBundle",
     ELSEWHERE "mkdir /tmp/o && ln -s /tmp/elsewhere /tmp/o/oldimage && tar -rf /var/maint/downloads/b.tar "
     "-C /tmp/o oldimage", 1, "*" LINK("/tmp/maint_zor/maintP/oldimage", "a directory"), "*", CLEAN, FAILED,
     ELSEWHERE_AFTER, MOUNTED},
    {"OldImageMountPointLinkPlantedLater",
     ELSEWHERE "edit_bundle sed -i '1a w=$(echo /tmp/maint_zor/maint*); rmdir $w/oldimage && ln -s "
     "/tmp/elsewhere $w/oldimage' maint_cmd_bash2", 0, S TOTALS, "*", DONE, OK, ELSEWHERE_AFTER, MOUNTED},
    {"NewImageLinkPlantedBeforeDd",
     "use gz; echo precious >/tmp/victim; hold gunzip -c; ( held >/dev/null; ln -s /tmp/victim " IP
     "; release ) &", 1, "*" LINK("/tftpboot/image/pos-2.2-20060301.gz.ImageInProcess", "a regular file"), "*",
     "*", FAILED, "cat /tmp/victim", "precious\n"},
    {"NewImageLinkPlantedByTheFixScript",
     "echo precious >/tmp/victim; set_script maint_cmd_bash2 'ln -sf /tmp/victim " IP "'", 1,
     "*" LINK(IP, "a regular file"), "*", "*", FAILED, "cat /tmp/victim", "precious\n"},
    {"OverlongBundlePath", "", 1,
     S "EFatal error: A maintenance bundle path is longer than 299 characters: /var/maint/downloads/xxx*",
     "*", "*", "/var/maint/downloads/xxx*xxx.tar {|   Applied:   Failed", NEVER("xxxxxxxxxx"), "0\n",
     "-M /var/maint/downloads/$(printf %293s | tr ' ' x).tar"},
    {"OverlongImagePath", "set_data newImageName $(printf %290s | tr ' ' n)", 1,
     S "EFatal error: The maintenance data item newImageName is too long: \"nnn*", "*", "*", FAILED,
     NEVER("nnnnnnnnnn"), "0\n"},
    {"OverlongImageInProcessName", "set_data newImageName $(printf %270s | tr ' ' n)", 1,
     S "EFatal error: The maintenance data item newImageName is too long: \"/tftpboot/image/nnn*", "*", CLEAN,
     FAILED, NEVER("nnnnnnnnnn"), "0\n"},
    {"OverlongCommandLine", "set_data newImageName $(printf %250s | tr ' ' n)", 1,
     "*\nEFatal error: A command line would be longer than 299 characters. Exiting.\n\n\n", "*", CLEAN, FAILED,
     NEVER("nnnnnnnnnn"), "0\n"},
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

class Rows : public E2E, public testing::WithParamInterface<Row> {};

TEST_P(Rows, Run) {
  const Row& r = GetParam();
  std::string before = r.before;
  if (before.compare(0, 7, "use gz;") != 0) before = "use plain; " + before;
  Outcome o = root.apply(r.args ? r.args : "-M b", before, r.after);
  std::string console = r.console;
  size_t md5 = console.find("@MD5@");
  if (md5 != std::string::npos)
    console.replace(md5, 5, lines(readFile(std::string(DM_BINARY_DIR) + "/fixtures/apply/plain/old.md5"))[0]);
  EXPECT_EQ(r.status, o.tool) << o;
  EXPECT_GLOB(console, o.console);
  EXPECT_GLOB(r.log, o.records);
  EXPECT_GLOB(r.left, o.left);
  EXPECT_GLOB(r.stanza, o.stanza);
  EXPECT_EQ(r.shows, o.after);
  EXPECT_EQ("", o.leaks);
}

INSTANTIATE_TEST_SUITE_P(Apply, Rows, testing::ValuesIn(ROWS),
                         [](const testing::TestParamInfo<Row>& i) { return i.param.name; });

}  // namespace
