// Finding the charset that an HTML body declares in a META tag, and the encoding named in
// an XML declaration, so a body can be converted before it is stored in an entity.
//
// HtmlHelp holds no state; its operations are static and may be called on an instance as
// well. Every one works in time linear in its input, hostile input included.
#pragma once

#include <cstdint>

#include "foundation/VorlundObject.h"

class LogBase;
class StringBuffer;

class HtmlHelp : public VorlundObject {
 public:
  HtmlHelp() = default;
  ~HtmlHelp() override = default;

  // Replaces `charset` with the charset of the first META tag whose HTTP-EQUIV is
  // "content-type" (any case) and whose content attribute is not empty: the text after
  // "CHARSET=" in the content (any case), up to the first double quote, else the first ";",
  // else the first space, else all of it; without "CHARSET=" there, the tag's own CHARSET
  // attribute, possibly empty. Leaves `charset` untouched when no such tag exists.
  static void getCharsetFromHtml(const StringBuffer& html, StringBuffer& charset);

  // Replaces `out` with the tag in canonical form: "<", the name, then each attribute as a
  // space and its name, with its value (if any) as ="value" (or 'value' when it was single-
  // quoted), and ">". At most 101 attributes are kept; the tag then ends there with no ">".
  // A null log records nothing; otherwise "cleaning_tag" (the input) and one of
  // "clean_tag_1" .. "clean_tag_6" (the result) name how the tag ended.
  static void cleanTag(const StringBuffer& tag, StringBuffer& out, LogBase* log);

  // Replaces `out` with the value of an attribute of a canonical tag: the text after the
  // name (any case) and =" (failing that, =') up to the same quote, trimmed of spaces, tabs,
  // CR and LF, with every backslash turned into "/". Empty when absent or unclosed.
  static void getAttribute(const StringBuffer& cleanTag, const char* name, StringBuffer& out);

  // The encoding of an XML text: after "<?xml" and a later "encoding=" (any case), double
  // quotes and blanks are skipped and the bytes up to the next double quote, space, tab, CR,
  // LF or the end are taken, lower-cased. True with `charset` replaced by them (possibly
  // empty) when both strings were found; false with `charset` untouched otherwise.
  static bool getCharsetFromXmlDeclaration(const char* bytes, uint32_t n, StringBuffer& charset);
};
