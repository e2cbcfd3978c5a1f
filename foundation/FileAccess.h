// Every file access of the component: opening with a short retry while another process
// holds the file, sizes, whole-file writes, the current directory, and the choice between
// the ANSI and the wide-character file functions. Failures leave fixed messages in the log.
#pragma once

#include <cstdint>

#include "foundation/StringBuffer.h"
#include "platform/FileApi.h"
#include "platform/WinTypes.h"

class LogBase;
class XString;

// The platform version, read on construction.
class WindowsVersion {
 public:
  WindowsVersion();
  virtual ~WindowsVersion() = default;
  // The systems without wide-character file functions.
  bool isWin9x() const;

 private:
  OSVERSIONINFOA info_;
};

enum class FileOpenMode { kRead, kReadWrite, kCreateForWrite };

// INVALID_HANDLE_VALUE on failure, with "Failed to open file (2)" (ANSI) or "(3)" (wide),
// the name and "osErrorInfo" in the log.
HANDLE openFileAnsi(const char* ansiName, FileOpenMode mode, LogBase* log);
HANDLE openFileWide(XString& name, FileOpenMode mode, LogBase* log);

// Wide functions unless the platform lacks them. An empty path fails; openForRead also
// logs "Cannot open file, filename is empty.".
HANDLE openForRead(XString& path, LogBase* log);
HANDLE openForReadWrite(XString& path, LogBase* log);
HANDLE createForWrite(XString& path, LogBase* log);

// The size of a file; ok is true only when a size was read.
uint32_t fileSize(const char* ansiPath, LogBase* log, bool& ok);
uint32_t fileSize(const OLECHAR* widePath, LogBase* log, bool& ok);
uint32_t fileSizeUtf8(const char* utf8Path, LogBase* log, bool& ok);

// Creates or replaces the file with the bytes, in one write; an empty write leaves an empty
// file. False (null or empty name included) with the reason in the log.
bool writeFile(const char* ansiPath, const void* bytes, uint32_t n, LogBase* log);
bool writeFile(const OLECHAR* widePath, const void* bytes, uint32_t n, LogBase* log);
// The wide form first when the name is not ANSI-compatible, falling back to the ANSI form.
bool writeFileUtf8(const char* utf8Path, const void* bytes, uint32_t n, LogBase* log);
// Whether fileSizeUtf8 and writeFileUtf8 reach the file by the name's ANSI form alone: the
// name is ANSI-compatible, or the platform has no wide-character file functions.
bool ansiFormOnly(XString& name);

// A file written in pieces as they are made, so a large text need not be held whole: created
// or replaced as writeFile(ansiPath) does it, with its messages, and in place only once closed
// after every piece was written.
class FileInPieces {
 public:
  explicit FileInPieces(LogBase* log) : log_(log) {}
  // Closes a file still open.
  ~FileInPieces();
  FileInPieces(const FileInPieces&) = delete;
  FileInPieces& operator=(const FileInPieces&) = delete;

  bool open(const char* ansiPath);
  // Through the wide-character functions, with their messages.
  bool openWide(XString& name);
  // False once a write has failed; later pieces are not written.
  bool write(const void* bytes, uint32_t n);
  // False when the file was not opened, a write failed or the close did.
  bool close();

 private:
  LogBase* log_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  StringBuffer name_;
  bool wide_ = false;
  bool failed_ = false;
  DWORD why_ = 0;
};

void getCurrentDirectory(XString& out);
// CloseHandle unless the handle is INVALID_HANDLE_VALUE.
void closeFile(HANDLE h);
