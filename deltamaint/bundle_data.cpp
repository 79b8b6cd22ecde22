// bundle_data.cpp - maintData reading, image name splitting, value vetting
// and checksum record arithmetic for the apply run (pure functions).
#include "bundle_data.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "maint.h"

const char* const MaintData::NAMES[MaintData::KEYS] = {"oldImageName",   "oldImageMD5",
                                                       "newImageName",   "newImageSize",
                                                       "newImageFStype", "newImageInodes"};

MaintData parseMaintDataText(const char* text) {
  MaintData data;
  if (!text) return data;
  const char* p = text;
  while (*p) {
    const char* end = strchr(p, '\n');
    size_t len = end ? static_cast<size_t>(end - p) : strlen(p);
    std::string line(p, len);
    p = end ? end + 1 : p + len;
    size_t start = 0;
    while (start < line.size() && isspace(static_cast<unsigned char>(line[start]))) ++start;
    line.erase(0, start);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;  // no value without "="
    std::string key = line.substr(0, eq);
    size_t next = line.find('=', eq + 1);
    std::string value =
        line.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
    for (int k = 0; k < MaintData::KEYS; ++k) {
      size_t n = strlen(MaintData::NAMES[k]);
      if (key.size() >= n && strncasecmp(key.c_str(), MaintData::NAMES[k], n) == 0) {
        data.value[k] = value;
        data.present[k] = true;
        break;
      }
    }
  }
  return data;
}

static char* copyRange(const char* from, size_t len) {
  char* out = static_cast<char*>(malloc(len + 1));
  if (!out) abort();
  memcpy(out, from, len);
  out[len] = '\0';
  return out;
}

void parseImageName(const char* iname, char*& barename, char*& ver, char*& date, char*& ext) {
  barename = ver = date = ext = nullptr;
  if (!iname) return;
  const char* dash = strchr(iname, '-');
  if (!dash) return;
  barename = copyRange(iname, static_cast<size_t>(dash - iname));
  const char* rest = dash + 1;
  const char* dash2 = strchr(rest, '-');
  if (dash2) {
    ver = copyRange(rest, static_cast<size_t>(dash2 - rest));
    const char* tail = dash2 + 1;
    const char* dot = strchr(tail, '.');
    if (dot) {
      date = copyRange(tail, static_cast<size_t>(dot - tail));
      ext = copyString(dot + 1);
    }
    return;
  }
  const char* gz = strstr(rest, ".gz");
  if (gz) {
    ext = copyString("gz");
    ver = copyRange(rest, static_cast<size_t>(gz - rest));
  } else {
    ver = copyString(rest);
  }
}

int shellSafe(const char* text) {
  if (!text) return 0;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < 0x20 || *p == 0x7f) return 0;
    if (strchr(" '\"\\$`;&|<>()*?[]{}~#!", *p)) return 0;
  }
  return 1;
}

int positiveDecimal(const char* text) {
  if (!text || !*text || strlen(text) > 9) return 0;
  bool nonZero = false;
  for (const char* p = text; *p; ++p) {
    if (!isdigit(static_cast<unsigned char>(*p))) return 0;
    if (*p != '0') nonZero = true;
  }
  return nonZero;
}

int plainFileName(const char* name) {
  if (!name || !*name) return 0;
  if (strchr(name, '/')) return 0;
  return strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

std::string md5RecordPath(const char* origNewImage) {
  std::string path(origNewImage ? origNewImage : "");
  size_t gz = path.find(".gz");
  if (gz != std::string::npos) return path.substr(0, gz) + ".md5";
  return path + ".md5";
}

int md5BlockSize(long long sizeMB) {
  if (sizeMB > 512) return 32768;
  if (sizeMB > 256) return 16384;
  if (sizeMB > 128) return 8192;
  return 4096;
}

std::string md5RecordLine(const char* checksum, long long sizeMB, bool gzipped,
                          long long compressedBytes) {
  long long blockSize = md5BlockSize(sizeMB);
  long long blocks = sizeMB * 1048576LL / blockSize;
  char line[MAINT_BUFF];
  if (gzipped) {
    long long compressedBlocks = (compressedBytes + blockSize - 1) / blockSize;
    snprintf(line, sizeof line, "%s   %lld %lld %lld\n", checksum ? checksum : "", blocks,
             blockSize, compressedBlocks);
  } else {
    snprintf(line, sizeof line, "%s   %lld %lld\n", checksum ? checksum : "", blocks, blockSize);
  }
  return line;
}
