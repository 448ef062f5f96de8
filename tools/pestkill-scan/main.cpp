// pestkill-scan: the file signature detector as a read-only offline scanner over
// files and directory trees (the mounted disk of a compromised machine, or real
// files for testing).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/crt_io.h"
#include "tools/pestkill-scan/file_list.h"
#include "tools/pestkill-scan/file_scan.h"
#include "tools/pestkill-scan/stop_signal.h"
#include "tools/pestkill-scan/disk_image/disk_image_scan.h"
#include "tools/pestkill-scan/windows_root/windows_root_scan.h"

namespace {

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

void ScanFileList(ScanRun* run, const WalkVisitor* visitor) {
  const char* name = run->options.fileList;
  FileList list;
  if (!OpenFileList(name, &list)) {
    QueueLine(run, LineKind::Problem, name, std::strerror(errno), "cannot read the file list");
    return;
  }
  const char separator = run->options.nullEnded ? '\0' : '\n';
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
    WalkOperand(path.c_str(), run->walk, visitor);
  }
  if (list.failed) {
    QueueLine(run, LineKind::Problem, name, std::strerror(list.errorNumber), "cannot read the file list");
  }
  CloseFileList(&list);
}

void ScanOperands(ScanRun* run) {
  const WalkVisitor visitor = ScanVisitor(run, OnFile, OnOpenFile);
  for (const char* path : run->options.paths) {
    if (Stopping(*run)) break;
    WalkOperand(path, run->walk, &visitor);
  }
  if (run->options.fileList != nullptr && !Stopping(*run)) ScanFileList(run, &visitor);
}

// --help and --version: their text must arrive whole too.
int ExitAfterText() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return ExitNothingFound;
  std::fprintf(stderr, "pestkill-scan: cannot write to standard output: %s\n", std::strerror(errno));
  return ExitError;
}

}  // namespace

int main(int argc, char** argv) {
  ScanRun run;
  switch (ParseScanArguments(argc, argv, &run.options)) {
    case ParseResult::Help:
    case ParseResult::Version: return ExitAfterText();
    case ParseResult::UsageError: return ExitError;
    case ParseResult::Run: break;
  }
  // --- disk images, unmounted (disk_image/)
  if (run.options.diskImages) return RunDiskImageScan(run.options, argv);
  // --- a mounted Windows volume with its registry (windows_root/)
  if (run.options.windowsRoot.root != nullptr) return RunWindowsRootScan(run.options);
  // ---
  ConfigureRun(&run);
  CatchStopSignals();
  StartReport(&run.report);
  InWalkOrder(&run, ScanOperands);
  const int stopSignal = StopSignal();
  ReportSummary(&run.report, stopSignal);
  return ExitStatusFor(run.report, stopSignal);
}
