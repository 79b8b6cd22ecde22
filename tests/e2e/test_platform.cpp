// The tool among the platform's own programs: the message template current
// with the sources; German consoles (the installed catalogue, de_DE.UTF-8)
// of apply runs that fail and succeed and of makeKestroBundle, with the log
// kept in English (tests/e2e/german.txt); the installed builder in German
// and in English; the installed rotation stanza run
// by the real logrotate; `cmake --install`, the manual pages, and the rpm
// package installed and used in a throwaway root.
#include <unistd.h>

#include "root.h"

namespace {

std::string data(const std::string& name) {
  return readFile(std::string(DM_SOURCE_DIR) + "/tests/e2e/" + name);
}

TEST(Translation, TemplateHoldsExactlyTheMessagesOfTheSources) {
  REQUIRE_E2E(system("command -v xgettext msgcmp >/dev/null") == 0, "gettext is not installed");
  std::string fresh = "/tmp/dm-pot." + std::to_string(getpid());
  std::string pot = "msgcmp --use-untranslated ", src = DM_SOURCE_DIR;
  EXPECT_EQ(0, system(("cd " + src + " && bash po/make-pot.sh . " + fresh + " $(cat " DM_BINARY_DIR
                       "/po/applyKestro.sources) && " + pot + "po/applyKestro.pot " + fresh + " && " +
                       pot + fresh + " po/applyKestro.pot; r=$?; rm -f " + fresh + "; exit $r").c_str()))
      << "po/applyKestro.pot is not current: build the pot target";
}

// Runs of both commands with LANG=de_DE.UTF-8: a bundle built while an
// apply run waits for the lock, then succeeds; runs that fail; and one with
// a locale the system lacks.
TEST_F(E2E, GermanConsolesEnglishLog) {
  Outcome o = root.run(R"SH(
install -D -m 644 "$DM_BINARY_DIR/locale/de/LC_MESSAGES/applyKestro.mo" /usr/share/locale/de/LC_MESSAGES/applyKestro.mo
export LANG=de_DE.UTF-8; use plain; cd /root; mkb=$DM_BINARY_DIR/makeKestroBundle
run() { echo "== ${1##*/} ${*:2}"; "$@" 2>&1; echo "== $?"; }
mkdir -p /tmp/new/etc; echo a >/tmp/new/etc/a; dd if=/dev/zero of=/tmp/old.img bs=1M count=8 status=none
mke2fs -q -F /tmp/old.img; run "$mkb" -M --no-verify /tmp/old.img /tmp/new new.img >/share/build & builder=$!
wait_for grep -q 'Comparing the old image' /var/log/maint/makeKestroBundle.log
run "$TOOL" b; wait $builder; cat /share/build; run "$mkb" --fstype ext4
run "$TOOL" -M; run "$TOOL" a.tar b.tar; run "$TOOL" --help; run "$TOOL" -M -x
: >/tmp/empty.tar; run "$TOOL" -M /tmp/empty.tar; LANG=xx_YY.UTF-8 run "$TOOL" -M
rpm -e --nodeps tripwire; run "$TOOL" -M /tmp/empty.tar
bash "$DM_SOURCE_DIR/tests/e2e/root.sh" --standin 2.4.0; run "$TOOL" -M /tmp/empty.tar
cp /var/log/maint/kestro.log /share/log)SH");
  EXPECT_GLOB(data("german.txt"), o.out);
  std::string log = stamped(root.read("log"));
  // The waiting message alone is logged as shown.
  EXPECT_GLOB("T Warten auf die Freigabe der Sperrdatei der Delta-Wartung.\n\n" + DELIM + "T Starting apply "
              "phase for client POS image maintenance.\n*\nT Total files in image: 37    Total errors: 0. \n*", log);
  EXPECT_EQ(std::string::npos, log.find("Die Anwendungsphase")) << log;
  EXPECT_EQ("", o.leaks);
}

// The installed builder in the operator's language, end to end in a fresh
// root: a tree it refuses, then a bundle it verifies and the installed
// applyKestro applies; the verifying run's console reaches the builder's
// log in English.  Expected: tests/e2e/installed-builder-NAME.txt.
struct Language {
  const char* name;
  const char* lang;
};
void PrintTo(const Language& l, std::ostream* os) { *os << l.lang; }
class InstalledBuilder : public E2E, public testing::WithParamInterface<Language> {};

TEST_P(InstalledBuilder, BuildsVerifiesAndApplies) {
  Outcome o = root.run(std::string("export LANG=") + GetParam().lang + R"SH(
cmake --install "$DM_BINARY_DIR" --prefix /usr >/dev/null; mkdir -p /tmp/new/etc /tftpboot/image
run() { echo "== $*"; "$@" 2>&1; echo "== $?"; }; old=/tftpboot/image/pos-1.0; cd /root
dd if=/dev/zero of=$old bs=1M count=8 status=none; mke2fs -q -F $old; echo a >/tmp/new/etc/a
echo >"/tmp/new/etc/it's"; run makeKestroBundle -M $old /tmp/new pos-1.1; rm "/tmp/new/etc/it's"
run makeKestroBundle -M $old /tmp/new pos-1.1; run applyKestro -M pos-1.1.tar
grep -c 'Starting apply phase' /var/log/maint/makeKestroBundle.log)SH");
  EXPECT_GLOB(data(std::string("installed-builder-") + GetParam().name + ".txt"), o.out);
  EXPECT_EQ("", o.leaks);
}
INSTANTIATE_TEST_SUITE_P(Languages, InstalledBuilder,
                         testing::Values(Language{"German", "de_DE.UTF-8"},
                                         Language{"English", "C.UTF-8"}),
                         [](const testing::TestParamInfo<Language>& p) { return p.param.name; });

// The stanza names both logs without missingok: it is valid once both
// exist; a forced rotation compresses kestro.log into a dated file and
// makes a new one, 644 for root, that the next run writes alone.
TEST_F(E2E, RealLogrotateOnTheInstalledStanza) {
  Outcome o = root.run(R"SH(
cd /root; "$TOOL" first.tar >/dev/null; cd /var/log/maint; cp kestro.log /share/before
logrotate -d /etc/logrotate.d/maint 2>&1 | grep -c 'vantel.log.*No such file' ; : >vantel.log
logrotate -d /etc/logrotate.d/maint >/share/check 2>&1; echo "check $?"
logrotate -f -s /tmp/state /etc/logrotate.d/maint; echo "force $?"; ls; stat -c '%a %U %G %s' kestro.log
zcat kestro.log-$(date +%Y%m%d).gz >/share/rotated; cd /root; "$TOOL" second.tar >/dev/null
stat -c '%a %U %G' /var/log/maint/kestro.log; cp /var/log/maint/kestro.log /share/after)SH");
  EXPECT_GLOB("1\ncheck 0\nforce 0\nkestro.log\nkestro.log-[0-9]*.gz\nvantel.log\n644 root root 0\n"
              "644 root root\n", o.out) << root.read("check");
  EXPECT_GLOB("*\nT     */applyKestro first.tar \n*", stamped(root.read("before")));
  EXPECT_EQ(root.read("before"), root.read("rotated"));
  EXPECT_GLOB("\n" + DELIM + "T Starting apply phase *\nT     */applyKestro second.tar \n*",
              stamped(root.read("after")));
  EXPECT_EQ(std::string::npos, root.read("after").find("first.tar"));
}

// Installed (install.txt), a command lies in sbin with its gzipped page, the
// catalogue in share/locale, nothing else; the pages render without
// warnings.  The rpm package installs into rpm's database and /usr, the
// tool finds itself in it and nothing installed differs from the package.
TEST_F(E2E, InstallManualPagesAndRpmPackage) {
  Outcome o = root.run(R"SH(
b=$DM_BINARY_DIR; DESTDIR=/tmp/inst cmake --install "$b" --prefix /usr >/dev/null && cd /tmp/inst
find . ! -type d -printf '%P %m\n' | sort; cmp usr/sbin/applyKestro "$TOOL" && echo same tool
cmp usr/share/locale/de/LC_MESSAGES/applyKestro.mo "$b/locale/de/LC_MESSAGES/applyKestro.mo" && echo same catalogue
for p in applyKestro makeKestroBundle kestroStatus; do
  zcat usr/share/man/man8/$p.8.gz | cmp - "$DM_SOURCE_DIR/man/$p.8"; groff -man -ww -z "$DM_SOURCE_DIR/man/$p.8" 2>&1
  MANWIDTH=80 man --warnings -l usr/share/man/man8/$p.8.gz 2>&1 >/dev/null; echo "$p page"
done
cpack --config "$b/CPackConfig.cmake" -G RPM -B /tmp/pkg >/share/cpack 2>&1; cd /tmp/pkg; ls *.rpm
rpm -qpR *.rpm | grep -v '^rpmlib('; rpm -i --nodeps *.rpm 2>/dev/null; rpm -ql deltamaint
cd /root; applyKestro b.tar >/dev/null; echo "run $?"; rpm -V deltamaint; echo "verify $?"
grep -o 'Executable applyKestro is from RPM .*' /var/log/maint/kestro.log)SH");
  EXPECT_GLOB(data("install.txt"), o.out) << root.read("cpack");
  EXPECT_EQ("", o.leaks);
}

}  // namespace
