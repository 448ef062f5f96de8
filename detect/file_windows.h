// The fixed file windows of variants C and D and what is counted in them: the stub
// pattern in the bytes at offset 112, the 11-byte records at 111024 (variant C) and
// the import thunks at 4096 (variant D).
#pragma once

#include <cstdint>

#include "detect/template_count.h"

// The buffer that holds the project path and, later, each file window.
constexpr uint32_t WorkBufferSize = 528;

struct FileWindow {
  int32_t offset;
  uint32_t size;
  const char* label;  // names the read in explanations, e.g. "stub window read"
};

// Variant C: 80 bytes at file offset 112 (inside the DOS stub area).
constexpr uint32_t StubWindowSize = 80;
constexpr FileWindow StubWindow = {0x70, StubWindowSize, "stub window read"};
// Variant C: 528 bytes at file offset 111024.
constexpr FileWindow RecordWindow = {0x1B1B0, WorkBufferSize, "record window read"};
// Variant D: 528 bytes at file offset 4096.
constexpr FileWindow JumpWindow = {0x1000, WorkBufferSize, "jump window read"};

// What is searched and counted in them (detect/file_windows.cpp).
constexpr uint32_t StubPatternSize = 16;
extern const uint8_t StubPattern[StubPatternSize];
extern const ByteTemplate RecordTemplate;
extern const ByteTemplate JumpTemplate;

constexpr uint32_t MinRecordCount = 8;
constexpr uint32_t MinJumpCount = 21;

// True when the 16-byte stub pattern occurs anywhere in the 80-byte stub window.
bool HasStubPattern(const uint8_t* window);

// Hits of the 11-byte record template in the 528-byte record window (at most 9).
uint32_t CountRecords(const uint8_t* window);

// Hits of the 6-byte jump template in the 528-byte jump window (at most 32).
uint32_t CountJumps(const uint8_t* window);
