// Reads a MIME file, loads it into an entity tree and writes the tree back out, so an
// independent parser can compare the two texts. Usage: vorlund_roundtrip_tool <in> <out>
#include <cstdio>
#include <vector>

#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"
#include "platform/CodePage.h"

int main(int argc, char** argv) {
  // The component runs on Western-European Windows systems; pin that ANSI code page so the
  // result does not depend on this machine's locale.
  setCodePagesForTesting(1252, 437);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <input> <output>\n", argv[0]);
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  StringBuffer text;
  std::vector<char> chunk(65536);
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) text.appendN(chunk.data(), n);
  std::fclose(in);

  MimeMessage2 entity;
  loadEntity(entity, text, nullptr);
  StringBuffer out;
  writeEntire(entity, out);

  std::FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  bool ok = std::fwrite(out.getString(), 1, out.getSize(), f) == out.getSize();
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : 1;
}
