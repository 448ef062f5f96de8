#include "remedy/removal_record.h"

#include <wincrypt.h>

#include <cstring>
#include <cwchar>

#include "remedy/reg_file_text.h"

namespace {

// SHA-256 came with Windows XP SP3; the headers for XP before it do not name it.
#ifndef CALG_SHA_256
constexpr ALG_ID CALG_SHA_256 = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;
#endif

// Paths of the record's own files: the system folder (at most MAX_PATH), "\debug"
// and the file name.
constexpr size_t RecordPathCapacity = MAX_PATH + 64;
// A key path as the registry gives it, with the name of its root in front.
constexpr size_t KeyPathCapacity = 2048;
// Value names are at most 16383 units; Run and image-option names are far shorter.
constexpr size_t ValueNameCapacity = 16384;
// The data of one value recorded whole; a longer value is named in the log as too
// long, and left out of the undo file.
constexpr DWORD RecordedDataCapacity = 65536;
constexpr DWORD HashReadSize = 16384;

struct RemovalRecord {
  bool open;
  HANDLE log;
  HANDLE undo;
  bool undoTried;
  SYSTEMTIME started;
  wchar_t folder[RecordPathCapacity];
  wchar_t undoPath[RecordPathCapacity];
  wchar_t lastKey[KeyPathCapacity];  // the key whose line the undo file holds last
  wchar_t undoBuffer[512];
  RegFileText<wchar_t> undoText;
};

// One clean-up runs at a time, on the program's one thread. Kept out of the stack,
// which the process walk already fills with its paths.
RemovalRecord record;
BYTE valueData[RecordedDataCapacity];
BYTE hashInput[HashReadSize];
wchar_t keyPathText[KeyPathCapacity];

void WriteBytes(HANDLE file, const void* bytes, DWORD count) {
  if (file == INVALID_HANDLE_VALUE || count == 0) return;
  DWORD written = 0;
  (void)WriteFile(file, bytes, count, &written, nullptr);
}

void LogAscii(const char* text) {
  WriteBytes(record.log, text, static_cast<DWORD>(std::strlen(text)));
}

// Wide text as UTF-8, a piece at a time; a surrogate pair is never split.
void LogWide(const wchar_t* text, size_t length) {
  constexpr size_t Piece = 512;
  char utf8[Piece * 3];
  while (length > 0) {
    size_t count = length < Piece ? length : Piece;
    if (count < length && text[count - 1] >= 0xD800 && text[count - 1] <= 0xDBFF) --count;
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), utf8,
                                          sizeof(utf8), nullptr, nullptr);
    if (bytes > 0) WriteBytes(record.log, utf8, static_cast<DWORD>(bytes));
    text += count;
    length -= count;
  }
}

void LogWide(const wchar_t* text) { LogWide(text, std::wcslen(text)); }

// Decimal digits of a number, at least minDigits of them, into out (24 bytes).
const char* Decimal(unsigned long long value, int minDigits, char* out) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && count < 23);
  while (count < minDigits && count < 23) digits[count++] = '0';
  for (int i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
  out[count] = '\0';
  return out;
}

void LogNumber(unsigned long long value, int minDigits = 1) {
  char text[24];
  LogAscii(Decimal(value, minDigits, text));
}

const char* TypeName(DWORD type) {
  static const char* const Names[] = {"REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY",
                                      "REG_DWORD", "REG_DWORD_BIG_ENDIAN", "REG_LINK",
                                      "REG_MULTI_SZ", "REG_RESOURCE_LIST",
                                      "REG_FULL_RESOURCE_DESCRIPTOR",
                                      "REG_RESOURCE_REQUIREMENTS_LIST", "REG_QWORD"};
  return type < sizeof(Names) / sizeof(Names[0]) ? Names[type] : nullptr;
}

const wchar_t* RootName(HKEY root) {
  if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
  if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
  if (root == HKEY_USERS) return L"HKEY_USERS";
  if (root == HKEY_CLASSES_ROOT) return L"HKEY_CLASSES_ROOT";
  return nullptr;
}

bool Append(wchar_t* out, size_t capacity, const wchar_t* text) {
  const size_t used = std::wcslen(out);
  const size_t length = std::wcslen(text);
  if (length >= capacity - used) return false;
  std::wmemcpy(out + used, text, length + 1);
  return true;
}

// A path as people and Run values spell it: without the long-path prefix "\\?\" that
// lets the file calls take it beyond MAX_PATH.
const wchar_t* ShownPath(const wchar_t* path) {
  return std::wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path;
}

bool HandUndoText(const wchar_t* units, size_t count, void*) {
  DWORD written = 0;
  const DWORD bytes = static_cast<DWORD>(count * sizeof(wchar_t));
  return WriteFile(record.undo, units, bytes, &written, nullptr) && written == bytes;
}

// The fields of the clean-up's start, year to second, each in its width.
const int StartedWidths[6] = {4, 2, 2, 2, 2, 2};
void StartedFields(unsigned fields[6]) {
  const SYSTEMTIME& t = record.started;
  const unsigned all[6] = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
  for (int i = 0; i < 6; ++i) fields[i] = all[i];
}

// Date and time of the clean-up's start, as the name of its undo file: 20261211-134502.
void StampText(wchar_t* out) {
  unsigned fields[6];
  StartedFields(fields);
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    if (i == 3) out[at++] = L'-';
    char digits[24];
    for (const char* d = Decimal(fields[i], StartedWidths[i], digits); *d != '\0'; ++d) out[at++] = *d;
  }
  out[at] = L'\0';
}

// The undo file, made at the first value: a new name each clean-up, and never a file
// that is there already.
bool OpenUndoFile() {
  if (record.undo != INVALID_HANDLE_VALUE) return true;
  if (record.undoTried || record.folder[0] == L'\0') return false;
  record.undoTried = true;
  wchar_t stamp[24];
  StampText(stamp);
  for (int attempt = 1; attempt <= 9; ++attempt) {
    record.undoPath[0] = L'\0';
    wchar_t suffix[4] = {L'-', static_cast<wchar_t>(L'0' + attempt), L'\0', L'\0'};
    if (!Append(record.undoPath, RecordPathCapacity, record.folder) ||
        !Append(record.undoPath, RecordPathCapacity, L"\\pestkill-undo-") ||
        !Append(record.undoPath, RecordPathCapacity, stamp) ||
        !Append(record.undoPath, RecordPathCapacity, attempt == 1 ? L"" : suffix) ||
        !Append(record.undoPath, RecordPathCapacity, L".reg"))
      return false;
    record.undo = CreateFileW(record.undoPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record.undo != INVALID_HANDLE_VALUE) break;
    if (GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  if (record.undo == INVALID_HANDLE_VALUE) return false;
  record.undoText = MakeRegFileText<wchar_t>(record.undoBuffer, sizeof(record.undoBuffer) / sizeof(wchar_t),
                                             HandUndoText, nullptr);
  WriteRegFileHeader(&record.undoText);
  record.lastKey[0] = L'\0';
  return true;
}

// The file's SHA-256 from the system's cryptographic provider (the AES provider type
// holds it from Windows XP SP3 on), as 64 hex digits; false when it cannot be had.
bool FileDigest(HANDLE file, char* hex) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
    return false;
  bool done = false;
  HCRYPTHASH hash = 0;
  if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) {
    bool readAll = true;
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(file, hashInput, sizeof(hashInput), &got, nullptr)) {
        readAll = false;
        break;
      }
      if (got == 0) break;
      if (!CryptHashData(hash, hashInput, got, 0)) {
        readAll = false;
        break;
      }
    }
    BYTE digest[32];
    DWORD digestSize = sizeof(digest);
    if (readAll && CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0) && digestSize == 32) {
      static const char Digits[] = "0123456789abcdef";
      for (int i = 0; i < 32; ++i) {
        hex[2 * i] = Digits[digest[i] >> 4];
        hex[2 * i + 1] = Digits[digest[i] & 0xF];
      }
      hex[64] = '\0';
      done = true;
    }
    (void)CryptDestroyHash(hash);
  }
  (void)CryptReleaseContext(provider, 0);
  return done;
}

}  // namespace

bool RemovalRecordFolder(wchar_t* out, size_t capacity) {
  // The shared Windows folder, also on a terminal server, where GetWindowsDirectory
  // gives each user a folder of their own.
  const UINT length = GetSystemWindowsDirectoryW(out, static_cast<UINT>(capacity));
  if (length == 0 || length >= capacity) return false;
  if (length > 0 && out[length - 1] == L'\\') out[length - 1] = L'\0';
  return Append(out, capacity, L"\\debug");
}

void BeginRemovalRecord(const wchar_t* detectionPath, const char* rule) {
  EndRemovalRecord();
  std::memset(&record, 0, sizeof(record));
  record.open = true;
  record.log = INVALID_HANDLE_VALUE;
  record.undo = INVALID_HANDLE_VALUE;
  GetLocalTime(&record.started);
  if (!RemovalRecordFolder(record.folder, RecordPathCapacity)) {
    record.folder[0] = L'\0';
    return;
  }
  // The folder comes with Windows; a system without it gets one.
  (void)CreateDirectoryW(record.folder, nullptr);

  wchar_t logPath[RecordPathCapacity] = L"";
  if (!Append(logPath, RecordPathCapacity, record.folder) ||
      !Append(logPath, RecordPathCapacity, L"\\pestkill.log"))
    return;
  record.log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (record.log == INVALID_HANDLE_VALUE) return;

  // The same start as a reader writes it: 2026-12-11 13:45:02.
  unsigned fields[6];
  StartedFields(fields);
  static const char* const Separators[6] = {"", "-", "-", " ", ":", ":"};
  for (int i = 0; i < 6; ++i) {
    LogAscii(Separators[i]);
    LogNumber(fields[i], StartedWidths[i]);
  }
  LogAscii(" detected: ");
  if (detectionPath != nullptr) LogWide(detectionPath);
  LogAscii(" (rule: ");
  LogAscii(rule != nullptr ? rule : "");
  LogAscii(")\r\n");
}

void EndRemovalRecord() {
  if (!record.open) return;
  if (record.undo != INVALID_HANDLE_VALUE) {
    (void)FinishRegFileText(&record.undoText);
    (void)CloseHandle(record.undo);
  }
  if (record.log != INVALID_HANDLE_VALUE) (void)CloseHandle(record.log);
  record.undo = INVALID_HANDLE_VALUE;
  record.log = INVALID_HANDLE_VALUE;
  record.open = false;
}

void RecordFileBeforeRemoval(const wchar_t* path) {
  if (!record.open || record.log == INVALID_HANDLE_VALUE || path == nullptr) return;
  LogAscii("  file ");
  LogWide(ShownPath(path));
  // Opened for reading only, beside a running program that holds its own image.
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LogAscii(": cannot be read\r\n");
    return;
  }
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size)) {
    LogAscii(": ");
    LogNumber(static_cast<unsigned long long>(size.QuadPart));
    LogAscii(" bytes");
  } else {
    LogAscii(": size unknown");
  }
  char digest[65];
  if (FileDigest(file, digest)) {
    LogAscii(", SHA-256 ");
    LogAscii(digest);
  } else {
    LogAscii(", SHA-256 unknown");
  }
  LogAscii("\r\n");
  (void)CloseHandle(file);
}

void RecordFileRemoval(const wchar_t* path, FileRemoval outcome) {
  if (!record.open || record.log == INVALID_HANDLE_VALUE || path == nullptr) return;
  LogAscii("  file ");
  LogWide(ShownPath(path));
  switch (outcome) {
    case FileRemovedNow: LogAscii(": removed now\r\n"); break;
    case FileRemovedAtRestart: LogAscii(": removed at the restart\r\n"); break;
    default: LogAscii(": not removed\r\n"); break;
  }
}

void RecordValueBeforeDeletion(HKEY root, const wchar_t* keyPath, HKEY key, const wchar_t* valueName) {
  if (!record.open || keyPath == nullptr || valueName == nullptr) return;
  const wchar_t* rootName = RootName(root);
  keyPathText[0] = L'\0';
  if (rootName == nullptr || !Append(keyPathText, KeyPathCapacity, rootName) ||
      !Append(keyPathText, KeyPathCapacity, L"\\") || !Append(keyPathText, KeyPathCapacity, keyPath))
    return;

  DWORD type = 0;
  DWORD size = sizeof(valueData);
  const LONG status = RegQueryValueExW(key, valueName, nullptr, &type, valueData, &size);

  LogAscii("  value ");
  LogWide(keyPathText);
  LogAscii(" \"");
  LogWide(valueName);
  LogAscii("\"");
  if (status == ERROR_MORE_DATA) {
    LogAscii(": too long to record\r\n");
    return;
  }
  if (status != ERROR_SUCCESS) {
    LogAscii(": cannot be read\r\n");
    return;
  }
  LogAscii(": ");
  const char* typeName = TypeName(type);
  if (typeName != nullptr) {
    LogAscii(typeName);
  } else {
    LogAscii("type ");
    LogNumber(type);
  }
  LogAscii(", ");
  LogNumber(size);
  LogAscii(" bytes");

  bool kept = false;
  if (OpenUndoFile()) {
    if (std::wcscmp(record.lastKey, keyPathText) != 0) {
      WriteRegKeyLine(&record.undoText, keyPathText);
      std::wmemcpy(record.lastKey, keyPathText, std::wcslen(keyPathText) + 1);
    }
    // On disk before the value goes, so that a clean-up cut short leaves it behind.
    kept = WriteRegValueLine(&record.undoText, valueName, std::wcslen(valueName), type, valueData, size) &&
           FinishRegFileText(&record.undoText);
  }
  if (kept) {
    LogAscii(", kept in ");
    LogWide(record.undoPath);
  } else {
    LogAscii(", not kept for undoing");
  }
  LogAscii("\r\n");
}

void RecordValueBeforeDeletion(HKEY root, const char* keyPath, HKEY key, const char* valueName) {
  if (!record.open || keyPath == nullptr || valueName == nullptr) return;
  // As the ANSI registry calls read the names: from the system code page.
  static wchar_t wideKeyPath[KeyPathCapacity];
  static wchar_t wideName[ValueNameCapacity];
  if (MultiByteToWideChar(CP_ACP, 0, keyPath, -1, wideKeyPath, KeyPathCapacity) == 0 ||
      MultiByteToWideChar(CP_ACP, 0, valueName, -1, wideName, ValueNameCapacity) == 0)
    return;
  RecordValueBeforeDeletion(root, wideKeyPath, key, wideName);
}
