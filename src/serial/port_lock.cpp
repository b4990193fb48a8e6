#include "serial/port_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char DeviceDirectory[] = "/dev/";
constexpr char LockFileFormat[] = "/var/lock/LCK..%s";
constexpr int LockContentSize = 11;  // HDB: the pid as ten characters, right-aligned, and a newline
constexpr int BinaryPidSize = 4;     // the old format: the pid as the int it is in memory
constexpr int StaleRemovals = 3;     // a lock file that keeps coming back stale is taken as held

char LockFile[LockPathSize];               // this run's lock file, while HoldsLockFile
volatile sig_atomic_t HoldsLockFile = 0;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsText(const char* content, int length) {
  for (int i = 0; i < length; ++i)
    if (!IsBlank(content[i]) && (content[i] < ' ' || content[i] > '~')) return false;
  return true;
}

constexpr int NotAFile = -2;  // RunningHolder: something other than a lock file at the path

// The pid in the lock file at lockPath when that process still runs; 0 when it is gone or the
// content is no pid (stale); -1 when the file cannot be read (gone meanwhile, or not ours to read);
// NotAFile, with *kind, when something else stands there: never opened when lstat shows it (a
// FIFO would block the open for ever, a device may act on it), never followed or blocked on when
// it is swapped in after that.
int RunningHolder(const char* lockPath, const char** kind) {
  *kind = nullptr;
  struct stat st;
  if (lstat(lockPath, &st) == 0 && (*kind = NotALockFile(st.st_mode & S_IFMT))) return NotAFile;
  const int fd = open(lockPath, O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) {
    if (errno != ELOOP) return -1;
    *kind = NotALockFile(S_IFLNK);
    return NotAFile;
  }
  if (fstat(fd, &st) != 0 || (*kind = NotALockFile(st.st_mode & S_IFMT))) {
    close(fd);
    return *kind ? NotAFile : -1;
  }
  char content[32];
  const ssize_t got = read(fd, content, sizeof content);
  close(fd);
  if (got < 0) return -1;
  const int pid = ReadLockPid(content, (int)got);
  if (pid <= 0 || pid == getpid()) return 0;  // our own pid: left by an earlier process that had it
  return kill(pid, 0) == 0 || errno == EPERM ? pid : 0;
}

// Creates the lock file with our pid. 1 when created, 0 when one exists, -1 when there is no
// lock file to be had (no /var/lock, or not writable).
int CreateLockFile(const char* lockPath) {
  const int fd = open(lockPath, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) return errno == EEXIST ? 0 : -1;
  char content[LockContentSize + 1];
  snprintf(content, sizeof content, "%10d\n", (int)getpid());
  const bool written = write(fd, content, LockContentSize) == LockContentSize;
  if (close(fd) != 0 || !written) {  // a half-written file would read as stale to everyone
    unlink(lockPath);
    return -1;
  }
  return 1;
}

}  // namespace

int LockFilePath(char* dest, int size, const char* resolved) {
  const size_t skip = strncmp(resolved, DeviceDirectory, strlen(DeviceDirectory)) == 0 ? strlen(DeviceDirectory)
                                                                                          : strspn(resolved, "/");
  const int length = snprintf(dest, (size_t)size, LockFileFormat, resolved + skip);
  if (length < 0 || length >= size) return -1;
  for (char* c = dest + sizeof LockFileFormat - 3; *c; ++c)  // behind "/var/lock/LCK.."
    if (*c == '/') *c = '_';
  return length;
}

int ReadLockPid(const char* content, int length) {
  if (length == BinaryPidSize && !IsText(content, length)) {
    int32_t binary;
    memcpy(&binary, content, sizeof binary);
    return binary > 0 ? (int)binary : -1;
  }
  int at = 0;
  while (at < length && IsBlank(content[at])) ++at;
  const int digits = at;
  long long pid = 0;
  for (; at < length && content[at] >= '0' && content[at] <= '9' && at - digits < 10; ++at)
    pid = pid * 10 + (content[at] - '0');
  if (at == digits || pid <= 0 || pid > INT_MAX) return -1;
  while (at < length && IsBlank(content[at])) ++at;
  return at == length ? (int)pid : -1;
}

const char* NotALockFile(unsigned type) {
  switch (type) {
    case S_IFREG: return nullptr;
    case S_IFIFO: return "a FIFO";
    case S_IFDIR: return "a directory";
    case S_IFLNK: return "a symbolic link";
    case S_IFSOCK: return "a socket";
    default: return "a device";  // S_IFCHR, S_IFBLK
  }
}

LockResult TakePortLock(int port, const char* path, LockHolder* holder) {
  holder->pid = 0;
  holder->kind = nullptr;
  char resolved[PATH_MAX];
  char* const lockPath = holder->lockPath;
  const bool named = realpath(path, resolved) && LockFilePath(lockPath, LockPathSize, resolved) >= 0;
  // Another descriptor of the device holds it (flock follows the device, not the path used).
  if (flock(port, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    if (!named) return LockBusy;
    const int pid = RunningHolder(lockPath, &holder->kind);
    if (pid == NotAFile) return LockNotAFile;
    if (pid > 0) holder->pid = pid;
    return LockBusy;
  }
  if (!named) return LockTaken;
  for (int removals = 0;; ++removals) {
    const int created = CreateLockFile(lockPath);
    if (created < 0) return LockTaken;  // no lock file to be had: the flock alone guards the port
    if (created > 0) break;
    const int pid = RunningHolder(lockPath, &holder->kind);
    if (pid == NotAFile) {
      flock(port, LOCK_UN);
      return LockNotAFile;
    }
    if (pid < 0 && errno == ENOENT && removals < StaleRemovals) continue;  // removed meanwhile
    if (pid != 0 || removals == StaleRemovals) {
      if (pid > 0) holder->pid = pid;
      flock(port, LOCK_UN);
      return LockBusy;
    }
    unlink(lockPath);  // stale: its process is gone, or it holds no pid
  }
  memcpy(LockFile, lockPath, sizeof LockFile);
  HoldsLockFile = 1;
  return LockTaken;
}

void DropLockFile() {
  if (!HoldsLockFile) return;
  HoldsLockFile = 0;  // first: a signal in between must not remove a file that is no longer ours
  unlink(LockFile);
}

void ReleasePortLock(int port) {
  DropLockFile();
  flock(port, LOCK_UN);
}
