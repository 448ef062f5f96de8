// Command line of the offline scanner.
#pragma once

#include <cstdio>

struct ScanOptions {
  bool recursive = false;    // -r, --recursive: descend into directories
  bool listClean = false;    // -a, --all: print a line for clean files too
  bool showVariant = false;  // --variant: name the variant that matched
};

enum class ParseResult { Run, Help, UsageError };

// Reads the options; on Run, *firstPath is the index in argv of the first path
// operand (there is at least one). Options end at "--" or at the first operand.
// A usage error is described on stderr.
ParseResult ParseScanArguments(int argc, char** argv, ScanOptions* options, int* firstPath);

void PrintUsage(FILE* stream);

// Exit status, as command-line virus scanners report it.
constexpr int ExitNothingFound = 0;
constexpr int ExitThreatFound = 1;
constexpr int ExitError = 2;
