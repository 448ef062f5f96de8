// The scanner judging through the runtime's descriptor calls alone, as the shipped
// program reads (image/file_read_crt.cpp): the reference the read layer is held to.
#include "tools/pestkill-scan/read_layer.h"

#include "detect/file_signature_detector.h"

void BindReadView(int, int64_t) {}
void UnbindReadView() {}

Variant JudgeThroughReadLayer(int fd, int64_t, ScanStop* stop, ScanTrace* trace) {
  return JudgeOpenImageFile(fd, stop, trace);
}
