// Tests of method tracing: entry and exit lines, indentation by depth,
// banners around outermost scopes, and switching tracing on and off with
// scopes open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log_test_util.h"
#include "maint.h"

using Lines = std::vector<std::string>;

static const std::string OPEN = "T     " + std::string(61, '>');
static const std::string CLOSE = "T     " + std::string(61, '<');

class Trace : public testing::Test {
 protected:
  void SetUp() override { methodTrace::startTracing(); }
  void TearDown() override { methodTrace::stopTracing(); }
};

TEST_F(Trace, NestedScopesAreIndented) {
  TempLog log;
  {
    methodTrace a("A");
    {
      methodTrace b("B");
      {
        methodTrace c("C");
        logOnly("", "inside");
      }
    }
  }
  EXPECT_EQ((Lines{" ", OPEN, "T ->>A", "T    ->>B", "T       ->>C", "T inside", "T       <<-C",
                   "T    <<-B", "T <<-A", CLOSE, " "}),
            log.lines());
  EXPECT_EQ(0, methodTrace::levelValue());
}

TEST_F(Trace, EachOutermostScopeHasItsBanners) {
  TempLog log;
  { methodTrace a("A"); }
  { methodTrace b("B"); }
  EXPECT_EQ((Lines{" ", OPEN, "T ->>A", "T <<-A", CLOSE, " ", " ", OPEN, "T ->>B", "T <<-B",
                   CLOSE, " "}),
            log.lines());
}

TEST_F(Trace, SwitchingWithScopesOpenKeepsTheDepthSound) {
  TempLog log;
  methodTrace::stopTracing();
  {
    methodTrace untraced("U");
    methodTrace::startTracing();
    { methodTrace inner("I"); }
  }  // U's entry was not traced: it owes no exit line and lowers nothing
  EXPECT_EQ(0, methodTrace::levelValue());
  {
    methodTrace traced("T");
    methodTrace::stopTracing();
  }
  EXPECT_EQ(0, methodTrace::levelValue());
  EXPECT_EQ((Lines{" ", OPEN, "T ->>I", "T <<-I", CLOSE, " ", " ", OPEN, "T ->>T"}),
            log.lines());
}

TEST_F(Trace, LibraryOperationsOpenTheirScopes) {
  TempLog log;
  array* arr = newArray();
  deleteArray(arr);
  EXPECT_EQ((Lines{" ", OPEN, "T ->>newArray", "T <<-newArray", CLOSE, " ", " ", OPEN,
                   "T ->>deleteArray", "T <<-deleteArray", CLOSE, " "}),
            log.lines());
}

TEST(TraceOff, NothingIsWrittenWhenOff) {
  TempLog log;
  methodTrace::stopTracing();
  { methodTrace a("A"); }
  EXPECT_EQ("", log.raw());
  EXPECT_EQ(0, isTraceActive());
}
