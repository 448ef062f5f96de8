#include "tests/unit/detect/all_checks.h"

#include "platform/crt_io.h"

int RunCheck(char variant, int fd, const SharedRecords& records, CheckTrace* trace) {
  return RunVariantCheck(static_cast<Variant>(variant - 'A' + 1), fd, records, trace);
}

AllChecks RunAllChecks(const std::string& path) {
  AllChecks result;
  const int fd = _open(path.c_str(), _O_BINARY);
  if (fd == -1) return result;
  SharedRecords records;
  result.recordsRead = ReadSharedRecords(fd, &records) == ScanStop::Checked;
  if (result.recordsRead)
    for (int i = 0; i < 4; ++i) result.verdicts[i] = RunCheck(static_cast<char>('A' + i), fd, records, &result.traces[i]);
  (void)_close(fd);
  return result;
}

std::string MatchedVariants(const AllChecks& checks) {
  std::string matched;
  for (int i = 0; i < 4; ++i)
    if (checks.verdicts[i]) matched += static_cast<char>('A' + i);
  return matched;
}
