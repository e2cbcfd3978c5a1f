#include "foundation/FileAccess.h"

#include <cstring>

#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/Errors.h"
#include "platform/Time.h"

namespace {

// Another process holding the file is retried for about 150 ms in all.
constexpr int kSharingRetries = 3;
constexpr DWORD kRetrySleepMs = 50;

struct OpenFlags {
  DWORD access;
  DWORD share;
  DWORD disposition;
};

OpenFlags flagsFor(FileOpenMode mode) {
  switch (mode) {
    case FileOpenMode::kRead:
      return {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING};
    case FileOpenMode::kReadWrite:
      return {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS};
    case FileOpenMode::kCreateForWrite:
      break;
  }
  return {GENERIC_WRITE, 0, CREATE_ALWAYS};
}

template <typename Open>
HANDLE openWithRetry(Open open) {
  HANDLE h = open();
  for (int i = 0; h == INVALID_HANDLE_VALUE && i < kSharingRetries &&
                  GetLastError() == ERROR_SHARING_VIOLATION;
       ++i) {
    Sleep(kRetrySleepMs);
    h = open();
  }
  return h;
}

void logOpenFailure(LogBase& log, const char* message, const char* nameKey, const char* name) {
  StringBuffer osText;
  osText.appendLastWindowsError();
  log.logError(message);
  log.logData(nameKey, name);
  log.logData("osErrorInfo", osText.getString());
}

// Logs the name of a file opened by its wide name in the form that reads best.
void logWideName(LogBase& log, XString& name) {
  if (name.isAnsiCompatible())
    log.logData("filename", name.getAnsi());
  else
    log.logData("utf8Filename", name.getUtf8());
}

uint32_t sizeOfOpenFile(HANDLE h, LogBase* log, const char* name, bool& ok) {
  ok = false;
  if (h == INVALID_HANDLE_VALUE) return 0;
  const DWORD size = GetFileSize(h, nullptr);
  if (size == INVALID_FILE_SIZE) {
    LogBase& l = logOrNull(log);
    StringBuffer osText;
    osText.appendLastWindowsError();
    l.logError(osText.getString());
    l.logData("filename", name);
    l.logError("Failed to get file size");
    closeFile(h);
    return 0;
  }
  closeFile(h);
  ok = true;
  return size;
}

bool isBlank(const char* s) { return s == nullptr || *s == '\0'; }
bool isBlank(const OLECHAR* s) { return s == nullptr || *s == 0; }

}  // namespace

WindowsVersion::WindowsVersion() {
  std::memset(&info_, 0, sizeof info_);
  info_.dwOSVersionInfoSize = sizeof info_;
  GetVersionExA(&info_);
}

bool WindowsVersion::isWin9x() const {
  return info_.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
         (info_.dwMinorVersion == 0 || info_.dwMinorVersion == 10 || info_.dwMinorVersion == 90);
}

HANDLE openFileAnsi(const char* ansiName, FileOpenMode mode, LogBase* log) {
  if (isBlank(ansiName)) return INVALID_HANDLE_VALUE;
  const OpenFlags f = flagsFor(mode);
  HANDLE h = openWithRetry([&] {
    return CreateFileA(ansiName, f.access, f.share, nullptr, f.disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  });
  if (h == INVALID_HANDLE_VALUE && log != nullptr)
    logOpenFailure(*log, "Failed to open file (2)", "filename", ansiName);
  return h;
}

HANDLE openFileWide(XString& name, FileOpenMode mode, LogBase* log) {
  if (name.isEmpty()) return INVALID_HANDLE_VALUE;
  const OpenFlags f = flagsFor(mode);
  const OLECHAR* wide = name.getUnicode();
  HANDLE h = openWithRetry([&] {
    return CreateFileW(wide, f.access, f.share, nullptr, f.disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  });
  if (h == INVALID_HANDLE_VALUE && log != nullptr) {
    StringBuffer osText;
    osText.appendLastWindowsError();
    log->logError("Failed to open file (3)");
    logWideName(*log, name);
    log->logData("osErrorInfo", osText.getString());
  }
  return h;
}

namespace {

HANDLE openByPlatform(XString& path, FileOpenMode mode, LogBase* log) {
  if (WindowsVersion().isWin9x()) return openFileAnsi(path.getAnsi(), mode, log);
  return openFileWide(path, mode, log);
}

}  // namespace

HANDLE openForRead(XString& path, LogBase* log) {
  if (path.isEmpty()) {
    if (log != nullptr) log->logError("Cannot open file, filename is empty.");
    return INVALID_HANDLE_VALUE;
  }
  return openByPlatform(path, FileOpenMode::kRead, log);
}

HANDLE openForReadWrite(XString& path, LogBase* log) {
  if (path.isEmpty()) return INVALID_HANDLE_VALUE;
  return openByPlatform(path, FileOpenMode::kReadWrite, log);
}

HANDLE createForWrite(XString& path, LogBase* log) {
  if (path.isEmpty()) return INVALID_HANDLE_VALUE;
  return openByPlatform(path, FileOpenMode::kCreateForWrite, log);
}

uint32_t fileSize(const char* ansiPath, LogBase* log, bool& ok) {
  ok = false;
  if (isBlank(ansiPath)) return 0;
  HANDLE h = openFileAnsi(ansiPath, FileOpenMode::kRead, log);
  return sizeOfOpenFile(h, log, ansiPath, ok);
}

uint32_t fileSize(const OLECHAR* widePath, LogBase* log, bool& ok) {
  ok = false;
  if (isBlank(widePath)) return 0;
  XString name;
  name.setFromUnicode(widePath);
  HANDLE h = openFileWide(name, FileOpenMode::kRead, log);
  return sizeOfOpenFile(h, log, name.getUtf8(), ok);
}

bool ansiFormOnly(XString& name) { return name.isAnsiCompatible() || WindowsVersion().isWin9x(); }

uint32_t fileSizeUtf8(const char* utf8Path, LogBase* log, bool& ok) {
  ok = false;
  if (isBlank(utf8Path)) return 0;
  XString name;
  name.setFromUtf8(utf8Path);
  if (!ansiFormOnly(name)) return fileSize(name.getUnicode(), log, ok);
  return fileSize(name.getAnsi(), log, ok);
}

bool writeFile(const char* ansiPath, const void* bytes, uint32_t n, LogBase* log) {
  FileInPieces file(log);
  if (!file.open(ansiPath)) return false;
  file.write(bytes, n);
  return file.close();
}

FileInPieces::~FileInPieces() { close(); }

bool FileInPieces::open(const char* ansiPath) {
  if (isBlank(ansiPath)) return false;
  name_.setString(ansiPath);
  handle_ = openFileAnsi(ansiPath, FileOpenMode::kCreateForWrite, log_);
  if (handle_ == INVALID_HANDLE_VALUE) {
    LogBase& l = logOrNull(log_);
    l.logData("filename", ansiPath);
    l.logError("Failed to write complete file (7)");
    return false;
  }
  return true;
}

bool FileInPieces::openWide(XString& name) {
  if (name.isEmpty()) return false;
  wide_ = true;
  handle_ = openFileWide(name, FileOpenMode::kCreateForWrite, log_);
  if (handle_ == INVALID_HANDLE_VALUE) {
    LogBase& l = logOrNull(log_);
    l.logData("utf8Filename", name.getUtf8());
    l.logError("Failed to write complete file (6)");
    return false;
  }
  return true;
}

bool FileInPieces::write(const void* bytes, uint32_t n) {
  if (handle_ == INVALID_HANDLE_VALUE || failed_) return false;
  if (bytes == nullptr || n == 0) return true;
  DWORD written = 0;
  if (!WriteFile(handle_, bytes, n, &written, nullptr) || written != n) {
    failed_ = true;
    why_ = GetLastError();
  }
  return !failed_;
}

bool FileInPieces::close() {
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  // A file that replaces another is in place only once the close has put it there, and the
  // platform leaves the old file as it was when a write failed.
  const bool closed = CloseHandle(handle_) != FALSE;
  handle_ = INVALID_HANDLE_VALUE;
  if (failed_) SetLastError(why_);
  if (closed && !failed_) return true;
  StringBuffer osText;
  osText.appendLastWindowsError();
  LogBase& l = logOrNull(log_);
  if (!wide_) l.logData("filename", name_.getString());
  l.logError(osText.getString());
  l.logError(wide_ ? "Failed to write complete file (3)" : "Failed to write complete file (1)");
  return false;
}

bool writeFile(const OLECHAR* widePath, const void* bytes, uint32_t n, LogBase* log) {
  if (isBlank(widePath)) return false;
  XString name;
  name.setFromUnicode(widePath);
  FileInPieces file(log);
  if (!file.openWide(name)) return false;
  file.write(bytes, n);
  return file.close();
}

bool writeFileUtf8(const char* utf8Path, const void* bytes, uint32_t n, LogBase* log) {
  if (isBlank(utf8Path)) return false;
  XString name;
  name.setFromUtf8(utf8Path);
  if (!ansiFormOnly(name)) {
    if (writeFile(name.getUnicode(), bytes, n, log)) return true;
  }
  return writeFile(name.getAnsi(), bytes, n, log);
}

void getCurrentDirectory(XString& out) {
  if (!WindowsVersion().isWin9x()) {
    OLECHAR wide[MAX_PATH + 1];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, wide);
    if (n > 0 && n < MAX_PATH) {
      wide[n] = 0;
      out.setFromUnicode(wide);
      return;
    }
  }
  char ansi[MAX_PATH + 1];
  const DWORD n = GetCurrentDirectoryA(MAX_PATH, ansi);
  if (n > 0 && n < MAX_PATH) {
    ansi[n] = '\0';
    out.setFromAnsi(ansi);
  } else {
    out.clear();
  }
}

void closeFile(HANDLE h) {
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}
