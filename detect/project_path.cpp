#include "detect/project_path.h"

PathMarks CountPathMarks(const char* path, size_t size) {
  PathMarks marks = {0, 0};
  for (size_t i = 0; i < size && path[i] != 0; ++i) {
    if (path[i] == '\\') ++marks.backslashes;
    if (path[i] >= '0' && path[i] <= '9') ++marks.digits;
  }
  return marks;
}
