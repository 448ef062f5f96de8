#include "tools/pestkill-scan/sources/disk_image/entry_place.h"

#include <cstdio>
#include <cstdlib>

#include "tools/pestkill-scan/report/json_text.h"

std::string VolumeName(const VolumePlace& volume) {
  if (volume.partition < 0) return volume.image + "#volume";
  return volume.image + "#p" + std::to_string(volume.partition) + "@" + std::to_string(volume.startSector);
}

std::string EntryPath(const VolumePlace& volume, const std::string& inner, const char* stream) {
  std::string path = VolumeName(volume) + inner;
  if (stream != nullptr) path += std::string(":") + stream;
  return path;
}

namespace {

void PutVolumeMembers(FILE* out, const VolumePlace& volume) {
  std::fputc(',', out);
  PutJsonPathMembers(out, "image", volume.image.c_str());
  if (volume.partition < 0) {
    std::fputs(",\"partition\":null", out);
  } else {
    std::fprintf(out, ",\"partition\":{\"index\":%lld,\"start_sector\":%llu}",
                 static_cast<long long>(volume.partition), static_cast<unsigned long long>(volume.startSector));
  }
}

// Closing the stream may move its buffer: text and length are read after it.
std::string Finished(FILE* out, char** text, size_t* length) {
  std::fclose(out);
  std::string members(*text, *length);
  std::free(*text);
  return members;
}

}  // namespace

std::string VolumeMembers(const VolumePlace& volume) {
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  if (out == nullptr) return std::string();
  PutVolumeMembers(out, volume);
  std::fflush(out);
  return Finished(out, &text, &length);
}

std::string EntryMembers(const VolumePlace& volume, const std::string& inner, uint64_t inode, bool deleted,
                         const char* stream) {
  char* text = nullptr;
  size_t length = 0;
  FILE* out = open_memstream(&text, &length);
  if (out == nullptr) return std::string();
  PutVolumeMembers(out, volume);
  std::fputc(',', out);
  PutJsonPathMembers(out, "inner_path", inner.c_str());
  std::fprintf(out, ",\"inode\":%llu,\"deleted\":%s,\"stream\":", static_cast<unsigned long long>(inode),
               deleted ? "true" : "false");
  if (stream != nullptr) {
    PutJsonString(out, stream);
  } else {
    std::fputs("null", out);
  }
  std::fflush(out);
  return Finished(out, &text, &length);
}
