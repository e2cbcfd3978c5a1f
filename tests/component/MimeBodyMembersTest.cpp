// Bodies in every form: from text, HTML, XML, bytes and encoded text, and read back decoded,
// encoded, as bytes and into files.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/component/MimeTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

const std::string kMixed =
    "Gr\xC3\xBC\xC3\x9F"
    "e \xE2\x82\xAC \xCE\xA9";  // Grüße € Ω
const std::string kEAcute = "\xC3\xA9";
const std::string kOmega = "\xCE\xA9";

void setBinary(const MimeRef& m, const std::string& bytes) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!bytes.empty()) std::memcpy(v.parray->pvData, bytes.data(), bytes.size());
  EXPECT_EQ(m->SetBodyFromBinary(v), S_OK);
  VariantClear(&v);
}

void setEncoded(const MimeRef& m, const std::string& encoding, const std::string& body) {
  EXPECT_EQ(m->SetBodyFromEncoded(Bstr(encoding), Bstr(body)), S_OK);
}

}  // namespace

TEST(BodyMembers, TextBodiesAndTheirCharsets) {
  MimeRef m;
  ASSERT_EQ(m->SetBodyFromPlainText(Bstr(kMixed)), S_OK);
  EXPECT_EQ(contentType(m), "text/plain");
  EXPECT_EQ(charsetOf(m), "utf-8");
  EXPECT_EQ(bodyBytes(m), kMixed) << "non-ASCII text arrives whole";

  // A charset set before decides what the body can hold; it is held in UTF-8 and written in
  // that charset.
  MimeRef latin;
  put(latin, &IVorlundMime::put_ContentType, "text/plain");
  put(latin, &IVorlundMime::put_Charset, "iso-8859-1");
  ASSERT_EQ(latin->SetBodyFromPlainText(Bstr("caf" + kEAcute + kOmega)), S_OK);
  EXPECT_EQ(bodyBytes(latin), "caf" + kEAcute) << "latin-1 has no omega";
  const std::string wire = mimeOf(latin);  // the byte E9, read back in code page 1252
  EXPECT_EQ(wire.substr(wire.size() - 7), "\r\ncaf" + kEAcute);

  // The charset of a non-text type does not count: UTF-8 is taken and set.
  MimeRef xml;
  put(xml, &IVorlundMime::put_ContentType, "image/gif");
  put(xml, &IVorlundMime::put_Charset, "iso-8859-1");
  ASSERT_EQ(xml->SetBodyFromXml(Bstr("<a>" + kMixed + "</a>")), S_OK);
  EXPECT_EQ(contentType(xml), "text/xml");
  EXPECT_EQ(charsetOf(xml), "utf-8");
  EXPECT_EQ(bodyBytes(xml), "<a>" + kMixed + "</a>");

  // HTML names its charset in a META tag; without one it is UTF-8.
  MimeRef html;
  ASSERT_EQ(html->SetBodyFromHtml(Bstr("<meta http-equiv=\"Content-Type\" content=\"text/html; "
                                       "charset=iso-8859-1\">caf" +
                                       kEAcute + kOmega)),
            S_OK);
  EXPECT_EQ(charsetOf(html), "") << "the entity's charset is not set from the HTML";
  EXPECT_EQ(bodyBytes(html).substr(bodyBytes(html).size() - 5), "caf" + kEAcute);
}

TEST(BodyMembers, EncodedBodiesAndTheirDefaultTypes) {
  MimeRef m;
  setEncoded(m, "BASE64", "aGVs\r\nbG8=");
  EXPECT_EQ(contentType(m), "application/octet-stream");
  EXPECT_EQ(str(m, &IVorlundMime::GetBodyEncoded), "aGVsbG8=\r\n");

  MimeRef qp;
  setEncoded(qp, "quoted-printable", "caf=E9 =\r\nnext");
  EXPECT_EQ(contentType(qp), "text/plain");
  EXPECT_EQ(bodyBytes(qp), "caf\xE9 next");
  setEncoded(qp, "7bit", "as =E9 is");
  EXPECT_EQ(bodyBytes(qp), "as =E9 is");

  MimeRef typed;
  put(typed, &IVorlundMime::put_ContentType, "image/png");
  setEncoded(typed, "base64", "AAEC");
  EXPECT_EQ(contentType(typed), "image/png") << "a type already set stays";
  EXPECT_EQ(bodyBytes(typed), std::string("\x00\x01\x02", 3));
}

TEST(BodyMembers, BinaryInAndOut) {
  MimeRef m;
  EXPECT_EQ(bodyBytes(m), "") << "an empty body is VT_NULL";
  const std::string bytes("\x00\xFF\x80\x0D\x0A", 5);
  setBinary(m, bytes);
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(m->GetBodyBinary(&v), S_OK);
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  static_cast<unsigned char*>(v.parray->pvData)[0] = 'X';
  VariantClear(&v);
  EXPECT_EQ(bodyBytes(m), bytes) << "the array handed out is a copy";

  // Decoded text has the exact length, NULs included, read in code page 1252.
  Bstr decoded;
  ASSERT_EQ(m->GetBodyDecoded(decoded.out()), S_OK);
  EXPECT_EQ(SysStringLen(decoded), 5u);
  setBinary(m, kEAcute);
  EXPECT_EQ(str(m, &IVorlundMime::GetBodyDecoded), "\xC3\x83\xC2\xA9");

  // Any VARIANT holding data: a string gives its UTF-16 bytes.
  VARIANT s;
  VariantInit(&s);
  s.vt = VT_BSTR;
  s.bstrVal = SysAllocString(u"abc");
  ASSERT_EQ(m->SetBodyFromBinary(s), S_OK);
  VariantClear(&s);
  EXPECT_EQ(bodyBytes(m), std::string("a\0b\0c\0", 6));
}

TEST(BodyMembers, SaveBodyWritesTheCharsetsBytes) {
  TempDir dir;
  MimeRef m;
  put(m, &IVorlundMime::put_ContentType, "text/plain");
  put(m, &IVorlundMime::put_Charset, "iso-8859-1");
  m->SetBodyFromPlainText(Bstr("caf" + kEAcute));
  EXPECT_EQ(withFile(m, &IVorlundMime::SaveBody, dir.file("latin.txt")), 1);
  EXPECT_EQ(readWholeFile(dir.file("latin.txt")), "caf\xE9");

  // A non-text body goes out as it is, whatever charset it carries.
  put(m, &IVorlundMime::put_ContentType, "image/png");
  setBinary(m, "\x89PNG\xE9\xC3");
  EXPECT_EQ(withFile(m, &IVorlundMime::SaveBody, dir.file("i.png")), 1);
  EXPECT_EQ(readWholeFile(dir.file("i.png")), "\x89PNG\xE9\xC3");

  EXPECT_EQ(withFile(m, &IVorlundMime::SaveBody, dir.path()), 0) << "a directory is no file";
  EXPECT_NE(errorText(m).find("Failed to write complete file"), std::string::npos);
}

// Whether a body is held as UTF-8 is decided once: only a "text/" type as written, with a
// charset other than UTF-8 and us-ascii. However the type is written, the bytes that went in
// come out of SaveBody, GetBodyEncoded and GetMime, before and after the text is read back.
TEST(BodyMembers, OneRuleForTextBodiesWhateverTheCaseOfTheType) {
  const std::string latin = "caf\xE9";
  struct Case {
    const char* type;
    const char* charset;
    std::string held;     // what GetBodyBinary hands out
    std::string decoded;  // GetBodyDecoded: the held bytes read in code page 1252
  };
  const std::string utf8ReadAsAnsi = "caf\xC3\x83\xC2\xA9";
  const Case cases[] = {
      {"text/plain", "iso-8859-1", "caf" + kEAcute, utf8ReadAsAnsi},
      {"Text/Plain", "iso-8859-1", latin, "caf" + kEAcute},
      {"TEXT/PLAIN", "iso-8859-1", latin, "caf" + kEAcute},
      {"text/plain", "us-ascii", latin, "caf" + kEAcute},  // us-ascii: text of unknown charset
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.charset);
    MimeRef m;
    put(m, &IVorlundMime::put_ContentType, c.type);
    put(m, &IVorlundMime::put_Charset, c.charset);
    setEncoded(m, "base64", "Y2Fm6Q==");
    EXPECT_EQ(bodyBytes(m), c.held);
    EXPECT_EQ(str(m, &IVorlundMime::GetBodyDecoded), c.decoded);
    EXPECT_EQ(str(m, &IVorlundMime::GetBodyEncoded), "Y2Fm6Q==\r\n");
    EXPECT_EQ(withFile(m, &IVorlundMime::SaveBody, dir.file("body.txt")), 1);
    EXPECT_EQ(readWholeFile(dir.file("body.txt")), latin);
    const std::string wire = mimeOf(m);
    EXPECT_EQ(wire.substr(wire.size() - 14), "\r\n\r\nY2Fm6Q==\r\n");

    MimeRef back;
    ASSERT_EQ(loadMime(back, wire), 1);
    EXPECT_EQ(str(back, &IVorlundMime::GetBodyEncoded), "Y2Fm6Q==\r\n");
    EXPECT_EQ(withFile(back, &IVorlundMime::SaveBody, dir.file("back.txt")), 1);
    EXPECT_EQ(readWholeFile(dir.file("back.txt")), latin);
  }
}
