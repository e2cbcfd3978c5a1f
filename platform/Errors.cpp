#include "platform/Errors.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

thread_local DWORD t_lastError = 0;
std::mutex g_tableMutex;  // layers may register their texts while others are formatting

std::map<DWORD, std::string>& messageTable() {
  static std::map<DWORD, std::string> table = {
      {0, "The operation completed successfully."},
      {2, "The system cannot find the file specified."},
      {3, "The system cannot find the path specified."},
      {4, "The system cannot open the file."},
      {5, "Access is denied."},
      {6, "The handle is invalid."},
      {8, "Not enough memory resources are available to process this command."},
      {19, "The media is write protected."},
      {32, "The process cannot access the file because it is being used by another process."},
      {38, "Reached the end of the file."},
      {80, "The file exists."},
      {87, "The parameter is incorrect."},
      {112, "There is not enough space on the disk."},
      {122, "The data area passed to a system call is too small."},
      {123, "The filename, directory name, or volume label syntax is incorrect."},
      {131, "An attempt was made to move the file pointer before the beginning of the file."},
      {145, "The directory is not empty."},
      {183, "Cannot create a file when that file already exists."},
      {206, "The filename or extension is too long."},
      {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
      {1117, "The request could not be performed because of an I/O device error."},
  };
  return table;
}

}  // namespace

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

DWORD win32ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    default:
      return ERROR_IO_DEVICE;
  }
}

void registerSystemMessage(DWORD code, const char* text) {
  if (text == nullptr) return;
  std::lock_guard<std::mutex> lock(g_tableMutex);
  messageTable()[code] = text;
}

DWORD FormatMessageA(DWORD flags, LPCVOID /*source*/, DWORD messageId, DWORD /*languageId*/,
                     LPSTR buffer, DWORD size, void* /*arguments*/) {
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string text;
  {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    auto it = messageTable().find(messageId);
    // A Win32 code wrapped as an HRESULT (HRESULT_FROM_WIN32) has the text of the code itself.
    if (it == messageTable().end() && (messageId & 0xFFFF0000u) == 0x80070000u)
      it = messageTable().find(messageId & 0xFFFFu);
    if (it == messageTable().end()) {
      SetLastError(317);  // ERROR_MR_MID_NOT_FOUND
      return 0;
    }
    text = it->second + "\r\n";
  }
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    auto* block = static_cast<char*>(std::malloc(text.size() + 1));
    if (block == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(block, text.c_str(), text.size() + 1);
    *reinterpret_cast<char**>(buffer) = block;
    return static_cast<DWORD>(text.size());
  }
  if (size < text.size() + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

void* LocalFree(void* block) {
  std::free(block);
  return nullptr;
}
