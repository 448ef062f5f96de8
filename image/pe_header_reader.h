// Headers, section table and address mapping of a PE32 image file opened with
// _open(_O_BINARY). Nothing is validated or cached; every operation re-reads what
// it needs. The fixed-header readers put the file position back; the others leave
// it where their last read left it, so callers always seek before they read.
#pragma once

#include <cstdint>

#include "image/pe_records.h"

// No such file offset.
constexpr uint32_t NoFileOffset = 0xFFFFFFFFu;

constexpr uint32_t DataDirectorySize = 8;
constexpr uint16_t NativeSubsystem = 1;
// The loader rounds PointerToRawData down to the file alignment, but never in units
// larger than a 512-byte disk sector: a FileAlignment of 4096 clears only the low 9
// bits. Native images (drivers) are mapped without this rounding.
constexpr uint32_t MaxAlignmentUnit = 512;

int32_t GetPeHeaderOffset(int fd);
int ReadFileHeader(int fd, IMAGE_FILE_HEADER* header);
int GetSectionCount(int fd);
int32_t GetOptionalHeaderOffset(int fd);
int ReadOptionalHeader(int fd, OptionalHeader32* header);
int32_t GetSectionTableOffset(int fd);
int32_t FindSectionHeaderOffset(int fd, const char* name);
int ReadSectionHeaderByName(int fd, const char* name, IMAGE_SECTION_HEADER* header);
uint32_t RvaToFileOffset(int fd, uint32_t rva);
uint32_t VaToFileOffset(int fd, uint32_t va);
uint32_t GetEntryPointFileOffset(int fd);
// name: at least SectionNameTextSize (9) bytes.
int ReadLastSectionHeader(int fd, char* name, IMAGE_SECTION_HEADER* header);
