// A file named Winlogon outside the system directory that a Run value starts.
#pragma once

// Reads the path, the system directory and the Run keys; changes nothing.
bool IsWinlogonImpostor(const char* imagePath);

// The same rule for a path in wide characters, with the wide calls throughout: for a
// file whose name the code page cannot spell.
bool IsWinlogonImpostorWide(const wchar_t* imagePath);
