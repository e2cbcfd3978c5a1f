// One MIME entity: an ordered header, a body held as bytes with its transfer encoding
// removed (or, once loaded, as a window on the loaded text until first read), owned sub-parts, and
// the attributes that mirror the content-type, content-disposition, content-id and
// content-transfer-encoding fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "charset/Charset.h"
#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"
#include "mime/MimeHeader.h"

class LogBase;

// The content-type field as the attributes it is written from. An entity gives its current
// value; a caller changes the fields it means to and sets the value back, which writes the
// field once.
struct ContentTypeValue {
  StringBuffer type;
  StringBuffer name;
  StringBuffer protocol;
  StringBuffer micalg;
  Charset charset;
  StringBuffer boundary;
  StringBuffer smimeType;
  StringBuffer typeParam;
};

// Tells a holder outside the tree (a part object of the component) whether the entity it
// points at still exists. The entity marks its anchor dead when it is destroyed; the anchor
// is reference-counted so that it outlives whichever of the two goes first.
class EntityAnchor : public RefCountedObject {
 public:
  bool isAlive() const { return alive_; }

 private:
  friend class MimeMessage2;
  bool alive_ = true;
};

// A loaded message text kept whole, read-only, for the bodies that are still windows on it.
// Each window holds a reference; the text goes when the last of them is decoded or dropped.
class LoadedText : public RefCountedObject {
 public:
  // Takes over the text's block; `text` continues empty.
  explicit LoadedText(StringBuffer& text);
  ~LoadedText() override;
  const char* data() const { return block_; }
  uint32_t size() const { return length_; }
  bool holds(const char* p, uint32_t n) const {
    return p >= block_ && n <= length_ && p - block_ <= static_cast<ptrdiff_t>(length_ - n);
  }

 private:
  char* block_;
  uint32_t length_ = 0;
};

class MimeMessage2 : public VorlundObject {
 public:
  enum class MultipartKind { kMixed, kRelated, kAlternative };

  MimeMessage2() = default;
  MimeMessage2(const MimeMessage2&) = delete;
  MimeMessage2& operator=(const MimeMessage2&) = delete;
  ~MimeMessage2() override;

  // Empties everything: raw text, body, attributes, header, sub-parts.
  void clear();

  // --- attributes, each appended to `out`
  void getContentType(StringBuffer& out) const { out.appendSb(contentType_); }
  void getDisposition(StringBuffer& out) const { out.appendSb(disposition_); }
  void getEncoding(StringBuffer& out) const { out.appendSb(encoding_); }
  void getName(StringBuffer& out) const { out.appendSb(name_); }
  void getFilename(StringBuffer& out) const { out.appendSb(filename_); }
  void getProtocol(StringBuffer& out) const { out.appendSb(protocol_); }
  void getMicalg(StringBuffer& out) const { out.appendSb(micalg_); }
  void getBoundary(StringBuffer& out) const { out.appendSb(boundary_); }
  void getContentId(StringBuffer& out) const { out.appendSb(contentId_); }
  // Only text and message types have a charset to show.
  void getCharsetName(StringBuffer& out) const;
  const Charset& charset() const { return charset_; }
  const StringBuffer& contentType() const { return contentType_; }
  const StringBuffer& boundary() const { return boundary_; }
  const StringBuffer& encoding() const { return encoding_; }
  const StringBuffer& smimeType() const { return smimeType_; }

  // --- header fields
  // The first field's value, encoded words decoded again when it still holds any.
  bool getHeaderField(const char* name, StringBuffer& out) const;
  // Trims both; an empty value removes every field of the name. Keeps the attributes in step.
  void setHeaderField(const char* name, const char* value);
  int32_t getNumHeaderFields() const { return header_.getNumFields(); }
  void getHeaderFieldName(int32_t i, StringBuffer& out) const { header_.getFieldName(i, out); }
  void getHeaderFieldValue(int32_t i, StringBuffer& out) const { header_.getFieldValue(i, out); }
  MimeHeader& header() { return header_; }
  const MimeHeader& header() const { return header_; }

  // --- sub-parts
  int32_t getNumParts() const { return parts_.getSize(); }
  // Null when out of range.
  MimeMessage2* getPart(int32_t index) const { return parts_.getAs<MimeMessage2>(index); }
  // Takes ownership.
  void appendPart(MimeMessage2* part);
  // Deletes the sub-part; nothing when out of range.
  void removePart(int32_t index);
  // Takes the sub-part out of the list and hands it to the caller; null when out of range.
  MimeMessage2* takePart(int32_t index);

  // --- the content-type field and the attributes it is written from
  void getContentTypeValue(ContentTypeValue& out) const;
  // Takes every attribute from the value and writes the field from them.
  void setContentTypeValue(const ContentTypeValue& value);
  // Stores and writes content-transfer-encoding; the body is not touched.
  void setEncoding(const char* encoding);
  // Both empty removes content-disposition.
  void setDisposition(const char* disposition, const char* filename);
  // Keeps the disposition ("attachment" when it was empty and the name is not).
  void setFilename(const char* filename);
  // Keeps the filename; empty removes the field.
  void setDispositionOnly(const char* disposition);

  // --- body
  void setBodyRaw(const void* bytes, uint32_t n, const Charset& charset);
  void setBodyFromQuotedPrintable(const char* text, uint32_t n, const Charset& charset);
  void setBodyFromBase64(const char* text, uint32_t n, const Charset& charset);
  // "base64", "quoted-printable" (any case), or raw for anything else.
  void setBodyEncoded(const char* encoding, const char* text, uint32_t n, const Charset& charset);
  // The same body kept as a window on `loaded` (text lies in it), decoded and converted the
  // first time anything reads it. The decoding and the code page are fixed now, so what the
  // entity becomes in between does not change what the body reads as.
  void setBodyWindow(LoadedText* loaded, const char* encoding, const char* text, uint32_t n,
                     const Charset& charset);
  // The body as body() would give it, without keeping it decoded: a window is decoded into
  // `scratch` (replaced) and the pointer and size set to it; a held body is given as it is.
  void readBody(DataBuffer& scratch, const unsigned char** bytes, uint32_t* n) const;
  // The body in code page `codePage` as getBodyBytes gives it, read straight from a window
  // whose bytes that code page takes to UTF-8 and back unchanged (into `scratch`, replaced);
  // false, nothing given, for any other body.
  bool readBodyInCharset(DataBuffer& scratch, int32_t codePage, const unsigned char** bytes,
                         uint32_t* n) const;
  // About the bytes the body takes when written: the loaded text of a window, else a third
  // more than the held bytes (as base64 would make of them).
  uint32_t writtenSizeHint() const;
  // Stores the bytes as the body, taking their block over; `bytes` continues empty.
  void takeBodyRaw(DataBuffer& bytes, const Charset& charset) { storeBody(bytes, charset); }
  // The loaded text of a body that is still a window read without charset conversion, and
  // whether it is base64 (else its bytes are the text as it stands); false for any other body,
  // quoted-printable windows included.
  bool windowText(const char** text, uint32_t* n, bool* base64) const;
  // The loaded text of a quoted-printable window whose decoded bytes are the bytes written for
  // the body in code page `codePage`, provided each escape in it stands for a byte that
  // `*escapable` marks (null: any byte): a window read without conversion for 0, or one read in
  // its own single-byte charset, which keeps all of ASCII. False for any other body.
  bool quotedPrintableWindow(int32_t codePage, const char** text, uint32_t* n,
                             const bool** escapable) const;
  // The loaded text of a body that is still a quoted-printable window, in whatever charset:
  // the text whose decoded bytes readBodyInCharset gives when it gives any.
  bool quotedPrintableText(const char** text, uint32_t* n) const;
  // Appends the body, converted from UTF-8 to `codePage` unless that is 0 or 65001.
  void getBodyBytes(DataBuffer& out, int32_t codePage) const;
  // The code page whose text a body in `charset` is held as UTF-8 for: the charset's code page
  // when `contentType` begins with "text/" (case as written) and that code page is neither 0,
  // 65001 nor 20127; otherwise 0, and the body is held as the bytes it came as. Storing,
  // writing, saving and reading a body from a file all ask this one question.
  int32_t textCodePage(const Charset& charset) const;
  const DataBuffer& body() const {
    if (window_.loaded != nullptr) keepWindowDecoded();
    return body_;
  }
  DataBuffer& body() {
    if (window_.loaded != nullptr) keepWindowDecoded();
    return body_;
  }
  StringBuffer& rawText() { return rawText_; }
  const StringBuffer& rawText() const { return rawText_; }

  // --- whole-entity operations
  void newMultipart(MultipartKind kind);
  void newMessageRfc822(const char* utf8MimeText);
  // Copies attributes, header and body; MOVES the other's sub-parts here.
  void copyFrom(MimeMessage2& other);
  // Makes this entity hold what `inner` holds, as unwrapping a secured entity does: inner's
  // sub-parts move here after any this one has, inner's body replaces this one's, and
  // inner's header fields replace this one's content fields (the others stay, those of the
  // same name are replaced). `inner` is left without sub-parts.
  void mergeContent(MimeMessage2& inner);

  // --- predicates on the cached attributes
  bool isMultipart() const;
  bool isMultipartMixed() const;
  bool isMultipartSigned() const;
  bool isSignedData() const;
  bool isEncrypted() const;
  bool isAttachment() const;
  // A detached signature: application/x-pkcs7-signature or application/pkcs7-signature.
  bool isSignaturePart() const;
  bool containsEncrypted() const;
  bool containsSigned() const;

  // The entity's anchor, made on first request (entities nobody watches pay nothing). The
  // entity keeps one reference; a holder that keeps the anchor takes its own with addRef.
  EntityAnchor* anchor();

  // Derives the cached attributes again from the header fields.
  void deriveContentType();
  void deriveDisposition();
  void deriveContentId();
  void deriveEncoding();
  // Reads all four attribute groups from the header, then gives the entity's texts blocks
  // of their own size (see minimizeMemory).
  void deriveAllAttributes();
  // Moves every text the entity keeps (attributes, header fields, raw text, body) into a
  // block of its own size. A loaded entity keeps its texts for the life of the tree, and the
  // growth room of a dozen empty texts would cost a message of many tiny parts several
  // kilobytes a part.
  void minimizeMemory();

 private:
  enum class BodyCoding : uint8_t { kRaw, kBase64, kQuotedPrintable };
  // A body not decoded yet: where it lies, how it is decoded, and the code page its text is
  // converted from (0 for none).
  struct BodyWindow {
    LoadedText* loaded = nullptr;
    const char* text = nullptr;
    uint32_t n = 0;
    BodyCoding coding = BodyCoding::kRaw;
    int32_t codePage = 0;
  };
  static BodyCoding codingOf(const char* encoding);
  // Appends the bytes of the transfer encoding's text.
  static void decodeTransfer(BodyCoding coding, const char* text, uint32_t n, DataBuffer& out);
  // The body's bytes as stored (replacing `out`): decoded, then converted to UTF-8 when
  // `codePage` is not 0.
  static void decodeBody(BodyCoding coding, const char* text, uint32_t n, int32_t codePage,
                         DataBuffer& out);
  // Appends the window decoded, in its own charset, when the decoded bytes come back as
  // themselves from UTF-8; false, `out` as it was, otherwise.
  bool appendWindowInOwnCharset(DataBuffer& out) const;
  // Decodes the window into the body and lets go of the loaded text.
  void keepWindowDecoded() const;
  void dropWindow();
  // Stores the decoded bytes, converted to UTF-8 when `textCodePage` names a code page.
  void storeBody(DataBuffer& decoded, const Charset& charset);
  bool isPkcs7Mime() const;

  // The texts an entity keeps start without the usual growth room: most stay empty or
  // short, and a message of many tiny parts would otherwise pay for the room in every part.
  static constexpr int32_t kKeptTextRoom = 1;
  StringBuffer rawText_{kKeptTextRoom};
  // Decoded on first read, which may come through a const path.
  mutable DataBuffer body_;
  mutable BodyWindow window_;
  MimeHeader header_;
  ExtPtrArray parts_;
  StringBuffer contentType_{kKeptTextRoom};
  StringBuffer disposition_{kKeptTextRoom};
  StringBuffer encoding_{kKeptTextRoom};
  StringBuffer name_{kKeptTextRoom};
  StringBuffer filename_{kKeptTextRoom};
  StringBuffer protocol_{kKeptTextRoom};
  StringBuffer micalg_{kKeptTextRoom};
  Charset charset_;
  StringBuffer boundary_{kKeptTextRoom};
  StringBuffer contentId_{kKeptTextRoom};
  StringBuffer smimeType_{kKeptTextRoom};
  StringBuffer typeParam_{kKeptTextRoom};
  EntityAnchor* anchor_ = nullptr;
};

// The reference-counted holder of one entity tree, shared by a Mime object and every part
// object made from it: the tree lives as long as any of them.
class SharedMime : public RefCountedObject {
 public:
  SharedMime() = default;
  MimeMessage2& entity() { return entity_; }

 private:
  MimeMessage2 entity_;
};
