#include "log/LogEntry.h"

#include <cstring>

#include "foundation/Fatal.h"
#include "foundation/Memory.h"

namespace {

constexpr uint16_t kLiveEntry = 220;

char* copyOf(const char* s) {
  if (s == nullptr) return nullptr;
  const size_t n = std::strlen(s);
  auto* copy = static_cast<char*>(vorlundAlloc(n + 1));
  std::memcpy(copy, s, n + 1);
  return copy;
}

}  // namespace

LogEntry::LogEntry(Kind kind, Severity severity, const char* text, const char* keyword)
    : marker_(kLiveEntry),
      kind_(kind),
      severity_(severity),
      text_(copyOf(text)),
      keyword_(copyOf(keyword)) {
  GetLocalTime(&time_);
}

LogEntry::~LogEntry() {
  if (marker_ != kLiveEntry) fatalError("LogEntry destroyed twice");
  vorlundFree(text_);
  vorlundFree(keyword_);
  marker_ = 0;
}

void LogEntry::setText(const char* text) {
  char* copy = copyOf(text);
  vorlundFree(text_);
  text_ = copy;
}
