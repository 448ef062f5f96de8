// The version-name step of variants A and B: the first 480 bytes of the version
// resource's data, the InternalName key in them, and the rule each variant applies
// to the value that follows the key.
#pragma once

#include <cstddef>
#include <cstdint>

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
// UTF-16 unit is judged. A rule reads `reach` bytes from the key's start, so the key
// must lie at keyOffset + reach <= 480 (A: 44, B: 34).
struct NameRule {
  int32_t reach;
  bool (*passes)(const uint8_t* block, int32_t keyOffset);
  const char* required;  // the rule in words, for explanations
};

// Eight characters, none a digit: no digit among the first nine low bytes, the
// ninth 0 and the eighth not 0.
bool PassesNameRuleA(const uint8_t* block, int32_t keyOffset);

// One or two digits, then the terminating zero.
bool PassesNameRuleB(const uint8_t* block, int32_t keyOffset);

extern const NameRule NameRuleA;
extern const NameRule NameRuleB;
