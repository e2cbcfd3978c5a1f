// The entity tree as MIME text: the header with its values encoded and folded, each body in
// its transfer encoding, and sub-parts between boundary lines. Every line ends in CRLF;
// nothing here fails. Every operation appends to `out`.
//
// The header side (MimeHeader::writeText, MimeHeader::writeTextUnfolded, MimeField::render)
// is declared with those classes.
#pragma once

#include <cstdint>

class MimeMessage2;
class StringBuffer;

// A new boundary made from a fresh UUID: "----=_NextPart_" and parts of the UUID text, 41
// characters ("_.MIX" and its kin are added by the caller).
void makeBoundary(StringBuffer& out);

// The header, a blank line, the preamble line when the entity has sub-parts, then the body.
void writeEntire(const MimeMessage2& entity, StringBuffer& out);

// Takes the text of writeEntireTo in pieces as it is written.
class TextSink {
 public:
  virtual ~TextSink() = default;
  // False stops the writing.
  virtual bool take(const char* text, uint32_t n) = 0;
};

// The text of writeEntire handed to `sink` in pieces of about a megabyte (a piece is longer
// where one body is), so a large message is never held whole. False when the sink refused a
// piece; nothing more is written then.
bool writeEntireTo(const MimeMessage2& entity, TextSink& sink);

// Everything after the header's blank line, without the preamble: a leaf's encoded body, or
// the sub-parts between boundary lines. The first part of a multipart/signed with two parts
// is written from its raw text, byte for byte.
void writeBody(const MimeMessage2& entity, StringBuffer& out);

// A leaf's body in its transfer encoding; text bodies converted from UTF-8 back to their
// charset first.
void getBodyEncoded(const MimeMessage2& entity, StringBuffer& out);
