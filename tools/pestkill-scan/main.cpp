// pestkill-scan: the file signature detector as a read-only offline scanner over
// files and directory trees (the mounted disk of a compromised machine, or real
// files for testing).
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "detect/signatures.h"
#include "platform/crt_io.h"
#include "tools/pestkill-scan/explanation.h"
#include "tools/pestkill-scan/file_list.h"
#include "tools/pestkill-scan/file_walk.h"
#include "tools/pestkill-scan/glob_match.h"
#include "tools/pestkill-scan/ordered_work.h"
#include "tools/pestkill-scan/read_layer.h"
#include "tools/pestkill-scan/scan_options.h"
#include "tools/pestkill-scan/scan_report.h"
#include "tools/pestkill-scan/stop_signal.h"

namespace {

struct ScanRun {
  ScanOptions options;
  WalkSettings walk;
  ScanReport report;
  // Every file judged in this run, so that a file reached under a second name (a
  // hard link, or an operand that a tree walk also reaches) is judged once.
  std::set<std::pair<uint64_t, uint64_t>> judged;
  // Files are judged on the workers and every line is reported in walk order.
  OrderedWork* work = nullptr;
  // Set once standard output failed, for the walk, which does not write the report.
  std::atomic<bool> outputFailed{false};
};

enum class LineKind { Error, Skipped, Problem };
void QueueLine(ScanRun* run, LineKind kind, const char* path, const char* reason, const char* what = nullptr);

char VariantLetter(Variant variant) {
  switch (variant) {
    case Variant::A: return 'A';
    case Variant::B: return 'B';
    case Variant::C: return 'C';
    case Variant::D: return 'D';
    case Variant::None: break;
  }
  return 0;
}

// --- The judgement of one file ---------------------------------------------

// True the first time a file is met; later names of it are passed over.
bool FirstTimeJudged(ScanRun* run, const char* path, FileIdentity identity) {
  if (identity.device == 0 && identity.file == 0) return true;  // identity unknown
  if (run->judged.insert({identity.device, identity.file}).second) return true;
  QueueLine(run, LineKind::Skipped, path, "already judged under another name (a hard link, or named twice)");
  return false;
}

// What one file was found to be, before it is reported. A judgement is filled
// by the signatures; a further rule would look at it and may change it.
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

// The structural signatures. The plain road runs the checks without a trace; with
// --explain the trace says why.
void JudgeSignatures(const ScanRun& run, const char* openPath, int fd, uint64_t size, FileJudgement* judgement) {
  judgement->why.size = size;
  // The detector needs EntryCodeSize bytes at the entry point before any signature
  // is tested, so a shorter file is not read. This also keeps kernel pseudo-files
  // that report a size of 0 (some block when read) out of the detector.
  if (size < static_cast<uint64_t>(EntryCodeSize)) {
    judgement->why.notRead = true;
    judgement->verdict = Verdict::NotChecked;
    judgement->reason = NotCheckedReason(judgement->why);
    return;
  }
  ScanStop stop = ScanStop::Checked;
  Variant variant = Variant::None;
  if (run.options.explain) {
    variant = fd >= 0 ? JudgeThroughReadLayer(fd, static_cast<int64_t>(size), nullptr, &judgement->trace)
                      : JudgeImageFile(openPath, nullptr, &judgement->trace);
    stop = judgement->trace.stop;
    judgement->why.trace = &judgement->trace;
  } else {
    variant = fd >= 0 ? JudgeThroughReadLayer(fd, static_cast<int64_t>(size), &stop, nullptr)
                      : JudgeImageFile(openPath, &stop);
  }
  if (stop == ScanStop::CannotOpen) {
    judgement->verdict = Verdict::Unreadable;
  } else if (variant != Variant::None) {
    judgement->verdict = Verdict::Infected;
    judgement->variant = VariantLetter(variant);
  } else if (stop != ScanStop::Checked) {
    judgement->verdict = Verdict::NotChecked;
    judgement->reason = StopReason(stop);
  }
}

void ReportJudgement(ScanRun* run, const char* path, const FileJudgement& judgement) {
  ScanReport* report = &run->report;
  const FileExplanation* shown = run->options.explain ? &judgement.why : nullptr;
  switch (judgement.verdict) {
    case Verdict::Infected: ReportInfected(report, path, judgement.variant, shown); break;
    case Verdict::Clean: ReportClean(report, path, shown); break;
    case Verdict::NotChecked: ReportNotChecked(report, path, judgement.reason.c_str(), shown); break;
    case Verdict::Unreadable: ReportError(report, path, "cannot be opened", shown); break;
  }
}

// --- In walk order ---------------------------------------------------------

// What the walk met, waiting for its turn in the report: a file to judge (by its
// open descriptor, or by openPath when fd is -1), or a line of the walk.
struct PendingEntry {
  bool isFile = true;
  LineKind line = LineKind::Error;
  std::string path;
  std::string openPath;
  int fd = -1;
  uint64_t size = 0;
  std::string reason;
  std::string what;
  std::optional<FileJudgement> judgement;
};

void WorkOnEntry(void* context, void* pending) {
  const ScanRun* run = static_cast<const ScanRun*>(context);
  PendingEntry* entry = static_cast<PendingEntry*>(pending);
  entry->judgement.emplace();
  JudgeSignatures(*run, entry->openPath.c_str(), entry->fd, entry->size, &*entry->judgement);
  if (entry->fd >= 0) (void)_close(entry->fd);
  entry->fd = -1;
}

void FinishEntry(void* context, void* pending, bool finished) {
  ScanRun* run = static_cast<ScanRun*>(context);
  PendingEntry* entry = static_cast<PendingEntry*>(pending);
  // Once standard output has failed nothing more is reported or counted.
  if (finished && !run->report.outputFailed) {
    const char* path = entry->path.c_str();
    const char* reason = entry->reason.c_str();
    if (entry->isFile) {
      ReportJudgement(run, path, *entry->judgement);
    } else if (entry->line == LineKind::Error) {
      ReportError(&run->report, path, reason);
    } else if (entry->line == LineKind::Skipped) {
      ReportSkipped(&run->report, path, reason);
    } else {
      ReportProblem(&run->report, entry->what.c_str(), path, reason);
    }
    if (run->report.outputFailed) run->outputFailed = true;
  }
  if (entry->fd >= 0) (void)_close(entry->fd);  // given up at a stop before it was judged
  entry->fd = -1;
  entry->judgement.reset();
}

void QueueFile(ScanRun* run, const char* path, const char* openPath, int fd, uint64_t size) {
  PendingEntry* entry = static_cast<PendingEntry*>(run->work->Next());
  entry->isFile = true;
  entry->path = path;
  entry->openPath = openPath;
  entry->fd = fd;
  entry->size = size;
  run->work->Hand(true);
}

void QueueLine(ScanRun* run, LineKind kind, const char* path, const char* reason, const char* what) {
  PendingEntry* entry = static_cast<PendingEntry*>(run->work->Next());
  entry->isFile = false;
  entry->line = kind;
  entry->path = path;
  entry->reason = reason;
  entry->what = what == nullptr ? "" : what;
  run->work->Hand(false);
}

// --- What the walk reports -------------------------------------------------

void OnFile(void* context, const char* path, const char* openPath, uint64_t size, FileIdentity identity) {
  ScanRun* run = static_cast<ScanRun*>(context);
  if (!FirstTimeJudged(run, path, identity)) return;
  QueueFile(run, path, openPath, -1, size);
}

void OnOpenFile(void* context, const char* path, int fd, uint64_t size, FileIdentity identity) {
  ScanRun* run = static_cast<ScanRun*>(context);
  if (!FirstTimeJudged(run, path, identity)) {
    (void)_close(fd);
    return;
  }
  QueueFile(run, path, "", fd, size);
}

void OnWalkError(void* context, const char* path, const char* reason) {
  QueueLine(static_cast<ScanRun*>(context), LineKind::Error, path, reason);
}

void OnSkipped(void* context, const char* path, const char* reason) {
  QueueLine(static_cast<ScanRun*>(context), LineKind::Skipped, path, reason);
}

// --exclude: a GLOB with a separator is matched against the whole path, any other
// against the entry's name.
bool AdmitEntry(void* context, const char* path, const char* name) {
  ScanRun* run = static_cast<ScanRun*>(context);
  if (run->options.excludes.empty()) return true;
  std::string whole = path;
#ifdef _WIN32
  for (char& c : whole) c = c == '\\' ? '/' : c;  // GLOBs are written with '/'
#endif
  for (const char* glob : run->options.excludes) {
    const char* subject = std::strchr(glob, '/') != nullptr ? whole.c_str() : name;
    if (MatchesGlob(glob, subject)) {
      QueueLine(run, LineKind::Skipped, path, (std::string("excluded by ") + glob).c_str());
      return false;
    }
  }
  return true;
}

bool Stopping(void* context) {
  return StopSignal() != 0 || static_cast<ScanRun*>(context)->outputFailed;
}

// --- The operands ----------------------------------------------------------

void ScanFileList(ScanRun* run, const WalkVisitor* visitor) {
  const char* name = run->options.fileList;
  FileList list;
  if (!OpenFileList(name, &list)) {
    QueueLine(run, LineKind::Problem, name, std::strerror(errno), "cannot read the file list");
    return;
  }
  const char separator = run->options.nullEnded ? '\0' : '\n';
  std::string path;
  bool holdsNul = false;
  for (;;) {
    run->work->Flush();  // the next name may be long in coming
    if (Stopping(run) || !ReadListedPath(&list, separator, &path, &holdsNul)) break;
    if (holdsNul) {
      QueueLine(run, LineKind::Problem, path.c_str(), "no name holds one; a NUL-separated list needs -0",
                "a NUL byte in the file list entry");
      continue;
    }
    WalkOperand(path.c_str(), run->walk, visitor);
  }
  if (list.failed) {
    QueueLine(run, LineKind::Problem, name, std::strerror(list.errorNumber), "cannot read the file list");
  }
  CloseFileList(&list);
}

void ConfigureReport(ScanRun* run) {
  const ScanOptions& options = run->options;
  run->report.form = options.json ? OutputForm::Json : OutputForm::Text;
  run->report.listClean = options.listClean;
  run->report.showVariant = options.showVariant;
  run->report.nullEnded = options.nullEnded;
  run->walk.recursive = options.recursive;
  run->walk.oneFileSystem = options.oneFileSystem;
}

// --help and --version: their text must arrive whole too.
int ExitAfterText() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return ExitNothingFound;
  std::fprintf(stderr, "pestkill-scan: cannot write to standard output: %s\n", std::strerror(errno));
  return ExitError;
}

}  // namespace

int main(int argc, char** argv) {
  ScanRun run;
  switch (ParseScanArguments(argc, argv, &run.options)) {
    case ParseResult::Help:
    case ParseResult::Version: return ExitAfterText();
    case ParseResult::UsageError: return ExitError;
    case ParseResult::Run: break;
  }
  ConfigureReport(&run);
  CatchStopSignals();
  StartReport(&run.report);
  std::vector<PendingEntry> entries(EntriesForWorkers(run.options.jobs));
  std::vector<void*> pending;
  for (PendingEntry& entry : entries) pending.push_back(&entry);
  OrderedWork work(run.options.jobs, pending, {&run, WorkOnEntry, FinishEntry});
  run.work = &work;
  const WalkVisitor visitor = {&run, OnFile, OnWalkError, OnSkipped, AdmitEntry, Stopping, OnOpenFile};
  for (const char* path : run.options.paths) {
    if (Stopping(&run)) break;
    WalkOperand(path, run.walk, &visitor);
  }
  if (run.options.fileList != nullptr && !Stopping(&run)) ScanFileList(&run, &visitor);
  work.Close(Stopping(&run));
  const int stopSignal = StopSignal();
  ReportSummary(&run.report, stopSignal);
  return ExitStatusFor(run.report, stopSignal);
}
