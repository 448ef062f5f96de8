// The records all four signatures share, read once per file, and the one place that
// hands them to a variant check. The detector, the tests that run every check on
// their own and the fuzzer all read and hand them in this way.
#pragma once

#include <cstdint>

#include "detect/check_trace.h"
#include "detect/field_rules.h"
#include "image/pe_records.h"

struct SharedRecords {
  int32_t fileSize = -1;  // signed 32-bit; -1 when the length is unknown
  uint8_t entryCode[EntryCodeSize] = {};
  IMAGE_FILE_HEADER fileHeader{};
  OptionalHeader32 optionalHeader{};
  char lastSectionName[SectionNameTextSize] = {};  // read with the header; no check uses it
  IMAGE_SECTION_HEADER lastSection{};
};

// Reads the records from the start: the file size, the entry code, the file and
// optional headers and the last section header. Returns ScanStop::Checked when the
// checks can run, else where the judgement stops before them.
ScanStop ReadSharedRecords(int fd, SharedRecords* records);

// Runs one variant's check on the records; variant is A to D. 1 for a match.
int RunVariantCheck(Variant variant, int fd, const SharedRecords& records, CheckTrace* trace);
