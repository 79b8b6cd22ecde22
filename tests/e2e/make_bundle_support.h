// What the bundle builder's end-to-end tests share: the path of the built
// makeKestroBundle and the check that it has been built.
#ifndef DELTAMAINT_TESTS_MAKE_BUNDLE_SUPPORT_H
#define DELTAMAINT_TESTS_MAKE_BUNDLE_SUPPORT_H

#include <unistd.h>

#include <string>

#include "sandbox.h"

inline std::string builder() { return binaryDir() + "/makeKestroBundle"; }

// The builder is a target of its own: every test needs it built.
#define REQUIRE_BUILDER()                       \
  ASSERT_EQ(0, access(builder().c_str(), X_OK)) \
      << "build the makeKestroBundle target: " << builder()

#endif  // DELTAMAINT_TESTS_MAKE_BUNDLE_SUPPORT_H
