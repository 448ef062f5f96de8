// The tree walk on Linux when an entry changes between the directory's listing and
// its open: a regular file put back in place of itself is judged, while one
// replaced by a FIFO, a symbolic link (to a FIFO, to a readable file, dangling) or
// a directory is never read, and nothing blocks. The swap is done in the visitor's
// admit call, which comes after the listing and before the entry is opened.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/temp_file.h"
#include "tools/pestkill-scan/sources/tree/file_walk.h"

namespace {

struct Walked {
  std::function<void(const std::string& path)> onAdmit;
  std::vector<std::string> opened;   // handed over as an open descriptor
  std::vector<std::string> errors;
  std::vector<std::string> skipped;
};

Walked* Of(void* context) { return static_cast<Walked*>(context); }

WalkVisitor VisitorFor(Walked* walked) {
  WalkVisitor visitor{};
  visitor.context = walked;
  visitor.file = [](void* c, const char* path, const char*, uint64_t, FileIdentity) {
    Of(c)->opened.push_back(std::string("by path: ") + path);
  };
  visitor.error = [](void* c, const char* path, const char* reason) {
    Of(c)->errors.push_back(std::string(path) + ": " + reason);
  };
  visitor.skipped = [](void* c, const char* path, const char* reason) {
    Of(c)->skipped.push_back(std::string(path) + ": " + reason);
  };
  visitor.admit = [](void* c, const char* path, const char*) {
    if (Of(c)->onAdmit) Of(c)->onAdmit(path);
    return true;
  };
  visitor.stopping = [](void*) { return false; };
  visitor.openFile = [](void* c, const char* path, int fd, uint64_t, FileIdentity) {
    Of(c)->opened.push_back(path);
    (void)close(fd);
  };
  return visitor;
}

void WriteFile(const std::string& path, const char* text) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr) << path;
  (void)std::fputs(text, out);
  ASSERT_EQ(std::fclose(out), 0);
}

// A directory of its own below the temporary directory, removed with what it holds.
struct TempTree {
  TempTree() {
    std::string pattern = testpe::TempDirectory() + "pestkill-walk.XXXXXX";
    root = mkdtemp(&pattern[0]) != nullptr ? pattern : "";
  }
  ~TempTree() {
    if (!root.empty()) (void)std::system(("rm -rf '" + root + "'").c_str());
  }
  std::string root;
};

TEST(FileWalk, EntrySwappedAfterTheListingIsNeverRead) {
  // A FIFO opened by mistake without O_NONBLOCK would block: end the test instead.
  alarm(60);
  const struct {
    const char* name;
    std::function<void(const std::string& entry, const std::string& tree)> swap;
    bool read;
  } cases[] = {
      {"left alone", [](const std::string&, const std::string&) {}, true},
      {"written anew", [](const std::string& entry, const std::string&) {
         ASSERT_EQ(unlink(entry.c_str()), 0);
         WriteFile(entry, "another regular file");
       }, true},
      {"a FIFO", [](const std::string& entry, const std::string&) {
         ASSERT_EQ(unlink(entry.c_str()), 0);
         ASSERT_EQ(mkfifo(entry.c_str(), 0600), 0);
       }, false},
      {"a link to a FIFO", [](const std::string& entry, const std::string& tree) {
         ASSERT_EQ(mkfifo((tree + "/../fifo").c_str(), 0600), 0);
         ASSERT_EQ(unlink(entry.c_str()), 0);
         ASSERT_EQ(symlink("../fifo", entry.c_str()), 0);
       }, false},
      {"a link to a readable file", [](const std::string& entry, const std::string& tree) {
         WriteFile(tree + "/../elsewhere", "outside the tree");
         ASSERT_EQ(unlink(entry.c_str()), 0);
         ASSERT_EQ(symlink("../elsewhere", entry.c_str()), 0);
       }, false},
      {"a dangling link", [](const std::string& entry, const std::string&) {
         ASSERT_EQ(unlink(entry.c_str()), 0);
         ASSERT_EQ(symlink("nowhere", entry.c_str()), 0);
       }, false},
      {"a directory", [](const std::string& entry, const std::string&) {
         ASSERT_EQ(unlink(entry.c_str()), 0);
         ASSERT_EQ(mkdir(entry.c_str(), 0700), 0);
       }, false},
  };
  // Every tree stays until the end: the walk enters a directory once per run, and a
  // directory made after one was removed may get its inode.
  std::vector<TempTree> temps(sizeof cases / sizeof cases[0]);
  for (size_t i = 0; i < temps.size(); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(temps[i].root.empty());
    const std::string tree = temps[i].root + "/tree";
    ASSERT_EQ(mkdir(tree.c_str(), 0700), 0);
    const std::string entry = tree + "/entry.exe";
    WriteFile(entry, "a regular file when the directory is listed");
    Walked walked;
    walked.onAdmit = [&](const std::string& path) {
      if (path == entry) c.swap(entry, tree);
    };
    const WalkVisitor visitor = VisitorFor(&walked);
    WalkSettings settings;
    settings.recursive = true;
    WalkOperand(tree.c_str(), settings, &visitor);
    if (c.read) {
      EXPECT_EQ(walked.opened, std::vector<std::string>{entry});
      EXPECT_TRUE(walked.errors.empty()) << walked.errors[0];
    } else {
      EXPECT_TRUE(walked.opened.empty()) << walked.opened[0];
      // Reported, as an error or an entry passed over, never judged in silence.
      EXPECT_EQ(walked.errors.size() + walked.skipped.size(), 1u);
    }
  }
  alarm(0);
}

}  // namespace
