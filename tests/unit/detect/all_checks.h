// The records the file signature detector reads once per file, read here the same
// way, so that tests can run one check on them (changed in memory where a case is
// about a record the detector hands in) or run all four and see every verdict.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "detect/check_trace.h"
#include "detect/signatures.h"
#include "image/pe_records.h"

struct SharedRecords {
  int32_t fileSize = -1;
  uint8_t entryCode[EntryCodeSize] = {};
  IMAGE_FILE_HEADER fileHeader{};
  OptionalHeader32 optionalHeader{};
  IMAGE_SECTION_HEADER lastSection{};
};

// False when the detector would stop before the checks.
bool ReadSharedRecords(int fd, SharedRecords* records);

// variant: 'A' to 'D'.
int RunCheck(char variant, int fd, const SharedRecords& records, CheckTrace* trace);

struct AllChecks {
  std::array<int, 4> verdicts{};       // A, B, C, D
  std::array<CheckTrace, 4> traces{};  // why each check stopped
  bool recordsRead = false;
};

AllChecks RunAllChecks(const std::string& path);

// "A", "BD", "" ...: the variants whose check matched.
std::string MatchedVariants(const AllChecks& checks);
