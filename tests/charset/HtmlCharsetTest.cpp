#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "charset/HtmlCharset.h"
#include "foundation/LogBase.h"
#include "foundation/StringBuffer.h"

namespace {

// Records the named values the way the activity log receives them.
class DataLog : public LogNull {
 public:
  bool logData(const char* key, const char* value) override {
    entries.emplace_back(key, value);
    return true;
  }
  std::vector<std::pair<std::string, std::string>> entries;
};

std::string charsetOf(const std::string& html) {
  StringBuffer in(html.data(), static_cast<uint32_t>(html.size()), 0);
  StringBuffer charset("untouched");
  HtmlHelp::getCharsetFromHtml(in, charset);
  return charset.getString();
}

// The cleaned tag, " @", and the key of the step that ended it.
std::string clean(const std::string& tag) {
  DataLog log;
  StringBuffer out("stale");
  HtmlHelp::cleanTag(StringBuffer(tag.c_str()), out, &log);
  if (log.entries.size() != 2 || log.entries[0].first != "cleaning_tag" ||
      log.entries[0].second != tag || log.entries[1].second != out.getString())
    return "bad log";
  return std::string(out.getString()) + " @" + log.entries[1].first;
}

}  // namespace

TEST(HtmlCharset, FindsTheDeclaredCharset) {
  EXPECT_EQ(charsetOf("<head><META HTTP-EQUIV=\"Content-TYPE\" "
                      "content=\"text/html; charset=iso-8859-1\"></head>"),
            "iso-8859-1");
  // Neither a tag without content nor one for another header ends the search.
  EXPECT_EQ(charsetOf("<meta http-equiv=\"Content-Type\"><meta http-equiv=\"refresh\" "
                      "content=\"5; charset=x\"><Meta Http-Equiv=Content-Type "
                      "Content=text/html;charset=koi8-r>"),
            "koi8-r");
  // A '>' inside a quoted value does not end the tag.
  EXPECT_EQ(charsetOf("<meta content=\"a>b; CHARSET=utf-8\" http-equiv=\"content-type\">"),
            "utf-8");
  // Delimiters are tried in order, not by position.
  EXPECT_EQ(charsetOf("<meta http-equiv='content-type' content='text/html; charset=big5 ;x'>"),
            "big5 ");
  // Without CHARSET= in the content, the tag's own charset attribute counts, even empty.
  EXPECT_EQ(charsetOf("<meta http-equiv=\"content-type\" content=\"text/html\" charset=\"gbk\">"),
            "gbk");
  EXPECT_EQ(charsetOf("<meta charset=\"utf-8\"><p>no http-equiv</p>"), "untouched");
}

TEST(HtmlCharset, CleanTag) {
  EXPECT_EQ(clean("  < br \r\n>"), "<br> @clean_tag_2");
  EXPECT_EQ(clean("<meta\r\n HTTP-EQUIV = 'Content-Type'\r\n content=text/html>"),
            "<meta HTTP-EQUIV='Content-Type' content=\"text/html\"> @clean_tag_4");
  EXPECT_EQ(clean("<input type=checkbox checked >"),
            "<input type=\"checkbox\" checked> @clean_tag_6");
  // Escaped quotes lose their backslashes; line ends in a finished tag become one line.
  EXPECT_EQ(clean("<meta content=\\\"a\\b\\\" x=\"1\r\n2\">"),
            "<meta content=\"a\\b\" x=\"1 2\"> @clean_tag_4");
  // A byte that starts no attribute ends the tag there.
  EXPECT_EQ(clean("<p x 9 y=\"z\">"), "<p> @clean_tag_3");

  std::string kept = "<t";
  for (int i = 0; i < 101; ++i) kept += " a" + std::to_string(i) + "=\"v\"";
  EXPECT_EQ(clean(kept + " b=\"v\">"), kept + " @clean_tag_5");
  EXPECT_EQ(clean(kept + ">"), kept + "> @clean_tag_4");

  StringBuffer out;
  HtmlHelp::cleanTag(StringBuffer("<a b=c>"), out, nullptr);
  EXPECT_STREQ(out.getString(), "<a b=\"c\">");
}

TEST(HtmlCharset, GetAttribute) {
  const StringBuffer tag("<meta Name=\" a\\b\\c \" other='x' open=\"y>");
  const auto attribute = [&](const char* name) {
    StringBuffer out("stale");
    HtmlHelp::getAttribute(tag, name, out);
    return std::string(out.getString());
  };
  EXPECT_EQ(attribute("NAME"), "a/b/c");
  EXPECT_EQ(attribute("other"), "x");
  EXPECT_EQ(attribute("open"), "");
}

TEST(HtmlCharset, XmlDeclaration) {
  const auto sniff = [](const std::string& xml) {
    StringBuffer charset("untouched");
    const bool found = HtmlHelp::getCharsetFromXmlDeclaration(
        xml.data(), static_cast<uint32_t>(xml.size()), charset);
    return std::string(found ? "+" : "-") + charset.getString();
  };
  EXPECT_EQ(sniff("<?XML version=\"1.0\" ENCODING=\" \"Windows-1252\"?><a/>"), "+windows-1252");
  EXPECT_EQ(sniff(std::string("\0\0<?xml encoding=UTF-8\r\n?>", 26)), "+utf-8");
  EXPECT_EQ(sniff("encoding=\"x\"<?xml version=\"1.0\"?>"), "-untouched");
}

TEST(HtmlCharset, HostileInputStaysLinear) {
  // A huge unclosed tag, then many tags whose every '>' is quoted, with the lone quote
  // leaving every scan from them inside a run at the end: rescanning would not finish.
  EXPECT_EQ(charsetOf("<meta x=\"" + std::string(8 << 20, 'a')), "untouched");
  std::string quoted;
  for (int i = 0; i < 50000; ++i) quoted += "<meta '>'";
  quoted += "\"<meta http-equiv=\"content-type\" content=\"text/html; charset=utf-8\">";
  EXPECT_EQ(charsetOf(quoted), "utf-8");
}
