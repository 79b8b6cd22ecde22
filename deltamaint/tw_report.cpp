// tw_report.cpp - reads the detail section of a tripwire integrity report
// and sorts every reported object into the change lists: added and removed
// files and directories, files and hard links whose content changed, and the
// chmod/chown/chgrp lines that put changed attributes back.
//
// The report is read in lines of at most 299 characters; a longer physical
// line arrives in pieces, each taken as a line.  Property searches run
// forward over report lines and do not stop at the next record.
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "maint.h"
#include "owned.h"

const char* const OBJDETAIL = "Object Detail:";
const char* const ADDEDOBJ = "Added object name:";
const char* const REMOBJ = "Removed object name:";
const char* const MODOBJ = "Modified object name:";
const char* const OBJTYPE = " Object Type";
const char* const MODE = " Mode";
const char* const LINKS = " Num Links";
const char* const UID = "* UID";
const char* const GID = "* GID";
const char* const SIZE = " Size";

int lineno = 0;

namespace {

const int LINE_BUFF = MAINT_BUFF;

// Columns of the property table: the change mark sits in column 0, the
// property name starts in column 2.
const size_t TYPE_EXPECTED_COL = 14;
const size_t TYPE_OBSERVED_COL = 45;
const size_t MODE_COL = 6;
const size_t LINKS_COL = 11;

// Three texts of one report line each fit, so an entry is never cut.
const int ENTRY_BUFF = 4 * MAINT_BUFF;

bool startsWith(const char* text, const char* word) {
  return strncmp(text, word, strlen(word)) == 0;
}

// The property name is read from column 1, behind the change mark.
bool isProperty(const char* line, const char* name) {
  return line[0] != '\0' && startsWith(line + 1, name);
}

// White space as isspace() knows it in the C locale, tested in line: every
// property line of a report is scanned character by character, and the
// report's columns are the same whatever locale the run has.
bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Copies the first word at or after `column` into `word`; returns a pointer
// just behind the word in `line`, or null (and an empty word) when the line
// holds no word there.  Only the part of the line up to the column is
// measured to know whether the line reaches it.
const char* wordAt(const char* line, size_t column, char* word, size_t size) {
  word[0] = '\0';
  if (strnlen(line, column + 1) <= column) return nullptr;
  const char* p = line + column;
  while (*p && isBlank(*p)) ++p;
  if (*p == '\0') return nullptr;
  size_t n = 0;
  while (p[n] && !isBlank(p[n])) ++n;
  if (n >= size) n = size - 1;
  memcpy(word, p, n);
  word[n] = '\0';
  return p + n;
}

// Reads one physical line (or a 299-character piece of one) unexamined by
// the report-line rules; at the end of input the buffer is left empty.
void readPhysicalLine(FILE* in, char* buff, int buffsize) {
  if (!fgets(buff, buffsize, in)) buff[0] = '\0';
}

// A name with nothing left to drop stays as it is.
const char* withoutFirst(const char* name) { return name[0] ? name + 1 : name; }

// Appends a copy of `text` to `list`, making the list when it is missing.
void record(array*& list, const char* text) {
  if (!list) list = newArray();
  push(*list, text);
}

// The id of a "* UID" or "* GID" line: the text after the first '(' up to
// the next ')' (or the line end); without '(' the text from the first digit
// to the line end.  Returns false when the line holds neither.
// Copies the text after an opening '(' up to the next ')' or the line end.
static void copyParenthesised(const char* open, char* out, size_t size) {
  size_t n = strcspn(open + 1, ")\r\n");
  if (n >= size) n = size - 1;
  memcpy(out, open + 1, n);
  out[n] = '\0';
}

bool idOfLine(const char* line, bool trimBlanks, char* out, size_t size) {
  out[0] = '\0';
  const char* open = strchr(line, '(');
  if (open) {
    copyParenthesised(open, out, size);
    return true;
  }
  const char* digit = line;
  while (*digit && !isdigit(static_cast<unsigned char>(*digit))) ++digit;
  if (*digit == '\0') return false;
  snprintf(out, size, "%s", digit);
  chomp(out);
  if (trimBlanks) strip(out);
  return true;
}

// Heap copy of an id, null for the super-user's id 0.
char* idOrNull(const char* id) { return strcmp(id, "0") == 0 ? nullptr : copyString(id); }

// The observed id of a modified record's UID or GID line: only a line
// marked '*' with two '(' names one, the text between the second '(' and
// the following ')'.
bool observedId(const char* line, char* out, size_t size) {
  out[0] = '\0';
  if (line[0] != '*') return false;
  const char* open = strchr(line, '(');
  if (!open) return false;
  open = strchr(open + 1, '(');
  if (!open) return false;
  copyParenthesised(open, out, size);
  return true;
}

// Formats one line of an entry and appends it to a growing text.
void appendEntryLine(char*& entry, int& size, const char* fmt, const char* a, const char* b,
                     const char* c) {
  char line[ENTRY_BUFF];
  if (c) {
    snprintf(line, sizeof line, fmt, a, b, c);
  } else {
    snprintf(line, sizeof line, fmt, a, b);
  }
  dynamicStrCat(entry, line, size);
}

// The commands that restore the attributes of `path` (no leading slash).
void recordAttributes(const char* path, const char* octal, bool isLink, const char* owner,
                      const char* group) {
  char* entry = nullptr;
  int size = 0;
  if (octal && !isLink)
    appendEntryLine(entry, size, "  chmod -v %s    \"/%s\"\n", octal, path, nullptr);
  if (owner && group) {
    appendEntryLine(entry, size, "  chown -v %s:%s  \"/%s\"\n", owner, group, path);
  } else if (owner) {
    appendEntryLine(entry, size, "  chown -v %s  \"/%s\"\n", owner, path, nullptr);
  } else if (group) {
    appendEntryLine(entry, size, "  chgrp -v %s  \"/%s\"\n", group, path, nullptr);
  }
  if (entry && entry[0]) record(myAttributesModified, entry);
  free(entry);
}

// One "Modified object name:" record, whose first line is in `buff`.
void processTWModifiedObj(char* buff, int buffsize, int prefix, FILE* TRIP, int& changed) {
  bool isLink = false;
  char octal[16] = "";
  bool haveOctal = false;
  OwnedText name(getObjectName(buff, prefix));

  int isChanged = 0, expectedType = -1, observedType = -1;
  getObjectType(TRIP, buff, buffsize, isChanged, expectedType, observedType);
  if (isChanged && name) {
    if (expectedType == REG && observedType == DIR) {
      record(myDeletedFiles, name.get());
      record(myAddedDirectories, name.get());
    } else if (expectedType == DIR && observedType == REG) {
      record(myDeletedDirectories, name.get());
      record(myAddedFiles, name.get());
    }
  }

  char* perm1 = nullptr;
  char* perm2 = nullptr;
  getModeValue(TRIP, buff, buffsize, isChanged, perm1, perm2);
  OwnedText ownedPerm1(perm1);
  OwnedText ownedPerm2(perm2);
  if (isChanged && perm1) {
    snprintf(octal, sizeof octal, "%s", rwxToOctal(perm1));
    haveOctal = true;
    isLink = perm1[0] == 'l';
  }

  int expectedLinks = -1, observedLinks = -1;
  getNumLinksValue(TRIP, buff, buffsize, isChanged, expectedLinks, observedLinks);

  // The three physical lines after Num Links: UID, GID and the line after
  // them, which is the Size line when the report carries sizes.
  char owner[LINE_BUFF];
  char group[LINE_BUFF];
  readPhysicalLine(TRIP, buff, buffsize);
  bool haveOwner = observedId(buff, owner, sizeof owner);
  readPhysicalLine(TRIP, buff, buffsize);
  bool haveGroup = observedId(buff, group, sizeof group);
  readPhysicalLine(TRIP, buff, buffsize);
  bool contentChanged = false;
  if (isProperty(buff, SIZE)) {
    if (buff[0] == '*') contentChanged = true;
    readPhysicalLine(TRIP, buff, buffsize);
    ++lineno;
  }
  if (buff[0] == '*') contentChanged = true;
  lineno += 3;
  ++changed;

  if (name) {
    if (contentChanged) {
      record(expectedLinks > 1 ? myChangedHardLinks : myChangedFiles, withoutFirst(name.get()));
    } else {
      const char* path = name.get()[0] == '/' ? name.get() + 1 : name.get();
      if (path[0]) {
        recordAttributes(path, haveOctal ? octal : nullptr, isLink, haveOwner ? owner : nullptr,
                         haveGroup ? group : nullptr);
      }
    }
  }
}

}  // namespace

void skipToObjectDetail(FILE* TRIP, int& count) {
  char buff[LINE_BUFF];
  count = 0;
  if (!TRIP) return;
  while (!feof(TRIP)) {
    ++count;
    if (!fgets(buff, sizeof buff, TRIP)) return;
    if (buff[0] != '"' && startsWith(buff, OBJDETAIL)) return;
  }
}

int getNextReportLine(FILE* TRIP, char* buff, int buffsize) {
  if (!TRIP || !buff || buffsize < 2) return 0;
  while (!feof(TRIP)) {
    ++lineno;
    if (!fgets(buff, buffsize, TRIP)) break;
    if (buff[strspn(buff, "\r\n")] == '\0') continue;  // empty line
    if (buff[0] == '-' || buff[0] == '=') continue;    // rules and underlines
    if (buff[0] == ' ' && buff[1] == '-') continue;    // indented underlines
    chomp(buff);
    return 1;
  }
  buff[0] = '\0';
  return 0;
}

int identifyObjectType(const char* token) {
  static const struct {
    const char* word;
    int code;
  } types[] = {{"---", MISSING}, {"Regular", REG},   {"Symbolic", SYM}, {"Directory", DIR},
               {"Block", BLK},   {"Character", CHR}, {"Socket", SCK}};
  if (!token) return -1;
  for (const auto& t : types) {
    if (startsWith(token, t.word)) return t.code;
  }
  return -1;
}

int identifyObjectType(char* token) { return identifyObjectType(static_cast<const char*>(token)); }

// Reads report lines up to the next line of property `name` (which may lie
// in the next record: the search does not stop at a record's end) and sets
// `isChanged` from its change mark; false at the end of input.
static bool findProperty(FILE* TRIP, char* buff, int buffsize, const char* name, int& isChanged) {
  while (getNextReportLine(TRIP, buff, buffsize)) {
    if (!isProperty(buff, name)) continue;
    isChanged = buff[0] == '*';
    return true;
  }
  return false;
}

void getObjectType(FILE* TRIP, char* buff, int buffsize, int& isChanged, int& first, int& second) {
  isChanged = 0;
  first = -1;
  second = -1;
  if (!findProperty(TRIP, buff, buffsize, OBJTYPE, isChanged)) return;
  char word[LINE_BUFF];
  first = wordAt(buff, TYPE_EXPECTED_COL, word, sizeof word) ? identifyObjectType(word) : -1;
  second = wordAt(buff, TYPE_OBSERVED_COL, word, sizeof word) ? identifyObjectType(word) : -1;
}

void getModeValue(FILE* TRIP, char* buff, int buffsize, int& isChanged, char*& perm1,
                  char*& perm2) {
  isChanged = 0;
  perm1 = nullptr;
  perm2 = nullptr;
  if (!findProperty(TRIP, buff, buffsize, MODE, isChanged)) return;
  char word[LINE_BUFF];
  const char* rest = wordAt(buff, MODE_COL, word, sizeof word);
  if (!rest) return;
  perm1 = copyString(word);
  if (wordAt(rest, 0, word, sizeof word)) perm2 = copyString(word);
}

void getNumLinksValue(FILE* TRIP, char* buff, int buffsize, int& isChanged, int& first,
                      int& second) {
  isChanged = 0;
  first = -1;
  second = -1;
  if (!findProperty(TRIP, buff, buffsize, LINKS, isChanged)) return;
  char word[LINE_BUFF];
  const char* rest = wordAt(buff, LINKS_COL, word, sizeof word);
  first = atoi(word);
  second = 0;
  if (rest && wordAt(rest, 0, word, sizeof word)) second = atoi(word);
}

char* getUIDValue(FILE* TRIP) {
  char buff[LINE_BUFF];
  char id[LINE_BUFF];
  while (getNextReportLine(TRIP, buff, sizeof buff)) {
    if (!startsWith(buff, UID)) continue;
    if (!idOfLine(buff, true, id, sizeof id)) continue;  // no id here: search on
    return idOrNull(id);
  }
  return nullptr;
}

char* getGIDValue(FILE* TRIP) {
  char buff[LINE_BUFF];
  char id[LINE_BUFF];
  while (getNextReportLine(TRIP, buff, sizeof buff)) {
    if (!startsWith(buff, GID)) continue;
    // The first "* GID" line ends the search, with or without an id.
    if (!idOfLine(buff, false, id, sizeof id)) return nullptr;
    return idOrNull(id);
  }
  return nullptr;
}

// The text after the first ':' of `buff`, trimmed, without its first
// `prefix` characters, trimmed again.  Null when the name is shorter than
// the prefix: such an object has no path inside the examined tree.
char* getObjectName(const char* buff, int prefix) {
  if (!buff) return nullptr;
  const char* colon = strchr(buff, ':');
  OwnedText name(copyString(colon ? colon + 1 : ""));
  strip(name.get());
  size_t drop = prefix > 0 ? static_cast<size_t>(prefix) : 0;
  size_t len = strlen(name.get());
  if (drop > len) return nullptr;
  memmove(name.get(), name.get() + drop, len - drop + 1);
  strip(name.get());
  return name.release();
}

char* getObjectName(char* buff, int prefix) {
  return getObjectName(static_cast<const char*>(buff), prefix);
}

char* processTWAddedObj(char* buff, int buffsize, int prefix, FILE* TRIP, int& added) {
  OwnedText name(getObjectName(buff, prefix));
  int isChanged = 0, expectedType = -1, observedType = -1;
  getObjectType(TRIP, buff, buffsize, isChanged, expectedType, observedType);
  char* perm1 = nullptr;
  char* perm2 = nullptr;
  getModeValue(TRIP, buff, buffsize, isChanged, perm1, perm2);
  OwnedText ownedPerm1(perm1);
  OwnedText ownedPerm2(perm2);

  if (observedType != SCK) {
    if (perm2 && perm2[0] == 'd') {
      char octal[16];
      snprintf(octal, sizeof octal, "%s", rwxToOctal(perm2));
      OwnedText owner(getUIDValue(TRIP));
      OwnedText group(getGIDValue(TRIP));
      if (name) {
        char entry[ENTRY_BUFF];
        if (owner && group) {
          snprintf(entry, sizeof entry, "%s(%s:%s)%s", name.get(), owner.get(), group.get(), octal);
        } else if (owner) {
          snprintf(entry, sizeof entry, "%s(%s)%s", name.get(), owner.get(), octal);
        } else if (group) {
          snprintf(entry, sizeof entry, "%s(:%s)%s", name.get(), group.get(), octal);
        } else {
          snprintf(entry, sizeof entry, "%s()%s", name.get(), octal);
        }
        record(myAddedDirectories, entry);
      }
    } else if (name) {
      record(myAddedFiles, name.get());
    }
    ++added;
  }
  return name.release();
}

char* processTWRemovedObj(char* buff, int buffsize, int prefix, FILE* TRIP, int& deleted) {
  char* name = getObjectName(buff, prefix);
  int isChanged = 0, expectedType = -1, observedType = -1;
  getObjectType(TRIP, buff, buffsize, isChanged, expectedType, observedType);
  int expectedLinks = -1, observedLinks = -1;
  getNumLinksValue(TRIP, buff, buffsize, isChanged, expectedLinks, observedLinks);

  if (expectedType != SCK) {
    if (name) {
      if (expectedType == DIR) {
        record(myDeletedDirectories, name);
      } else if (expectedLinks == 1) {
        record(myDeletedFiles, name);
      } else {
        record(myChangedHardLinks, withoutFirst(name));
      }
    }
    ++deleted;
  }
  // The rest of the record's property table.
  for (int i = 0; i < 4; ++i) readPhysicalLine(TRIP, buff, buffsize);
  lineno += 4;
  return name;
}

void parseTWReport(FILE* TRIP, int& added, int& deleted, int& changed, int prefix) {
  methodTrace trace("readAddedDeleted");
  added = 0;
  deleted = 0;
  changed = 0;
  // Lists of an earlier parse belong to the caller, who frees them.
  myAddedFiles = newArray();
  myDeletedFiles = newArray();
  myChangedHardLinks = newArray();
  myAddedDirectories = newArray();
  myDeletedDirectories = newArray();
  myChangedFiles = newArray();
  myAttributesModified = newArray();

  lineno = 0;
  if (!TRIP) return;
  skipToObjectDetail(TRIP, lineno);
  char buff[LINE_BUFF];
  while (getNextReportLine(TRIP, buff, sizeof buff)) {
    OwnedText name;
    if (startsWith(buff, ADDEDOBJ)) {
      name.reset(processTWAddedObj(buff, sizeof buff, prefix, TRIP, added));
    } else if (startsWith(buff, REMOBJ)) {
      name.reset(processTWRemovedObj(buff, sizeof buff, prefix, TRIP, deleted));
    } else if (startsWith(buff, MODOBJ)) {
      processTWModifiedObj(buff, sizeof buff, prefix, TRIP, changed);
    }
  }
}
