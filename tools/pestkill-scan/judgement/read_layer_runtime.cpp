// The scanner judging through the runtime's descriptor calls alone, as the shipped
// program reads (image/file_read_crt.cpp): the reference the read layer is held to.
#include "tools/pestkill-scan/judgement/read_layer.h"

#include <cstdio>
#include <vector>

#include "detect/file_signature_detector.h"

#ifdef _WIN32
#define fileno _fileno
#endif

void BindReadView(int, int64_t) {}
void UnbindReadView() {}

Variant JudgeThroughReadLayer(int fd, int64_t, ScanStop* stop, ScanTrace* trace) {
  return JudgeOpenImageFile(fd, stop, trace);
}

// A file without a descriptor is copied whole into a temporary file that is gone
// once closed, and judged there through the runtime's calls: slow, but the plain
// road to compare the read layer with.
Variant JudgeThroughReadSource(const ReadSource& source, int64_t size, ScanStop* stop, ScanTrace* trace) {
  FILE* copy = std::tmpfile();
  bool copied = copy != nullptr;
  std::vector<unsigned char> piece(1 << 20);
  for (int64_t at = 0; copied && at < size;) {
    const int64_t got = source.readAt(source.context, piece.data(), piece.size(), at);
    if (got <= 0) break;  // the copy ends where the source's reads end, as a descriptor's would
    copied = std::fwrite(piece.data(), 1, static_cast<size_t>(got), copy) == static_cast<size_t>(got);
    at += got;
  }
  if (copied) copied = std::fflush(copy) == 0;
  if (copied) std::rewind(copy);
  Variant variant = Variant::None;
  if (copied) {
    variant = JudgeOpenImageFile(fileno(copy), stop, trace);
  } else {
    if (stop != nullptr) *stop = ScanStop::CannotOpen;
    if (trace != nullptr) {
      *trace = ScanTrace();
      trace->stop = ScanStop::CannotOpen;
    }
  }
  if (copy != nullptr) std::fclose(copy);
  return variant;
}
