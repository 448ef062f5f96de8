// Command-line options of the scan of a mounted Windows system volume: the volume,
// whether to clean it, and where removed files and hive backups go.
#pragma once

#include <cstdio>

struct WindowsRootOptions {
  const char* root = nullptr;        // --windows-root DIR: the volume's top directory (its C:)
  bool clean = false;                // --clean: carry out the clean-up instead of listing it
  const char* quarantine = nullptr;  // --quarantine QDIR: removed files, hive backups, manifest
};

// Takes --windows-root DIR, --clean and --quarantine QDIR (also written as
// --windows-root=DIR and --quarantine=QDIR) out of the arguments before "--" and
// moves them, with their values, right behind argv[0], keeping the order of the
// others; *consumed is how many arguments they are. False, with the reason on stderr,
// when a value is missing, an option is given twice, or --clean and --quarantine do
// not come together with --windows-root.
bool TakeWindowsRootOptions(int argc, char** argv, WindowsRootOptions* options, int* consumed);

void PrintWindowsRootUsage(FILE* stream);
