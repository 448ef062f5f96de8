#include "detect/field_test.h"
#include "detect/signature_steps.h"
#include "image/vb_header_reader.h"

PathMarks CountPathMarks(const char* path, size_t size) {
  PathMarks marks = {0, 0};
  for (size_t i = 0; i < size && path[i] != 0; ++i) {
    if (path[i] == '\\') ++marks.backslashes;
    if (path[i] >= '0' && path[i] <= '9') ++marks.digits;
  }
  return marks;
}

int TestProjectPath(int fd, char* work, uint32_t minDigits, CheckTrace* trace) {
  if (!ReadVbProjectPath(fd, work, WorkBufferSize)) return FailStep(trace, "ReadVbProjectPath", "succeeds");
  const PathMarks marks = CountPathMarks(work, WorkBufferSize);
  if (marks.backslashes != 2) return FailValue(trace, "project path backslashes", marks.backslashes, "exactly 2");
  if (marks.digits < minDigits)
    return FailValue(trace, "project path digits", marks.digits, minDigits == 1 ? "at least 1" : "at least 2");
  return 1;
}
