// pestkill-scan: the file signature detector as a read-only offline scanner over
// files and directory trees (the mounted disk of a compromised machine, or real
// files for testing).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "detect/signatures.h"
#include "tools/pestkill-scan/explanation.h"
#include "tools/pestkill-scan/file_list.h"
#include "tools/pestkill-scan/file_walk.h"
#include "tools/pestkill-scan/glob_match.h"
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
};

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
  ReportSkipped(&run->report, path, "already judged under another name (a hard link, or named twice)");
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
void JudgeSignatures(const ScanRun& run, const char* openPath, uint64_t size, FileJudgement* judgement) {
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
    variant = JudgeImageFile(openPath, nullptr, &judgement->trace);
    stop = judgement->trace.stop;
    judgement->why.trace = &judgement->trace;
  } else {
    variant = JudgeImageFile(openPath, &stop);
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

// --- What the walk reports -------------------------------------------------

void OnFile(void* context, const char* path, const char* openPath, uint64_t size, FileIdentity identity) {
  ScanRun* run = static_cast<ScanRun*>(context);
  if (!FirstTimeJudged(run, path, identity)) return;
  FileJudgement judgement;
  JudgeSignatures(*run, openPath, size, &judgement);
  ReportJudgement(run, path, judgement);
}

void OnWalkError(void* context, const char* path, const char* reason) {
  ReportError(&static_cast<ScanRun*>(context)->report, path, reason);
}

void OnSkipped(void* context, const char* path, const char* reason) {
  ReportSkipped(&static_cast<ScanRun*>(context)->report, path, reason);
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
      ReportSkipped(&run->report, path, (std::string("excluded by ") + glob).c_str());
      return false;
    }
  }
  return true;
}

bool Stopping(void* context) {
  return StopSignal() != 0 || static_cast<ScanRun*>(context)->report.outputFailed;
}

// --- The operands ----------------------------------------------------------

void ScanFileList(ScanRun* run, const WalkVisitor* visitor) {
  const char* name = run->options.fileList;
  FileList list;
  if (!OpenFileList(name, &list)) {
    ReportProblem(&run->report, "cannot read the file list", name, std::strerror(errno));
    return;
  }
  const char separator = run->options.nullEnded ? '\0' : '\n';
  std::string path;
  bool holdsNul = false;
  while (!Stopping(run) && ReadListedPath(&list, separator, &path, &holdsNul)) {
    if (holdsNul) {
      ReportProblem(&run->report, "a NUL byte in the file list entry", path.c_str(),
                    "no name holds one; a NUL-separated list needs -0");
      continue;
    }
    WalkOperand(path.c_str(), run->walk, visitor);
  }
  if (list.failed) ReportProblem(&run->report, "cannot read the file list", name, std::strerror(list.errorNumber));
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
  const WalkVisitor visitor = {&run, OnFile, OnWalkError, OnSkipped, AdmitEntry, Stopping};
  for (const char* path : run.options.paths) {
    if (Stopping(&run)) break;
    WalkOperand(path, run.walk, &visitor);
  }
  if (run.options.fileList != nullptr && !Stopping(&run)) ScanFileList(&run, &visitor);
  const int stopSignal = StopSignal();
  ReportSummary(&run.report, stopSignal);
  return ExitStatusFor(run.report, stopSignal);
}
