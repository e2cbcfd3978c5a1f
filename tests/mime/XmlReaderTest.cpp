#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/ProgressMonitor.h"
#include "mime/TreeNode.h"
#include "mime/XmlForm.h"
#include "tests/mime/EntityText.h"
#include "tests/support/ProgressRecorder.h"
#include "tests/support/RecordingLog.h"

namespace {

using namespace std::string_literals;

std::unique_ptr<TreeNode> parse(const std::string& xml, LogBase* log = nullptr,
                                ProgressMonitor* progress = nullptr) {
  return std::unique_ptr<TreeNode>(parseXml(exact(xml), log, progress));
}

std::string content(const TreeNode* node) {
  if (node == nullptr) return "(none)";
  StringBuffer out;
  node->getContent(out);
  return str(out);
}

// The element tree as text: tag, attributes in braces, content in quotes, children in
// brackets.
std::string shape(const TreeNode* node) {
  if (node == nullptr) return "(none)";
  std::string out = node->tag();
  if (const AttributeSet* a = node->attributes()) {
    out += '{';
    for (int32_t i = 0; i < a->count(); ++i) {
      StringBuffer n, v;
      a->getName(i, n);
      a->getValue(i, v);
      if (i > 0) out += ' ';
      out.append(str(n)).append("=").append(str(v));
    }
    out += '}';
  }
  if (node->hasContent()) out += "\"" + content(node) + "\"";
  if (node->numChildren() > 0) {
    out += '[';
    for (int32_t i = 0; i < node->numChildren(); ++i)
      out += (i > 0 ? "," : "") + shape(node->child(i));
    out += ']';
  }
  return out;
}

std::string shapeOf(const std::string& xml, LogBase* log = nullptr) {
  return shape(parse(xml, log).get());
}

TEST(XmlReader, ElementsAttributesAndCharacterData) {
  EXPECT_EQ(shapeOf("<a x=\"1\" y='two' z=three\"><b/><c>  text \n</c>tail</a>"),
            "a{x=1 y=two z=three}\"tail\"[b,c\"text\"]");
  // Pieces of character data are joined with one blank.
  EXPECT_EQ(shapeOf("<a>one<b/>\ttwo<!-- note -->three</a>"), "a\"one two three\"[b]");
  // Blanks after "<", an attribute without "=", quotes and "<" dropped from names.
  EXPECT_EQ(shapeOf("< a flag \"q\"='1' <w=\"2\" / >"), "a{flag= q=1 w=2}");
  // An unquoted value runs to the next quote of either kind.
  EXPECT_EQ(shapeOf("<a v=x y>z'>"), "a{v=x y>z}");

  // Entities in content and attributes; "&amp;lt;" stays "&lt;"; others are left alone.
  auto root = parse(
      "<e a=\"&lt;&quot;&amp;lt;\">&lt;&apos;&gt;&quot;&amp; &amp;lt; &amp;amp; "
      "&unknown; & &#65;</e>");
  ASSERT_TRUE(root);
  EXPECT_EQ(content(root.get()), "<'>\"& &lt; &amp; &unknown; & &#65;");
  StringBuffer value;
  ASSERT_TRUE(root->attributes()->getValue(0, value));
  EXPECT_EQ(str(value), "<\"&lt;");

  // CDATA is kept byte for byte, without trimming or entity decoding.
  root = parse("<b>\n<![CDATA[ x &amp; <y>\r\n]]>\n</b>");
  EXPECT_EQ(content(root.get()), " x &amp; <y>\r\n");
  // 8-bit bytes and NULs are ordinary bytes.
  root = parse("<t>caf\xC3\xA9 \xFF\x00z</t>"s);
  EXPECT_EQ(content(root.get()), "caf\xC3\xA9 \xFF\x00z"s);
}

TEST(XmlReader, TolerantStructure) {
  // Unclosed elements are closed at the end; a truncated document gives what was read.
  EXPECT_EQ(shapeOf("<a><b>one<c>two"), "a[b\"one\"[c\"two\"]]");
  EXPECT_EQ(shapeOf("<a x=\"unclosed"), "a{x=unclosed}");
  // A second top-level element replaces the first.
  EXPECT_EQ(shapeOf("<first>1</first><second>2</second>"), "second\"2\"");
  // Closing names are not compared: wrong nesting closes by count.
  EXPECT_EQ(shapeOf("<a><b></a>x</b>y"), "a\"x\"[b]");
  // Stray closing tags before any element, and text outside every element, are ignored.
  EXPECT_EQ(shapeOf("</x>text<a>in</a>after"), "a\"in\"");
  // Empty and blank documents, or ones with no element, give nothing.
  for (const char* none : {"", " \r\n\t", "just text", "<!-- c -->", "<?xml version='1.0'?>"})
    EXPECT_EQ(shapeOf(none), "(none)") << none;
}

TEST(XmlReader, ReportsBrokenMarkup) {
  const struct {
    const char* xml;
    const char* shape;
    std::vector<std::string> lines;
  } cases[] = {
      // Parsing stops at the comment; what was read before it is kept.
      {"<a><b>x</b><!-- never closed <c/></a>", "a[b\"x\"]", {"error: Unclosed comment"}},
      {"<a>x</a><!DOCTYPE a [ <!ELEMENT a ANY>", "a\"x\"", {"error: Failed to parse DTD"}},
      // A "<" before the ">" of a closing tag: reported with the open tag, and the element
      // is closed all the same.
      {"<root><item>1</item<next>2</next></root>",
       "root[item\"1\",next\"2\"]",
       {"error: Error in closing tag", "error_tag=item"}},
  };
  for (const auto& c : cases) {
    RecordingLog log;
    EXPECT_EQ(shapeOf(c.xml, &log), c.shape);
    EXPECT_EQ(log.lines, c.lines) << c.xml;
  }
}

TEST(XmlReader, DeclarationAndProlog) {
  auto root = parse(
      "<?xml version=\"1.0\" encoding='iso-8859-1' standalone=yes?>\n"
      "<?xml-stylesheet href=\"s.css\"?>\n<!DOCTYPE m [ <!ELEMENT m (#PCDATA)> ]>\n"
      "<!-- c --><m>x</m><?after pi?>");
  ASSERT_TRUE(root);
  TreeInfo* info = root->info();
  ASSERT_TRUE(info->declaration && info->prolog);
  EXPECT_EQ(shape(info->declaration.get()), "xml{version=1.0 encoding=iso-8859-1 standalone=yes}");
  EXPECT_EQ(str(*info->prolog),
            "<?xml-stylesheet href=\"s.css\"?>\n<!DOCTYPE m [ <!ELEMENT m (#PCDATA)> ]>\n"
            "<?after pi?>\n");
  // A later declaration replaces an earlier one; "<?xmlfoo" is not a declaration.
  root = parse("<?xml version='1.0'?><?XML version='1.1'?><?xmlfoo?><m/>");
  ASSERT_TRUE(root && root->info()->declaration);
  EXPECT_EQ(shape(root->info()->declaration.get()), "XML{version=1.1}");
  // Every tree has its own serial.
  EXPECT_NE(parse("<m/>")->info()->serial, root->info()->serial);
}

TEST(XmlReader, DtdIsNeitherExpandedNorFetched) {
  // A billion-laughs DTD: the entities are never defined for the content, so the reference
  // stays as written and the tree stays small.
  std::string bomb = "<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n";
  for (int i = 1; i <= 9; ++i) {
    bomb += " <!ENTITY lol" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) bomb += "&lol" + (i == 1 ? ""s : std::to_string(i - 1)) + ";";
    bomb += "\">\n";
  }
  bomb += "]>\n<lolz a=\"&lol9;\">&lol9;</lolz>";
  auto root = parse(bomb);
  ASSERT_TRUE(root);
  EXPECT_EQ(shape(root.get()), "lolz{a=&lol9;}\"&lol9;\"");
  EXPECT_EQ(str(*root->info()->prolog), bomb.substr(0, bomb.find("]>") + 2) + "\n");

  // An external entity names a file that is never opened.
  root = parse("<!DOCTYPE f [ <!ENTITY xxe SYSTEM \"file:///etc/passwd\"> ]><f>&xxe;</f>");
  ASSERT_TRUE(root);
  EXPECT_EQ(content(root.get()), "&xxe;");
}

TEST(XmlReader, NestingIsBounded) {
  auto nested = [](int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<a>";
    return xml + "x";
  };
  // The deepest document still read: 1000 open elements.
  RecordingLog fits;
  EXPECT_NE(parse(nested(1000), &fits), nullptr);
  EXPECT_TRUE(fits.lines.empty());
  RecordingLog log;
  EXPECT_EQ(parse(nested(1001), &log), nullptr);
  EXPECT_EQ(log.lines, (std::vector<std::string>{"error: XML nesting too deep", "max_depth=1000"}));
  // Depth is what is open at once, not the number of elements.
  std::string wide = "<r>";
  for (int i = 0; i < 5000; ++i) wide += "<a><b/></a>";
  auto root = parse(wide + "</r>");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->numChildren(), 5000);
}

TEST(XmlReader, ProgressAndAbort) {
  std::string big = "<r>";
  while (big.size() < 2000000) big += "<item k=\"v\">some text</item>\n";
  big += "</r>";
  {
    ProgressRecorder rec;
    ProgressMonitor monitor(&rec);
    ASSERT_TRUE(parse(big, nullptr, &monitor));
    EXPECT_EQ(monitor.done(), static_cast<int64_t>(big.size()));
    // Reports at steps through the text, rising to 100.
    ASSERT_GE(rec.seen.size(), 10u);
    EXPECT_EQ(rec.seen.back(), 100);
  }
  {
    ProgressRecorder rec(40);
    ProgressMonitor monitor(&rec);
    RecordingLog log;
    EXPECT_EQ(parse(big, &log, &monitor), nullptr);
    EXPECT_TRUE(monitor.aborted());
    EXPECT_GE(rec.seen.back(), 40);
    EXPECT_LT(rec.seen.back(), 50);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "error: XML parsing aborted");
    EXPECT_EQ(log.lines[1].rfind("bytes_read=", 0), 0u);
  }
}

TEST(XmlReader, HostileInputIsReadInOnePass) {
  // Each of these would take hours with a rescan per byte; in one pass they are instant.
  const size_t n = 2000000;
  const std::string run(n, '<');
  std::vector<std::string> inputs = {
      run,                          // every "<" a start tag with no name
      "<a>" + std::string(n, '&'),  // ampersands that start no entity
      "<a>" + std::string(n / 5, ' ') + "</a" + run,
      "<a b=\"" + std::string(n, '\''),      // unclosed attribute quote
      "<a " + std::string(n, '"'),           // quotes as attribute names
      "<a b=" + std::string(n, 'x'),         // unquoted value without an end
      "<a><![CDATA[" + std::string(n, ']'),  // unclosed CDATA of brackets
      "<!DOCTYPE " + run,                    // a DTD that never balances
      "<!--" + std::string(n, '-'),          // an unclosed comment of dashes
      "<?pi " + std::string(n, '?'),         // an instruction with no "?>"
      "<?xml " + std::string(n, '='),        // a declaration of empty attributes
  };
  std::string closers;
  for (size_t i = 0; i < n / 3; ++i) closers += "</>";
  inputs.push_back("<a>" + closers);
  std::string slashes = "<a";
  for (size_t i = 0; i < n / 2; ++i) slashes += " /";
  inputs.push_back(slashes);
  std::string pieces = "<a>";
  for (size_t i = 0; i < n / 8; ++i) pieces += "x<!---->";
  inputs.push_back(pieces);
  for (const std::string& input : inputs) {
    RecordingLog log;
    auto root = parse(input, &log);
    // None of them holds more than one element below the root.
    EXPECT_LE(root ? root->numChildren() : 0, 1);
  }
  // The pieces of text joined by blanks: linear too.
  auto root = parse(pieces);
  ASSERT_TRUE(root);
  EXPECT_EQ(root->contentSize(), n / 8 * 2 - 1);
}

TEST(TreeNode, LookupsAttributesAndDeepTrees) {
  auto root = parse("<m><a k=\"1\"/><b><c id=\"x\"><d/></c></b><c id=\"y\"/></m>");
  ASSERT_TRUE(root);
  // findChild looks one level down; findDescendant walks depth first in document order.
  EXPECT_EQ(root->findChild("d"), nullptr);
  ASSERT_NE(root->findChild("c"), nullptr);
  EXPECT_TRUE(root->findChild("c")->attributes()->has("id", "y"));
  const TreeNode* c = root->findDescendant("c");
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(c->attributes()->has("id", "x"));
  EXPECT_FALSE(c->attributes()->has("ID", "x"));
  EXPECT_EQ(c->parent()->tag(), "b"s);
  EXPECT_EQ(root->findDescendant("M"), nullptr);

  // A name may repeat; indexes outside the set give nothing.
  AttributeSet set;
  set.add("name", "value");
  set.add("name", "other");
  StringBuffer out;
  EXPECT_FALSE(set.getName(-1, out));
  EXPECT_TRUE(set.has("name", "other"));

  // A chain far deeper than any parsed document is deleted without recursion.
  auto* deep = new TreeNode();
  deep->makeRoot();
  TreeNode* tip = deep;
  for (int i = 0; i < 200000; ++i) {
    auto* next = new TreeNode();
    next->setTag("n", 1);
    tip->appendChild(next);
    tip = next;
  }
  EXPECT_EQ(tip->info(), deep->info());
  EXPECT_EQ(deep->findDescendant("none"), nullptr);
  delete deep;
}

}  // namespace
