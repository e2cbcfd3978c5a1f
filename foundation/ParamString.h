// A header value with its quoted strings lifted out, so that a scan for ";", "=" or blanks
// never stops inside one. Entry n of the quoted strings stands in the marked text as the
// marker "<[[" n "]]>".
#pragma once

#include <cstdint>

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"

class ParamString : public VorlundObject {
 public:
  ParamString() = default;
  ParamString(const ParamString&) = delete;
  ParamString& operator=(const ParamString&) = delete;
  ~ParamString() override;

  // Empties both parts, then splits the value (nothing more for null, empty, or longer than
  // 100,000,000 bytes). A double quote opens a string that the next double quote, CR or LF
  // ends; the ending byte is dropped. A string still open at the end is dropped with its
  // text, so the marked text then ends in "<[[". Single quotes are ordinary bytes.
  void parse(const char* value);

  const StringBuffer& getMarked() const { return marked_; }
  int32_t getNumQuoted() const { return quoted_.getSize(); }
  // Entry n without its quotes; null outside 0..count-1.
  const StringBuffer* getQuoted(int32_t n) const;

  // Replaces every marker of an entry in `text` by that entry, in double quotes when
  // withQuotes is set. One pass: the text put back is not scanned again, so a quoted string
  // that itself looks like a marker comes back as it was written, and the work stays
  // linear in the text whatever the quoted strings hold.
  void restore(StringBuffer& text, bool withQuotes) const;

 private:
  StringBuffer marked_;
  ExtPtrArray quoted_;  // owned StringBuffers, in order of appearance
};
