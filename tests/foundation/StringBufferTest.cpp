#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/DataBuffer.h"
#include "foundation/ExtPtrArray.h"
#include "foundation/Memory.h"
#include "foundation/StringBuffer.h"
#include "platform/OleAuto.h"

namespace {

std::vector<std::string> piecesOf(ExtPtrArray& a) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < a.getSize(); ++i) {
    auto* sb = a.getAs<StringBuffer>(i);
    out.emplace_back(sb->getString(), sb->getSize());
  }
  a.removeAllObjects();
  return out;
}

using Pieces = std::vector<std::string>;

}  // namespace

TEST(StringBuffer, GrowthFollowsTheIncrementRule) {
  StringBuffer sb;
  EXPECT_EQ(sb.capacity(), 200);
  std::string a(200, 'a');
  sb.append(a.c_str());
  EXPECT_EQ(sb.capacity(), 401);
  EXPECT_EQ(sb.growthIncrement(), 200);
  std::string b(201, 'b');
  sb.append(b.c_str());
  EXPECT_EQ(sb.capacity(), 602);
  EXPECT_EQ(sb.growthIncrement(), 301);
  EXPECT_EQ(sb.getString()[401], '\0');

  // The increment stops at its ceiling, after which growth is linear.
  StringBuffer big;
  std::string chunk(100000, 'x');
  for (int i = 0; i < 40; ++i) big.appendN(chunk.data(), chunk.size());
  EXPECT_EQ(big.growthIncrement(), 500000);

  // expectNumBytes reserves by the same rule but leaves the increment alone.
  StringBuffer r;
  r.expectNumBytes(1000);
  EXPECT_EQ(r.capacity(), 1201);
  EXPECT_EQ(r.growthIncrement(), 200);
}

TEST(StringBuffer, ConstructorsSizeTheirBlocks) {
  StringBuffer fromText("hello");
  EXPECT_EQ(fromText.capacity(), 6);
  StringBuffer bytes("a\0b", 3, 0);
  EXPECT_EQ(bytes.getSize(), 3u);
  EXPECT_EQ(bytes.capacity(), 4);
  EXPECT_EQ(bytes.growthIncrement(), 200);

  BSTR s = SysAllocString(u"h\u00e9");
  StringBuffer fromBstr(s);  // converted to the ANSI code page, 1252 in the tests
  EXPECT_STREQ(fromBstr.getString(), "h\xe9");
  EXPECT_EQ(fromBstr.capacity(), 2 + 5);
  SysFreeString(s);
}

TEST(StringBuffer, AppendingAndSetting) {
  StringBuffer sb("ab");
  sb.append("");
  sb.append(nullptr);
  sb.appendN(nullptr, 5);
  sb.appendN("xyz", 0);
  sb.appendN("xyz", -1);
  EXPECT_TRUE(sb.equals("ab"));
  sb.appendN("\0c", 2);
  EXPECT_EQ(sb.getSize(), 4u);
  sb.appendInt(-42);
  EXPECT_EQ(std::string(sb.getString(), sb.getSize()), std::string("ab\0c-42", 7));

  StringBuffer self("0123456789");
  self.setString(self.getString() + 3);  // argument inside the text itself
  EXPECT_TRUE(self.equals("3456789"));
  self.appendN(self.getString(), self.getSize());  // appending itself across a regrowth
  EXPECT_TRUE(self.equals("34567893456789"));
  self.prepend(">>");
  EXPECT_TRUE(self.equals(">>34567893456789"));
  self.shorten(100);
  EXPECT_TRUE(self.isEmpty());

  StringBuffer withNul("x\0y", 3, 0);
  StringBuffer copy;
  copy.setSb(withNul);  // stops at the NUL
  EXPECT_TRUE(copy.equals("x"));

  StringBuffer taker("taken");
  uint32_t len = 0;
  char* block = taker.takeString(&len);
  EXPECT_EQ(len, 5u);
  EXPECT_STREQ(block, "taken");
  vorlundFree(block);
  EXPECT_TRUE(taker.isEmpty());

  // Taking a buffer's block over: an exact-size block grows by the NUL's byte, a borrowed
  // one is copied, and the buffer given up is empty either way.
  DataBuffer exact;
  exact.appendExact("full", 4);
  StringBuffer takes("old text");
  takes.takeData(exact);
  EXPECT_STREQ(takes.getString(), "full");
  EXPECT_EQ(takes.getSize(), 4u);
  EXPECT_EQ(exact.getSize(), 0u);
  unsigned char lent[] = {'l', 'e', 'n', 't'};
  DataBuffer borrowed;
  borrowed.borrowData(lent, 4);
  takes.takeData(borrowed);
  takes.append("!");
  EXPECT_STREQ(takes.getString(), "lent!");
  EXPECT_EQ(lent[0], 'l');
  takes.takeData(borrowed);
  EXPECT_TRUE(takes.isEmpty());

  StringBuffer loose(1000);
  loose.append("tiny");
  loose.minimizeMemory();
  EXPECT_EQ(loose.capacity(), 5);
}

TEST(StringBuffer, QueriesAndComparisons) {
  StringBuffer sb("Hello");
  EXPECT_EQ(sb.charAt(5), '\0');
  EXPECT_EQ(sb.lastChar(), 'o');
  EXPECT_FALSE(sb.equals(nullptr));
  EXPECT_TRUE(StringBuffer().equals(nullptr));
  EXPECT_TRUE(sb.equalsIgnoreCase("hELLO"));
  EXPECT_EQ(sb.compare("Hello"), 0);
  EXPECT_EQ(sb.compare("Help"), -1);
  EXPECT_EQ(StringBuffer("\xe9").compare("a"), 1);  // bytes compare unsigned
  EXPECT_FALSE(sb.beginsWith(nullptr));
  EXPECT_TRUE(sb.containsNoCase("LL"));
  EXPECT_FALSE(StringBuffer("\xe9").containsNoCase("\xc9"));  // only a-z fold
  EXPECT_FALSE(StringBuffer("caf\xc3\xa9").is7bit());
  StringBuffer a("a\0b", 3, 0), b("a\0c", 3, 0);
  EXPECT_FALSE(a.equalsSb(b));  // bytes after a NUL count
}

TEST(StringBuffer, EditingInPlace) {
  const struct {
    const char* in;
    void (StringBuffer::*edit)();
    const char* out;
  } edits[] = {
      {" \t x y \t ", &StringBuffer::trim, "x y"},
      {"\r\n x \n", &StringBuffer::trim2, "x"},
      {" a\r\n\tb   c ", &StringBuffer::trimInsideSpaces, " a b c "},
      {"a\r\nb\nc\r", &StringBuffer::toCRLF, "a\r\nb\r\nc"},
      {"a\r\nb\r\nc", &StringBuffer::toLF, "a\nb\nc"},
      {"AbZ\xc0\xdf\xe0\xff", &StringBuffer::toLower, "abz\xe0\xff\xe0\xff"},
      {"abz\xe0\xff\xe0\xff", &StringBuffer::toUpper, "ABZ\xc0\xdf\xc0\xdf"},
      {"a&b<c>\"d'", &StringBuffer::entityEncode, "a&amp;b&lt;c&gt;&quot;d'"},
      {"a&b<c>\"d'", &StringBuffer::entityEncodeNoQuotes, "a&amp;b&lt;c&gt;\"d'"},
  };
  for (const auto& e : edits) {
    StringBuffer sb(e.in);
    (sb.*e.edit)();
    EXPECT_STREQ(sb.getString(), e.out) << e.in;
  }

  StringBuffer r("aaa");
  EXPECT_EQ(r.replaceAll("aa", "b"), 1);
  EXPECT_TRUE(r.equals("ba"));
  EXPECT_EQ(r.replaceAll("", "z"), 0);
  StringBuffer grow("x.x.x");
  EXPECT_EQ(grow.replaceAll(".", "<dot>"), 2);
  EXPECT_TRUE(grow.equals("x<dot>x<dot>x"));

  StringBuffer rm("a-b-c-d");
  rm.removeCharFrom('-', 3);
  EXPECT_TRUE(rm.equals("a-bcd"));
  StringBuffer any("a1b2c3d4e5f6");
  any.replaceAnyOf("123456", '_');  // only the first five bytes of the set count
  EXPECT_TRUE(any.equals("a_b_c_d_e_f6"));
}

TEST(StringBuffer, SplittingKeepsOrDropsEmptyPieces) {
  auto split = [](const char* text, char c, bool quotes, bool escapes) {
    ExtPtrArray a;
    StringBuffer(text).split(a, c, quotes, escapes);
    return piecesOf(a);
  };
  EXPECT_EQ(split("a,,b", ',', false, false), (Pieces{"a", "", "b"}));
  EXPECT_EQ(split("", ',', false, false), Pieces{});
  EXPECT_EQ(split("x,\"y,z\"", ',', true, false), (Pieces{"x", "\"y,z\""}));
  EXPECT_EQ(split("a\\,b,c", ',', false, true), (Pieces{"a\\,b", "c"}));
  ExtPtrArray a;
  StringBuffer("a;b c").splitOnAny(a, "; ", false, false);
  EXPECT_EQ(piecesOf(a), (Pieces{"a", "b", "c"}));
  StringBuffer("--a----b--").splitOnString(a, "--", 0);
  EXPECT_EQ(piecesOf(a), (Pieces{"a", "b"}));
  StringBuffer("1--2--3--4").splitOnString(a, "--", 2);
  EXPECT_EQ(piecesOf(a), (Pieces{"1", "2"}));

  // Pieces keep no spare room.
  StringBuffer("abc,de").split(a, ',', false, false);
  EXPECT_EQ(a.getAs<StringBuffer>(0)->capacity(), 4);
  a.removeAllObjects();
}

TEST(StringBuffer, BstrRoundTripAndSharedIntBuffer) {
  StringBuffer sb("\x80 5");  // the euro sign in 1252
  BSTR s = sb.createBSTR();
  ASSERT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(s[0], u'\u20ac');
  StringBuffer back;
  back.appendBSTR(s);
  EXPECT_TRUE(back.equalsSb(sb));
  SysFreeString(s);
  // A character the ANSI code page lacks is dropped on the way in.
  BSTR greek = SysAllocString(u"a\u03a9b");
  StringBuffer lossy;
  lossy.appendBSTR(greek);
  EXPECT_TRUE(lossy.equals("ab"));
  SysFreeString(greek);
  BSTR empty = StringBuffer().createBSTR();
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);

  const char* first = StringBuffer::intToString(12);
  EXPECT_STREQ(first, "12");
  StringBuffer::intToString(-7);
  EXPECT_STREQ(first, "-7");  // one buffer shared by every caller
}

// Under UBSan its check of the object's type stops the call even before the marker does.
#ifdef VORLUND_SANITIZED
#define USED_AFTER_DESTRUCTION(type) ""
#else
#define USED_AFTER_DESTRUCTION(type) type " used after destruction"
#endif

TEST(BufferDeathTest, UseAfterDestructionStopsTheProcess) {
  alignas(StringBuffer) unsigned char text[sizeof(StringBuffer)];
  auto* sb = new (text) StringBuffer("alive");
  sb->~StringBuffer();
  EXPECT_DEATH(sb->append("x"), USED_AFTER_DESTRUCTION("StringBuffer"));
  alignas(DataBuffer) unsigned char bytes[sizeof(DataBuffer)];
  auto* d = new (bytes) DataBuffer();
  d->~DataBuffer();
  EXPECT_DEATH(d->appendByte(1), USED_AFTER_DESTRUCTION("DataBuffer"));
}
