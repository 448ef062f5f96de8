// Image paths as the module list gives them in the system code page.
#pragma once

// True when the path holds a question mark outside a leading "\??\" or "\\?\" prefix.
// No Windows file name contains one: it stands for a character that the code page
// cannot spell, so the path does not name the file, and another file's path may read
// the same.
bool HoldsSubstitutedCharacter(const char* path);
