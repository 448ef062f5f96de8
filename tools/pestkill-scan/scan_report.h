// What the offline scanner prints: result lines (text or JSON, with or without
// explanations), error lines, progress on a terminal and the closing summary, with
// the counts behind the exit status.
#pragma once

#include <chrono>
#include <cstdint>

struct FileExplanation;  // tools/pestkill-scan/explanation.h

struct ScanCounts {
  uint64_t files = 0;     // regular files judged
  uint64_t infected = 0;  // files that matched a signature
  uint64_t errors = 0;    // paths that could not be scanned
  uint64_t skipped = 0;   // symbolic links, pipes, devices and sockets inside directory trees
};

enum class OutputForm { Text, Json };

struct ScanReport {
  ScanCounts counts;
  OutputForm form = OutputForm::Text;
  bool listClean = false;     // text: a line for clean files too (always with an explanation)
  bool showVariant = false;   // text: name the variant (always with an explanation)
  bool showProgress = false;  // only when standard error is a terminal
  int progressWidth = 0;      // characters of the progress line now on screen
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point lastProgress;
};

void StartReport(ScanReport* report);
// variantLetter is 'A' to 'D'. why is null unless an explanation was asked for;
// with one, every file gets its result line followed by the explanation.
void ReportInfected(ScanReport* report, const char* path, char variantLetter, const FileExplanation* why);
void ReportClean(ScanReport* report, const char* path, const FileExplanation* why);
// A path that could not be scanned: a line on standard error in both forms and, in
// JSON, also an object with "verdict":"error" on standard output. why, when given,
// tells where the detector stopped.
void ReportError(ScanReport* report, const char* path, const char* reason, const FileExplanation* why = nullptr);
void ReportSkipped(ScanReport* report);
void ReportSummary(ScanReport* report);

// 1 when something was found, otherwise 2 when an error occurred, otherwise 0.
int ExitStatusFor(const ScanCounts& counts);
