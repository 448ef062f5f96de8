// Every check run on its own over the records the file signature detector reads, so
// that tests can run one check on them (changed in memory where a case is about a
// record the detector hands in) or run all four and see every verdict.
#pragma once

#include <array>
#include <string>

#include "detect/check_trace.h"
#include "detect/shared_records.h"

// variant: 'A' to 'D'.
int RunCheck(char variant, int fd, const SharedRecords& records, CheckTrace* trace);

struct AllChecks {
  std::array<int, 4> verdicts{};       // A, B, C, D
  std::array<CheckTrace, 4> traces{};  // why each check stopped
  bool recordsRead = false;
};

AllChecks RunAllChecks(const std::string& path);

// "A", "BD", "" ...: the variants whose check matched.
std::string MatchedVariants(const AllChecks& checks);
