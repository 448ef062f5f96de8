// The judgement of the files a walk reaches, shared by the scan of PATH operands
// and the scan of a mounted Windows volume: each file judged once, the structural
// signatures, --exclude, the stop conditions, and what the walk reports on its way.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "tools/pestkill-scan/explanation.h"
#include "tools/pestkill-scan/file_walk.h"
#include "tools/pestkill-scan/scan_options.h"
#include "tools/pestkill-scan/scan_report.h"

struct ScanRun {
  ScanOptions options;
  WalkSettings walk;
  ScanReport report;
  // Every file judged in this run, so that a file reached under a second name (a
  // hard link, or an operand that a tree walk also reaches) is judged once.
  std::set<std::pair<uint64_t, uint64_t>> judged;
};

// The report's form and the walk's settings, from the options.
void ConfigureRun(ScanRun* run);

// 'A' to 'D', or 0 for Variant::None.
char VariantLetter(Variant variant);

// What one file was found to be, before it is reported. A judgement is filled
// by the signatures; a further rule looks at it and may change it.
enum class Verdict { Infected, Clean, NotChecked, Unreadable };

struct FileJudgement {
  Verdict verdict = Verdict::Clean;
  char variant = 0;    // 'A' to 'D' when infected
  std::string reason;  // why the file was not checked
  ScanTrace trace;     // with --explain
  FileExplanation why;
  FileJudgement() = default;
  FileJudgement(const FileJudgement&) = delete;  // why points into trace
  FileJudgement& operator=(const FileJudgement&) = delete;
};

// True the first time a file is met; later names of it are reported passed over.
bool FirstTimeJudged(ScanRun* run, const char* path, FileIdentity identity);

// The structural signatures. The plain road runs the checks without a trace; with
// --explain the trace says why.
void JudgeSignatures(const ScanRun& run, const char* openPath, uint64_t size, FileJudgement* judgement);

void ReportJudgement(ScanRun* run, const char* path, const FileJudgement& judgement);

// True once the scan must stop: a stop signal, or output that cannot be written.
bool Stopping(const ScanRun& run);

// The walk's visitor for run: file is called with run as its context; walk errors,
// entries passed over, --exclude and the stop conditions are handled here.
using FileVisit = void (*)(void* context, const char* path, const char* openPath, uint64_t size,
                           FileIdentity identity);
WalkVisitor ScanVisitor(ScanRun* run, FileVisit file);
