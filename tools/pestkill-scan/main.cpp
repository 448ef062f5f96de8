// pestkill-scan: the file signature detector as a read-only offline scanner over
// files and directory trees (the mounted disk of a compromised machine, or real
// files for testing), a mounted Windows volume with its registry, or disk images.
// Here the command line picks the source; each hands its files to the same
// judgement and report.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/pestkill-scan/report/exit_status.h"
#include "tools/pestkill-scan/scan_options.h"
#include "tools/pestkill-scan/sources/disk_image/disk_image_scan.h"
#include "tools/pestkill-scan/sources/mounted_volume/windows_root_scan.h"
#include "tools/pestkill-scan/sources/tree/tree_scan.h"

namespace {

// --help and --version: their text must arrive whole too.
int ExitAfterText() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return ExitNothingFound;
  std::fprintf(stderr, "pestkill-scan: cannot write to standard output: %s\n", std::strerror(errno));
  return ExitError;
}

int Refuse(const char* text) {
  std::fprintf(stderr, "pestkill-scan: %s\n", text);
  return ExitError;
}

}  // namespace

int main(int argc, char** argv) {
  ScanOptions options;
  switch (ParseScanArguments(argc, argv, &options)) {
    case ParseResult::Help:
    case ParseResult::Version: return ExitAfterText();
    case ParseResult::UsageError: return ExitError;
    case ParseResult::Run: break;
  }
  if (options.diskImages) {
    if (options.windowsRoot.root != nullptr) return Refuse("--image and --windows-root cannot be given together");
    if (options.fileList != nullptr) return Refuse("--image takes its images as PATHs, not from --file-list");
    return RunDiskImageScan(options, DiskImageRequest{options.paths, options.volumeSeconds}, argv);
  }
  if (options.windowsRoot.root != nullptr) {
    if (!options.paths.empty() || options.fileList != nullptr)
      return Refuse("--windows-root scans the whole volume and takes no PATH or --file-list");
    return RunWindowsRootScan(options, options.windowsRoot, options.oneFileSystem);
  }
  return RunTreeScan(options, TreeRequest{{options.recursive, options.oneFileSystem}, options.paths, options.fileList});
}
