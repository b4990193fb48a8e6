// Octets written as hexadecimal digits, as modems take and give PDUs and UCS-2 text.
#pragma once

// Writes two uppercase hex digits per octet of octets (count of them) and a NUL into dest (size
// bytes). Yields the digits written, or -1 with dest "" when they do not fit.
int OctetsToHex(char* dest, int size, const unsigned char* octets, int count);
