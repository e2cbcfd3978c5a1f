// Loading modules (shared objects) at run time, with the Win32 names and results a COM
// runtime and a host use: LoadLibraryA, GetProcAddress, FreeLibrary, GetModuleFileNameA.
#pragma once

#include <string>

#include "platform/WinTypes.h"

struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef void (*FARPROC)();

constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;

// Loads the module at `path` with every symbol bound now and none shared with other modules;
// loading it again gives the same handle and one more reference. Null on failure, with the
// last error ERROR_MOD_NOT_FOUND (no such file, or a module it needs is missing) or
// ERROR_BAD_EXE_FORMAT (the file is not a loadable module).
HMODULE LoadLibraryA(LPCSTR path);
// Drops one reference; the module is unloaded with the last. FALSE for a null handle.
BOOL FreeLibrary(HMODULE module);
// The address of an exported function; null with ERROR_PROC_NOT_FOUND when there is none.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
// The absolute path of a loaded module, or of the program itself for a null handle, copied
// with its NUL into `buffer`. Returns the length without the NUL; when the buffer is too
// small, the path is cut to size - 1 bytes, size is returned and the last error is
// ERROR_INSUFFICIENT_BUFFER. 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

// The absolute path of the module (the program or a loaded shared object) that holds
// `address`, with symbolic links resolved; empty when it cannot be told.
std::string moduleFileNameFromAddress(const void* address);
