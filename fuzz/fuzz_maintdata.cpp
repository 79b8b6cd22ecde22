// fuzz_maintdata.cpp - fuzzes the maintData reader (parseMaintDataText) and
// the vetting the apply run puts its values through: image name splitting
// and the shell, number and file name guards.
//
// Properties: no value holds a newline or an "=" (a value ends at either),
// an absent key has an empty value, and the guards agree with each other
// (a value accepted as a positive number is shell-safe).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bundle_data.h"
#include "fuzz_check.h"

static void splitImageName(const std::string& value) {
  std::string path = "/tftpboot/image/" + value;
  char *bare, *ver, *date, *ext;
  parseImageName(path.c_str(), bare, ver, date, ext);
  fuzzCheck(bare || (!ver && !date && !ext), "an image name without a base has no other part");
  free(bare);
  free(ver);
  free(date);
  free(ext);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader takes a C text: the input up to its first NUL byte.
  std::string text(reinterpret_cast<const char*>(data), size);
  MaintData d = parseMaintDataText(text.c_str());
  for (int k = 0; k < MaintData::KEYS; ++k) {
    const std::string& v = d.value[k];
    fuzzCheck(v.find('\n') == std::string::npos, "a value holds no newline");
    fuzzCheck(v.find('=') == std::string::npos, "a value holds no '='");
    fuzzCheck(d.present[k] || v.empty(), "an absent key has no value");
    int safe = shellSafe(v.c_str());
    if (positiveDecimal(v.c_str())) fuzzCheck(safe, "a positive number is shell-safe");
    plainFileName(v.c_str());
  }
  splitImageName(d.value[MaintData::OLD_IMAGE_NAME]);
  splitImageName(d.value[MaintData::NEW_IMAGE_NAME]);
  return 0;
}
