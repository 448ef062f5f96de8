// What the offline scanner prints: result lines (text or JSON, with or without
// explanations), error lines, progress on a terminal and the closing summary, with
// the counts behind the exit status. Every line is written out whole as soon as it
// is complete; a write that fails marks the report, and the scan stops.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "tools/pestkill-scan/report/name_text.h"

struct FileExplanation;  // tools/pestkill-scan/report/explanation.h

struct ScanCounts {
  uint64_t files = 0;       // regular files looked at: judged, or not checked
  uint64_t infected = 0;    // files that matched a signature
  uint64_t notChecked = 0;  // files the signatures could not be tested on
  uint64_t errors = 0;      // paths that could not be scanned
  uint64_t skipped = 0;     // entries passed over: links, pipes, devices, sockets, excluded, repeated
};

enum class OutputForm { Text, Json };

struct ScanReport {
  ScanCounts counts;
  OutputForm form = OutputForm::Text;
  bool listClean = false;     // text: a line for clean files, files not checked and entries passed over
  bool showVariant = false;   // text: name the variant (always with an explanation)
  bool nullEnded = false;     // text: raw names, lines ended by NUL
  bool showProgress = false;  // only when standard error is a terminal
  int progressWidth = 0;      // characters of the progress line now on screen
  bool outputFailed = false;  // a write to standard output failed; nothing more is written there
  // JSON members a source adds to each object it reports (a disk image's "image",
  // "partition", ...), each written as ,"name":value; empty for files of the tree.
  std::string entryMembers;
  std::chrono::steady_clock::time_point started;
  std::chrono::steady_clock::time_point lastProgress;
};

void StartReport(ScanReport* report);
// variantLetter is 'A' to 'D'. why is null unless an explanation was asked for;
// with one, every file gets its result line followed by the explanation.
void ReportInfected(ScanReport* report, const char* path, char variantLetter, const FileExplanation* why);
void ReportClean(ScanReport* report, const char* path, const FileExplanation* why);
// A regular file whose judgement stopped before the signatures were tested.
void ReportNotChecked(ScanReport* report, const char* path, const char* reason, const FileExplanation* why);
// A path that could not be scanned: a line on standard error in both forms and, in
// JSON, also an object with "verdict":"error" on standard output. why, when given,
// tells where the detector stopped.
void ReportError(ScanReport* report, const char* path, const char* reason, const FileExplanation* why = nullptr);
// An entry passed over, with the reason.
void ReportSkipped(ScanReport* report, const char* path, const char* reason);
// A message of the scanner itself on standard error ("pestkill-scan: ..."), with
// the name in it escaped.
void ReportProblem(ScanReport* report, const char* what, const char* name, const char* reason);
// stopSignal is the signal that interrupted the scan, or 0.
void ReportSummary(ScanReport* report, int stopSignal);

// The pieces of those lines, for the further lines of the mounted-volume scan,
// which follow the same rules. A record on standard output is written between
// BeginRecord (false: output has failed, write nothing) and EndRecord (pushes it
// out; a failed write stops the scan). A line on standard error begins with
// BeginErrorLine (it wipes the progress line).
extern const char DetectionName[];  // "Trojan.Kestrelon.Gen"
bool BeginRecord(ScanReport* report);
void EndRecord(ScanReport* report);
void BeginErrorLine(ScanReport* report);
// A text line on standard output as TextLine gives it (raw with -0), then its
// end: a newline, or NUL with -0. A line on standard error, always as TextLine
// gives it escaped, after the progress line is wiped.
void PutTextLine(const ScanReport& report, const TextLine& line);
void PutErrorLine(ScanReport* report, const TextLine& line);

// In this order: 128 + the signal when interrupted; 2 when standard output failed;
// 1 when something was found; 2 when an error occurred; otherwise 0.
int ExitStatusFor(const ScanReport& report, int stopSignal);
