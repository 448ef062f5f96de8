// The written record of a live clean-up: what it removed, and a way to put back the
// registry values it deleted.
//
// Each clean-up appends to %SystemRoot%\debug\pestkill.log (UTF-8): the local date
// and time, the path the detection was made on and its rule; for the file, its path,
// size and SHA-256 before it is removed, and whether it went at once or at the
// restart; for each registry value, its key, name, type and size before it is
// deleted. The values themselves, with their exact type and data, go into
// %SystemRoot%\debug\pestkill-undo-DATE-TIME.reg, made at the first value, which
// "reg import" reads back. Nothing of this is shown on the console, and nothing here
// can stop or change the clean-up: a record that cannot be written is simply
// missing, and a call without an open record does nothing.
#pragma once

#include <windows.h>

#include <cstdint>

#include "remedy/process_control.h"

// Opens the record of one clean-up. rule names the detection ("signature",
// "winlogon impostor"). Ends a record still open.
void BeginRemovalRecord(const wchar_t* detectionPath, const char* rule);
// Closes the log and the undo file.
void EndRemovalRecord();

// The file's path, size and SHA-256, before it is removed.
void RecordFileBeforeRemoval(const wchar_t* path);
// What became of it.
void RecordFileRemoval(const wchar_t* path, FileRemoval outcome);

// The value named valueName of the open key, which is keyPath under root, with its
// exact type and data, before it is deleted. The 8-bit form takes names in the
// system code page, as the ANSI registry calls do.
void RecordValueBeforeDeletion(HKEY root, const wchar_t* keyPath, HKEY key, const wchar_t* valueName);
void RecordValueBeforeDeletion(HKEY root, const char* keyPath, HKEY key, const char* valueName);

// The folder of the record (%SystemRoot%\debug) into out, which holds capacity
// units; false when it cannot be had.
bool RemovalRecordFolder(wchar_t* out, size_t capacity);
