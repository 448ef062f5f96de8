#include "detect/check_run.h"

#include <cstdio>
#include <cstring>

#include "detect/check_trace.h"
#include "detect/project_path.h"
#include "image/file_read.h"
#include "image/pe_header_reader.h"

namespace {

const char Succeeds[] = "succeeds";

}  // namespace

CheckRun::CheckRun(int fd, CheckTrace* trace, const uint8_t* entryCode, const IMAGE_FILE_HEADER* fileHeader,
                   const OptionalHeader32* optionalHeader)
    : fd_(fd), trace_(trace) {
  records_.Set(EntryCodeRecord, entryCode);
  records_.Set(FileHeaderRecord, fileHeader);
  records_.Set(OptionalHeaderRecord, optionalHeader);
}

void CheckRun::HandInFileSize(int32_t fileSize) {
  fileSize_ = fileSize;
  records_.SetFileSize(fileSize);
}

void CheckRun::HandInLastSection(const IMAGE_SECTION_HEADER* lastSection) {
  records_.Set(LastSectionRecord, lastSection);
}

bool CheckRun::IsVbProgram() { return ::IsVbProgram(fd_) != 0 || Fail("IsVbProgram", "true"); }

// The three Visual Basic records: cleared, read by their reader, then present for
// the rows.
template <typename Record>
bool CheckRun::ReadVbRecord(int (*read)(int, Record*), Record* record, RecordId id, const char* label) {
  std::memset(record, 0, sizeof *record);
  if (!read(fd_, record)) return Fail(label, Succeeds);
  records_.Set(id, record->bytes);
  return true;
}

bool CheckRun::ReadVbHeaderRecord() { return ReadVbRecord(ReadVbHeader, &header_, VbHeaderRecord, "ReadVbHeader"); }

bool CheckRun::ReadProjectInfoRecord() {
  return ReadVbRecord(ReadVbProjectInfo, &info_, VbProjectInfoRecord, "ReadVbProjectInfo");
}

bool CheckRun::ReadComRegDataRecord() {
  return ReadVbRecord(ReadVbComRegData, &comRegData_, VbComRegDataRecord, "ReadVbComRegData");
}

// The start code lies at the VA in VbHeader +0x2C; the mapped offset must lie
// inside the file.
bool CheckRun::ReadStartCodeRecord() {
  std::memset(startCode_, 0, sizeof startCode_);
  const int32_t offset =
      static_cast<int32_t>(VaToFileOffset(fd_, LoadU32Le(header_.bytes, VbHeaderStartCodeAddress)));
  if (!InsideFile(offset, fileSize_) || !ReadExactAt(fd_, offset, startCode_, StartCodeSize)) {
    char required[64];
    (void)std::snprintf(required, sizeof required, "offset inside the file, %u bytes",
                        static_cast<unsigned>(StartCodeSize));
    return Fail("start code read", required);
  }
  records_.Set(StartCodeRecord, startCode_);
  return true;
}

bool CheckRun::ReadDataSectionRecord() {
  std::memset(&dataSection_, 0, sizeof dataSection_);
  if (!ReadSectionHeaderByName(fd_, SecondSectionName, &dataSection_))
    return Fail(".data section header", "the section exists");
  records_.Set(DataSectionRecord, &dataSection_);
  return true;
}

bool CheckRun::ReadSectionTableHeadRecords() {
  std::memset(sectionTableHead_, 0, sizeof sectionTableHead_);
  if (!ReadSectionTableHead(fd_, sectionTableHead_)) return Fail("section table head read", Succeeds);
  records_.Set(Section1Record, sectionTableHead_);
  records_.Set(Section2Record, sectionTableHead_ + sizeof(IMAGE_SECTION_HEADER));
  return true;
}

bool CheckRun::SectionNames() {
  if (!SectionNameStartsWith(sectionTableHead_, FirstSectionName))
    return Fail("section 1 header Name", FirstSectionName);
  if (!SectionNameStartsWith(sectionTableHead_ + sizeof(IMAGE_SECTION_HEADER), SecondSectionName))
    return Fail("section 2 header Name", SecondSectionName);
  return true;
}

bool CheckRun::ProjectPath(uint32_t minDigits) {
  std::memset(work_, 0, sizeof work_);
  char* path = reinterpret_cast<char*>(work_);
  if (!ReadVbProjectPath(fd_, path, WorkBufferSize)) return Fail("ReadVbProjectPath", Succeeds);
  const PathMarks marks = CountPathMarks(path, WorkBufferSize);
  if (marks.backslashes != ProjectPathBackslashes) {
    char required[64];
    (void)std::snprintf(required, sizeof required, "exactly %u", static_cast<unsigned>(ProjectPathBackslashes));
    return FailValue("project path backslashes", marks.backslashes, required);
  }
  return AtLeast("project path digits", marks.digits, minDigits);
}

bool CheckRun::VersionName(const NameRule& rule) {
  std::memset(versionBlock_, 0, sizeof versionBlock_);
  if (!ReadVersionBlock(fd_, fileSize_, versionBlock_)) return Fail("version block read", Succeeds);
  const int32_t key = FindVersionKey(versionBlock_);
  if (key < 0) return Fail("InternalName key", "found");
  const int32_t lastKeyOffset = static_cast<int32_t>(VersionBlockSize) - rule.reach;
  if (key > lastKeyOffset) {
    char required[64];
    DescribeRange(0, static_cast<uint32_t>(lastKeyOffset), Accept::Range, required, sizeof required);
    return FailValue("InternalName key offset", static_cast<uint32_t>(key), required);
  }
  return rule.passes(versionBlock_, key) || Fail("InternalName value", rule.required);
}

bool CheckRun::Window(const FileWindow& window) {
  std::memset(work_, 0, sizeof work_);
  return ReadExactAt(fd_, window.offset, work_, window.size) || Fail(window.label, Succeeds);
}

bool CheckRun::AtLeast(const char* label, uint32_t found, uint32_t minimum) {
  if (found >= minimum) return true;
  char required[64];
  (void)std::snprintf(required, sizeof required, "at least %u", static_cast<unsigned>(minimum));
  return FailValue(label, found, required);
}

bool CheckRun::Holds(bool holds, const char* label, const char* required) { return holds || Fail(label, required); }

bool CheckRun::Fail(const char* label, const char* required) {
  if (trace_ != nullptr) {
    trace_->matched = false;
    trace_->failedTest = label;
    trace_->hasFound = false;
    trace_->found = 0;
    (void)std::snprintf(trace_->required, sizeof trace_->required, "%s", required);
  }
  return false;
}

bool CheckRun::FailValue(const char* label, uint32_t found, const char* required) {
  (void)Fail(label, required);
  if (trace_ != nullptr) {
    trace_->hasFound = true;
    trace_->found = found;
  }
  return false;
}

int CheckRun::Matched() {
  if (trace_ != nullptr) {
    trace_->matched = true;
    trace_->failedTest = nullptr;
    trace_->hasFound = false;
    trace_->found = 0;
    trace_->required[0] = 0;
  }
  return 1;
}
