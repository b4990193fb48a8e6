// The spool of take --to DIR: each message one file, DIR/new/<id>.json, written the Maildir way
// (into DIR/tmp, flushed to disk, renamed into DIR/new, the directory flushed), so that a file in
// DIR/new is always whole, and a message whose file stands there (or in DIR/cur or DIR/failed,
// where the service moves it) is never written twice.
#pragma once

#include <limits.h>

#include "pdu/message_id.h"

struct Spool {
  const char* dir;
  int error;                  // errno of the first failure, 0 while none
  char failed[PATH_MAX];      // what could not be made or written
  char tmp[PATH_MAX];         // the file being written
  MessageId id;               // its message's
  int savedOutput;            // standard output's descriptor while the file takes its place, or -1
};

// Creates DIR (mode 0700), DIR/tmp, DIR/new and DIR/cur when missing, and checks that DIR/tmp takes
// a file. 0, or -1 with spool->error and spool->failed.
int OpenSpool(Spool* spool, const char* dir);

// Whether DIR/new, DIR/cur or DIR/failed holds <id>.json already.
bool Spooled(Spool* spool, MessageId id);

// Standard output becomes DIR/tmp/<id>.json (created afresh) until EndSpoolFile; what stood in
// standard output's buffer is flushed first. 0, or -1 with the error noted.
int BeginSpoolFile(Spool* spool, MessageId id);
// Standard output back; the file flushed to disk, renamed to DIR/new/<id>.json, DIR/new flushed.
// 0, or -1 with the error noted (the file is then left in DIR/tmp).
int EndSpoolFile(Spool* spool);

// "atsms: cannot write <path>: <error text>" on standard error.
void ReportSpoolError(const Spool* spool);
