// One registry hive file read through libhivex, opened read-only: its keys by path,
// its values with their raw data, and the state of its base block.
#pragma once

#include <hivex.h>

#include <cstdint>
#include <string>
#include <vector>

// The base block's two sequence numbers (offsets 4 and 8). A writer raises the
// first before it changes the hive and the second when it is done; when they differ
// the hive was not closed cleanly and its newest changes may exist only in its
// .LOG1/.LOG2 transaction logs, which libhivex does not apply.
struct BaseBlockState {
  bool read = false;  // the file starts with "regf" and holds both numbers
  uint32_t sequence1 = 0;
  uint32_t sequence2 = 0;
  bool Dirty() const { return read && sequence1 != sequence2; }
};
BaseBlockState ReadBaseBlockState(const std::string& path);
// The same from the hive's first length bytes, already read.
BaseBlockState BaseBlockStateOf(const unsigned char* head, size_t length);

struct HiveValue {
  std::string name;  // UTF-8, as libhivex gives it; "" is the key's default value
  hive_type type = hive_t_none;
  std::vector<uint8_t> data;
};

class HiveFile {
 public:
  HiveFile() = default;
  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;
  ~HiveFile();

  // flags 0 opens read-only (the file is never written); HIVEX_OPEN_WRITE keeps a
  // copy in memory that Commit writes elsewhere. On failure *error says why.
  bool Open(const std::string& path, int flags, std::string* error);
  hive_h* handle() const { return handle_; }

  // The key at path (components separated by '\', matched ignoring case) below the
  // root; 0 when it does not exist. *error is set when the hive could not be read.
  hive_node_h FindKey(const std::string& path, std::string* error) const;
  bool ReadValues(hive_node_h key, std::vector<HiveValue>* values, std::string* error) const;
  bool ReadSubkeys(hive_node_h key, std::vector<std::pair<std::string, hive_node_h>>* subkeys,
                   std::string* error) const;

 private:
  hive_h* handle_ = nullptr;
};

// The text of a REG_SZ or REG_EXPAND_SZ value up to its first NUL, as UTF-16 units.
std::u16string ValueText(const HiveValue& value);
