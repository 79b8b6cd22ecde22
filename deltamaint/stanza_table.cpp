// stanza_table.cpp - the status stanza file as a table of records: reading
// it, writing it back, dumping and freeing the table, and updating the
// Applied or Backoff item of a bundle's newest stanza.
//
// Choices where the file format leaves room:
//  - a record without a Prepped, Applied or Backoff value is written back
//    without that line, so a client stanza keeps its bytes;
//  - the update rules read a missing value as the empty text;
//  - a header without a blank keeps the text before "{", trimmed, as its
//    name; a record closed before any header has no name and is never found
//    by an update (it is written back under an empty name).
#include <errno.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "maint.h"
#include "owned.h"

// The values gathered from item lines until a closing line makes a record.
struct gathered {
  char* name;
  char* prep;
  char* inst;
  char* back;
  char* rpm;
  int rpmSize;
};

static void replaceText(char*& field, const char* value) {
  free(field);
  field = copyString(value);
}

// Header line: the name ends at the first blank; without a blank it is the
// text before the first "{", trimmed.
static void takeHeader(gathered& g, char* line) {
  char* blank = strchr(line, ' ');
  if (blank) {
    *blank = '\0';
  } else {
    *strchr(line, '{') = '\0';
    strip(line);
  }
  replaceText(g.name, line);
}

// Item line: key before the first colon, value after it without leading
// white space.  Unknown keys are ignored.
static void takeItem(gathered& g, char* line) {
  char* colon = strchr(line, ':');
  *colon = '\0';
  char* value = skipWS(colon + 1);
  if (strcmp(line, PREPPED) == 0) {
    replaceText(g.prep, value);
  } else if (strcmp(line, APPLIED) == 0) {
    replaceText(g.inst, value);
  } else if (strcmp(line, BACKOFF) == 0) {
    replaceText(g.back, value);
  } else if (strcmp(line, RPM) == 0) {
    dynamicStrCat(g.rpm, value, g.rpmSize);
    dynamicStrCat(g.rpm, " ", g.rpmSize);
  }
}

// Closing line: the gathered values become a record owned by the table.
static void takeClose(gathered& g, array& table) {
  ins_elem* ins = static_cast<ins_elem*>(calloc(1, sizeof(ins_elem)));
  if (!ins) abort();
  ins->name = g.name;
  ins->prep = g.prep;
  ins->inst = g.inst;
  ins->back = g.back;
  ins->rpm = g.rpm;
  push(table, static_cast<void*>(ins));
  g = gathered{};
}

array* readInstalledBundles(const char* filename) {
  methodTrace trace("readInstalledBundles");
  array* table = newArray();
  OwnedText text(file2Buffer(filename));
  if (!text) return table;
  gathered g{};
  char* save = nullptr;
  for (char* line = strtok_r(text.get(), "\n", &save); line;
       line = strtok_r(nullptr, "\n", &save)) {
    skipWS(line);
    if (line[0] == '\0') continue;
    if (strchr(line, '{')) {
      takeHeader(g, line);
    } else if (strchr(line, ':')) {
      takeItem(g, line);
    } else if (strcmp(line, "}") == 0) {
      takeClose(g, *table);
    }
  }
  // Values after the last closing line belong to no record.
  free(g.name);
  free(g.prep);
  free(g.inst);
  free(g.back);
  free(g.rpm);
  return table;
}

static void writeItem(FILE* out, const char* word, const char* value) {
  if (value) fprintf(out, "   %s:   %s\n", word, value);
}

static void writeRecord(FILE* out, const ins_elem* ins) {
  fprintf(out, "\n%s {\n", ins->name ? ins->name : "");
  writeItem(out, PREPPED, ins->prep);
  writeItem(out, APPLIED, ins->inst);
  writeItem(out, BACKOFF, ins->back);
  if (ins->rpm) {
    OwnedText copy(copyString(ins->rpm));
    char* save = nullptr;
    for (char* piece = strtok_r(copy.get(), " ", &save); piece;
         piece = strtok_r(nullptr, " ", &save)) {
      fprintf(out, "   %s: %s\n", RPM, piece);
    }
  }
  fputs("}\n", out);
}

int writeInstalledBundles(const char* filename, array* installedBundles) {
  methodTrace trace("writeInstalledBundles");
  char line[MAINT_BUFF];
  formatText(line, sizeof line, "writeInstalledBundles - Array count = %d",
             installedBundles ? arraySize(*installedBundles) : 0);
  logOnly("", line);
  OwnedFile out(filename ? fopen(filename, "w") : nullptr);
  if (!out) {
    OwnedText error(copyString(strerror(filename ? errno : EINVAL)));
    logAndConsole('E', "Fatal Error: Could not open output file %s. %s.", filename ? filename : "",
                  error.get());
    return 1;
  }
  if (installedBundles) {
    for (array_elem* e = first(*installedBundles); e; e = next(*e)) {
      writeRecord(out.get(), static_cast<const ins_elem*>(e->data));
    }
  }
  // Closed before the sync, so the sync reaches the records just written.
  out.reset();
  sync();
  return 0;
}

// The low 32 bits of an address: the dump shows each in eight hex digits.
static unsigned address(const void* p) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}

void printInstalledBundles(const char* tag, array* arr) {
  logOnlyDelimiter(0, 1);
  char line[MAINT_BUFF];
  formatText(line, sizeof line, "Number of array entries: %d - Tag %s", arr ? arraySize(*arr) : 0,
             tag ? tag : "");
  logOnly("", line);
  if (!arr) return;
  int number = 0;
  for (array_elem* e = first(*arr); e; e = next(*e), ++number) {
    const ins_elem* ins = static_cast<const ins_elem*>(e->data);
    formatText(line, sizeof line, "%3d: %08X - %08X %08X %08X %08X %08X ", number,
               address(ins), address(ins->name), address(ins->prep), address(ins->inst),
               address(ins->back), address(ins->rpm));
    logOnly("", line);
  }
}

void freeInstalledBundles(array* arr) {
  methodTrace trace("freeInstalledBundles");
  if (!arr) return;
  for (array_elem* e = first(*arr); e; e = next(*e)) {
    ins_elem* ins = static_cast<ins_elem*>(e->data);
    free(ins->name);
    free(ins->prep);
    free(ins->inst);
    free(ins->back);
    free(ins->rpm);
  }
  deleteArray(arr);
}

static const char* orEmpty(const char* text) { return text ? text : ""; }

int updateStanzaItem(ins_elem* ins, const char* item, const char* value) {
  methodTrace trace("updateStanzaItem");
  if (!ins || !item || !value) return 1;
  // The rules in order; the first that applies decides.
  if (strcmp(item, PREPPED) == 0) return 1;
  if (strncmp(orEmpty(ins->prep), FAILED, strlen(FAILED)) == 0) return 1;
  if (strcmp(orEmpty(ins->inst), NO) == 0 && strcmp(item, APPLIED) == 0) {
    replaceText(ins->inst, value);
    return 0;
  }
  if (strstr(orEmpty(ins->inst), OK) && strcmp(orEmpty(ins->back), NO) == 0 &&
      strcmp(item, BACKOFF) == 0) {
    replaceText(ins->back, value);
    return 0;
  }
  return 1;
}

int updateStanza(const char* file, const char* bname, const char* item, const char* value) {
  methodTrace trace("updateStanza");
  int result = 1;
  array* table = readInstalledBundles(file);
  char dated[MAINT_BUFF];
  // A value too long for the dated text is refused rather than cut.
  bool fits = formatText(dated, sizeof dated, "%s - %s", orEmpty(value), canonicalDate(nullptr));
  ins_elem* newest = nullptr;
  for (array_elem* e = last(*table); e && bname; e = prior(*e)) {
    ins_elem* ins = static_cast<ins_elem*>(e->data);
    if (ins->name && strcmp(ins->name, bname) == 0) {
      newest = ins;
      break;
    }
  }
  if (newest && fits && value) {
    result = updateStanzaItem(newest, item, dated);
    if (result == 0) result = writeInstalledBundles(file, table);
  }
  freeInstalledBundles(table);
  if (result == 0) return 0;
  logAndConsole('W', "Attempt to update stanza for item %s in bundle %s failed.", orEmpty(item),
                orEmpty(bname));
  return result;
}
