// HTML bodies are scanned for their META charset before they are stored: any bytes must give
// a result without a crash, a read past the text, or more than linear time.
#include <cstddef>
#include <cstdint>

#include "charset/HtmlCharset.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const uint32_t n = static_cast<uint32_t>(size);
  StringBuffer html(text, n, 0);

  StringBuffer charset("untouched");
  HtmlHelp::getCharsetFromHtml(html, charset);

  StringBuffer clean;
  HtmlHelp::cleanTag(html, clean, nullptr);
  // Logging must not change the result.
  LogNull log;
  StringBuffer logged;
  HtmlHelp::cleanTag(html, logged, &log);
  if (!clean.equalsSb(logged)) __builtin_trap();
  // The attribute reader is meant for cleaned tags; feed it one.
  StringBuffer value;
  HtmlHelp::getAttribute(clean, "charset", value);
  return 0;
}
