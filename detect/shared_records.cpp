#include "detect/shared_records.h"

#include "detect/signatures.h"
#include "image/file_read.h"
#include "image/pe_header_reader.h"

ScanStop ReadSharedRecords(int fd, SharedRecords* records) {
  *records = SharedRecords();
  records->fileSize = GetFileLength(fd);

  const uint32_t entry = GetEntryPointFileOffset(fd);
  if (entry == NoFileOffset) return ScanStop::NoEntryOffset;
  if (!ReadExactAt(fd, static_cast<int32_t>(entry), records->entryCode, EntryCodeSize))
    return ScanStop::ShortEntryCode;

  // Both readers always report success; the cleared records keep zeros wherever a
  // short read left them unfilled.
  (void)ReadFileHeader(fd, &records->fileHeader);
  (void)ReadOptionalHeader(fd, &records->optionalHeader);

  if (!ReadLastSectionHeader(fd, records->lastSectionName, &records->lastSection)) return ScanStop::NoLastSection;
  return ScanStop::Checked;
}

int RunVariantCheck(Variant variant, int fd, const SharedRecords& r, CheckTrace* trace) {
  switch (variant) {
    case Variant::A: return CheckVariantA(fd, r.fileSize, r.entryCode, &r.fileHeader, &r.optionalHeader, trace);
    case Variant::B: return CheckVariantB(fd, r.fileSize, r.entryCode, &r.fileHeader, &r.optionalHeader, trace);
    case Variant::C:
      return CheckVariantC(fd, r.fileSize, r.entryCode, &r.fileHeader, &r.lastSection, &r.optionalHeader, trace);
    case Variant::D: return CheckVariantD(fd, r.entryCode, &r.fileHeader, &r.optionalHeader, trace);
    case Variant::None: break;
  }
  return 0;
}
