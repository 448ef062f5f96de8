// The check runner refuses, when the check is compiled, a table with a row that
// reads past the end of its record; these cases hold the rule itself to the record
// sizes at both sides of each boundary.
#include <gtest/gtest.h>

#include "detect/field_rules.h"
#include "detect/field_rows.h"

namespace {

struct FitCase {
  const char* name;
  FieldTest row;
  bool fits;
};

TEST(FieldRows, MustFitTheirRecord) {
  const FitCase cases[] = {
      {"last u32 of VbHeader", ROW_VB_HEADER_U32(0x64, 0, 0), true},
      {"u32 one byte past VbHeader", ROW_VB_HEADER_U32(0x65, 0, 0), false},
      {"u16 at the end of VbComRegData", ROW_COM_REG_U16(0x28, 0, 0), true},
      {"u16 past VbComRegData", ROW_COM_REG_U16(0x29, 0, 0), false},
      {"last u32 of VbProjectInfo", ROW_PROJECT_INFO_U32(0x238, 0, 0), true},
      {"u32 past VbProjectInfo", ROW_PROJECT_INFO_U32(0x239, 0, 0), false},
      {"last entry code byte", {EntryCodeRecord, 1023, 1, 0, 0, "entry code byte 1023"}, true},
      {"past the entry code", {EntryCodeRecord, 1024, 1, 0, 0, "entry code byte 1024"}, false},
      {"last start code byte", ROW_START_CODE_BYTE(63, 0), true},
      {"past the start code", ROW_START_CODE_BYTE(64, 0), false},
      {"optional header NumberOfRvaAndSizes", ROW_OPTIONAL(NumberOfRvaAndSizes, 0, 0), true},
      {"a u32 over the optional header's end", {OptionalHeaderRecord, 93, 4, 0, 0, "optional header +93"}, false},
      {"section Characteristics", ROW_SECTION(Section2Record, "section 2 header", Characteristics, 0, 0), true},
      {"a u16 over a section header's end", {Section1Record, 39, 2, 0, 0, "section 1 header +39"}, false},
      {"the file size", ROW_FILE_SIZE(0, 0), true},
      {"a width that is not loaded", {VbHeaderRecord, 0, 3, 0, 0, "VbHeader +0x00 (u24)"}, false},
  };
  for (const FitCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RowFitsItsRecord(c.row), c.fits);
  }
}

// A table is refused as soon as one row does not fit, wherever it stands.
constexpr FieldTest FittingTable[] = {ROW_VB_HEADER_U16(0x04, 0, 0), ROW_VB_HEADER_U32(0x64, 0, 0)};
constexpr FieldTest LastRowPastTheEnd[] = {ROW_VB_HEADER_U16(0x04, 0, 0), ROW_VB_HEADER_U32(0x66, 0, 0)};
constexpr FieldTest FirstRowPastTheEnd[] = {ROW_COM_REG_U32(0x28, 0, 0), ROW_COM_REG_U16(0x26, 0, 0)};
static_assert(RowsFitTheirRecords(FittingTable), "fits");
static_assert(!RowsFitTheirRecords(LastRowPastTheEnd), "the last row reads past VbHeader");
static_assert(!RowsFitTheirRecords(FirstRowPastTheEnd), "the first row reads past VbComRegData");

}  // namespace
