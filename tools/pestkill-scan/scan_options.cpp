#include "tools/pestkill-scan/scan_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "detect/signature_tables.h"
#include "tools/pestkill-scan/sources/disk_image/disk_image_scan.h"
#include "tools/pestkill-scan/report/name_text.h"

#ifndef PESTKILL_VERSION
#define PESTKILL_VERSION "unknown"
#endif

namespace {

const char Usage[] =
    "Usage: pestkill-scan [OPTION]... [--] PATH...\n"
    "       pestkill-scan [OPTION]... --file-list FILE [PATH]...\n"
    "       pestkill-scan [OPTION]... --image IMAGE...\n"
    "\n"
    "Reads each PATH and reports the files that are Trojan.Kestrelon.Gen. Files are\n"
    "only read: nothing is written, moved or deleted.\n"
    "\n"
    "  -r, --recursive        scan directories and everything below them; symbolic\n"
    "                         links, pipes, devices and sockets found there are\n"
    "                         passed over, never opened or followed\n"
    "  -x, --one-file-system  with -r, do not enter a directory on another file\n"
    "                         system than its PATH (a mount point below it)\n"
    "      --exclude GLOB     pass over every file or directory whose name (GLOB\n"
    "                         without '/') or whole path (GLOB with '/') matches;\n"
    "                         '*', '?' and [...] match any bytes, '/' too; repeatable\n"
    "      --file-list FILE   also scan the paths listed in FILE, one per line, or\n"
    "                         NUL-separated with -0; '-' reads standard input\n"
    "  -j, --jobs N           judge N files at once (default: the number of\n"
    "                         processors); the output is the same for every N\n"
    "  -a, --all              also print a line for every clean file, file not\n"
    "                         checked and entry passed over\n"
    "      --variant          append \" (variant X)\" to each detection\n"
    "      --explain          say why each file did or did not match (see below)\n"
    "      --json             one JSON object per file on standard output\n"
    "  -0, --null             write names unescaped and end each line with NUL\n"
    "                         instead of a newline (not with --explain in text)\n"
    "      --version          print the version and the signatures, and exit\n"
    "      --help             print this text and exit\n"
    "  --                     end of options; every later argument is a PATH\n"
    "Options may also follow the paths.\n"
    "\n"
    "Output, one line per file on standard output (only the first without -a):\n"
    "  PATH: Trojan.Kestrelon.Gen FOUND\n"
    "  PATH: OK\n"
    "  PATH: not checked (REASON)   the signatures could not be tested: shorter than\n"
    "                               1024 bytes, entry point without a file offset,\n"
    "                               too little entry code, no last section header\n"
    "  PATH: skipped (REASON)       link, pipe, device, socket, excluded, another\n"
    "                               file system, or a file already judged under\n"
    "                               another name (each file is judged once per run)\n"
    "A PATH that cannot be scanned (missing, unreadable, a directory without -r or\n"
    "that cannot be read, a pipe or device given by name, never opened) is reported\n"
    "on standard error as\n"
    "  PATH: ERROR REASON\n"
    "and the scan goes on. A symbolic link given by name is followed. A summary goes\n"
    "to standard error at the end; progress is shown there only on a terminal.\n"
    "\n"
    "Names, as sha256sum writes them: a text line (standard output or standard\n"
    "error) that names a name holding a backslash or a control byte starts with a\n"
    "backslash, and in it a backslash is written as \\\\, a tab, newline or carriage\n"
    "return as \\t, \\n or \\r, and every other control byte (0x00-0x1F, 0x7F) as\n"
    "\\xHH; every other line is written as it is. So one line always names one file\n"
    "and a name cannot move the cursor. Undo the escapes of such a line to get the\n"
    "name's bytes back, or use -0 or --json.\n"
    "\n"
    "With --explain, each file's line is followed by indented lines: for each\n"
    "variant A to D\n"
    "  variant X: matches\n"
    "  variant X: no match at FIELD: found VALUE, required VALUE-OR-RANGE\n"
    "  variant X: no match at STEP: required WHAT (a step that is not a value)\n"
    "  variant X: not run (variant Y matched)\n"
    "naming the first test of that variant that failed (for a file not checked its\n"
    "line says why; for an error, \"  not checked: REASON\" follows).\n"
    "\n"
    "With --json, each file, entry passed over and PATH that cannot be scanned gives\n"
    "one line on standard output:\n"
    "  {\"path\":\"...\",[\"path_bytes\":\"...\",]\"verdict\":V,\"variant\":\"A\"|...|null,...}\n"
    "V is \"infected\", \"clean\", \"not checked\" or \"skipped\" (both with\n"
    "\"reason\":TEXT), or \"error\" (with \"error\":TEXT; the ERROR line still goes to\n"
    "standard error). Strings are valid UTF-8 JSON: '\"' and '\\' get a backslash,\n"
    "control bytes become \\u00XX, well-formed UTF-8 is kept, and any other byte\n"
    "becomes \\u00XX of that byte. A path that is not well-formed UTF-8 also carries\n"
    "\"path_bytes\": its exact bytes in base64, to open the file again. With\n"
    "--explain: \"explanation\":{\"checked\":BOOL,\"stop\":KEY,[\"reason\":TEXT,]\n"
    "\"variants\":{\"A\":{\"result\":\"matches\"|\"not run\"|\"no match\",\"test\":LABEL,\n"
    "\"found\":\"0x...\"|null,\"required\":TEXT},...}}, KEY \"checked\", \"short file\",\n"
    "\"cannot open\", \"no entry offset\", \"short entry code\" or \"no last section\".\n"
    "The last line is {\"summary\":{\"files\":N,\"infected\":N,\"not_checked\":N,\n"
    "\"errors\":N,\"skipped\":N,\"seconds\":S,\"interrupted\":BOOL,[\"signal\":NAME,]\n"
    "\"exit_status\":N}}.\n"
    "\n"
    "A failed write to standard output (full disk, closed pipe) stops the scan with\n"
    "a message on standard error. SIGINT or SIGTERM (Ctrl-C) stops it after the line\n"
    "being written, with the summary marked as interrupted (SIGQUIT, Ctrl-\\, ends it\n"
    "at once). Lines are written out as they come, so a pipe sees each at once.\n"
    "\n"
    "Exit status (the first that applies):\n"
    "  130  interrupted by SIGINT (143: SIGTERM)\n"
    "  2    the command line was wrong, or standard output could not be written\n"
    "  1    something found (whether or not errors occurred)\n"
    "  2    errors occurred and nothing was found\n"
    "  0    nothing found\n";

bool SetFlag(const char* name, ScanOptions* options) {
  struct Flag {
    const char* name;
    bool ScanOptions::*member;
  };
  static const Flag Flags[] = {
      {"--recursive", &ScanOptions::recursive},   {"--all", &ScanOptions::listClean},
      {"--variant", &ScanOptions::showVariant},   {"--explain", &ScanOptions::explain},
      {"--json", &ScanOptions::json},             {"--null", &ScanOptions::nullEnded},
      {"--one-file-system", &ScanOptions::oneFileSystem},
      {"--image", &ScanOptions::diskImages},  // disk images (sources/disk_image/)
  };
  for (const Flag& flag : Flags) {
    if (std::strcmp(name, flag.name) == 0) {
      options->*flag.member = true;
      return true;
    }
  }
  return false;
}

// Short options may be grouped, as in "-rax0".
bool SetShortOptions(const char* group, ScanOptions* options, char* unknown) {
  for (const char* p = group + 1; *p != 0; ++p) {
    switch (*p) {
      case 'r': options->recursive = true; break;
      case 'a': options->listClean = true; break;
      case 'x': options->oneFileSystem = true; break;
      case '0': options->nullEnded = true; break;
      default: *unknown = *p; return false;
    }
  }
  return true;
}

// "-" alone names a file (standard input, for other tools), as does anything after "--".
bool IsOption(const char* argument) { return argument[0] == '-' && argument[1] != 0; }

ParseResult RejectUsage(const char* what, const char* argument) {
  const std::string words = std::string("pestkill-scan: ") + what + " '";
  std::fprintf(stderr, "%s\n", TextLine().Words(words).Name(argument).Words("'").Text().c_str());
  PrintUsage(stderr);
  return ParseResult::UsageError;
}

// An option with a value, as "--name VALUE" or "--name=VALUE". Returns false when
// argument is not this option; *value is null when the value is missing.
bool TakeValue(const char* name, int argc, char** argv, int* at, const char** value) {
  const char* argument = argv[*at];
  const size_t length = std::strlen(name);
  if (std::strncmp(argument, name, length) != 0) return false;
  if (argument[length] == '=') {
    *value = argument + length + 1;
    return true;
  }
  if (argument[length] != 0) return false;
  *value = *at + 1 < argc ? argv[++*at] : nullptr;
  return true;
}

// A short option with a value, as "-j VALUE" or "-jVALUE".
bool TakeShortValue(char letter, int argc, char** argv, int* at, const char** value) {
  const char* argument = argv[*at];
  if (argument[0] != '-' || argument[1] != letter) return false;
  *value = argument[2] != 0 ? argument + 2 : *at + 1 < argc ? argv[++*at] : nullptr;
  return true;
}

constexpr long MaxJobs = 256;

// N of -j N: a whole number from 1 to MaxJobs.
bool ParseJobs(const char* text, int* jobs) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != 0 || value < 1 || value > MaxJobs) return false;
  *jobs = static_cast<int>(value);
  return true;
}

int ProcessorCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count == 0 ? 1 : count > MaxJobs ? static_cast<int>(MaxJobs) : static_cast<int>(count);
}

}  // namespace

void PrintUsage(FILE* stream) {
  std::fputs(Usage, stream);
  PrintWindowsRootUsage(stream);  // mounted Windows volume (sources/mounted_volume/)
  PrintDiskImageUsage(stream);    // disk images (sources/disk_image/)
}

void PrintVersion(FILE* stream) {
  std::fprintf(stream,
               "pestkill-scan " PESTKILL_VERSION "\n"
               "Signatures: Trojan.Kestrelon.Gen, the structural variants A, B, C and D\n"
               "(the same file signature detector as pestkill.exe; its Winlogon impostor\n"
               "rule needs a registry: the offline scan applies it with --windows-root)\n"
               "Signature set %s; the same signatures as YARA rules: kestrelon.yar\n",
               SignatureSetVersion());
}

ParseResult ParseScanArguments(int argc, char** argv, ScanOptions* options) {
  // --- mounted Windows volume options (sources/mounted_volume/): taken out first, with their
  // values, and moved in front of the others.
  int volumeArguments = 0;
  if (!TakeWindowsRootOptions(argc, argv, &options->windowsRoot, &volumeArguments)) {
    PrintUsage(stderr);
    return ParseResult::UsageError;
  }
  // ---
  bool optionsEnded = false;
  for (int at = 1 + volumeArguments; at < argc; ++at) {
    const char* argument = argv[at];
    if (optionsEnded || !IsOption(argument)) {
      options->paths.push_back(argument);
      continue;
    }
    if (std::strcmp(argument, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    if (std::strcmp(argument, "--help") == 0) {
      PrintUsage(stdout);
      return ParseResult::Help;
    }
    if (std::strcmp(argument, "--version") == 0) {
      PrintVersion(stdout);
      return ParseResult::Version;
    }
    const char* value = nullptr;
    if (TakeValue("--exclude", argc, argv, &at, &value)) {
      if (value == nullptr || value[0] == 0) return RejectUsage("missing GLOB after", argument);
      options->excludes.push_back(value);
      continue;
    }
    if (TakeValue("--file-list", argc, argv, &at, &value)) {
      if (value == nullptr || value[0] == 0) return RejectUsage("missing FILE after", argument);
      if (options->fileList != nullptr) return RejectUsage("only one file list, not also", value);
      options->fileList = value;
      continue;
    }
    if (TakeValue("--volume-time-limit", argc, argv, &at, &value)) {  // disk images (sources/disk_image/)
      char* end = nullptr;
      const long seconds = value != nullptr ? std::strtol(value, &end, 10) : 0;
      if (value == nullptr || end == value || *end != 0 || seconds < 1 || seconds > 86400 * 7)
        return RejectUsage("not a number of seconds from 1 to 604800", value != nullptr ? value : argument);
      options->volumeSeconds = static_cast<int>(seconds);
      continue;
    }
    if (TakeValue("--jobs", argc, argv, &at, &value) || TakeShortValue('j', argc, argv, &at, &value)) {
      if (value == nullptr) return RejectUsage("missing N after", argument);
      if (!ParseJobs(value, &options->jobs)) return RejectUsage("not a number of jobs from 1 to 256", value);
      continue;
    }
    if (argument[1] == '-') {
      if (!SetFlag(argument, options)) return RejectUsage("unknown option", argument);
      continue;
    }
    char unknown[3] = {'-', 0, 0};
    if (!SetShortOptions(argument, options, &unknown[1])) return RejectUsage("unknown option", unknown);
  }
  if (options->paths.empty() && options->fileList == nullptr && options->windowsRoot.root == nullptr) {
    std::fprintf(stderr, "pestkill-scan: no PATH given\n");
    PrintUsage(stderr);
    return ParseResult::UsageError;
  }
  if (options->nullEnded && options->explain && !options->json) {
    std::fprintf(stderr, "pestkill-scan: -0 cannot end the lines of --explain; use --json with it\n");
    PrintUsage(stderr);
    return ParseResult::UsageError;
  }
  if (options->jobs == 0) options->jobs = ProcessorCount();
  return ParseResult::Run;
}
