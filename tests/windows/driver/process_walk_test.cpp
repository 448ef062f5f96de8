// The walk over the live processes, seen through the seam it hands each process to.
// The processes are Wine's real ones in the test's throwaway prefix, plus a helper
// started by the test.
#include <windows.h>

#include <psapi.h>
#include <string.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/toolhelp_api.h"
#include "tests/windows/driver/test_process.h"

namespace {

struct DetectCall {
  std::string path;
  std::wstring widePath;  // empty when the walk gave none
  int32_t kindOnEntry;
};
struct RemoveCall {
  std::string path;
  std::wstring widePath;
  uint32_t processId;
  int32_t kind;
};

// What the walk handed over, and how the recorders answer.
struct Recording {
  std::vector<DetectCall> detects;
  std::vector<RemoveCall> removes;
  int restarts = 0;
  bool judgeEveryFileInfected = false;
  std::string infectedPath;  // judged infected when equal (ignoring case)
  int32_t verdict = 2;
};
Recording recording;

// Writes a junk kind when it says "clean", so a walk that does not reset the kind
// before every query shows up at the next call.
constexpr int32_t JunkKind = 77;

bool RecordDetect(const char* path, const wchar_t* widePath, int32_t* kind) {
  recording.detects.push_back({path, widePath != nullptr ? widePath : L"", *kind});
  const bool infected = recording.judgeEveryFileInfected ||
                        (!recording.infectedPath.empty() && _stricmp(path, recording.infectedPath.c_str()) == 0);
  *kind = infected ? recording.verdict : JunkKind;
  return infected;
}

bool RecordRemove(const char* path, const wchar_t* widePath, uint32_t processId, int32_t kind) {
  recording.removes.push_back({path, widePath != nullptr ? widePath : L"", processId, kind});
  return true;
}

bool RecordRestart() {
  ++recording.restarts;
  return true;
}

const ScanSeam RecordingSeam = {RecordDetect, RecordRemove, RecordRestart};

// Image paths of the live processes by id, read through the process status API
// rather than Toolhelp, so the walk is compared with an independent listing.
std::map<DWORD, std::string> ListProcessImages() {
  std::map<DWORD, std::string> images;
  DWORD ids[1024];
  DWORD bytes = 0;
  if (!EnumProcesses(ids, sizeof(ids), &bytes)) return images;
  for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
    if (process == nullptr) continue;
    char path[MAX_PATH] = {};
    if (GetModuleFileNameExA(process, nullptr, path, sizeof(path)) > 0) images[ids[i]] = path;
    CloseHandle(process);
  }
  return images;
}

bool WalkSawPath(const std::string& path) {
  for (const DetectCall& call : recording.detects) {
    if (_stricmp(call.path.c_str(), path.c_str()) == 0) return true;
  }
  return false;
}

class ProcessWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    recording = Recording();
    ASSERT_TRUE(toolhelp.LoadToolhelpApi());
  }
  void TearDown() override { (void)toolhelp.UnloadToolhelpApi(); }

  ToolhelpApi toolhelp;
};

TEST_F(ProcessWalk, HandsEveryLiveProcessImageToTheDetection) {
  drivertest::SleeperProcess sleeper;
  ASSERT_TRUE(sleeper.Ready());
  const std::map<DWORD, std::string> before = ListProcessImages();

  EXPECT_EQ(toolhelp.ScanProcesses(RecordingSeam), NoThreatFound);

  const std::map<DWORD, std::string> after = ListProcessImages();
  EXPECT_TRUE(WalkSawPath(sleeper.Path())) << sleeper.Path();
  char ownPath[MAX_PATH] = {};
  (void)GetModuleFileNameA(nullptr, ownPath, sizeof(ownPath));
  EXPECT_TRUE(WalkSawPath(ownPath)) << ownPath;
  // Every process that lived through the whole walk was examined.
  int steady = 0;
  for (const auto& [id, path] : before) {
    const auto still = after.find(id);
    if (still == after.end() || still->second != path) continue;
    ++steady;
    EXPECT_TRUE(WalkSawPath(path)) << "process " << id << ": " << path;
  }
  EXPECT_GE(steady, 2);  // at least this test and the sleeper
  EXPECT_TRUE(recording.removes.empty());
  EXPECT_EQ(recording.restarts, 0);
}

TEST_F(ProcessWalk, PutsKindZeroInBeforeEveryQuery) {
  // This test and the sleeper: two processes at least, whatever else Wine runs.
  drivertest::SleeperProcess sleeper;
  ASSERT_TRUE(sleeper.Ready());
  EXPECT_EQ(toolhelp.ScanProcesses(RecordingSeam), NoThreatFound);
  ASSERT_GE(recording.detects.size(), 2u);
  for (size_t i = 0; i < recording.detects.size(); ++i) {
    EXPECT_EQ(recording.detects[i].kindOnEntry, 0) << "query " << i << ": " << recording.detects[i].path;
  }
}

TEST_F(ProcessWalk, StopsAtTheFirstInfectedProcessAndRemovesItById) {
  drivertest::SleeperProcess sleeper;
  ASSERT_TRUE(sleeper.Ready());
  recording.infectedPath = sleeper.Path();
  recording.verdict = 2;
  drivertest::StdinFeed answer("n\n");
  ASSERT_TRUE(answer.Ok());

  EXPECT_EQ(toolhelp.ScanProcesses(RecordingSeam), ThreatHandled);

  ASSERT_FALSE(recording.detects.empty());
  // The infected process was the last one examined.
  EXPECT_EQ(_stricmp(recording.detects.back().path.c_str(), sleeper.Path().c_str()), 0)
      << recording.detects.back().path;
  ASSERT_EQ(recording.removes.size(), 1u);
  EXPECT_EQ(recording.removes[0].processId, sleeper.Id());
  EXPECT_EQ(recording.removes[0].path, recording.detects.back().path);
  EXPECT_EQ(recording.removes[0].kind, 2);
  EXPECT_EQ(recording.restarts, 0);
  // The walk only hands over; the process is left to the remediation.
  EXPECT_TRUE(sleeper.Running());
}

TEST_F(ProcessWalk, SecondInfectedProcessIsNotExamined) {
  recording.judgeEveryFileInfected = true;
  recording.verdict = 1;
  drivertest::StdinFeed answer("n");
  ASSERT_TRUE(answer.Ok());

  EXPECT_EQ(toolhelp.ScanProcesses(RecordingSeam), ThreatHandled);

  EXPECT_EQ(recording.detects.size(), 1u);
  ASSERT_EQ(recording.removes.size(), 1u);
  EXPECT_EQ(recording.removes[0].path, recording.detects[0].path);
  EXPECT_EQ(recording.removes[0].kind, 1);
}

// Every snapshot the walk takes, through a wrapper put in place of the entry point.
CreateToolhelp32SnapshotFn realCreateSnapshot = nullptr;
std::vector<HANDLE> snapshots;

HANDLE WINAPI RecordSnapshot(DWORD flags, DWORD processId) {
  const HANDLE snapshot = realCreateSnapshot(flags, processId);
  if (snapshot != INVALID_HANDLE_VALUE) snapshots.push_back(snapshot);
  return snapshot;
}

bool HandleIsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != 0;
}

// Both snapshots are closed on every road out of the walk: the end of the list, and
// the stop at an infected process.
TEST_F(ProcessWalk, LeavesNoSnapshotOpen) {
  drivertest::SleeperProcess sleeper;
  ASSERT_TRUE(sleeper.Ready());
  drivertest::StdinFeed answer("n\n");
  ASSERT_TRUE(answer.Ok());
  realCreateSnapshot = toolhelp.createToolhelp32Snapshot;
  toolhelp.createToolhelp32Snapshot = RecordSnapshot;

  for (const bool stopAtSleeper : {false, true}) {
    SCOPED_TRACE(stopAtSleeper ? "stop at an infected process" : "end of the list");
    snapshots.clear();
    recording.infectedPath = stopAtSleeper ? sleeper.Path() : std::string();
    EXPECT_EQ(toolhelp.ScanProcesses(RecordingSeam), stopAtSleeper ? ThreatHandled : NoThreatFound);
    ASSERT_GE(snapshots.size(), 3u);  // the process list and two module lists at least
    for (size_t i = 0; i < snapshots.size(); ++i) {
      EXPECT_FALSE(HandleIsOpen(snapshots[i])) << "snapshot " << i;
    }
  }
  toolhelp.createToolhelp32Snapshot = realCreateSnapshot;
}

struct AnswerCase {
  const char* name;
  const char* input;
  int restarts;
};

void PrintTo(const AnswerCase& row, std::ostream* out) { *out << row.name; }

class RestartAnswer : public ProcessWalk, public ::testing::WithParamInterface<AnswerCase> {};

// Only the first character of the answer counts; end of input means no.
TEST_P(RestartAnswer, RestartsOnlyOnYes) {
  const AnswerCase& row = GetParam();
  recording.judgeEveryFileInfected = true;
  drivertest::StdinFeed answer(row.input);
  ASSERT_TRUE(answer.Ok());

  drivertest::StdoutCapture output;
  const ScanOutcome outcome = toolhelp.ScanProcesses(RecordingSeam);
  const std::string printed = output.Finish();

  EXPECT_EQ(outcome, ThreatHandled);
  EXPECT_EQ(recording.restarts, row.restarts);
  EXPECT_EQ(recording.removes.size(), 1u);
  // The seam's detection prints nothing; what is left is the walk's own dialogue.
  EXPECT_EQ(printed,
            "For proper cleanup system restart is required.\n"
            "\nDo you want to restart your computer now? (y/n) : ");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RestartAnswer,
    ::testing::Values(AnswerCase{"LowerY", "y\n", 1}, AnswerCase{"UpperY", "Y\n", 1},
                      AnswerCase{"Yes", "yes\n", 1}, AnswerCase{"No", "n\n", 0},
                      AnswerCase{"UpperN", "N\n", 0}, AnswerCase{"EmptyLine", "\n", 0},
                      AnswerCase{"BlankThenY", " y\n", 0}, AnswerCase{"EndOfInput", "", 0}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

}  // namespace

// A path whose folder the code page cannot spell comes with the module's wide path,
// which names the file; a path it can spell comes alone, as always.
TEST_F(ProcessWalk, GivesTheWidePathOnlyWhereTheCodePageCannotSpellTheFile) {
  struct Case {
    const char* name;
    std::wstring path;
    bool wide;
    bool questionMarks;  // in the 8-bit path; otherwise look-alike letters, or none
  } cases[] = {
      {"Cyrillic folder", L"C:\\pk-walk-\u041F\u0440\u043E\u0433\u0430\\Tool.exe", true, true},
      {"Japanese folder", L"C:\\pk-walk-\u30C7\u30FC\u30BF\\Tool.exe", true, true},
      // The code page has no barred L nor z with acute; the module list puts L and z.
      {"Polish folder", L"C:\\pk-walk-\u0141\u00F3d\u017A\\Tool.exe", true, false},
      {"Latin-1 folder", L"C:\\pk-walk-Caf\u00E9\\Tool.exe", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(drivertest::CopySleeperTo(c.path));
    {
      drivertest::SleeperProcess sleeper(c.path);
      ASSERT_TRUE(sleeper.Ready());
      recording = Recording();
      recording.infectedPath = sleeper.Path();
      drivertest::StdinFeed answer("n\n");
      ASSERT_TRUE(answer.Ok());

      EXPECT_EQ(toolhelp.ScanProcesses(RecordingSeam), ThreatHandled);

      ASSERT_FALSE(recording.detects.empty());
      const DetectCall& last = recording.detects.back();
      EXPECT_EQ(_stricmp(last.path.c_str(), sleeper.Path().c_str()), 0) << last.path;
      EXPECT_EQ(c.questionMarks, last.path.find('?') != std::string::npos) << last.path;
      EXPECT_EQ(c.wide ? c.path : std::wstring(), last.widePath);
      ASSERT_EQ(recording.removes.size(), 1u);
      EXPECT_EQ(recording.removes[0].path, last.path);
      EXPECT_EQ(recording.removes[0].widePath, last.widePath);
      // No other process comes with a wide path: the test prefix runs from spelt paths.
      for (size_t i = 0; i + 1 < recording.detects.size(); ++i)
        EXPECT_EQ(std::wstring(), recording.detects[i].widePath) << recording.detects[i].path;
    }
    (void)DeleteFileW(c.path.c_str());
    (void)RemoveDirectoryW(c.path.substr(0, c.path.find_last_of(L'\\')).c_str());
  }
}
