// Tests of the apply run's pure helpers: the maintData reader, image name
// splitting, value vetting and the checksum record arithmetic.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "bundle_data.h"

TEST(MaintDataText, KeysMatchByPrefixIgnoringCase) {
  MaintData d = parseMaintDataText(
      "   # an indented comment\n\n\nOLDIMAGENAME=pos-2.1-20060105.gz\n"
      "oldImageMD5=abc\nnewImageNameTrailing=pos-2.2-20060301.gz\nnewimagesize=64\n"
      "newImageFStype=ext3\nnewImageInodes=4096\nunknownKey=1\n");
  EXPECT_EQ("pos-2.1-20060105.gz", d.value[MaintData::OLD_IMAGE_NAME]);
  EXPECT_EQ("abc", d.value[MaintData::OLD_IMAGE_MD5]);
  EXPECT_EQ("pos-2.2-20060301.gz", d.value[MaintData::NEW_IMAGE_NAME]);
  EXPECT_EQ("64", d.value[MaintData::NEW_IMAGE_SIZE]);
  EXPECT_EQ("ext3", d.value[MaintData::NEW_IMAGE_FSTYPE]);
  EXPECT_EQ("4096", d.value[MaintData::NEW_IMAGE_INODES]);
  for (bool p : d.present) EXPECT_TRUE(p);
}

TEST(MaintDataText, NothingIsTrimmedAroundTheEqualsSign) {
  MaintData d = parseMaintDataText("oldImageName = x\nnewImageName=a=b\noldImageMD5=\n");
  EXPECT_EQ(" x", d.value[MaintData::OLD_IMAGE_NAME]);
  EXPECT_EQ("a", d.value[MaintData::NEW_IMAGE_NAME]);
  EXPECT_TRUE(d.present[MaintData::OLD_IMAGE_MD5]);
  EXPECT_EQ("", d.value[MaintData::OLD_IMAGE_MD5]);
}

TEST(MaintDataText, LaterLinesReplaceAndMissingKeysStayAbsent) {
  MaintData d = parseMaintDataText("newImageSize=1\nnewImageSize=2\nnewImageInodes\r\n");
  EXPECT_EQ("2", d.value[MaintData::NEW_IMAGE_SIZE]);
  EXPECT_FALSE(d.present[MaintData::NEW_IMAGE_INODES]);  // no "=" gives no value
  EXPECT_FALSE(d.present[MaintData::OLD_IMAGE_NAME]);
  MaintData none = parseMaintDataText(nullptr);
  for (bool p : none.present) EXPECT_FALSE(p);
}

TEST(MaintDataText, CarriageReturnsStayInTheValue) {
  MaintData d = parseMaintDataText("newImageFStype=ext3\r\n");
  EXPECT_EQ("ext3\r", d.value[MaintData::NEW_IMAGE_FSTYPE]);
}

struct NameParts {
  std::string bare, ver, date, ext;
};

static NameParts split(const char* name) {
  char *b, *v, *d, *e;
  parseImageName(name, b, v, d, e);
  NameParts p{b ? b : "<null>", v ? v : "<null>", d ? d : "<null>", e ? e : "<null>"};
  free(b);
  free(v);
  free(d);
  free(e);
  return p;
}

TEST(ImageName, SplitsIntoFourParts) {
  NameParts p = split("/tftpboot/image/pos-2.1-20060105.gz");
  EXPECT_EQ("/tftpboot/image/pos", p.bare);
  EXPECT_EQ("2.1", p.ver);
  EXPECT_EQ("20060105", p.date);
  EXPECT_EQ("gz", p.ext);

  p = split("pos-2.1.gz");
  EXPECT_EQ("pos", p.bare);
  EXPECT_EQ("2.1", p.ver);
  EXPECT_EQ("<null>", p.date);
  EXPECT_EQ("gz", p.ext);

  p = split("pos-2.1-20060105");
  EXPECT_EQ("2.1", p.ver);
  EXPECT_EQ("<null>", p.date);
  EXPECT_EQ("<null>", p.ext);

  p = split("pos-2.2-20060301.img.gz");
  EXPECT_EQ("20060301", p.date);
  EXPECT_EQ("img.gz", p.ext);

  p = split("posimage.gz");
  EXPECT_EQ("<null>", p.bare);
  EXPECT_EQ("<null>", p.ver);
}

TEST(Vetting, ShellSafeRefusesWhatAShellInterprets) {
  EXPECT_TRUE(shellSafe("/tftpboot/image/pos-2.2-20060301.gz"));
  EXPECT_TRUE(shellSafe("a_b.c,d+e=f%g@h:i"));
  for (const char* bad : {"a b", "a'b", "a\"b", "a\\b", "$x", "`x`", "a;b", "a&b", "a|b", "a<b",
                          "a>b", "(a)", "a*", "a?", "[a]", "{a}", "~a", "#a", "a!", "a\nb",
                          "a\tb"}) {
    EXPECT_FALSE(shellSafe(bad)) << bad;
  }
  EXPECT_FALSE(shellSafe(nullptr));
}

TEST(Vetting, NumbersAndFileNames) {
  EXPECT_TRUE(positiveDecimal("64"));
  EXPECT_TRUE(positiveDecimal("007"));
  for (const char* bad : {"", "0", "000", "-1", "+5", "1e3", "12 ", "1234567890", "x"}) {
    EXPECT_FALSE(positiveDecimal(bad)) << bad;
  }
  EXPECT_TRUE(plainFileName("pos-2.2.gz"));
  EXPECT_TRUE(plainFileName("..hidden"));
  for (const char* bad : {"", ".", "..", "a/b", "../../etc/passwd", "/abs"}) {
    EXPECT_FALSE(plainFileName(bad)) << bad;
  }
}

TEST(Md5Record, PathDropsTheGzipSuffix) {
  EXPECT_EQ("/tftpboot/image/pos-2.2.md5", md5RecordPath("/tftpboot/image/pos-2.2.gz"));
  EXPECT_EQ("/tftpboot/image/pos-2.2.md5", md5RecordPath("/tftpboot/image/pos-2.2"));
  EXPECT_EQ("/tftpboot/image/pos-2.2.img.md5", md5RecordPath("/tftpboot/image/pos-2.2.img.gz"));
}

TEST(Md5Record, BlockSizeByImageSize) {
  EXPECT_EQ(4096, md5BlockSize(1));
  EXPECT_EQ(4096, md5BlockSize(128));
  EXPECT_EQ(8192, md5BlockSize(129));
  EXPECT_EQ(8192, md5BlockSize(256));
  EXPECT_EQ(16384, md5BlockSize(257));
  EXPECT_EQ(16384, md5BlockSize(512));
  EXPECT_EQ(32768, md5BlockSize(513));
  EXPECT_EQ(32768, md5BlockSize(4096));
}

TEST(Md5Record, Lines) {
  const char* sum = "0123456789abcdef0123456789abcdef";
  EXPECT_EQ(std::string(sum) + "   16384 4096\n", md5RecordLine(sum, 64, false, 0));
  EXPECT_EQ(std::string(sum) + "   32768 4096\n", md5RecordLine(sum, 128, false, 0));
  EXPECT_EQ(std::string(sum) + "   16512 8192\n", md5RecordLine(sum, 129, false, 0));
  EXPECT_EQ(std::string(sum) + "   19200 32768 3052\n",
            md5RecordLine(sum, 600, true, 100000000));
  // An exact multiple of the block size is not rounded up.
  EXPECT_EQ(std::string(sum) + "   16384 4096 10\n", md5RecordLine(sum, 64, true, 40960));
  EXPECT_EQ(std::string(sum) + "   16384 4096 0\n", md5RecordLine(sum, 64, true, 0));
}

TEST(Md5Record, LargeImagesUseSixtyFourBitArithmetic) {
  const char* sum = "x";
  // 2048 MB and 4096 MB images, and a compressed file of 3 GB.
  EXPECT_EQ("x   65536 32768\n", md5RecordLine(sum, 2048, false, 0));
  EXPECT_EQ("x   131072 32768 98304\n", md5RecordLine(sum, 4096, true, 3221225472LL));
  EXPECT_EQ("x   131072 32768 98305\n", md5RecordLine(sum, 4096, true, 3221225473LL));
}
