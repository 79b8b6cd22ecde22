// Apply runs that succeed, on the real fixtures: a plain ext2 image and a
// gzipped ext3 one, checked against the tree the bundle was made for; and
// the run lock, with a second run started while the first holds it.
#include "root.h"

static std::string fixture(const std::string& file) {
  std::string text = readFile(std::string(DM_BINARY_DIR) + "/fixtures/apply/" + file);
  return text.substr(0, text.find('\n'));
}

TEST_F(E2E, PlainExt2Image) {
  Outcome o = root.apply("-M b", "use plain",
                         "check_image /tftpboot/image/pos-2.2-20060301\n"
                         "cd /tftpboot/image; md5sum <pos-2.2-20060301 | cut -c1-32\n"
                         "cat pos-2.2-20060301.md5; stat -c %a pos-2.2-20060301*\n"
                         "tail -n 3 /var/maint/clientinstall.bundles");
  EXPECT_EQ(0, o.tool) << o;
  EXPECT_GLOB(START + "ITotal files in image: 37    Total errors: 0. \n"
                      "IElapsed time = 0:00:[0-9][0-9] \n\n\n", o.console);
  std::string expected = readFile(std::string(DM_SOURCE_DIR) + "/tests/e2e/plain-run.log");
  expected.replace(expected.find("@MD5@"), 5, fixture("plain/old.md5"));
  EXPECT_GLOB(expected, o.records);
  std::vector<std::string> after = lines(o.after);
  ASSERT_EQ(8u, after.size()) << o.after;
  EXPECT_EQ("fsck 0", after[0]);
  EXPECT_EQ(after[1] + "   4096 4096", after[2]);
  EXPECT_EQ("755 755", after[3] + " " + after[4]);
  EXPECT_GLOB("/var/maint/downloads/b.tar {\n   Applied:   OK - [0-9][0-9][0-9][0-9]/[01][0-9]/"
              "[0-3][0-9]-[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\n}", after[5] + "\n" + after[6] + "\n" + after[7]);
  EXPECT_EQ("pos-2.1-20060105 pos-2.2-20060301 pos-2.2-20060301.md5\n", o.left);
  EXPECT_EQ("", o.leaks);
}

TEST_F(E2E, GzippedExt3Image) {
  Outcome o = root.apply("b", "use gz",
                         "check_image /tftpboot/image/pos-2.2-20060301.gz\n"
                         "dumpe2fs -h /tmp/check.img 2>/dev/null | grep -c has_journal\n"
                         "cd /tftpboot/image; gunzip -c pos-2.2-20060301.gz | md5sum | cut -c1-32\n"
                         "echo $(( ($(stat -c %s pos-2.2-20060301.gz) + 4095) / 4096 ))\n"
                         "cat pos-2.2-20060301.md5");
  EXPECT_EQ(0, o.tool) << o;
  EXPECT_GLOB(START + "Total files in image: 37    Total errors: 0. \n"
                      "Elapsed time = 0:00:[0-9][0-9] \n\n\n", o.console);
  EXPECT_GLOB("*T >>/usr/bin/gunzip -c /tftpboot/image/pos-2.1-20060105.gz 2>W/temp.file > "
              "/tmp/maint_zor/temp.P.old\n*T New Image FSType = ext3\n"
              "*T >>/bin/mount -r /tmp/maint_zor/temp.P.old W/oldimage -o loop >W/temp.file 2>&1\n"
              "*T Converting the ext2 image filesystem to ext3.\n"
              "T >>/sbin/tune2fs -j /tftpboot/image/pos-2.2-20060301.gz.ImageInProcess >W/temp.file"
              " 2>&1\n*T Total files in image: 37    Total errors: 0. \n"
              "*T >>/usr/bin/gzip -c /tftpboot/image/pos-2.2-20060301.gz.ImageInProcess "
              "2>W/temp.file > /tftpboot/image/pos-2.2-20060301.gz\n*", o.records);
  std::vector<std::string> after = lines(o.after);
  ASSERT_EQ(5u, after.size()) << o.after;
  EXPECT_EQ("fsck 0", after[0]);
  EXPECT_EQ("1", after[1]);  // a journal
  EXPECT_EQ(after[2] + "   4096 4096 " + after[3], after[4]);
  EXPECT_EQ("pos-2.1-20060105.gz pos-2.2-20060301.gz pos-2.2-20060301.md5\n", o.left);
  EXPECT_EQ("", o.leaks);
}

// The first run holds the lock while its removal script waits for a sign;
// the second, started meanwhile, says once that it waits and goes on when
// the first has ended.  Both consoles and the log are left in /share.
std::string lockWait(const std::string& prelude) {
  return "use plain\n" + prelude +
         "set_script maint_cmd_bash1 'touch /tmp/started; while [ ! -e /tmp/go ]; do sleep 0.1; done'\n"
         "cd /root; \"$TOOL\" b </dev/null >/share/first 2>&1 & first=$!\n"
         "wait_for test -e /tmp/started\n"
         "\"$TOOL\" -M /tmp/javagz.tar </dev/null >/share/second 2>&1 & second=$!\n"
         "wait_for grep -q Waiting /var/log/maint/kestro.log && cp /var/log/maint/kestro.log /share/waiting\n"
         "touch /tmp/go; wait $first; echo $?; wait $second; echo $?\n"
         "cp /var/log/maint/kestro.log /share/log; cp /var/maint/clientinstall.bundles /share/stanzas";
}

TEST_F(E2E, SecondRunWaitsForTheLock) {
  Outcome o = root.run(lockWait(""));
  ASSERT_EQ("0\n1\n", o.out) << o;
  const std::string waiting = "Waiting for the delta maintenance lock file to be released.\n";
  EXPECT_EQ(waiting + START + "WFatal error: Maintenance bundle /tmp/javagz.tar does not exist.\n\n\n",
            root.read("second"));
  // While the first run works, the waiting message is the log's last record.
  EXPECT_GLOB("*\nT " + waiting, stamped(root.read("waiting")));
  std::string log = stamped(root.read("log"));
  EXPECT_EQ(log.find(waiting), log.rfind(waiting));
  EXPECT_GLOB("\n/var/maint/downloads/b.tar {\n   Applied:   OK - *}\n\n"
              "/tmp/javagz.tar {\n   Applied:   Failed - *}\n", root.read("stanzas"));
  EXPECT_EQ("", o.leaks);
}
