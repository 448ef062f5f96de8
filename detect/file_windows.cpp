#include "detect/file_windows.h"

#include "image/byte_pattern.h"

// Variant C: found anywhere in the stub window.
const uint8_t StubPattern[StubPatternSize] = {
    0xB7, 0x12, 0x07, 0xDB, 0xF3, 0x73, 0x69, 0x88, 0xF3, 0x73, 0x69, 0x88, 0xF3, 0x73, 0x69, 0x88,
};

// Variant C: byte 4 is free. After a hit the count moves on 13 bytes (12 plus 1), so records
// packed every 12 bytes are counted every other one.
const uint8_t RecordTemplateBytes[11] = {0x76, 0x01, 0x00, 0x1B, 0x00, 0x00, 0x2A, 0xFD, 0xB7, 0x01, 0x00};
const ByteTemplate RecordTemplate = {RecordTemplateBytes, 11, 4, 13, 9};

// Variant D: jmp dword ptr [0x4010xx]: an import thunk through the address table at the start
// of the code section. Byte 2 is free. After a hit the count moves on 5 bytes (4
// plus 1), which lands on the next thunk of a packed table after one miss.
const uint8_t JumpTemplateBytes[6] = {0xFF, 0x25, 0x00, 0x10, 0x40, 0x00};
const ByteTemplate JumpTemplate = {JumpTemplateBytes, 6, 2, 5, 32};

bool HasStubPattern(const uint8_t* window) {
  return FindBytePattern(window, static_cast<int32_t>(StubWindowSize), StubPattern,
                         static_cast<int32_t>(sizeof StubPattern)) != -1;
}

uint32_t CountRecords(const uint8_t* window) { return CountTemplateHits(window, WorkBufferSize, RecordTemplate); }

uint32_t CountJumps(const uint8_t* window) { return CountTemplateHits(window, WorkBufferSize, JumpTemplate); }
