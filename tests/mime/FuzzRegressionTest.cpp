// Inputs the fuzz targets found, reduced. None crashed; each shows a rule that keeps a text
// from reaching its fixed point at once after a read and a write, and pins how many rounds it
// takes, so a change that makes such texts drift for ever fails here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/mime/EntityText.h"

namespace {

std::string rewrite(const std::string& text) { return written(*loaded(text)); }

// The input, then each written text in turn.
std::vector<std::string> rounds(const std::string& input, int n) {
  std::vector<std::string> texts{input};
  for (int i = 0; i < n; ++i) texts.push_back(rewrite(texts.back()));
  return texts;
}

// A part with an empty header is written as its delimiter line, a blank line and its body;
// read back it has no header separator, so it gets "content-type: text/plain" and a body that
// begins with the line end. One round later the text is settled.
TEST(FuzzRegression, EmptyPartHeaderSettlesOneRoundLater) {
  const std::string input =
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      "--b\r\n\r\n\r\nhello\r\n--b--\r\n";
  const auto t = rounds(input, 4);
  EXPECT_NE(t[2].find("--b\r\ncontent-type: text/plain\r\n\r\n"), std::string::npos) << t[2];
  EXPECT_EQ(t[3], t[4]);
  EXPECT_NE(t[3].find("hello"), std::string::npos);
}

// boundary=b"1" reads as the boundary b<[[0]]> (the quoted string's marker stays in it). In
// a header written as structured values (the UTF-8 label of the subject makes it so) every
// parameter value is written quoted, as "b"1", which reads as the boundary b. The body is cut
// anew once, then the text is settled.
TEST(FuzzRegression, QuoteInsideBoundarySettles) {
  const std::string input =
      "Subject: =?utf-8?B?w6k=?=\r\n"
      "Content-Type: multipart/mixed; boundary=b\"1\"\r\n\r\n"
      "--b1\r\nContent-Type: text/plain\r\n\r\nx\r\n--b1--\r\n";
  const auto t = rounds(input, 5);
  EXPECT_NE(t[1].find("boundary=\"b\"1\""), std::string::npos) << t[1];
  EXPECT_NE(t[1].find("--b<[[0]]>\r\n"), std::string::npos) << t[1];
  EXPECT_NE(t[2].find("\r\n--b\r\n"), std::string::npos) << t[2];
  bool settled = false;
  for (int i = 2; i < 5 && !settled; ++i) settled = t[i] == t[i + 1];
  EXPECT_TRUE(settled) << t[4] << "\n----\n" << t[5];
}

// The header charset is the text between the first "=?" and the first "?Q?" after it. With a
// B word before a Q word that spans both words and names no charset; with no charset the
// writer makes Q words, with the UTF-8 label it makes B words, so the header flips between
// the two each round, and the text repeats every other round.
TEST(FuzzRegression, MixedWordKindsRepeatEveryOtherRound) {
  const std::string input =
      "From: =?utf-8?B?SsOp?= <j@x.com>\r\n"
      "Subject: =?utf-8?Q?h=C3=A9?oll=\r\n\r\nbody\r\n";
  const auto t = rounds(input, 5);
  EXPECT_NE(t[2], t[3]);
  EXPECT_EQ(t[2], t[4]);
  EXPECT_EQ(t[3], t[5]);
  // Both forms still say the same name.
  for (int i = 2; i <= 3; ++i) {
    StringBuffer in(t[i].data(), static_cast<uint32_t>(t[i].size()), 0);
    MimeMessage2 e;
    loadEntity(e, in, nullptr);
    StringBuffer from;
    ASSERT_TRUE(e.getHeaderField("from", from));
    EXPECT_EQ(str(from), "J\xC3\xA9 <j@x.com>") << i;
  }
}

// A double quote inside a parameter value: each value is written between quotes of its own,
// so the next read pairs the quotes differently and the ";" that ends a value moves. Every
// round settles one more parameter: five of them, with the trailing "2", take six rounds.
TEST(FuzzRegression, QuotesInsideParametersSettleOneParameterARound) {
  std::string input = "X-P: \xE9\xE9";
  for (const char c : std::string("abcde")) input.append(";\"==\"=").append(1, c).append("\xD2");
  input += ";2\r\n\r\nbody";
  const auto t = rounds(input, 8);
  for (int i = 1; i < 7; ++i) EXPECT_NE(t[i], t[i + 1]) << "settled early at write " << i;
  EXPECT_EQ(t[7], t[8]);
  // The last value, quoted at last, now runs to the closing "2".
  EXPECT_NE(t[7].find("=3De=D2\";2?=\""), std::string::npos) << t[7];
}

}  // namespace
