// Judges one executable file on disk against the four structural signatures.
#pragma once

enum class Variant { None = 0, A, B, C, D };

struct ScanTrace;       // detect/check_trace.h
enum class ScanStop;    // detect/check_trace.h

// Opens the file read-only once, reads the shared records, runs the checks in the
// order A, B, C, D and stops at the first match. The file is always closed again.
Variant IdentifyVariant(const char* path, ScanTrace* trace = nullptr);

// The same judgement with only where it stopped (stop may be null): the checks
// run without a trace, as on the plain scanning road.
Variant IdentifyVariantStop(const char* path, ScanStop* stop);

// True when the file matches one of the four signatures; false otherwise, and on
// every failure to open or read it.
bool ScanImageFile(const char* path);

#ifdef _WIN32
// The same judgement of a file named in wide characters, for a path that the code
// page cannot spell.
bool ScanImageFileWide(const wchar_t* path);
#endif
