// Tests of the text utilities: in-place edits, mode and size texts, growing
// texts, dates and bounded formatting.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "maint.h"
#include "support.h"

TEST(UtilText, InPlaceEdits) {
  char* (*slash)(char*) = [](char* t) { return translate(t, '/', '\0'); };
  char* (*dash)(char*) = [](char* t) { return translate(t, '-', ' '); };
  char* (*same)(char*) = [](char* t) { return translate(t, 'a', 'a'); };
  struct Case {
    char* (*edit)(char*);
    const char* in;
    const char* out;
  } cases[] = {{strip, " \t\n\v\f\r", ""},    {strip, "  a b  \n", "a b"},
               {skipWS, "\t x ", "x "},       {chomp, "line\r\n\r", "line"},
               {chomp, "keep \t", "keep \t"}, {dash, "a-b-c", "a b c"},
               {slash, "a/b/c", "a"},         {same, "aaa", "aaa"}};
  for (const Case& c : cases) {
    char buff[32];
    snprintf(buff, sizeof buff, "%s", c.in);
    EXPECT_STREQ(c.out, c.edit(buff)) << '"' << c.in << '"';
  }
}

TEST(UtilText, ModesAndSizesAsText) {
  for (const Row& m : caseRows("modes")) EXPECT_EQ(m[1], rwxToOctal(m[0].c_str())) << m[0];
  for (const Row& s : caseRows("sizes")) {
    char* text = formatFileSize(std::stoi(s[0]));
    EXPECT_EQ(s[1], text) << s[0];
    free(text);
  }
}

TEST(UtilText, GrowingCopiedBoundedAndDatedTexts) {
  char* text = nullptr;
  int size = 0;
  std::string expected;
  for (int i = 0; i < 60; ++i) {
    std::string piece(i % 2 ? 7 : 200, static_cast<char>('a' + i % 26));
    dynamicStrCat(text, piece.c_str(), size);
    expected += piece;
    ASSERT_EQ(expected, text);
    ASSERT_GT(size, static_cast<int>(expected.size()));
  }
  free(text);
  EXPECT_EQ(nullptr, copyString(nullptr));

  char buff[8];
  EXPECT_EQ(1, formatText(buff, sizeof buff, "%s", "1234567"));
  EXPECT_EQ(0, formatText(buff, sizeof buff, "%s", "12345678"));
  EXPECT_STREQ("1234567", buff);

  setenv("TZ", "UTC", 1);
  tzset();
  time_t t = 1136419200 + 3723;  // 2006-01-05 01:02:03 UTC
  EXPECT_STREQ("2006/01/05-01:02:03", canonicalDate(&t));
}
