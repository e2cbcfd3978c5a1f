// Header fields, the content attribute properties and the content-type predicates.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/component/MimeTestSupport.h"

namespace {

std::string fieldNames(const MimeRef& m) {
  std::string all;
  for (LONG i = 0; i < num(m, &IVorlundMime::get_NumHeaderFields); ++i) {
    Bstr name;
    m->GetHeaderFieldName(i, name.out());
    all += name.utf8() + ",";
  }
  return all;
}

std::string fieldValue(const MimeRef& m, LONG index) {
  Bstr value;
  EXPECT_EQ(m->GetHeaderFieldValue(index, value.out()), S_OK);
  return value.utf8();
}

}  // namespace

TEST(HeaderMembers, SetGetAndRemoveFields) {
  MimeRef m;
  setHeader(m, "From", "a@example.com");
  setHeader(m, "Subject", "first");
  setHeader(m, "To", "b@example.com");
  setHeader(m, " Subject ", "  second \r\n");  // both trimmed; setting moves the field last
  EXPECT_EQ(fieldNames(m), "From,To,Subject,");
  EXPECT_EQ(header(m, "SUBJECT"), "second");
  EXPECT_EQ(fieldValue(m, 2), "second");
  EXPECT_EQ(fieldValue(m, 3), "");
  EXPECT_EQ(errorXml(m), "") << "an index out of range is no error";
  setHeader(m, "subject", " \t ");
  setHeader(m, "  ", "no name");
  EXPECT_EQ(fieldNames(m), "From,To,");
}

TEST(HeaderMembers, TextFormsOfArgumentsAndResults) {
  MimeRef m;
  // UTF-8-form members keep every character; ANSI-form ones keep what code page 1252 has.
  const std::string subject = "caf\xC3\xA9 \xE2\x82\xAC \xCE\xA9";
  setHeader(m, "Subject", subject);
  Bstr value;
  ASSERT_EQ(m->GetHeaderField(Bstr("subject"), value.out()), S_OK);
  EXPECT_EQ(value.utf8(), subject);
  put(m, &IVorlundMime::put_Filename, "r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC.txt");
  EXPECT_EQ(str(m, &IVorlundMime::get_Filename), "r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC.txt");
  put(m, &IVorlundMime::put_Filename, "\xCE\xA9.txt");
  EXPECT_NE(str(m, &IVorlundMime::get_Filename), "\xCE\xA9.txt");

  // Encoded words are decoded when read; 8-bit header text arrives in code page 1252.
  ASSERT_EQ(loadMime(m, "Subject: =?iso-8859-1?Q?caf=E9?=\r\nX-Note: na\xC3\xAFve\r\n\r\nbody"), 1);
  EXPECT_EQ(header(m, "subject"), "caf\xC3\xA9");
  EXPECT_EQ(header(m, "x-note"), "na\xC3\xAFve");

  // The head and the body are the two halves of the whole text.
  ASSERT_EQ(loadMime(m, twoPartMessage()), 1);
  const std::string head = str(m, &IVorlundMime::GetEntireHead);
  const std::string body = str(m, &IVorlundMime::GetEntireBody);
  EXPECT_EQ(head.rfind("Subject: two parts\r\n", 0), 0u);
  EXPECT_EQ(body.rfind("--XX\r\n", 0), 0u) << "no preamble before the first boundary";
  EXPECT_EQ(mimeOf(m),
            head + "\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n" + body);
}

TEST(HeaderMembers, AttributeProperties) {
  MimeRef m;
  put(m, &IVorlundMime::put_ContentType, "Text/HTML");
  EXPECT_EQ(contentType(m), "text/html");
  put(m, &IVorlundMime::put_Encoding, " Base64 \r\n");
  EXPECT_EQ(encodingOf(m), "base64");
  EXPECT_EQ(header(m, "content-transfer-encoding"), "Base64");

  put(m, &IVorlundMime::put_Filename, "  report.pdf ");
  EXPECT_EQ(str(m, &IVorlundMime::get_Disposition), "attachment");
  EXPECT_EQ(num(m, &IVorlundMime::IsAttachment), 1);
  put(m, &IVorlundMime::put_Disposition, " Inline ");
  EXPECT_EQ(str(m, &IVorlundMime::get_Disposition), "inline");
  EXPECT_EQ(str(m, &IVorlundMime::get_Filename), "report.pdf");

  put(m, &IVorlundMime::put_Charset, "ISO-8859-1");
  put(m, &IVorlundMime::put_Boundary, "AbC");
  put(m, &IVorlundMime::put_Protocol, "Application/X-Test");
  EXPECT_EQ(str(m, &IVorlundMime::get_Boundary), "AbC");
  EXPECT_EQ(str(m, &IVorlundMime::get_Protocol), "application/x-test");
  EXPECT_EQ(charsetOf(m), "iso-8859-1");
  EXPECT_EQ(contentType(m), "text/html") << "each parameter setter keeps the others";

  // Only text and message types show a charset.
  put(m, &IVorlundMime::put_ContentType, "image/gif");
  put(m, &IVorlundMime::put_Charset, "utf-8");
  EXPECT_EQ(charsetOf(m), "");
  put(m, &IVorlundMime::put_ContentType, "message/rfc822");
  EXPECT_EQ(charsetOf(m), "utf-8");
  EXPECT_EQ(errorXml(m), "");
}

TEST(HeaderMembers, Predicates) {
  using I = IVorlundMime;
  // clang-format off
  const std::vector<LongGetter> all = {
      &I::IsMultipart, &I::IsPlainText, &I::IsHtml, &I::IsXml, &I::IsSigned, &I::IsEncrypted,
      &I::IsMultipartMixed, &I::IsMultipartAlternative, &I::IsMultipartRelated, &I::IsText,
      &I::IsApplicationData, &I::IsImage, &I::IsAudio, &I::IsVideo};
  // clang-format on
  const std::pair<const char*, std::vector<LongGetter>> cases[] = {
      {"TEXT/Plain", {&I::IsPlainText, &I::IsText}},
      {"text/HTML", {&I::IsHtml, &I::IsText}},
      {"Multipart/Mixed", {&I::IsMultipart, &I::IsMultipartMixed}},
      {"multipart/related", {&I::IsMultipart, &I::IsMultipartRelated}},
      {"multipart/signed", {&I::IsMultipart, &I::IsSigned}},
      {"application/x-pkcs7-mime", {&I::IsEncrypted, &I::IsApplicationData}},
      {"image/png", {&I::IsImage}},
      {"audio/basic", {&I::IsAudio}},
      {"video/mpeg", {&I::IsVideo}},
      {"textual/odd", {}}};
  for (const auto& [type, trueOnes] : cases) {
    MimeRef m;
    put(m, &IVorlundMime::put_ContentType, type);
    for (LongGetter member : all) {
      const bool expected = std::find(trueOnes.begin(), trueOnes.end(), member) != trueOnes.end();
      EXPECT_EQ(num(m, member), expected ? 1 : 0) << type;
    }
  }

  MimeRef m;
  ASSERT_EQ(loadMime(m, "Content-Type: application/pkcs7-mime; smime-type=signed-data\r\n\r\nx"),
            1);
  EXPECT_EQ(num(m, &I::IsSigned), 1);
  // Secured parts are found at any depth below.
  ASSERT_EQ(loadMime(m,
                     "Content-Type: multipart/mixed; boundary=\"O\"\r\n\r\n"
                     "--O\r\nContent-Type: multipart/mixed; boundary=\"I\"\r\n\r\n"
                     "--I\r\nContent-Type: application/pkcs7-mime\r\n\r\nAAAA\r\n--I--\r\n"
                     "\r\n--O--\r\n"),
            1);
  EXPECT_EQ(num(m, &I::IsEncrypted), 0);
  EXPECT_EQ(num(m, &I::ContainsEncryptedParts), 1);
  EXPECT_EQ(num(m, &I::ContainsSignedParts), 0);
}
