#include "mime/MimeWriter.h"

#include <cstring>

#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentCoding.h"
#include "mime/MimeMessage2.h"
#include "platform/Uuid.h"

namespace {

constexpr int32_t kUtf8 = 65001;
constexpr const char* kPreamble = "This is a multi-part message in MIME format.\r\n\r\n";
constexpr size_t kUuidTextLength = 36;
// Keeps the layout of the boundary should the UUID text ever not be had.
constexpr const char* kNullUuidText = "00000000-0000-0000-0000-000000000000";

void appendDelimiter(const StringBuffer& boundary, StringBuffer& out) {
  out.append("--");
  out.appendSb(boundary);
  out.append("\r\n");
}

void appendCloseDelimiter(const StringBuffer& boundary, StringBuffer& out) {
  out.append("--");
  out.appendSb(boundary);
  out.append("--\r\n");
}

// A sub-part after its delimiter line: its header, the blank line, its body.
void writePart(const MimeMessage2& part, StringBuffer& out) {
  part.header().writeText(out, nullptr, part.charset());
  out.append("\r\n\r\n");
  writeBody(part, out);
}

// The first part goes out as the bytes that were signed, whatever its header or body say now.
void writeSigned(const MimeMessage2& entity, StringBuffer& out) {
  const StringBuffer& boundary = entity.boundary();
  appendDelimiter(boundary, out);
  out.appendSb(entity.getPart(0)->rawText());
  out.append("\r\n");
  appendDelimiter(boundary, out);
  writePart(*entity.getPart(1), out);
  out.append("\r\n");
  appendCloseDelimiter(boundary, out);
}

}  // namespace

void makeBoundary(StringBuffer& out) {
  UUID uuid;
  unsigned char* text = nullptr;
  const bool made = UuidCreate(&uuid) == RPC_S_OK && UuidToStringA(&uuid, &text) == RPC_S_OK &&
                    text != nullptr &&
                    std::strlen(reinterpret_cast<const char*>(text)) >= kUuidTextLength;
  const char* t = made ? reinterpret_cast<const char*>(text) : kNullUuidText;
  out.append("----=_NextPart_");
  out.appendN(t, 3);
  out.appendChar('_');
  out.appendN(t + 3, 4);
  out.appendChar('_');
  out.appendN(t + 9, 4);
  out.appendN(t + 14, 4);
  out.appendChar('.');
  out.appendN(t + 24, 8);
  if (text != nullptr) RpcStringFreeA(&text);
}

void writeEntire(const MimeMessage2& entity, StringBuffer& out) {
  entity.header().writeText(out, nullptr, entity.charset());
  out.append("\r\n\r\n");
  if (entity.getNumParts() > 0) out.append(kPreamble);
  writeBody(entity, out);
}

void writeBody(const MimeMessage2& entity, StringBuffer& out) {
  const int32_t numParts = entity.getNumParts();
  // A signed multipart missing its content or its signature has no signed bytes to keep;
  // it is written like any other multipart so that nothing it does hold is lost.
  if (entity.isMultipartSigned() && numParts >= 2 && entity.getPart(0) != nullptr &&
      entity.getPart(1) != nullptr) {
    writeSigned(entity, out);
    return;
  }
  if (numParts == 0) {
    getBodyEncoded(entity, out);
    return;
  }
  const StringBuffer& boundary = entity.boundary();
  for (int32_t i = 0; i < numParts; ++i) {
    const MimeMessage2* part = entity.getPart(i);
    if (part == nullptr) continue;
    appendDelimiter(boundary, out);
    writePart(*part, out);
    out.append("\r\n");
  }
  appendCloseDelimiter(boundary, out);
}

void getBodyEncoded(const MimeMessage2& entity, StringBuffer& out) {
  const DataBuffer& body = entity.body();
  const unsigned char* bytes = body.getData();
  uint32_t n = body.getSize();
  DataBuffer converted;
  const int32_t codePage = entity.textCodePage(entity.charset());
  if (n > 0 && codePage != 0) {
    // Text bodies are held in UTF-8; on the wire they are in the charset they are labelled
    // with. A charset the engine cannot serve leaves the UTF-8 bytes rather than nothing.
    convertCodePage(kUtf8, codePage, bytes, n, converted);
    if (converted.getSize() > 0) {
      bytes = converted.getData();
      n = converted.getSize();
    }
  }
  const StringBuffer& encoding = entity.encoding();
  const ContentCoding coder;
  if (encoding.equalsIgnoreCase("base64")) {
    coder.encodeBase64Lines(bytes, n, out);
  } else if (encoding.equalsIgnoreCase("quoted-printable")) {
    coder.encodeQuotedPrintable(bytes, n, out);
  } else {
    out.expectNumBytes(n);
    out.appendN(reinterpret_cast<const char*>(bytes), n);
  }
}
