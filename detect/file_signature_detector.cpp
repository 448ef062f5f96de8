#include "detect/file_signature_detector.h"

#include <initializer_list>

#include "detect/shared_records.h"
#include "platform/crt_io.h"

namespace {

CheckTrace* VariantTrace(ScanTrace* trace, Variant variant) {
  if (trace == nullptr) return nullptr;
  const int index = static_cast<int>(variant) - static_cast<int>(Variant::A);
  trace->ran[index] = true;
  return &trace->variants[index];
}

// Starts a judgement's outcome: the trace cleared and where it stopped.
void NoteStop(ScanStop where, ScanStop* stop, ScanTrace* trace) {
  if (stop != nullptr) *stop = where;
  if (trace != nullptr) {
    *trace = ScanTrace();
    trace->stop = where;
  }
}

}  // namespace

Variant JudgeOpenImageFile(int fd, ScanStop* stop, ScanTrace* trace) {
  SharedRecords records;
  const ScanStop where = ReadSharedRecords(fd, &records);
  NoteStop(where, stop, trace);
  if (where != ScanStop::Checked) return Variant::None;
  for (Variant variant : {Variant::A, Variant::B, Variant::C, Variant::D})
    if (RunVariantCheck(variant, fd, records, VariantTrace(trace, variant))) return variant;
  return Variant::None;
}

Variant JudgeImageFile(const char* path, ScanStop* stop, ScanTrace* trace) {
  // Read-only (_O_RDONLY is 0) and untranslated.
  const int fd = path == nullptr ? -1 : _open(path, _O_BINARY);
  if (fd == -1) {
    NoteStop(ScanStop::CannotOpen, stop, trace);
    return Variant::None;
  }
  const Variant variant = JudgeOpenImageFile(fd, stop, trace);
  (void)_close(fd);
  return variant;
}

bool ScanImageFile(const char* path) { return JudgeImageFile(path) != Variant::None; }

#ifdef _WIN32
bool ScanImageFileWide(const wchar_t* path) {
  if (path == nullptr) return false;
  // The same flags as the 8-bit open; every reader works on the descriptor as before.
  const int fd = _wopen(path, _O_BINARY);
  if (fd == -1) return false;
  const Variant variant = JudgeOpenImageFile(fd, nullptr, nullptr);
  (void)_close(fd);
  return variant != Variant::None;
}
#endif
