// The words printed for a system error do not depend on the C library the tool was linked with.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "serial/errno_text.h"
#include "serial/port.h"

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

// The errno line scripts have matched, then a line that starts as every failure's and says what to check
// (the runs of the real binary show the others: a missing path, a file, a directory, a busy port).
TEST(PrintOpenFailure, ErrnoLineThenWhatToCheck) {
  const struct { const char* path; int error; const char* want; } cases[] = {
      {"/dev/ttyUSB2", EACCES,
       "13(Permission denied)\n"
       "atsms: cannot open /dev/ttyUSB2: Permission denied; is this user in the group that owns it (dialout)?\n"},
      {"/dev/ttyUSB2", ENXIO,
       "6(No such device or address)\n"
       "atsms: cannot open /dev/ttyUSB2: No such device or address; is the modem plugged in?\n"},
      {"/dev/tty\r\nUSB9", ENOENT,
       "2(No such file or directory)\n"
       "atsms: cannot open /dev/tty??USB9: No such file or directory; is the modem plugged in?\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    PrintOpenFailure(out, c.path, c.error);
    fclose(out);
    EXPECT_EQ(c.want, std::string(text, size));
    free(text);
  }
}

}  // namespace
