// A signature written as data: rows that each test one little-endian field of one
// record against an inclusive range. The rows run in order and the first that
// fails ends the signature; the steps that read the file stay as code between runs.
#pragma once

#include <cstddef>
#include <cstdint>

struct CheckTrace;

// The records a signature looks at, as byte images.
enum RecordId : uint8_t {
  EntryCodeRecord,       // 1024 bytes at the entry point's file offset
  FileSizeRecord,        // the file length, compared as a signed 32-bit value
  FileHeaderRecord,      // IMAGE_FILE_HEADER
  OptionalHeaderRecord,  // OptionalHeader32
  LastSectionRecord,     // IMAGE_SECTION_HEADER of the last section table entry
  Section1Record,        // IMAGE_SECTION_HEADER of the first section table entry
  Section2Record,        // IMAGE_SECTION_HEADER of the second section table entry
  DataSectionRecord,     // IMAGE_SECTION_HEADER of the section named ".data"
  VbHeaderRecord,        // VbHeader
  VbProjectInfoRecord,   // VbProjectInfo
  VbComRegDataRecord,    // VbComRegData
  StartCodeRecord,       // 64 bytes at the VA in VbHeader +0x2C
  RecordCount
};

enum class Accept : uint8_t {
  Range,        // low <= value <= high
  ZeroOrRange,  // value == 0, or low <= value <= high
};

struct FieldTest {
  RecordId record;
  uint16_t offset;
  uint8_t width;  // 1, 2 or 4 bytes
  uint32_t low;
  uint32_t high;
  const char* label;  // names the field for explanations, e.g. "VbHeader +0x04 (u16)"
  Accept accept = Accept::Range;
};

// The byte image of each record the signature has read so far; rows may only name
// records that are present.
struct RecordSet {
  const uint8_t* bytes[RecordCount] = {};
  uint8_t fileSize[4] = {};

  void Set(RecordId record, const void* image) { bytes[record] = static_cast<const uint8_t*>(image); }
  void SetFileSize(int32_t size);
};

// Value of a row's field, zero-extended to 32 bits.
uint32_t LoadField(const FieldTest& test, const RecordSet& records);

// True when the value passes the row. The file size compares signed, so a length of
// -1 (unknown) fails every range.
bool FieldPasses(const FieldTest& test, uint32_t value);

// Runs rows in order; returns 1 when every row passes, else 0 after describing the
// first failing row in the trace (when one is given).
int RunFieldTests(const FieldTest* tests, size_t count, const RecordSet& records, CheckTrace* trace);

template <size_t N>
int RunFieldTests(const FieldTest (&tests)[N], const RecordSet& records, CheckTrace* trace) {
  return RunFieldTests(tests, N, records, trace);
}

// Trace helpers for the steps written as code. Each returns 0, the check's answer.
int FailStep(CheckTrace* trace, const char* label, const char* required);
int FailValue(CheckTrace* trace, const char* label, uint32_t found, const char* required);
int Matched(CheckTrace* trace);
