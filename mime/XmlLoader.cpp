// Building an entity tree from the element tree of an XML form document: each
// "mime_message" element's header is turned back into MIME header text and read by the
// MIME header reader, so the entity gets its fields and attributes exactly as from MIME.
#include <memory>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentCoding.h"
#include "mime/MimeMessage2.h"
#include "mime/Rfc822Address.h"
#include "mime/TreeNode.h"
#include "mime/XmlForm.h"

namespace {

constexpr char kMultipartBody[] = "This is a multi-part message in MIME format.";

// One header line of a plain field element: "tag: content; name="value" ...".
void appendFieldLine(const TreeNode& field, StringBuffer& out) {
  out.append(field.tag());
  out.append(": ");
  StringBuffer content;
  field.getContent(content);
  content.trim2();
  if (content.contains("?8bit?")) {
    // Raw 8-bit text that the writer carried as words: back to the very same bytes.
    DataBuffer raw;
    ContentCoding().decodeWordsToBytes(content.getString(), content.getSize(), raw);
    content.clear();
    content.appendData(raw);
  }
  out.appendSb(content);
  if (const AttributeSet* attributes = field.attributes()) {
    for (int32_t i = 0; i < attributes->count(); ++i) {
      out.append("; ");
      attributes->getName(i, out);
      out.append("=\"");
      attributes->getValue(i, out);
      out.appendChar('"');
    }
  }
  out.appendChar('\n');
}

void headerText(const TreeNode& header, StringBuffer& out) {
  for (int32_t i = 0; i < header.numChildren(); ++i) {
    const TreeNode* field = header.child(i);
    if (field == nullptr) continue;
    if (Rfc822ParseHelp::addressFieldKind(field->tag()) != AddressFieldKind::kNone)
      Rfc822ParseHelp::readAddressesXml(*field, out);
    else
      appendFieldLine(*field, out);
  }
}

}  // namespace

MimeMessage2* entityFromXml(TreeNode& element) {
  const TreeNode* header = element.findChild("header");
  TreeNode* body = element.findChild("body");
  if (header == nullptr || body == nullptr) return nullptr;

  StringBuffer text;
  headerText(*header, text);

  std::vector<std::unique_ptr<MimeMessage2>> parts;
  for (int32_t i = 0; i < body->numChildren(); ++i) {
    TreeNode* subpart = body->child(i);
    if (subpart == nullptr || !subpart->tagEquals("subpart")) continue;
    TreeNode* first = subpart->child(0);
    if (first == nullptr) continue;
    if (MimeMessage2* part = entityFromXml(*first)) parts.emplace_back(part);
    // The elements of a part are not read again: freeing them as the parts are made keeps
    // the element tree and the entity tree from both being whole at once.
    body->deleteChild(i);
  }

  const char* bodyText = body->contentData();
  uint32_t bodySize = body->contentSize();
  if (bodySize == 0 && !parts.empty()) {
    bodyText = kMultipartBody;
    bodySize = sizeof kMultipartBody - 1;
  }

  auto entity = std::make_unique<MimeMessage2>();
  entity->clear();
  entity->header().loadFromText(text);
  entity->deriveAllAttributes();
  entity->setBodyEncoded(entity->encoding().getString(), bodyText, bodySize, entity->charset());
  for (auto& part : parts) entity->appendPart(part.release());
  return entity.release();
}

MimeMessage2* loadXml(const StringBuffer& text, LogBase* log, ProgressMonitor* progress) {
  std::unique_ptr<TreeNode> root(parseXml(text, log, progress));
  if (!root) return nullptr;
  TreeNode* element =
      root->tagEquals("mime_message") ? root.get() : root->findDescendant("mime_message");
  if (element == nullptr) return nullptr;
  return entityFromXml(*element);
}
