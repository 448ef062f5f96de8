// --file-list: paths to scan read from a file or standard input, as find or a
// script writes them, one after the other so that a long list is scanned as it
// comes. A stop signal ends a read that waits for more of the list.
#pragma once

#include <cstdio>
#include <string>

struct FileList {
  FILE* stream = nullptr;
  bool failed = false;  // a read error; errorNumber tells which
  int errorNumber = 0;
  char buffer[4096];
  size_t at = 0;
  size_t held = 0;
};

// The list to read: standard input for "-", otherwise the file, opened for
// reading bytes as they are. False with errno set when it cannot be opened.
bool OpenFileList(const char* name, FileList* list);
void CloseFileList(FileList* list);

// Reads the next path: the bytes up to the separator ('\n', or 0 for a
// NUL-separated list) or the end of the input. Empty entries are left out; in a
// newline-separated list on Windows a trailing '\r' is dropped too. Returns false
// at the end of the input, on a read error (list->failed) or once a stop signal
// came. A newline-separated entry holding a NUL byte is returned with *holdsNul
// set: no name holds one, so the entry is not to be scanned.
bool ReadListedPath(FileList* list, char separator, std::string* path, bool* holdsNul);
