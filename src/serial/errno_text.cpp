#include "serial/errno_text.h"

#include <errno.h>
#include <string.h>

namespace {

// Keyed by name, not number: MIPS numbers several of these differently. The words are stored in
// place, not pointed to, so the table needs no relocation when the program starts.
struct ErrnoWords {
  short error;
  char text[46];  // the longest words and their NUL
};
const ErrnoWords GlibcWords[] = {
    {EPERM, "Operation not permitted"},
    {ENOENT, "No such file or directory"},
    {EINTR, "Interrupted system call"},
    {EIO, "Input/output error"},
    {ENXIO, "No such device or address"},
    {EBADF, "Bad file descriptor"},
    {EAGAIN, "Resource temporarily unavailable"},
    {ENOMEM, "Cannot allocate memory"},
    {EACCES, "Permission denied"},
    {EFAULT, "Bad address"},
    {EBUSY, "Device or resource busy"},
    {ENODEV, "No such device"},
    {ENOTDIR, "Not a directory"},
    {EISDIR, "Is a directory"},
    {EINVAL, "Invalid argument"},
    {ENFILE, "Too many open files in system"},
    {EMFILE, "Too many open files"},
    {ENOTTY, "Inappropriate ioctl for device"},
    {ETXTBSY, "Text file busy"},
    {EFBIG, "File too large"},
    {ENOSPC, "No space left on device"},
    {EROFS, "Read-only file system"},
    {EPIPE, "Broken pipe"},
    {EDEADLK, "Resource deadlock avoided"},
    {ENAMETOOLONG, "File name too long"},
    {ENOLCK, "No locks available"},
    {ENOSYS, "Function not implemented"},
    {ELOOP, "Too many levels of symbolic links"},
    {EOVERFLOW, "Value too large for defined data type"},
    {EPROTO, "Protocol error"},
    {EOPNOTSUPP, "Operation not supported"},
    {ESHUTDOWN, "Cannot send after transport endpoint shutdown"},
    {ETIMEDOUT, "Connection timed out"},
    {ESTALE, "Stale file handle"},
    {EDQUOT, "Disk quota exceeded"},
    {ENOMEDIUM, "No medium found"},
    {EMEDIUMTYPE, "Wrong medium type"},
};

}  // namespace

const char* ErrnoText(int error) {
  for (const ErrnoWords& words : GlibcWords)
    if (words.error == error) return words.text;
  return strerror(error);
}
