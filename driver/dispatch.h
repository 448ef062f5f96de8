// From a process's image path to the verdict, and from the verdict to remediation.
#pragma once

#include <cstdint>

enum DetectionKind : int32_t { SignatureMatch = 1, WinlogonImpostor = 2 };

// True: the file is infected, "File: ..." and the detection line are printed and
// *kind is written. False: nothing printed, *kind unchanged.
bool DetectThreat(const char* path, int32_t* kind);

// Runs the remediation of the kind; false for a null path or an unknown kind. What it
// removes is written down first (remedy/removal_record.h).
bool RemoveThreat(const char* path, uint32_t processId, int32_t kind);

// The same for an image path that the code page cannot spell (the module list gave
// question marks or look-alike letters in its place), with the module's wide
// path beside it (null when there is none): the file is judged and removed, and the
// Run keys compared, through the wide path; the console shows the path as given.
// A path that can be spelt, or one without a wide path, takes the roads above; for a
// path that holds substituted characters the impostor rule is then not asked, since
// its Run data would be compared by their question marks.
bool DetectThreat(const char* path, const wchar_t* widePath, int32_t* kind);
bool RemoveThreat(const char* path, const wchar_t* widePath, uint32_t processId, int32_t kind);
