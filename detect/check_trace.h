// Why a check stopped: the first test that failed, what the file held and what the
// signature requires. Filled by the same evaluation that gives the verdict, only
// when a caller asks for it (the offline scanner's explanations).
#pragma once

#include <cstdint>

enum class Variant { None = 0, A, B, C, D };

struct CheckTrace {
  bool matched = false;
  const char* failedTest = nullptr;  // e.g. "VbHeader +0x04 (u16)", "optional header SizeOfCode"
  bool hasFound = false;             // false for tests that are not a value (a read that failed)
  uint32_t found = 0;
  char required[64] = {};            // e.g. "0x2636", "0x1000-0x1300", "succeeds"
};

enum class ScanStop {
  Checked,            // the four checks ran
  CannotOpen,         // the file could not be opened
  NoEntryOffset,      // the entry point has no file offset
  ShortEntryCode,     // fewer than 1024 bytes of entry code
  NoLastSection,      // the last section header could not be read
};

struct ScanTrace {
  ScanStop stop = ScanStop::Checked;
  CheckTrace variants[4];  // A, B, C, D; a variant after the first match is not run
  bool ran[4] = {};
};
