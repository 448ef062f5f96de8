#include "tools/pestkill-scan/sources/disk_image/tsk_file_source.h"

#include <cstring>

namespace {

// As pread on a descriptor: the end of the data gives 0, not an error (the library
// refuses an offset at or past the end).
int64_t ReadAttributeAt(void* context, void* buffer, uint64_t count, int64_t offset) {
  AttributeReading* reading = static_cast<AttributeReading*>(context);
  const TSK_FS_ATTR* attribute = reading->attribute;
  if (offset < 0) return -1;
  if (offset >= attribute->size) return 0;
  const uint64_t left = static_cast<uint64_t>(attribute->size - offset);
  if (count > left) count = left;
  tsk_error_reset();
  const ssize_t got = tsk_fs_attr_read(attribute, offset, static_cast<char*>(buffer), count,
                                       TSK_FS_FILE_READ_FLAG_NONE);
  if (got < 0 && !reading->failed) {
    reading->failed = true;
    const char* detail = tsk_error_get();
    reading->failure = detail != nullptr && *detail != 0 ? detail : "read error";
  }
  tsk_error_reset();
  return got < 0 ? -1 : static_cast<int64_t>(got);
}

}  // namespace

ReadSource AttributeReadSource(AttributeReading* reading) {
  ReadSource source;
  source.context = reading;
  source.readAt = ReadAttributeAt;
  return source;
}

uint32_t StoredAttributeType(const TSK_FS_ATTR* attribute) {
  static_assert(sizeof attribute->type == sizeof(uint32_t), "the library stores an attribute's type in 32 bits");
  uint32_t type = 0;
  std::memcpy(&type, &attribute->type, sizeof type);
  return type;
}
