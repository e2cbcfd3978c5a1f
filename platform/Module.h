// Loading modules (shared objects) at run time, with the Win32 names and results a COM
// runtime and a host use: LoadLibraryA, GetProcAddress, FreeLibrary, GetModuleFileNameA, and
// the module's own entry point DllMain around its load and unload.
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
constexpr DWORD ERROR_DLL_INIT_FAILED = 1114;

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
// The entry point a module may export as DllMain. LoadLibraryA calls it with
// DLL_PROCESS_ATTACH when it loads the module (not when it only counts one more reference),
// and FreeLibrary with DLL_PROCESS_DETACH when it drops the last reference, before the code
// goes away: a module installs there what other code of the process will call into (its
// conversion engine, see CodePage.h) and takes it back out. Loads and unloads are serialised
// around the calls, as the Windows loader lock does.
typedef BOOL (*LPFNDLLMAIN)(HINSTANCE module, DWORD reason, LPVOID reserved);

// Loads the module at `path` with every symbol bound now and none shared with other modules;
// loading it again gives the same handle and one more reference. Null on failure, with the
// last error ERROR_MOD_NOT_FOUND (no such file, or a module it needs is missing) or
// ERROR_BAD_EXE_FORMAT (the file is not a loadable module), or ERROR_DLL_INIT_FAILED when its
// DllMain refused the attach (it is then detached and unloaded again).
HMODULE LoadLibraryA(LPCSTR path);
// Drops one reference; the module is detached and unloaded with the last. FALSE for a null
// handle.
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
