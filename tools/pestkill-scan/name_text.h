// Names in the scanner's text output. A file name on a disk an attacker prepared
// may hold any byte but '/' and 0: a newline would start a line of its own (one
// that could read as a detection of another file), and ESC or CR would let the
// terminal overwrite what is already on screen. Every such byte is written as an
// escape, so that one output line always names exactly one file, and the escapes
// can be undone to get the name's bytes back.
#pragma once

#include <cstdio>
#include <string>

// Writes text with every control character (0x00-0x1F, 0x7F) and the backslash
// escaped: "\\" for a backslash, "\t", "\n" and "\r" for those three, "\xHH" (two
// lower-case hex digits) for every other control character. All other bytes,
// including those that are not UTF-8, are written unchanged.
void PutEscapedName(FILE* out, const char* text);

// The same escaping into a string.
std::string EscapedName(const char* text);
