#include "tools/pestkill-scan/sources/mounted_volume/windows_root_options.h"

#include <cstring>
#include <vector>

namespace {

const char Usage[] =
    "\n"
    "A Windows system volume mounted read-only or read-write (its C:):\n"
    "      --windows-root DIR  scan DIR as -r does, and also read its registry hives\n"
    "                   (Windows/System32/config/SOFTWARE and DEFAULT, each user's\n"
    "                   NTUSER.DAT under Users/ and Documents and Settings/) to find a\n"
    "                   file named Winlogon outside the system directory that a Run\n"
    "                   value starts. Each detection lists what --clean would change.\n"
    "                   Nothing is written. No PATH is given with it.\n"
    "      --clean      with --windows-root and --quarantine: carry out that clean-up\n"
    "      --quarantine QDIR  where --clean moves each detected file and copies each\n"
    "                   hive before changing it, with a line per item in\n"
    "                   QDIR/manifest.jsonl; QDIR must not lie on the volume\n"
    "A hive whose base block sequence numbers differ was not closed cleanly: a\n"
    "WARNING line names it (its transaction logs are not read) and --clean does not\n"
    "write it. A hive that is missing or cannot be read gives an ERROR line and the\n"
    "scan goes on. The walk, the escaping of names (hive paths, key and value\n"
    "names too; a key path reads HKLM\\SOFTWARE\\...), --exclude, -x, -a, -0, the\n"
    "summary and the exit status are those of a scan of PATHs, but the files are\n"
    "judged one at a time (-j has no effect); a scan cut short changes nothing.\n"
    "With --json each hive gives {\"hive\":PATH,[\"hive_bytes\":B64,]\n"
    "\"key\":ROOT,\"state\":"
    "\"read\"|\"missing\"|\"unreadable\",[\"error\":TEXT,]\"dirty\":BOOL,\n"
    "[\"sequence\":[N,N]]}, each detection adds \"rule\":\"signature\"|\"winlogon\n"
    "impostor\" and \"changes\":[...], and each step of --clean gives {\"cleaned\":\n"
    "CHANGE,\"result\":\"done\"|\"failed\",\"detail\":TEXT}. --explain is not available\n"
    "with --windows-root, which needs a Linux build that links libhivex.\n";

// The value of "--name VALUE" or "--name=VALUE" at argv[*at]; *at moves past it.
// Null when argv[*at] is not this option; *missing when it is, without a value.
const char* OptionValue(const char* name, int argc, char** argv, int* at, bool* missing) {
  const char* argument = argv[*at];
  size_t length = std::strlen(name);
  if (std::strncmp(argument, name, length) != 0) return nullptr;
  if (argument[length] == '=') return argument + length + 1;
  if (argument[length] != 0) return nullptr;
  if (*at + 1 >= argc || std::strcmp(argv[*at + 1], "--") == 0) {
    *missing = true;
    return nullptr;
  }
  ++*at;
  return argv[*at];
}

bool Reject(const char* what, const char* option) {
  std::fprintf(stderr, "pestkill-scan: %s %s\n", option, what);
  return false;
}

}  // namespace

void PrintWindowsRootUsage(FILE* stream) { std::fputs(Usage, stream); }

bool TakeWindowsRootOptions(int argc, char** argv, WindowsRootOptions* options, int* consumed) {
  std::vector<char*> taken;
  std::vector<char*> others;
  int at = 1;
  for (; at < argc && std::strcmp(argv[at], "--") != 0; ++at) {
    const int first = at;
    bool missing = false;
    const char* value = nullptr;
    if ((value = OptionValue("--windows-root", argc, argv, &at, &missing)) != nullptr || missing) {
      if (missing || *value == 0) return Reject("needs a directory", "--windows-root");
      if (options->root != nullptr) return Reject("is given twice", "--windows-root");
      options->root = value;
    } else if ((value = OptionValue("--quarantine", argc, argv, &at, &missing)) != nullptr || missing) {
      if (missing || *value == 0) return Reject("needs a directory", "--quarantine");
      if (options->quarantine != nullptr) return Reject("is given twice", "--quarantine");
      options->quarantine = value;
    } else if (std::strcmp(argv[at], "--clean") == 0) {
      options->clean = true;
    } else {
      others.push_back(argv[at]);
      continue;
    }
    for (int i = first; i <= at; ++i) taken.push_back(argv[i]);
  }
  if (options->clean && options->quarantine == nullptr)
    return Reject("needs --quarantine QDIR: removed files are kept there", "--clean");
  if (options->quarantine != nullptr && !options->clean)
    return Reject("is only used with --clean", "--quarantine");
  if (options->clean && options->root == nullptr) return Reject("needs --windows-root DIR", "--clean");
  int to = 1;
  for (char* argument : taken) argv[to++] = argument;
  for (char* argument : others) argv[to++] = argument;
  *consumed = static_cast<int>(taken.size());
  return true;
}
