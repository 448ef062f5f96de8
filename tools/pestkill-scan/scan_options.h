// Command line of the offline scanner.
#pragma once

#include <cstdio>

#include "tools/pestkill-scan/windows_root/windows_root_options.h"

struct ScanOptions {
  bool recursive = false;    // -r, --recursive: descend into directories
  bool listClean = false;    // -a, --all: print a line for clean files too
  bool showVariant = false;  // --variant: name the variant that matched
  bool explain = false;      // --explain: why each file matched or did not
  bool json = false;         // --json: one JSON object per file on standard output
  WindowsRootOptions windowsRoot;  // --windows-root, --clean, --quarantine
};

enum class ParseResult { Run, Help, UsageError };

// Reads the options, which may stand before or after the paths up to "--". On Run,
// argv is reordered so that the paths (at least one) are argv[*firstPath] to the
// end, in the order given. A usage error is described on stderr.
ParseResult ParseScanArguments(int argc, char** argv, ScanOptions* options, int* firstPath);

void PrintUsage(FILE* stream);

// Exit status, as command-line virus scanners report it.
constexpr int ExitNothingFound = 0;
constexpr int ExitThreatFound = 1;
constexpr int ExitError = 2;
