#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <regex>
#include <string>

#include "tests/mime/ContentTypeEdit.h"
#include "tests/mime/EntityText.h"
#include "tests/support/TempDir.h"

namespace {

using Kind = MimeMessage2::MultipartKind;

// One field as written in a charset (a name, or "" for none).
std::string field(const char* name, const std::string& value, const char* charset) {
  MimeField f;
  f.set(name, value.c_str());
  Charset cs;
  cs.setByName(charset);
  StringBuffer out;
  f.render(out, cs);
  return str(out);
}

MimeMessage2* part(const char* type, const char* charset, const char* encoding,
                   const std::string& utf8Body) {
  auto* p = new MimeMessage2;
  setContentType(*p, type);
  if (*charset != '\0') setCharset(*p, charset);
  if (*encoding != '\0') p->setEncoding(encoding);
  Charset utf8;
  utf8.setByName("utf-8");
  p->setBodyRaw(utf8Body.data(), static_cast<uint32_t>(utf8Body.size()), utf8);
  return p;
}

std::string bodyOf(const MimeMessage2& e) {
  StringBuffer out;
  getBodyEncoded(e, out);
  return str(out);
}

// Every field and body of a tree, to compare trees.
std::string dump(const MimeMessage2& e) {
  std::string out;
  for (int32_t i = 0; i < e.getNumHeaderFields(); ++i) {
    StringBuffer n, v;
    e.getHeaderFieldName(i, n);
    e.getHeaderFieldValue(i, v);
    out += str(n) + ": " + str(v) + "\n";
  }
  out.append(reinterpret_cast<const char*>(e.body().getData()), e.body().getSize());
  for (int32_t i = 0; i < e.getNumParts(); ++i) {
    out += '[';
    out += dump(*e.getPart(i));
    out += ']';
  }
  return out;
}

// The texts in hex, space-separated, as the Python side prints them.
std::string hex(std::initializer_list<std::string> items) {
  std::string out;
  for (const std::string& t : items) {
    if (!out.empty()) out += ' ';
    for (unsigned char c : t) out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
  }
  return out + "\n";
}

const std::string kCafe = "caf\xc3\xa9";
const std::string kJapanese = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe4\xbb\xb6";
const std::string kCreme =
    "Cr\xc3\xa8me br\xc3\xbbl\xc3\xa9"
    "e for caf\xc3\xa9 lovers";

}  // namespace

TEST(MimeWriter, WritesMultipartLayout) {
  MimeMessage2 m;
  m.newMultipart(Kind::kMixed);
  const std::string bd = str(m.boundary());  // the "4" is the UUID's version digit
  EXPECT_TRUE(std::regex_match(bd, std::regex("----=_NextPart_[0-9a-f]{3}_[0-9a-f]{4}_[0-9a-f]{4}"
                                              "4[0-9a-f]{3}\\.[0-9a-f]{8}_\\.MIX")));
  m.appendPart(part("text/plain", "", "", "one"));
  m.appendPart(part("text/plain", "", "", "two"));
  const std::string sub =
      "--" + bd + "\r\ncontent-type: text/plain;\r\n\t charset=\"us-ascii\"\r\n\r\n";
  const std::string body = sub + "one\r\n" + sub + "two\r\n--" + bd + "--\r\n";
  EXPECT_EQ(written(m), "content-type: multipart/mixed;\r\n\tboundary=\"" + bd + "\"\r\n\r\n" +
                            "This is a multi-part message in MIME format.\r\n\r\n" + body);
  StringBuffer only;
  writeBody(m, only);
  EXPECT_EQ(str(only), body);
  // Nested multiparts get no preamble; a part without header fields gets one blank line.
  auto* inner = new MimeMessage2;
  inner->newMultipart(Kind::kAlternative);
  inner->appendPart(new MimeMessage2);
  inner->getPart(0)->body().append("bare", 4);
  m.appendPart(inner);
  const std::string all = written(m);
  EXPECT_EQ(all.find("This is"), all.rfind("This is"));
  EXPECT_NE(all.find("--" + str(inner->boundary()) + "\r\n\r\nbare\r\n"), std::string::npos);
}

TEST(MimeWriter, WritesSignedContentFromItsRawText) {
  MimeMessage2 s;
  setContentType(s, "multipart/signed");
  setTypeField(s, &ContentTypeValue::boundary, "SB");
  s.appendPart(part("text/plain", "", "", "now changed"));
  s.getPart(0)->rawText().append("Content-Type: text/plain\r\n\r\nsigned bytes");
  s.appendPart(part("application/x-pkcs7-signature", "", "base64", "sig"));
  std::string expected =
      "--SB\r\nContent-Type: text/plain\r\n\r\nsigned bytes\r\n--SB\r\n"
      "content-type: application/x-pkcs7-signature\r\n"
      "content-transfer-encoding: base64\r\n\r\nc2ln\r\n\r\n--SB--\r\n";
  StringBuffer out;
  writeBody(s, out);
  EXPECT_EQ(str(out), expected);
  // Without its signature it is an ordinary multipart, so its content is not lost.
  s.removePart(1);
  EXPECT_NE(written(s).find("\r\n\r\nnow changed\r\n--SB--\r\n"), std::string::npos);
}

TEST(MimeWriter, EncodesBodiesInTheirCharset) {
  std::unique_ptr<MimeMessage2> p(part("text/plain", "iso-8859-1", "", kCafe));
  EXPECT_EQ(bodyOf(*p), "caf\xe9");
  p->setEncoding("Quoted-Printable");
  EXPECT_EQ(bodyOf(*p), "caf=E9");
  p->setEncoding("BASE64");
  EXPECT_EQ(bodyOf(*p), "Y2Fm6Q==\r\n");
  std::unique_ptr<MimeMessage2> hz(part("text/plain", "hz-gb-2312", "", ""));
  hz->body().append(kCafe.data(), uint32_t(kCafe.size()));
  EXPECT_EQ(bodyOf(*hz), kCafe);  // no converter for it: the text is kept, not dropped
  for (const char* cs : {"utf-8", "us-ascii"})
    EXPECT_EQ(bodyOf(*std::unique_ptr<MimeMessage2>(part("text/plain", cs, "8bit", kCafe))), kCafe);
  std::unique_ptr<MimeMessage2> bin(part("application/octet-stream", "", "base64", ""));
  setCharset(*bin, "iso-8859-1");
  for (int i = 0; i < 54; ++i) bin->body().append("\xc3\xa9", 2);
  std::string line;
  while (line.size() < 72) line += "w6nDqcOp";
  EXPECT_EQ(bodyOf(*bin), line + "\r\n" + line + "\r\n\r\n");  // not converted: not text
}

TEST(MimeWriter, WritesFieldValues) {
  const std::string x31(31, 'x'), x32(32, 'x'), n20(20, 'n');
  const std::string ct = "application/octet-stream;\r\n\t name=\"";
  struct {
    const char* name;
    std::string value;
    const char* charset;  // "" for none
    std::string written;  // after "name: "
  } const cases[] = {
      // Plain folding: after ";" from column 21 on, never inside quotes; after "," in long lists.
      {"X-Long-Name", "aaaaaaa; \"q;q;q;q;q;q;q;q;q;q;q;q\"; b; cccccccccccccccccccc; d", "",
       "aaaaaaa;\r\n\t \"q;q;q;q;q;q;q;q;q;q;q;q\";\r\n\t b; cccccccccccccccccccc;\r\n\t d"},
      {"Cc", "Anne <anne@example.com>, Bob <bob@example.com>, Carl <c@example.com>", "iso-8859-1",
       "Anne <anne@example.com>,\r\n\t Bob <bob@example.com>,\r\n\t Carl <c@example.com>"},
      // Words: Q, B, none for 7-bit outside the B charsets, UTF-8 when there is no charset.
      {"Subject", kCafe, "us-ascii", kCafe},
      {"Subject", kCafe, "iso-8859-1", "=?iso-8859-1?Q?caf=E9?="},
      {"Subject", kJapanese, "shift_jis", "=?shift_jis?B?k/qWe4zqgsyMjw==?="},
      {"Subject", kCafe, "", "=?utf-8?Q?caf=C3=A9?="},
      {"Subject", "\xe6\x97\xa5", "iso-2022-jp", "=?iso-2022-jp?B?GyRCRnwbKEI=?="},
      {"Subject", kCafe, "utf-16", "=?utf-8?B?Y2Fmw6k=?="},  // no NUL bytes in the header
      // Structured values: the 35-byte first line, 64-byte lines, quoted parameter values.
      {"content-type", "text/plain; name=" + x31, "shift_jis", "text/plain; name=\"" + x31 + "\""},
      {"content-type", "text/plain; name=" + x32, "shift_jis",
       "text/plain;\r\n\t name=\"" + x32 + "\""},
      {"content-type", "application/octet-stream; name=x; flowed", "shift_jis", ct + "x\"; flowed"},
      {"X", "a;b= \" c \" ; d=e", "utf-8", ";b=\" c \"; d=\"e\""},
      {"content-disposition", "attachment; filename=\"r" + kCafe + "\"", "iso-8859-1",
       "attachment;\r\n\t filename=\"=?iso-8859-1?Q?rcaf=E9?=\""},
      // Only display names become words, the addresses stay; long words fold before one.
      {"From", "<n@x.org>, J" + kCafe + " <j@x.org>, \"M" + kCafe + "\" <m@x.org>, z@x.org",
       "iso-8859-1",
       "<n@x.org>, =?iso-8859-1?Q?Jcaf=E9?= <j@x.org>, =?iso-8859-1?Q?Mcaf=E9?= <m@x.org>, "
       "z@x.org"},
      {"To", n20 + kCafe + " <j@x.org>", "iso-8859-1",
       "=?iso-8859-1?Q?" + n20 + "caf=E9?=\r\n\t <j@x.org>"},
      // Transport fields keep their text: no words, no folding at commas, no charset prefix.
      {"Received", "from a.example (b [10.0.0.1]) by c.example id <q@c>, d, e, f, g; " + kCafe,
       "iso-8859-1",
       "from a.example (b [10.0.0.1]) by c.example id <q@c>, d, e, f, g;\r\n\t caf\xe9"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(field(c.name, c.value, c.charset), std::string(c.name) + ": " + c.written) << c.value;

  // The header's own code page stands in for a missing charset; a given one wins.
  MimeHeader h;
  h.replaceField("Subject", kCafe.c_str());
  h.replaceField("Content-Type", "text/plain; charset=\"iso-8859-1\"");
  h.setCodePage(28591);
  Charset none, latin2;
  latin2.setByName("iso-8859-2");
  StringBuffer a, b, c;
  h.writeText(a, nullptr, none);
  h.writeText(b, "CONTENT-", latin2);
  h.writeTextUnfolded(c, nullptr, none);
  const std::string q = "Subject: =?iso-8859-1?Q?caf=E9?=\r\nContent-Type: text/plain;";
  EXPECT_EQ(str(a), q + "\r\n\t charset=\"iso-8859-1\"");
  EXPECT_EQ(str(b), "Subject: =?iso-8859-2?Q?caf=E9?=");
  EXPECT_EQ(str(c), q + " charset=\"iso-8859-1\"");
}

TEST(MimeWriter, StaysLinearOnLargeInput) {
  const auto start = std::chrono::steady_clock::now();
  std::string list, params, text;
  while (list.size() < (1u << 20)) list += "J" + kCafe + " <j@x.org>, ";
  while (params.size() < (1u << 20)) params += "a; b=" + kCafe + "; ";
  while (text.size() < (1u << 20)) text += kCafe + " ";
  for (const char* cs : {"iso-8859-1", "shift_jis", "us-ascii"})
    for (const std::string* v : {&list, &params, &text})
      EXPECT_GT(field("To", *v, cs).size(), v->size());
  std::unique_ptr<MimeMessage2> big(part("application/octet-stream", "", "base64", ""));
  big->body().append(std::string(50u << 20, 'x').data(), 50u << 20);
  StringBuffer out;
  writeEntire(*big, out);
  EXPECT_GT(out.getSize(), 50u << 20);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(MimeWriter, ReadsBackAndInteroperates) {
  MimeMessage2 m;
  m.newMultipart(Kind::kMixed);
  m.header().setCodePage(28591);
  m.setHeaderField("Subject", kCreme.c_str());
  m.appendPart(part("text/plain", "iso-8859-1", "quoted-printable", "Un " + kCafe + ".\r\n"));
  m.appendPart(part("application/pdf", "", "base64", std::string(300, '\x01') + "\xff"));
  m.getPart(1)->setFilename(("r" + kCafe + ".pdf").c_str());
  std::unique_ptr<MimeMessage2> j(part("text/plain", "shift_jis", "", kJapanese));
  j->setHeaderField("Subject", (kJapanese + kJapanese + kJapanese).c_str());
  MimeMessage2 back;
  StringBuffer text;
  writeEntire(m, text);
  loadEntity(back, text, nullptr);
  EXPECT_EQ(dump(back), dump(m));

  TempDir dir;
  writeWholeFile(dir.file("m.eml"), str(text));
  writeWholeFile(dir.file("j.eml"), written(*j));
  const std::string cmd =
      "python3 -c 'import sys, email, email.policy\n"
      "for f in sys.argv[1:]:\n"
      "  m = email.message_from_bytes(open(f, \"rb\").read(), policy=email.policy.default)\n"
      "  out = [str(m[\"subject\"])]\n"
      "  for p in m.walk():\n"
      "    if not p.is_multipart():\n"
      "      out += [p.get_content_type(), p.get_filename() or \"\", p.get_content()]\n"
      "  print(\" \".join((x.encode() if isinstance(x, str) else x).hex() for x in out))' ";
  FILE* py = popen((cmd + dir.file("m.eml") + " " + dir.file("j.eml")).c_str(), "r");
  ASSERT_NE(py, nullptr);
  std::string got;
  for (char buf[4096]; fgets(buf, sizeof buf, py) != nullptr;) got += buf;
  EXPECT_EQ(pclose(py), 0);
  EXPECT_EQ(got, hex({kCreme, "text/plain", "", "Un " + kCafe + ".\r\n", "application/pdf",
                      "r" + kCafe + ".pdf", std::string(300, '\x01') + "\xff"}) +
                     hex({kJapanese + kJapanese + kJapanese, "text/plain", "", kJapanese}));
}
