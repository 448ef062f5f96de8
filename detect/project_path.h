// The project-path step of variants B, C and D: the path narrowed from VbProjectInfo
// +0x24 must hold exactly two backslashes and at least a variant's number of digits.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t ProjectPathBackslashes = 2;

struct PathMarks {
  uint32_t backslashes;
  uint32_t digits;
};

// Counts backslashes and ASCII digits up to the first NUL or the end of the buffer.
PathMarks CountPathMarks(const char* path, size_t size);
