// What the offline scanner prints: result lines, error lines, progress on a
// terminal and the closing summary, with the counts behind the exit status.
#pragma once

#include <chrono>
#include <cstdint>

struct ScanCounts {
  uint64_t files = 0;     // regular files judged
  uint64_t infected = 0;  // files that matched a signature
  uint64_t errors = 0;    // paths that could not be scanned
  uint64_t skipped = 0;   // symbolic links, pipes, devices and sockets inside directory trees
};

struct ScanReport {
  ScanCounts counts;
  bool showProgress = false;  // only when standard error is a terminal
  int progressWidth = 0;      // characters of the progress line now on screen
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point lastProgress;
};

void StartReport(ScanReport* report);
// variantLetter is 0 when the variant is not to be named.
void ReportInfected(ScanReport* report, const char* path, char variantLetter);
void ReportClean(ScanReport* report, const char* path, bool printLine);
void ReportError(ScanReport* report, const char* path, const char* reason);
void ReportSkipped(ScanReport* report);
void ReportSummary(ScanReport* report);

// 1 when something was found, otherwise 2 when an error occurred, otherwise 0.
int ExitStatusFor(const ScanCounts& counts);
