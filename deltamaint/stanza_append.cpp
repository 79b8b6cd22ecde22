// stanza_append.cpp - the status words and the two appends to the status
// stanza file: a client stanza per apply run, a preparation stanza per
// prepared bundle.
#include <errno.h>

#include <cstdlib>
#include <cstring>

#include "maint.h"
#include "owned.h"

const char* const PREPPED = "Prepped";
const char* const APPLIED = "Applied";
const char* const BACKOFF = "Backoff";
const char* const RPM = "rpm";
const char* const OK = "OK";
const char* const FAILED = "Failed";
const char* const NO = "No";
const char* const ABANDONED = "No/Abandoned";
const char* const NOTPOSSIBLE = "NotPossible";

// Opens the stanza file for appending, or reports why it cannot and
// returns null.
static FILE* openStanzaFile(const char* file) {
  FILE* out = file ? fopen(file, "a") : nullptr;
  if (!out) {
    int error = file ? errno : EINVAL;
    logAndConsole('E', "Fatal error: Attempt to update %s file failed.", file ? file : "",
                  strerror(error));
  }
  return out;
}

// A stanza's opening line and its first item, "STATUS - TIMESTAMP".
static void writeStanzaHead(FILE* out, const char* name, const char* item, const char* status,
                            const char* timestamp) {
  fprintf(out, "\n%s {\n", name ? name : "");
  fprintf(out, "   %s:   %s - %s\n", item, status ? status : "", timestamp ? timestamp : "");
}

int appendClientStanza(const char* file, const char* name, const char* timestamp,
                       const char* status) {
  methodTrace trace("appendClientStanza");
  OwnedFile out(openStanzaFile(file));
  if (!out) return 1;
  writeStanzaHead(out.get(), name, APPLIED, status, timestamp);
  fputs("}\n", out.get());
  return 0;
}

int appendPrepStanza(const char* file, const char* name, const char* timestamp, const char* status,
                     const char* rpms) {
  methodTrace trace("appendPrepStanza");
  OwnedFile out(openStanzaFile(file));
  if (!out) return 1;
  writeStanzaHead(out.get(), name, PREPPED, status, timestamp);
  fprintf(out.get(), "   %s:   %s\n", APPLIED, NO);
  fprintf(out.get(), "   %s:   %s\n", BACKOFF, NO);
  OwnedText copy(copyString(rpms ? rpms : ""));
  char* save = nullptr;
  for (char* piece = strtok_r(copy.get(), "\n", &save); piece;
       piece = strtok_r(nullptr, "\n", &save)) {
    fprintf(out.get(), "   %s: %s\n", RPM, piece);
  }
  fputs("}\n", out.get());
  return 0;
}
