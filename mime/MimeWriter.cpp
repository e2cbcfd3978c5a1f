#include "mime/MimeWriter.h"

#include <cstring>

#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/ContentCoding.h"
#include "mime/MimeMessage2.h"
#include "platform/CodePage.h"
#include "platform/Uuid.h"

namespace {

constexpr const char* kPreamble = "This is a multi-part message in MIME format.\r\n\r\n";
constexpr size_t kUuidTextLength = 36;
// Keeps the layout of the boundary should the UUID text ever not be had.
constexpr const char* kNullUuidText = "00000000-0000-0000-0000-000000000000";

// The written text is handed on once it is this long, at the end of a part.
constexpr uint32_t kPieceSize = 1 << 20;

// Buffers reused from body to body while a tree is written, so a long message does not take
// fresh memory for every body it decodes or converts; and where the text goes in pieces.
struct BodyScratch {
  DataBuffer decoded;
  DataBuffer converted;
  TextSink* sink = nullptr;
  bool refused = false;
};

// Hands the text written so far to the sink, when there is one and enough text; false once
// the sink has refused a piece.
bool passOn(BodyScratch& scratch, StringBuffer& out, uint32_t atLeast) {
  if (scratch.sink == nullptr || scratch.refused) return !scratch.refused;
  if (out.getSize() < atLeast) return true;
  scratch.refused = !scratch.sink->take(out.getString(), out.getSize());
  out.clear();
  return !scratch.refused;
}

void writeBodyWith(const MimeMessage2& entity, BodyScratch& scratch, StringBuffer& out);
void encodeBodyWith(const MimeMessage2& entity, BodyScratch& scratch, StringBuffer& out);

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
void writePart(const MimeMessage2& part, BodyScratch& scratch, StringBuffer& out) {
  part.header().writeText(out, nullptr, part.charset());
  out.append("\r\n\r\n");
  writeBodyWith(part, scratch, out);
}

// The first part goes out as the bytes that were signed, whatever its header or body say now.
void writeSigned(const MimeMessage2& entity, BodyScratch& scratch, StringBuffer& out) {
  const StringBuffer& boundary = entity.boundary();
  appendDelimiter(boundary, out);
  out.appendSb(entity.getPart(0)->rawText());
  out.append("\r\n");
  appendDelimiter(boundary, out);
  writePart(*entity.getPart(1), scratch, out);
  out.append("\r\n");
  appendCloseDelimiter(boundary, out);
}

void writeBodyWith(const MimeMessage2& entity, BodyScratch& scratch, StringBuffer& out) {
  const int32_t numParts = entity.getNumParts();
  // A signed multipart missing its content or its signature has no signed bytes to keep;
  // it is written like any other multipart so that nothing it does hold is lost.
  if (entity.isMultipartSigned() && numParts >= 2 && entity.getPart(0) != nullptr &&
      entity.getPart(1) != nullptr) {
    writeSigned(entity, scratch, out);
    return;
  }
  if (numParts == 0) {
    encodeBodyWith(entity, scratch, out);
    return;
  }
  const StringBuffer& boundary = entity.boundary();
  for (int32_t i = 0; i < numParts; ++i) {
    const MimeMessage2* part = entity.getPart(i);
    if (part == nullptr) continue;
    appendDelimiter(boundary, out);
    writePart(*part, scratch, out);
    out.append("\r\n");
    if (!passOn(scratch, out, kPieceSize)) return;
  }
  appendCloseDelimiter(boundary, out);
}

// A body still lying undecoded in the loaded text is decoded into the scratch buffer and
// encoded from there, and stays a window: writing a message does not make its tree grow.
void encodeBodyWith(const MimeMessage2& entity, BodyScratch& scratch, StringBuffer& out) {
  const StringBuffer& encoding = entity.encoding();
  const ContentCoding coder;
  const int32_t codePage = entity.textCodePage(entity.charset());
  // A window is written from the loaded text itself where that gives the same bytes: taken
  // as it stands, base64 broken into lines anew, or quoted-printable in the encoder's form or
  // broken into lines anew from its own tokens (also in its own charset, which the writer
  // would read it back in).
  const char* text = nullptr;
  uint32_t length = 0;
  bool base64 = false;
  const bool toQuotedPrintable = encoding.equalsIgnoreCase("quoted-printable");
  if (codePage == 0 && entity.windowText(&text, &length, &base64)) {
    const bool toBase64 = encoding.equalsIgnoreCase("base64");
    if (base64 && toBase64 && coder.rewrapBase64Lines(text, length, out)) return;
    if (!base64 && !toBase64 && !toQuotedPrintable) {
      out.appendN(text, length);
      return;
    }
  }
  // Quoted-printable text as the encoder writes it, or broken into lines anew.
  auto fromOwnText = [&](const bool* escapable) {
    return coder.copyQuotedPrintableLines(text, length, escapable, out) ||
           coder.rewrapQuotedPrintable(text, length, escapable, out);
  };
  const bool* escapable = nullptr;
  const bool qpWindow =
      toQuotedPrintable && entity.quotedPrintableWindow(codePage, &text, &length, &escapable);
  if (qpWindow && fromOwnText(escapable)) return;
  const unsigned char* bytes = nullptr;
  uint32_t n = 0;
  const bool inCharset = entity.readBodyInCharset(scratch.decoded, codePage, &bytes, &n);
  // In a double-byte charset the window is known to read as its decoded bytes only once they
  // are checked; its own text then stands for them as well.
  if (inCharset && toQuotedPrintable && !qpWindow && entity.quotedPrintableText(&text, &length) &&
      fromOwnText(nullptr))
    return;
  if (!inCharset) entity.readBody(scratch.decoded, &bytes, &n);
  if (n > 0 && codePage != 0 && !inCharset) {
    // Text bodies are held in UTF-8; on the wire they are in the charset they are labelled
    // with. A charset the engine cannot serve leaves the UTF-8 bytes rather than nothing.
    scratch.converted.setSize(0);
    convertCodePage(CP_UTF8, codePage, bytes, n, scratch.converted);
    if (scratch.converted.getSize() > 0) {
      bytes = scratch.converted.getData();
      n = scratch.converted.getSize();
    }
  }
  if (encoding.equalsIgnoreCase("base64")) {
    coder.encodeBase64Lines(bytes, n, out);
  } else if (toQuotedPrintable) {
    coder.encodeQuotedPrintable(bytes, n, out);
  } else {
    out.expectNumBytes(n);
    out.appendN(reinterpret_cast<const char*>(bytes), n);
  }
}

// About the size of the entity's text: its bodies as written and a little for each part's
// header and boundary lines.
uint64_t estimatedSize(const MimeMessage2& entity) {
  uint64_t n = 256 + entity.writtenSizeHint();
  for (int32_t i = 0; i < entity.getNumParts(); ++i)
    if (const MimeMessage2* part = entity.getPart(i)) n += estimatedSize(*part);
  return n;
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

namespace {

void writeEntireWith(const MimeMessage2& entity, BodyScratch& scratch, StringBuffer& out) {
  entity.header().writeText(out, nullptr, entity.charset());
  out.append("\r\n\r\n");
  if (entity.getNumParts() > 0) out.append(kPreamble);
  writeBodyWith(entity, scratch, out);
}

}  // namespace

void writeEntire(const MimeMessage2& entity, StringBuffer& out) {
  // Room for the whole text at once: a large message grown by doubling would be copied, and
  // its fresh memory touched, about twice over.
  const uint64_t size = estimatedSize(entity);
  if (size + out.getSize() < 0x7FFF0000ULL) out.expectNumBytes(static_cast<uint32_t>(size));
  BodyScratch scratch;
  writeEntireWith(entity, scratch, out);
}

bool writeEntireTo(const MimeMessage2& entity, TextSink& sink) {
  StringBuffer out;
  BodyScratch scratch;
  scratch.sink = &sink;
  writeEntireWith(entity, scratch, out);
  return passOn(scratch, out, 1);
}

void writeBody(const MimeMessage2& entity, StringBuffer& out) {
  BodyScratch scratch;
  writeBodyWith(entity, scratch, out);
}

void getBodyEncoded(const MimeMessage2& entity, StringBuffer& out) {
  BodyScratch scratch;
  encodeBodyWith(entity, scratch, out);
}
