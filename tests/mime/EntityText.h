// Entities as the tests meet them: loaded from text, and their fields, bodies and written
// form as strings.
#pragma once

#include <memory>
#include <string>

#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"

inline std::string str(const StringBuffer& s) { return std::string(s.getString(), s.getSize()); }

// In a block of exactly its length plus the NUL, so a read past it trips the sanitizer.
inline StringBuffer exact(const std::string& s) {
  return StringBuffer(s.data(), static_cast<uint32_t>(s.size()), 0);
}

inline std::unique_ptr<MimeMessage2> loaded(const std::string& text, LogBase* log = nullptr) {
  auto e = std::make_unique<MimeMessage2>();
  loadEntity(*e, exact(text), log);
  return e;
}

inline std::string field(const MimeMessage2& e, const char* name) {
  StringBuffer out;
  e.getHeaderField(name, out);
  return out.getString();
}

inline std::string body(const MimeMessage2& e) {
  return std::string(reinterpret_cast<const char*>(e.body().getData()), e.body().getSize());
}

inline std::string get(void (MimeMessage2::*getter)(StringBuffer&) const, const MimeMessage2& e) {
  StringBuffer out;
  (e.*getter)(out);
  return out.getString();
}

// The whole entity as the writer writes it.
inline std::string written(const MimeMessage2& e) {
  StringBuffer out;
  writeEntire(e, out);
  return str(out);
}
