// Judges one executable file on disk against the four structural signatures.
#pragma once

#include "detect/check_trace.h"

// Opens the file read-only once, reads the shared records, runs the checks in the
// order A, B, C, D and stops at the first match; the file is always closed again.
// stop, when given, learns where the judgement ended. trace, when given, is reset
// and learns the same stop and what each check that ran found; without it the
// checks run as on the plain scanning road.
Variant JudgeImageFile(const char* path, ScanStop* stop = nullptr, ScanTrace* trace = nullptr);

// The same judgement of a file some caller has opened (read-only, untranslated):
// never opens or closes the descriptor.
Variant JudgeOpenImageFile(int fd, ScanStop* stop, ScanTrace* trace);

// True when the file matches one of the four signatures; false otherwise, and on
// every failure to open or read it.
bool ScanImageFile(const char* path);

#ifdef _WIN32
// The same judgement of a file named in wide characters, for a path that the code
// page cannot spell.
bool ScanImageFileWide(const wchar_t* path);
#endif
