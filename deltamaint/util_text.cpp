// util_text.cpp - in-place trimming, heap copies, growing texts, mode
// conversion, date texts and bounded formatting.
#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "maint.h"

static char rwxBuff[16];
static char dateBuffer[24];

const char* rwxToOctal(const char* perm) {
  // Characters missing from a short text count as '-'; anything beyond the
  // tenth character is ignored.
  char field[11];
  memset(field, '-', 10);
  field[10] = '\0';
  if (perm) {
    size_t n = strnlen(perm, 10);
    memcpy(field, perm, n);
  }
  int special = 0;
  if (field[3] == 's' || field[3] == 'S') special += 04000;
  if (field[6] == 's' || field[6] == 'S') special += 02000;
  if (field[9] == 't' || field[9] == 'T') special += 01000;
  int bits = 0;
  for (int i = 1; i <= 9; ++i) {
    bits <<= 1;
    char c = field[i];
    bool executePlace = (i % 3 == 0);
    if (c == '-') continue;
    if (executePlace && (c == 'S' || c == 'T')) continue;
    bits |= 1;
  }
  snprintf(rwxBuff, sizeof rwxBuff, "%o", special + bits);
  return rwxBuff;
}

int readConfigFile(FILE* in, char* buff, int bufflen) {
  methodTrace trace("readConfigFile");
  if (!in || !buff || bufflen < 2) return 0;
  for (;;) {
    // A read request of bufflen - 1 places at most bufflen - 2 characters.
    if (!fgets(buff, bufflen - 1, in)) {
      buff[0] = '\0';
      return 0;
    }
    if (feof(in)) return 0;
    strip(buff);
    if (buff[0] != '\0' && buff[0] != '#') return 1;
  }
}

char* skipWS(char* buff) {
  if (!buff) return buff;
  char* p = buff;
  while (*p && isspace(static_cast<unsigned char>(*p))) ++p;
  if (p != buff) memmove(buff, p, strlen(p) + 1);
  return buff;
}

char* strip(char* buff) {
  if (!buff) return buff;
  skipWS(buff);
  size_t n = strlen(buff);
  while (n > 0 && isspace(static_cast<unsigned char>(buff[n - 1]))) buff[--n] = '\0';
  return buff;
}

char* chomp(char* buff) {
  if (!buff) return buff;
  size_t n = strlen(buff);
  while (n > 0 && (buff[n - 1] == '\n' || buff[n - 1] == '\r')) buff[--n] = '\0';
  return buff;
}

char* translate(char* buff, char src, char tgt) {
  // Equal characters would replace forever; the text is returned unchanged.
  if (!buff || src == tgt) return buff;
  char* p = buff;
  while ((p = strchr(p, src)) != nullptr) {
    *p = tgt;
    if (tgt == '\0') break;
  }
  return buff;
}

const char* canonicalDate(time_t* now) {
  time_t t = now ? *now : time(nullptr);
  struct tm lt;
  localtime_r(&t, &lt);
  char text[64];
  snprintf(text, sizeof text, "%04d/%02d/%02d-%02d:%02d:%02d", lt.tm_year + 1900, lt.tm_mon + 1,
           lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
  snprintf(dateBuffer, sizeof dateBuffer, "%.23s", text);
  return dateBuffer;
}

char* dynamicStrCat(char*& target, const char* src, int& maxtarget) {
  methodTrace trace("dynamicStrCat");
  if (!src) src = "";
  size_t added = strlen(src);
  if (!target) {
    size_t size = added > 128 ? 2 * added : 256;
    target = static_cast<char*>(malloc(size));
    if (!target) abort();
    target[0] = '\0';
    maxtarget = static_cast<int>(size);
  }
  size_t have = strlen(target);
  size_t needed = have + added + 1;
  if (needed > static_cast<size_t>(maxtarget)) {
    size_t size = needed > 128 ? 2 * needed : 256;
    char* grown = static_cast<char*>(malloc(size));
    if (!grown) abort();
    memcpy(grown, target, have + 1);
    free(target);
    target = grown;
    maxtarget = static_cast<int>(size);
  }
  memcpy(target + have, src, added + 1);
  return target;
}

char* copyString(const char* src) {
  if (!src) return nullptr;
  size_t n = strlen(src) + 1;
  char* copy = static_cast<char*>(malloc(n));
  if (!copy) abort();
  memcpy(copy, src, n);
  return copy;
}

char* formatFileSize(int size) {
  const long long K = 1024, M = 1048576, G = 1073741824;
  long long s = size;
  char buff[64];
  if (s <= 1023) {
    snprintf(buff, sizeof buff, "%d", size);
  } else {
    long long unit = K;
    char suffix = 'K';
    if (s >= G) {
      unit = G;
      suffix = 'G';
    } else if (s >= 102400) {
      unit = M;
      suffix = 'M';
    }
    long long whole = s / unit;
    long long tenth = (s % unit) * 10 / unit;
    snprintf(buff, sizeof buff, "%lld.%1lld%c", whole, tenth, suffix);
  }
  return copyString(buff);
}

int formatText(char* buff, size_t size, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buff, size, fmt, ap);
  va_end(ap);
  return n >= 0 && static_cast<size_t>(n) < size;
}
