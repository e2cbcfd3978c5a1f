#include "mime/Rfc822Address.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "mime/ContentCoding.h"
#include "mime/TreeNode.h"

namespace {

// Reserving stops here; a text keeps growing past it on its own, up to its 2 GB limit.
constexpr uint64_t kMaxRoom = 0x40000000;

bool isNameTail(char c) { return c == '<' || c == '"' || c == '\'' || c == ' '; }

void replaceText(StringBuffer& text, const char* bytes, uint32_t n) {
  text.clear();
  text.appendN(bytes, n);
}

// The text without its backslash-quote pairs, trimmed of spaces and tabs; trimming last keeps
// it trimmed when a pair sat at an end.
void makeSource(const StringBuffer& text, StringBuffer& source) {
  const char* p = text.getString();
  const uint32_t n = text.getSize();
  source.expectNumBytes(n);
  uint32_t run = 0;
  for (uint32_t i = 0; i + 1 < n; ++i) {
    if (p[i] != '\\' || p[i + 1] != '"') continue;
    source.appendN(p + run, i - run);
    run = i + 2;
    ++i;
  }
  source.appendN(p + run, n - run);
  source.trim();
}

// The display name in s[0, opener), where `opener` is the space or "<" in front of the
// address. Quotes around the name are dropped; comments in parentheses stay part of it.
void takeDisplayName(const char* s, uint32_t opener, StringBuffer& name) {
  uint32_t start = 0;
  while (start < opener && (s[start] == '"' || s[start] == '\'')) ++start;
  const void* quote = std::memchr(s + start, '"', opener - start);
  uint32_t end =
      quote != nullptr ? static_cast<uint32_t>(static_cast<const char*>(quote) - s) : opener;
  while (end > start && isNameTail(s[end - 1])) --end;
  name.appendN(s + start, end - start);
  name.trim();
}

// The list value on one line: CR and LF dropped, the tab that continued a folded line
// read as a space.
void unfoldList(const StringBuffer& text, StringBuffer& out) {
  const char* p = text.getString();
  uint32_t begin = 0;
  uint32_t end = text.getSize();
  while (begin < end && (p[begin] == ' ' || p[begin] == '\t')) ++begin;
  while (end > begin && (p[end - 1] == ' ' || p[end - 1] == '\t')) --end;
  out.expectNumBytes(end - begin);
  bool afterLf = false;
  for (uint32_t i = begin; i < end; ++i) {
    char c = p[i];
    if (c == '\n') {
      afterLf = true;
      continue;
    }
    if (c == '\r') continue;
    if (c == '\t' && afterLf) c = ' ';
    afterLf = false;
    out.appendChar(c);
  }
}

// The key under which duplicate addresses meet: ASCII letters folded to lower case.
std::string foldedAddress(const StringBuffer& address) {
  std::string key(address.getString(), address.getSize());
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return key;
}

void appendXmlText(StringBuffer& out, const StringBuffer& text) {
  out.appendEntityEncodedNoQuotes(text.getString(), text.getSize());
}

void appendChild(StringBuffer& out, const char* tag, const StringBuffer& text) {
  out.append("\t<");
  out.append(tag);
  if (text.isEmpty()) {
    out.append("/>\n");
    return;
  }
  out.append(">");
  appendXmlText(out, text);
  out.append("</");
  out.append(tag);
  out.append(">\n");
}

}  // namespace

AddressFieldKind Rfc822ParseHelp::addressFieldKind(const char* fieldName) {
  if (fieldName == nullptr) return AddressFieldKind::kNone;
  for (const char* name : {"return-path", "from", "sender", "reply-to"})
    if (strcasecmp(fieldName, name) == 0) return AddressFieldKind::kMailbox;
  for (const char* name : {"to", "cc", "x-rcpt-to"})
    if (strcasecmp(fieldName, name) == 0) return AddressFieldKind::kList;
  return AddressFieldKind::kNone;
}

Rfc822Address* Rfc822ParseHelp::parseAddress(const StringBuffer& text) {
  if (text.isEmpty() || text.containsNoCase("undisclosed recipient") ||
      text.containsNoCase("undisclosed-recipient"))
    return nullptr;
  auto mailbox = std::make_unique<Rfc822Address>();
  makeSource(text, mailbox->source);
  const char* s = mailbox->source.getString();
  const uint32_t n = mailbox->source.getSize();
  const void* at = std::memchr(s, '@', n);
  if (at == nullptr) return nullptr;

  // The addr-spec is the run around the first at sign up to a space or an angle bracket, so
  // it never holds a space.
  uint32_t begin = static_cast<uint32_t>(static_cast<const char*>(at) - s);
  uint32_t end = begin;
  while (begin > 0 && s[begin - 1] != ' ' && s[begin - 1] != '<') --begin;
  while (end < n && s[end] != ' ' && s[end] != '>') ++end;
  mailbox->address.appendN(s + begin, end - begin);
  mailbox->valid = true;

  StringBuffer& name = mailbox->displayName;
  if (begin > 0) takeDisplayName(s, begin - 1, name);
  if (name.equalsSb(mailbox->address)) name.clear();
  const ContentCoding coder;
  // "?8bit?" words are how raw UTF-8 names travel through the XML form.
  if (name.containsNoCase("?8bit?")) {
    DataBuffer raw;
    coder.decodeWordsToBytes(name.getString(), name.getSize(), raw);
    replaceText(name, reinterpret_cast<const char*>(raw.getData()), raw.getSize());
  }
  if (!name.is7bit()) {
    StringBuffer word;
    // Q at most triples the bytes; room up front spares regrowing a long name.
    word.expectNumBytes(
        static_cast<uint32_t>(std::min<uint64_t>(name.getSize() * 3ULL + 16, kMaxRoom)));
    coder.encodeWordForCharset(name.getString(), name.getSize(), "utf-8", word);
    replaceText(name, word.getString(), word.getSize());
  }
  return mailbox.release();
}

int32_t Rfc822ParseHelp::parseAddressList(const StringBuffer& text, ExtPtrArray& list) {
  // A set rather than a scan of the list, so long lists stay linear.
  std::unordered_set<std::string> seen;
  for (int32_t i = 0; i < list.getSize(); ++i)
    if (const auto* held = list.getAs<Rfc822Address>(i)) seen.insert(foldedAddress(held->address));

  StringBuffer flat;
  unfoldList(text, flat);
  ExtPtrArray pieces;
  flat.split(pieces, ',', true, true);
  int32_t found = 0;
  for (int32_t i = 0; i < pieces.getSize(); ++i) {
    Rfc822Address* mailbox = parseAddress(*pieces.getAs<StringBuffer>(i));
    if (mailbox == nullptr) continue;
    ++found;
    if (seen.insert(foldedAddress(mailbox->address)).second) {
      list.appendPtr(mailbox);
    } else {
      delete mailbox;
    }
  }
  pieces.removeAllObjects();
  return found;
}

void Rfc822ParseHelp::writeAddressXml(const Rfc822Address& address, StringBuffer& out) {
  out.append("<address>\n");
  appendChild(out, "addr", address.address);
  appendChild(out, "name", address.displayName);
  out.append("</address>");
}

void Rfc822ParseHelp::readAddressesXml(const TreeNode& field, StringBuffer& out) {
  out.append(field.tag());
  out.append(": ");
  bool first = true;
  StringBuffer name;
  for (int32_t i = 0; i < field.numChildren(); ++i) {
    const TreeNode* mailbox = field.child(i);
    if (mailbox == nullptr) continue;
    const TreeNode* addr = mailbox->findChild("addr");
    const TreeNode* nameNode = mailbox->findChild("name");
    if (addr == nullptr || nameNode == nullptr) continue;
    if (!first) out.append(",\n\t");
    first = false;
    name.clear();
    nameNode->getContent(name);
    name.trim2();
    if (name.contains("?8bit?")) {
      DataBuffer raw;
      ContentCoding().decodeWordsToBytes(name.getString(), name.getSize(), raw);
      replaceText(name, reinterpret_cast<const char*>(raw.getData()), raw.getSize());
    }
    if (!name.isEmpty()) {
      out.appendChar('"');
      out.appendSb(name);
      out.append("\" ");
    }
    out.appendChar('<');
    addr->getContent(out);
    out.appendChar('>');
  }
  out.appendChar('\n');
}
