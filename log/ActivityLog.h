// The entries of one log and the three renderings made from them.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "log/LogEntry.h"

class ActivityLog {
 public:
  ActivityLog();
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;
  ~ActivityLog();

  // One entry per non-empty line of `text` (split at each CR and each LF); later lines are
  // continuations with the two-space indent in front.
  void recordMessage(LogEntry::Severity severity, const char* text);
  void recordData(const char* key, const char* value);
  void recordContextStart(const char* name, bool flag);
  // Closes the innermost context; an empty context leaves no trace.
  void leaveContext();
  void deleteEntries();

  // Each line followed by CR LF; errors and information only.
  void renderText(StringBuffer& out);
  // Each line followed by "<br>", entity-escaped.
  void renderHtml(StringBuffer& out);
  // The XML document of entries [first, end); `summary`, when given, gains the plain form.
  void renderXml(int32_t first, int32_t end, bool withDates, bool crlf, StringBuffer& out,
                 StringBuffer* summary);
  void renderXml(bool withDates, StringBuffer& out) {
    renderXml(0, entries_.getSize(), withDates, false, out, nullptr);
  }

  int32_t numEntries() const { return entries_.getSize(); }
  const LogEntry* entryAt(int32_t i) const { return entries_.getAs<LogEntry>(i); }
  const StringBuffer& summaryText() const { return summaryText_; }
  const StringBuffer& summaryXml() const { return summaryXml_; }
  void setEntryLimit(int32_t limit) { entryLimit_ = limit; }

  // Entries of one message text, or of one data key, that the log keeps between two
  // deleteEntries calls; further ones are counted in a single entry instead.
  static constexpr int32_t kMaxRepeats = 1000;

 private:
  void renderLines(StringBuffer& out);
  void renderEntry(const LogEntry& e, const char* text, StringBuffer& out);
  int32_t findContextStart(int32_t before) const;
  // The last of the continuation lines that follow the message entry `i`, before `end`;
  // `i` itself when none follow.
  int32_t lastContinuation(int32_t i, int32_t end) const;
  // False when `what` (a message text or a data key, told apart by `kind`) has been recorded
  // kMaxRepeats times already; the entry that counts the rest is then kept up to date.
  bool admit(LogEntry::Kind kind, const char* what);
  // Writes the counts into the entries that stand for left-out repeats.
  void settleOmissions();

  struct Repeats {
    int32_t seen = 0;
    LogEntry* omission = nullptr;  // owned by entries_
  };

  StringBuffer template_;
  ExtPtrArray entries_;
  StringBuffer continuationIndent_;
  bool htmlEscape_ = false;
  StringBuffer summaryText_;
  bool contextError_ = false;
  StringBuffer summaryXml_;
  // A hostile input can make one call log the same text millions of times; counting per
  // text keeps the log, and the time spent on it, bounded by the number of distinct texts.
  std::unordered_map<std::string, Repeats> repeats_;
  bool omissionsStale_ = false;
  int32_t entryLimit_ = 15000;  // kept for callers that set it; the log does not enforce it
};
