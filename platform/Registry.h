// The registry: the hives HKEY_CLASSES_ROOT, HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE as trees
// of keys holding string, DWORD and binary values, with the Win32 calls and results.
//
// Each hive is one file under the platform root, <root>/registry/HKCR.reg, HKCU.reg and
// HKLM.reg (format in platform/RegistryTree.h). Every change re-reads the hive under an
// exclusive lock on <hive>.lock and commits it whole by writing a temporary file and renaming
// it over the hive, so other processes see either the old or the new hive, never a part, and
// two processes changing different keys both land. Every call first checks whether another
// process has committed since the hive was last read.
//
// Names. Key and value names are the bytes the caller gives (the ANSI form); they match
// without regard to the case of ASCII letters and keep the case they were created with.
// Paths separate keys with "\"; a path may not start with "\" or hold an empty component
// (ERROR_BAD_PATHNAME). A key name is 1 to 255 bytes, a value name at most 16383, a path at
// most 512 keys deep, a value at most 1 MiB (ERROR_INVALID_PARAMETER beyond any of these).
//
// Values. REG_SZ and REG_EXPAND_SZ data are stored with a terminating NUL, added when the
// caller's data lacks one, so the sizes a query reports always include it. Other types are
// stored as the bytes given. Subkeys enumerate in name order (case-insensitive), values in
// the order they were first set.
//
// Deleted keys. A handle whose key is deleted, by this process or by another, answers
// ERROR_KEY_DELETED to every call but RegCloseKey from then on. A deletion by another process
// is noticed at the handle's next use; if that process has created the key again by then,
// the handle reaches the new key.
//
// Bad hives. A hive file that is empty, truncated or not in the hive format is renamed aside
// to <hive>.corrupt-<UTC time> (never overwritten) and the hive starts empty;
// registryLastProblem() tells what happened, since this layer has no log. When the file
// cannot be set aside, every call on that hive fails with ERROR_BADDB.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Errors.h"
#include "platform/Time.h"
#include "platform/WinTypes.h"

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;

// The predefined roots, sign-extended as a 64-bit Windows does.
#define HKEY_CLASSES_ROOT ((HKEY)(intptr_t)(LONG)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(intptr_t)(LONG)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(intptr_t)(LONG)0x80000002)

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM DELETE = 0x00010000;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// The registry's results beyond those of platform/Errors.h.
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_NOACCESS = 998;
constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_KEY_DELETED = 1018;

// Every call returns ERROR_SUCCESS or the Win32 code of its failure; a handle that is not a
// root and not open is ERROR_INVALID_HANDLE. The last-error value is left alone.

// Opens an existing key below `key`. A null or empty subKey opens `key` itself again (a root
// comes back as itself). *result is null on failure.
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
// Opens the key, creating it and any missing keys above it; *disposition (when given) says
// REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY. Creating needs KEY_CREATE_SUB_KEY on `key`.
// Only REG_OPTION_NON_VOLATILE keys exist (other options: ERROR_INVALID_PARAMETER).
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM access, void* security, PHKEY result, DWORD* disposition);
// Sets a value (a null or empty name is the key's default value). Needs KEY_SET_VALUE.
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD size);
// Reads a value. With null data, *size receives the size; when *size is too small the call
// is ERROR_MORE_DATA with the size needed in *size. Needs KEY_QUERY_VALUE.
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size);
// The name of subkey `index` (*nameLength: the buffer's size in, the name's length without
// the NUL out); ERROR_NO_MORE_ITEMS past the last, ERROR_MORE_DATA when the name does not fit
// (*nameLength unchanged). Keys have no class: a given class buffer receives "". The write
// time is that of the hive's last commit. Needs KEY_ENUMERATE_SUB_KEYS.
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameLength, DWORD* reserved,
                      LPSTR keyClass, DWORD* classLength, FILETIME* lastWriteTime);
// Value `index`: its name as RegEnumKeyExA gives names, its type, and its data by the size
// rules of RegQueryValueExA. Needs KEY_QUERY_VALUE.
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, DWORD* nameLength, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* size);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED when it has some, or when it is a
// root). An empty subKey deletes `key` itself.
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
// Deletes a key with all its subkeys and values; a null or empty subKey empties `key` of its
// subkeys and values and keeps it. Needs DELETE, KEY_ENUMERATE_SUB_KEYS and KEY_QUERY_VALUE,
// and KEY_SET_VALUE too when emptying `key`.
LSTATUS RegDeleteTreeA(HKEY key, LPCSTR subKey);
// Deletes a value; ERROR_FILE_NOT_FOUND when there is none. Needs KEY_SET_VALUE.
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);
// Closes an opened key; closing a root does nothing and succeeds.
LSTATUS RegCloseKey(HKEY key);

// The last problem met with a hive file (set aside as unreadable, not readable, not
// writable), as one line of English for a log; empty when there has been none.
std::string registryLastProblem();
void clearRegistryLastProblem();

// The file that holds a root's hive under the current platform root; empty for other handles.
std::string registryHivePath(HKEY root);

// Where an open key is: its hive (0 HKCR, 1 HKCU, 2 HKLM), its path from the hive's root
// with "\" between keys (empty for a root), and the access it was opened with. For the
// registry certificate stores, which keep their certificates beside the key.
LSTATUS registryKeyLocation(HKEY key, int* hive, std::string* path, REGSAM* access);

// Test hook: forgets every open handle and every hive read so far, as a new process starts.
void resetRegistryForTesting();
// Test hook: runs `hook` when a commit has written and synced its temporary file and is
// about to rename it over the hive (a hook that ends the process is a crash at that point).
// Null removes it.
void setRegistryBeforeRenameHookForTesting(void (*hook)());
