// A signature written as data: rows that each test one little-endian field of one
// record against an inclusive range. The rows run in order and the first that
// fails ends the signature; the steps that read the file stay as code between runs
// (detect/check_run.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/pe_records.h"
#include "image/vb_header_reader.h"

struct CheckTrace;

// The entry code: the bytes at the entry point's file offset, read once per file.
constexpr uint32_t EntryCodeSize = 1024;
// Variant A's start code: the bytes at the VA in VbHeader +0x2C.
constexpr uint32_t StartCodeSize = 64;

// The records a signature looks at, as byte images.
enum RecordId : uint8_t {
  EntryCodeRecord,       // EntryCodeSize bytes at the entry point's file offset
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
  StartCodeRecord,       // StartCodeSize bytes at the VA in VbHeader +0x2C
  RecordCount
};

// Size in bytes of each record's image.
constexpr uint32_t RecordSize(RecordId record) {
  switch (record) {
    case EntryCodeRecord: return EntryCodeSize;
    case FileSizeRecord: return 4;
    case FileHeaderRecord: return sizeof(IMAGE_FILE_HEADER);
    case OptionalHeaderRecord: return sizeof(OptionalHeader32);
    case LastSectionRecord:
    case Section1Record:
    case Section2Record:
    case DataSectionRecord: return sizeof(IMAGE_SECTION_HEADER);
    case VbHeaderRecord: return sizeof(VbHeader);
    case VbProjectInfoRecord: return sizeof(VbProjectInfo);
    case VbComRegDataRecord: return sizeof(VbComRegData);
    case StartCodeRecord: return StartCodeSize;
    case RecordCount: break;
  }
  return 0;
}

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

// True when the row's field lies inside its record and has a width that is loaded.
constexpr bool RowFitsItsRecord(const FieldTest& test) {
  return (test.width == 1 || test.width == 2 || test.width == 4) &&
         uint32_t{test.offset} + test.width <= RecordSize(test.record);
}

// True when every row of a table fits its record. The check runner asserts this at
// compile time for each table it is given, so a mistyped offset cannot read past a
// record.
template <size_t N>
constexpr bool RowsFitTheirRecords(const FieldTest (&tests)[N]) {
  for (size_t i = 0; i < N; ++i)
    if (!RowFitsItsRecord(tests[i])) return false;
  return true;
}

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
// first failing row in the trace (when one is given). Callers go through
// CheckRun::Rows, which refuses at compile time a table whose rows do not fit.
int RunFieldTests(const FieldTest* tests, size_t count, const RecordSet& records, CheckTrace* trace);

// The requirement as the signature tables spell it: "0x2636", "0x1000-0x1300",
// "0 or 0x30-0x60".
void DescribeRange(uint32_t low, uint32_t high, Accept accept, char* text, size_t size);
