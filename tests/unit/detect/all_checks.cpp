#include "tests/unit/detect/all_checks.h"

#include "image/pe_header_reader.h"
#include "image/read_exact.h"
#include "platform/crt_io.h"

bool ReadSharedRecords(int fd, SharedRecords* records) {
  *records = SharedRecords();
  records->fileSize = static_cast<int32_t>(_filelength(fd));
  const uint32_t entry = GetEntryPointFileOffset(fd);
  if (entry == NoFileOffset) return false;
  if (!ReadExactAt(fd, static_cast<int32_t>(entry), records->entryCode, EntryCodeSize)) return false;
  (void)ReadFileHeader(fd, &records->fileHeader);
  (void)ReadOptionalHeader(fd, &records->optionalHeader);
  char name[SectionNameTextSize] = {};
  return ReadLastSectionHeader(fd, name, &records->lastSection) == 1;
}

int RunCheck(char variant, int fd, const SharedRecords& r, CheckTrace* trace) {
  switch (variant) {
    case 'A': return CheckVariantA(fd, r.fileSize, r.entryCode, &r.fileHeader, &r.optionalHeader, trace);
    case 'B': return CheckVariantB(fd, r.fileSize, r.entryCode, &r.fileHeader, &r.optionalHeader, trace);
    case 'C':
      return CheckVariantC(fd, r.fileSize, r.entryCode, &r.fileHeader, &r.lastSection, &r.optionalHeader, trace);
    case 'D': return CheckVariantD(fd, r.entryCode, &r.fileHeader, &r.optionalHeader, trace);
  }
  return -1;
}

AllChecks RunAllChecks(const std::string& path) {
  AllChecks result;
  const int fd = _open(path.c_str(), _O_BINARY);
  if (fd == -1) return result;
  SharedRecords records;
  result.recordsRead = ReadSharedRecords(fd, &records);
  if (result.recordsRead)
    for (int i = 0; i < 4; ++i) result.verdicts[i] = RunCheck(static_cast<char>('A' + i), fd, records, &result.traces[i]);
  (void)_close(fd);
  return result;
}

std::string MatchedVariants(const AllChecks& checks) {
  std::string matched;
  for (int i = 0; i < 4; ++i)
    if (checks.verdicts[i]) matched += static_cast<char>('A' + i);
  return matched;
}
