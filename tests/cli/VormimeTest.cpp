// Runs the host program as a user would and checks what it prints and how it exits.
#include <gtest/gtest.h>

#include <string>

#include "tests/cli/RunVormime.h"
#include "tests/support/TempDir.h"

TEST(Vormime, VersionUsageAndExitStatus) {
  Result r = vormime("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "vormime 3.0.1\n");
  EXPECT_EQ(vormime("").status, 2);
  EXPECT_EQ(vormime("no-such-command").status, 2);
  EXPECT_EQ(vormime("log-demo extra").status, 2);
  r = vormime("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("log-demo"), std::string::npos);
  for (const char* command : {"show", "xml", "mime", "extract", "call", "register", "unregister"})
    EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
}

TEST(Vormime, LogDemoPrintsTheThreeRenderings) {
  const Result r = vormime("log-demo");
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "--- text ---\n"
            "Failed to get MIME message part\r\nnum_parts: 3\r\nrequested_part_index: 5\r\n"
            "--- xml ---\n"
            "<VorlundLog>\n<GetPart>\n    <error>Failed to get MIME message part</error>\n"
            "    <num_parts>3</num_parts>\n    <requested_part_index>5</requested_part_index>\n"
            "</GetPart>\n</VorlundLog>\n"
            "--- html ---\n"
            "Failed to get MIME message part<br>num_parts: 3<br>requested_part_index: 5<br>\n");
}

TEST(Vormime, ConvertAgreesWithIconvAndReportsProblems) {
  TempDir dir;
  std::string all;
  for (int b = 0x20; b < 0x100; ++b)
    if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) all += static_cast<char>(b);
  writeWholeFile(dir.file("in.txt"), all);
  Result ours = vormime("convert --from windows-1252 --to utf-8 " + dir.file("in.txt"));
  ASSERT_EQ(ours.status, 0);
  Result theirs = vormime("", "2>/dev/null; iconv -f CP1252 -t UTF-8 " + dir.file("in.txt"));
  EXPECT_EQ(ours.out, theirs.out);

  // Back through stdin, and into a file named after the input.
  writeWholeFile(dir.file("u.txt"), ours.out);
  Result back = vormime("convert --from UTF-8 --to Windows-1252 < " + dir.file("u.txt"));
  EXPECT_EQ(back.out, all);
  ASSERT_EQ(vormime("convert --from utf_8 --to x-ansi - " + dir.file("o.txt") + " < " +
                    dir.file("u.txt"))
                .status,
            0);
  EXPECT_EQ(readWholeFile(dir.file("o.txt")), all);

  Result unknown = vormime("convert --from no-such-set --to utf-8 /dev/null", "2>&1");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.out.find("'no-such-set'"), std::string::npos);
  Result noConverter = vormime("convert --from gb18030 --to utf-8 /dev/null", "2>&1");
  EXPECT_EQ(noConverter.status, 1);
  EXPECT_NE(noConverter.out.find("has no converter"), std::string::npos);
  EXPECT_EQ(vormime("convert --to utf-8").status, 2);

  writeWholeFile(dir.file("euro.txt"), "a\xE2\x82\xAC" "b");
  Result dropped = vormime("convert --from utf-8 --to us-ascii " + dir.file("euro.txt"),
                           "2>" + dir.file("err.txt"));
  EXPECT_EQ(dropped.status, 0);
  EXPECT_EQ(dropped.out, "ab");
  EXPECT_NE(readWholeFile(dir.file("err.txt")).find("dropped"), std::string::npos);
}

TEST(Vormime, CharsetsListsNamesAndConverters) {
  Result r = vormime("charsets");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("1252   windows-1252"), std::string::npos);
  EXPECT_NE(r.out.find("x-ansi"), std::string::npos);
  EXPECT_NE(r.out.find("54936"), std::string::npos);
  const size_t line = r.out.find("\n54936");
  ASSERT_NE(line, std::string::npos);
  EXPECT_NE(r.out.substr(line, 40).find(" no "), std::string::npos);
}
