// Reads a MIME file, loads it into an entity tree and writes the tree back out, so an
// independent parser can compare the two texts.
//   vorlund_roundtrip_tool <in> <out>                  MIME text straight back
//   vorlund_roundtrip_tool --xml <in> <out> <xml-out>  through the XML form: the tree is
//       written as XML (kept in <xml-out> for a look of its own), the XML is loaded into a
//       new tree, and that tree is written as MIME text to <out>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"
#include "mime/XmlForm.h"
#include "platform/CodePage.h"

namespace {

bool readFile(const char* path, StringBuffer& text) {
  std::FILE* in = std::fopen(path, "rb");
  if (in == nullptr) {
    std::perror(path);
    return false;
  }
  std::vector<char> chunk(65536);
  size_t n;
  while ((n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) text.appendN(chunk.data(), n);
  std::fclose(in);
  return true;
}

bool writeFile(const char* path, const StringBuffer& text) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) {
    std::perror(path);
    return false;
  }
  bool ok = std::fwrite(text.getString(), 1, text.getSize(), f) == text.getSize();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  // The component runs on Western-European Windows systems; pin that ANSI code page so the
  // result does not depend on this machine's locale.
  setCodePagesForTesting(1252, 437);
  const bool xml = argc == 5 && std::strcmp(argv[1], "--xml") == 0;
  if (argc != 3 && !xml) {
    std::fprintf(stderr, "usage: %s <input> <output>\n       %s --xml <input> <output> <xml>\n",
                 argv[0], argv[0]);
    return 2;
  }
  const char* inPath = argv[xml ? 2 : 1];
  const char* outPath = argv[xml ? 3 : 2];
  StringBuffer text;
  if (!readFile(inPath, text)) return 1;

  MimeMessage2 entity;
  loadEntity(entity, text, nullptr);
  StringBuffer out;
  if (!xml) {
    writeEntire(entity, out);
    return writeFile(outPath, out) ? 0 : 1;
  }
  StringBuffer form;
  writeXmlDocument(entity, form);
  if (!writeFile(argv[4], form)) return 1;
  std::unique_ptr<MimeMessage2> back(loadXml(form, nullptr, nullptr));
  if (!back) {
    std::fprintf(stderr, "%s: the XML form did not load\n", inPath);
    return 1;
  }
  writeEntire(*back, out);
  return writeFile(outPath, out) ? 0 : 1;
}
