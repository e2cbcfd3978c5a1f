// The log interface that every fallible operation writes into, and the do-nothing log used
// when an operation is given none.
#pragma once

#include <cstdint>

#include "platform/WinTypes.h"

class StringBuffer;

class LogBase {
 public:
  virtual ~LogBase() = default;

  // Renderings: each appends to `out`.
  virtual bool getErrorXml(StringBuffer& out) = 0;
  virtual bool getErrorHtml(StringBuffer& out) = 0;
  virtual bool getErrorText(StringBuffer& out) = 0;
  // Records a message, split into one entry per line; false (nothing recorded) when empty.
  virtual bool logError(const char* text) = 0;
  virtual bool logInfo(const char* text) = 0;
  virtual bool logDebug(const char* text) = 0;
  // Records an XML fragment that the XML rendering copies in unescaped.
  virtual bool logXml(const char* xml) = 0;
  // Resets the error flag and deletes every entry.
  virtual bool clearLog() = 0;
  // False, nothing recorded, when the name is empty.
  virtual bool enterContext(const char* name, bool flag) = 0;
  virtual bool leaveContext() = 0;
  // A key/value entry; the key is trimmed and its spaces become "_".
  virtual bool logData(const char* key, const char* value) = 0;
  virtual bool logDataLong(const char* key, int32_t value) = 0;
  virtual bool logDataTick(const char* key) = 0;
  // Deletes every entry but keeps the error flag.
  virtual bool clearEntries() = 0;
  virtual bool getErrorSummary(StringBuffer& out) = 0;
  // Writes the XML document of the log to the file named by the UTF-16 path.
  virtual bool saveErrorXml(bool withDates, const OLECHAR* path) = 0;
  virtual bool setEntryLimit(int32_t limit) = 0;
  // True when logError was called since the last clearLog.
  virtual bool hadError() = 0;
};

class LogNull : public LogBase {
 public:
  bool getErrorXml(StringBuffer&) override { return true; }
  bool getErrorHtml(StringBuffer&) override { return true; }
  bool getErrorText(StringBuffer&) override { return true; }
  bool logError(const char*) override { return true; }
  bool logInfo(const char*) override { return true; }
  bool logDebug(const char*) override { return true; }
  bool logXml(const char*) override { return true; }
  bool clearLog() override { return true; }
  bool enterContext(const char*, bool) override { return true; }
  bool leaveContext() override { return true; }
  bool logData(const char*, const char*) override { return true; }
  bool logDataLong(const char*, int32_t) override { return true; }
  bool logDataTick(const char*) override { return true; }
  bool clearEntries() override { return true; }
  bool getErrorSummary(StringBuffer&) override { return true; }
  bool saveErrorXml(bool, const OLECHAR*) override { return true; }
  bool setEntryLimit(int32_t) override { return true; }
  bool hadError() override { return false; }
};

// Enters a context for the lifetime of the object and leaves it on every path out.
class LogContext {
 public:
  LogContext(LogBase* log, const char* name, bool flag = true) : log_(log) {
    if (log_ != nullptr) log_->enterContext(name, flag);
  }
  ~LogContext() {
    if (log_ != nullptr) log_->leaveContext();
  }
  LogContext(const LogContext&) = delete;
  LogContext& operator=(const LogContext&) = delete;

 private:
  LogBase* log_;
};

// The log to write into: the one given, or a shared do-nothing log.
LogBase& logOrNull(LogBase* log);
