// The name of the user the process runs as.
#pragma once

#include "platform/WinTypes.h"

// Writes the name and its NUL; *size gets the length with the NUL. When the buffer is too
// small: FALSE, ERROR_INSUFFICIENT_BUFFER and *size the room needed.
BOOL GetUserNameA(LPSTR buffer, DWORD* size);

// Test hook: the name GetUserNameA reports from now on; null returns to the process's user.
void setUserNameForTesting(const char* name);
