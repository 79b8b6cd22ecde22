// End-to-end apply runs on real images and bundles: successful runs (plain,
// gzipped, ext3, the date-less fallback), the checksum warnings, and what
// every run leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "apply_fixture.h"

using Lines = std::vector<std::string>;

static const std::string START = "\nStarting apply phase for client POS image maintenance.\n";

// The records of a successful run of the plain fixture, less command output.
static Lines plainRunRecords(const std::string& md5) {
  const std::string tmp = " >W/temp.file 2>&1";
  return Lines{
      DELIMITER,
      "T Starting apply phase for client POS image maintenance.",
      "T Command line issued:",
      "T Error locating executable: applyKestro",
      "T >>/bin/tar  -xf /var/maint/downloads/b.tar 2>/dev/null",
      "T >>/bin/tar -xjf W/control.tar.bz2 2>/dev/null",
      "T Old Image Name   = /tftpboot/image/pos-2.1-20060105",
      "T New Image Name   = /tftpboot/image/pos-2.2-20060301",
      "T Old Image Name   = /tftpboot/image/pos-2.1-20060105",
      "T Old Image MD5    = " + md5,
      "T New Image Name   = /tftpboot/image/pos-2.2-20060301",
      "T New Image Size   = 16 Meg.",
      "T New Image FSType = ext2",
      "T >>/bin/mount -r /tftpboot/image/pos-2.1-20060105 W/oldimage -o loop" + tmp,
      "T Creating and zeroing file file to hold the new image.",
      "T >>/bin/dd if=/dev/zero of=/tftpboot/image/pos-2.2-20060301.ImageInProcess bs=1M "
      "count=16" + tmp,
      "T Formatting a filesystem into the new image file.",
      "T >>/sbin/mke2fs -N 2048 -F /tftpboot/image/pos-2.2-20060301.ImageInProcess" + tmp,
      "T >>/bin/mount /tftpboot/image/pos-2.2-20060301.ImageInProcess /tftpboot/image/zor_image "
      "-o loop" + tmp,
      "T >>/bin/cp -a W/oldimage/* /tftpboot/image/zor_image",
      "T >>/bin/umount W/oldimage" + tmp,
      "T Cleaning out deleted/changed files/directories from the new image.",
      "T >>W/maint_cmd_bash1" + tmp,
      "T >>/bin/tar --same-owner -xpjf W/maint.tar.bz2" + tmp,
      "T tar reported no problems applying maintenance.",
      "T Fixing owner, group, and permission changes for files in the new image.",
      "T >>W/maint_cmd_bash2" + tmp,
      " ",
      "T Running tripwire on newly created image to validate maintenance apply.",
      "T >>/usr/sbin/twadmin -m G -S /var/maint/dm.skey  -Q \"\" >/tmp/maint_zor/temp.P.twadmin "
      "2>&1 (rc = 0)",
      "T >>/usr/sbin/twadmin -m G -L /var/maint/dm.lkey -P \"\"  >/tmp/maint_zor/temp.P.twadmin "
      "2>&1 (rc = 0)",
      "T >>/usr/sbin/twadmin -m F -c /var/maint/dm.config -e /tmp/maint_zor/dm.config.P "
      ">/tmp/maint_zor/temp.P.twadmin 2>&1 (rc = 0)",
      "T Processing command:",
      " ",
      "T >>/usr/sbin/twadmin -m P -c /var/maint/dm.config -p /var/maint/dm.policy -e "
      "/tmp/maint_zor/tw.policy.P >/tmp/maint_zor/temp.P.twadmin 2>&1 (rc = 0)",
      "T >>/usr/sbin/tripwire -m c -c /var/maint/dm.config -p /var/maint/dm.policy -d "
      "W/tw.maint_db >W/trip.lst 2>&1",
      "T >>/bin/umount /tftpboot/image/zor_image  >W/temp.file 2>&1",
      "T Total files in image: 37    Total errors: 0. ",
      "T Running filesystem check on the newly generated image file.",
      "T >>/sbin/e2fsck -f /tftpboot/image/pos-2.2-20060301.ImageInProcess 2>W/temp.file",
  };
}

// What a successful run leaves: the images and the record, nothing else.
static void expectCleanEnd(const ToolRun& run, const Lines& images) {
  EXPECT_EQ(images, run.leftovers);
  EXPECT_EQ("", run.leaks);
  Lines stanza = lines(run.stanzas);
  ASSERT_GE(stanza.size(), 3u);
  EXPECT_EQ("/var/maint/downloads/b.tar {", stanza[stanza.size() - 3]);
  EXPECT_TRUE(std::regex_match(stanza[stanza.size() - 2],
                               std::regex(R"(   Applied:   OK - \d{4}/\d\d/\d\d-\d\d:\d\d:\d\d)")))
      << stanza[stanza.size() - 2];
  EXPECT_EQ("}", stanza.back());
}

TEST_F(ApplyRuns, PlainExt2Image) {
  ToolRun run = apply("-M b",
                      "md5sum /tftpboot/image/pos-2.1-20060105 | cut -d' ' -f1 >/share/out/oldmd5",
                      "check_image /tftpboot/image/pos-2.2-20060301\n"
                      "md5sum </tftpboot/image/pos-2.2-20060301 | cut -d' ' -f1 >/share/out/md5\n"
                      "stat -c '%a' /tftpboot/image/pos-2.2-20060301 "
                      "/tftpboot/image/pos-2.2-20060301.md5 >/share/out/modes\n"
                      "cp /tftpboot/image/pos-2.2-20060301.md5 /share/out/record");
  ASSERT_EQ(0, run.status) << run.console << run.log;
  EXPECT_TRUE(std::regex_match(
      run.console,
      std::regex(START + "ITotal files in image: 37    Total errors: 0. \n"
                         "IElapsed time = 0:00:\\d\\d \n\n\n")))
      << run.console;
  EXPECT_EQ("fsck 0\n", sb->readFile("out/check"));
  std::string md5 = lines(sb->readFile("out/md5"))[0];
  EXPECT_EQ(md5 + "   4096 4096\n", sb->readFile("out/record"));
  EXPECT_EQ("755\n755\n", sb->readFile("out/modes"));

  Lines records = runRecords(run);
  Lines expected = plainRunRecords(lines(sb->readFile("out/oldmd5"))[0]);
  ASSERT_EQ(expected.size() + 2, records.size());
  EXPECT_EQ(expected, Lines(records.begin(), records.begin() + static_cast<long>(expected.size())));
  EXPECT_TRUE(std::regex_match(records[expected.size()],
                               std::regex(R"(T Elapsed time = 0:00:\d\d )")));
  EXPECT_EQ(DELIMITER, records.back());

  expectCleanEnd(run, {"/tftpboot/image/pos-2.1-20060105", "/tftpboot/image/pos-2.2-20060301",
                       "/tftpboot/image/pos-2.2-20060301.md5"});
}

TEST_F(ApplyRuns, GzippedExt3Image) {
  ToolRun run = apply("b", "",
                      "check_image /tftpboot/image/pos-2.2-20060301.gz\n"
                      "gunzip -c /tftpboot/image/pos-2.2-20060301.gz | md5sum | cut -d' ' -f1 "
                      ">/share/out/md5\n"
                      "stat -c %s /tftpboot/image/pos-2.2-20060301.gz >/share/out/size\n"
                      "dumpe2fs -h /tmp/check.img 2>/dev/null | grep -c has_journal "
                      ">/share/out/journal\n"
                      "cp /tftpboot/image/pos-2.2-20060301.md5 /share/out/record",
                      "gz");
  ASSERT_EQ(0, run.status) << run.console << run.log;
  EXPECT_EQ("fsck 0\n", sb->readFile("out/check"));
  EXPECT_EQ("1\n", sb->readFile("out/journal"));
  std::string md5 = lines(sb->readFile("out/md5"))[0];
  long long size = std::stoll(sb->readFile("out/size"));
  EXPECT_EQ(md5 + "   4096 4096 " + std::to_string((size + 4095) / 4096) + "\n",
            sb->readFile("out/record"));
  Lines records = runRecords(run);
  for (const char* expected :
       {"T >>/usr/bin/gunzip -c /tftpboot/image/pos-2.1-20060105.gz 2>W/temp.file > "
        "/tmp/maint_zor/temp.P.old",
        "T >>/bin/mount -r /tmp/maint_zor/temp.P.old W/oldimage -o loop >W/temp.file 2>&1",
        "T Converting the ext2 image filesystem to ext3.",
        "T >>/sbin/tune2fs -j /tftpboot/image/pos-2.2-20060301.gz.ImageInProcess >W/temp.file "
        "2>&1",
        "T >>/usr/bin/gzip -c /tftpboot/image/pos-2.2-20060301.gz.ImageInProcess 2>W/temp.file > "
        "/tftpboot/image/pos-2.2-20060301.gz",
        "T New Image FSType = ext3", "T Total files in image: 37    Total errors: 0. "}) {
    EXPECT_NE(records.end(), std::find(records.begin(), records.end(), expected)) << expected;
  }
  expectCleanEnd(run, {"/tftpboot/image/pos-2.1-20060105.gz",
                       "/tftpboot/image/pos-2.2-20060301.gz",
                       "/tftpboot/image/pos-2.2-20060301.md5"});
}

TEST_F(ApplyRuns, FilesystemTypeOtherThanExt3GivesExt2) {
  for (const char* type : {"EXT3", "ext4"}) {
    ToolRun run = apply("b", std::string("set_data newImageFStype ") + type,
                        "dumpe2fs -h /tftpboot/image/pos-2.2-20060301 2>/dev/null | "
                        "grep -c has_journal >/share/out/journal");
    EXPECT_EQ(0, run.status) << type;
    EXPECT_EQ("0\n", sb->readFile("out/journal")) << type;
    EXPECT_EQ(START + "Total files in image: 37    Total errors: 0. \n",
              run.console.substr(0, run.console.find("Elapsed")))
        << type;
  }
}

TEST_F(ApplyRuns, DatelessFallbackName) {
  ToolRun run = apply("b",
                      "mv /tftpboot/image/pos-2.1-20060105.gz /tftpboot/image/pos-2.1.gz\n"
                      "touch /tftpboot/image/pos-2.2.gz",
                      "", "gz");
  ASSERT_EQ(0, run.status) << run.console << run.log;
  Lines records = runRecords(run);
  EXPECT_NE(records.end(),
            std::find(records.begin(), records.end(),
                      "T Old Image Name   = /tftpboot/image/pos-2.1-20060105.gz"));
  EXPECT_NE(records.end(), std::find(records.begin(), records.end(),
                                     "T Old Image Name   = /tftpboot/image/pos-2.1.gz"));
  EXPECT_NE(records.end(), std::find(records.begin(), records.end(),
                                     "T New Image Name   = /tftpboot/image/pos-2.2.gz"));
  // The stale file of the final name was replaced by the new image.
  expectCleanEnd(run, {"/tftpboot/image/pos-2.1.gz", "/tftpboot/image/pos-2.2.gz",
                       "/tftpboot/image/pos-2.2.md5"});
}

TEST_F(ApplyRuns, ChecksumMismatchWarnsOnTheConsoleOnly) {
  ToolRun run = apply("-M b", "set_data oldImageMD5 0123456789abcdef0123456789abcdef\n"
                              "md5sum /tftpboot/image/pos-2.1-20060105 | cut -d' ' -f1 "
                              ">/share/out/oldmd5");
  ASSERT_EQ(0, run.status);
  std::string local = lines(sb->readFile("out/oldmd5"))[0];
  EXPECT_EQ(START +
                "WWARNING: Local copy of the old image we are starting from DOES NOT match the "
                "one the maintenance bundle was built from.\n"
                "WMD5 from the original image we started from: "
                "0123456789abcdef0123456789abcdef\n"
                "WMD5 from the local image we will use:        " + local + "\n"
                "ITotal files in image: 37    Total errors: 0. \n",
            run.console.substr(0, run.console.find("IElapsed")));
  EXPECT_EQ(std::string::npos, run.log.find("WARNING"));
}

TEST_F(ApplyRuns, ViolationsAreReportedNotEnforced) {
  ToolRun run = apply("-M b", "set_script maint_cmd_bash2 'chmod 600 etc/hosts; echo fixed'");
  ASSERT_EQ(0, run.status);
  EXPECT_NE(std::string::npos, run.console.find("ITotal files in image: 37    Total errors: "));
  EXPECT_EQ(std::string::npos, run.console.find("Total errors: 0. "));
  Lines log = logLines(run.log);
  EXPECT_NE(log.end(), std::find(log.begin(), log.end(), "T     fixed"));
  expectCleanEnd(run, {"/tftpboot/image/pos-2.1-20060105", "/tftpboot/image/pos-2.2-20060301",
                       "/tftpboot/image/pos-2.2-20060301.md5"});
}

TEST_F(ApplyRuns, ScriptsThatFailOrAreMissingDoNotStopTheRun) {
  ToolRun run = apply("b", "without maint_cmd_bash2\nset_script maint_cmd_bash1 'exit 3'");
  EXPECT_EQ(0, run.status);
  Lines records = runRecords(run);
  auto at = std::find(records.begin(), records.end(), "T >>W/maint_cmd_bash2 >W/temp.file 2>&1");
  ASSERT_NE(records.end(), at);
  Lines log = logLines(run.log);
  EXPECT_NE(log.end(), std::find_if(log.begin(), log.end(), [](const std::string& l) {
              return l.find("maint_cmd_bash2: not found") != std::string::npos;
            }));
}

TEST_F(ApplyRuns, SecondInstanceWaitsForTheLock) {
  // The first run holds the lock while its removal script waits for a
  // sign; the second is started meanwhile and must wait, say so once, and
  // go on when the first has ended.
  std::string script =
      setUp("plain") + lockWaitRuns("grep -q Waiting /share/out/second",
                                    "sleep 1\ncp /var/log/maint/kestro.log /share/out/waiting-log\n");
  RunResult r = sb->run(script, 300);
  ASSERT_EQ(0, r.status) << r;
  EXPECT_EQ("0\n", sb->readFile("out/status1"));
  EXPECT_EQ("1\n", sb->readFile("out/status2"));
  const std::string waiting = "Waiting for the delta maintenance lock file to be released.";
  EXPECT_EQ(waiting + "\n" + START +
                "WFatal error: Maintenance bundle /tmp/javagz.tar does not exist.\n\n\n",
            sb->readFile("out/second"));
  // While the first run works, the second's message is the log's last record.
  Lines during = logLines(sb->readFile("out/waiting-log"));
  ASSERT_FALSE(during.empty());
  EXPECT_EQ("T " + waiting, during.back());
  Lines log = logLines(sb->readFile("out/log"));
  EXPECT_EQ(1, std::count(log.begin(), log.end(), "T " + waiting));
  Lines stanzas = lines(sb->readFile("out/stanzas"));
  ASSERT_EQ(8u, stanzas.size());
  EXPECT_EQ("/var/maint/downloads/b.tar {", stanzas[1]);
  EXPECT_EQ(0u, stanzas[2].find("   Applied:   OK - "));
  EXPECT_EQ("/tmp/javagz.tar {", stanzas[5]);
  EXPECT_EQ(0u, stanzas[6].find("   Applied:   Failed - "));
}
