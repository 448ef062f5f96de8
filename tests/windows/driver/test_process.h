// Helpers for the process-walk tests: a helper process started from the test's own
// directory, standard output caught in a file, standard input fed from bytes.
#pragma once

#include <windows.h>

#include <string>

#include "tests/support/temp_file.h"

namespace drivertest {

// The directory of the running test program, ending in a backslash.
std::string ProgramDirectory();

// The sleeper program built next to the test.
std::string SleeperPath();

// The sleeper program (or a copy of it elsewhere), started on construction and ended
// (and waited for) on destruction.
class SleeperProcess {
 public:
  explicit SleeperProcess(const std::string& path = SleeperPath());
  // Started from a path in wide characters, which the code page may not spell;
  // Path() is then the path as the code page spells it.
  explicit SleeperProcess(const std::wstring& path);
  ~SleeperProcess();
  SleeperProcess(const SleeperProcess&) = delete;
  SleeperProcess& operator=(const SleeperProcess&) = delete;

  // True once the process runs and its module list names its executable.
  bool Ready() const { return ready_; }
  DWORD Id() const { return info_.dwProcessId; }
  HANDLE Handle() const { return info_.hProcess; }
  bool Running() const;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  PROCESS_INFORMATION info_ = {};
  bool ready_ = false;
};

// The path as the ANSI code page spells it, with question marks for what it cannot.
std::string AnsiSpelling(const std::wstring& path);

// A copy of the sleeper at a path in wide characters (its folder made if missing).
bool CopySleeperTo(const std::wstring& path);

// Everything written to standard output between construction and Finish().
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  // Puts standard output back and returns what was written, untranslated.
  std::string Finish();

 private:
  std::string path_;
  int saved_ = -1;
  bool finished_ = false;
};

// Standard input reads the given bytes (binary, no CR LF translation) until the
// object goes away; an empty text is an immediate end of input.
class StdinFeed {
 public:
  explicit StdinFeed(const std::string& text);
  ~StdinFeed();
  StdinFeed(const StdinFeed&) = delete;
  StdinFeed& operator=(const StdinFeed&) = delete;
  bool Ok() const { return ok_; }

 private:
  testpe::TempFile file_;
  bool ok_ = false;
};

}  // namespace drivertest
