// The C runtime's low-level file and string functions that the image readers use.
// Windows builds take them from the runtime itself; the Linux build of the portable
// code gets a small stand-in built on POSIX (posix_crt.cpp).
#pragma once

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#else
#include <stdio.h>  // SEEK_SET

#define _O_BINARY 0
#define _O_RDONLY 0

int _open(const char* path, int flags, ...);
int _read(int fd, void* buffer, unsigned int count);
long _lseek(int fd, long offset, int origin);
long _tell(int fd);
long _filelength(int fd);
long long _filelengthi64(int fd);
int _close(int fd);
int _stricmp(const char* a, const char* b);
char* _strupr(char* text);
#endif
