// Visual Basic 5/6 program records behind the entry code: the program header
// ("VB5!"), the project information and the COM registration data. Records are
// plain byte images of the file, read by offset and width with LoadU16Le/LoadU32Le.
#pragma once

#include <cstddef>
#include <cstdint>

struct VbHeader {
  uint8_t bytes[0x68];
};
struct VbProjectInfo {
  uint8_t bytes[0x23C];
};
struct VbComRegData {
  uint8_t bytes[0x2A];
};
static_assert(sizeof(VbHeader) == 104, "program header");
static_assert(sizeof(VbProjectInfo) == 572, "project information");
static_assert(sizeof(VbComRegData) == 42, "COM registration data head");

// Named offsets of the fields the readers follow.
constexpr size_t VbHeaderProjectInfoAddress = 0x30;
constexpr size_t VbHeaderComRegDataAddress = 0x54;
constexpr size_t VbProjectInfoProjectPath = 0x24;
constexpr size_t VbProjectPathUnits = 264;  // 528 bytes of UTF-16 room
constexpr size_t VbHeaderStartCodeAddress = 0x2C;

// A Visual Basic 5/6 program starts with `push imm32` (the program header's VA)
// followed by `call rel32` into the runtime's start-up routine.
constexpr uint8_t PushImm32Opcode = 0x68;
constexpr uint8_t CallRel32Opcode = 0xE8;
constexpr size_t EntryPushedAddress = 0x01;
constexpr size_t EntryCallOpcode = 0x05;

constexpr uint8_t VbMagic[4] = {'V', 'B', '5', '!'};

int IsVbProgram(int fd);
int ReadVbHeader(int fd, VbHeader* header);
int ReadVbProjectInfo(int fd, VbProjectInfo* info);
int ReadVbProjectPath(int fd, char* buffer, uint32_t bufferSize);
int ReadVbComRegData(int fd, VbComRegData* data);

// Low byte of each UTF-16LE unit (given as its little-endian byte image) up to the
// first zero unit, then a zero byte. Returns output, or null if a pointer is null.
char* NarrowWideString(char* output, const uint8_t* wide);
