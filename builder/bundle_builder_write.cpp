// bundle_builder_write.cpp - writes the bundle's members from the change
// plan: maint_cmd_bash1 (removals), maint_cmd_bash2 (owners, groups and
// modes of the wanted tree), maintData (the six keys), and the payload
// archive maint.tar.bz2 with numeric owners, modes and times.  Paths in the
// scripts are relative to the image root they run in and single-quoted;
// only names that safeTreeName accepts ever get here.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "bundle_builder.h"
#include "maint.h"
#include "owned.h"

// './path' for a script line; the root is './'.
static std::string quoted(const std::string& rel) { return "'./" + rel + "'"; }

static OwnedFile openMember(const std::string& path) {
  OwnedFile f(fopen(path.c_str(), "w"));
  if (!f) bbFail("Fatal error: Unable to write %s.", path.c_str(), strerror(errno));
  return f;
}

// Closes the member here, not at the end of the holder's scope: a write
// error that only shows when the buffer is flushed must still fail the build.
static void closeMember(OwnedFile f, const std::string& path, mode_t mode) {
  if (fclose(f.release()) != 0 || chmod(path.c_str(), mode) != 0) {
    bbFail("Fatal error: Unable to write %s.", path.c_str(), strerror(errno));
  }
}

// True when a directory above `rel` is removed already.
static bool parentRemoved(const std::set<std::string>& remove, const std::string& rel) {
  for (size_t slash = rel.find('/'); slash != std::string::npos; slash = rel.find('/', slash + 1)) {
    if (remove.count(rel.substr(0, slash))) return true;
  }
  return false;
}

static void writeRemovals(const ChangePlan& plan, const std::string& path) {
  OwnedFile f = openMember(path);
  fputs(
      "#!/bin/bash\n"
      "# Removes the files and directories that the new image no longer has and\n"
      "# those the payload replaces; runs in the new image's root.\n",
      f.get());
  for (const std::string& rel : plan.remove) {
    if (!parentRemoved(plan.remove, rel)) fprintf(f.get(), "rm -rf -- %s\n", quoted(rel).c_str());
  }
  closeMember(std::move(f), path, 0755);
}

// chown before chmod: chown clears the set-id bits that chmod then sets.
static void writeFixes(const ChangePlan& plan, const Tree& newTree, const std::string& path) {
  OwnedFile f = openMember(path);
  fputs(
      "#!/bin/bash\n"
      "# Sets owners, groups and modes to those of the wanted tree; runs in the new\n"
      "# image's root.  Symbolic links are changed themselves, never followed.\n",
      f.get());
  for (const std::string& rel : plan.fix) {
    const TreeEntry& e = newTree.at(rel);
    fprintf(f.get(), "chown -h %u:%u -- %s\n", static_cast<unsigned>(e.uid),
            static_cast<unsigned>(e.gid), quoted(rel).c_str());
    if (!S_ISLNK(e.mode)) {
      fprintf(f.get(), "chmod %04o -- %s\n", static_cast<unsigned>(e.mode & 07777),
              quoted(rel).c_str());
    }
  }
  closeMember(std::move(f), path, 0755);
}

static void writeMaintData(const std::string& path) {
  OwnedFile f = openMember(path);
  fprintf(f.get(), "oldImageName=%s\n", build.oldName.c_str());
  fprintf(f.get(), "oldImageMD5=%s\n", build.oldMD5.c_str());
  fprintf(f.get(), "newImageName=%s\n", build.newName.c_str());
  fprintf(f.get(), "newImageSize=%s\n", build.size.c_str());
  fprintf(f.get(), "newImageFStype=%s\n", build.fstype.c_str());
  fprintf(f.get(), "newImageInodes=%s\n", build.inodes.c_str());
  closeMember(std::move(f), path, 0644);
}

// The payload list, one NUL-terminated name a member, directories first.
static void writePayloadList(const ChangePlan& plan, const std::string& path) {
  OwnedFile f = openMember(path);
  for (const std::string& rel : payloadOrder(plan.payload)) {
    fputs(rel.c_str(), f.get());
    fputc('\0', f.get());
  }
  closeMember(std::move(f), path, 0600);
}

void writeBundleFiles(const ChangePlan& plan, const Tree& newTree) {
  methodTrace trace("writeBundleFiles");
  std::string control = bbPath("control");
  writeRemovals(plan, control + "/maint_cmd_bash1");
  writeFixes(plan, newTree, control + "/maint_cmd_bash2");
  writeMaintData(control + "/maintData");
  std::string list = bbPath("payload.list");
  writePayloadList(plan, list);

  char text[MAINT_BUFF];
  snprintf(text, sizeof text,
           "Bundle plan: %zu removals, %zu payload members, %zu owner and mode fixes.",
           plan.remove.size(), plan.payload.size(), plan.fix.size());
  logOnly("", text);
  logOnly("", "maint_cmd_bash1:");
  tmpfileToLog("    ", (control + "/maint_cmd_bash1").c_str());
  logOnly("", "maint_cmd_bash2:");
  tmpfileToLog("    ", (control + "/maint_cmd_bash2").c_str());

  char cmd[MAINT_BUFF];
  std::string out = bbPath("temp.file");
  composeCommand(cmd,
                 "/bin/tar --numeric-owner -cjpf %s -C %s --no-recursion --null "
                 "--verbatim-files-from -T %s >%s 2>&1",
                 bbPath("maint.tar.bz2").c_str(), bbPath("wanted").c_str(), list.c_str(),
                 out.c_str());
  bbRunChecked(cmd, "Packing the payload", out.c_str());
}
