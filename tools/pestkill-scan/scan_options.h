// Command line of the offline scanner: how files are judged and reported
// (ScanSettings), and where they come from.
#pragma once

#include <cstdio>
#include <vector>

#include "tools/pestkill-scan/judgement/scan_settings.h"
#include "tools/pestkill-scan/sources/mounted_volume/windows_root_options.h"

struct ScanOptions : ScanSettings {
  bool recursive = false;      // -r, --recursive: descend into directories
  bool oneFileSystem = false;  // -x, --one-file-system: stay on each operand's file system
  bool diskImages = false;     // --image: each PATH is a disk image (sources/disk_image/)
  int volumeSeconds = 0;       // --volume-time-limit SECONDS with --image (0: the default)
  const char* fileList = nullptr;     // --file-list FILE ("-" is standard input)
  std::vector<const char*> paths;     // the PATH operands, in the order given
  WindowsRootOptions windowsRoot;     // --windows-root, --clean, --quarantine (sources/mounted_volume/)
};

enum class ParseResult { Run, Help, Version, UsageError };

// Reads the options, which may stand before or after the paths up to "--". A
// usage error is described on stderr.
ParseResult ParseScanArguments(int argc, char** argv, ScanOptions* options);

void PrintUsage(FILE* stream);
void PrintVersion(FILE* stream);
