// Tests of the linked list: appends of the three forms, both walking
// directions, line files in and out, and the list form of logAndPrint.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log_test_util.h"
#include "maint.h"

static std::vector<std::string> forward(array& arr) {
  std::vector<std::string> out;
  for (array_elem* e = first(arr); e; e = next(*e)) out.push_back(static_cast<char*>(e->data));
  return out;
}

static std::vector<std::string> backward(array& arr) {
  std::vector<std::string> out;
  for (array_elem* e = last(arr); e; e = prior(*e)) out.push_back(static_cast<char*>(e->data));
  return out;
}

TEST(List, NewListIsEmpty) {
  array* arr = newArray();
  EXPECT_EQ(nullptr, first(*arr));
  EXPECT_EQ(nullptr, last(*arr));
  EXPECT_EQ(0, arraySize(*arr));
  deleteArray(arr);
  deleteArray(nullptr);
}

TEST(List, AppendsKeepOrderBothWays) {
  array* arr = newArray();
  push(*arr, "one");
  EXPECT_EQ(first(*arr), last(*arr));
  EXPECT_EQ(nullptr, next(*first(*arr)));
  EXPECT_EQ(nullptr, prior(*first(*arr)));
  push(*arr, "");
  char mutableText[] = "three";
  push(*arr, mutableText);  // a char* is copied as text, not taken over
  mutableText[0] = 'T';
  EXPECT_EQ(3, arraySize(*arr));
  EXPECT_EQ((std::vector<std::string>{"one", "", "three"}), forward(*arr));
  EXPECT_EQ((std::vector<std::string>{"three", "", "one"}), backward(*arr));
  deleteArray(arr);
}

TEST(List, ByteAndPointerForms) {
  array* arr = newArray();
  push(*arr, static_cast<const void*>("abcdef"), 3);
  char* block = static_cast<char*>(malloc(8));
  strcpy(block, "owned");
  push(*arr, static_cast<void*>(block));
  EXPECT_EQ(0, memcmp("abc", first(*arr)->data, 3));
  EXPECT_EQ(static_cast<void*>(block), last(*arr)->data);
  deleteArray(arr);  // releases the block too (checked under a leak checker)
}

TEST(List, FileRoundTrip) {
  TempLog log;
  std::string file = log.dir() + "/list.txt";
  array* arr = newArray();
  push(*arr, "a");
  push(*arr, "b c");
  push(*arr, "");
  arrayToFile(file.c_str(), arr);
  deleteArray(arr);
  EXPECT_EQ("a\nb c\n\n", readWholeFile(file));

  writeWholeFile(file, "x\r\ny\n" + std::string(310, 'z') + "\nlast without newline");
  array* read = fileToArray(file.c_str());
  std::vector<std::string> lines = forward(*read);
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("x", lines[0]);
  EXPECT_EQ("y", lines[1]);
  EXPECT_EQ(std::string(299, 'z'), lines[2]);
  EXPECT_EQ(std::string(11, 'z'), lines[3]);
  deleteArray(read);
}

TEST(List, NullListWritesAnEmptyFileAndMissingFileReadsEmpty) {
  TempLog log;
  std::string file = log.dir() + "/null.txt";
  writeWholeFile(file, "old");
  arrayToFile(file.c_str(), nullptr);
  EXPECT_EQ("", readWholeFile(file));
  array* missing = fileToArray((log.dir() + "/missing").c_str());
  EXPECT_EQ(0, arraySize(*missing));
  deleteArray(missing);
}

TEST(List, UnwritableFileIsLogged) {
  TempLog log;
  array* arr = newArray();
  push(*arr, "x");
  std::string file = log.dir() + "/no/such/dir/f";
  arrayToFile(file.c_str(), arr);
  deleteArray(arr);
  EXPECT_EQ(std::vector<std::string>{"T Warning: Could not open file " + file +
                                     ". No such file or directory."},
            log.lines());
}

TEST(List, LogAndPrintOfAList) {
  TempLog log;
  array* arr = newArray();
  push(*arr, "first");
  push(*arr, "second\nthird");
  testing::internal::CaptureStdout();
  logAndPrint('I', "- ", *arr);
  EXPECT_EQ("- first\n- second\n- third\n", testing::internal::GetCapturedStdout());
  deleteArray(arr);
}
