#include "tools/pestkill-scan/file_scan.h"

#include <cstring>

#include "detect/signatures.h"
#include "tools/pestkill-scan/glob_match.h"
#include "tools/pestkill-scan/stop_signal.h"

namespace {

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

bool OnStopping(void* context) { return Stopping(*static_cast<ScanRun*>(context)); }

}  // namespace

void ConfigureRun(ScanRun* run) {
  const ScanOptions& options = run->options;
  run->report.form = options.json ? OutputForm::Json : OutputForm::Text;
  run->report.listClean = options.listClean;
  run->report.showVariant = options.showVariant;
  run->report.nullEnded = options.nullEnded;
  run->walk.recursive = options.recursive;
  run->walk.oneFileSystem = options.oneFileSystem;
}

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

bool FirstTimeJudged(ScanRun* run, const char* path, FileIdentity identity) {
  if (identity.device == 0 && identity.file == 0) return true;  // identity unknown
  if (run->judged.insert({identity.device, identity.file}).second) return true;
  ReportSkipped(&run->report, path, "already judged under another name (a hard link, or named twice)");
  return false;
}

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

bool Stopping(const ScanRun& run) { return StopSignal() != 0 || run.report.outputFailed; }

WalkVisitor ScanVisitor(ScanRun* run, FileVisit file) {
  return WalkVisitor{run, file, OnWalkError, OnSkipped, AdmitEntry, OnStopping};
}
