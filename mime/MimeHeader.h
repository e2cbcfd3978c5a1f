// The ordered header of one entity. Field names match without regard to case; getters act
// on the first match, removal on every match.
#pragma once

#include <cstdint>

#include "foundation/ExtPtrArray.h"
#include "mime/MimeField.h"

class Charset;
class StringBuffer;

class MimeHeader {
 public:
  MimeHeader() = default;
  MimeHeader(const MimeHeader&) = delete;
  MimeHeader& operator=(const MimeHeader&) = delete;
  virtual ~MimeHeader();

  // Deletes all fields; codePage 0.
  void clear();
  int32_t getNumFields() const { return fields_.getSize(); }
  const MimeField* fieldAt(int32_t index) const { return fields_.getAs<MimeField>(index); }
  // Out of range leaves `out` unchanged.
  void getFieldName(int32_t index, StringBuffer& out) const;
  void getFieldValue(int32_t index, StringBuffer& out) const;
  // Appends the value of the first field of that name; false when there is none.
  bool getFirstValue(const char* name, StringBuffer& out) const;
  const MimeField* findFirst(const char* name) const;
  void removeAll(const char* name);
  // Removes every field of the name, then appends (name, value) at the end unless the value
  // is blank: setting a field moves it to the end.
  void replaceField(const char* name, const char* value);
  // Appends without further processing; the header takes ownership.
  void addField(MimeField* field);
  void copyFrom(const MimeHeader& other);
  // Gives every field's texts blocks of their own size.
  void minimizeMemory();
  void mergeFrom(const MimeHeader& other);

  // Clears, then reads the fields from MIME text up to its first blank line.
  void loadFromText(const StringBuffer& text);
  void loadFromText(const char* text, uint32_t n);
  // The header as MIME text, fields encoded and folded, without a final line end. Fields
  // whose name begins with `excludePrefix` (any case) are left out.
  void writeText(StringBuffer& out, const char* excludePrefix, const Charset& charset) const;
  // The same with the folding taken out again.
  void writeTextUnfolded(StringBuffer& out, const char* excludePrefix,
                         const Charset& charset) const;

  int32_t codePage() const { return codePage_; }
  void setCodePage(int32_t cp) { codePage_ = cp; }

 private:
  int32_t codePage_ = 0;
  ExtPtrArray fields_;
};
