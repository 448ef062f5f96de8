// The scanner that users run does not link the disk image library: with its
// container libraries (and theirs, network and crypto libraries among them) it
// makes every start of the program several times slower, a scan of one file
// included. A scan of disk images is handed to the program beside it that links
// the library, the same scanner built with it: the process becomes that program
// (same arguments, same process, so its exit status and signals are the scan's).
// It is looked for only where this program's own installation puts it, never on
// the search path.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/pestkill-scan/sources/disk_image/disk_image_scan.h"
#include "tools/pestkill-scan/report/exit_status.h"

namespace {

constexpr char ProgramName[] = "pestkill-scan-disk-image";

// The folder this program's file lies in, or "" when the kernel does not say.
std::string OwnFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  path[length] = '\0';
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? "" : std::string(path, static_cast<size_t>(slash - path));
}

}  // namespace

int RunDiskImageScan(const ScanSettings& /*settings*/, const DiskImageRequest& /*request*/, char** argv) {
  const std::string folder = OwnFolder();
  if (folder.empty()) {
    std::fprintf(stderr, "pestkill-scan: --image: cannot find this program's own folder (/proc/self/exe): %s\n",
                 std::strerror(errno));
    return ExitError;
  }
  // Beside this program in a build tree; below the installation's program folder
  // once installed.
  const std::string places[] = {folder + "/" + ProgramName,
                                folder + "/" PESTKILL_DISK_IMAGE_PROGRAM_FOLDER "/" + ProgramName};
  int lastError = ENOENT;
  for (const std::string& place : places) {
    (void)std::fflush(nullptr);
    execv(place.c_str(), argv);
    if (errno != ENOENT) lastError = errno;
  }
  std::fprintf(stderr, "pestkill-scan: --image needs %s, which is not installed beside this program (in %s or %s): %s\n",
               ProgramName, places[0].c_str(), places[1].c_str(), std::strerror(lastError));
  return ExitError;
}
