#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "foundation/ExtPtrArray.h"
#include "mime/Rfc822Address.h"
#include "tests/mime/EntityText.h"

namespace {

using namespace std::string_literals;
using P = Rfc822ParseHelp;

std::unique_ptr<Rfc822Address> parse(const std::string& text) {
  return std::unique_ptr<Rfc822Address>(P::parseAddress(exact(text)));
}
// "address|name", or "-" for no mailbox.
std::string mailbox(const std::string& text) {
  auto m = parse(text);
  return m ? str(m->address) + "|" + str(m->displayName) : "-";
}
// The count, then "address|name" of every mailbox the list holds afterwards.
std::string list(const std::string& text, ExtPtrArray* held = nullptr) {
  ExtPtrArray own;
  ExtPtrArray& out = held != nullptr ? *held : own;
  std::string r = std::to_string(P::parseAddressList(exact(text), out));
  for (int32_t i = 0; i < out.getSize(); ++i) {
    r += ' ';
    r += str(out.getAs<Rfc822Address>(i)->address);
    r += '|';
    r += str(out.getAs<Rfc822Address>(i)->displayName);
  }
  own.removeAllObjects();
  return r;
}

TEST(Rfc822Address, ParsesOneMailbox) {
  EXPECT_EQ(mailbox("\"Joe Bloggs\" <Joe@Example.com>"), "Joe@Example.com|Joe Bloggs");
  EXPECT_EQ(mailbox("  joe@x.com\t"), "joe@x.com|");
  EXPECT_EQ(mailbox("\"Joe\" (work) <joe@x.com>"), "joe@x.com|Joe");
  EXPECT_EQ(mailbox("joe@x.com <joe@x.com>"), "joe@x.com|");
  for (const char* none :
       {"", "Joe Bloggs", "Undisclosed-Recipients:;", "UNDISCLOSED RECIPIENTS <a@b>"})
    EXPECT_EQ(mailbox(none), "-") << none;
  auto m = parse(" \t\\\"Joe\\\" <j@x> ");
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->valid);
  EXPECT_EQ(str(m->source), "Joe <j@x>");

  EXPECT_EQ(P::addressFieldKind("REPLY-to"), AddressFieldKind::kMailbox);
  EXPECT_EQ(P::addressFieldKind("X-Rcpt-To"), AddressFieldKind::kList);
  EXPECT_EQ(P::addressFieldKind("bcc"), AddressFieldKind::kNone);
}

TEST(Rfc822Address, EightBitNamesBecomeUtf8Words) {
  EXPECT_EQ(mailbox("Caf\xc3\xa9 <c@x>"), "c@x|=?utf-8?Q?Caf=C3=A9?=");
  EXPECT_EQ(mailbox("=?8bit?Q?Caf=C3=A9?= <c@x>"), "c@x|=?utf-8?Q?Caf=C3=A9?=");
  EXPECT_EQ(mailbox("=?8bit?Q?Joe?= <j@x>"), "j@x|Joe");
  // Other words are left for the reader of the XML form.
  EXPECT_EQ(mailbox("=?iso-8859-1?Q?Caf=E9?= <c@x>"), "c@x|=?iso-8859-1?Q?Caf=E9?=");
}

TEST(Rfc822Address, ParsesListsAndDropsDuplicates) {
  EXPECT_EQ(list("a@x.com, \"Bloggs, Joe\" <joe@x.com>"), "2 a@x.com| joe@x.com|Bloggs, Joe");
  EXPECT_EQ(list("Joe <joe@x.com>, JOE@X.COM"), "2 joe@x.com|Joe");
  EXPECT_EQ(list("a@x,\r\n\tB\r\n\tC <b@x>,\r\n c@x"), "3 a@x| b@x|B C c@x|");
  EXPECT_EQ(list("a@x, nobody, undisclosed-recipients:;"), "1 a@x|");
  ExtPtrArray held;
  list("a@x", &held);
  EXPECT_EQ(list("A@X, b@x", &held), "2 a@x| b@x|");
  held.removeAllObjects();
}

TEST(Rfc822Address, WritesXml) {
  StringBuffer out;
  P::writeAddressXml(*parse("\"A <&> O'B\" <a&b@x>"), out);
  P::writeAddressXml(*parse("Caf\xc3\xa9 <c@x>"), out);
  P::writeAddressXml(Rfc822Address(), out);
  EXPECT_EQ(str(out),
            "<address>\n\t<addr>a&amp;b@x</addr>\n\t<name>A &lt;&amp;&gt; O'B</name>\n</address>"
            "<address>\n\t<addr>c@x</addr>\n\t<name>=?utf-8?Q?Caf=C3=A9?=</name>\n</address>"
            "<address>\n\t<addr/>\n\t<name/>\n</address>");
}

TEST(Rfc822Address, SurvivesHostileInput) {
  EXPECT_EQ(mailbox("<<<a@b"), "a@b|");
  EXPECT_EQ(mailbox("Joe >a@b<>>"), ">a@b<|Joe");
  EXPECT_EQ(mailbox("\"Joe <j@x>"), "j@x|Joe");
  // An open quote keeps every later comma inside one piece; parentheses do not.
  EXPECT_EQ(list("\"Joe <j@x>, k@y, l@z"), "1 j@x|Joe");
  EXPECT_EQ(list("a@b (open (comment, c@d \\"), "2 a@b| c@d|");
  EXPECT_EQ(mailbox("Jo\0e <j\0@x>"s), "j\0@x|Jo\0e"s);
  EXPECT_EQ(list("a@b\0, \0c@d, \0\0"s), "2 a@b\0| \0c@d|"s);

  // 100,000 addresses, the second half repeating the first in upper case.
  std::string many;
  for (int i = 0; i < 100000; ++i) {
    many += i < 50000 ? 'u' : 'U';
    many += std::to_string(i % 50000);
    many += "@x, ";
  }
  ExtPtrArray out;
  EXPECT_EQ(P::parseAddressList(exact(many), out), 100000);
  ASSERT_EQ(out.getSize(), 50000);
  EXPECT_EQ(str(out.getAs<Rfc822Address>(49999)->address), "u49999@x");
  out.removeAllObjects();

  std::string quoted = "\"";
  while (quoted.size() < 10000000) quoted += "a@b, ";
  EXPECT_EQ(list(quoted), "1 \"a@b,|");
  std::string wide;
  for (int i = 0; i < 5000000; ++i) wide += "\xc3\xa9";
  auto m = parse(wide + " <a@b>");
  ASSERT_TRUE(m);
  EXPECT_EQ(m->displayName.getSize(), 10 + 30000000 + 2u);
  EXPECT_TRUE(m->displayName.beginsWith("=?utf-8?Q?=C3=A9=C3=A9"));
}

}  // namespace
