// The steps of the four signatures that are more than a field compared with a
// range: finding the version resource's InternalName and judging its value,
// counting the project path's backslashes and digits, and the searches in the fixed
// file windows. Each is small and tested on its own.
#pragma once

#include <cstddef>
#include <cstdint>

// The buffer that holds the project path and, later, each file window.
constexpr uint32_t WorkBufferSize = 528;

// --- Version resource (variants A and B) ------------------------------------

// Only the first 480 bytes of the version resource's data are read and searched.
constexpr uint32_t VersionBlockSize = 480;

// The UTF-16LE key "InternalName" with its terminating zero unit; the key's zero
// unit keeps a longer key that starts with the same letters from matching.
constexpr size_t VersionKeySize = 26;
extern const uint8_t VersionKey[VersionKeySize];

// Reads the first 480 bytes of the data of the first resource found under type 16
// (RT_VERSION), through data directory 2. Returns 1 only when every mapped offset
// lies inside the file (greater than 0, below fileSize) and every read is exact.
int ReadVersionBlock(int fd, int32_t fileSize, uint8_t* block);

// Offset of the first occurrence of the key in the block, or -1.
int32_t FindVersionKey(const uint8_t* block);

// The InternalName value starts right after the key; only the low byte of each
// UTF-16 unit is judged. Both rules need keyOffset within the variant's bound
// (A: keyOffset + 44 <= 480; B: keyOffset + 34 <= 480), which the callers test.
constexpr int32_t VersionKeyReachA = 44;
constexpr int32_t VersionKeyReachB = 34;

// Eight characters, none a digit: no digit among the first nine low bytes, the
// ninth 0 and the eighth not 0.
bool PassesNameRuleA(const uint8_t* block, int32_t keyOffset);

// One or two digits, then the terminating zero.
bool PassesNameRuleB(const uint8_t* block, int32_t keyOffset);

// --- Project path (variants B, C and D) -------------------------------------

struct PathMarks {
  uint32_t backslashes;
  uint32_t digits;
};

// Counts backslashes and ASCII digits up to the first NUL or the end of the buffer.
PathMarks CountPathMarks(const char* path, size_t size);

// --- File windows (variants C and D) ----------------------------------------

// Variant C: 80 bytes at file offset 112 (inside the DOS stub area).
constexpr int32_t StubWindowOffset = 0x70;
constexpr uint32_t StubWindowSize = 80;
// Variant C: 528 bytes at file offset 111024.
constexpr int32_t RecordWindowOffset = 0x1B1B0;
// Variant D: 528 bytes at file offset 4096.
constexpr int32_t JumpWindowOffset = 0x1000;

// True when the 16-byte stub pattern occurs anywhere in the 80-byte stub window.
bool HasStubPattern(const uint8_t* window);

// Hits of the 11-byte record template in the 528-byte record window (at most 9).
uint32_t CountRecords(const uint8_t* window);

// Hits of the 6-byte jump template in the 528-byte jump window (at most 32).
uint32_t CountJumps(const uint8_t* window);

// --- Shared steps -----------------------------------------------------------

// The headers of sections 1 and 2, read at the section table offset.
constexpr uint32_t SectionTableHeadSize = 80;
int ReadSectionTableHead(int fd, uint8_t* head);

// Section names are compared on their first five bytes, byte for byte: ".text"
// followed by more characters still passes, ".TEXT" does not.
bool SectionNameStartsWith(const uint8_t* sectionHeader, const char (&fiveBytes)[6]);

struct CheckTrace;

// Reads the project path into work (WorkBufferSize bytes) and requires exactly two
// backslashes and at least minDigits ASCII digits. Returns 1, or 0 with the trace.
int TestProjectPath(int fd, char* work, uint32_t minDigits, CheckTrace* trace);
