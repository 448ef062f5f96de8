// Fuzz target: the whole judgement of one file. The input becomes an in-memory file
// that the detector opens by path, as it opens a process image; then every check
// runs on its own over the same records, so inputs that match an early variant
// still drive the later ones. Properties beyond "no crash, no sanitizer report":
// the plain verdict agrees with the variant result, and no descriptor is leaked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "detect/shared_records.h"
#include "tests/fuzz/memory_file.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "judgement property broken: %s\n", what);
  std::abort();
}

// Every check on its own, over the records read the way the detector reads them.
void RunEachCheck(int fd) {
  SharedRecords records;
  if (ReadSharedRecords(fd, &records) != ScanStop::Checked) return;
  CheckTrace trace;
  for (Variant variant : {Variant::A, Variant::B, Variant::C, Variant::D})
    (void)RunVariantCheck(variant, fd, records, &trace);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryFile* file = SharedMemoryFile();
  static const int freeBefore = LowestFreeDescriptor();
  FillMemoryFile(file, data, size);

  ScanTrace trace;
  Variant variant = JudgeImageFile(file->path, nullptr, &trace);
  bool verdict = ScanImageFile(file->path);
  if (verdict != (variant != Variant::None)) Fail("ScanImageFile disagrees with JudgeImageFile");
  if (variant == Variant::None && trace.stop == ScanStop::CannotOpen) Fail("memory file not opened");
  if (LowestFreeDescriptor() != freeBefore) Fail("descriptor left open");

  RunEachCheck(file->fd);
  return 0;
}
