// Image paths as the module list gives them in the system code page.
#pragma once

// True when the path holds a question mark outside a leading "\??\" or "\\?\" prefix.
// No Windows file name contains one: it stands for a character that the code page
// cannot spell, so the path does not name the file, and another file's path may read
// the same.
bool HoldsSubstitutedCharacter(const char* path);

// True when the 8-bit path, read back from the ANSI code page, is the module's wide
// path itself: the code page spells the path. False when the module list had to put
// a question mark or a look-alike (a best-fit letter such as L for a Polish barred L)
// in place of a character, so that the 8-bit path names another file or none.
bool CodePageSpells(const char* path, const wchar_t* widePath);

// The path behind a leading long-path prefix "\\?\" (the form in which the file calls
// take a path beyond MAX_PATH), or the path itself: how Run values and people spell it.
const wchar_t* WithoutLongPathPrefix(const wchar_t* path);
