// Bad bundles and bad maintenance data, one run each: the run ends as its
// failure row says (or goes on to "OK" where a fault does not stop it),
// no command line ever holds an unvetted value, and nothing is left behind
// beyond what a failed run may leave (the ".ImageInProcess" file).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reliability.h"

namespace {

struct BadInput {
  const char* name;
  const char* tried;
  const char* variant;
  const char* edit;     // bash run after the fixture's set-up
  int status;           // expected exit status
  const char* console;  // text the console must hold (behind E for errors)
  const char* log;      // text the log must hold, or ""
  const char* needle;   // text no command line may hold, or ""
  const char* after;    // bash run after the tool, or ""
};

// Replaces a member of the outer bundle by 4 KB of text that no tool reads
// as an archive.
const char* const REPLACE_MEMBER =
    "replace_member() { local d; d=$(mktemp -d); (cd \"$d\" && tar -xf /var/maint/downloads/b.tar && "
    "yes corrupt | head -c 4096 >\"$1\" && tar -cf /var/maint/downloads/b.tar $(ls -A)); "
    "rm -rf \"$d\"; }\n";
const char* const SMALL_IMAGE_DIR =
    "mkdir /tmp/keep && mv /tftpboot/image/* /tmp/keep/ && mount -t tmpfs -o size=40m tmpfs "
    "/tftpboot/image && mv /tmp/keep/* /tftpboot/image/\n";

const char* const BASH1_MISSING =
    "E Fatal error: Maintenance control file maint_cmd_bash1 was not in the tar file.\n\n\n";
const char* const TAR_FAILED = "EAttempt to apply maintenance to image failed. Success.\n\n\n";
const char* const TOTALS = "ITotal files in image: ";

const BadInput CASES[] = {
    {"NotATar", "a bundle that is not a tar file", "plain",
     "echo 'not a tar archive' >/var/maint/downloads/b.tar", 1, BASH1_MISSING, "", "", ""},
    {"TruncatedTar", "a bundle cut off after 1 KB", "plain",
     "head -c 1024 /var/maint/downloads/b.tar >/tmp/t && mv /tmp/t /var/maint/downloads/b.tar", 1,
     BASH1_MISSING, "", "", ""},
    {"CorruptControlArchive", "control.tar.bz2 that is not bzip2", "plain",
     "replace_member control.tar.bz2", 1, BASH1_MISSING, "", "", ""},
    {"CorruptPayload", "maint.tar.bz2 that is not bzip2", "plain", "replace_member maint.tar.bz2", 1,
     TAR_FAILED, "   tar -> ", "", ""},
    {"MissingPayload", "maint.tar.bz2 missing", "plain", "without maint.tar.bz2", 1, TAR_FAILED,
     "maint.tar.bz2: Cannot open: No such file or directory", "", ""},
    {"MissingFixScript", "maint_cmd_bash2 missing: the run goes on", "plain",
     "without maint_cmd_bash2", 0, TOTALS, "maint_cmd_bash2: not found", "", ""},
    {"ScriptsNotExecutable", "scripts without execute permission: the run goes on", "plain",
     "edit_bundle chmod 644 maint_cmd_bash1 maint_cmd_bash2", 0, TOTALS,
     "maint_cmd_bash2: Permission denied", "", ""},
    {"BinaryMaintData", "maintData of binary bytes with zero bytes", "plain",
     "edit_bundle sh -c 'head -c 4096 /bin/true >maintData'", 1,
     "EFatal error: The maintenance data file maintData does not give oldImageName.\n\n\n", "", "",
     ""},
    {"BinaryMaintDataWithoutZeros", "maintData of binary bytes without zero bytes", "plain",
     "edit_bundle sh -c 'head -c 4096 /bin/true | tr -d \"\\000\" >maintData'", 1,
     "EFatal error: The maintenance data file maintData does not give oldImageName.\n\n\n", "", "",
     ""},
    {"HugeValue", "a 100,000-character oldImageName", "plain",
     "set_data oldImageName $(head -c 100000 /dev/zero | tr '\\0' a)", 1,
     "EFatal error: The maintenance data item oldImageName is too long: \"aaaa", "",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", ""},
    {"HugeLines", "100,000-character comment and unknown-key lines: the run goes on", "plain",
     "edit_bundle sh -c '{ printf \"#\"; head -c 100000 /dev/zero | tr \"\\0\" c; echo; "
     "printf \"junkKey=\"; head -c 100000 /dev/zero | tr \"\\0\" j; echo; cat maintData; } >m && "
     "mv m maintData'",
     0, TOTALS, "", "jjjjjjjjjjjjjjjjjjjj", ""},
    {"MissingKey", "maintData without newImageSize", "plain", "drop_data newImageSize", 1,
     "EFatal error: The maintenance data file maintData does not give newImageSize.\n\n\n", "", "",
     ""},
    {"EmptyKey", "an empty newImageName", "plain", "set_data newImageName ''", 1,
     "EFatal error: The maintenance data item newImageName is empty.\n\n\n", "", "", ""},
    {"RepeatedKey", "newImageSize given twice, the later one valid: the run goes on", "plain",
     "edit_bundle sed -i '1i newImageSize=junk' maintData", 0, TOTALS, "", "junk", ""},
    {"SizeZero", "newImageSize 0", "plain", "set_data newImageSize 0", 1,
     "EFatal error: The maintenance data item newImageSize must be a positive decimal number, not "
     "\"0\".\n\n\n",
     "", "", ""},
    {"SizeNegative", "newImageSize -16", "plain", "set_data newImageSize -16", 1,
     "EFatal error: The maintenance data item newImageSize must be a positive decimal number, not "
     "\"-16\".\n\n\n",
     "", "", ""},
    {"SizeNotANumber", "newImageSize 16MB", "plain", "set_data newImageSize 16MB", 1,
     "EFatal error: The maintenance data item newImageSize must be a positive decimal number, not "
     "\"16MB\".\n\n\n",
     "", "", ""},
    {"SizeLargerThanTheDisk", "newImageSize 999999999 on a 40 MB image directory", "plain",
     "set_data newImageSize 999999999\n" /* then */ "SMALL", 1,
     "EAttempt to create image file for new image failed. Success.\n\n\n", "No space left on device",
     "", "umount /tftpboot/image"},
    {"InodesTooMany", "newImageInodes 999999999", "plain", "set_data newImageInodes 999999999", 1,
     "EAttempt to format image file for new image failed. Success.\n\n\n", "", "", ""},
    {"InodesOverlong", "newImageInodes of 20 digits", "plain",
     "set_data newImageInodes 99999999999999999999", 1,
     "EFatal error: The maintenance data item newImageInodes must be a positive decimal number, "
     "not \"99999999999999999999\".\n\n\n",
     "", "", ""},
    {"ShellCharactersInTheImageName", "newImageName with ; and a blank", "plain",
     "set_data newImageName 'pos-2.2;touch pwned'", 1,
     "EFatal error: The new image name \"/tftpboot/image/pos-2.2;touch pwned.ImageInProcess\" holds "
     "characters that a shell command must not be given. Exiting.\n\n\n",
     "", ";touch", ""},
    {"ShellCharactersInTheChecksum", "oldImageMD5 of $(...): compared only, the run goes on", "plain",
     "set_data oldImageMD5 '$(touch /tmp/pwned)'", 0,
     "WMD5 from the original image we started from: $(touch /tmp/pwned)\n", "", "pwned", ""},
};

class BadInputRun : public ApplyRuns, public testing::WithParamInterface<BadInput> {};

TEST_P(BadInputRun, EndsCleanly) {
  const BadInput& c = GetParam();
  recordTrial("input", c.tried);
  std::string edit = c.edit;
  if (edit.size() >= 5 && edit.compare(edit.size() - 5, 5, "SMALL") == 0) {
    edit = edit.substr(0, edit.size() - 5) + SMALL_IMAGE_DIR;
  }
  std::string after = std::string(c.after) +
                      "\nls /tmp/pwned /root/pwned /tmp/maint_zor/*/pwned 2>/dev/null "
                      ">/share/out/pwned; true";
  Outcome o = runOnce(*sb, c.variant, std::string(REPLACE_MEMBER) + edit, after);
  EXPECT_EQ(c.status, o.status) << o.console;
  EXPECT_NE(std::string::npos, o.console.find(c.console)) << o.console;
  std::string message = c.console;
  if (c.status != 0 && message.size() > 3 && message.compare(message.size() - 3, 3, "\n\n\n") == 0) {
    EXPECT_EQ(o.console.size() - message.size(), o.console.rfind(message)) << "not the last message";
  }
  if (c.log[0]) {
    EXPECT_NE(std::string::npos, o.log.find(c.log));
  }
  if (c.needle[0]) {
    EXPECT_EQ("", commandsWith(o.log, c.needle));
  }
  EXPECT_EQ("", sb->readFile("out/pwned"));
  if (c.status == 0) {
    EXPECT_EQ(OK_LAST + "\n", o.stanza);
    EXPECT_EQ("final name /tftpboot/image/pos-2.2-20060301\n"
              "final name /tftpboot/image/pos-2.2-20060301.md5\n",
              o.state);
  } else {
    EXPECT_EQ(FAILED_LAST + "\n", o.stanza);
    EXPECT_EQ("", o.state);
  }
  EXPECT_EQ("", sb->leaks());
}

std::string caseName(const testing::TestParamInfo<BadInput>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(BadInputs, BadInputRun, testing::ValuesIn(CASES), caseName);

}  // namespace
