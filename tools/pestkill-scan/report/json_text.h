// JSON string text for the offline scanner's --json lines. Paths are bytes, not
// necessarily UTF-8 (a Linux file name may hold any byte but '/' and 0; on Windows
// they are in the ANSI code page), so the escaping must never emit invalid JSON.
#pragma once

#include <cstdio>

// Writes text as a quoted JSON string: '"' and '\' are escaped with a backslash;
// control characters (below 0x20, and 0x7F) become \u00XX; well-formed UTF-8
// sequences pass through unchanged; every other byte (one that does not belong to
// a well-formed sequence) becomes \u00XX of the byte itself, so the name stays
// readable and the output stays valid UTF-8.
void PutJsonString(FILE* out, const char* text);

// The "path" member of a --json object and, when the path is not well-formed UTF-8
// (where "path" had to show a byte as \u00XX and so no longer names the file
// exactly: "caf\xe9" and "caf\xc3\xa9" would both read "caf\u00e9"), also
// "path_bytes": the path's exact bytes in base64 (RFC 4648, with padding).
void PutJsonPathMembers(FILE* out, const char* path);

// The same for a path under another member name: name, and name_bytes beside it
// when the path is not well-formed UTF-8 ("hive" and "hive_bytes").
void PutJsonPathMembers(FILE* out, const char* name, const char* path);

// True when every byte of text belongs to a well-formed UTF-8 sequence.
bool IsUtf8Text(const char* text);

// Length of the well-formed UTF-8 sequence at text (2 to 4), or 0 when the bytes
// there are not one: overlong forms, surrogates and values above U+10FFFF are not.
int Utf8SequenceLength(const unsigned char* text);
