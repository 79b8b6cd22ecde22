// bundle_builder_write.cpp - writes the bundle's members from the change
// plan: maint_cmd_bash1 (removals), maint_cmd_bash2 (owners, groups and
// modes of the wanted tree), maintData (the six keys), and the payload
// archive maint.tar.bz2 with numeric owners, modes and times.  The
// scripts' lines (removalLines, fixLines) name many objects each; only
// names that safeTreeName accepts ever get here.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "bundle_builder.h"
#include "maint.h"
#include "owned.h"

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

// A script: "#!/bin/bash", the comment `about`, the lines.
static void writeScript(const std::string& path, const char* about,
                        const std::vector<std::string>& lines) {
  OwnedFile f = openMember(path);
  fprintf(f.get(), "#!/bin/bash\n%s", about);
  for (const std::string& line : lines) fprintf(f.get(), "%s\n", line.c_str());
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
  writeScript(control + "/maint_cmd_bash1",
              "# Removes the files and directories that the new image no longer has and\n"
              "# those the payload replaces; runs in the new image's root.\n",
              removalLines(plan.remove, SCRIPT_LINE_BYTES));
  writeScript(control + "/maint_cmd_bash2",
              "# Sets owners, groups and modes to those of the wanted tree; runs in the new\n"
              "# image's root.  Symbolic links are changed themselves, never followed.\n",
              fixLines(plan.fix, newTree, SCRIPT_LINE_BYTES));
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
  bbRunOrFail(cmd, out.c_str(), "Fatal error: Packing the payload failed (%s).");
}
