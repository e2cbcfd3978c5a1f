#include "log/Logger.h"

#include <cstdio>
#include <new>

#include "foundation/FileAccess.h"
#include "foundation/StringBuffer.h"
#include "log/ActivityLog.h"
#include "platform/Time.h"

namespace {

constexpr const char* kXmlDeclaration =
    "<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>\n";

bool isBlank(const char* s) { return s == nullptr || *s == '\0'; }

// Keys are trimmed and their spaces become underscores, so they can name XML elements.
void cleanKey(const char* key, StringBuffer& out) {
  out.setString(key);
  out.trim2();
  out.replaceChar(' ', '_');
}

}  // namespace

Logger::Logger() : log_(new (std::nothrow) ActivityLog()) {}

Logger::~Logger() { delete log_; }

bool Logger::getErrorXml(StringBuffer& out) {
  if (log_ == nullptr) return false;
  log_->renderXml(false, out);
  return true;
}

bool Logger::getErrorHtml(StringBuffer& out) {
  if (log_ == nullptr) return false;
  log_->renderHtml(out);
  return true;
}

bool Logger::getErrorText(StringBuffer& out) {
  if (log_ == nullptr) return false;
  log_->renderText(out);
  return true;
}

bool Logger::logError(const char* text) {
  if (log_ == nullptr || isBlank(text)) return false;
  hadError_ = true;
  log_->recordMessage(LogEntry::kError, text);
  return true;
}

bool Logger::logInfo(const char* text) {
  if (log_ == nullptr || isBlank(text)) return false;
  log_->recordMessage(LogEntry::kInfo, text);
  return true;
}

bool Logger::logDebug(const char* text) {
  if (log_ == nullptr || isBlank(text)) return false;
  log_->recordMessage(LogEntry::kDebug, text);
  return true;
}

bool Logger::logXml(const char* xml) {
  if (log_ == nullptr) return false;
  log_->recordData("__xml__", xml != nullptr ? xml : "");
  return true;
}

bool Logger::clearLog() {
  if (log_ == nullptr) return false;
  hadError_ = false;
  log_->deleteEntries();
  return true;
}

bool Logger::enterContext(const char* name, bool flag) {
  if (log_ == nullptr || isBlank(name)) return false;
  log_->recordContextStart(name, flag);
  return true;
}

bool Logger::leaveContext() {
  if (log_ == nullptr) return false;
  log_->leaveContext();
  return true;
}

bool Logger::logData(const char* key, const char* value) {
  if (log_ == nullptr || key == nullptr) return false;
  StringBuffer cleaned;
  cleanKey(key, cleaned);
  if (cleaned.getSize() == 0) return false;
  log_->recordData(cleaned.getString(), value != nullptr ? value : "");
  return true;
}

bool Logger::logDataLong(const char* key, int32_t value) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%d", value);
  return logData(key, digits);
}

bool Logger::logDataTick(const char* key) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(GetTickCount()));
  return logData(key, digits);
}

bool Logger::clearEntries() {
  if (log_ == nullptr) return false;
  log_->deleteEntries();
  return true;
}

bool Logger::getErrorSummary(StringBuffer& out) {
  if (log_ == nullptr) return false;
  out.appendSb(log_->summaryText());
  return true;
}

bool Logger::getSummaryXml(StringBuffer& out) {
  if (log_ == nullptr) return false;
  out.appendSb(log_->summaryXml());
  return true;
}

bool Logger::saveErrorXml(bool withDates, const OLECHAR* path) {
  if (log_ == nullptr || path == nullptr) return false;
  StringBuffer rendering;
  log_->renderXml(withDates, rendering);
  StringBuffer doc(kXmlDeclaration);
  if (rendering.getSize() == 0)
    doc.append("<VorlundLog>The log is empty</VorlundLog>");
  else
    doc.appendSb(rendering);
  return writeFile(path, doc.getString(), doc.getSize(), nullptr);
}

bool Logger::setEntryLimit(int32_t limit) {
  if (log_ == nullptr) return false;
  log_->setEntryLimit(limit);
  return true;
}

bool Logger::hadError() { return log_ != nullptr && hadError_; }
