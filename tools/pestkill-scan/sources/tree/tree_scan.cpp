#include "tools/pestkill-scan/sources/tree/tree_scan.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/crt_io.h"
#include "tools/pestkill-scan/judgement/file_judgement.h"
#include "tools/pestkill-scan/report/stop_signal.h"
#include "tools/pestkill-scan/sources/tree/file_list.h"
#include "tools/pestkill-scan/sources/tree/scan_visitor.h"

namespace {

struct TreeScan : ScanRun {
  TreeRequest request;
};

// A file the walk reached: judged by the signatures, then reported in its turn.
void OnFile(void* context, const char* path, const char* openPath, uint64_t size, FileIdentity identity) {
  ScanRun* run = static_cast<ScanRun*>(context);
  if (!FirstTimeJudged(run, path, identity)) return;
  QueueFile(run, path, openPath, -1, size);
}

// The same, where the walk holds the file open: it is judged on that descriptor.
void OnOpenFile(void* context, const char* path, int fd, uint64_t size, FileIdentity identity) {
  ScanRun* run = static_cast<ScanRun*>(context);
  if (!FirstTimeJudged(run, path, identity)) {
    (void)_close(fd);
    return;
  }
  QueueFile(run, path, "", fd, size);
}

// --- The operands ----------------------------------------------------------

void ScanFileList(TreeScan* tree, const WalkVisitor* visitor) {
  ScanRun* run = tree;
  const char* name = tree->request.fileList;
  FileList list;
  if (!OpenFileList(name, &list)) {
    QueueLine(run, LineKind::Problem, name, std::strerror(errno), "cannot read the file list");
    return;
  }
  const char separator = run->settings.nullEnded ? '\0' : '\n';
  std::string path;
  bool holdsNul = false;
  for (;;) {
    WakeWorkers(run);  // the next name may be long in coming
    if (Stopping(*run) || !ReadListedPath(&list, separator, &path, &holdsNul)) break;
    if (holdsNul) {
      QueueLine(run, LineKind::Problem, path.c_str(), "no name holds one; a NUL-separated list needs -0",
                "a NUL byte in the file list entry");
      continue;
    }
    WalkOperand(path.c_str(), tree->request.walk, visitor);
  }
  if (list.failed) {
    QueueLine(run, LineKind::Problem, name, std::strerror(list.errorNumber), "cannot read the file list");
  }
  CloseFileList(&list);
}

void ScanOperands(ScanRun* run) {
  TreeScan* tree = static_cast<TreeScan*>(run);
  const WalkVisitor visitor = ScanVisitor(run, OnFile, OnOpenFile);
  for (const char* path : tree->request.paths) {
    if (Stopping(*run)) break;
    WalkOperand(path, tree->request.walk, &visitor);
  }
  if (tree->request.fileList != nullptr && !Stopping(*run)) ScanFileList(tree, &visitor);
}

}  // namespace

int RunTreeScan(const ScanSettings& settings, const TreeRequest& request) {
  TreeScan run;
  run.settings = settings;
  run.request = request;
  ConfigureRun(&run);
  CatchStopSignals();
  StartReport(&run.report);
  InWalkOrder(&run, ScanOperands);
  const int stopSignal = StopSignal();
  ReportSummary(&run.report, stopSignal);
  return ExitStatusFor(run.report, stopSignal);
}
