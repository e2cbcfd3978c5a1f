// Files with the Win32 calling conventions: handles, share modes and last-error codes.
//
// Names given in the ANSI form are converted from the ANSI code page to UTF-8 before they
// reach the file system; wide names are UTF-16. Share modes are honoured between the opens
// of this process, the way the system honours them between processes.
#pragma once

#include "platform/WinTypes.h"

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

// INVALID_HANDLE_VALUE on failure, with GetLastError set.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
// Reads up to n bytes; a short count with TRUE means the end of the file was reached.
BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD n, DWORD* read, void* overlapped);
BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD n, DWORD* written, void* overlapped);
// The low 32 bits of the size (the high ones in *high when given); INVALID_FILE_SIZE on error.
DWORD GetFileSize(HANDLE h, DWORD* high);
// CREATE_ALWAYS of an existing regular file writes a new file that takes the old one's place
// here, and only when every write succeeded: FALSE when it could not (the old file stays).
BOOL CloseHandle(HANDLE h);

constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
// Moves the file position; returns its low 32 bits (the high ones in *high when given), or
// INVALID_SET_FILE_POINTER with the last error (ERROR_NEGATIVE_SEEK before the start).
DWORD SetFilePointer(HANDLE h, LONG distance, LONG* high, DWORD method);
BOOL DeleteFileA(LPCSTR name);
// Length written without the NUL, or the size needed (with the NUL) when n is too small.
DWORD GetCurrentDirectoryA(DWORD n, LPSTR buffer);
DWORD GetCurrentDirectoryW(DWORD n, LPWSTR buffer);

// Test hook: the next `count` opens of the file (UTF-8 name) fail with ERROR_SHARING_VIOLATION,
// as when another process holds it. A count of 0 removes the hook.
void simulateSharingViolation(const char* utf8Name, int count);
// How many simulated violations of that file are still pending.
int pendingSharingViolations(const char* utf8Name);
// Test hook: the next open of the file (UTF-8 name) for writing takes `bytes` bytes, then its
// writes fail with ERROR_DISK_FULL, as on a full disk.
void simulateWriteLimit(const char* utf8Name, uint64_t bytes);

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// Fills the record when its size field is 148. Answers an NT-family system unless a test
// has pinned another.
BOOL GetVersionExA(OSVERSIONINFOA* info);
// Test hook: pins the platform id and minor version GetVersionExA reports; 0, 0 unpins.
void setVersionForTesting(DWORD platformId, DWORD minorVersion);
