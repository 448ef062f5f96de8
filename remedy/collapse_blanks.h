// Command-line normalisation: leading and trailing blanks dropped, every run of
// blanks (spaces, tabs) shrunk to its first character.
#pragma once

// destination must hold at least strlen(source) + 1 bytes.
void CollapseBlanks(const char* source, char* destination);
