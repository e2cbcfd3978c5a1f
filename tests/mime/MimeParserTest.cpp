#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "log/Logger.h"
#include "mime/XmlForm.h"
#include "tests/mime/EntityText.h"

namespace {

const char* kMixed =
    "From: a@example.com\r\n"
    "Subject: hello\r\n"
    "\tworld\r\n"
    "Content-Type: multipart/mixed; boundary=\"XX\"\r\n"
    "\r\n"
    "preamble\r\n"
    "--XX\r\n"
    "Content-Type: text/plain; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n"
    "\r\n"
    "caf=E9\r\n"
    "--XX\r\n"
    "Content-Type: application/octet-stream; name=\"A.BIN\"\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "Content-Disposition: attachment; filename=\"A.bin\"\r\n"
    "\r\n"
    "AAEC\r\n"
    "--XX--\r\n"
    "epilogue\r\n";

}  // namespace

TEST(MimeParser, MultipartWithEncodedParts) {
  auto e = loaded(kMixed);
  EXPECT_EQ(field(*e, "subject"), "helloworld");  // continuation joins without a blank
  ASSERT_EQ(e->getNumParts(), 2);
  const MimeMessage2& text = *e->getPart(0);
  EXPECT_EQ(body(text), "caf\xC3\xA9");  // decoded, then converted to UTF-8
  const MimeMessage2& bin = *e->getPart(1);
  EXPECT_EQ(body(bin), std::string("\x00\x01\x02", 3));
  EXPECT_EQ(get(&MimeMessage2::getName, bin), "a.bin");
  EXPECT_TRUE(bin.isAttachment());

  // The same message with LF line ends parses alike; stored bodies get CRLF.
  std::string lf = kMixed;
  for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  auto f = loaded(lf);
  ASSERT_EQ(f->getNumParts(), 2);
  EXPECT_EQ(body(*f->getPart(0)), "caf\xC3\xA9");
}

TEST(MimeParser, HeaderOddities) {
  auto e = loaded(
      "From someone@example.com Mon Jan  1 00:00:00 2024\r\n"
      "Content-Type: text/plain\r\n"
      "Subject: =?utf-8?Q?a?=\r\n"
      "  =?utf-8?Q?b?=\r\n"
      "no colon here\r\n"
      "Bad Name<x>: v\r\n"
      "Content-Type: text/html\r\n"
      "\r\n"
      "body");
  EXPECT_EQ(field(*e, "subject"), "ab");  // adjacent encoded words join
  EXPECT_EQ(field(*e, "content-type"), "text/html");
  EXPECT_EQ(field(*e, "Bad-Name-x-"), "v");
  StringBuffer last;
  e->getHeaderFieldName(2, last);
  EXPECT_STREQ(last.getString(), "Content-Type");  // only the last one stays, at the end
  EXPECT_EQ(e->getNumHeaderFields(), 3);

  // Raw 8-bit header bytes: read as the ANSI code page when that reads them.
  auto raw = loaded("Subject: caf\xE9\r\n\r\nx");
  EXPECT_EQ(field(*raw, "subject"), "caf\xC3\xA9");
  EXPECT_EQ(raw->header().codePage(), 1252);
  auto labelled = loaded("Subject: =?ISO-8859-2?Q?x?= \xB1\r\n\r\nx");
  EXPECT_EQ(labelled->header().codePage(), 28592);
  EXPECT_EQ(field(*labelled, "subject"), "x \xC4\x85");
}

TEST(MimeParser, MissingPiecesGiveATree) {
  auto blank = loaded("\r\n\r\njust a body");
  EXPECT_EQ(blank->getNumHeaderFields(), 0);
  EXPECT_EQ(body(*blank), "just a body");

  // A part with an empty header keeps every paragraph of its body.
  auto emptyHeader = loaded(
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n\r\nfirst\r\n\r\n"
      "second\r\n--b--\r\n");
  ASSERT_EQ(emptyHeader->getNumParts(), 1);
  EXPECT_EQ(emptyHeader->getPart(0)->getNumHeaderFields(), 0);
  EXPECT_EQ(body(*emptyHeader->getPart(0)), "first\r\n\r\nsecond");

  auto leadingCrlf = loaded("\r\nno header at all");
  EXPECT_EQ(get(&MimeMessage2::getContentType, *leadingCrlf), "text/plain");
  EXPECT_EQ(body(*leadingCrlf), "\r\nno header at all");

  auto unclosed = loaded(
      "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\none\r\n--b\r\n\r\ntwo, "
      "never closed\r\n");
  ASSERT_EQ(unclosed->getNumParts(), 2);
  // The part runs to the end, less its last two bytes; with its header missing, the
  // blank line makes it a text/plain part whose body keeps the leading line end.
  EXPECT_EQ(body(*unclosed->getPart(1)), "\r\ntwo, never closed");

  auto noBoundary =
      loaded("Content-Type: multipart/mixed; boundary=zz\r\n\r\nX-In: 1\r\n\r\nstuff");
  ASSERT_EQ(noBoundary->getNumParts(), 1);
  EXPECT_EQ(body(*noBoundary->getPart(0)), "(multipart MIME message)");
  EXPECT_EQ(field(*noBoundary->getPart(0), "x-in"), "1");

  auto xhtml = loaded("Content-Type: text/plain\r\n\r\n \r\n<X-HTML><b>hi</b>");
  EXPECT_EQ(get(&MimeMessage2::getContentType, *xhtml), "text/html");
  EXPECT_EQ(body(*xhtml), " \r\n<X-HTML><b>hi</b>");
}

TEST(MimeParser, SignedFirstPartKeepsItsBytesAndNestingIsBounded) {
  const std::string signedText =
      "Content-Type: multipart/signed; protocol=\"application/x-pkcs7-signature\"; "
      "micalg=sha1; boundary=\"S\"\r\n\r\n"
      "--S\r\nContent-Type: text/plain\r\n\r\nsigned  text \r\n--S\r\n"
      "Content-Type: application/x-pkcs7-signature\r\n\r\nsig\r\n--S--\r\n";
  auto s = loaded(signedText);
  ASSERT_EQ(s->getNumParts(), 2);
  EXPECT_STREQ(s->getPart(0)->rawText().getString(),
               "Content-Type: text/plain\r\n\r\nsigned  text ");

  // Runs of CRs before a LF lose three at each level that repairs them. The first signed
  // part is repaired again inside its parent's repaired text, yet keeps that text's bytes.
  auto crRuns = loaded(
      "Content-Type: multipart/signed; boundary=\"S\"\r\r\n\r\r\n--S\r\n"
      "Content-Type: text/plain\r\r\r\r\r\n\r\r\r\r\r\nsigned\r\n--S--\r\n");
  ASSERT_EQ(crRuns->getNumParts(), 1);
  EXPECT_STREQ(crRuns->getPart(0)->rawText().getString(),
               "Content-Type: text/plain\r\r\n\r\r\nsigned");
  EXPECT_EQ(body(*crRuns->getPart(0)), "signed");

  // 60 levels, each separated by a CR run one repair longer than its parent's: every level
  // repairs its text, and the whole tree still comes out.
  auto crSeparator = [](int level) {
    std::string line(4 + 3 * level, '\r');
    line += '\n';
    return line + line;
  };
  std::string runs = "Content-Type: text/plain";
  runs += crSeparator(60);
  runs += "core";
  for (int i = 59; i >= 0; --i) {
    std::string level = "Content-Type: multipart/mixed; boundary=b";
    level += std::to_string(i);
    level += crSeparator(i);
    level.append("--b").append(std::to_string(i)).append("\r\n");
    level += runs;
    level.append("\r\n--b").append(std::to_string(i)).append("--");
    runs.swap(level);
  }
  auto chain = loaded(runs);
  const MimeMessage2* leaf = chain.get();
  for (int i = 0; i < 60; ++i) {
    ASSERT_EQ(leaf->getNumParts(), 1) << "level " << i;
    leaf = leaf->getPart(0);
  }
  EXPECT_EQ(body(*leaf), "core");

  // 100,000 levels: the parser stops at its bound, logs once, and keeps the rest whole.
  std::string deep;
  const int levels = 100000;
  deep.reserve(levels * 60);
  for (int i = 0; i < levels; ++i)
    deep += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "\r\n\r\n--b" +
            std::to_string(i) + "\r\n";
  deep += "Content-Type: text/plain\r\n\r\ncore";
  Logger log;
  auto d = loaded(deep, &log);
  int depth = 0;
  const MimeMessage2* p = d.get();
  while (p->getNumParts() > 0) {
    p = p->getPart(0);
    ++depth;
  }
  EXPECT_EQ(depth, kMaxMimeNesting);
  EXPECT_GT(p->body().getSize(), 0u);
  StringBuffer text;
  log.getErrorText(text);
  EXPECT_NE(std::string(text.getString()).find("nested too deeply"), std::string::npos);
}

TEST(MimeParser, HostileHeadersAndParameters) {
  // 100,000 header lines: the first 1000 count, the rest is dropped without a second pass.
  std::string many;
  many.reserve(100000 * 12);
  for (int i = 0; i < 100000; ++i) many += "X-A: " + std::to_string(i) + "\r\n";
  auto e = loaded(many + "\r\nbody");
  EXPECT_EQ(e->getNumHeaderFields(), 1000);
  EXPECT_EQ(body(*e), "body");

  // One header line of 50 MB, and a body line of 50 MB.
  std::string longLine = "Subject: " + std::string(50u << 20, 'x') + "\r\n\r\n";
  auto big = loaded(longLine + std::string(50u << 20, 'y'));
  EXPECT_EQ(field(*big, "subject").size(), 50u << 20);
  EXPECT_EQ(big->body().getSize(), 50u << 20);

  // 5,000 parameters, an unbalanced quote, an unknown charset and transfer encoding.
  std::string params = "Content-Type: text/plain";
  for (int i = 0; i < 5000; ++i) params += "; p" + std::to_string(i) + "=\"v\"";
  params += "; charset=\"no-such-charset\r\nContent-Transfer-Encoding: x-uuencode-ish\r\n";
  auto p = loaded(params + "Subject: =?utf-8?B?@@@?= =?bogus?Q?caf=E9?= =?\r\n\r\nbytes \xE9");
  EXPECT_EQ(get(&MimeMessage2::getContentType, *p), "text/plain");
  EXPECT_EQ(p->charset().getCodePage(), 0);
  EXPECT_EQ(body(*p), "bytes \xE9");  // unknown coding and charset: the bytes as they came
  EXPECT_FALSE(field(*p, "subject").empty());
}

// A stored body or attribute outlives the load: the growth room a buffer takes while it is
// filled (20,000 bytes for a decoder's output, 200 for an empty text) would make a message
// of 200,000 one-byte parts cost gigabytes.
TEST(MimeParser, TinyPartsKeepBlocksOfTheirOwnSize) {
  std::string m = "Content-Type: multipart/mixed; boundary=p\r\n\r\n";
  for (int i = 0; i < 50; ++i)
    m += "--p\r\n\r\nx\r\n"
         "--p\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n=E9\r\n"
         "--p\r\nContent-Type: application/octet-stream\r\n"
         "Content-Transfer-Encoding: base64\r\n\r\nAA==\r\n";
  m += "--p--\r\n";
  auto checkTree = [](const MimeMessage2& root, const char* how) {
    ASSERT_EQ(root.getNumParts(), 150) << how;
    for (int32_t i = 0; i < root.getNumParts(); ++i) {
      const MimeMessage2& part = *root.getPart(i);
      EXPECT_GT(part.body().getSize(), 0u) << how << " part " << i;
      EXPECT_EQ(part.body().capacity(), part.body().getSize()) << how << " part " << i;
      for (const StringBuffer* text : {&part.contentType(), &part.encoding(), &part.boundary()})
        EXPECT_LE(static_cast<uint32_t>(text->capacity()), text->getSize() + 5)
            << how << " part " << i;
      const MimeField* field = part.header().fieldAt(0);
      ASSERT_NE(field, nullptr);
      EXPECT_LE(static_cast<uint32_t>(field->value().capacity()), field->value().getSize() + 5);
    }
  };
  auto parsed = loaded(m);
  checkTree(*parsed, "parsed");
  StringBuffer xml;
  writeXmlDocument(*parsed, xml);
  std::unique_ptr<MimeMessage2> fromXml(loadXml(xml, nullptr, nullptr));
  ASSERT_NE(fromXml, nullptr);
  checkTree(*fromXml, "from XML");
}
