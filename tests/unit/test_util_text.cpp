// Tests of the text utilities: trimming, growing texts, mode conversion,
// file size texts, dates and bounded formatting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "maint.h"

TEST(UtilText, TrimmingInPlace) {
  char a[] = " \t\n\v\f\r";
  EXPECT_STREQ("", strip(a));
  char b[] = "";
  EXPECT_STREQ("", strip(b));
  char c[] = "  a b  \n";
  EXPECT_STREQ("a b", strip(c));
  char d[] = "\t x ";
  EXPECT_STREQ("x ", skipWS(d));
  char e[] = "line\r\n\r";
  EXPECT_STREQ("line", chomp(e));
  char f[] = "keep \t";
  EXPECT_STREQ("keep \t", chomp(f));
}

TEST(UtilText, TranslateReplacesEveryCharacter) {
  char a[] = "a-b-c";
  EXPECT_STREQ("a b c", translate(a, '-', ' '));
  char b[] = "a/b/c";
  EXPECT_STREQ("a", translate(b, '/', '\0'));
  // Equal characters leave the text as it is instead of looping.
  char c[] = "aaa";
  EXPECT_STREQ("aaa", translate(c, 'a', 'a'));
}

TEST(UtilText, RwxToOctal) {
  EXPECT_STREQ("755", rwxToOctal("-rwxr-xr-x"));
  EXPECT_STREQ("1777", rwxToOctal("drwxrwxrwt"));
  EXPECT_STREQ("1776", rwxToOctal("drwxrwxrwT"));
  EXPECT_STREQ("4644", rwxToOctal("-rwSr--r--"));
  EXPECT_STREQ("6755", rwxToOctal("-rwsr-sr-x"));
  EXPECT_STREQ("0", rwxToOctal("----------"));
  // A short text counts its missing characters as '-'; extra ones are ignored.
  EXPECT_STREQ("700", rwxToOctal("-rwx"));
  EXPECT_STREQ("0", rwxToOctal(""));
  EXPECT_STREQ("644", rwxToOctal("-rw-r--r--xyz"));
}

TEST(UtilText, DynamicStrCatGrowth) {
  char* text = nullptr;
  int size = 0;
  dynamicStrCat(text, "0123456789", size);
  EXPECT_EQ(256, size);
  EXPECT_STREQ("0123456789", text);
  free(text);

  text = nullptr;
  size = 0;
  std::string big(200, 'x');
  dynamicStrCat(text, big.c_str(), size);
  EXPECT_EQ(400, size);
  free(text);

  text = nullptr;
  size = 0;
  std::string built;
  for (int i = 0; i < 25; ++i) {
    dynamicStrCat(text, "yyyyyyyyyy", size);
    built += "yyyyyyyyyy";
  }
  EXPECT_EQ(256, size);
  dynamicStrCat(text, "0123456789", size);
  EXPECT_EQ(522, size);
  EXPECT_EQ(built + "0123456789", std::string(text));
  free(text);
}

TEST(UtilText, CopyString) {
  EXPECT_EQ(nullptr, copyString(nullptr));
  char* empty = copyString("");
  ASSERT_NE(nullptr, empty);
  EXPECT_STREQ("", empty);
  free(empty);
}

TEST(UtilText, FormatFileSize) {
  struct Case {
    int size;
    const char* text;
  } cases[] = {{0, "0"},          {-5, "-5"},         {1023, "1023"},
               {1024, "1.0K"},    {1536, "1.5K"},     {102399, "99.9K"},
               {102400, "0.0M"},  {1048576, "1.0M"},  {1073741823, "1023.9M"},
               {1073741824, "1.0G"}, {2147483647, "1.9G"}};
  for (const Case& c : cases) {
    char* text = formatFileSize(c.size);
    EXPECT_STREQ(c.text, text) << c.size;
    free(text);
  }
}

TEST(UtilText, CanonicalDateOfAGivenTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  time_t t = 1136419200 + 3723;  // 2006-01-05 01:02:03 UTC
  EXPECT_STREQ("2006/01/05-01:02:03", canonicalDate(&t));
  EXPECT_EQ(19u, strlen(canonicalDate(nullptr)));
}

TEST(UtilText, FormatTextReportsCutTexts) {
  char buff[8];
  EXPECT_EQ(1, formatText(buff, sizeof buff, "%s", "1234567"));
  EXPECT_EQ(0, formatText(buff, sizeof buff, "%s", "12345678"));
  EXPECT_STREQ("1234567", buff);
}

TEST(UtilText, ReadConfigFileSkipsCommentsAndBlankLines) {
  FILE* in = tmpfile();
  fputs("# comment\n\n   \n  value one  \n#x\nlast without newline", in);
  rewind(in);
  char buff[300];
  ASSERT_EQ(1, readConfigFile(in, buff, sizeof buff));
  EXPECT_STREQ("value one", buff);
  EXPECT_EQ(0, readConfigFile(in, buff, sizeof buff));
  fclose(in);

  in = tmpfile();
  fputs("# only\n\n#comments\n", in);
  rewind(in);
  EXPECT_EQ(0, readConfigFile(in, buff, sizeof buff));
  fclose(in);
}
