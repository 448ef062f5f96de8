// Scratch state in the test prefix's real registry and file system: values and keys
// made for one test and removed again, so that tests leave behind what they found.
#pragma once

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

// One key, as the tests name it themselves (not through the code under test).
struct RegistryKey {
  HKEY root;
  const char* path;
  const char* label;
};

extern const RegistryKey MachineRun;
extern const RegistryKey UserRun;
extern const RegistryKey DefaultUserRun;
extern const RegistryKey MachineRunOnce;
extern const RegistryKey MachineRunServices;
extern const RegistryKey UserRunOnce;
extern const RegistryKey UserRunServices;
extern const RegistryKey DefaultUserRunOnce;
extern const RegistryKey ImageOptions;

// Writes a value, creating its key when missing; a key made here is removed again at
// the end of the test program (when it is empty by then).
::testing::AssertionResult SetValue(const RegistryKey& key, const char* name, DWORD type,
                                    const void* data, DWORD size);
::testing::AssertionResult SetString(const RegistryKey& key, const char* name,
                                     const std::string& text);
::testing::AssertionResult SetNumber(const RegistryKey& key, const char* name, DWORD number);

bool ValueExists(const RegistryKey& key, const char* name);
// The value's data as text; empty when the value is missing.
std::string ReadString(const RegistryKey& key, const char* name);
void DeleteValue(const RegistryKey& key, const char* name);

// A subkey of a key, for the program entries under Image File Execution Options.
struct Subkey {
  const RegistryKey& parent;
  std::string name;
  std::string path;
  Subkey(const RegistryKey& parentKey, const std::string& subkeyName)
      : parent(parentKey), name(subkeyName), path(std::string(parentKey.path) + "\\" + subkeyName) {}
  RegistryKey Key() const { return {parent.root, path.c_str(), name.c_str()}; }
};
// Removes the subkey and its values (it has no subkeys of its own).
void DeleteSubkey(const Subkey& subkey);
bool SubkeyExists(const Subkey& subkey);

// A value that exists for the life of the object (unless the code under test deletes
// it first).
class ScratchValue {
 public:
  ScratchValue(const RegistryKey& key, std::string name, const std::string& text);
  ScratchValue(const RegistryKey& key, std::string name, DWORD type, const void* data, DWORD size);
  ~ScratchValue();
  ScratchValue(const ScratchValue&) = delete;
  ScratchValue& operator=(const ScratchValue&) = delete;
  const char* Name() const { return name_.c_str(); }
  bool Exists() const { return ValueExists(key_, name_.c_str()); }

 private:
  const RegistryKey& key_;
  std::string name_;
};

// An empty file (and its directory) that exists for the life of the object.
class ScratchFile {
 public:
  ScratchFile(const std::string& directory, const std::string& fileName);
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  const std::string& Path() const { return path_; }
  bool Created() const { return created_; }

 private:
  std::string directory_;
  std::string path_;
  bool madeDirectory_ = false;
  bool created_ = false;
};

// The short (8.3) form the system gives for a path; empty when it gives none.
std::string ShortPathOf(const std::string& path);
std::string SystemDirectory();
std::string UpperCase(std::string text);
