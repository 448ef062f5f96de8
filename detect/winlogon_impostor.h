// A file named Winlogon outside the system directory that a Run value starts.
#pragma once

// Reads the path, the system directory and the Run keys; changes nothing.
bool IsWinlogonImpostor(const char* imagePath);
