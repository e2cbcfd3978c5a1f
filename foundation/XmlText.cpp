#include "foundation/XmlText.h"

#include <string.h>

bool needsCdata(const char* p, uint32_t n) {
  if (p == nullptr) return false;
  bool special = false;
  for (uint32_t i = 0; i < n && !special; ++i) {
    const char c = p[i];
    special = c == '\n' || c == '\t' || c == '&' || c == '>' || c == '<';
  }
  if (!special) return false;
  return !(memmem(p, n, "<![CDATA[", 9) != nullptr && memmem(p, n, "]]>", 3) != nullptr);
}
