#include "cli/JsonText.h"

#include <cstdint>

#include "cli/DispatchClient.h"

void appendJsonString(std::string& out, const std::string& utf8) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  uint32_t cp = 0;
  for (size_t i = 0, n; i < utf8.size(); i += n) {
    n = utf8SequenceAt(utf8, i, cp);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      n = 1;
    } else if (cp == '"' || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 15];
    } else {
      out.append(utf8, i, n);
    }
  }
  out += '"';
}
