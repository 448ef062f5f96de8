#include "tools/pestkill-scan/sources/disk_image/ewf_segments.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstring>

namespace {

// The segment file header: the signature, a start byte, the segment number and
// two zero bytes; the first section descriptor follows it.
constexpr uint8_t Signature[8] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
constexpr size_t HeaderBytes = 13;
// A section descriptor: its type (16 bytes, zero-padded), the offset of the next
// descriptor in the file, its size, padding and a checksum.
constexpr size_t DescriptorBytes = 76;
// Far more sections than a segment holds (a few per table of chunks): a chain longer
// than this is damaged, and is not followed further.
constexpr int MostSections = 1 << 16;

uint64_t Little64(const uint8_t* at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

bool ReadWhole(int fd, void* buffer, size_t count, off_t offset) {
  return pread(fd, buffer, count, offset) == static_cast<ssize_t>(count);
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// The name the library looks for after segment number (.E01 -> .E02): a letter
// and two digits end the name. Empty past .E99, where the names go on in letters.
std::string NextSegmentName(const char* name, unsigned number) {
  const size_t length = std::strlen(name);
  const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  if (length < 3 || number >= 99 || !std::isalpha(static_cast<unsigned char>(name[length - 3])) ||
      !digit(name[length - 2]) || !digit(name[length - 1]))
    return std::string();
  std::string next(name);
  next[length - 2] = static_cast<char>('0' + (number + 1) / 10);
  next[length - 1] = static_cast<char>('0' + (number + 1) % 10);
  return next;
}

enum class Ending { Closed, MoreFollow, CutShort, Unknown };

// How the segment's chain of sections ends; each descriptor must lie after the
// one before it and inside the file.
Ending SegmentEnding(int fd, unsigned* number) {
  struct stat st;
  uint8_t header[HeaderBytes];
  if (fstat(fd, &st) != 0 || !ReadWhole(fd, header, sizeof header, 0) ||
      std::memcmp(header, Signature, sizeof Signature) != 0)
    return Ending::Unknown;
  *number = static_cast<unsigned>(header[9] | header[10] << 8);
  const uint64_t fileBytes = static_cast<uint64_t>(st.st_size);
  uint64_t offset = HeaderBytes;
  for (int sections = 0; sections < MostSections && offset + DescriptorBytes <= fileBytes; ++sections) {
    uint8_t descriptor[DescriptorBytes];
    if (!ReadWhole(fd, descriptor, sizeof descriptor, static_cast<off_t>(offset))) return Ending::CutShort;
    const char* type = reinterpret_cast<const char*>(descriptor);
    if (std::strncmp(type, "done", 16) == 0) return Ending::Closed;
    if (std::strncmp(type, "next", 16) == 0) return Ending::MoreFollow;
    const uint64_t next = Little64(descriptor + 16);
    if (next < offset + DescriptorBytes) return Ending::CutShort;
    offset = next;
  }
  return Ending::CutShort;
}

}  // namespace

std::string EwfSegmentGap(const char* const* segments, int count) {
  for (int i = 0; i < count; ++i) {
    const int fd = open(segments[i], O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;  // the library has it open: it was there a moment ago
    unsigned number = 0;
    const Ending ending = SegmentEnding(fd, &number);
    close(fd);
    const std::string name = BaseName(segments[i]);
    if (ending == Ending::CutShort)
      return "the EWF segment " + name + " is cut short or damaged: its sections stop before its last one";
    if (ending == Ending::MoreFollow && i == count - 1) {
      const std::string next = NextSegmentName(name.c_str(), number);
      return "segment " + std::to_string(number + 1) + " of the EWF image" + (next.empty() ? "" : " (" + next + ")") +
             " is missing: " + name + " (" + std::to_string(count) + (count == 1 ? " segment" : " segments") +
             " found) says more follow";
    }
  }
  return std::string();
}
