#include "tools/pestkill-scan/scan_options.h"

#include <algorithm>
#include <cstring>

namespace {

const char Usage[] =
    "Usage: pestkill-scan [-r|--recursive] [-a|--all] [--variant] [--explain] [--json]\n"
    "                     [--] PATH...\n"
    "\n"
    "Reads each PATH and reports the files that are Trojan.Kestrelon.Gen. Files are\n"
    "only read: nothing is written, moved or deleted.\n"
    "\n"
    "  -r, --recursive  scan directories and everything below them; symbolic\n"
    "                   links, pipes, devices and sockets found there are\n"
    "                   skipped and counted, never opened or followed\n"
    "  -a, --all        also print \"PATH: OK\" for every clean file\n"
    "      --variant    append \" (variant X)\" to each detection\n"
    "      --explain    say why each file did or did not match (see below); every\n"
    "                   file gets a block, the verdict is never changed by it\n"
    "      --json       one JSON object per file on standard output instead of text\n"
    "      --help       print this text and exit\n"
    "  --               end of options; every later argument is a PATH\n"
    "Options may also follow the paths.\n"
    "\n"
    "Output: one line per infected file on standard output,\n"
    "  PATH: Trojan.Kestrelon.Gen FOUND\n"
    "A PATH that cannot be scanned is reported on standard error as\n"
    "  PATH: ERROR <reason>\n"
    "and the scan goes on. This includes a missing path, an unreadable file, a\n"
    "directory given without -r, and a pipe, device or socket given by name (it is\n"
    "never opened). A symbolic link given by name is followed. A summary (files\n"
    "scanned, infected, errors, skipped, seconds) goes to standard error at the\n"
    "end; progress is shown there only when it is a terminal.\n"
    "\n"
    "With --explain, each file's line (PATH: ... FOUND (variant X), PATH: OK or\n"
    "PATH: ERROR ...) is followed by indented lines: for each variant A to D\n"
    "  variant X: matches\n"
    "  variant X: no match at FIELD: found VALUE, required VALUE-OR-RANGE\n"
    "  variant X: no match at STEP: required WHAT (a step that is not a value)\n"
    "  variant X: not run (variant Y matched)\n"
    "naming the first test of that variant that failed; or, when the judgement\n"
    "stopped before the checks, one line \"  not checked: REASON\" (the file is\n"
    "shorter than 1024 bytes, cannot be opened, its entry point has no file offset,\n"
    "fewer than 1024 bytes of entry code, or the last section header is unreadable).\n"
    "\n"
    "With --json, each file, and each PATH that cannot be scanned, gives one line\n"
    "on standard output:\n"
    "  {\"path\":\"...\",\"verdict\":\"infected\"|\"clean\"|\"error\",\"variant\":\"A\"|...|null}\n"
    "an error adds \"error\":REASON (the ERROR line still goes to standard error),\n"
    "and with --explain \"explanation\":{\"checked\":BOOL,\"stop\":KEY,[\"reason\":TEXT,]\n"
    "\"variants\":{\"A\":{\"result\":\"matches\"|\"not run\"|\"no match\",\"test\":LABEL,\n"
    "\"found\":\"0x...\"|null,\"required\":TEXT},...}}. Strings are escaped so that the\n"
    "output is always valid UTF-8 JSON: '\"' and '\\' get a backslash, control bytes\n"
    "become \\u00XX, well-formed UTF-8 is kept, and any other byte of a path (not\n"
    "UTF-8, such as a Latin-1 or code-page name) becomes \\u00XX of that byte.\n"
    "KEY is \"checked\", or where the judgement stopped: \"short file\", \"cannot open\",\n"
    "\"no entry offset\", \"short entry code\" or \"no last section\" (with a reason).\n"
    "\n"
    "Exit status:\n"
    "  0  nothing found\n"
    "  1  something found (whether or not errors occurred)\n"
    "  2  errors occurred and nothing was found, or the command line was wrong\n";

bool SetLongOption(const char* name, ScanOptions* options) {
  if (std::strcmp(name, "--recursive") == 0) {
    options->recursive = true;
  } else if (std::strcmp(name, "--all") == 0) {
    options->listClean = true;
  } else if (std::strcmp(name, "--variant") == 0) {
    options->showVariant = true;
  } else if (std::strcmp(name, "--explain") == 0) {
    options->explain = true;
  } else if (std::strcmp(name, "--json") == 0) {
    options->json = true;
  } else {
    return false;
  }
  return true;
}

// Short options may be grouped, as in "-ra".
bool SetShortOptions(const char* group, ScanOptions* options, char* unknown) {
  for (const char* p = group + 1; *p != 0; ++p) {
    if (*p == 'r') {
      options->recursive = true;
    } else if (*p == 'a') {
      options->listClean = true;
    } else {
      *unknown = *p;
      return false;
    }
  }
  return true;
}

// "-" alone names a file (standard input, for other tools), as does anything after "--".
bool IsOption(const char* argument) { return argument[0] == '-' && argument[1] != 0; }

ParseResult RejectUsage(const char* what, const char* argument) {
  std::fprintf(stderr, "pestkill-scan: %s '%s'\n", what, argument);
  PrintUsage(stderr);
  return ParseResult::UsageError;
}

}  // namespace

void PrintUsage(FILE* stream) {
  std::fputs(Usage, stream);
  PrintWindowsRootUsage(stream);  // mounted Windows volume (windows_root/)
}

ParseResult ParseScanArguments(int argc, char** argv, ScanOptions* options, int* firstPath) {
  // Options may come before or after the paths, up to "--"; the options are moved
  // in front of the paths (keeping both in their order) so the paths end up in one
  // run at the end of argv.
  // --- mounted Windows volume options (windows_root/): they and their values go first.
  int volumeArguments = 0;
  if (!TakeWindowsRootOptions(argc, argv, &options->windowsRoot, &volumeArguments)) {
    PrintUsage(stderr);
    return ParseResult::UsageError;
  }
  char** start = argv + 1 + volumeArguments;
  // ---
  char** end = argv + argc;
  char** doubleDash = std::find_if(start, end, [](const char* a) { return std::strcmp(a, "--") == 0; });
  char** paths = std::stable_partition(start, doubleDash, IsOption);
  for (char** at = start; at != paths; ++at) {
    const char* argument = *at;
    if (std::strcmp(argument, "--help") == 0) {
      PrintUsage(stdout);
      return ParseResult::Help;
    }
    if (argument[1] == '-') {
      if (!SetLongOption(argument, options)) return RejectUsage("unknown option", argument);
      continue;
    }
    char unknown[3] = {'-', 0, 0};
    if (!SetShortOptions(argument, options, &unknown[1])) return RejectUsage("unknown option", unknown);
  }
  if (doubleDash != end) {
    std::rotate(paths, doubleDash, doubleDash + 1);  // "--" now stands just before the paths
    ++paths;
  }
  if (paths == end && options->windowsRoot.root == nullptr) {
    std::fprintf(stderr, "pestkill-scan: no PATH given\n");
    PrintUsage(stderr);
    return ParseResult::UsageError;
  }
  *firstPath = static_cast<int>(paths - argv);
  return ParseResult::Run;
}
