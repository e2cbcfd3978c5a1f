#include "log/ActivityLog.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/XmlText.h"

namespace {

constexpr char kIndentStep[] = "    ";
constexpr uint32_t kIndentStepLength = sizeof kIndentStep - 1;

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

bool needsWrapping(const char* s) {
  return s != nullptr && needsCdata(s, static_cast<uint32_t>(std::strlen(s)));
}

void appendDateTime(const SYSTEMTIME& t, StringBuffer& out) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.wMonth, t.wDay, t.wYear,
                t.wHour, t.wMinute, t.wSecond);
  out.append(buf);
}

// Replaces every occurrence of `placeholder` in `line` by `value` when the template holds it.
void fill(StringBuffer& line, const StringBuffer& tmpl, const char* placeholder,
          const char* value) {
  if (value == nullptr || !tmpl.contains(placeholder)) return;
  line.replaceAll(placeholder, value);
}

const char* orEmpty(const char* s) { return s != nullptr ? s : ""; }

const char* messageTag(LogEntry::Severity severity) {
  return severity == LogEntry::kError ? "error" : severity == LogEntry::kDebug ? "debug" : "info";
}

// One XML rendering in progress: where it writes, how deep it is, and the contexts it has
// opened and must close.
class XmlRendering {
 public:
  XmlRendering(const ActivityLog& log, bool withDates, bool crlf, StringBuffer& out,
               StringBuffer* summary)
      : log_(log), withDates_(withDates), nl_(crlf ? "\r\n" : "\n"), out_(out), summary_(summary) {}

  void begin() { writeLine("<VorlundLog>"); }

  void openContext(const char* name) {
    open_.push_back(name);
    out_.appendSb(indent_);
    writeOpenTag(name);
    out_.append(nl_);
    indent_.append(kIndentStep);
    if (StringBuffer* s = summaryLine()) {
      s->appendChar('(');
      s->append(name);
      s->appendChar(')');
    }
  }

  void closeContext() {
    if (open_.empty()) return;
    const char* name = open_.back();
    open_.pop_back();
    indent_.shorten(kIndentStepLength);
    out_.appendSb(indent_);
    writeCloseTag(name);
    out_.append(nl_);
  }

  void writeData(const char* key, const char* value) {
    // A data entry under this key carries ready-made XML, copied as it is.
    if (std::strcmp(key, "__xml__") == 0) {
      writeLine(value);
      return;
    }
    out_.appendSb(indent_);
    writeOpenTag(key);
    writeText(value, needsWrapping(value));
    writeCloseTag(key);
    out_.append(nl_);
    if (StringBuffer* s = summaryLine()) {
      s->append(key);
      s->append(": ");
      s->append(value);
    }
  }

  // The message entry at `first` and its continuation lines up to `last`, as one element.
  void writeMessage(int32_t first, int32_t last) {
    const LogEntry& e = *log_.entryAt(first);
    const char* tag = messageTag(e.severity());
    out_.appendSb(indent_);
    writeStartTag(e, tag);
    const bool wrap = last > first || needsWrapping(e.text());
    if (wrap) out_.append(kCdataStart);
    for (int32_t k = first; k <= last; ++k) {
      const char* text = orEmpty(log_.entryAt(k)->text());
      if (k > first) out_.append(nl_);
      out_.append(text);
      if (e.severity() == LogEntry::kError) {
        if (StringBuffer* s = summaryLine()) {
          if (k > first) s->append(kIndentStep);
          s->append(text);
        }
      }
    }
    if (wrap) out_.append(kCdataEnd);
    writeCloseTag(tag);
    out_.append(nl_);
  }

  // Closes what the entries left open, without indenting, and ends the document.
  void finish() {
    while (!open_.empty()) {
      writeCloseTag(open_.back());
      out_.append(nl_);
      open_.pop_back();
    }
    writeLine("</VorlundLog>");
  }

 private:
  static constexpr const char* kCdataStart = "<![CDATA[";
  static constexpr const char* kCdataEnd = "]]>";

  void writeLine(const char* text) {
    out_.append(text);
    out_.append(nl_);
  }

  void writeOpenTag(const char* name) {
    out_.appendChar('<');
    out_.append(name);
    out_.appendChar('>');
  }

  void writeCloseTag(const char* name) {
    out_.append("</");
    out_.append(name);
    out_.appendChar('>');
  }

  void writeStartTag(const LogEntry& e, const char* tag) {
    out_.appendChar('<');
    out_.append(tag);
    if (withDates_) {
      out_.append(" date=\"");
      appendDateTime(e.time(), out_);
      out_.appendChar('"');
    }
    if (e.keyword() != nullptr && *e.keyword() != '\0') {
      out_.append(" keyword=\"");
      out_.append(e.keyword());
      out_.appendChar('"');
    }
    out_.appendChar('>');
  }

  void writeText(const char* value, bool asCdata) {
    if (asCdata) {
      out_.append(kCdataStart);
      out_.append(value);
      out_.append(kCdataEnd);
      return;
    }
    StringBuffer escaped(value);
    escaped.entityEncodeNoQuotes();
    out_.appendSb(escaped);
  }

  // The summary gains its pieces one per line.
  StringBuffer* summaryLine() {
    if (summary_ != nullptr && summary_->getSize() > 0) summary_->appendChar('\n');
    return summary_;
  }

  const ActivityLog& log_;
  const bool withDates_;
  const char* const nl_;
  StringBuffer& out_;
  StringBuffer* const summary_;
  StringBuffer indent_;
  std::vector<const char*> open_;  // names of the contexts entered and not yet left
};

}  // namespace

ActivityLog::ActivityLog() : template_("_STANDARD_\r\n"), continuationIndent_("  ") {}

ActivityLog::~ActivityLog() { entries_.removeAllObjects(); }

bool ActivityLog::admit(LogEntry::Kind kind, const char* what) {
  std::string key(1, static_cast<char>(kind));
  key.append(what);
  Repeats& r = repeats_[key];
  if (++r.seen <= kMaxRepeats) return true;
  if (r.omission == nullptr) {
    r.omission = new LogEntry(LogEntry::kMessage, LogEntry::kInfo, "", nullptr);
    entries_.appendPtr(r.omission);
  }
  omissionsStale_ = true;
  return false;
}

void ActivityLog::settleOmissions() {
  if (!omissionsStale_) return;
  omissionsStale_ = false;
  for (const auto& [key, r] : repeats_) {
    if (r.omission == nullptr) continue;
    // The first line of a message stands for it: an entry holds one line.
    const std::string what = key.substr(1, key.find_first_of("\r\n", 1) - 1);
    const std::string text =
        std::to_string(r.seen - kMaxRepeats) +
        (key[0] == LogEntry::kData ? " more entries with the key \"" : " more entries \"") + what +
        "\" left out";
    r.omission->setText(text.c_str());
  }
}

void ActivityLog::recordMessage(LogEntry::Severity severity, const char* text) {
  if (!admit(LogEntry::kMessage, text)) {
    if (severity == LogEntry::kError) contextError_ = true;
    return;
  }
  bool first = true;
  const char* p = text;
  while (*p != '\0') {
    const char* end = p;
    while (*end != '\0' && !isLineEnd(*end)) ++end;
    if (end > p) {
      StringBuffer line;
      if (!first) line.appendSb(continuationIndent_);
      line.appendN(p, end - p);
      auto* e = new LogEntry(LogEntry::kMessage, severity, line.getString(), nullptr);
      e->setContinuation(!first);
      entries_.appendPtr(e);
      first = false;
    }
    p = *end != '\0' ? end + 1 : end;
  }
  if (severity == LogEntry::kError) contextError_ = true;
}

void ActivityLog::recordData(const char* key, const char* value) {
  if (!admit(LogEntry::kData, key)) return;
  entries_.appendPtr(new LogEntry(LogEntry::kData, LogEntry::kNone, value, key));
}

void ActivityLog::recordContextStart(const char* name, bool flag) {
  auto* e = new LogEntry(LogEntry::kContextStart, LogEntry::kNone, name, nullptr);
  e->setContextFlag(flag);
  entries_.appendPtr(e);
}

int32_t ActivityLog::findContextStart(int32_t before) const {
  int depth = 1;
  for (int32_t i = before; i >= 0; --i) {
    const LogEntry::Kind k = entryAt(i)->kind();
    if (k == LogEntry::kContextEnd) ++depth;
    if (k == LogEntry::kContextStart && --depth == 0) return i;
  }
  return -1;
}

void ActivityLog::leaveContext() {
  summaryText_.clear();
  const int32_t n = entries_.getSize();
  if (n == 0) return;
  const LogEntry* last = entryAt(n - 1);
  if (last->kind() == LogEntry::kContextStart) {
    delete entries_.pop();
    return;
  }
  entries_.appendPtr(new LogEntry(LogEntry::kContextEnd, LogEntry::kNone, nullptr, nullptr));
  if (!contextError_) return;
  const int32_t start = findContextStart(n - 1);
  if (start < 0 || !entryAt(start)->contextFlag()) return;
  summaryXml_.clear();
  renderXml(start, entries_.getSize(), false, false, summaryXml_, &summaryText_);
  contextError_ = false;
}

void ActivityLog::deleteEntries() {
  entries_.removeAllObjects();
  repeats_.clear();
  omissionsStale_ = false;
}

void ActivityLog::renderEntry(const LogEntry& e, const char* text, StringBuffer& out) {
  const bool isError = e.kind() == LogEntry::kMessage && e.severity() == LogEntry::kError;
  StringBuffer message(text);
  if (htmlEscape_) message.entityEncode();

  const SYSTEMTIME& t = e.time();
  char standard[64];
  std::snprintf(standard, sizeof standard, "%02d/%02d/%04d %02d:%02d %s", t.wMonth, t.wDay, t.wYear,
                t.wHour, t.wMinute, isError ? "ERROR: " : "INFO:  ");
  StringBuffer standardText(standard);
  standardText.appendSb(message);
  StringBuffer dateTime;
  appendDateTime(t, dateTime);
  char mdy[32], dmy[32], hms[32];
  std::snprintf(mdy, sizeof mdy, "%02d/%02d/%04d", t.wMonth, t.wDay, t.wYear);
  std::snprintf(dmy, sizeof dmy, "%02d/%02d/%04d", t.wDay, t.wMonth, t.wYear);
  std::snprintf(hms, sizeof hms, "%02d:%02d:%02d", t.wHour, t.wMinute, t.wSecond);

  StringBuffer line;
  line.setSb(template_);
  fill(line, template_, "_STANDARD_", standardText.getString());
  fill(line, template_, "_KEYWORD_", e.keyword());
  fill(line, template_, "_MESSAGE_", message.getString());
  fill(line, template_, "_DATETIME_", dateTime.getString());
  fill(line, template_, "_STATUS_", isError ? "ERROR" : "INFO");
  fill(line, template_, "_MDY_", mdy);
  fill(line, template_, "_DMY_", dmy);
  fill(line, template_, "_HMS_", hms);
  out.appendSb(line);
}

void ActivityLog::renderLines(StringBuffer& out) {
  settleOmissions();
  const int32_t n = entries_.getSize();
  for (int32_t i = 0; i < n; ++i) {
    const LogEntry& e = *entryAt(i);
    if (e.kind() == LogEntry::kMessage) {
      if (e.severity() == LogEntry::kDebug) continue;
      renderEntry(e, e.text() != nullptr ? e.text() : "", out);
    } else if (e.kind() == LogEntry::kData) {
      StringBuffer text(e.keyword());
      text.append(": ");
      text.append(e.text());
      renderEntry(e, text.getString(), out);
    }
  }
}

void ActivityLog::renderText(StringBuffer& out) {
  template_.setString("_MESSAGE_\r\n");
  htmlEscape_ = false;
  renderLines(out);
}

void ActivityLog::renderHtml(StringBuffer& out) {
  template_.setString("_MESSAGE_<br>");
  htmlEscape_ = true;
  renderLines(out);
  htmlEscape_ = false;
}

void ActivityLog::renderXml(int32_t first, int32_t end, bool withDates, bool crlf,
                            StringBuffer& out, StringBuffer* summary) {
  if (entries_.getSize() == 0) return;
  settleOmissions();
  XmlRendering xml(*this, withDates, crlf, out, summary);
  xml.begin();
  for (int32_t i = first; i < end; ++i) {
    const LogEntry& e = *entryAt(i);
    switch (e.kind()) {
      case LogEntry::kContextStart:
        xml.openContext(orEmpty(e.text()));
        break;
      case LogEntry::kContextEnd:
        xml.closeContext();
        break;
      case LogEntry::kData:
        xml.writeData(orEmpty(e.keyword()), orEmpty(e.text()));
        break;
      case LogEntry::kMessage: {
        const int32_t last = lastContinuation(i, end);
        xml.writeMessage(i, last);
        i = last;
        break;
      }
    }
  }
  xml.finish();
}

int32_t ActivityLog::lastContinuation(int32_t i, int32_t end) const {
  int32_t last = i;
  while (last + 1 < end && entryAt(last + 1)->kind() == LogEntry::kMessage &&
         entryAt(last + 1)->continuation())
    ++last;
  return last;
}
