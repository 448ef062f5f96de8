#include "registry_scratch.h"

#include <utility>
#include <vector>

namespace {

#define CURRENT_VERSION "Software\\Microsoft\\Windows\\CurrentVersion\\"

// Keys this program made, removed again in reverse order when the tests end.
std::vector<std::pair<HKEY, std::string>>& MadeKeys() {
  static std::vector<std::pair<HKEY, std::string>> keys;
  return keys;
}

class RemoveMadeKeys : public ::testing::Environment {
 public:
  void TearDown() override {
    auto& keys = MadeKeys();
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
      (void)RegDeleteKeyA(it->first, it->second.c_str());  // fails, harmlessly, when not empty
    keys.clear();
  }
};

[[maybe_unused]] ::testing::Environment* const registered = ::testing::AddGlobalTestEnvironment(new RemoveMadeKeys);

HKEY OpenKey(const RegistryKey& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(key.root, key.path, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return nullptr;
  return handle;
}

// Creates the key and each missing key above it, remembering which ones were made.
HKEY CreateKey(HKEY root, const std::string& path) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &handle) == ERROR_SUCCESS) return handle;
  size_t separator = path.rfind('\\');
  if (separator != std::string::npos) {
    HKEY parent = CreateKey(root, path.substr(0, separator));
    if (parent == nullptr) return nullptr;
    (void)RegCloseKey(parent);
  }
  DWORD disposition = 0;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                      &disposition) != ERROR_SUCCESS)
    return nullptr;
  if (disposition == REG_CREATED_NEW_KEY) MadeKeys().emplace_back(root, path);
  return handle;
}

}  // namespace

const RegistryKey MachineRun = {HKEY_LOCAL_MACHINE, CURRENT_VERSION "Run", "HKLM Run"};
const RegistryKey UserRun = {HKEY_CURRENT_USER, CURRENT_VERSION "Run", "HKCU Run"};
const RegistryKey DefaultUserRun = {HKEY_USERS, ".DEFAULT\\" CURRENT_VERSION "Run",
                                    "HKU\\.DEFAULT Run"};
const RegistryKey MachineRunOnce = {HKEY_LOCAL_MACHINE, CURRENT_VERSION "RunOnce", "HKLM RunOnce"};
const RegistryKey MachineRunServices = {HKEY_LOCAL_MACHINE, CURRENT_VERSION "RunServices",
                                        "HKLM RunServices"};
const RegistryKey UserRunOnce = {HKEY_CURRENT_USER, CURRENT_VERSION "RunOnce", "HKCU RunOnce"};
const RegistryKey UserRunServices = {HKEY_CURRENT_USER, CURRENT_VERSION "RunServices",
                                     "HKCU RunServices"};
const RegistryKey DefaultUserRunOnce = {HKEY_USERS, ".DEFAULT\\" CURRENT_VERSION "RunOnce",
                                        "HKU\\.DEFAULT RunOnce"};
const RegistryKey ImageOptions = {
    HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    "Image File Execution Options"};

::testing::AssertionResult SetValue(const RegistryKey& key, const char* name, DWORD type,
                                    const void* data, DWORD size) {
  HKEY handle = CreateKey(key.root, key.path);
  if (handle == nullptr) return ::testing::AssertionFailure() << "cannot create " << key.label;
  LONG status = RegSetValueExA(handle, name, 0, type, static_cast<const BYTE*>(data), size);
  (void)RegCloseKey(handle);
  if (status != ERROR_SUCCESS)
    return ::testing::AssertionFailure() << "cannot set " << key.label << " \\ " << name
                                         << ": error " << status;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult SetString(const RegistryKey& key, const char* name,
                                     const std::string& text) {
  return SetValue(key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

::testing::AssertionResult SetNumber(const RegistryKey& key, const char* name, DWORD number) {
  return SetValue(key, name, REG_DWORD, &number, sizeof(number));
}

bool ValueExists(const RegistryKey& key, const char* name) {
  HKEY handle = OpenKey(key);
  if (handle == nullptr) return false;
  LONG status = RegQueryValueExA(handle, name, nullptr, nullptr, nullptr, nullptr);
  (void)RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

std::string ReadString(const RegistryKey& key, const char* name) {
  HKEY handle = OpenKey(key);
  if (handle == nullptr) return std::string();
  char data[4096] = {};
  DWORD size = sizeof(data) - 1;
  LONG status = RegQueryValueExA(handle, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
  (void)RegCloseKey(handle);
  return status == ERROR_SUCCESS ? std::string(data) : std::string();
}

void DeleteValue(const RegistryKey& key, const char* name) {
  HKEY handle = OpenKey(key);
  if (handle == nullptr) return;
  (void)RegDeleteValueA(handle, name);
  (void)RegCloseKey(handle);
}

void DeleteSubkey(const Subkey& subkey) {
  (void)RegDeleteKeyA(subkey.parent.root, subkey.path.c_str());
}

bool SubkeyExists(const Subkey& subkey) {
  HKEY handle = OpenKey(subkey.Key());
  if (handle == nullptr) return false;
  (void)RegCloseKey(handle);
  return true;
}

ScratchValue::ScratchValue(const RegistryKey& key, std::string name, const std::string& text)
    : key_(key), name_(std::move(name)) {
  EXPECT_TRUE(SetString(key_, name_.c_str(), text));
}

ScratchValue::ScratchValue(const RegistryKey& key, std::string name, DWORD type, const void* data,
                           DWORD size)
    : key_(key), name_(std::move(name)) {
  EXPECT_TRUE(SetValue(key_, name_.c_str(), type, data, size));
}

ScratchValue::~ScratchValue() { DeleteValue(key_, name_.c_str()); }

ScratchFile::ScratchFile(const std::string& directory, const std::string& fileName)
    : directory_(directory), path_(directory + "\\" + fileName) {
  madeDirectory_ = CreateDirectoryA(directory_.c_str(), nullptr) != 0;
  HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  created_ = file != INVALID_HANDLE_VALUE;
  if (created_) (void)CloseHandle(file);
  EXPECT_TRUE(created_) << "cannot create " << path_;
}

ScratchFile::~ScratchFile() {
  (void)DeleteFileA(path_.c_str());
  if (madeDirectory_) (void)RemoveDirectoryA(directory_.c_str());
}

std::string ShortPathOf(const std::string& path) {
  char shortPath[MAX_PATH] = {};
  DWORD length = GetShortPathNameA(path.c_str(), shortPath, sizeof(shortPath));
  if (length == 0 || length >= sizeof(shortPath)) return std::string();
  return shortPath;
}

std::string SystemDirectory() {
  char directory[MAX_PATH] = {};
  DWORD length = GetSystemDirectoryA(directory, sizeof(directory));
  if (length == 0 || length >= sizeof(directory)) return std::string();
  return directory;
}

std::string UpperCase(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}
