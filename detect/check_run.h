// The steps a variant check is made of, each written once. A check is a short
// sequence of them joined by &&, in the order of its signature:
//
//   CheckRun run(fd, trace, entryCode, fileHeader, optionalHeader);
//   return run.Rows<HeaderTests>() && run.IsVbProgram() && run.VbHeader<VbHeaderTests>() &&
//          ... && run.Matched();
//
// Each step reads what it needs into the run's own fixed records, runs its table of
// field tests on them, and returns true to go on, or false after describing what
// failed in the trace (when one is given). Requirement texts are formed from the
// same constants the steps compare. Nothing is allocated.
#pragma once

#include <cstdint>
#include <iterator>

#include "detect/field_rules.h"
#include "detect/file_windows.h"
#include "detect/section_table_head.h"
#include "detect/version_name.h"
#include "image/pe_records.h"
#include "image/vb_header_reader.h"

struct CheckTrace;

class CheckRun {
 public:
  // The records every check is handed by the file signature detector.
  CheckRun(int fd, CheckTrace* trace, const uint8_t* entryCode, const IMAGE_FILE_HEADER* fileHeader,
           const OptionalHeader32* optionalHeader);
  // The records only some checks are handed.
  void HandInFileSize(int32_t fileSize);
  void HandInLastSection(const IMAGE_SECTION_HEADER* lastSection);

  // Field tests on the records present. A table with a row that reaches past its
  // record does not compile.
  template <const auto& Tests>
  bool Rows() {
    static_assert(RowsFitTheirRecords(Tests), "a row reads past the end of its record");
    return RunFieldTests(Tests, std::size(Tests), records_, trace_) != 0;
  }

  // The entry code's push leads to the magic "VB5!".
  bool IsVbProgram();

  // Read a record, then test it.
  template <const auto& Tests>
  bool VbHeader() { return ReadVbHeaderRecord() && Rows<Tests>(); }
  template <const auto& Tests>
  bool ProjectInfo() { return ReadProjectInfoRecord() && Rows<Tests>(); }
  template <const auto& Tests>
  bool ComRegData() { return ReadComRegDataRecord() && Rows<Tests>(); }
  template <const auto& Tests>
  bool StartCode() { return ReadStartCodeRecord() && Rows<Tests>(); }
  template <const auto& Tests>
  bool DataSection() { return ReadDataSectionRecord() && Rows<Tests>(); }
  // The headers of sections 1 and 2: the rows, then the two names.
  template <const auto& Tests>
  bool SectionTableHead() { return ReadSectionTableHeadRecords() && Rows<Tests>() && SectionNames(); }

  // The project path, read into the work buffer: exactly two backslashes and at
  // least minDigits ASCII digits.
  bool ProjectPath(uint32_t minDigits);
  // The version block, its InternalName key within the rule's reach, and the rule.
  bool VersionName(const NameRule& rule);
  // The work buffer cleared and the window read into it.
  bool Window(const FileWindow& window);

  // Steps a variant writes itself, over the records read so far.
  bool AtLeast(const char* label, uint32_t found, uint32_t minimum);
  bool Holds(bool holds, const char* label, const char* required);
  bool FailValue(const char* label, uint32_t found, const char* required);
  // Every step passed: returns 1.
  int Matched();

  const uint8_t* VbHeaderBytes() const { return header_.bytes; }
  const uint8_t* ProjectInfoBytes() const { return info_.bytes; }
  const uint8_t* StartCodeBytes() const { return startCode_; }
  const uint8_t* Work() const { return work_; }

 private:
  template <typename Record>
  bool ReadVbRecord(int (*read)(int, Record*), Record* record, RecordId id, const char* label);
  bool ReadVbHeaderRecord();
  bool ReadProjectInfoRecord();
  bool ReadComRegDataRecord();
  bool ReadStartCodeRecord();
  bool ReadDataSectionRecord();
  bool ReadSectionTableHeadRecords();
  bool SectionNames();
  // Describes a failed step in the trace and returns false.
  bool Fail(const char* label, const char* required);

  int fd_;
  CheckTrace* trace_;
  int32_t fileSize_ = -1;
  RecordSet records_;
  ::VbHeader header_;
  VbProjectInfo info_;
  VbComRegData comRegData_;
  IMAGE_SECTION_HEADER dataSection_;
  uint8_t startCode_[StartCodeSize];
  uint8_t sectionTableHead_[SectionTableHeadSize];
  uint8_t versionBlock_[VersionBlockSize];
  uint8_t work_[WorkBufferSize];  // the project path, then each window
};
