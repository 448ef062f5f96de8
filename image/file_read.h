// The one road by which the image readers and the signature checks read a file.
//
// Four operations of the descriptor sit at the bottom: a seek from the start of the
// file, the position, a read at the position, and the length. They keep the C
// runtime's meaning exactly (a seek that fails leaves the position alone; a read
// moves it on by what it delivered), because the readers' results depend on it:
// after a failed seek, a header reader reads from wherever the position was. This
// program takes them from the runtime's _lseek, _tell, _read and _filelengthi64
// (image/file_read_crt.cpp, in that object file alone). A program that reads files
// another way, for example from a memory map or with pread into its own buffer,
// links its own definitions of these four instead: the static library then never
// pulls in the runtime's, and every reader above uses the program's without a
// branch, a table or an allocation on the way. Such a layer keeps a position per
// descriptor of its own and serves the four from it.
//
// Everything else a reader needs is built on the four, here and in the section
// table reader (image/section_table_reader.h).
#pragma once

#include <cstdint>

// --- The descriptor's operations -------------------------------------------

// Positions the descriptor at offset from the start of the file. Returns the new
// position, or -1 with the position unchanged (a negative offset always fails; an
// offset past the end of the file does not).
int32_t SeekFileTo(int fd, int32_t offset);
// The position, or -1.
int32_t TellFilePosition(int fd);
// Reads up to count bytes at the position and moves it on by the bytes delivered.
// Returns their number (0 at the end of the file), or -1 on an error.
int32_t ReadFileHere(int fd, void* buffer, uint32_t count);
// The file's length in bytes as a signed 32-bit value; -1 when it is not known. A
// file of 2 GiB or more gives the largest signed 32-bit value: every offset a
// reader can form still lies inside it, and a size test that names a range fails.
// Cut to 32 bits its length would be -1 or wrap to a small value, and the file
// would pass for clean without being judged.
int32_t GetFileLength(int fd);

// --- Built on them ----------------------------------------------------------

// File offsets are signed 32-bit, as the runtime's are. An offset formed in unsigned
// 32-bit arithmetic from untrusted fields becomes negative at 2 GiB and up, and a
// seek to it fails as it does in the runtime.
inline int32_t AsFileOffset(uint32_t offset) { return static_cast<int32_t>(offset); }

// The exact read of the checks: 1 when the seek lands on offset and the read
// delivers exactly count bytes, else 0.
int ReadExactAt(int fd, int32_t offset, void* buffer, uint32_t count);

// Reads up to count bytes at offset; returns how many came back, or 0 when the seek
// did not land. Only the end of the file cuts a read of a file short, so a record
// lies in the file exactly when all its bytes come back.
uint32_t ReadUpTo(int fd, int32_t offset, void* buffer, uint32_t count);

// An offset that lies inside the file: greater than 0 and below its size. Offset 0
// is the DOS header, which holds none of the records the signatures follow; an
// unknown size (-1) holds nothing.
inline bool InsideFile(int32_t offset, int32_t fileSize) { return offset > 0 && offset < fileSize; }
