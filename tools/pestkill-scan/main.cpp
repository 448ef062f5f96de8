// pestkill-scan: the file signature detector as a read-only offline scanner over
// files and directory trees (the mounted disk of a compromised machine, or real
// files for testing).
#include <cstdint>

#include "detect/check_trace.h"
#include "detect/file_signature_detector.h"
#include "detect/signatures.h"
#include "tools/pestkill-scan/explanation.h"
#include "tools/pestkill-scan/file_walk.h"
#include "tools/pestkill-scan/scan_options.h"
#include "tools/pestkill-scan/scan_report.h"
#include "tools/pestkill-scan/windows_root/windows_root_scan.h"

namespace {

struct ScanRun {
  ScanOptions options;
  ScanReport report;
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

void ReportJudgement(ScanReport* report, const char* path, Variant variant, ScanStop stop,
                     const FileExplanation* why) {
  if (stop == ScanStop::CannotOpen) {
    ReportError(report, path, "cannot be opened", why);
  } else if (variant != Variant::None) {
    ReportInfected(report, path, VariantLetter(variant), why);
  } else {
    ReportClean(report, path, why);
  }
}

void JudgeFile(void* context, const char* path, const char* openPath, uint64_t size) {
  ScanRun* run = static_cast<ScanRun*>(context);
  // The detector needs EntryCodeSize bytes at the entry point before any signature
  // is tested, so a shorter regular file is clean without being read. This also
  // keeps kernel pseudo-files that report a size of 0 (some block when read) out
  // of the detector.
  if (size < static_cast<uint64_t>(EntryCodeSize)) {
    FileExplanation why;
    why.notRead = true;
    why.size = size;
    ReportClean(&run->report, path, run->options.explain ? &why : nullptr);
    return;
  }
  if (!run->options.explain) {
    // The plain road: the checks run without a trace.
    ScanStop stop = ScanStop::Checked;
    const Variant variant = IdentifyVariantStop(openPath, &stop);
    ReportJudgement(&run->report, path, variant, stop, nullptr);
    return;
  }
  ScanTrace trace;
  const Variant variant = IdentifyVariant(openPath, &trace);
  FileExplanation why;
  why.size = size;
  why.trace = &trace;
  ReportJudgement(&run->report, path, variant, trace.stop, &why);
}

void ReportWalkError(void* context, const char* path, const char* reason) {
  ReportError(&static_cast<ScanRun*>(context)->report, path, reason);
}

void CountSkipped(void* context, const char* /*path*/) {
  ReportSkipped(&static_cast<ScanRun*>(context)->report);
}

}  // namespace

int main(int argc, char** argv) {
  ScanRun run;
  int firstPath = 0;
  switch (ParseScanArguments(argc, argv, &run.options, &firstPath)) {
    case ParseResult::Help: return ExitNothingFound;
    case ParseResult::UsageError: return ExitError;
    case ParseResult::Run: break;
  }
  // --- a mounted Windows volume with its registry (windows_root/)
  if (run.options.windowsRoot.root != nullptr) return RunWindowsRootScan(run.options, argc - firstPath);
  // ---
  run.report.form = run.options.json ? OutputForm::Json : OutputForm::Text;
  run.report.listClean = run.options.listClean;
  run.report.showVariant = run.options.showVariant;
  StartReport(&run.report);
  const WalkVisitor visitor = {&run, JudgeFile, ReportWalkError, CountSkipped};
  for (int i = firstPath; i < argc; ++i) WalkOperand(argv[i], run.options.recursive, &visitor);
  ReportSummary(&run.report);
  return ExitStatusFor(run.report.counts);
}
