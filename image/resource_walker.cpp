#include "image/resource_walker.h"

#include "image/pe_records.h"
#include "image/file_read.h"

namespace {

constexpr int MaxDepth = 50;
constexpr uint32_t DirectorySize = 16;  // IMAGE_RESOURCE_DIRECTORY
constexpr uint32_t EntrySize = 8;       // IMAGE_RESOURCE_DIRECTORY_ENTRY
constexpr uint32_t DataEntrySize = 16;  // IMAGE_RESOURCE_DATA_ENTRY
constexpr uint32_t HighBit = 0x80000000u;
constexpr uint32_t MaxNameUnits = 50;
constexpr uint32_t MaxNameBytes = 2 * MaxNameUnits;
// Entries are read in blocks: a directory's header and its first entries come in one
// read, so a walk costs a few reads per directory rather than one per entry.
constexpr uint32_t EntriesPerRead = 16;

// The directories between the root of this walk and the current one. A subdirectory
// pointer that leads back to one of them would repeat a walk already in progress
// (a hostile tree can make that Count^50 visits), so such a branch yields nothing.
// The depth limit keeps a walk started at depth 0 within 51 directories; a walk
// started at a negative depth stops entering directories once the path is full.
struct WalkPath {
  uint32_t directories[64];
  uint32_t length = 0;

  bool Contains(uint32_t offset) const {
    for (uint32_t i = 0; i < length; ++i)
      if (directories[i] == offset) return true;
    return false;
  }
};

// Every directory entered in this walk, with the filters it was entered under and the
// smallest depth. A directory entered before under the same filters, at the same or a
// smaller depth, has already yielded nothing (the walk ends at the first data entry),
// and in a tree without back references it would yield nothing again: skipping it
// keeps the result and turns the Count^50 visits of shared subdirectories, or the
// (n-1)! simple paths of n directories pointing at each other, into at most 51
// entries per directory. A walk that enters more distinct directories than the table
// holds yields nothing for the rest; real trees have a few hundred at most.
class EnteredDirectories {
 public:
  // False when the directory need not (or cannot) be entered at this depth.
  // level: directories above this one on the walk's path (0 to 63).
  bool Enter(uint32_t offset, uint8_t filters, uint8_t level) {
    uint32_t slot = Hash(offset, filters);
    for (uint32_t probe = 0; probe < Capacity; ++probe, slot = (slot + 1) % Capacity) {
      Entry& e = entries_[slot];
      if (!e.used) {
        e = Entry{offset, level, filters, true};
        return true;
      }
      if (e.offset == offset && e.filters == filters) {
        if (e.level <= level) return false;
        e.level = level;
        return true;
      }
    }
    return false;
  }

 private:
  static constexpr uint32_t Capacity = 4096;
  struct Entry {
    uint32_t offset;
    uint8_t level;
    uint8_t filters;
    bool used;
  };
  static uint32_t Hash(uint32_t offset, uint8_t filters) {
    return ((offset ^ (offset >> 13) ^ filters) * 2654435761u >> 20) % Capacity;
  }
  Entry entries_[Capacity] = {};
};

struct WalkContext {
  WalkPath path;
  EnteredDirectories entered;
};

struct NameFilter {
  const char* name;  // null: off
  uint16_t length;   // 0: off
  bool On() const { return name != nullptr && length != 0; }
};

struct Outputs {
  uint32_t* dataRva;
  uint32_t* dataSize;
};

int FindIn(int fd, NameFilter filter, uint32_t identifier, uint32_t directoryOffset,
           uint32_t resourceBase, Outputs out, int depth, WalkContext& walk);

// Offsets in the tree are relative to the resource base; a sum past 2 GiB is not a
// file offset, and the reads refuse it.
int ReadAt(int fd, uint32_t offset, void* buffer, uint32_t count) {
  return ReadExactAt(fd, AsFileOffset(offset), buffer, count);
}

// Compares the filter's bytes with the low bytes of the stored UTF-16 units, exactly
// and case-sensitively; the stored name must have the filter's length.
int NameMatches(int fd, NameFilter filter, uint32_t stringOffset) {
  uint8_t lengthBytes[2];
  if (!ReadAt(fd, stringOffset, lengthBytes, sizeof lengthBytes)) return 0;
  uint16_t storedUnits = LoadU16Le(lengthBytes, 0);
  if (storedUnits != filter.length || storedUnits > MaxNameUnits) return 0;
  uint8_t units[MaxNameBytes];
  uint32_t byteCount = 2u * storedUnits;
  if (!ReadAt(fd, stringOffset + 2, units, byteCount)) return 0;
  for (uint32_t i = 0; i < storedUnits; ++i)
    if (static_cast<uint8_t>(filter.name[i]) != units[2 * i]) return 0;
  return 1;
}

int MatchIn(int fd, NameFilter filter, uint32_t identifier, const uint8_t* entry,
            uint32_t resourceBase, Outputs out, int depth, WalkContext& walk) {
  uint32_t name = LoadU32Le(entry, 0);
  uint32_t offsetToData = LoadU32Le(entry, 4);

  if ((name & HighBit) != 0 && filter.On()) {
    if (!NameMatches(fd, filter, resourceBase + (name & ~HighBit))) return 0;
    // Below a matching named entry every entry counts: the first data entry wins.
    if ((offsetToData & HighBit) != 0)
      return FindIn(fd, NameFilter{nullptr, 0}, 0, resourceBase + (offsetToData & ~HighBit),
                    resourceBase, out, depth, walk);
  }

  // A named entry's Name has the high bit set and never equals an identifier.
  if (identifier != 0 && identifier != name) return 0;

  // The identifier filter holds only at the level where it is met.
  if ((offsetToData & HighBit) != 0)
    return FindIn(fd, filter, 0, resourceBase + (offsetToData & ~HighBit), resourceBase, out,
                  depth, walk);

  uint8_t dataEntry[DataEntrySize];
  if (!ReadAt(fd, resourceBase + offsetToData, dataEntry, DataEntrySize)) return 0;
  *out.dataRva = LoadU32Le(dataEntry, 0);
  *out.dataSize = LoadU32Le(dataEntry, 4);
  return 1;
}

int FindIn(int fd, NameFilter filter, uint32_t identifier, uint32_t directoryOffset,
           uint32_t resourceBase, Outputs out, int depth, WalkContext& walk) {
  if (depth > MaxDepth) return 0;
  WalkPath& path = walk.path;
  if (path.Contains(directoryOffset)) return 0;
  if (path.length == sizeof path.directories / sizeof path.directories[0]) return 0;
  uint8_t filters = static_cast<uint8_t>((filter.On() ? 1 : 0) | (identifier != 0 ? 2 : 0));
  // The level grows with the depth, one per directory, and fits in a byte.
  uint8_t level = static_cast<uint8_t>(path.length);
  if (!walk.entered.Enter(directoryOffset, filters, level)) return 0;
  uint8_t block[DirectorySize + EntrySize * EntriesPerRead];
  uint32_t got = ReadUpTo(fd, AsFileOffset(directoryOffset), block, sizeof block);
  if (got < DirectorySize) return 0;
  uint32_t count = uint32_t{LoadU16Le(block, 12)} + LoadU16Le(block, 14);
  const uint8_t* entries = block + DirectorySize;
  uint32_t available = (got - DirectorySize) / EntrySize;  // whole entries in the block

  path.directories[path.length++] = directoryOffset;
  int found = 0;
  for (uint32_t i = 0; i < count && !found; ++i) {
    uint32_t slot = i % EntriesPerRead;
    if (slot == 0 && i != 0) {
      uint32_t remaining = count - i < EntriesPerRead ? count - i : EntriesPerRead;
      entries = block;
      available = ReadUpTo(fd, AsFileOffset(directoryOffset + DirectorySize + EntrySize * i), block,
                           EntrySize * remaining) / EntrySize;
    }
    // An entry cut off by the end of the file yields nothing, and so do all after it.
    if (slot >= available) break;
    found = MatchIn(fd, filter, identifier, entries + EntrySize * slot, resourceBase, out,
                    depth + 1, walk);
  }
  --path.length;
  return found;
}

}  // namespace

int FindResourceEntry(int fd, const char* name, uint32_t nameLength, uint32_t identifier,
                      uint32_t directoryOffset, uint32_t resourceBase, uint32_t* dataRva,
                      uint32_t* dataSize, int depth) {
  if (dataRva == nullptr || dataSize == nullptr) return 0;
  WalkContext walk;
  return FindIn(fd, NameFilter{name, static_cast<uint16_t>(nameLength)}, identifier & 0xFFFFu,
                directoryOffset, resourceBase, Outputs{dataRva, dataSize}, depth, walk);
}

int MatchResourceEntry(int fd, const char* name, uint32_t nameLength, uint32_t identifier,
                       uint32_t entryOffset, uint32_t resourceBase, uint32_t* dataRva,
                       uint32_t* dataSize, int depth) {
  if (dataRva == nullptr || dataSize == nullptr) return 0;
  uint8_t entry[EntrySize];
  if (!ReadAt(fd, entryOffset, entry, EntrySize)) return 0;
  WalkContext walk;
  return MatchIn(fd, NameFilter{name, static_cast<uint16_t>(nameLength)}, identifier & 0xFFFFu,
                 entry, resourceBase, Outputs{dataRva, dataSize}, depth, walk);
}
