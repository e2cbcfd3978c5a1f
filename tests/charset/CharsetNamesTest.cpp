#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>

#include "charset/Charset.h"
#include "charset/CharsetNames.h"
#include "foundation/StringBuffer.h"
#include "platform/CodePage.h"

namespace {

std::string written(int32_t cp) {
  StringBuffer sb("stale");
  nameFromCodePage(cp, sb);
  return sb.getString();
}

}  // namespace

TEST(CharsetNames, EveryAliasIsFoundInAnySpellingAndNothingElse) {
  ASSERT_EQ(charsetAliasCount(), 401);
  ASSERT_EQ(writtenNameCount(), 140);
  EXPECT_EQ(charsetAliasAt(401, nullptr), nullptr);
  std::map<std::string, int32_t> table;
  for (int32_t i = 0; i < charsetAliasCount(); ++i) {
    int32_t cp = 0;
    const char* alias = charsetAliasAt(i, &cp);
    EXPECT_TRUE(table.emplace(alias, cp).second) << alias;
  }
  auto inTable = [&](const std::string& s) { return table.count(s) ? table[s] : 0; };
  std::set<int32_t> codePages;
  for (const auto& [alias, cp] : table) {
    codePages.insert(cp);
    // Upper case, underscores for hyphens and surrounding whitespace are normalised away.
    std::string mangled = " \t";
    for (char c : alias) mangled += c == '-' ? '_' : static_cast<char>(std::toupper(c));
    EXPECT_EQ(codePageFromName((mangled + "\r\n").c_str()), cp) << alias;
    EXPECT_TRUE(isKnownCharset(alias.c_str())) << alias;
    // A prefix or extension is found only when it is an alias of its own.
    const std::string shorter = alias.substr(0, alias.size() - 1);
    EXPECT_EQ(codePageFromName(shorter.c_str()), inTable(shorter)) << alias;
    EXPECT_EQ(codePageFromName((alias + "x").c_str()), inTable(alias + "x")) << alias;
    EXPECT_EQ(codePageFromName((alias + ";").c_str()), 0) << alias;
  }
  EXPECT_EQ(codePages.size(), 149u);  // 20932 is written but has no alias of its own
  EXPECT_EQ(codePages.count(20932), 0u);
  // Blanks inside a name are not normalised.
  EXPECT_EQ(codePageFromName("iso-8859-8  visual"), 0);
  for (const char* none : {"cp", " \t ", static_cast<const char*>(nullptr)})
    EXPECT_EQ(codePageFromName(none), 0) << (none ? none : "null");
  EXPECT_EQ(codePageFromName(std::string(500, 'a').c_str()), 0);
}

TEST(CharsetNames, WrittenNamesLookUpAgain) {
  for (int32_t i = 0; i < writtenNameCount(); ++i) {
    const int32_t cp = writtenCodePageAt(i);
    const int32_t back = codePageFromName(written(cp).c_str());
    EXPECT_EQ(back, cp == 50222 ? 50220 : cp == 20932 ? 51932 : cp) << cp;
  }
  EXPECT_EQ(written(932), "shift_jis");
  EXPECT_EQ(written(949), "ks_c_5601-1987");
  EXPECT_EQ(written(1200), "unicode");
  EXPECT_EQ(written(50222), "iso-2022-jp");
  for (int32_t cp : {0, 709, 21027, 50000, 50930, 50939, 51950, 65002, -1}) {
    StringBuffer out("stale");
    EXPECT_FALSE(nameFromCodePage(cp, out)) << cp;
    EXPECT_TRUE(out.isEmpty()) << cp;
  }
}

TEST(Charset, SetByNameAndCodePage) {
  Charset cs;
  auto now = [&] { return std::to_string(cs.getCodePage()) + " " + cs.getName().getString(); };
  auto named = [&](const char* name) { return cs.setByName(name), now(); };
  EXPECT_EQ(now(), "0 ");
  EXPECT_EQ(named("ISO_8859-1"), "28591 iso-8859-1");
  EXPECT_EQ(named("iso-2022-jp-2"), "50222 iso-2022-jp");
  EXPECT_EQ(named("asmo-449"), "709 ");  // a number without a written name
  EXPECT_EQ(named("default"), "0 ");

  setCodePagesForTesting(1252, 850);
  EXPECT_EQ(named("AnSi"), "1252 windows-1252");
  EXPECT_EQ(named("OEM"), "850 ibm850");
  setCodePagesForTesting(709, 437);  // an ANSI code page without a written name
  EXPECT_EQ(named("ansi"), "0 ");
  setCodePagesForTesting(65001, 437);

  cs.setByCodePage(20932);
  EXPECT_EQ(now(), "20932 euc-jp");
  cs.setByCodePage(51950);
  EXPECT_EQ(now(), "0 ");
}
