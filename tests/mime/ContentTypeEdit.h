// One content-type attribute of an entity changed in a test, the way the members change
// them: the entity's value with that field replaced, written back.
#pragma once

#include "mime/MimeMessage2.h"

inline void setTypeField(MimeMessage2& e, StringBuffer ContentTypeValue::*field, const char* v) {
  ContentTypeValue value;
  e.getContentTypeValue(value);
  (value.*field).setString(v);
  e.setContentTypeValue(value);
}

inline void setContentType(MimeMessage2& e, const char* type) {
  setTypeField(e, &ContentTypeValue::type, type);
}

inline void setCharset(MimeMessage2& e, const char* name) {
  ContentTypeValue value;
  e.getContentTypeValue(value);
  value.charset.setByName(name);
  e.setContentTypeValue(value);
}
