#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "foundation/ExtPtrArray.h"
#include "mime/Rfc822Address.h"
#include "mime/TreeNode.h"
#include "mime/XmlForm.h"
#include "tests/mime/EntityText.h"

namespace {

using namespace std::string_literals;

std::string xmlOf(MimeMessage2& e) {
  StringBuffer out;
  writeXmlDocument(e, out);
  return str(out);
}

std::unique_ptr<MimeMessage2> fromXml(const std::string& xml) {
  return std::unique_ptr<MimeMessage2>(loadXml(exact(xml), nullptr, nullptr));
}

TEST(XmlWriter, FieldsParametersAndAddresses) {
  auto e = loaded(
      "From: \"Joe Bloggs\" <joe@example.com>\r\n"
      "Reply-To: nobody here <>\r\n"
      "To: undisclosed-recipients:;\r\n"
      "Cc: a@x.com, \"B & Co\" <b@y.org>\r\n"
      "Subject: Hello & <you>\r\n"
      "Message-ID: <abc@x.y>\r\n"
      "Content-Type: Text/Plain; charset=\"iso-8859-1\"; format=flowed\r\n"
      "Content-Disposition: inline; x-a/b=1; flag; size=10; (c)=d\r\n"
      "Content-Transfer-Encoding: 7bit\r\n\r\nLine one\r\nLine two\r\n");
  EXPECT_EQ(xmlOf(*e),
            "<?xml version=\"1.0\" encoding=\"iso-8859-1\" ?>\n"
            "<mime_message>\n<header>\n"
            // A mailbox with a display name; one that does not parse stays escaped text.
            "<from>\n<address>\n\t<addr>joe@example.com</addr>\n\t<name>Joe Bloggs</name>\n"
            "</address>\n</from>\n"
            "<reply-to>\nnobody here &lt;&gt;\n</reply-to>\n"
            // A list without a mailbox is a description; a list of two, two addresses.
            "<to>\n<description>undisclosed-recipients:</description>\n</to>\n"
            "<cc>\n<address>\n\t<addr>a@x.com</addr>\n\t<name/>\n</address>"
            "<address>\n\t<addr>b@y.org</addr>\n\t<name>B &amp; Co</name>\n</address>\n</cc>\n"
            "<subject>Hello &amp; &lt;you&gt;</subject>\n"
            "<message-id>\n&lt;abc@x.y&gt;\n</message-id>\n"
            // Parameters become attributes, the media type is lower-cased on its own line.
            "<content-type charset=\"iso-8859-1\" format=\"flowed\">\ntext/plain\n"
            "</content-type>\n"
            // Keys with "/" or ")" and keys without a value stay in the value.
            "<content-disposition size=\"10\">inline; x-a/b; flag;(c)</content-disposition>\n"
            "<content-transfer-encoding>7bit</content-transfer-encoding>\n"
            "</header>\n<body>\n<![CDATA[Line one\r\nLine two\r\n]]>\n</body>\n</mime_message>\n");
  StringBuffer header;
  EXPECT_EQ(writeXmlHeader(*e, header), 9);

  // Attribute values are escaped with quotes and apostrophes too; 8-bit values in the
  // header text travel as one Q word labelled "8bit", escaped like any text.
  e = loaded(
      "Received: from h\xFCgel <by> x; Mon, 1 Jan 2024\r\n"
      "Content-Type: text/plain; charset=iso-8859-1; x-q=\"a'<b>&\"\r\n\r\nbody");
  StringBuffer out;
  EXPECT_EQ(writeXmlHeader(*e, out), 2);
  EXPECT_EQ(str(out),
            "<header>\n"
            "<received>=?8bit?Q?from_h=FCgel_&lt;by&gt;_x;_Mon,_1_Jan_2024?=</received>\n"
            "<content-type charset=\"iso-8859-1\" x-q=\"a&apos;&lt;b&gt;&amp;\">\n"
            "text/plain\n</content-type>\n"
            "</header>\n");
}

TEST(XmlWriter, ParameterLimitKeepsTheNextField) {
  std::string type = "Content-Type: application/x-test";
  for (int i = 1; i <= 45; ++i) type += "; p" + std::to_string(i) + "=" + std::to_string(i);
  auto e = loaded(type + "\r\nSubject: after\r\n\r\nx");
  StringBuffer out;
  EXPECT_EQ(writeXmlHeader(*e, out), 2);
  const std::string xml = str(out);
  EXPECT_NE(xml.find(" p41=\"41\">\napplication/x-test\n</content-type>\n"), std::string::npos)
      << xml;
  EXPECT_EQ(xml.find("p42"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<subject>after</subject>\n</header>\n"), std::string::npos) << xml;
}

TEST(XmlWriter, BodiesAndEmptyHeaders) {
  // An entity with an empty header writes no element at all, alone or as a sub-part.
  MimeMessage2 bare;
  Charset none;
  bare.setBodyRaw("text", 4, none);
  StringBuffer out;
  writeXmlEntity(bare, out);
  EXPECT_EQ(str(out), "");
  writeXmlDocument(bare, out);
  EXPECT_EQ(str(out), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n");

  // A body with "]]>" is switched to base64, and the entity keeps the switch.
  auto e = loaded("Content-Type: text/plain\r\n\r\nbody ]]> here\r\n");
  EXPECT_EQ(xmlOf(*e),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
            "<mime_message>\n<header>\n<content-type>\ntext/plain\n</content-type>\n"
            "<content-transfer-encoding>base64</content-transfer-encoding>\n</header>\n"
            "<body>\n<![CDATA[Ym9keSBdXT4gaGVyZQ0K\r\n]]>\n</body>\n</mime_message>\n");
  EXPECT_EQ(str(e->encoding()), "base64");
  auto back = fromXml(xmlOf(*e));
  ASSERT_TRUE(back);
  EXPECT_EQ(body(*back), "body ]]> here\r\n");

  // Text without line ends, tabs or markup bytes needs no CDATA; any of them does.
  e = loaded("Subject: s\r\n\r\nplain-text");
  EXPECT_NE(xmlOf(*e).find("<body>\nplain-text\n</body>"), std::string::npos);
  e = loaded("Subject: s\r\n\r\na>b");
  EXPECT_NE(xmlOf(*e).find("<body>\n<![CDATA[a>b]]>\n</body>"), std::string::npos);

  // Sub-parts nest, each in a "subpart" element; one with an empty header is left out.
  e = loaded(
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      "--b\r\nContent-Type: text/plain\r\n\r\none\r\n"
      "--b\r\nContent-Type: image/gif\r\nContent-Transfer-Encoding: "
      "base64\r\n\r\nR0lG\r\n--b--\r\n");
  e->appendPart(new MimeMessage2());
  ASSERT_EQ(e->getNumParts(), 3);
  EXPECT_EQ(xmlOf(*e),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" ?>\n"
            "<mime_message>\n<header>\n"
            "<content-type boundary=\"b\">\nmultipart/mixed\n</content-type>\n</header>\n"
            "<body>\n"
            "<subpart>\n<mime_message>\n<header>\n<content-type>\ntext/plain\n"
            "</content-type>\n</header>\n<body>\none\n</body>\n</mime_message></subpart>\n"
            "<subpart>\n<mime_message>\n<header>\n<content-type>\nimage/gif\n</content-type>\n"
            "<content-transfer-encoding>base64</content-transfer-encoding>\n</header>\n"
            "<body>\n<![CDATA[R0lG\r\n]]>\n</body>\n</mime_message></subpart>\n"
            "\n</body>\n</mime_message>\n");
}

// Every field of a tree that the XML form keeps, in a form that ignores what it does not:
// field order, names' case, the quoting of parameters (compared as attributes) and how
// mailboxes are written (compared parsed).
std::string summary(const MimeMessage2& e, const std::string& indent = "") {
  std::vector<std::string> fields;
  for (int32_t i = 0; i < e.getNumHeaderFields(); ++i) {
    StringBuffer name, value;
    e.getHeaderFieldName(i, name);
    e.getHeaderFieldValue(i, value);
    name.toLower();
    if (name.beginsWith("content-")) continue;
    std::string shown = str(value);
    // Parameters come back quoted.
    shown.erase(std::remove(shown.begin(), shown.end(), '"'), shown.end());
    if (Rfc822ParseHelp::addressFieldKind(name.getString()) != AddressFieldKind::kNone) {
      ExtPtrArray list;
      Rfc822ParseHelp::parseAddressList(value, list);
      shown.clear();
      for (int32_t k = 0; k < list.getSize(); ++k)
        shown += str(list.getAs<Rfc822Address>(k)->displayName) + " <" +
                 str(list.getAs<Rfc822Address>(k)->address) + "> ";
      list.removeAllObjects();
    }
    fields.push_back(str(name) + ": " + shown);
  }
  std::sort(fields.begin(), fields.end());
  std::string out;
  for (const auto& f : fields) out += indent + f + "\n";
  out += indent + "type=" + str(e.contentType()) + " charset=" + str(e.charset().getName()) +
         " encoding=" + str(e.encoding()) + " boundary=" + str(e.boundary());
  StringBuffer attrs;
  for (auto getter : {&MimeMessage2::getName, &MimeMessage2::getFilename,
                      &MimeMessage2::getDisposition, &MimeMessage2::getContentId}) {
    (e.*getter)(attrs);
    attrs.append("|");
  }
  out += " name|file|disp|cid=" + str(attrs) + "\n";
  if (e.getNumParts() == 0) out += indent + "body=" + body(e) + "\n";
  for (int32_t i = 0; i < e.getNumParts(); ++i) out += summary(*e.getPart(i), indent + "  ");
  return out;
}

const char kRich[] =
    "From: =?utf-8?Q?J=C3=B6rg_M=C3=BCller?= <joerg@example.de>\r\n"
    "To: \"Anna, Smith\" <anna@example.com>, bob@example.org\r\n"
    "Cc: carol@example.net\r\n"
    "Subject: =?iso-8859-1?Q?Gr=FC=DFe_&_<Bericht>?=\r\n"
    "Date: Mon, 07 Dec 2026 10:00:00 +0000\r\n"
    "Message-ID: <m1.2026@example.de>\r\n"
    "MIME-Version: 1.0\r\n"
    "X-Mailer: test; version=2\r\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\r\n\r\n"
    "preamble\r\n--outer\r\n"
    "Content-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
    "--alt\r\nContent-Type: text/plain; charset=utf-8\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
    "Gr=C3=BC=C3=9Fe aus K=C3=B6ln,\r\n\tmit Tab & <Zeichen>.\r\n"
    "--alt\r\nContent-Type: text/html; charset=iso-8859-1\r\n"
    "Content-Transfer-Encoding: 8bit\r\n\r\n"
    "<p>Caf\xE9 &amp; cr\xE8me</p>\r\n"
    "--alt--\r\n"
    "--outer\r\nContent-Type: application/pdf; name=\"=?utf-8?B?w5xiZXJzaWNodC5wZGY=?=\"\r\n"
    "Content-Disposition: attachment; filename=\"=?utf-8?B?w5xiZXJzaWNodC5wZGY=?=\"\r\n"
    "Content-ID: <pdf1@example.de>\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\n"
    "JVBERi0xLjQKJcOkw7zDtsOfCjEgMCBvYmoKPDwvVHlwZS9DYXRhbG9nPj4KZW5kb2JqCg==\r\n"
    "--outer\r\nContent-Type: message/rfc822\r\n\r\n"
    "Subject: inner\r\nContent-Type: text/plain\r\n\r\nInner body ]] > <x>\r\n"
    "--outer--\r\n";

TEST(XmlRoundTrip, SameFieldsBodiesAndParts) {
  auto original = loaded(kRich);
  ASSERT_EQ(original->getNumParts(), 3);
  const std::string xml = xmlOf(*original);
  auto back = fromXml(xml);
  ASSERT_TRUE(back) << xml;
  EXPECT_EQ(summary(*back), summary(*original)) << xml;
  // The multipart itself gets the usual preamble line as its body.
  EXPECT_EQ(body(*back), "This is a multi-part message in MIME format.");
  // The written form of a tree read from XML is the same XML again.
  EXPECT_EQ(xmlOf(*back), xml);
}

TEST(XmlLoader, BuildsEntitiesFromElements) {
  // Hand-written XML: attributes become parameters, "?8bit?" words come back as raw bytes
  // (then read in the header's charset, UTF-8 by its first word), a name marked "?8bit?"
  // too; a subpart without a mime_message inside is skipped.
  auto e = fromXml(
      "<?xml version=\"1.0\"?>\n<doc><mime_message>\n<header>\n"
      "<subject>=?utf-8?Q?hi?=</subject>\n"
      "<from><address><addr>a@b.c</addr><name>=?8bit?Q?J=C3=B6rg?=</name></address>"
      "<address><addr>only@addr</addr></address></from>\n"
      "<to><address><addr>x@y.z</addr><name/></address>"
      "<address><addr>q@r.s</addr><name> Q &amp; R </name></address></to>\n"
      "<x-note>=?8bit?Q?caf=C3=A9?=</x-note>\n"
      "<content-type charset=\"utf-8\" format=\"flowed\">text/plain</content-type>\n"
      "<content-transfer-encoding>quoted-printable</content-transfer-encoding>\n"
      "</header><body><![CDATA[caf=C3=A9=\r\n au lait]]><subpart><other/></subpart></body>"
      "</mime_message></doc>");
  ASSERT_TRUE(e);
  const auto field = [&](const char* name) {
    StringBuffer v;
    return e->getHeaderField(name, v) ? str(v) : "(none)";
  };
  EXPECT_EQ(field("from"), "\"J\xC3\xB6rg\" <a@b.c>");
  EXPECT_EQ(field("to"), "<x@y.z>,\"Q & R\" <q@r.s>");
  EXPECT_EQ(field("x-note"), "caf\xC3\xA9");
  EXPECT_EQ(str(e->contentType()), "text/plain");
  EXPECT_EQ(e->getNumParts(), 0);
  EXPECT_EQ(body(*e), "caf\xC3\xA9 au lait");

  // Without a mime_message, or one without header or body, nothing is made.
  for (const char* bad :
       {"", "<a/>", "<mime_message><header/></mime_message>",
        "<mime_message><body/></mime_message>", "<MIME_MESSAGE><header/><body/></MIME_MESSAGE>"})
    EXPECT_EQ(fromXml(bad), nullptr) << bad;
  // The bare minimum is an entity with no fields and an empty body.
  e = fromXml("<mime_message><header/><body/></mime_message>");
  ASSERT_TRUE(e);
  EXPECT_EQ(e->getNumHeaderFields(), 0);
}

TEST(Rfc822Address, ReadsAddressesFromXml) {
  auto parsed = [](const std::string& xml) {
    const StringBuffer text = exact(xml);
    std::unique_ptr<TreeNode> root(parseXml(text, nullptr, nullptr));
    StringBuffer out;
    if (root) Rfc822ParseHelp::readAddressesXml(*root, out);
    return str(out);
  };
  EXPECT_EQ(parsed("<cc><address><addr>a@b</addr><name>\r\n A B \t</name></address>"
                   "<skip><addr>no@name</addr></skip>"
                   "<address><name>N</name><addr>c@d</addr></address>"
                   "<address><addr/><name/></address></cc>"),
            "cc: \"A B\" <a@b>,\n\t\"N\" <c@d>,\n\t<>\n");
  EXPECT_EQ(parsed("<to><description>nobody</description></to>"), "to: \n");
  // A name carried as "8bit" words is decoded to its bytes; other words stay words.
  EXPECT_EQ(parsed("<from><address><addr>a@b</addr><name>=?8bit?Q?=C3=A9?= "
                   "=?utf-8?Q?x?=</name></address></from>"),
            "from: \"\xC3\xA9 x\" <a@b>\n");
  EXPECT_EQ(parsed("<from><address><addr>a@b</addr><name>=?utf-8?Q?=C3=A9?=</name>"
                   "</address></from>"),
            "from: \"=?utf-8?Q?=C3=A9?=\" <a@b>\n");
}

}  // namespace
