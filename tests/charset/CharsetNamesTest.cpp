#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "charset/Charset.h"
#include "charset/CharsetNames.h"
#include "foundation/StringBuffer.h"
#include "platform/CodePage.h"

namespace {

std::string mangled(const std::string& alias) {
  // Upper case, hyphens as underscores, wrapped in the whitespace that lookup trims.
  std::string s = " \t";
  for (char c : alias) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
    if (c == '-') c = '_';
    s += c;
  }
  return s + "\r\n";
}

std::string written(int32_t cp) {
  StringBuffer sb("stale");
  nameFromCodePage(cp, sb);
  return sb.getString();
}

}  // namespace

TEST(CharsetNames, EveryAliasIsFoundInAnySpelling) {
  ASSERT_EQ(charsetAliasCount(), 401);
  ASSERT_EQ(writtenNameCount(), 140);
  EXPECT_EQ(charsetAliasAt(401, nullptr), nullptr);
  EXPECT_EQ(charsetAliasAt(-1, nullptr), nullptr);
  EXPECT_EQ(writtenCodePageAt(140), 0);

  std::map<std::string, int32_t> table;
  for (int32_t i = 0; i < charsetAliasCount(); ++i) {
    int32_t cp = 0;
    const char* alias = charsetAliasAt(i, &cp);
    EXPECT_TRUE(table.emplace(alias, cp).second) << alias;
  }
  auto expected = [&](const std::string& s) {
    auto it = table.find(s);
    return it == table.end() ? 0 : it->second;
  };
  std::set<int32_t> codePagesWithAliases;
  for (const auto& [alias, cp] : table) {
    codePagesWithAliases.insert(cp);
    EXPECT_EQ(codePageFromName(alias.c_str()), cp) << alias;
    EXPECT_EQ(codePageFromName(mangled(alias).c_str()), cp) << alias;
    EXPECT_TRUE(isKnownCharset(alias.c_str())) << alias;
    // Nothing but a whole name matches: a prefix or extension is found only when it is an
    // alias of its own.
    EXPECT_EQ(codePageFromName((alias + ";").c_str()), 0) << alias;
    EXPECT_EQ(codePageFromName((alias + "x").c_str()), expected(alias + "x")) << alias;
    const std::string shorter = alias.substr(0, alias.size() - 1);
    EXPECT_EQ(codePageFromName(shorter.c_str()), expected(shorter)) << alias;
  }
  // 20932 is the one code page written but never looked up by a name of its own.
  EXPECT_EQ(codePagesWithAliases.size(), 149u);
  EXPECT_EQ(codePagesWithAliases.count(20932), 0u);
}

TEST(CharsetNames, WrittenNamesLookUpAgain) {
  for (int32_t i = 0; i < writtenNameCount(); ++i) {
    const int32_t cp = writtenCodePageAt(i);
    const std::string name = written(cp);
    ASSERT_FALSE(name.empty()) << cp;
    const int32_t back = codePageFromName(name.c_str());
    if (cp == 50222) {
      EXPECT_EQ(back, 50220);
    } else if (cp == 20932) {
      EXPECT_EQ(back, 51932);
    } else {
      EXPECT_EQ(back, cp) << name;
    }
  }
  EXPECT_EQ(written(932), "shift_jis");
  EXPECT_EQ(written(949), "ks_c_5601-1987");
  EXPECT_EQ(written(1200), "unicode");
  EXPECT_EQ(written(862), "dos-862");
  EXPECT_EQ(written(50221), "csiso2022jp");
  EXPECT_EQ(written(28591), "iso-8859-1");
  EXPECT_EQ(written(65001), "utf-8");

  for (int32_t cp : {0, 1, 709, 21027, 50000, 50930, 50931, 50939, 51950, 65002, -1}) {
    StringBuffer out("stale");
    EXPECT_FALSE(nameFromCodePage(cp, out)) << cp;
    EXPECT_TRUE(out.isEmpty()) << cp;
  }
}

TEST(CharsetNames, NormalisingRules) {
  EXPECT_EQ(codePageFromName("UTF_8"), 65001);
  EXPECT_EQ(codePageFromName("  utf-8\r\n"), 65001);
  EXPECT_EQ(codePageFromName("utf-8"), 65001);
  EXPECT_EQ(codePageFromName("utf-8;"), 0);
  EXPECT_EQ(codePageFromName("\"utf-8\""), 0);
  EXPECT_EQ(codePageFromName("Shift_JIS"), 932);
  EXPECT_EQ(codePageFromName("ISO-8859-8 VISUAL"), 28598);
  EXPECT_EQ(codePageFromName("iso-8859-8  visual"), 0);
  EXPECT_EQ(codePageFromName("iso-2022-jp-2"), 50222);
  EXPECT_EQ(codePageFromName("asmo-449+"), 709);
  EXPECT_EQ(codePageFromName("iso-646.irv:1991"), 20127);
  EXPECT_EQ(codePageFromName("ebcdic-latin9--euro"), 20924);
  EXPECT_EQ(codePageFromName("euc-jp"), 51932);
  EXPECT_EQ(codePageFromName("utf8"), 0);
  EXPECT_EQ(codePageFromName("cp"), 0);  // too short
  EXPECT_EQ(codePageFromName(" \t "), 0);
  EXPECT_EQ(codePageFromName(""), 0);
  EXPECT_EQ(codePageFromName(nullptr), 0);
  EXPECT_FALSE(isKnownCharset(nullptr));
  EXPECT_FALSE(isKnownCharset("x-unknown-charset"));
  std::string longName(500, 'a');
  EXPECT_EQ(codePageFromName(longName.c_str()), 0);
}

TEST(Charset, SetByNameAndCodePage) {
  Charset cs;
  EXPECT_TRUE(cs.getName().isEmpty());
  EXPECT_EQ(cs.getCodePage(), 0);

  cs.setByName("ISO_8859-1");
  EXPECT_EQ(cs.getCodePage(), 28591);
  EXPECT_STREQ(cs.getName().getString(), "iso-8859-1");
  cs.setByName(nullptr);  // changes nothing
  EXPECT_EQ(cs.getCodePage(), 28591);

  cs.setByName("iso-2022-jp-2");
  EXPECT_EQ(cs.getCodePage(), 50222);
  EXPECT_STREQ(cs.getName().getString(), "iso-2022-jp");

  cs.setByName("asmo-449");  // a number without a written name
  EXPECT_EQ(cs.getCodePage(), 709);
  EXPECT_TRUE(cs.getName().isEmpty());

  cs.setByName("utf-8");
  cs.setByName("default");
  EXPECT_EQ(cs.getCodePage(), 0);
  EXPECT_TRUE(cs.getName().isEmpty());
  cs.setByName("utf-8");
  cs.setByName("Default");  // only the exact spelling is special; this one is unknown
  EXPECT_EQ(cs.getCodePage(), 0);
  EXPECT_TRUE(cs.getName().isEmpty());

  setCodePagesForTesting(1252, 850);
  cs.setByName("AnSi");
  EXPECT_EQ(cs.getCodePage(), 1252);
  EXPECT_STREQ(cs.getName().getString(), "windows-1252");
  cs.setByName("OEM");
  EXPECT_EQ(cs.getCodePage(), 850);
  EXPECT_STREQ(cs.getName().getString(), "ibm850");
  setCodePagesForTesting(709, 437);  // an ANSI code page without a written name
  cs.setByName("ansi");
  EXPECT_EQ(cs.getCodePage(), 0);
  EXPECT_TRUE(cs.getName().isEmpty());
  setCodePagesForTesting(65001, 437);

  cs.setByCodePage(20932);
  EXPECT_EQ(cs.getCodePage(), 20932);
  EXPECT_STREQ(cs.getName().getString(), "euc-jp");
  cs.setByCodePage(51950);
  EXPECT_EQ(cs.getCodePage(), 0);
  EXPECT_TRUE(cs.getName().isEmpty());
}
