// Tests of the apply run's pure helpers: the maintData reader, image name
// splitting, value vetting and the checksum record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bundle_data.h"

TEST(BundleData, MaintDataText) {
  struct Case {
    const char* text;
    std::string values;  // KEY=VALUE of each present key, in key order
  } cases[] = {
      {"   # comment\n\n\nOLDIMAGENAME=p-2.1-2006.gz\noldImageMD5=abc\nnewImageNameX=p-2.2.gz\n"
       "newimagesize=64\nnewImageFStype=ext3\nnewImageInodes=4096\nunknownKey=1\n",
       "oldImageName=p-2.1-2006.gz oldImageMD5=abc newImageName=p-2.2.gz newImageSize=64 "
       "newImageFStype=ext3 newImageInodes=4096 "},
      {"oldImageName = x\nnewImageName=a=b\noldImageMD5=\n",
       "oldImageName= x oldImageMD5= newImageName=a "},
      {"newImageSize=1\nnewImageSize=2\nnewImageInodes\r\n", "newImageSize=2 "},
      {"newImageFStype=ext3\r\n", "newImageFStype=ext3\r "},
      {nullptr, ""}};
  for (const Case& c : cases) {
    MaintData d = parseMaintDataText(c.text);
    std::string values;
    for (int k = 0; k < MaintData::KEYS; ++k) {
      if (d.present[k] || !d.value[k].empty())
        values += MaintData::NAMES[k] + ("=" + d.value[k]) + " ";
    }
    EXPECT_EQ(c.values, values) << (c.text ? c.text : "null");
  }
}

TEST(BundleData, ImageNameParts) {
  struct Case {
    const char* name;
    const char* parts;  // base|version|date|extension, "~" for none
  } cases[] = {{"/tftpboot/image/pos-2.1-20060105.gz", "/tftpboot/image/pos|2.1|20060105|gz"},
               {"pos-2.1.gz", "pos|2.1|~|gz"},
               {"pos-2.1-20060105", "pos|2.1|~|~"},
               {"pos-2.2-20060301.img.gz", "pos|2.2|20060301|img.gz"},
               {"pos-2.2", "pos|2.2|~|~"},
               {"posimage.gz", "~|~|~|~"}};
  for (const Case& c : cases) {
    char* part[4];
    parseImageName(c.name, part[0], part[1], part[2], part[3]);
    std::string parts;
    for (char* p : part) {
      parts += std::string(parts.empty() ? "" : "|") + (p ? p : "~");
      free(p);
    }
    EXPECT_EQ(c.parts, parts) << c.name;
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
  struct Case {
    long long sizeMB;
    bool gzipped;
    long long compressed;
    const char* line;  // behind the checksum and three blanks
  } cases[] = {{1, false, 0, "256 4096"},
               {128, false, 0, "32768 4096"},
               {129, false, 0, "16512 8192"},
               {256, false, 0, "32768 8192"},
               {257, false, 0, "16448 16384"},
               {512, false, 0, "32768 16384"},
               {513, false, 0, "16416 32768"},
               {600, true, 100000000, "19200 32768 3052"},
               {64, true, 40960, "16384 4096 10"},
               {64, true, 0, "16384 4096 0"},
               {2048, false, 0, "65536 32768"},  // 2 GB and more in 64 bits
               {4096, true, 3221225472LL, "131072 32768 98304"},
               {4096, true, 3221225473LL, "131072 32768 98305"}};
  for (const Case& c : cases) {
    EXPECT_EQ(std::string("sum   ") + c.line + "\n",
              md5RecordLine("sum", c.sizeMB, c.gzipped, c.compressed));
  }
  EXPECT_EQ("/i/pos-2.2.md5", md5RecordPath("/i/pos-2.2.gz"));
  EXPECT_EQ("/i/pos-2.2.md5", md5RecordPath("/i/pos-2.2"));
  EXPECT_EQ("/i/pos-2.2.img.md5", md5RecordPath("/i/pos-2.2.img.gz"));
}
