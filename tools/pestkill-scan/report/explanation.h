// Why the offline scanner judged a file as it did, in the words of the detector's
// own trace: for each of the four variants "matches", the first test that failed
// (field, value found, value or range required) or "not run"; or where the
// judgement stopped before the checks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct ScanTrace;

struct FileExplanation {
  // The file is shorter than the entry code the checks need and was not read
  // (trace is null then); size is its length.
  bool notRead = false;
  uint64_t size = 0;
  const ScanTrace* trace = nullptr;
};

enum class ScanStop;  // detect/check_trace.h

// Where the detector stopped before the signatures, in words ("the entry point has
// no file offset"); empty for ScanStop::Checked.
const char* StopReason(ScanStop stop);

// Why a file was not checked (the judgement stopped before the signatures), in
// words: the file's size for one too short to be read, otherwise where the
// detector stopped. Empty when the checks ran.
std::string NotCheckedReason(const FileExplanation& why);

// The indented lines under a file's result line, each ending in a newline.
void PutExplanationText(FILE* out, const FileExplanation& why);

// The value of the "explanation" member of a --json line: one JSON object.
void PutExplanationJson(FILE* out, const FileExplanation& why);
