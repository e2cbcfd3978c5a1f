#include "charset/Charset.h"

#include <strings.h>

#include <cstring>

#include "charset/CharsetNames.h"
#include "platform/CodePage.h"

void Charset::setByCodePage(int32_t codePage) {
  codePage_ = nameFromCodePage(codePage, name_) ? codePage : 0;
}

void Charset::setByName(const char* name) {
  if (name == nullptr) return;
  if (std::strcmp(name, "default") == 0) {
    clear();
  } else if (strcasecmp(name, "ansi") == 0) {
    setByCodePage(static_cast<int32_t>(GetACP()));
  } else if (strcasecmp(name, "oem") == 0) {
    setByCodePage(static_cast<int32_t>(GetOEMCP()));
  } else {
    codePage_ = codePageFromName(name);
    nameFromCodePage(codePage_, name_);
  }
}

void Charset::clear() {
  name_.clear();
  codePage_ = 0;
}

void Charset::copyFrom(const Charset& other) {
  if (&other == this) return;
  name_.setSb(other.name_);
  codePage_ = other.codePage_;
}
