// Feeds arbitrary header values through encoded-word decoding and the MIME parser: nothing
// may crash, read past its input or loop.
#include <cstddef>
#include <cstdint>

#include "foundation/StringBuffer.h"
#include "mime/ContentCoding.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const uint32_t n = static_cast<uint32_t>(size);
  ContentCoding coding;
  StringBuffer words(text, n, 0);
  coding.decodeWords(words);
  DataBuffer bytes;
  coding.decodeWordsToBytes(text, n, bytes);

  StringBuffer mime(text, n, 0);
  MimeMessage2 entity;
  loadEntity(entity, mime, nullptr);
  return 0;
}
