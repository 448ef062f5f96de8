#include "tests/windows/driver/test_process.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <tlhelp32.h>

#include <vector>

namespace drivertest {

std::string ProgramDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  std::string directory(path, length);
  return directory.substr(0, directory.find_last_of('\\') + 1);
}

namespace {

// A process just created may not have its module list yet; the walk would skip it.
bool WaitForModuleList(DWORD processId) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    if (modules != INVALID_HANDLE_VALUE) {
      MODULEENTRY32 module = {};
      module.dwSize = sizeof(module);
      const bool found = Module32First(modules, &module) != 0;
      CloseHandle(modules);
      if (found) return true;
    }
    Sleep(50);
  }
  return false;
}

}  // namespace

std::string SleeperPath() { return ProgramDirectory() + "driver_test_sleeper.exe"; }

SleeperProcess::SleeperProcess(const std::string& path) : path_(path) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  std::vector<char> commandLine(path_.begin(), path_.end());
  commandLine.push_back('\0');
  if (!CreateProcessA(path_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info_)) {
    info_ = {};
    return;
  }
  ready_ = WaitForModuleList(info_.dwProcessId);
}

SleeperProcess::SleeperProcess(const std::wstring& path) : path_(AnsiSpelling(path)) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  std::vector<wchar_t> commandLine(path.begin(), path.end());
  commandLine.push_back(L'\0');
  if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info_)) {
    info_ = {};
    return;
  }
  ready_ = WaitForModuleList(info_.dwProcessId);
}

std::string AnsiSpelling(const std::wstring& path) {
  char ansi[4 * MAX_PATH] = {};
  const int length = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, ansi, sizeof(ansi), nullptr, nullptr);
  return length > 0 ? std::string(ansi) : std::string();
}

bool CopySleeperTo(const std::wstring& path) {
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
  (void)CreateDirectoryW(folder.c_str(), nullptr);
  wchar_t sleeper[MAX_PATH] = {};
  if (MultiByteToWideChar(CP_ACP, 0, SleeperPath().c_str(), -1, sleeper, MAX_PATH) == 0) return false;
  return CopyFileW(sleeper, path.c_str(), FALSE) != 0;
}

SleeperProcess::~SleeperProcess() {
  if (info_.hProcess == nullptr) return;
  (void)TerminateProcess(info_.hProcess, 0);
  (void)WaitForSingleObject(info_.hProcess, 10 * 1000);
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

bool SleeperProcess::Running() const {
  return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

StdoutCapture::StdoutCapture() : path_(testpe::TempDirectory() + "driver_stdout_" + std::to_string(GetCurrentProcessId()) + ".txt") {
  (void)fflush(stdout);
  saved_ = _dup(1);
  const int file = _open(path_.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, 0600);
  if (file >= 0) {
    (void)_dup2(file, 1);
    (void)_close(file);
  }
}

StdoutCapture::~StdoutCapture() {
  (void)Finish();
  (void)DeleteFileA(path_.c_str());
}

std::string StdoutCapture::Finish() {
  if (finished_) return {};
  finished_ = true;
  (void)fflush(stdout);
  if (saved_ >= 0) {
    (void)_dup2(saved_, 1);
    (void)_close(saved_);
  }
  std::string text;
  FILE* file = fopen(path_.c_str(), "rb");
  if (file == nullptr) return text;
  int c;
  while ((c = fgetc(file)) != EOF) text.push_back(static_cast<char>(c));
  (void)fclose(file);
  return text;
}

StdinFeed::StdinFeed(const std::string& text) : file_(std::vector<uint8_t>(text.begin(), text.end())) {
  ok_ = freopen(file_.Path().c_str(), "rb", stdin) != nullptr;
}

StdinFeed::~StdinFeed() {
  // Let go of the file before it is deleted.
  (void)freopen("NUL", "rb", stdin);
}

}  // namespace drivertest
