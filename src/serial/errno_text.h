// The words the tool prints for a system error number.
#pragma once

// The text for error (an errno value) in the same words whichever C library the tool was linked
// with: glibc's words for every error that opening, reading or writing a port can give (musl words
// many of them differently, "Resource busy" for "Device or resource busy"); the C library's own
// text for any other number.
const char* ErrnoText(int error);
