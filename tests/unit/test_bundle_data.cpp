// Tests of the apply run's pure helpers: the maintData reader, image name
// splitting, value vetting and the checksum record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bundle_data.h"
#include "support.h"

TEST(BundleData, MaintDataText) {
  std::vector<Row> cases = caseRows("maintdata");
  cases.push_back({"~", ""});
  for (const Row& c : cases) {
    MaintData d = parseMaintDataText(textOrNull(c[0]));
    std::string values;
    for (int k = 0; k < MaintData::KEYS; ++k) {
      if (d.present[k] || !d.value[k].empty())
        values += std::string(values.empty() ? "" : " ") + MaintData::NAMES[k] + "=" + d.value[k];
    }
    EXPECT_EQ(c[1], values) << c[0];
  }
}

TEST(BundleData, ImageNameParts) {
  for (const Row& c : caseRows("image-names")) {
    char* part[4];
    parseImageName(c[0].c_str(), part[0], part[1], part[2], part[3]);
    std::string parts;
    for (char* p : part) {
      parts += std::string(parts.empty() ? "" : "|") + (p ? p : "~");
      free(p);
    }
    EXPECT_EQ(c[1], parts) << c[0];
  }
}

TEST(BundleData, Vetting) {
  struct Case {
    int (*check)(const char*);
    std::vector<std::string> accepted, refused;
  } cases[] = {
      {shellSafe,
       {"/tftpboot/image/pos-2.2-20060301.gz", "a_b.c,d+e=f%g@h:i"},
       {"a b", "a'b", "a\"b", "a\\b", "$x",  "`x`", "a;b", "a&b", "a|b",  "a<b",  "a>b",
        "(a)", "a*",  "a?",   "[a]",  "{a}", "~a",  "#a",  "a!",  "a\nb", "a\tb", "a\x7f"}},
      {positiveDecimal,
       {"64", "007", "123456789"},
       {"", "0", "000", "-1", "+5", "1e3", "12 ", "1234567890"}},
      {plainFileName, {"pos-2.2.gz", "..hidden"}, {"", ".", "..", "a/b", "/abs"}}};
  for (const Case& c : cases) {
    for (const std::string& text : c.accepted) EXPECT_TRUE(c.check(text.c_str())) << text;
    for (const std::string& text : c.refused) EXPECT_FALSE(c.check(text.c_str())) << text;
    EXPECT_FALSE(c.check(nullptr));
  }
}

TEST(BundleData, ChecksumRecord) {
  for (const Row& c : caseRows("md5-records")) {
    EXPECT_EQ("sum   " + c[3] + "\n",
              md5RecordLine("sum", std::stoll(c[0]), c[1] == "true", std::stoll(c[2])));
  }
  EXPECT_EQ("/i/pos-2.2.md5", md5RecordPath("/i/pos-2.2.gz"));
  EXPECT_EQ("/i/pos-2.2.md5", md5RecordPath("/i/pos-2.2"));
  EXPECT_EQ("/i/pos-2.2.img.md5", md5RecordPath("/i/pos-2.2.img.gz"));
}
