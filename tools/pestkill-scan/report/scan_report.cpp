#include "tools/pestkill-scan/report/scan_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/pestkill-scan/report/explanation.h"
#include "tools/pestkill-scan/report/json_text.h"
#include "tools/pestkill-scan/report/name_text.h"
#include "tools/pestkill-scan/report/exit_status.h"
#include "tools/pestkill-scan/report/stop_signal.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

const char DetectionName[] = "Trojan.Kestrelon.Gen";

namespace {

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
  int width = std::fprintf(stderr, "\rScanned %llu files, %llu infected, %llu errors",
                           static_cast<unsigned long long>(report->counts.files),
                           static_cast<unsigned long long>(report->counts.infected),
                           static_cast<unsigned long long>(report->counts.errors));
  report->progressWidth = width > 1 ? width - 1 : 0;
  std::fflush(stderr);
}

// A result line: "PATH: STATUS" or "PATH: STATUS (REASON)".
void PutResultLine(ScanReport* report, const char* path, const std::string& status, const char* reason) {
  TextLine line;
  line.Name(path).Words(": " + status);
  if (reason != nullptr) line.Words(" (").Words(reason).Words(")");
  PutTextLine(*report, line);
}

// One object on one line: path, verdict, variant, the reason or the error when
// there is one, the explanation when one was asked for.
void PutJsonLine(const ScanReport& report, const char* path, const char* verdict, char variantLetter, const char* reasonKey,
                 const char* reason, const FileExplanation* why) {
  std::fputc('{', stdout);
  PutJsonPathMembers(stdout, path);
  std::fputs(report.entryMembers.c_str(), stdout);
  std::printf(",\"verdict\":\"%s\",\"variant\":", verdict);
  if (variantLetter != 0) {
    std::printf("\"%c\"", variantLetter);
  } else {
    std::fputs("null", stdout);
  }
  if (reason != nullptr) {
    std::printf(",\"%s\":", reasonKey);
    PutJsonString(stdout, reason);
  }
  if (why != nullptr) {
    std::fputs(",\"explanation\":", stdout);
    PutExplanationJson(stdout, *why);
  }
  std::fputs("}\n", stdout);
}

void PutPathErrorLine(ScanReport* report, const char* path, const char* reason) {
  PutErrorLine(report, TextLine().Name(path).Words(": ERROR ").Words(reason));
}

}  // namespace

// Writing to standard output: nothing once a write has failed. EndRecord pushes
// the finished line (and its explanation) out at once and notices a failed write.
bool BeginRecord(ScanReport* report) {
  if (report->outputFailed) return false;
  ClearProgress(report);
  return true;
}

void EndRecord(ScanReport* report) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return;
  const int error = errno != 0 ? errno : EIO;
  report->outputFailed = true;
  std::fprintf(stderr, "pestkill-scan: cannot write to standard output: %s; the scan stops\n",
               std::strerror(error));
}

void BeginErrorLine(ScanReport* report) { ClearProgress(report); }

void PutTextLine(const ScanReport& report, const TextLine& line) {
  std::fputs(line.Text(report.nullEnded).c_str(), stdout);
  std::fputc(report.nullEnded ? '\0' : '\n', stdout);
}

void PutErrorLine(ScanReport* report, const TextLine& line) {
  ClearProgress(report);
  std::fputs(line.Text().c_str(), stderr);
  std::fputc('\n', stderr);
}

void StartReport(ScanReport* report) {
  report->showProgress = isatty(fileno(stderr)) != 0;
  report->started = std::chrono::steady_clock::now();
  report->lastProgress = report->started - ProgressInterval;  // the first file shows it
}

void ReportInfected(ScanReport* report, const char* path, char variantLetter, const FileExplanation* why) {
  ++report->counts.files;
  ++report->counts.infected;
  if (BeginRecord(report)) {
    if (report->form == OutputForm::Json) {
      PutJsonLine(*report, path, "infected", variantLetter, nullptr, nullptr, why);
    } else {
      char status[64];
      if (report->showVariant || why != nullptr) {
        (void)std::snprintf(status, sizeof status, "%s FOUND (variant %c)", DetectionName, variantLetter);
      } else {
        (void)std::snprintf(status, sizeof status, "%s FOUND", DetectionName);
      }
      PutResultLine(report, path, status, nullptr);
      if (why != nullptr) PutExplanationText(stdout, *why);
    }
    EndRecord(report);
  }
  ShowProgress(report);
}

void ReportClean(ScanReport* report, const char* path, const FileExplanation* why) {
  ++report->counts.files;
  const bool shown = report->form == OutputForm::Json || report->listClean || why != nullptr;
  if (shown && BeginRecord(report)) {
    if (report->form == OutputForm::Json) {
      PutJsonLine(*report, path, "clean", 0, nullptr, nullptr, why);
    } else {
      PutResultLine(report, path, "OK", nullptr);
      if (why != nullptr) PutExplanationText(stdout, *why);
    }
    EndRecord(report);
  }
  ShowProgress(report);
}

void ReportNotChecked(ScanReport* report, const char* path, const char* reason, const FileExplanation* why) {
  ++report->counts.files;
  ++report->counts.notChecked;
  const bool shown = report->form == OutputForm::Json || report->listClean || why != nullptr;
  if (shown && BeginRecord(report)) {
    if (report->form == OutputForm::Json) {
      PutJsonLine(*report, path, "not checked", 0, "reason", reason, why);
    } else {
      PutResultLine(report, path, "not checked", reason);
    }
    EndRecord(report);
  }
  ShowProgress(report);
}

void ReportError(ScanReport* report, const char* path, const char* reason, const FileExplanation* why) {
  ++report->counts.errors;
  const bool shown = report->form == OutputForm::Json || why != nullptr;
  if (shown && BeginRecord(report)) {
    if (report->form == OutputForm::Json) {
      PutJsonLine(*report, path, "error", 0, "error", reason, why);
    } else {
      PutResultLine(report, path, std::string("ERROR ") + reason, nullptr);
      PutExplanationText(stdout, *why);
    }
    EndRecord(report);
  }
  PutPathErrorLine(report, path, reason);
  ShowProgress(report);
}

void ReportSkipped(ScanReport* report, const char* path, const char* reason) {
  ++report->counts.skipped;
  const bool shown = report->form == OutputForm::Json || report->listClean;
  if (shown && BeginRecord(report)) {
    if (report->form == OutputForm::Json) {
      PutJsonLine(*report, path, "skipped", 0, "reason", reason, nullptr);
    } else {
      PutResultLine(report, path, "skipped", reason);
    }
    EndRecord(report);
  }
}

void ReportProblem(ScanReport* report, const char* what, const char* name, const char* reason) {
  ++report->counts.errors;
  const std::string words = std::string("pestkill-scan: ") + what + " '";
  PutErrorLine(report, TextLine().Words(words).Name(name).Words("': ").Words(reason));
}

void ReportSummary(ScanReport* report, int stopSignal) {
  ClearProgress(report);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - report->started).count();
  const ScanCounts& counts = report->counts;
  char buffer[16];
  const char* signalName = stopSignal != 0 ? StopSignalName(stopSignal, buffer) : nullptr;
  const int status = ExitStatusFor(*report, stopSignal);
  if (report->form == OutputForm::Json && BeginRecord(report)) {
    std::printf("{\"summary\":{\"files\":%llu,\"infected\":%llu,\"not_checked\":%llu,\"errors\":%llu,"
                "\"skipped\":%llu,\"seconds\":%.3f,\"interrupted\":%s",
                static_cast<unsigned long long>(counts.files), static_cast<unsigned long long>(counts.infected),
                static_cast<unsigned long long>(counts.notChecked),
                static_cast<unsigned long long>(counts.errors), static_cast<unsigned long long>(counts.skipped),
                seconds, signalName != nullptr ? "true" : "false");
    if (signalName != nullptr) std::printf(",\"signal\":\"%s\"", signalName);
    std::printf(",\"exit_status\":%d}}\n", status);
    EndRecord(report);
  }
  std::fprintf(stderr,
               "\n----------- SCAN SUMMARY -----------\n"
               "Scanned files: %llu\n"
               "Infected files: %llu\n"
               "Not checked: %llu\n"
               "Errors: %llu\n"
               "Skipped: %llu\n"
               "Time: %.3f sec\n",
               static_cast<unsigned long long>(counts.files),
               static_cast<unsigned long long>(counts.infected),
               static_cast<unsigned long long>(counts.notChecked),
               static_cast<unsigned long long>(counts.errors),
               static_cast<unsigned long long>(counts.skipped), seconds);
  if (signalName != nullptr) {
    std::fprintf(stderr, "Interrupted by %s: the counts cover the files scanned until then\n", signalName);
  }
  if (report->outputFailed) {
    std::fprintf(stderr, "Stopped: standard output could not be written; the report there is incomplete\n");
  }
  std::fflush(stderr);
}

int ExitStatusFor(const ScanReport& report, int stopSignal) {
  if (stopSignal != 0) return 128 + stopSignal;
  if (report.outputFailed) return ExitError;
  if (report.counts.infected > 0) return ExitThreatFound;
  if (report.counts.errors > 0) return ExitError;
  return ExitNothingFound;
}
