// UTF-16 text for the offline registry: hive strings are UTF-16LE, names on a
// Linux mount are UTF-8. Upper-casing and comparison ignoring case follow the
// simple one-to-one case mapping of the scripts a Windows path is likely to use:
// the volume's file names are looked up with them, as NTFS ignores case in names.
// Run data and the Winlogon rule keep the live rule's a-z comparison instead.
#pragma once

#include <string>

// False when text is not well-formed UTF-8 (such a name cannot be a Windows name).
bool Utf8ToUtf16(const std::string& text, std::u16string* out);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);

// The upper-case form of one code unit: a-z, the Latin-1 letters, Latin
// Extended-A, Greek and Cyrillic; every other unit stays as it is.
char16_t UpperUnit(char16_t unit);
void UpperCase16(char16_t* text);  // terminated text, in place
std::u16string Upper16(const std::u16string& text);
bool EqualIgnoringCase16(const char16_t* left, const char16_t* right);
