// The four signatures as data, for programs that write them out for other engines
// (tools/yara-rules): each variant's field tables, the order of its steps and the
// constants its own code steps compare. The tables are the ones the variant checks
// run; nothing here is a copy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "detect/check_trace.h"  // Variant
#include "detect/field_rules.h"
#include "detect/version_name.h"

struct RowTable {
  const FieldTest* rows = nullptr;
  size_t count = 0;
};

template <size_t N>
constexpr RowTable TableOf(const FieldTest (&rows)[N]) {
  return {rows, N};
}

// The steps of a check (detect/check_run.h), in the words of the check's && chain.
enum class SignatureStep : uint8_t {
  HeaderRows,                // the records handed in: entry code, headers, file size, last section
  IsVbProgram,               // the entry code's push leads to "VB5!"
  SectionTableHeadRows,      // sections 1 and 2 at the table offset, then their names
  VbHeaderRows,
  ProjectInfoRows,
  ProjectInfoPair,           // VbProjectInfo +first with +second, one of the pairs
  ComRegDataRows,
  StartCodeRows,
  StartCodeImmediatesEqual,  // the start code's u32 immediates are all equal
  DataSectionRows,           // the header of the section named ".data"
  ProjectPath,               // two backslashes, at least projectPathMinDigits digits
  StubWindow,                // the stub pattern in the stub window
  RecordWindow,              // at least MinRecordCount records in the record window
  JumpWindow,                // at least MinJumpCount jumps in the jump window
  VersionName,               // the InternalName rule
};

struct SignatureTables {
  Variant variant = Variant::None;
  const SignatureStep* steps = nullptr;
  size_t stepCount = 0;
  RowTable header;
  RowTable sectionTableHead;
  RowTable vbHeader;
  RowTable projectInfo;
  RowTable comRegData;
  RowTable startCode;
  RowTable dataSection;
  // ProjectInfoPair
  size_t pairFirst = 0;
  size_t pairSecond = 0;
  const uint32_t (*pairs)[2] = nullptr;
  size_t pairCount = 0;
  // StartCodeImmediatesEqual
  const size_t* startCodeImmediates = nullptr;
  size_t startCodeImmediateCount = 0;
  // ProjectPath
  uint32_t projectPathMinDigits = 0;
  // VersionName
  const NameRule* nameRule = nullptr;
};

// Defined beside each check (detect/variant_a.cpp ... variant_d.cpp).
extern const SignatureTables VariantATables;
extern const SignatureTables VariantBTables;
extern const SignatureTables VariantCTables;
extern const SignatureTables VariantDTables;

// variant: A to D.
const SignatureTables& TablesOf(Variant variant);

// A digest of everything above and of the window and template constants, as 16
// lowercase hex digits: the version of the signature set. Any change to a value
// the signatures compare changes it.
const char* SignatureSetVersion();
