#include "mime/MimeHeader.h"

#include <strings.h>

#include "foundation/StringBuffer.h"

MimeHeader::~MimeHeader() { fields_.removeAllObjects(); }

void MimeHeader::clear() {
  fields_.removeAllObjects();
  codePage_ = 0;
}

void MimeHeader::getFieldName(int32_t index, StringBuffer& out) const {
  if (const MimeField* f = fieldAt(index)) {
    out.clear();
    out.appendSb(f->name());
  }
}

void MimeHeader::getFieldValue(int32_t index, StringBuffer& out) const {
  if (const MimeField* f = fieldAt(index)) {
    out.clear();
    out.appendSb(f->value());
  }
}

const MimeField* MimeHeader::findFirst(const char* name) const {
  if (name == nullptr) return nullptr;
  for (int32_t i = 0; i < fields_.getSize(); ++i) {
    const MimeField* f = fieldAt(i);
    if (f->nameIs(name)) return f;
  }
  return nullptr;
}

bool MimeHeader::getFirstValue(const char* name, StringBuffer& out) const {
  const MimeField* f = findFirst(name);
  if (f == nullptr) return false;
  out.appendSb(f->value());
  return true;
}

void MimeHeader::removeAll(const char* name) {
  if (name == nullptr) return;
  for (int32_t i = fields_.getSize() - 1; i >= 0; --i) {
    if (fieldAt(i)->nameIs(name)) delete fields_.removeAt(i);
  }
}

void MimeHeader::replaceField(const char* name, const char* value) {
  if (name == nullptr) return;
  // Copied first: the arguments may be the text of a field about to be deleted.
  StringBuffer n(name);
  StringBuffer v(value);
  removeAll(n.getString());
  StringBuffer trimmed(v.getString());
  trimmed.trim2();
  if (trimmed.isEmpty()) return;
  auto* field = new MimeField();
  field->set(n.getString(), v.getString());
  fields_.appendPtr(field);
}

void MimeHeader::addField(MimeField* field) {
  if (field != nullptr) fields_.appendPtr(field);
}

void MimeHeader::copyFrom(const MimeHeader& other) {
  if (&other == this) return;
  clear();
  for (int32_t i = 0; i < other.getNumFields(); ++i) {
    const MimeField* f = other.fieldAt(i);
    auto* copy = new MimeField();
    copy->set(f->name().getString(), f->value().getString());
    fields_.appendPtr(copy);
  }
}

void MimeHeader::mergeFrom(const MimeHeader& other) {
  if (&other == this) return;
  for (int32_t i = 0; i < other.getNumFields(); ++i) {
    const MimeField* f = other.fieldAt(i);
    replaceField(f->name().getString(), f->value().getString());
  }
}

void MimeHeader::minimizeMemory() {
  for (int32_t i = 0; i < fields_.getSize(); ++i) fields_.getAs<MimeField>(i)->minimizeMemory();
}
