#include "detect/file_signature_detector.h"

#include <cstdint>
#include <cstring>

#include "detect/check_trace.h"
#include "detect/signatures.h"
#include "image/pe_header_reader.h"
#include "image/read_exact.h"
#include "platform/crt_io.h"

namespace {

CheckTrace* VariantTrace(ScanTrace* trace, Variant variant) {
  if (trace == nullptr) return nullptr;
  const int index = static_cast<int>(variant) - static_cast<int>(Variant::A);
  trace->ran[index] = true;
  return &trace->variants[index];
}

// The file size the signatures compare: the length taken at full width and held at
// the largest 32-bit signed value. A file of 2 GiB or more then still fails every
// size row that names a range, while its offsets (all below 2 GiB) stay testable;
// cut to 32 bits it would be -1 or wrap to a small length, and every offset test
// would fail or a size row would pass by accident.
int32_t JudgedFileSize(int fd) {
  const int64_t length = _filelengthi64(fd);
  if (length < 0) return -1;
  return length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
}

Variant Stop(ScanStop* where, ScanStop stop) {
  if (where != nullptr) *where = stop;
  return Variant::None;
}

// Reads the records all four signatures share, once, then runs the signatures in
// their fixed order until one matches. Never opens or closes the descriptor.
// stop, when given, learns where the judgement ended; trace, when given, also
// learns what each check found (its stop is the same place as stop).
Variant JudgeOpenFile(int fd, ScanStop* stop, ScanTrace* trace) {
  const int32_t fileSize = JudgedFileSize(fd);

  const uint32_t entry = GetEntryPointFileOffset(fd);
  if (entry == NoFileOffset) return Stop(stop, ScanStop::NoEntryOffset);
  uint8_t entryCode[EntryCodeSize];
  std::memset(entryCode, 0, sizeof entryCode);
  if (!ReadExactAt(fd, static_cast<int32_t>(entry), entryCode, EntryCodeSize))
    return Stop(stop, ScanStop::ShortEntryCode);

  // Both readers always report success; the cleared records keep zeros wherever a
  // short read left them unfilled.
  IMAGE_FILE_HEADER fileHeader;
  std::memset(&fileHeader, 0, sizeof fileHeader);
  (void)ReadFileHeader(fd, &fileHeader);
  OptionalHeader32 optionalHeader;
  std::memset(&optionalHeader, 0, sizeof optionalHeader);
  (void)ReadOptionalHeader(fd, &optionalHeader);

  char lastSectionName[SectionNameTextSize];
  std::memset(lastSectionName, 0, sizeof lastSectionName);
  IMAGE_SECTION_HEADER lastSection;
  std::memset(&lastSection, 0, sizeof lastSection);
  if (!ReadLastSectionHeader(fd, lastSectionName, &lastSection)) return Stop(stop, ScanStop::NoLastSection);

  (void)Stop(stop, ScanStop::Checked);
  if (CheckVariantA(fd, fileSize, entryCode, &fileHeader, &optionalHeader, VariantTrace(trace, Variant::A)))
    return Variant::A;
  if (CheckVariantB(fd, fileSize, entryCode, &fileHeader, &optionalHeader, VariantTrace(trace, Variant::B)))
    return Variant::B;
  if (CheckVariantC(fd, fileSize, entryCode, &fileHeader, &lastSection, &optionalHeader,
                    VariantTrace(trace, Variant::C)))
    return Variant::C;
  if (CheckVariantD(fd, entryCode, &fileHeader, &optionalHeader, VariantTrace(trace, Variant::D)))
    return Variant::D;
  return Variant::None;
}

Variant JudgeFile(const char* path, ScanStop* stop, ScanTrace* trace) {
  if (path == nullptr) return Stop(stop, ScanStop::CannotOpen);
  // Read-only (_O_RDONLY is 0) and untranslated.
  const int fd = _open(path, _O_BINARY);
  if (fd == -1) return Stop(stop, ScanStop::CannotOpen);
  const Variant variant = JudgeOpenFile(fd, stop, trace);
  (void)_close(fd);
  return variant;
}

}  // namespace

Variant IdentifyVariant(const char* path, ScanTrace* trace) {
  if (trace == nullptr) return JudgeFile(path, nullptr, nullptr);
  *trace = ScanTrace();
  return JudgeFile(path, &trace->stop, trace);
}

Variant IdentifyVariantStop(const char* path, ScanStop* stop) { return JudgeFile(path, stop, nullptr); }

bool ScanImageFile(const char* path) { return IdentifyVariant(path, nullptr) != Variant::None; }
