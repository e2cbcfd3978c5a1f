#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "foundation/StringBuffer.h"
#include "log/Logger.h"
#include "tests/support/TempDir.h"

namespace {

std::string xmlOf(Logger& log) {
  StringBuffer out;
  log.getErrorXml(out);
  return out.getString();
}

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

TEST(Logger, RefusesEmptyTextsAndCleansKeys) {
  Logger log;
  EXPECT_FALSE(log.logError(""));
  EXPECT_FALSE(log.hadError());  // nothing was recorded
  EXPECT_FALSE(log.enterContext("", true));
  EXPECT_FALSE(log.logData(" \t\r\n", "v"));
  EXPECT_EQ(xmlOf(log), "");

  EXPECT_TRUE(log.logData(" my key ", "v"));
  EXPECT_EQ(xmlOf(log), "<VorlundLog>\n<my_key>v</my_key>\n</VorlundLog>\n");

  log.clearLog();
  log.logDataTick("tick");
  const std::string xml = xmlOf(log);
  const size_t open = xml.find("<tick>") + 6;
  const std::string value = xml.substr(open, xml.find("</tick>") - open);
  EXPECT_FALSE(value.empty());
  EXPECT_EQ(value.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_TRUE(value == "0" || value[0] != '0');
}

TEST(Logger, ErrorFlagAndClearing) {
  Logger log;
  log.logError("boom");
  EXPECT_TRUE(log.hadError());
  log.clearEntries();
  EXPECT_TRUE(log.hadError());  // entries gone, flag kept
  EXPECT_EQ(xmlOf(log), "");
  log.clearLog();
  EXPECT_FALSE(log.hadError());
  EXPECT_EQ(xmlOf(log), "");

  // A member that recorded nothing leaves nothing to read.
  log.enterContext("NumParts", true);
  log.leaveContext();
  StringBuffer text;
  log.getErrorText(text);
  EXPECT_EQ(text.getSize(), 0u);
  EXPECT_EQ(xmlOf(log), "");
  EXPECT_TRUE(log.setEntryLimit(3));
  for (int i = 0; i < 10; ++i) log.logInfo("more than the limit");
  EXPECT_NE(xmlOf(log).find("more than the limit"), std::string::npos);
}

TEST(Logger, SavedXmlDocument) {
  TempDir dir;
  Logger log;
  const std::string emptyPath = dir.file("empty.xml");
  ASSERT_TRUE(log.saveErrorXml(false, wide(emptyPath).c_str()));
  EXPECT_EQ(readWholeFile(emptyPath),
            "<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>\n"
            "<VorlundLog>The log is empty</VorlundLog>");

  log.enterContext("SaveLastError", true);
  log.logInfo("saved");
  log.leaveContext();
  const std::string path = dir.file("log.xml");
  ASSERT_TRUE(log.saveErrorXml(false, wide(path).c_str()));
  EXPECT_EQ(readWholeFile(path),
            "<?xml version=\"1.0\"  encoding=\"utf-8\" standalone=\"yes\" ?>\n"
            "<VorlundLog>\n<SaveLastError>\n    <info>saved</info>\n</SaveLastError>\n"
            "</VorlundLog>\n");

  ASSERT_TRUE(log.saveErrorXml(true, wide(path).c_str()));
  EXPECT_TRUE(std::regex_search(  // mm/dd/yyyy hh:mm:ss
      readWholeFile(path),
      std::regex("\n    <info date=\"\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d\">saved</info>\n")));

  EXPECT_FALSE(log.saveErrorXml(false, nullptr));
  EXPECT_FALSE(log.saveErrorXml(false, wide(dir.path()).c_str()));  // a directory
}

TEST(Logger, RepeatsOfOneTextOrKeyAreCountedNotKept) {
  auto count = [](const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  Logger log;
  for (int round = 0; round < 2; ++round) {
    log.clearLog();
    log.enterContext("LoadXml", true);
    for (int i = 0; i < 2500; ++i) {
      log.logError("Error in closing tag");
      log.logData("error_tag", std::to_string(i).c_str());
      log.logInfo("two\nlines");
    }
    log.logInfo("said once");
    log.leaveContext();
    StringBuffer text;
    log.getErrorText(text);
    const std::string xml = xmlOf(log), plain = text.getString();
    // A new call counts afresh.
    EXPECT_EQ(count(plain, "Error in closing tag\r\n"), 1000u) << round;
    EXPECT_EQ(count(plain, "1500 more entries \"Error in closing tag\" left out"), 1u);
    EXPECT_EQ(count(plain, "1500 more entries \"two\" left out"), 1u);
    EXPECT_EQ(count(plain, "  lines"), 1000u);
    EXPECT_EQ(count(xml, "<error_tag>"), 1000u);
    EXPECT_NE(xml.find("<error_tag>999</error_tag>"), std::string::npos);
    EXPECT_EQ(count(xml, "1500 more entries with the key \"error_tag\" left out"), 1u);
    EXPECT_EQ(count(plain, "said once"), 1u);
    EXPECT_TRUE(log.hadError());
  }
}
