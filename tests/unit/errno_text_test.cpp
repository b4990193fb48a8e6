// The words printed for a system error do not depend on the C library the tool was linked with.
#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>

#include <string>

#include "serial/errno_text.h"

namespace {

// The unit tests run against glibc: every number, in the table or not, reads as glibc's strerror
// (the table's words are glibc's, for musl, whose words differ: "Resource busy", "I/O error", ...).
TEST(ErrnoText, EveryNumberAsGlibcWordsIt) {
  for (int error = 0; error <= 200; ++error) {
    SCOPED_TRACE(error);
    const std::string glibc = strerror(error);  // a copy: strerror may reuse its buffer
    EXPECT_EQ(glibc, ErrnoText(error));
  }
}

}  // namespace
