// Command line of the offline scanner.
#pragma once

#include <cstdio>
#include <vector>

#include "tools/pestkill-scan/windows_root/windows_root_options.h"

struct ScanOptions {
  bool recursive = false;      // -r, --recursive: descend into directories
  bool listClean = false;      // -a, --all: a line for every file, also clean ones and those passed over
  bool showVariant = false;    // --variant: name the variant that matched
  bool explain = false;        // --explain: why each file matched or did not
  bool json = false;           // --json: one JSON object per file on standard output
  bool nullEnded = false;      // -0, --null: raw names, lines ended by NUL; NUL-separated file list
  bool oneFileSystem = false;  // -x, --one-file-system: stay on each operand's file system
  bool diskImages = false;     // --image: each PATH is a disk image (disk_image/)
  int volumeSeconds = 0;       // --volume-time-limit SECONDS with --image (0: the default)
  int jobs = 0;                // -j, --jobs N: files judged at once (0 until parsed: the number of cores)
  std::vector<const char*> excludes;  // --exclude GLOB, in the order given
  const char* fileList = nullptr;     // --file-list FILE ("-" is standard input)
  std::vector<const char*> paths;     // the PATH operands, in the order given
  WindowsRootOptions windowsRoot;     // --windows-root, --clean, --quarantine (windows_root/)
};

enum class ParseResult { Run, Help, Version, UsageError };

// Reads the options, which may stand before or after the paths up to "--". A
// usage error is described on stderr.
ParseResult ParseScanArguments(int argc, char** argv, ScanOptions* options);

void PrintUsage(FILE* stream);
void PrintVersion(FILE* stream);

// Exit status, as command-line virus scanners report it; an interrupted scan
// exits with 128 and the signal's number (130 for SIGINT, 143 for SIGTERM).
constexpr int ExitNothingFound = 0;
constexpr int ExitThreatFound = 1;
constexpr int ExitError = 2;
