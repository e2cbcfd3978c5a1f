#include <gtest/gtest.h>

#include <string>

#include "foundation/XString.h"
#include "platform/CodePage.h"

TEST(XString, FormsAreRebuiltFromTheValidOne) {
  XString x;
  EXPECT_STREQ(x.getAnsi(), "");
  EXPECT_EQ(x.getUnicode()[0], 0);
  EXPECT_EQ(x.getNumChars(), 0);

  x.setFromUtf8("gr\xc3\xbc\xc3\x9f");
  EXPECT_EQ(std::u16string(x.getUnicode()), u"gr\u00fc\u00df");
  EXPECT_EQ(x.getNumChars(), 4);  // UTF-16 units while the ANSI form is stale
  EXPECT_STREQ(x.getAnsi(), "gr\xfc\xdf");
  EXPECT_EQ(x.getNumChars(), 4);  // bytes of the ANSI form (1252) once valid

  x.setFromUnicode(u"\u20ac1");
  EXPECT_STREQ(x.getUtf8(), "\xe2\x82\xac\x31");
  EXPECT_STREQ(x.getAnsi(), "\x80\x31");

  // One UTF-16 character is enough to rebuild the other forms.
  x.setFromUnicode(u"A");
  EXPECT_STREQ(x.getUtf8(), "A");

  BSTR b = SysAllocString(u"bstr");
  x.setFromBSTR(b);
  SysFreeString(b);  // the XString holds its own copy
  EXPECT_STREQ(x.getUtf8(), "bstr");
  BSTR back = x.createBSTR();
  EXPECT_EQ(std::u16string(back, SysStringLen(back)), u"bstr");
  SysFreeString(back);

  x.setFromAnsi(nullptr);
  EXPECT_TRUE(x.isEmpty());
  BSTR none = x.createBSTR();
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(SysStringLen(none), 0u);
  SysFreeString(none);
}

TEST(XString, AnsiCompatibilityFollowsTheAnsiCodePage) {
  XString x;
  x.setFromAnsi("anything");
  EXPECT_TRUE(x.isAnsiCompatible());

  // A lone surrogate has no form in any 8-bit code page.
  const OLECHAR lone[] = {u'a', 0xD800, 0};
  x.setFromUnicode(lone);
  EXPECT_FALSE(x.isAnsiCompatible());

  // Answering the question leaves a valid ANSI form of the same number of characters.
  x.setFromUtf8("\xc3\xa9t\xc3\xa9");
  EXPECT_TRUE(x.isAnsiCompatible());
  EXPECT_EQ(x.getNumChars(), 3);
  EXPECT_STREQ(x.getAnsi(), "\xe9t\xe9");

  // Greek is outside 1252: such a name goes to the wide file functions.
  x.setFromUtf8("\xce\xa9mega");
  EXPECT_FALSE(x.isAnsiCompatible());
  EXPECT_FALSE(x.isAnsiCompatible());  // answered from the cached state
  EXPECT_EQ(std::u16string(x.getUnicode()), u"\u03a9mega");
}
