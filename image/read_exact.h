// The one bounded read of the checks: a seek from the start of the file that must
// land exactly, then a read that must deliver exactly the requested count.
#pragma once

#include <cstdint>

// 1 when _lseek(fd, offset, SEEK_SET) returned offset and _read returned count.
int ReadExactAt(int fd, int32_t offset, void* buffer, uint32_t count);
