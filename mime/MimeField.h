// One header field: its name with the case kept, and its value held unfolded, with encoded
// words decoded and 8-bit text in UTF-8.
#pragma once

#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"

class Charset;

class MimeField : public VorlundObject {
 public:
  // Ends a folded header line and starts its continuation.
  static constexpr const char* kFold = "\r\n\t";

  MimeField() = default;
  MimeField(const MimeField&) = delete;
  MimeField& operator=(const MimeField&) = delete;

  // Copies both; decodes encoded words ("?Q?" or "?B?") and removes folding from the value.
  void set(const char* name, const char* value);
  // Splits one unfolded header line into name and value; false when it has no ":".
  bool parseLine(const StringBuffer& line);
  // Writes "name: value" with the value encoded and folded for the writing charset.
  void render(StringBuffer& out, const Charset& charset) const;

  const StringBuffer& name() const { return name_; }
  const StringBuffer& value() const { return value_; }
  bool nameIs(const char* name) const;
  // Gives name and value blocks of their own size.
  void minimizeMemory() {
    name_.minimizeMemory();
    value_.minimizeMemory();
  }

 private:
  static void normaliseValue(StringBuffer& value);

  // No growth room to start with: a header's fields live as long as its entity.
  StringBuffer name_{1};
  StringBuffer value_{1};
};
