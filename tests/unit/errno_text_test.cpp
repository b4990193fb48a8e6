// The words printed for a system error do not depend on the C library the tool was linked with.
#include <gtest/gtest.h>

#include <errno.h>
#include <string.h>

#include <string>

#include "serial/errno_text.h"

namespace {

// The errors whose words musl and glibc disagree on, with the words the tool prints.
struct WordsCase { int error; const char* text; };
const WordsCase WordsCases[] = {
    {EBUSY, "Device or resource busy"},         // musl: "Resource busy"
    {ENOTTY, "Inappropriate ioctl for device"},  // musl: "Not a tty"
    {EIO, "Input/output error"},                 // musl: "I/O error"
    {ENOMEM, "Cannot allocate memory"},
    {EMFILE, "Too many open files"},
    {ENAMETOOLONG, "File name too long"},
    {ELOOP, "Too many levels of symbolic links"},
    {EOVERFLOW, "Value too large for defined data type"},
    {EOPNOTSUPP, "Operation not supported"},
    {EDEADLK, "Resource deadlock avoided"},
    {ETIMEDOUT, "Connection timed out"},
    {ESHUTDOWN, "Cannot send after transport endpoint shutdown"},
    {EDQUOT, "Disk quota exceeded"},
    // Worded alike, printed in the tests' own expectations.
    {ENOENT, "No such file or directory"},
    {EACCES, "Permission denied"},
    {ENXIO, "No such device or address"},
};

TEST(ErrnoText, GlibcWordsWhereMuslDiffers) {
  for (const WordsCase& c : WordsCases) {
    SCOPED_TRACE(c.error);
    EXPECT_STREQ(c.text, ErrnoText(c.error));
  }
}

// The unit tests run against glibc: every number, in the table or not, reads as glibc's strerror.
TEST(ErrnoText, EveryNumberAsGlibcWordsIt) {
  for (int error = 0; error <= 200; ++error) {
    SCOPED_TRACE(error);
    const std::string glibc = strerror(error);  // a copy: strerror may reuse its buffer
    EXPECT_EQ(glibc, ErrnoText(error));
  }
}

}  // namespace
