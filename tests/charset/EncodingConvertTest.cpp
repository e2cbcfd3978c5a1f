#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "charset/ConversionTables.h"
#include "charset/EncodingConvert.h"
#include "charset/KeptCodes.h"
#include "foundation/DataBuffer.h"

namespace {

struct Converted {
  bool ok;
  std::string bytes;
};

Converted conv(int32_t from, int32_t to, const std::string& in) {
  EncodingConvert engine;
  DataBuffer out;
  const bool ok = engine.convert(from, to, reinterpret_cast<const unsigned char*>(in.data()),
                                 static_cast<uint32_t>(in.size()), out);
  return {ok, std::string(reinterpret_cast<const char*>(out.getData()), out.getSize())};
}

// The bytes converted, after "lost: " when the conversion reports a loss.
std::string withLoss(int32_t from, int32_t to, const std::string& in) {
  const Converted c = conv(from, to, in);
  return (c.ok ? "" : "lost: ") + c.bytes;
}

std::string hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += digits[c >> 4];
    h += digits[c & 15];
  }
  return h;
}

std::string unhex(const std::string& h) {
  std::string s;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return s;
}

}  // namespace

TEST(EncodingConvert, UnicodeFormsAndMarks) {
  EXPECT_EQ(hex(conv(65001, 1200, "abc").bytes), "610062006300");

  // Characters beyond 16 bits are not decoded from UTF-8: skipped, and not a loss.
  EXPECT_EQ(withLoss(65001, 1200, "\xF0\x9F\x98\x80"), "");
  // Broken UTF-8 loses only the broken bytes.
  EXPECT_EQ(hex(conv(65001, 1200, "a\xC3(\xE0\x80\x80z\xE2\x82").bytes), "610028007a00");

  // The mark decides the byte order whatever the declared code page.
  EXPECT_EQ(conv(1201, 65001, std::string("\xFF\xFE\x41\x00", 4)).bytes, "A");
  EXPECT_EQ(conv(1200, 65001, std::string("\xFE\xFF\x00\x42", 4)).bytes, "B");
  EXPECT_EQ(hex(conv(65001, 1200, "\xEF\xBB\xBFx").bytes), "7800");
  // An odd final byte of UTF-16 is dropped; a single byte converts to nothing.
  EXPECT_EQ(conv(1200, 65001, std::string("A\0B", 3)).bytes, "A");
  EXPECT_FALSE(conv(1200, 1252, "A").ok);

  // UTF-32 both ways, through UTF-8.
  EXPECT_EQ(hex(conv(65001, 65005, "A\xE2\x82\xAC").bytes), "41000000ac200000");
  EXPECT_EQ(conv(65006, 65001, std::string("\x00\x00\x20\xAC\x00\x00", 6)).bytes, "\xE2\x82\xAC");
  // A cut sequence ends the UTF-32 text there; the first part converted, so no loss.
  EXPECT_EQ(withLoss(65001, 65005, "A\xC3"), std::string("A\0\0\0", 4));

  // UTF-7 as RFC 2152 writes it.
  EXPECT_EQ(conv(65001, 65000, "A\xC3\xA9").bytes, "A+AOk-");
  EXPECT_EQ(conv(65001, 65000, std::string("\xC2\xA3") + "1 +x").bytes, "+AKM-1 +-x");
  EXPECT_EQ(conv(65000, 65001, "A+AOk-+-x+AKM").bytes, "A\xC3\xA9+x\xC2\xA3");
}

TEST(EncodingConvert, TablePages) {
  EXPECT_EQ(conv(65001, 1252, "\xC3\xA9").bytes, "\xE9");
  EXPECT_EQ(conv(65001, 28591, "\xE2\x82\xAC").bytes, "\x80");
  EXPECT_EQ(conv(28591, 65001, "\x80").bytes, "\xE2\x82\xAC");
  // 1252 leaves 0x81 undefined: dropped, and reported, so a caller can try 28591 instead.
  EXPECT_EQ(withLoss(1252, 65001, "a\x81!"), "lost: a!");
  // US-ASCII turns a no-break space into a space and drops what it lacks.
  EXPECT_EQ(conv(65001, 20127, "a\xC2\xA0!").bytes, "a !");
  EXPECT_EQ(withLoss(65001, 20127, "\xC3\xA9!"), "lost: !");
  // EBCDIC redefines the low half too.
  EXPECT_EQ(hex(conv(65001, 37, "A1").bytes), "c1f1");

  EXPECT_EQ(hex(conv(65001, 932, "日本語ｶﾞ①").bytes), "93fa967b8ceab6de8740");
  EXPECT_EQ(conv(932, 65001, unhex("93fa967b8ceab6de8740")).bytes, "日本語ｶﾞ①");
  EXPECT_EQ(hex(conv(65001, 936, "中文").bytes), "d6d0cec4");
  EXPECT_EQ(hex(conv(65001, 950, "中文").bytes), "a4a4a4e5");
  EXPECT_EQ(hex(conv(65001, 1361, "한국").bytes), "d0658a82");
  // Between two table pages, through UTF-16.
  EXPECT_EQ(hex(conv(932, 51932, unhex("93fa967b")).bytes), "c6fccbdc");
  // A lead byte with no valid trail loses just itself; its follower is tried alone.
  EXPECT_EQ(withLoss(932, 65001, "\x93 A"), "lost:  A");
}

TEST(EncodingConvert, StatefulForms) {
  EXPECT_EQ(hex(conv(65001, 50220, "日本語").bytes), "1b2442467c4b5c386c1b2842");
  EXPECT_EQ(conv(50221, 65001, unhex("1b2442467c4b5c386c1b2842")).bytes, "日本語");
  // Half-width katakana become full-width, a sound mark merging into its kana.
  EXPECT_EQ(conv(50222, 65001, conv(932, 50222, "\xB6\xDE\xCA\xDF\xA7").bytes).bytes, "ガパァ");
  // Line ends leave double-byte mode; an unknown or cut escape is dropped.
  EXPECT_EQ(conv(50220, 65001, unhex("1b2442467c0a41")).bytes, "日\nA");
  EXPECT_EQ(conv(50220, 65001, unhex("411b2843421b24")).bytes, "AB");

  EXPECT_EQ(hex(conv(65001, 50225, "한국어a").bytes), "1b2429430e475131393e6e0f61");
  EXPECT_EQ(hex(conv(65001, 50225, "a한").bytes), "1b242943610e4751");  // no closing SI
  EXPECT_EQ(conv(50225, 65001, unhex("1b2429430e475131393e6e0f61")).bytes, "한국어a");
}

// ASCII runs of every length to 40 between other characters (unmapped and broken ones among
// them), at every offset from the text's start and the buffer's alignment: a text converts
// as its characters do one by one. 37 and 20105 give ASCII bytes other meanings.
TEST(EncodingConvert, AsciiRunsConvertAsTheirCharactersDo) {
  using Chars = std::vector<std::string>;
  const Chars units = {std::string("\xE9\0", 2), "\x2D\x4E", std::string("\0\xD8", 2), "\xAC\x20"};
  const Chars utf8 = {"\xC3\xA9", "\xE4\xB8\xAD", "\xC3", "\xFF"};
  // clang-format off
  const std::tuple<int32_t, int32_t, Chars> cases[] = {
      {1252, 1200, {"\xE9", "\x81"}}, {437, 65001, {"\x82"}}, {37, 1200, {"\xC1"}},
      {20105, 65001, {"\xA4"}}, {932, 1200, {"\x93\xFA", "\xB6", "\x93 "}}, {65001, 1200, utf8},
      {65001, 1252, utf8}, {65001, 37, utf8}, {1200, 1252, units}, {1200, 65001, units},
      {1200, 932, units}, {1200, 37, units}};
  // clang-format on
  std::mt19937 rng(7);
  for (const auto& [from, to, others] : cases) {
    std::map<std::string, Converted> one;
    for (int run = 0; run <= 40; ++run) {
      for (int offset = 0; offset < 16; ++offset) {
        std::string text(offset, ' ');
        Converted expected{true, ""};
        auto add = [&](const std::string& ch) {
          text += ch;
          const auto [it, fresh] = one.try_emplace(ch);
          if (fresh) it->second = conv(from, to, ch);
          expected.ok &= it->second.ok;
          expected.bytes += it->second.bytes;
        };
        auto ascii = [&](int count) {
          for (int k = 0; k < count; ++k)
            add(std::string(from == 1200 ? 2 : 1, '\0')
                    .replace(0, 1, 1, static_cast<char>(rng() % 128)));
        };
        ascii(offset);
        for (int k = 0; k < 4; ++k) {
          add(others[rng() % others.size()]);
          ascii(k == 0 ? run : static_cast<int>(rng() % 41));
        }
        EncodingConvert engine;
        DataBuffer out;
        const bool ok =
            engine.convert(from, to, reinterpret_cast<const unsigned char*>(text.data()) + offset,
                           static_cast<uint32_t>(text.size()) - offset, out);
        ASSERT_EQ(hex(std::string(reinterpret_cast<const char*>(out.getData()), out.getSize())),
                  hex(expected.bytes))
            << from << " to " << to << ", run " << run << " at " << offset;
        ASSERT_EQ(ok, expected.ok) << from << " to " << to;
      }
    }
  }
}

TEST(EncodingConvert, UnsupportedAndDegenerateInput) {
  for (int32_t to : {1200, 65001, 1201, 65000, 50220}) {
    Converted r = conv(20000, to, "abc");
    EXPECT_FALSE(r.ok) << to;
    if (to != 1201 && to != 50220) {
      EXPECT_EQ(r.bytes, "") << to;
    }
  }
  EXPECT_EQ(withLoss(65001, 54936, "abc"), "lost: ");
  EXPECT_TRUE(conv(20000, 20000, "same").ok);  // nothing to convert
  EncodingConvert engine;
  DataBuffer out;
  EXPECT_TRUE(engine.convert(65001, 1252, nullptr, 5, out));
  EXPECT_EQ(out.getSize(), 0u);
  EXPECT_FALSE(isConvertibleCodePage(20000));
}

TEST(EncodingConvert, MacArabicVisualRuns) {
  // A run of right-to-left digits is stored in visual order: it comes out reversed, and
  // the digits' right-to-left twins become ASCII.
  EXPECT_EQ(conv(10004, 65001, "\xB1\xB2 \xB3").bytes, "21 3");
  EXPECT_EQ(conv(10004, 65001, "x\xA8\xA9y").bytes, "x)(y");
}

// A text is kept exactly when the engine takes it to UTF-8 and back unchanged: every byte and
// pair of double-byte pages (lead bytes without a trail or at the end, codes sharing a character,
// user-defined codes, best-fit single bytes), then longer texts of codes and ASCII runs.
TEST(KeptCodes, KeptExactlyWhatComesBackThroughUtf8) {
  std::mt19937 rng(7);
  for (int32_t cp : {932, 936, 950, 1252}) {
    const KeptCodes* kept = codesKeptThroughUtf8(cp);
    ASSERT_NE(kept, nullptr) << cp;
    int mismatches = 0;
    int keptTexts = 0;
    auto check = [&](const std::string& s) {
      const bool same = conv(65001, cp, conv(cp, 65001, s).bytes).bytes == s;
      keptTexts += same;
      if (kept->keeps(reinterpret_cast<const unsigned char*>(s.data()),
                      static_cast<uint32_t>(s.size())) != same &&
          ++mismatches <= 5)
        ADD_FAILURE() << cp << ": " << hex(s) << (same ? " comes back" : " does not come back");
    };
    for (uint32_t k = 0; k < 0x10000; ++k) {
      if (k < 0x100) check(std::string(1, static_cast<char>(k)));
      if (kept->doubleByte()) check({static_cast<char>(k >> 8), static_cast<char>(k)});
    }
    for (int t = 0; t < 3000; ++t) {
      std::string s;
      for (int pieces = static_cast<int>(rng() % 6); pieces >= 0; --pieces) {
        const uint32_t r = rng();
        if (r % 3 == 0)
          s.append(1 + r / 3 % 11, static_cast<char>('a' + r % 26));
        else
          s.push_back(static_cast<char>(0x80 | r >> 8));
      }
      check(s);
    }
    EXPECT_GT(keptTexts, kept->doubleByte() ? 20000 : 1000) << cp;
  }
  EXPECT_EQ(codesKeptThroughUtf8(50220), nullptr);  // stateful
}

TEST(ConversionTables, StoredListsDecodeToTheirMappings) {
  const HashConvert* reverse = reverseTable(28591);
  ASSERT_NE(reverse, nullptr);
  EXPECT_EQ(reverse->numEntries(), 128u);
  uint32_t len = 0;
  const unsigned char euro[2] = {0xAC, 0x20};
  const unsigned char* v = reverse->lookup(euro, 2, &len);
  ASSERT_EQ(len, 1u);
  EXPECT_EQ(v[0], 0x80);
  const unsigned char c1[2] = {0x80, 0x00};
  reverse->lookup(c1, 2, &len);
  EXPECT_EQ(len, 0u);

  // The multi-byte lists hold the Windows mappings: their sizes are the check.
  struct Count {
    int32_t cp;
    uint32_t entries;
  };
  for (const Count c :
       {Count{932, 70 + 9206}, Count{936, 3 + 23940}, Count{949, 3 + 17236}, Count{950, 3 + 19710},
        Count{51932, 7 + 9269}, Count{51949, 3 + 8414}, Count{1361, 16 + 17252}}) {
    const HashConvert* forward = multiByteForward(c.cp);
    ASSERT_NE(forward, nullptr) << c.cp;
    EXPECT_EQ(forward->numEntries(), c.entries) << c.cp;
  }
  EXPECT_EQ(singleByteForward(20127)->units[0x41], 0x41);
  EXPECT_EQ(singleByteForward(20127)->units[0xA0], 0);
}
