// A charset as the component holds it: the written name and its code page number. Empty
// (no name, code page 0) means no charset chosen.
#pragma once

#include <cstdint>

#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"

class Charset : public VorlundObject {
 public:
  Charset() = default;
  Charset(const Charset&) = delete;
  Charset& operator=(const Charset&) = delete;
  ~Charset() override = default;

  // The code page and its written name; empty when the code page has no written name.
  void setByCodePage(int32_t codePage);
  // Null changes nothing. "default" (exactly) empties; "ansi" and "oem" (any case) take the
  // system's ANSI or OEM code page; a known name keeps its code page even when that has no
  // written name; anything else empties.
  void setByName(const char* name);
  void clear();
  void copyFrom(const Charset& other);
  // Gives the name a block of its own size.
  void minimizeMemory() { name_.minimizeMemory(); }

  const StringBuffer& getName() const { return name_; }
  int32_t getCodePage() const { return codePage_; }

 private:
  StringBuffer name_{1};  // empty exactly when no written name belongs to codePage_
  int32_t codePage_ = 0;  // 0 when none
};
