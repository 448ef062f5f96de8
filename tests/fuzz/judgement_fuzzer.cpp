// Fuzz target: the whole judgement of one file. The input becomes an in-memory file
// that the detector opens by path, as it opens a process image; then every check
// runs on its own over the same records, so inputs that match an early variant
// still drive the later ones. Properties beyond "no crash, no sanitizer report":
// the plain verdict agrees with the variant result, and no descriptor is leaked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "detect/signatures.h"
#include "image/pe_header_reader.h"
#include "image/read_exact.h"
#include "platform/crt_io.h"
#include "tests/fuzz/memory_file.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "judgement property broken: %s\n", what);
  std::abort();
}

// Every check on its own, over the records read the way the detector reads them.
void RunEachCheck(int fd) {
  int32_t fileSize = static_cast<int32_t>(_filelength(fd));
  uint8_t entryCode[EntryCodeSize] = {};
  uint32_t entry = GetEntryPointFileOffset(fd);
  if (entry == NoFileOffset) return;
  if (!ReadExactAt(fd, static_cast<int32_t>(entry), entryCode, sizeof entryCode)) return;
  IMAGE_FILE_HEADER fileHeader;
  std::memset(&fileHeader, 0, sizeof fileHeader);
  (void)ReadFileHeader(fd, &fileHeader);
  OptionalHeader32 optionalHeader;
  std::memset(&optionalHeader, 0, sizeof optionalHeader);
  (void)ReadOptionalHeader(fd, &optionalHeader);
  char lastName[SectionNameTextSize] = {};
  IMAGE_SECTION_HEADER lastSection;
  std::memset(&lastSection, 0, sizeof lastSection);
  if (!ReadLastSectionHeader(fd, lastName, &lastSection)) return;
  CheckTrace trace;
  (void)CheckVariantA(fd, fileSize, entryCode, &fileHeader, &optionalHeader, &trace);
  (void)CheckVariantB(fd, fileSize, entryCode, &fileHeader, &optionalHeader, &trace);
  (void)CheckVariantC(fd, fileSize, entryCode, &fileHeader, &lastSection, &optionalHeader, &trace);
  (void)CheckVariantD(fd, entryCode, &fileHeader, &optionalHeader, &trace);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile* file = SharedMemoryFile();
  static const int freeBefore = LowestFreeDescriptor();
  FillMemoryFile(file, data, size);

  ScanTrace trace;
  Variant variant = IdentifyVariant(file->path, &trace);
  bool verdict = ScanImageFile(file->path);
  if (verdict != (variant != Variant::None)) Fail("ScanImageFile disagrees with IdentifyVariant");
  if (variant == Variant::None && trace.stop == ScanStop::CannotOpen) Fail("memory file not opened");
  if (LowestFreeDescriptor() != freeBefore) Fail("descriptor left open");

  RunEachCheck(file->fd);
  return 0;
}
