// The XML form on any bytes: read them as XML into an entity tree, write that tree as XML
// and read the written text back, then write once more; and the same from the bytes read
// as MIME text. Nothing may crash, hang or leak, and the reader must take the XML of any
// tree that is not close to its nesting bound (three elements per entity level) without
// refusing it: its progress then reaches the end of the text.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/ProgressMonitor.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/TreeNode.h"
#include "mime/XmlForm.h"

namespace {

int32_t depth(const MimeMessage2& entity) {
  int32_t deepest = 0;
  for (int32_t i = 0; i < entity.getNumParts(); ++i)
    if (const MimeMessage2* part = entity.getPart(i)) {
      const int32_t d = depth(*part);
      if (d > deepest) deepest = d;
    }
  return deepest + 1;
}

void roundTrip(MimeMessage2& entity) {
  StringBuffer xml;
  writeXmlDocument(entity, xml);
  ProgressMonitor progress;
  std::unique_ptr<MimeMessage2> back(loadXml(xml, nullptr, &progress));
  if (progress.done() != progress.total() && depth(entity) < 300) __builtin_trap();
  if (back) {
    StringBuffer again;
    writeXmlDocument(*back, again);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  const StringBuffer input(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), 0);

  // The bytes as an XML document.
  std::unique_ptr<TreeNode> tree(parseXml(input, nullptr, nullptr));
  std::unique_ptr<MimeMessage2> entity(loadXml(input, nullptr, nullptr));
  if (entity) roundTrip(*entity);

  // The same bytes as MIME text, so the writer also sees every header the parser makes.
  MimeMessage2 mime;
  loadEntity(mime, input, nullptr);
  roundTrip(mime);
  return 0;
}
