#include "listing/spool.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "listing/escape.h"
#include "serial/errno_text.h"

namespace {

// DIR/<sub>[/<id>.json] into dest (PATH_MAX bytes); false when it does not fit.
bool SpoolPath(char* dest, const char* dir, const char* sub, const MessageId* id) {
  int length;
  if (id) {
    char name[IdTextSize];
    IdText(name, *id);
    length = snprintf(dest, PATH_MAX, "%s/%s/%s.json", dir, sub, name);
  } else {
    length = snprintf(dest, PATH_MAX, "%s/%s", dir, sub);
  }
  return length >= 0 && length < PATH_MAX;
}

// -1 with the error and what it was about noted (the first failure only).
int Failed(Spool* spool, const char* what, int error) {
  if (spool->error == 0) {
    spool->error = error;
    snprintf(spool->failed, sizeof spool->failed, "%s", what);
  }
  return -1;
}

int MakeDirectory(Spool* spool, const char* path) {
  if (mkdir(path, 0700) == 0 || errno == EEXIST) return 0;
  return Failed(spool, path, errno);
}

// A rename is on disk once its directory is.
int FlushDirectory(Spool* spool, const char* path) {
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Failed(spool, path, errno);
  const int synced = fsync(fd);
  const int error = errno;
  close(fd);
  return synced == 0 || error == EINVAL ? 0 : Failed(spool, path, error);  // EINVAL: a file system without it
}

}  // namespace

int OpenSpool(Spool* spool, const char* dir) {
  spool->dir = dir;
  spool->error = 0;
  spool->failed[0] = '\0';
  spool->tmp[0] = '\0';
  spool->savedOutput = -1;
  char path[PATH_MAX];
  if (MakeDirectory(spool, dir) < 0) return -1;
  const char* const made[] = {"tmp", "new", "cur"};
  for (const char* sub : made) {
    if (!SpoolPath(path, dir, sub, nullptr)) return Failed(spool, dir, ENAMETOOLONG);
    if (MakeDirectory(spool, path) < 0) return -1;
  }
  // Before anything is deleted: a file can be made where the messages will go.
  if (!SpoolPath(path, dir, "tmp/.probe", nullptr)) return Failed(spool, dir, ENAMETOOLONG);
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Failed(spool, path, errno);
  close(fd);
  unlink(path);
  return 0;
}

bool Spooled(Spool* spool, MessageId id) {
  char path[PATH_MAX];
  const char* const kept[] = {"new", "cur", "failed"};
  for (const char* sub : kept)
    if (SpoolPath(path, spool->dir, sub, &id) && access(path, F_OK) == 0) return true;
  return false;
}

int BeginSpoolFile(Spool* spool, MessageId id) {
  spool->id = id;
  if (!SpoolPath(spool->tmp, spool->dir, "tmp", &id)) return Failed(spool, spool->dir, ENAMETOOLONG);
  if (fflush(stdout) != 0) return Failed(spool, "the standard output", errno);
  const int fd = open(spool->tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return Failed(spool, spool->tmp, errno);
  spool->savedOutput = dup(STDOUT_FILENO);
  if (spool->savedOutput < 0 || dup2(fd, STDOUT_FILENO) < 0) {
    const int error = errno;
    close(fd);
    if (spool->savedOutput >= 0) close(spool->savedOutput);
    spool->savedOutput = -1;
    return Failed(spool, spool->tmp, error);
  }
  close(fd);
  return 0;
}

int EndSpoolFile(Spool* spool) {
  if (spool->savedOutput < 0) return -1;
  int error = 0;
  if (fflush(stdout) != 0 || ferror(stdout)) error = errno != 0 ? errno : EIO;
  if (error == 0 && fsync(STDOUT_FILENO) != 0) error = errno;
  clearerr(stdout);  // the file's failure is the spool's, not standard output's
  dup2(spool->savedOutput, STDOUT_FILENO);
  close(spool->savedOutput);
  spool->savedOutput = -1;
  if (error != 0) return Failed(spool, spool->tmp, error);
  char done[PATH_MAX];
  if (!SpoolPath(done, spool->dir, "new", &spool->id)) return Failed(spool, spool->dir, ENAMETOOLONG);
  if (rename(spool->tmp, done) != 0) return Failed(spool, done, errno);
  if (!SpoolPath(done, spool->dir, "new", nullptr)) return Failed(spool, spool->dir, ENAMETOOLONG);
  return FlushDirectory(spool, done);
}

void ReportSpoolError(const Spool* spool) {
  fputs("atsms: cannot write ", stderr);
  PrintEscaped(stderr, spool->failed);
  fputs(": ", stderr);
  fputs(ErrnoText(spool->error), stderr);
  fputc('\n', stderr);
}
