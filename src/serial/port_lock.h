// Exclusive use of the modem's port that holds for root too: flock on the device and the lock file
// that serial programs on Linux share (/var/lock/LCK..NAME, the process id in HDB format).
#pragma once

constexpr int LockPathSize = 256;

// The lock file of the device at resolved (a path with symbolic links resolved): "/dev/ttyUSB2"
// gives "/var/lock/LCK..ttyUSB2", "/dev/pts/3" "/var/lock/LCK..pts_3". Writes it into dest (size
// bytes); yields its length, or -1 when it does not fit.
int LockFilePath(char* dest, int size, const char* resolved);

// The process id a lock file holds ("      1234\n"; blanks around the digits are allowed; or, in
// the old binary format, exactly 4 bytes that are not text), or -1 when its content is no process
// id. length: the bytes of content.
int ReadLockPid(const char* content, int length);

// What stands at a lock path whose file type (st_mode & S_IFMT) is type, when it is no lock file:
// "a FIFO", "a directory", "a symbolic link", "a socket", "a device"; nullptr for a regular file.
const char* NotALockFile(unsigned type);

enum LockResult { LockTaken, LockBusy, LockNotAFile };

// Who or what keeps the port from being taken.
struct LockHolder {
  int pid;                      // LockBusy: the pid in the holder's lock file when it runs, else 0
  const char* kind;             // LockNotAFile: what stands at lockPath (NotALockFile's words)
  char lockPath[LockPathSize];  // LockNotAFile: the lock file's path
};

// Takes flock on port and then the lock file of the device at path. Busy when another descriptor
// holds the flock or a running process holds the lock file. A stale lock file (its process gone,
// or no process id in it) is removed; without a writable /var/lock the flock alone guards the
// port. Anything but a regular file at the lock path is never read, waited for or removed: that
// gives LockNotAFile. Nothing is left held unless taken.
LockResult TakePortLock(int port, const char* path, LockHolder* holder);

// Removes the lock file and releases the flock. Safe to call when nothing is held.
void ReleasePortLock(int port);

// Removes the lock file of this run, if any; safe inside a signal handler. The flock ends with the
// process.
void DropLockFile();
