#include "detect/field_test.h"

#include <cstdio>
#include <cstring>

#include "detect/check_trace.h"
#include "image/pe_records.h"
#include "image/vb_header_reader.h"

namespace {

constexpr size_t EntryCodeBytes = 1024;
constexpr size_t StartCodeBytes = 64;

void DescribeRow(const FieldTest& test, char* text, size_t size) {
  const bool isSigned = test.record == FileSizeRecord;
  if (isSigned) {
    if (test.low == test.high)
      (void)std::snprintf(text, size, "%d", static_cast<int>(static_cast<int32_t>(test.low)));
    else
      (void)std::snprintf(text, size, "%d-%d", static_cast<int>(static_cast<int32_t>(test.low)),
                          static_cast<int>(static_cast<int32_t>(test.high)));
    return;
  }
  const char* zero = test.accept == Accept::ZeroOrRange ? "0 or " : "";
  if (test.low == test.high)
    (void)std::snprintf(text, size, "%s0x%X", zero, static_cast<unsigned>(test.low));
  else
    (void)std::snprintf(text, size, "%s0x%X-0x%X", zero, static_cast<unsigned>(test.low),
                        static_cast<unsigned>(test.high));
}

}  // namespace

size_t RecordSize(RecordId record) {
  switch (record) {
    case EntryCodeRecord: return EntryCodeBytes;
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
    case StartCodeRecord: return StartCodeBytes;
    case RecordCount: break;
  }
  return 0;
}

void RecordSet::SetFileSize(int32_t size) {
  const uint32_t bits = static_cast<uint32_t>(size);
  for (int i = 0; i < 4; ++i) fileSize[i] = static_cast<uint8_t>(bits >> (8 * i));
  bytes[FileSizeRecord] = fileSize;
}

uint32_t LoadField(const FieldTest& test, const RecordSet& records) {
  const uint8_t* bytes = records.bytes[test.record];
  switch (test.width) {
    case 1: return bytes[test.offset];
    case 2: return LoadU16Le(bytes, test.offset);
    default: return LoadU32Le(bytes, test.offset);
  }
}

bool FieldPasses(const FieldTest& test, uint32_t value) {
  if (test.record == FileSizeRecord) {
    const int32_t size = static_cast<int32_t>(value);
    return static_cast<int32_t>(test.low) <= size && size <= static_cast<int32_t>(test.high);
  }
  if (test.accept == Accept::ZeroOrRange && value == 0) return true;
  return test.low <= value && value <= test.high;
}

int RunFieldTests(const FieldTest* tests, size_t count, const RecordSet& records, CheckTrace* trace) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t value = LoadField(tests[i], records);
    if (FieldPasses(tests[i], value)) continue;
    if (trace != nullptr) {
      trace->matched = false;
      trace->failedTest = tests[i].label;
      trace->hasFound = true;
      trace->found = value;
      DescribeRow(tests[i], trace->required, sizeof trace->required);
    }
    return 0;
  }
  return 1;
}

int FailStep(CheckTrace* trace, const char* label, const char* required) {
  if (trace != nullptr) {
    trace->matched = false;
    trace->failedTest = label;
    trace->hasFound = false;
    trace->found = 0;
    (void)std::snprintf(trace->required, sizeof trace->required, "%s", required);
  }
  return 0;
}

int FailValue(CheckTrace* trace, const char* label, uint32_t found, const char* required) {
  if (trace != nullptr) {
    (void)FailStep(trace, label, required);
    trace->hasFound = true;
    trace->found = found;
  }
  return 0;
}

int Matched(CheckTrace* trace) {
  if (trace != nullptr) {
    trace->matched = true;
    trace->failedTest = nullptr;
    trace->hasFound = false;
    trace->found = 0;
    trace->required[0] = 0;
  }
  return 1;
}
