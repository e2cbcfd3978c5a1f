#include <gtest/gtest.h>

#include <string>

#include "charset/HashConvert.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

std::string find(const HashConvert& t, const char* key, uint32_t len) {
  uint32_t vlen = 0;
  const unsigned char* v = t.lookup(u(key), len, &vlen);
  return std::string(reinterpret_cast<const char*>(v), vlen);
}

}  // namespace

TEST(HashConvert, FirstInsertedWinsAndRemovalTakesEveryCopy) {
  HashConvert t(3);  // few buckets, so keys share them
  t.insert(u("ab"), 2, u("1"), 1);
  t.insert(u("ab"), 2, u("2"), 1);
  t.insert(u("a"), 1, u("33"), 2);
  t.insert(u("abcd"), 4, u("4"), 1);
  t.insert(u("abcde"), 5, u("5"), 1);  // same first four bytes, so the same bucket
  EXPECT_EQ(find(t, "ab", 2), "1");
  EXPECT_EQ(find(t, "a", 1), "33");
  EXPECT_EQ(find(t, "abcd", 4), "4");
  EXPECT_EQ(find(t, "abcde", 5), "5");
  EXPECT_TRUE(t.isLeadByte('a'));
  EXPECT_FALSE(t.isLeadByte('b'));

  t.remove(u("ab"), 2);
  EXPECT_EQ(find(t, "ab", 2), "");
  EXPECT_EQ(find(t, "abcd", 4), "4");
  EXPECT_EQ(t.numEntries(), 3u);

  HashConvert inverted(7);
  t.invertInto(inverted);
  EXPECT_EQ(find(inverted, "5", 1), "abcde");

  t.init(11);
  EXPECT_EQ(t.numEntries(), 0u);
  EXPECT_EQ(find(t, "a", 1), "");
}
