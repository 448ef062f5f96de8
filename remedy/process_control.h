// Ending the infected process, removing its file, and restarting Windows.
#pragma once

#include <cstdint>

// Ends the process when it can be opened; nothing is reported.
void TerminateProcessById(uint32_t processId);

// What became of a file: deleted at once, its deletion scheduled for the next
// restart, or neither.
enum FileRemoval : int32_t { FileNotRemoved = 0, FileRemovedNow = 1, FileRemovedAtRestart = 2 };

// Resets the file's attributes and deletes it; when the deletion fails (the file
// belongs to a running process), schedules the deletion for the next restart.
FileRemoval RemoveFile(const char* path);
// The same with the wide calls, for a path that the code page cannot spell.
FileRemoval RemoveFileWide(const wchar_t* path);

// Asks Windows to restart; true when the request was accepted.
bool RestartComputer();
