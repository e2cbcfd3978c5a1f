#include "mime/MimeField.h"

#include <strings.h>

#include <cstring>

#include "mime/ContentCoding.h"

bool MimeField::nameIs(const char* name) const {
  return name != nullptr && strcasecmp(name_.getString(), name) == 0;
}

void MimeField::normaliseValue(StringBuffer& value) {
  if (value.contains("?Q?") || value.contains("?B?")) ContentCoding().decodeWords(value);
  if (value.containsChar('\n')) {
    value.replaceAll("\r\n\t", "");
    value.replaceAll("\r\n ", "");
  }
  // A line end left inside a value would start a new header line when the field is
  // written, letting a caller's text inject fields; it is kept as a blank instead.
  value.replaceChar('\r', ' ');
  value.replaceChar('\n', ' ');
}

void MimeField::set(const char* name, const char* value) {
  StringBuffer n(name);
  StringBuffer v(value);
  name_.setSb(n);
  value_.setSb(v);
  normaliseValue(value_);
}

bool MimeField::parseLine(const StringBuffer& line) {
  const char* text = line.getString();
  const char* colon = static_cast<const char*>(std::memchr(text, ':', line.getSize()));
  if (colon == nullptr) return false;
  name_.clear();
  name_.appendN(text, colon - text);
  name_.trim2();
  name_.replaceAnyOf(" <>\"'", '-');
  const char* v = colon + 1;
  const char* end = text + line.getSize();
  if (v < end && (*v == ' ' || *v == '\t')) ++v;
  value_.clear();
  value_.appendN(v, end - v);
  value_.trim2();
  normaliseValue(value_);
  return true;
}
