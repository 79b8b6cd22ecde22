// fuzz_maintdata.cpp - fuzzes the maintData reader and the vetting its
// values go through.  Properties: no value holds a newline or "=", an absent
// key has no value, a positive number is shell-safe, and an image name
// without a base has no other part.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bundle_data.h"

#define CHECK(c) ((c) ? (void)0 : (fprintf(stderr, "property failed: %s\n", #c), abort()))

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  MaintData d = parseMaintDataText(text.c_str());  // up to the first NUL byte
  for (int k = 0; k < MaintData::KEYS; ++k) {
    const std::string& v = d.value[k];
    CHECK(v.find_first_of("\n=") == std::string::npos);
    CHECK(d.present[k] || v.empty());
    CHECK(!positiveDecimal(v.c_str()) || shellSafe(v.c_str()));
    plainFileName(v.c_str());
    char *bare, *ver, *date, *ext;
    parseImageName(("/tftpboot/image/" + v).c_str(), bare, ver, date, ext);
    CHECK(bare || (!ver && !date && !ext));
    free(bare), free(ver), free(date), free(ext);
  }
  return 0;
}
