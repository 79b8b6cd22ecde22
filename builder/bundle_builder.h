// bundle_builder.h - the maintenance bundle builder (makeKestroBundle): its
// run state, the failure ending, the private root its mounts live in, the
// tree snapshots it compares, the change plan it derives from the checker's
// report, and the steps that write, build and verify the bundle.  Used by
// the builder's own sources only.
#ifndef DELTAMAINT_BUNDLE_BUILDER_H
#define DELTAMAINT_BUNDLE_BUILDER_H

#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "fixed_paths.h"

// The builder mounts its trees where the apply run mounts the new image
// (IMAGE_MOUNT_POINT), inside its private root, so the databases hold the
// run's paths.

// What the command line and the inputs decided.
struct BuildRun {
  std::string oldImage;  // the old image as stored (absolute path)
  std::string oldName;   // its file name: maintData's old image name
  std::string newTree;   // the wanted tree (absolute, resolved)
  std::string newName;   // the new image's file name
  std::string output;    // the bundle to write (absolute path)
  std::string size;      // megabytes
  std::string inodes;
  std::string fstype;       // "ext2" or "ext3"
  std::string oldMD5;       // md5sum of the stored old image
  bool gzipped = false;     // the images are gzipped (".gz" in the names)
  bool verify = true;       // apply the bundle in a throwaway root afterwards
  std::string work;         // private working directory on the host
  std::string applyKestro;  // the apply command used by the verification
  std::string signKey;      // private key for --sign (absolute path), or ""
};
extern BuildRun build;
// With --sign, the public key's file name in the verification's keyring
// (W/vkeys, bound on the keyring of the throwaway root).
constexpr const char* SIGNER_KEY_NAME = "signer.pem";

// True in a child process that works inside a private root: its failure
// ending leaves the host's clean-up to the parent.
extern bool bbInChild;

// Failure ending: the message (English to the log, translated to the
// console with severity E), the clean-up, a log delimiter, exit status 1.
[[noreturn]] void bbFail(const char* fmtstr, const char* arg1 = nullptr,
                         const char* arg2 = nullptr);
// Same, after copying a command's captured output into the log.
[[noreturn]] void bbFailWithOutput(const char* output, const char* fmtstr,
                                   const char* arg1 = nullptr, const char* arg2 = nullptr);
// Commands are composed with composeCommand (one that would not fit ends
// the run) and run with runCommand.
// Runs `cmd`, whose output goes to `output`; a non-zero status ends the run
// with `failure`, a whole sentence whose %s receives "rc = N".
void bbRunOrFail(const char* cmd, const char* output, const char* failure);
// "W/name".
std::string bbPath(const char* name);

// ---------------------------------------------------------------------------
// Private root: a mount namespace of its own with an overlay of / on a tmpfs
// ---------------------------------------------------------------------------

struct RootBind {
  std::string source;  // host path (file or directory)
  std::string target;  // path inside the private root
  bool readOnly;
};

// In a child process: leaves the host's mount namespace, builds an overlay
// root in `base` (an empty host directory), binds /dev, /proc, /sys, the log
// file and `binds`, mounts a tmpfs on /tmp (or binds `tmpSource` there),
// makes name lookups use files only, and changes root into it.  Ends the
// child on failure.
void enterPrivateRoot(const std::string& base, const std::vector<RootBind>& binds,
                      const std::string& tmpSource);
// Runs `body` in a child process and waits; ends the run when a signal
// arrived or the child failed, then with `failure` (a whole sentence) after
// the child's own message.
void runInChild(void (*body)(), const char* failure);

// ---------------------------------------------------------------------------
// Tree snapshots
// ---------------------------------------------------------------------------

struct TreeEntry {
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  nlink_t nlink = 0;
  off_t size = 0;
  dev_t rdev = 0;
  ino_t ino = 0;
  std::string target;  // a symbolic link's target
};
// Paths relative to the tree's root ("" is the root), without a leading
// slash; the top-level lost+found is left out.
typedef std::map<std::string, TreeEntry> Tree;

// Reads the tree below `root` without following links; false with *error
// set when a directory or entry cannot be read.
bool readTree(const std::string& root, Tree& tree, std::string* error);
// 1 when a relative path can be written into a maintenance script and read
// back from the checker's report unchanged: printable ASCII without quotes,
// backslash or back-quote, no component beginning or ending with a blank,
// not longer than the report's lines allow.
int safeTreeName(const std::string& rel);
// The names sharing `rel`'s inode in `tree` (rel itself included); empty
// when `rel` is not a regular file there.
std::set<std::string> linkGroup(const Tree& tree, const std::string& rel);
// Differences between two trees (owners, modes, types, content, link
// targets, device numbers, hard-link groups), at most `max`, each one line.
std::vector<std::string> compareTrees(const std::string& wantRoot, const Tree& want,
                                      const std::string& haveRoot, const Tree& have, size_t max);
// A name fit for a message: control and non-ASCII bytes shown as \ooo.
std::string printableName(const std::string& rel);

// ---------------------------------------------------------------------------
// The change plan
// ---------------------------------------------------------------------------

struct ChangePlan {
  std::set<std::string> remove;   // removed by maint_cmd_bash1
  std::set<std::string> payload;  // carried by maint.tar.bz2
  std::set<std::string> fix;      // owner, group and mode set by maint_cmd_bash2
};

// Builds the plan from the change lists of the last parseTWReport and the
// two trees.
ChangePlan planChanges(const Tree& oldTree, const Tree& newTree);
// Payload paths ordered so that every directory comes before its contents.
std::vector<std::string> payloadOrder(const std::set<std::string>& payload);

// ---------------------------------------------------------------------------
// The scripts' command lines
// ---------------------------------------------------------------------------

// Each command line of a script names as many objects as fit in this many
// bytes (the whole line with its newline): far fewer processes than one
// command per object, and far below the kernel's limits on arguments and
// what bash reads comfortably.
const size_t SCRIPT_LINE_BYTES = 32768;

// maint_cmd_bash1: "rm -rf --" lines for every removed object whose
// directory is not removed as well.
std::vector<std::string> removalLines(const std::set<std::string>& remove, size_t budget);
// maint_cmd_bash2: "chown -h UID:GID --" lines, one group of lines for each
// owner and group, then "chmod MODE --" lines, one group for each mode, for
// every object but symbolic links.  Every chown comes before every chmod:
// a chown clears the set-id bits that the chmod sets.
std::vector<std::string> fixLines(const std::set<std::string>& fix, const Tree& newTree,
                                  size_t budget);

// ---------------------------------------------------------------------------
// Steps
// ---------------------------------------------------------------------------

// Inside the build root: mounts on (ending the run with `failure`, as
// bbRunOrFail does) and unmounts from the mount point, and the checker's
// control files in W/tw with a policy compiled from `rule`.
void bbMountAt(const char* how, const char* source, const char* failure);
void bbUnmount(const char* path);
void bbCheckerFiles(const char* rule);
// Inside the build root: the checker's database of the old tree, the check
// of the wanted tree at the same path, the full report parsed into the
// change lists.
void findDifferences();
// Writes maint_cmd_bash1, maint_cmd_bash2, maintData and the payload list
// into W/control; the payload archive into W/maint.tar.bz2.
void writeBundleFiles(const ChangePlan& plan, const Tree& newTree);
// Builds the expected new image as the apply run will, checks it against
// the wanted tree, and writes the checker's database of it; returns the
// number of objects in it (checked here against the image under
// --no-verify; the verifying apply run checks them otherwise).
long buildExpectedImage(const Tree& newTree);
// The whole build in the private root (child process body).
void buildInPrivateRoot();
// The apply run on the bundle in a throwaway root (child process body); it
// must report `bbExpectedObjects` objects, the count the build step found.
void verifyInSandbox();
extern long bbExpectedObjects;

#endif  // DELTAMAINT_BUNDLE_BUILDER_H
