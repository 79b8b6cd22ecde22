// tw_changes.cpp - the eight change lists that the report parser fills,
// their accessors, the operations that make and free them, and the backoff
// file list: the relative paths a back-off of the maintenance must restore.
//
// A list that does not exist (its global is null) reads as empty: freeing
// it does nothing and the backoff file list writes nothing for it.
#include <errno.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "maint.h"
#include "owned.h"

array* myChangedFiles = nullptr;
array* myAttributesModified = nullptr;
array* myAddedFiles = nullptr;
array* myDeletedFiles = nullptr;
array* myAddedDirectories = nullptr;
array* myDeletedDirectories = nullptr;
array* myOriginals4HardLinks = nullptr;
array* myChangedHardLinks = nullptr;

array* changedFiles() { return myChangedFiles; }
array* attributesModified() { return myAttributesModified; }
array* addedFiles() { return myAddedFiles; }
array* deletedFiles() { return myDeletedFiles; }
array* addedDirectories() { return myAddedDirectories; }
array* deletedDirectories() { return myDeletedDirectories; }
array* originals4HardLinks() { return myOriginals4HardLinks; }
array* changedHardLinks() { return myChangedHardLinks; }

static void freeList(array*& list) {
  deleteArray(list);
  list = nullptr;
}

void freeChangedFiles() { freeList(myChangedFiles); }
void freeAttributesModified() { freeList(myAttributesModified); }
void freeAddedFiles() { freeList(myAddedFiles); }
void freeDeletedFiles() { freeList(myDeletedFiles); }
void freeAddedDirectories() { freeList(myAddedDirectories); }
void freeDeletedDirectories() { freeList(myDeletedDirectories); }
void freeChangedHardLinks() { freeList(myChangedHardLinks); }
void freeOriginals4HardLinks() { freeList(myOriginals4HardLinks); }

void freeChangeLists() {
  freeChangedFiles();
  freeAttributesModified();
  freeAddedFiles();
  freeDeletedFiles();
  freeAddedDirectories();
  freeDeletedDirectories();
  freeChangedHardLinks();
  freeOriginals4HardLinks();
}

// A list already there is replaced, not freed: the caller frees it first.
void newChangedHardLinks() { myChangedHardLinks = newArray(); }
void newOriginals4HardLinks() { myOriginals4HardLinks = newArray(); }

// Writes every entry of `list`, one per line, without its first character
// when `dropFirst` is set (the leading slash); returns the lines written.
static int writeEntries(FILE* out, array* list, bool dropFirst) {
  if (!list) return 0;
  int lines = 0;
  for (array_elem* e = first(*list); e; e = next(*e)) {
    const char* entry = static_cast<const char*>(e->data);
    if (dropFirst && entry[0]) ++entry;
    fputs(entry, out);
    fputc('\n', out);
    ++lines;
  }
  return lines;
}

int buildBackoffFileList(const char* backoffList) {
  methodTrace trace("buildBackoffFileList");
  const char* name = backoffList ? backoffList : "";
  unlink(name);
  OwnedFile out(fopen(name, "w"));
  if (!out) {
    char reason[128];
    snprintf(reason, sizeof reason, "%s", strerror(errno));
    logAndConsole('I', "Fatal Error: Could not open output file %s. %s.", name, reason);
    exit(1);
  }
  int lines = writeEntries(out.get(), myDeletedFiles, true);
  lines += writeEntries(out.get(), myChangedFiles, false);
  lines += writeEntries(out.get(), myOriginals4HardLinks, true);
  return lines;
}

int buildBackoffFileList(char* backoffList) {
  return buildBackoffFileList(static_cast<const char*>(backoffList));
}
