// One record of the activity log: a message line, a context start or end, or a key/value.
#pragma once

#include <cstdint>

#include "foundation/VorlundObject.h"
#include "platform/Time.h"

class LogEntry : public VorlundObject {
 public:
  enum Kind : char { kMessage = 'M', kContextStart = 'C', kContextEnd = 'E', kData = 'D' };
  enum Severity : char { kError = 'E', kInfo = 'I', kDebug = 'D', kNone = '0' };

  // Copies `text` and `keyword` (either may be null); stamps the local time.
  LogEntry(Kind kind, Severity severity, const char* text, const char* keyword);
  LogEntry(const LogEntry&) = delete;
  LogEntry& operator=(const LogEntry&) = delete;
  ~LogEntry() override;

  Kind kind() const { return kind_; }
  Severity severity() const { return severity_; }
  // May be null.
  const char* text() const { return text_; }
  const char* keyword() const { return keyword_; }
  // Replaces the text with a copy of `text`.
  void setText(const char* text);
  const SYSTEMTIME& time() const { return time_; }
  bool continuation() const { return continuation_; }
  void setContinuation(bool c) { continuation_ = c; }
  bool contextFlag() const { return contextFlag_; }
  void setContextFlag(bool f) { contextFlag_ = f; }
  // 220 while the entry lives.
  uint16_t marker() const { return marker_; }

 private:
  uint16_t marker_;
  SYSTEMTIME time_;
  Kind kind_;
  Severity severity_;
  char* text_;
  char* keyword_;
  bool continuation_ = false;
  bool contextFlag_ = false;
};
