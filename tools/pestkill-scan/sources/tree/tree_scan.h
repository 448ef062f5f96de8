// The scan of PATH operands and of the files a list names: each walked as -r and
// -x say, each regular file judged by the signatures and reported in walk order.
#pragma once

#include <vector>

#include "tools/pestkill-scan/judgement/scan_settings.h"
#include "tools/pestkill-scan/sources/tree/file_walk.h"

struct TreeRequest {
  WalkSettings walk;
  std::vector<const char*> paths;  // the operands, in the order given
  const char* fileList = nullptr;  // a file of further operands ("-" is standard input), or null
};

// Runs the scan and returns the exit status.
int RunTreeScan(const ScanSettings& settings, const TreeRequest& request);
