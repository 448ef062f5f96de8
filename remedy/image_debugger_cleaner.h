// Deletes the Debugger value of every program entry under Image File Execution Options.
#pragma once

#include <cstdint>

// 0 for a null path (nothing touched); otherwise 1, also when the key is missing.
int32_t RemoveImageDebuggers(const char* imagePath);
