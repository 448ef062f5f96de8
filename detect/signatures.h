// The four structural signatures of Trojan.Kestrelon.Gen builds. Each takes the
// records the file signature detector read once per file and returns 1 for a match.
#pragma once

#include <cstdint>

#include "detect/field_rules.h"  // EntryCodeSize
#include "image/pe_records.h"

struct CheckTrace;  // detect/check_trace.h: why a check stopped, for the offline scanner

int CheckVariantA(int fd, int32_t fileSize, const uint8_t* entryCode,
                  const IMAGE_FILE_HEADER* fileHeader, const OptionalHeader32* optionalHeader,
                  CheckTrace* trace = nullptr);
int CheckVariantB(int fd, int32_t fileSize, const uint8_t* entryCode,
                  const IMAGE_FILE_HEADER* fileHeader, const OptionalHeader32* optionalHeader,
                  CheckTrace* trace = nullptr);
int CheckVariantC(int fd, int32_t fileSize, const uint8_t* entryCode,
                  const IMAGE_FILE_HEADER* fileHeader, const IMAGE_SECTION_HEADER* lastSection,
                  const OptionalHeader32* optionalHeader, CheckTrace* trace = nullptr);
int CheckVariantD(int fd, const uint8_t* entryCode, const IMAGE_FILE_HEADER* fileHeader,
                  const OptionalHeader32* optionalHeader, CheckTrace* trace = nullptr);
