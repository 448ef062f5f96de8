// The least any header scanner must do per file: walk the same trees, open each
// regular file, read its first 4 KiB and close it. scripts/bench times this beside
// pestkill-scan -r to show how much of the scan is file access itself.
//   first_page_floor DIRECTORY...
// Prints the number of files read.
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t PathCapacity = 4096;
constexpr size_t FirstPage = 4096;

unsigned long filesRead = 0;

void ReadFirstPage(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char page[FirstPage];
  if (read(fd, page, sizeof page) >= 0) ++filesRead;
  (void)close(fd);
}

// path holds the directory; entries are appended in place and cut off again.
void Walk(char* path) {
  DIR* directory = opendir(path);
  if (directory == nullptr) return;
  const size_t length = std::strlen(path);
  while (struct dirent* entry = readdir(directory)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (length + 1 + std::strlen(name) + 1 > PathCapacity) continue;
    path[length] = '/';
    std::strcpy(path + length + 1, name);
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (lstat(path, &st) == 0) type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
    }
    if (type == DT_DIR) {
      Walk(path);
    } else if (type == DT_REG) {
      ReadFirstPage(path);
    }
    path[length] = 0;
  }
  (void)closedir(directory);
}

}  // namespace

int main(int argc, char** argv) {
  static char path[PathCapacity];
  for (int i = 1; i < argc; ++i) {
    if (std::strlen(argv[i]) >= sizeof path) continue;
    std::strcpy(path, argv[i]);
    Walk(path);
  }
  std::printf("%lu\n", filesRead);
  return 0;
}
