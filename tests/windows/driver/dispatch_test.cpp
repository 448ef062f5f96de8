// The dispatch from an image path to the verdict, and from the verdict to the
// remediation, against real files, processes and registry values of the test
// prefix. The images come from the test image builder: one per signature variant.
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/dispatch.h"
#include "tests/support/temp_file.h"
#include "tests/support/variant_images.h"
#include "tests/windows/driver/test_process.h"

namespace {

const char RunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char ImageOptionsPath[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options";
const char DetectionLines[] = "Detected: Trojan.Kestrelon.Gen\n\n";
constexpr int32_t UntouchedKind = 55;

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

// True when the file is gone or its deletion waits for the next restart.
bool RemovedOrScheduled(const std::string& path) {
  if (!FileExists(path)) return true;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<char> data(64 * 1024);
  DWORD size = static_cast<DWORD>(data.size());
  const LONG read = RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(data.data()), &size);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS) return false;
  return Upper(std::string(data.data(), size)).find(Upper(path)) != std::string::npos;
}

// A value of a registry key for the length of a test.
class ScratchValue {
 public:
  ScratchValue(HKEY root, std::string keyPath, std::string name, const std::string& data)
      : root_(root), keyPath_(std::move(keyPath)), name_(std::move(name)) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root_, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      return;
    }
    created_ = RegSetValueExA(key, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  ~ScratchValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, keyPath_.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    (void)RegDeleteValueA(key, name_.c_str());
    RegCloseKey(key);
  }
  ScratchValue(const ScratchValue&) = delete;
  ScratchValue& operator=(const ScratchValue&) = delete;

  bool Created() const { return created_; }
  bool Exists() const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, keyPath_.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    const bool found = RegQueryValueExA(key, name_.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
  }

 private:
  HKEY root_;
  std::string keyPath_;
  std::string name_;
  bool created_ = false;
};

// A program entry under Image File Execution Options, removed again afterwards.
class ImageOptionsEntry {
 public:
  explicit ImageOptionsEntry(const std::string& program)
      : path_(std::string(ImageOptionsPath) + "\\" + program),
        debugger_(HKEY_LOCAL_MACHINE, path_, "Debugger", "C:\\windows\\system32\\notepad.exe"),
        other_(HKEY_LOCAL_MACHINE, path_, "GlobalFlag", "0x02000000") {}
  ~ImageOptionsEntry() { (void)RegDeleteKeyA(HKEY_LOCAL_MACHINE, path_.c_str()); }
  bool Created() const { return debugger_.Created() && other_.Created(); }
  const ScratchValue& Debugger() const { return debugger_; }
  const ScratchValue& Other() const { return other_; }

 private:
  std::string path_;
  ScratchValue debugger_;
  ScratchValue other_;
};

// A folder of the test's own under the temporary directory, emptied and removed at
// the end (files still held by a process are left to the restart).
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name) : path_(testpe::TempDirectory() + name + "\\") {
    (void)CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~ScratchFolder() {
    for (const std::string& file : files_) (void)DeleteFileA(file.c_str());
    (void)RemoveDirectoryA(path_.c_str());
  }
  // Path of a file in the folder; the file is deleted when the folder goes.
  std::string File(const std::string& name) {
    files_.push_back(path_ + name);
    return files_.back();
  }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

bool CopyOf(const std::string& from, const std::string& to) { return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0; }

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  return ok;
}

bool WaitForExit(HANDLE process) { return WaitForSingleObject(process, 10 * 1000) == WAIT_OBJECT_0; }

// ---- DetectThreat

TEST(DetectThreat, NullPathIsNotInfected) {
  int32_t kind = UntouchedKind;
  drivertest::StdoutCapture output;
  EXPECT_FALSE(DetectThreat(nullptr, &kind));
  EXPECT_EQ(output.Finish(), "");
  EXPECT_EQ(kind, UntouchedKind);
}

TEST(DetectThreat, CleanFilesPrintNothingAndLeaveTheKind) {
  ScratchFolder folder("pk_dispatch_clean");
  const std::string empty = folder.File("empty.exe");
  ASSERT_TRUE(WriteFileBytes(empty, {}));
  // A Winlogon outside the system directory that no Run value starts.
  const std::string unstarted = folder.File("winlogon.exe");
  ASSERT_TRUE(CopyOf(drivertest::SleeperPath(), unstarted));
  char ownPath[MAX_PATH] = {};
  (void)GetModuleFileNameA(nullptr, ownPath, sizeof(ownPath));
  const struct {
    const char* name;
    std::string path;
  } rows[] = {
      {"missing file", folder.File("missing.exe")},
      {"empty file", empty},
      {"this test program", ownPath},
      {"Winlogon no Run value starts", unstarted},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    int32_t kind = UntouchedKind;
    drivertest::StdoutCapture output;
    EXPECT_FALSE(DetectThreat(row.path.c_str(), &kind));
    EXPECT_EQ(output.Finish(), "");
    EXPECT_EQ(kind, UntouchedKind);
  }
}

TEST(DetectThreat, EachVariantImageIsASignatureMatch) {
  for (const char variant : {'A', 'B', 'C', 'D'}) {
    SCOPED_TRACE(std::string("variant ") + variant);
    const testpe::TempFile image = testpe::VariantImage(variant).Write();
    int32_t kind = 0;
    drivertest::StdoutCapture output;
    EXPECT_TRUE(DetectThreat(image.Path().c_str(), &kind));
    EXPECT_EQ(output.Finish(), "File: " + image.Path() + "\n" + DetectionLines);
    EXPECT_EQ(kind, SignatureMatch);
  }
}

TEST(DetectThreat, WinlogonStartedFromTheUserRunKeyIsAnImpostor) {
  ScratchFolder folder("pk_dispatch_impostor");
  // Mixed case: the printed path is the one passed in, not normalised.
  const std::string impostor = folder.File("WinLogon.exe");
  ASSERT_TRUE(CopyOf(drivertest::SleeperPath(), impostor));
  ScratchValue run(HKEY_CURRENT_USER, RunKeyPath, "pk_dispatch_impostor", "\"" + impostor + "\" -s");
  ASSERT_TRUE(run.Created());

  int32_t kind = 0;
  drivertest::StdoutCapture output;
  EXPECT_TRUE(DetectThreat(impostor.c_str(), &kind));
  EXPECT_EQ(output.Finish(), "File: " + impostor + "\n" + DetectionLines);
  EXPECT_EQ(kind, WinlogonImpostor);
  EXPECT_TRUE(run.Exists());  // detection changes nothing
}

TEST(DetectThreat, SignatureMatchWinsOverTheImpostorRule) {
  ScratchFolder folder("pk_dispatch_both");
  const std::string both = folder.File("winlogon.exe");
  ASSERT_TRUE(WriteFileBytes(both, testpe::VariantImage('A').Bytes()));
  ScratchValue run(HKEY_CURRENT_USER, RunKeyPath, "pk_dispatch_both", both);
  ASSERT_TRUE(run.Created());

  int32_t kind = 0;
  drivertest::StdoutCapture output;
  EXPECT_TRUE(DetectThreat(both.c_str(), &kind));
  EXPECT_EQ(output.Finish(), "File: " + both + "\n" + DetectionLines);
  EXPECT_EQ(kind, SignatureMatch);
}

// A caller that does not want the kind back: the verdict is still given and
// printed, and nothing is written through the null pointer.
TEST(DetectThreat, NullKindPointerIsNotWrittenThrough) {
  const testpe::TempFile image = testpe::VariantImage('A').Write();
  drivertest::StdoutCapture output;
  EXPECT_TRUE(DetectThreat(image.Path().c_str(), nullptr));
  EXPECT_EQ(output.Finish(), "File: " + image.Path() + "\n" + DetectionLines);
}

// ---- RemoveThreat

TEST(RemoveThreat, NullPathDoesNothing) {
  drivertest::SleeperProcess sleeper;
  ASSERT_TRUE(sleeper.Ready());
  for (const int32_t kind : {0, 1, 2}) {
    SCOPED_TRACE(kind);
    EXPECT_FALSE(RemoveThreat(nullptr, sleeper.Id(), kind));
  }
  EXPECT_TRUE(sleeper.Running());
}

// Everything a known kind would touch is set up; an unknown kind touches none of it.
TEST(RemoveThreat, UnknownKindsDoNothing) {
  ScratchFolder folder("pk_dispatch_unknown");
  const std::string impostor = folder.File("winlogon.exe");
  ASSERT_TRUE(CopyOf(drivertest::SleeperPath(), impostor));
  ScratchValue run(HKEY_CURRENT_USER, RunKeyPath, "pk_dispatch_unknown", impostor);
  ASSERT_TRUE(run.Created());
  ImageOptionsEntry entry("pk_dispatch_unknown.exe");
  ASSERT_TRUE(entry.Created());
  drivertest::SleeperProcess sleeper;
  ASSERT_TRUE(sleeper.Ready());

  for (const int32_t kind : {0, 3, -1, 0x102}) {
    SCOPED_TRACE(kind);
    drivertest::StdoutCapture output;
    EXPECT_FALSE(RemoveThreat(impostor.c_str(), sleeper.Id(), kind));
    EXPECT_EQ(output.Finish(), "");
    EXPECT_TRUE(FileExists(impostor));
    EXPECT_TRUE(run.Exists());
    EXPECT_TRUE(entry.Debugger().Exists());
    EXPECT_TRUE(sleeper.Running());
  }
}

TEST(RemoveThreat, SignatureMatchRemovesOnlyTheFile) {
  ScratchFolder folder("pk_dispatch_signature");
  const std::string infected = folder.File("infected.exe");
  ASSERT_TRUE(WriteFileBytes(infected, testpe::VariantImage('B').Bytes()));
  // Read-only and hidden do not stand in the way.
  ASSERT_TRUE(SetFileAttributesA(infected.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  ScratchValue run(HKEY_CURRENT_USER, RunKeyPath, "pk_dispatch_signature", infected);
  ASSERT_TRUE(run.Created());
  ImageOptionsEntry entry("pk_dispatch_signature.exe");
  ASSERT_TRUE(entry.Created());
  drivertest::SleeperProcess sleeper;
  ASSERT_TRUE(sleeper.Ready());

  drivertest::StdoutCapture output;
  EXPECT_TRUE(RemoveThreat(infected.c_str(), sleeper.Id(), SignatureMatch));
  EXPECT_EQ(output.Finish(), "");

  EXPECT_FALSE(FileExists(infected));
  EXPECT_TRUE(sleeper.Running());
  EXPECT_TRUE(run.Exists());
  EXPECT_TRUE(entry.Debugger().Exists());
}

TEST(RemoveThreat, ImpostorIsEndedRemovedAndUnhooked) {
  ScratchFolder folder("pk_dispatch_remove");
  const std::string impostor = folder.File("WinLogon.exe");
  ASSERT_TRUE(CopyOf(drivertest::SleeperPath(), impostor));
  // Mixed case in the Run value: it is matched against the upper-cased path.
  ScratchValue userRun(HKEY_CURRENT_USER, RunKeyPath, "pk_dispatch_remove", "\"" + impostor + "\" /s");
  ScratchValue machineRun(HKEY_LOCAL_MACHINE, RunKeyPath, "pk_dispatch_remove", impostor);
  ScratchValue unrelated(HKEY_CURRENT_USER, RunKeyPath, "pk_dispatch_unrelated", "C:\\windows\\system32\\notepad.exe");
  ASSERT_TRUE(userRun.Created() && machineRun.Created() && unrelated.Created());
  ImageOptionsEntry entry("pk_dispatch_remove.exe");
  ASSERT_TRUE(entry.Created());
  drivertest::SleeperProcess sleeper(impostor);
  ASSERT_TRUE(sleeper.Ready());

  drivertest::StdoutCapture output;
  EXPECT_TRUE(RemoveThreat(impostor.c_str(), sleeper.Id(), WinlogonImpostor));
  EXPECT_EQ(output.Finish(), "");

  EXPECT_TRUE(WaitForExit(sleeper.Handle()));
  EXPECT_TRUE(RemovedOrScheduled(impostor));
  EXPECT_FALSE(userRun.Exists());
  EXPECT_FALSE(machineRun.Exists());
  EXPECT_TRUE(unrelated.Exists());
  EXPECT_FALSE(entry.Debugger().Exists());
  EXPECT_TRUE(entry.Other().Exists());
}

// A process that cannot be ended (its id is gone) does not stop the other steps.
TEST(RemoveThreat, ImpostorStepsRunWhenTheProcessIsGone) {
  ScratchFolder folder("pk_dispatch_gone");
  const std::string impostor = folder.File("winlogon.exe");
  ASSERT_TRUE(CopyOf(drivertest::SleeperPath(), impostor));
  ScratchValue run(HKEY_CURRENT_USER, RunKeyPath, "pk_dispatch_gone", impostor);
  ASSERT_TRUE(run.Created());
  ImageOptionsEntry entry("pk_dispatch_gone.exe");
  ASSERT_TRUE(entry.Created());
  DWORD goneId = 0;
  {
    drivertest::SleeperProcess ended;
    ASSERT_TRUE(ended.Ready());
    goneId = ended.Id();
  }

  EXPECT_TRUE(RemoveThreat(impostor.c_str(), goneId, WinlogonImpostor));

  EXPECT_FALSE(FileExists(impostor));
  EXPECT_FALSE(run.Exists());
  EXPECT_FALSE(entry.Debugger().Exists());
}

// The module list never gives a path of 260 characters or more, but the call takes
// any string. Such a path is not cut to fit the upper-case buffer: the cut path
// would be another file's, and the Run value that starts that file would go.
TEST(RemoveThreat, OverlongImpostorPathLeavesRunValuesOfItsPrefixAlone) {
  const std::string longPath = "C:\\" + std::string(300, 'q') + "\\winlogon.exe";
  const std::string cut = Upper(longPath.substr(0, MAX_PATH - 1));
  ScratchValue run(HKEY_CURRENT_USER, RunKeyPath, "pk_dispatch_overlong", cut);
  ASSERT_TRUE(run.Created());

  EXPECT_TRUE(RemoveThreat(longPath.c_str(), 0, WinlogonImpostor));

  EXPECT_TRUE(run.Exists());
}

// ---- Paths the code page cannot spell

// A value written with the wide call, so that its data keep every character.
class WideRunValue {
 public:
  WideRunValue(HKEY root, const std::wstring& name, const std::wstring& data) : root_(root), name_(name) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root_, RunKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
      return;
    created_ = RegSetValueExW(key, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(key);
  }
  ~WideRunValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, RunKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    (void)RegDeleteValueW(key, name_.c_str());
    RegCloseKey(key);
  }
  WideRunValue(const WideRunValue&) = delete;
  WideRunValue& operator=(const WideRunValue&) = delete;
  bool Created() const { return created_; }
  bool Exists() const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root_, RunKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    const bool found = RegQueryValueExW(key, name_.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
  }

 private:
  HKEY root_;
  std::wstring name_;
  bool created_ = false;
};

// A folder whose name the code page cannot spell, with its files removed at the end.
class WideFolder {
 public:
  explicit WideFolder(const std::wstring& name) : path_(L"C:\\" + name + L"\\") {
    (void)CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~WideFolder() {
    for (const std::wstring& file : files_) {
      (void)SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      (void)DeleteFileW(file.c_str());
    }
    (void)RemoveDirectoryW(path_.c_str());
  }
  std::wstring File(const std::wstring& name) {
    files_.push_back(path_ + name);
    return files_.back();
  }

 private:
  std::wstring path_;
  std::vector<std::wstring> files_;
};

bool WideFileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WriteWideFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  return ok;
}

// True when the file is gone or its deletion, under its wide name, waits for the next restart.
bool WideRemovedOrScheduled(const std::wstring& path) {
  if (!WideFileExists(path)) return true;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE,
                    &key) != ERROR_SUCCESS) {
    return false;
  }
  std::wstring data(32 * 1024, L'\0');
  DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  const LONG read = RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(&data[0]), &size);
  RegCloseKey(key);
  return read == ERROR_SUCCESS && data.find(path) != std::wstring::npos;
}

const wchar_t CyrillicFolder[] = L"pk_dispatch_\u041F\u0440\u043E\u0433\u0430";   // Прога
const wchar_t ForeignFolder[] = L"pk_dispatch_\u0414\u0440\u0430\u043C\u0430";    // Драма, the same length

TEST(DetectThreat, VariantImageThroughItsWidePath) {
  WideFolder folder(CyrillicFolder);
  for (const char variant : {'A', 'B', 'C', 'D'}) {
    SCOPED_TRACE(std::string("variant ") + variant);
    const std::wstring image = folder.File(std::wstring(L"Tool-") + wchar_t(variant) + L".exe");
    ASSERT_TRUE(WriteWideFile(image, testpe::VariantImage(variant).Bytes()));
    const std::string listed = drivertest::AnsiSpelling(image);
    ASSERT_NE(std::string::npos, listed.find('?')) << listed;

    // The path with question marks names no file.
    int32_t kind = UntouchedKind;
    drivertest::StdoutCapture alone;
    EXPECT_FALSE(DetectThreat(listed.c_str(), nullptr, &kind));
    EXPECT_EQ(alone.Finish(), "");
    EXPECT_EQ(kind, UntouchedKind);

    // The wide path does; the console shows the path as the module list gave it.
    drivertest::StdoutCapture output;
    EXPECT_TRUE(DetectThreat(listed.c_str(), image.c_str(), &kind));
    EXPECT_EQ(output.Finish(), "File: " + listed + "\n" + DetectionLines);
    EXPECT_EQ(kind, SignatureMatch);
    // The descriptor was closed again: an open one would not share the deletion.
    EXPECT_TRUE(DeleteFileW(image.c_str()));
  }
}

// Another folder of the same length reads the same in the code page: its Run value
// does not make a Winlogon here an impostor, nor does a value that spells the path
// with the question marks themselves.
TEST(DetectThreat, ImpostorThroughItsWidePathOnly) {
  WideFolder folder(CyrillicFolder);
  const std::wstring impostor = folder.File(L"WinLogon.exe");
  ASSERT_TRUE(WriteWideFile(impostor, {}));
  const std::string listed = drivertest::AnsiSpelling(impostor);
  ASSERT_NE(std::string::npos, listed.find('?')) << listed;
  const std::wstring foreign = L"C:\\" + std::wstring(ForeignFolder) + L"\\WinLogon.exe";
  ASSERT_EQ(listed, drivertest::AnsiSpelling(foreign));
  WideRunValue foreignRun(HKEY_CURRENT_USER, L"pk_dispatch_foreign", L"\"" + foreign + L"\" -s");
  ScratchValue marks(HKEY_CURRENT_USER, RunKeyPath, "pk_dispatch_marks", listed);
  ASSERT_TRUE(foreignRun.Created() && marks.Created());

  for (const bool withWidePath : {false, true}) {
    SCOPED_TRACE(withWidePath ? "with the wide path" : "the code page's path alone");
    int32_t kind = UntouchedKind;
    drivertest::StdoutCapture output;
    EXPECT_FALSE(DetectThreat(listed.c_str(), withWidePath ? impostor.c_str() : nullptr, &kind));
    EXPECT_EQ(output.Finish(), "");
    EXPECT_EQ(kind, UntouchedKind);
  }

  WideRunValue ownRun(HKEY_LOCAL_MACHINE, L"pk_dispatch_own", impostor);
  ASSERT_TRUE(ownRun.Created());
  int32_t kind = 0;
  drivertest::StdoutCapture output;
  EXPECT_TRUE(DetectThreat(listed.c_str(), impostor.c_str(), &kind));
  EXPECT_EQ(output.Finish(), "File: " + listed + "\n" + DetectionLines);
  EXPECT_EQ(kind, WinlogonImpostor);
  EXPECT_TRUE(ownRun.Exists() && foreignRun.Exists() && marks.Exists());  // detection changes nothing
}

TEST(RemoveThreat, SignatureMatchRemovesTheFileThroughItsWidePath) {
  WideFolder folder(CyrillicFolder);
  const std::wstring infected = folder.File(L"\u30C4\u30FC\u30EB.exe");
  ASSERT_TRUE(WriteWideFile(infected, testpe::VariantImage('C').Bytes()));
  ASSERT_TRUE(SetFileAttributesW(infected.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  const std::string listed = drivertest::AnsiSpelling(infected);
  WideRunValue run(HKEY_CURRENT_USER, L"pk_dispatch_wide_signature", infected);
  ASSERT_TRUE(run.Created());

  drivertest::StdoutCapture output;
  EXPECT_TRUE(RemoveThreat(listed.c_str(), infected.c_str(), 0, SignatureMatch));
  EXPECT_EQ(output.Finish(), "");
  EXPECT_FALSE(WideFileExists(infected));
  EXPECT_TRUE(run.Exists());
}

TEST(RemoveThreat, ImpostorIsEndedRemovedAndUnhookedThroughItsWidePath) {
  WideFolder folder(CyrillicFolder);
  const std::wstring impostor = folder.File(L"WinLogon.exe");
  ASSERT_TRUE(drivertest::CopySleeperTo(impostor));
  const std::wstring foreign = L"C:\\" + std::wstring(ForeignFolder) + L"\\WinLogon.exe";
  WideRunValue userRun(HKEY_CURRENT_USER, L"pk_dispatch_wide_remove", L"\"" + impostor + L"\" /s");
  WideRunValue machineRun(HKEY_LOCAL_MACHINE, L"pk_dispatch_wide_remove", impostor);
  WideRunValue foreignRun(HKEY_CURRENT_USER, L"pk_dispatch_wide_foreign", foreign);
  WideRunValue twinRun(HKEY_LOCAL_MACHINE, L"pk_dispatch_wide_twin", L"C:\\pk_dispatch_Pr\u00E1ga\\WinLogon.exe");
  ASSERT_TRUE(userRun.Created() && machineRun.Created() && foreignRun.Created() && twinRun.Created());
  ImageOptionsEntry entry("pk_dispatch_wide_remove.exe");
  ASSERT_TRUE(entry.Created());
  drivertest::SleeperProcess sleeper(impostor);
  ASSERT_TRUE(sleeper.Ready());

  drivertest::StdoutCapture output;
  EXPECT_TRUE(RemoveThreat(sleeper.Path().c_str(), impostor.c_str(), sleeper.Id(), WinlogonImpostor));
  EXPECT_EQ(output.Finish(), "");

  EXPECT_TRUE(WaitForExit(sleeper.Handle()));
  EXPECT_TRUE(WideRemovedOrScheduled(impostor));
  EXPECT_FALSE(userRun.Exists());
  EXPECT_FALSE(machineRun.Exists());
  EXPECT_TRUE(foreignRun.Exists());
  EXPECT_TRUE(twinRun.Exists());
  EXPECT_FALSE(entry.Debugger().Exists());
  EXPECT_TRUE(entry.Other().Exists());
}

}  // namespace
