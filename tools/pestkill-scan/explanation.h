// Why the offline scanner judged a file as it did, in the words of the detector's
// own trace: for each of the four variants "matches", the first test that failed
// (field, value found, value or range required) or "not run"; or where the
// judgement stopped before the checks.
#pragma once

#include <cstdint>
#include <cstdio>

struct ScanTrace;

struct FileExplanation {
  // The file is shorter than the entry code the checks need and was not read
  // (trace is null then); size is its length.
  bool notRead = false;
  uint64_t size = 0;
  const ScanTrace* trace = nullptr;
};

// The indented lines under a file's result line, each ending in a newline.
void PutExplanationText(FILE* out, const FileExplanation& why);

// The value of the "explanation" member of a --json line: one JSON object.
void PutExplanationJson(FILE* out, const FileExplanation& why);
