// The judgement of the files a walk reaches, shared by the scan of PATH operands
// and the scan of a mounted Windows volume: each file judged once, the structural
// signatures, --exclude, the stop conditions, and what the walk reports on its way.
// A walk may hand its files to workers (-j): then every line it reports waits for
// its turn, so the report keeps the walk's order.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <utility>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "tools/pestkill-scan/judgement/file_identity.h"
#include "tools/pestkill-scan/judgement/ordered_work.h"
#include "tools/pestkill-scan/judgement/scan_settings.h"
#include "tools/pestkill-scan/report/explanation.h"
#include "tools/pestkill-scan/report/scan_report.h"

struct ScanRun {
  ScanSettings settings;
  ScanReport report;
  // Every file judged in this run, so that a file reached under a second name (a
  // hard link, or an operand that a tree walk also reaches) is judged once.
  std::set<std::pair<uint64_t, uint64_t>> judged;
  // Set while the files are judged on workers (InWalkOrder): every line is then
  // reported in walk order. Null: each is reported as it comes.
  OrderedWork* work = nullptr;
  // Set once standard output failed, for the walk, which then does not write the
  // report itself.
  std::atomic<bool> outputFailed{false};
};

// The report's form, from the settings.
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

// The structural signatures, on the open descriptor fd (read through the scanner's
// read layer; fd stays open) or, when fd is -1, on the file openPath names. The
// plain road runs the checks without a trace; with --explain the trace says why.
void JudgeSignatures(const ScanRun& run, const char* openPath, int fd, uint64_t size, FileJudgement* judgement);
// The same on a file that has no descriptor (one inside a disk image), read
// through source; its size is the one its metadata gives.
struct ReadSource;
void JudgeSourceSignatures(const ScanRun& run, const ReadSource& source, uint64_t size, FileJudgement* judgement);

void ReportJudgement(ScanRun* run, const char* path, const FileJudgement& judgement);

// A line of the walk's own, in its turn: an error, an entry passed over, or a
// problem (what) with an operand.
enum class LineKind { Error, Skipped, Problem };
void QueueLine(ScanRun* run, LineKind kind, const char* path, const char* reason, const char* what = nullptr);

// A file to judge and report in its turn: by fd, which is then owned and closed
// here, or by openPath when fd is -1.
void QueueFile(ScanRun* run, const char* path, const char* openPath, int fd, uint64_t size);

// Runs walk with the files it queues judged on run->options.jobs workers and each
// line reported in walk order; when walk returns, everything queued is reported,
// or given up after a stop.
void InWalkOrder(ScanRun* run, void (*walk)(ScanRun* run));

// Wakes the workers for whatever is queued, before the walk may block (reading a
// list from a pipe), so that nothing queued waits on it.
void WakeWorkers(ScanRun* run);

// True once the scan must stop: a stop signal, or output that cannot be written.
bool Stopping(const ScanRun& run);

// --exclude: true when the entry at path (name: its last component) is to be
// judged; else its line "excluded by GLOB" is queued. A GLOB with a separator is
// matched against the whole path, any other against the entry's name.
bool AdmitEntry(ScanRun* run, const char* path, const char* name);
