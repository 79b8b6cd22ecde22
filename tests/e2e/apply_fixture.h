// Shared fixture of the apply-run tests: real old images and bundles built
// once per build tree in a sandbox of their own, kept in the build
// directory, and copied into each test's sandbox; plus the shell functions the tests use to vary a bundle
// and to inspect a finished image.
#ifndef DELTAMAINT_TESTS_APPLY_FIXTURE_H
#define DELTAMAINT_TESTS_APPLY_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sandbox.h"
#include "tool_run.h"

class ApplyRuns : public testing::Test {
 public:
  // Host (and sandbox) path of the built fixtures:
  //   plain/pos-2.1-20060105 and plain/b.tar (ext2, new pos-2.2-20060301)
  //   gz/pos-2.1-20060105.gz and gz/b.tar (ext3, new pos-2.2-20060301.gz)
  static std::string fixtures();

 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;

  // A bash prelude for the tool's run: the shell functions below, the old
  // image of `variant` copied into /tftpboot/image and its bundle into
  // /var/maint/downloads/b.tar.
  //   without MEMBER          - drop a member of control.tar.bz2 or the payload
  //   set_data KEY VALUE      - replace a maintData line (KEY=VALUE)
  //   drop_data KEY           - remove a maintData line
  //   set_script NAME TEXT    - replace maint_cmd_bash1 or maint_cmd_bash2
  //   check_image IMAGE       - e2fsck -fn and the manifest check of a
  //                             finished image into /share/out/check
  static std::string setUp(const std::string& variant);

  // Bash (after setUp) for two instances of the tool on the bundle: the
  // first ("b") holds the lock while its removal script waits for a sign;
  // the second ("-M /tmp/javagz.tar") is started meanwhile.  Once the
  // condition `waiting` holds, `whileWaiting` runs and the first is let go.
  // Leaves out/first, out/second (consoles), out/status1, out/status2,
  // out/log and out/stanzas.
  static std::string lockWaitRuns(const std::string& waiting, const std::string& whileWaiting);

  // Runs the tool on the prepared bundle in a fresh sandbox; the checker's
  // rpm stand-in is version 2.3.1 unless `rpm` says otherwise.
  ToolRun apply(const std::string& args, const std::string& before = "",
                const std::string& after = "", const std::string& variant = "plain",
                const std::string& rpm = "2.3.1");

  std::unique_ptr<Sandbox> sb;
  static std::string builtDir;
  static std::string buildFailure;
};

// The log records of a run less the captured command output ("    "
// indent), with the run's working directory written as W and its process
// id as P.
std::vector<std::string> runRecords(const ToolRun& run);
// The process id of the run, read from its working directory's name.
std::string runPid(const ToolRun& run);


#endif  // DELTAMAINT_TESTS_APPLY_FIXTURE_H
