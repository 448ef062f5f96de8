// From a process's image path to the verdict, and from the verdict to remediation.
#pragma once

#include <cstdint>

enum DetectionKind : int32_t { SignatureMatch = 1, WinlogonImpostor = 2 };

// True: the file is infected, "File: ..." and the detection line are printed and
// *kind is written. False: nothing printed, *kind unchanged.
bool DetectThreat(const char* path, int32_t* kind);

// Runs the remediation of the kind; false for a null path or an unknown kind.
bool RemoveThreat(const char* path, uint32_t processId, int32_t kind);
