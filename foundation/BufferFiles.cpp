// Whole-file loading into the buffers: one size query, one read into reserved room.
#include <strings.h>

#include <cstring>

#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "foundation/FileAccess.h"
#include "foundation/LogBase.h"
#include "foundation/Memory.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"

namespace {

void logSystemError(LogBase& log) {
  StringBuffer osText;
  osText.appendLastWindowsError();
  log.logError(osText.getString());
}

// Replaces the loaded bytes from `start` on according to their byte-order mark: UTF-16 in
// either order becomes UTF-8, a UTF-8 mark is dropped. Text held before `start` is kept.
void applyByteOrderMark(StringBuffer& text, uint32_t start) {
  const uint32_t n = text.getSize() - start;
  const auto* p = reinterpret_cast<const unsigned char*>(text.getString()) + start;
  int32_t fromCp = 0;
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE)
    fromCp = CP_UTF16LE;
  else if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF)
    fromCp = CP_UTF16BE;
  if (fromCp != 0) {
    StringBuffer utf8(static_cast<int32_t>(n + 16));
    convertCodePageSb(fromCp, CP_UTF8, p + 2, n - 2, utf8);
    text.shorten(n);
    text.appendSb(utf8);
    return;
  }
  if (n > 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
    StringBuffer rest(reinterpret_cast<const char*>(p + 3), n - 3, 0);
    text.shorten(n);
    text.appendSb(rest);
  }
}

}  // namespace

bool StringBuffer::loadFile(XString& path, LogBase* log) {
  check();
  LogBase& l = logOrNull(log);
  HANDLE h = openForRead(path, log);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD size = GetFileSize(h, nullptr);
  if (size == 0) {
    closeFile(h);
    return true;
  }
  if (size == INVALID_FILE_SIZE) {
    logSystemError(l);
    l.logData("filename", path.getUtf8());
    l.logError("Failed to get file size");
    closeFile(h);
    return false;
  }
  expectNumBytes(size + 4);
  const uint32_t start = length_;
  DWORD got = 0;
  if (!ReadFile(h, text_ + length_, size, &got, nullptr)) {
    text_[length_] = '\0';
    logSystemError(l);
    l.logData("filename", path.getUtf8());
    l.logError("Failed to read data from file");
    closeFile(h);
    return false;
  }
  if (got != size) {
    text_[length_] = '\0';
    l.logDataLong("filesize", static_cast<int32_t>(size));
    l.logDataLong("bytes_received", static_cast<int32_t>(got));
    l.logData("filename", path.getUtf8());
    l.logError("Failed to read the entire file");
    closeFile(h);
    return false;
  }
  length_ += got;
  text_[length_] = '\0';
  applyByteOrderMark(*this, start);
  closeFile(h);
  return true;
}

StringBuffer* StringBuffer::createFromFile(XString& path, LogBase* log) {
  StringBuffer name;
  const StringBuffer& utf8 = path.getUtf8Sb();
  name.appendN(utf8.getString(), utf8.getSize() > 999 ? 999 : utf8.getSize());
  if (strncasecmp(name.getString(), "file:///", 8) == 0) {
    // The leading "/" of the URL's path is the root of the file system here.
    StringBuffer rest(name.getString() + 7);
    rest.replaceChar('|', ':');
    name.setSb(rest);
  }
  bool ok = false;
  const uint32_t size = fileSizeUtf8(name.getString(), log, ok);
  if (!ok) return nullptr;
  auto* text = new StringBuffer(static_cast<int32_t>(size + 200));
  XString cleaned;
  cleaned.setFromUtf8(name.getString());
  if (!text->loadFile(cleaned, log)) {
    delete text;
    return nullptr;
  }
  return text;
}

namespace {

bool loadIntoDataBuffer(DataBuffer& out, XString& name, LogBase* log) {
  out.clear();
  LogBase& l = logOrNull(log);
  const bool ansi = name.isAnsiCompatible();
  HANDLE h = ansi ? openFileAnsi(name.getAnsi(), FileOpenMode::kRead, log)
                  : openFileWide(name, FileOpenMode::kRead, log);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD size = GetFileSize(h, nullptr);
  if (size == INVALID_FILE_SIZE) {
    logSystemError(l);
    closeFile(h);
    return false;
  }
  if (size == 0) {
    closeFile(h);
    return true;
  }
  auto* block = static_cast<unsigned char*>(vorlundAlloc(size + 4));
  std::memset(block, 0, size + 4);
  out.takeData(block, size);
  DWORD got = 0;
  const BOOL read = ReadFile(h, block, size, &got, nullptr);
  if (!read || got != size) {
    if (!read)
      logSystemError(l);
    else
      l.logError("Failed to read the entire file");
    if (ansi) {
      XString dir;
      getCurrentDirectory(dir);
      l.logData("filename", name.getAnsi());
      l.logData("current_dir", dir.getUtf8());
      if (!read) l.logError("Failed to read the entire file");
    }
    out.clear();
    closeFile(h);
    return false;
  }
  closeFile(h);
  return true;
}

}  // namespace

bool DataBuffer::loadFile(const char* utf8Path, LogBase* log) {
  check();
  XString name;
  name.setFromUtf8(utf8Path);
  return loadIntoDataBuffer(*this, name, log);
}

bool DataBuffer::loadFile(const OLECHAR* widePath, LogBase* log) {
  check();
  XString name;
  name.setFromUnicode(widePath);
  return loadIntoDataBuffer(*this, name, log);
}
