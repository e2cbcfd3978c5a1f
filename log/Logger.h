// The real log of a Mime object: entries kept in an ActivityLog, rendered as text, HTML and
// XML, with the error flag of the current call.
#pragma once

#include "foundation/LogBase.h"

class ActivityLog;

class Logger : public LogBase {
 public:
  Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;
  ~Logger() override;

  bool getErrorXml(StringBuffer& out) override;
  bool getErrorHtml(StringBuffer& out) override;
  bool getErrorText(StringBuffer& out) override;
  bool logError(const char* text) override;
  bool logInfo(const char* text) override;
  bool logDebug(const char* text) override;
  bool logXml(const char* xml) override;
  bool clearLog() override;
  bool enterContext(const char* name, bool flag) override;
  bool leaveContext() override;
  bool logData(const char* key, const char* value) override;
  bool logDataLong(const char* key, int32_t value) override;
  bool logDataTick(const char* key) override;
  bool clearEntries() override;
  bool getErrorSummary(StringBuffer& out) override;
  bool saveErrorXml(bool withDates, const OLECHAR* path) override;
  bool setEntryLimit(int32_t limit) override;
  bool hadError() override;

  // The XML of the last context that was left with an error (empty when none).
  bool getSummaryXml(StringBuffer& out);

 private:
  ActivityLog* log_;
  bool hadError_ = false;
};
