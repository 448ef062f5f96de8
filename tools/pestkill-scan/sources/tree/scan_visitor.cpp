#include "tools/pestkill-scan/sources/tree/scan_visitor.h"

namespace {

void OnWalkError(void* context, const char* path, const char* reason) {
  QueueLine(static_cast<ScanRun*>(context), LineKind::Error, path, reason);
}

void OnSkipped(void* context, const char* path, const char* reason) {
  QueueLine(static_cast<ScanRun*>(context), LineKind::Skipped, path, reason);
}

bool OnAdmit(void* context, const char* path, const char* name) {
  return AdmitEntry(static_cast<ScanRun*>(context), path, name);
}

bool OnStopping(void* context) { return Stopping(*static_cast<ScanRun*>(context)); }

}  // namespace

WalkVisitor ScanVisitor(ScanRun* run, FileVisit file, OpenFileVisit openFile) {
  return WalkVisitor{run, file, OnWalkError, OnSkipped, OnAdmit, OnStopping, openFile};
}
