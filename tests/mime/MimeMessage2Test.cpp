#include <gtest/gtest.h>

#include <string>

#include "tests/mime/ContentTypeEdit.h"
#include "tests/mime/EntityText.h"

namespace {

std::string names(const MimeMessage2& e) {
  std::string all;
  for (int32_t i = 0; i < e.getNumHeaderFields(); ++i) {
    StringBuffer n;
    e.getHeaderFieldName(i, n);
    all += std::string(n.getString()) + ",";
  }
  return all;
}

}  // namespace

TEST(MimeMessage2, HeaderFieldsKeepOrderAndMatchAnyCase) {
  MimeMessage2 e;
  e.setHeaderField("From", "a@example.com");
  e.setHeaderField("Subject", "first");
  e.setHeaderField("To", "b@example.com");
  e.setHeaderField("subject", "second");  // setting moves the field to the end
  EXPECT_EQ(names(e), "From,To,subject,");
  EXPECT_EQ(field(e, "SUBJECT"), "second");
  e.setHeaderField("To", " \t\r\n");
  EXPECT_EQ(names(e), "From,subject,");

  e.header().addField(new MimeField());
  e.setHeaderField("X-Dup", "1");
  auto* dup = new MimeField();
  dup->set("x-dup", "2");
  e.header().addField(dup);
  e.header().removeAll("X-DUP");
  EXPECT_EQ(field(e, "x-dup"), "");

  // Folding is taken out of values; encoded words are decoded on the way in.
  e.setHeaderField("Subject", "=?utf-8?Q?caf=C3=A9?=\r\n\tand more");
  EXPECT_EQ(field(e, "subject"), std::string("caf\xC3\xA9") + "and more");

  // A bare line end cannot smuggle a second field into the header.
  e.setHeaderField("Subject", "hi\r\nBcc: victim@example.com");
  EXPECT_EQ(field(e, "subject"), "hi  Bcc: victim@example.com");
  EXPECT_EQ(field(e, "bcc"), "");
}

TEST(MimeMessage2, ContentTypeAttributesAndTheirField) {
  MimeMessage2 e;
  setContentType(e, "Text/HTML");
  EXPECT_EQ(get(&MimeMessage2::getContentType, e), "Text/HTML");  // case kept when set
  EXPECT_EQ(field(e, "content-type"), "Text/HTML; charset=\"us-ascii\"");
  EXPECT_EQ(e.charset().getCodePage(), 0);  // us-ascii is written, not stored
  e.setHeaderField("X-After", "1");
  setCharset(e, "ISO-8859-1");
  EXPECT_EQ(names(e), "X-After,content-type,");
  EXPECT_EQ(get(&MimeMessage2::getCharsetName, e), "iso-8859-1");

  setTypeField(e, &ContentTypeValue::name, "Report.PDF");
  setTypeField(e, &ContentTypeValue::boundary, "AbC");
  setTypeField(e, &ContentTypeValue::micalg, "SHA1");
  setTypeField(e, &ContentTypeValue::protocol, "application/x-pkcs7-signature");
  EXPECT_EQ(field(e, "content-type"),
            "Text/HTML; charset=\"iso-8859-1\";boundary=\"AbC\";name=\"Report.PDF\";"
            "protocol=\"application/x-pkcs7-signature\";micalg=SHA1");

  // Read back from the header: media type and name lower-cased, boundary as it was.
  e.setHeaderField("Content-Type",
                   "Multipart/Mixed ; boundary = \"a b\" ; NAME=Mixed.Case; charset=\"UTF-8\"");
  EXPECT_EQ(get(&MimeMessage2::getContentType, e), "multipart/mixed");
  EXPECT_EQ(get(&MimeMessage2::getBoundary, e), "a b");
  EXPECT_EQ(get(&MimeMessage2::getName, e), "mixed.case");
  EXPECT_EQ(e.charset().getCodePage(), 65001);
  EXPECT_TRUE(e.isMultipartMixed());
  e.setHeaderField("content-type", "multipart/mixed; boundary=a b");
  EXPECT_EQ(get(&MimeMessage2::getBoundary, e), "ab");  // unquoted blanks go
}

TEST(MimeMessage2, DispositionContentIdAndParts) {
  MimeMessage2 e;
  e.setFilename("My\tReport  \"2024\".pdf");
  EXPECT_EQ(get(&MimeMessage2::getDisposition, e), "attachment");
  EXPECT_TRUE(e.isAttachment());
  e.setHeaderField("content-disposition", "Attachment; filename=\"a;b  c.TXT\"");
  EXPECT_EQ(get(&MimeMessage2::getFilename, e), "a;b c.TXT");  // ";" inside quotes stays
  e.setDispositionOnly("inline");
  EXPECT_EQ(field(e, "content-disposition"), "inline; filename=\"a;b c.TXT\"");
  e.setDispositionOnly("");
  EXPECT_EQ(field(e, "content-disposition"), "");
  e.setHeaderField("content-id", " <id@x>; junk ");
  EXPECT_EQ(get(&MimeMessage2::getContentId, e), "<id@x>");

  MimeMessage2 outer;
  outer.newMultipart(MimeMessage2::MultipartKind::kMixed);
  outer.appendPart(new MimeMessage2());
  outer.removePart(5);  // out of range: nothing happens
  EXPECT_EQ(outer.getNumParts(), 1);
  outer.removePart(0);
  EXPECT_EQ(outer.getNumParts(), 0);
}

TEST(MimeMessage2, BodiesConvertForTextOnly) {
  Charset latin1;
  latin1.setByName("iso-8859-1");
  MimeMessage2 text;
  setContentType(text, "text/plain");
  text.setBodyRaw("caf\xE9", 4, latin1);
  EXPECT_EQ(body(text), "caf\xC3\xA9");
  DataBuffer back;
  text.getBodyBytes(back, 28591);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(back.getData()), back.getSize()), "caf\xE9");

  MimeMessage2 image;
  setContentType(image, "image/png");
  image.setBodyRaw("\x89PNG\xE9", 5, latin1);  // bytes, whatever the charset says
  EXPECT_EQ(image.body().getSize(), 5u);

  MimeMessage2 coded;
  coded.setBodyEncoded("base64", "aGVs*G8=", 8, Charset());  // a foreign byte: empty body
  EXPECT_EQ(coded.body().getSize(), 0u);
}

TEST(MimeMessage2, WholeEntityOperations) {
  MimeMessage2 e;
  e.setHeaderField("Subject", "old");
  e.setBodyRaw("body", 4, Charset());
  e.appendPart(new MimeMessage2());
  e.newMultipart(MimeMessage2::MultipartKind::kAlternative);
  EXPECT_EQ(e.getNumHeaderFields(), 1);
  EXPECT_EQ(e.getNumParts(), 0);
  EXPECT_EQ(e.body().getSize(), 0u);
  const std::string boundary = get(&MimeMessage2::getBoundary, e);
  EXPECT_EQ(field(e, "content-type"), "multipart/alternative;boundary=\"" + boundary + "\"");

  auto* child = new MimeMessage2();
  setContentType(*child, "text/plain");
  e.appendPart(child);
  MimeMessage2 taker;
  taker.copyFrom(e);
  EXPECT_EQ(taker.getNumParts(), 1);
  EXPECT_EQ(taker.getPart(0), child);  // moved, not copied

  MimeMessage2 wrapper;
  wrapper.newMessageRfc822("Subject: inner\r\n\r\nhi");
  EXPECT_EQ(get(&MimeMessage2::getContentType, wrapper), "message/rfc822");
  EXPECT_EQ(wrapper.body().getSize(), 20u);
}
