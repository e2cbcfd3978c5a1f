#include <gtest/gtest.h>

#include <string>

#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "foundation/XString.h"
#include "log/Logger.h"
#include "tests/support/TempDir.h"

namespace {

std::string load(const std::string& path) {
  StringBuffer sb;
  XString name;
  name.setFromUtf8(path.c_str());
  EXPECT_TRUE(sb.loadFile(name, nullptr));
  return std::string(sb.getString(), sb.getSize());
}

}  // namespace

TEST(StringBufferLoadFile, ByteOrderMarks) {
  TempDir dir;
  const std::pair<std::string, std::string> files[] = {
      {"\xEF\xBB\xBF", "\xEF\xBB\xBF"},  // the mark alone is kept
      {"\xEF\xBB\xBFxy", "xy"},
      {std::string("\xFF\xFE\x41\x00", 4), "A"},
      {std::string("\xFE\xFF\x00\xE9\x20\xAC", 6), "\xC3\xA9\xE2\x82\xAC"},
      {std::string("a\0b", 3), std::string("a\0b", 3)},  // binary bytes come through whole
  };
  for (const auto& [bytes, loaded] : files) {
    writeWholeFile(dir.file("t"), bytes);
    EXPECT_EQ(load(dir.file("t")), loaded);
  }
}

TEST(StringBufferLoadFile, AppendsAndKeepsWhatItHeldOnFailure) {
  TempDir dir;
  writeWholeFile(dir.file("a"), std::string("\xFF\xFE\x42\x00", 4));
  StringBuffer sb("kept:");
  XString name;
  name.setFromUtf8(dir.file("a").c_str());
  ASSERT_TRUE(sb.loadFile(name, nullptr));
  EXPECT_TRUE(sb.equals("kept:B"));  // the mark of the file, not of the earlier text

  Logger log;
  name.setFromUtf8(dir.file("missing").c_str());
  EXPECT_FALSE(sb.loadFile(name, &log));
  EXPECT_TRUE(sb.equals("kept:B"));
  EXPECT_TRUE(log.hadError());
}

TEST(StringBufferLoadFile, CreateFromFileAcceptsFileUrls) {
  TempDir dir;
  writeWholeFile(dir.file("m.eml"), "Subject: x\r\n\r\nbody");
  XString url;
  url.setFromUtf8(("FILE:///" + dir.path().substr(1) + "/m.eml").c_str());
  StringBuffer* sb = StringBuffer::createFromFile(url, nullptr);
  ASSERT_NE(sb, nullptr);
  EXPECT_TRUE(sb->equals("Subject: x\r\n\r\nbody"));
  EXPECT_EQ(sb->capacity(), 18 + 200);  // sized for the file: no regrowth while loading
  delete sb;

  XString missing;
  missing.setFromUtf8(dir.file("none").c_str());
  EXPECT_EQ(StringBuffer::createFromFile(missing, nullptr), nullptr);
}

TEST(DataBufferLoadFile, ReplacesContentsWithoutLookingAtMarks) {
  TempDir dir;
  writeWholeFile(dir.file("b"), std::string("\xFF\xFE\x41\x00", 4));
  DataBuffer d;
  d.append("old", 3);
  ASSERT_TRUE(d.loadFile(dir.file("b").c_str(), nullptr));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.getData()), d.getSize()),
            std::string("\xFF\xFE\x41\x00", 4));
  EXPECT_EQ(d.capacity(), 4u);

  writeWholeFile(dir.file("e"), "");
  ASSERT_TRUE(d.loadFile(dir.file("e").c_str(), nullptr));
  EXPECT_EQ(d.getSize(), 0u);

  Logger log;
  EXPECT_FALSE(d.loadFile(dir.file("gone").c_str(), &log));
  EXPECT_EQ(d.getSize(), 0u);
  EXPECT_TRUE(log.hadError());
}
