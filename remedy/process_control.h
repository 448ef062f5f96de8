// Ending the infected process, removing its file, and restarting Windows.
#pragma once

#include <cstdint>

// Ends the process when it can be opened; nothing is reported.
void TerminateProcessById(uint32_t processId);

// Resets the file's attributes and deletes it; when the deletion fails (the file
// belongs to a running process), schedules the deletion for the next restart.
void RemoveFile(const char* path);
// The same with the wide calls, for a path that the code page cannot spell.
void RemoveFileWide(const wchar_t* path);

// Asks Windows to restart; true when the request was accepted.
bool RestartComputer();
