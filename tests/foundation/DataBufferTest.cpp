#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/DataBuffer.h"
#include "foundation/Memory.h"

TEST(DataBuffer, GrowthRules) {
  DataBuffer d;
  d.append("abc", 3);
  EXPECT_EQ(d.capacity(), 20000u);  // at least 20000 at a time
  std::string big(30000, 'z');
  d.append(big.data(), 30000);
  EXPECT_EQ(d.capacity(), 30003u);  // size + n when n is larger
  d.appendByte('!');
  EXPECT_EQ(d.capacity(), 50003u);

  DataBuffer exact;
  exact.appendExact("abcd", 4);
  EXPECT_EQ(exact.capacity(), 4u);
  exact.appendExact("ef", 2);
  exact.ensureCapacity(3);  // never shrinks
  EXPECT_EQ(exact.capacity(), 6u);
  exact.append(exact.getData(), 6);  // its own bytes across a regrowth
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(exact.getData()), exact.getSize()),
            "abcdefabcdef");

  DataBuffer sized(16);
  EXPECT_EQ(sized.capacity(), 16u);
  EXPECT_EQ(sized.getData()[15], 0);
}

TEST(DataBuffer, OwnershipOfBlocks) {
  unsigned char borrowed[4] = {1, 2, 3, 4};
  DataBuffer b;
  b.append("xx", 2);
  b.borrowData(borrowed, 4);
  EXPECT_TRUE(b.isBorrowed());
  EXPECT_EQ(b.getData(), borrowed);
  b.append("5", 1);  // grows into a block of its own, leaving the caller's alone
  EXPECT_FALSE(b.isBorrowed());
  EXPECT_EQ(borrowed[3], 4);

  auto* block = static_cast<unsigned char*>(vorlundAlloc(3));
  std::memcpy(block, "abc", 3);
  DataBuffer adopted(block, 3);  // freed by the buffer (ASan would report a leak)

  DataBuffer taker;
  taker.takeFrom(adopted);
  EXPECT_EQ(adopted.getSize(), 0u);
  EXPECT_EQ(adopted.getData(), nullptr);
  EXPECT_EQ(taker.getData(), block);

  DataBuffer w;
  w.appendWideString(u"hi");
  EXPECT_EQ(w.getSize(), 6u);
  w.appendWideString(nullptr);
  EXPECT_EQ(w.getSize(), 8u);
}

TEST(DataBuffer, VariantAndBstrForms) {
  VARIANT v;
  DataBuffer empty;
  empty.toVariant(&v);
  EXPECT_EQ(v.vt, VT_NULL);

  DataBuffer d;
  d.append("\x00\x01\xff", 3);
  d.toVariant(&v);
  ASSERT_EQ(v.vt, VT_ARRAY | VT_UI1);
  void* data = nullptr;
  SafeArrayAccessData(v.parray, &data);
  EXPECT_EQ(std::memcmp(data, "\x00\x01\xff", 3), 0);
  SafeArrayUnaccessData(v.parray);
  VariantClear(&v);

  DataBuffer text;
  text.append("caf\xe9", 4);  // bytes in the ANSI code page, 1252
  BSTR s = text.createBSTR();
  EXPECT_EQ(std::u16string(s, SysStringLen(s)), u"caf\u00e9");
  SysFreeString(s);
}
