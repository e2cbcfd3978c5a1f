// Reads a MIME file, loads it into an entity tree and writes the tree back out, so an
// independent parser can compare the two texts.
//   vorlund_roundtrip_tool <in> <out>                  MIME text straight back
//   vorlund_roundtrip_tool --xml <in> <out> <xml-out>  through the XML form: the tree is
//       written as XML (kept in <xml-out> for a look of its own), the XML is loaded into a
//       new tree, and that tree is written as MIME text to <out>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "charset/EncodingConvert.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"
#include "mime/XmlForm.h"
#include "platform/CodePage.h"

namespace {

bool readFile(const char* path, StringBuffer& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::perror(path);
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.appendN(bytes.data(), static_cast<int64_t>(bytes.size()));
  return true;
}

bool writeFile(const char* path, const StringBuffer& text) {
  std::ofstream out(path, std::ios::binary);
  out.write(text.getString(), text.getSize());
  out.close();
  if (!out) std::perror(path);
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  // The component runs on Western-European Windows systems; pin that ANSI code page so the
  // result does not depend on this machine's locale.
  setCodePagesForTesting(1252, 437);
  const ScopedCodePageConverter engine(convertWithEngine);
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
