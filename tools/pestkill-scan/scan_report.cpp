#include "tools/pestkill-scan/scan_report.h"

#include <cstdio>

#include "tools/pestkill-scan/explanation.h"
#include "tools/pestkill-scan/json_text.h"
#include "tools/pestkill-scan/scan_options.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

const char DetectionName[] = "Trojan.Kestrelon.Gen";
constexpr auto ProgressInterval = std::chrono::milliseconds(250);

// Wipes the progress line before any other line goes to the terminal.
void ClearProgress(ScanReport* report) {
  if (report->progressWidth == 0) return;
  std::fprintf(stderr, "\r%*s\r", report->progressWidth, "");
  report->progressWidth = 0;
}

void ShowProgress(ScanReport* report) {
  if (!report->showProgress) return;
  auto now = std::chrono::steady_clock::now();
  if (now - report->lastProgress < ProgressInterval) return;
  report->lastProgress = now;
  std::fflush(stdout);
  int width = std::fprintf(stderr, "\rScanned %llu files, %llu infected, %llu errors",
                           static_cast<unsigned long long>(report->counts.files),
                           static_cast<unsigned long long>(report->counts.infected),
                           static_cast<unsigned long long>(report->counts.errors));
  report->progressWidth = width > 1 ? width - 1 : 0;
  std::fflush(stderr);
}

// One object on one line: path, verdict, variant, the error's reason when there is
// one, the explanation when one was asked for.
void PutJsonLine(const char* path, const char* verdict, char variantLetter, const char* error,
                 const FileExplanation* why) {
  std::fputs("{\"path\":", stdout);
  PutJsonString(stdout, path);
  std::printf(",\"verdict\":\"%s\",\"variant\":", verdict);
  if (variantLetter != 0) {
    std::printf("\"%c\"", variantLetter);
  } else {
    std::fputs("null", stdout);
  }
  if (error != nullptr) {
    std::fputs(",\"error\":", stdout);
    PutJsonString(stdout, error);
  }
  if (why != nullptr) {
    std::fputs(",\"explanation\":", stdout);
    PutExplanationJson(stdout, *why);
  }
  std::fputs("}\n", stdout);
}

}  // namespace

void StartReport(ScanReport* report) {
  report->showProgress = isatty(fileno(stderr)) != 0;
  report->started = std::chrono::steady_clock::now();
  report->lastProgress = report->started - ProgressInterval;  // the first file shows it
}

void ReportInfected(ScanReport* report, const char* path, char variantLetter, const FileExplanation* why) {
  ++report->counts.files;
  ++report->counts.infected;
  ClearProgress(report);
  if (report->form == OutputForm::Json) {
    PutJsonLine(path, "infected", variantLetter, nullptr, why);
  } else {
    if (report->showVariant || why != nullptr) {
      std::printf("%s: %s FOUND (variant %c)\n", path, DetectionName, variantLetter);
    } else {
      std::printf("%s: %s FOUND\n", path, DetectionName);
    }
    if (why != nullptr) PutExplanationText(stdout, *why);
  }
  std::fflush(stdout);
  ShowProgress(report);
}

void ReportClean(ScanReport* report, const char* path, const FileExplanation* why) {
  ++report->counts.files;
  if (report->form == OutputForm::Json) {
    ClearProgress(report);
    PutJsonLine(path, "clean", 0, nullptr, why);
  } else if (report->listClean || why != nullptr) {
    ClearProgress(report);
    std::printf("%s: OK\n", path);
    if (why != nullptr) PutExplanationText(stdout, *why);
  }
  ShowProgress(report);
}

void ReportError(ScanReport* report, const char* path, const char* reason, const FileExplanation* why) {
  ++report->counts.errors;
  ClearProgress(report);
  if (report->form == OutputForm::Json) {
    PutJsonLine(path, "error", 0, reason, why);
  } else if (why != nullptr) {
    std::printf("%s: ERROR %s\n", path, reason);
    PutExplanationText(stdout, *why);
  }
  std::fflush(stdout);
  std::fprintf(stderr, "%s: ERROR %s\n", path, reason);
  ShowProgress(report);
}

void ReportSkipped(ScanReport* report) { ++report->counts.skipped; }

void ReportSummary(ScanReport* report) {
  ClearProgress(report);
  std::fflush(stdout);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - report->started).count();
  const ScanCounts& counts = report->counts;
  std::fprintf(stderr,
               "\n----------- SCAN SUMMARY -----------\n"
               "Scanned files: %llu\n"
               "Infected files: %llu\n"
               "Errors: %llu\n"
               "Skipped (links, pipes, devices): %llu\n"
               "Time: %.3f sec\n",
               static_cast<unsigned long long>(counts.files),
               static_cast<unsigned long long>(counts.infected),
               static_cast<unsigned long long>(counts.errors),
               static_cast<unsigned long long>(counts.skipped), seconds);
}

int ExitStatusFor(const ScanCounts& counts) {
  if (counts.infected > 0) return ExitThreatFound;
  if (counts.errors > 0) return ExitError;
  return ExitNothingFound;
}
