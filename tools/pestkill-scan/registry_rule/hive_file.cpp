#include "tools/pestkill-scan/registry_rule/hive_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno != 0 ? errno : EINVAL);
}

uint32_t LoadU32Le(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

BaseBlockState BaseBlockStateOf(const unsigned char* head, size_t length) {
  BaseBlockState state;
  if (length >= 12 && std::memcmp(head, "regf", 4) == 0) {
    state.read = true;
    state.sequence1 = LoadU32Le(head + 4);
    state.sequence2 = LoadU32Le(head + 8);
  }
  return state;
}

BaseBlockState ReadBaseBlockState(const std::string& path) {
  BaseBlockState state;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return state;
  unsigned char head[12];
  if (pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head)) state = BaseBlockStateOf(head, sizeof head);
  (void)close(fd);
  return state;
}

HiveFile::~HiveFile() {
  if (handle_ != nullptr) (void)hivex_close(handle_);
}

bool HiveFile::Open(const std::string& path, int flags, std::string* error) {
  errno = 0;
  handle_ = hivex_open(path.c_str(), flags);
  if (handle_ == nullptr) {
    *error = ErrnoText("rejected by the hive library");
    return false;
  }
  return true;
}

hive_node_h HiveFile::FindKey(const std::string& path, std::string* error) const {
  hive_node_h node = hivex_root(handle_);
  if (node == 0) {
    *error = ErrnoText("no root key");
    return 0;
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    errno = 0;
    node = hivex_node_get_child(handle_, node, name.c_str());
    if (node == 0) {
      if (errno != 0) *error = ErrnoText(("cannot read key " + path).c_str());
      return 0;
    }
  }
  return node;
}

bool HiveFile::ReadValues(hive_node_h key, std::vector<HiveValue>* values, std::string* error) const {
  values->clear();
  errno = 0;
  hive_value_h* list = hivex_node_values(handle_, key);
  if (list == nullptr) {
    *error = ErrnoText("cannot read the values of a key");
    return false;
  }
  bool ok = true;
  for (size_t i = 0; list[i] != 0 && ok; ++i) {
    HiveValue value;
    errno = 0;
    char* name = hivex_value_key(handle_, list[i]);
    size_t length = 0;
    char* data = name == nullptr ? nullptr : hivex_value_value(handle_, list[i], &value.type, &length);
    if (name == nullptr || data == nullptr) {
      *error = ErrnoText("cannot read a value");
      ok = false;
    } else {
      value.name = name;
      value.data.assign(reinterpret_cast<unsigned char*>(data), reinterpret_cast<unsigned char*>(data) + length);
      values->push_back(std::move(value));
    }
    std::free(name);
    std::free(data);
  }
  std::free(list);
  return ok;
}

bool HiveFile::ReadSubkeys(hive_node_h key, std::vector<std::pair<std::string, hive_node_h>>* subkeys,
                           std::string* error) const {
  subkeys->clear();
  errno = 0;
  hive_node_h* list = hivex_node_children(handle_, key);
  if (list == nullptr) {
    *error = ErrnoText("cannot read the subkeys of a key");
    return false;
  }
  bool ok = true;
  for (size_t i = 0; list[i] != 0; ++i) {
    errno = 0;
    char* name = hivex_node_name(handle_, list[i]);
    if (name == nullptr) {
      *error = ErrnoText("cannot read a key name");
      ok = false;
      break;
    }
    subkeys->emplace_back(name, list[i]);
    std::free(name);
  }
  std::free(list);
  return ok;
}

std::u16string ValueText(const HiveValue& value) {
  std::u16string text;
  for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
    char16_t unit = static_cast<char16_t>(value.data[i] | value.data[i + 1] << 8);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}
