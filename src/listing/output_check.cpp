#include "listing/output_check.h"

#include <errno.h>

#include "serial/errno_text.h"

namespace {

int FirstError = 0;
bool Reported = false;

}  // namespace

void WatchOutput(FILE* out) {
  // errno is that of the write that failed: nothing since the print that called us has touched it.
  if (FirstError == 0 && ferror(out)) FirstError = errno != 0 ? errno : EIO;
}

int OutputError(FILE* out) {
  WatchOutput(out);
  const int flushed = fflush(out);
  if (FirstError == 0 && (flushed != 0 || ferror(out))) FirstError = errno != 0 ? errno : EIO;
  return FirstError;
}

void ReportOutputError(int error, const char* done) {
  if (Reported) return;
  Reported = true;
  fputs("atsms: ", stderr);
  if (done) {
    fputs(done, stderr);
    fputs(" but the result could not be written: ", stderr);
  } else {
    fputs("cannot write the output: ", stderr);
  }
  fputs(ErrnoText(error), stderr);
  fputc('\n', stderr);
}

bool OutputErrorReported() { return Reported; }

void ForgetOutputError(FILE* out) {
  FirstError = 0;
  Reported = false;
  clearerr(out);
}
