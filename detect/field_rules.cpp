#include "detect/field_rules.h"

#include <cstdio>
#include <cstring>

#include "detect/check_trace.h"
#include "image/pe_records.h"

void DescribeRange(uint32_t low, uint32_t high, Accept accept, char* text, size_t size) {
  const char* zero = accept == Accept::ZeroOrRange ? "0 or " : "";
  if (low == high)
    (void)std::snprintf(text, size, "%s0x%X", zero, static_cast<unsigned>(low));
  else
    (void)std::snprintf(text, size, "%s0x%X-0x%X", zero, static_cast<unsigned>(low), static_cast<unsigned>(high));
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
      DescribeRange(tests[i].low, tests[i].high, tests[i].accept, trace->required, sizeof trace->required);
    }
    return 0;
  }
  return 1;
}
