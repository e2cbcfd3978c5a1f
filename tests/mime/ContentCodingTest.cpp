#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "mime/ContentCoding.h"
#include "tests/mime/EntityText.h"
#include "tests/support/TempDir.h"

namespace {

const ContentCoding coder;

std::string str(const DataBuffer& d) {
  return std::string(reinterpret_cast<const char*>(d.getData()), d.getSize());
}
uint32_t len(const std::string& s) { return static_cast<uint32_t>(s.size()); }

std::string words(bool b, const std::string& value, const char* charset) {
  StringBuffer out;
  (coder.*(b ? &ContentCoding::encodeWordsB : &ContentCoding::encodeWordsQ))(
      value.data(), len(value), charset, out);
  return str(out);
}

std::string forCharset(const std::string& text, const char* charset) {
  StringBuffer out;
  coder.encodeWordForCharset(text.data(), len(text), charset, out);
  return str(out);
}

std::string decoded(const std::string& text) {
  StringBuffer sb(text.data(), len(text), 0);
  coder.decodeWords(sb);
  return str(sb);
}

std::string decodedBytes(const std::string& text) {
  DataBuffer out;
  coder.decodeWordsToBytes(text.data(), len(text), out);
  return str(out);
}

// Each of the CRLF TAB separated words decoded on its own.
std::vector<std::string> eachWord(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t at; (at = text.find("\r\n\t", start)) != std::string::npos; start = at + 3)
    out.push_back(decodedBytes(text.substr(start, at - start)));
  out.push_back(decodedBytes(text.substr(start)));
  return out;
}

// What prepareHeaderValue makes of a value: "encoding|bytes|charset name". The buffers are
// reused, so anything a call leaves from the one before shows.
std::string prepared(int32_t cp, const StringBuffer& value) {
  static StringBuffer bytes, name;
  const HeaderEncoding e = prepareHeaderValue(cp, value, bytes, name);
  return std::to_string(static_cast<int>(e)) + "|" + str(bytes) + "|" + str(name);
}

std::string utf16le(const std::string& ascii) {
  std::string s;
  for (char c : ascii) s += std::string{c, '\0'};
  return s;
}

// Python's email package on the other side: requests are queued, then run in one process.
class Python {
 public:
  size_t add(const std::string& op, const std::vector<std::string>& args) {
    static const char digits[] = "0123456789abcdef";
    requests_ += op;
    for (const std::string& a : args) {
      requests_ += a.empty() ? " -" : " ";
      for (unsigned char c : a) requests_ += {digits[c >> 4], digits[c & 0x0F]};
    }
    requests_ += "\n";
    return count_++;
  }

  std::vector<std::string> run() {
    const std::string here(__FILE__);
    const std::string script = here.substr(0, here.rfind('/')) + "/email_interop.py";
    writeWholeFile(dir_.file("in"), requests_);
    const std::string command =
        "python3 '" + script + "' < '" + dir_.file("in") + "' > '" + dir_.file("out") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<std::string> results;
    std::istringstream lines(readWholeFile(dir_.file("out")));
    for (std::string line; std::getline(lines, line);) {
      std::string bytes;
      for (size_t i = 0; i + 1 < line.size(); i += 2)
        bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
      results.push_back(bytes);
    }
    EXPECT_EQ(results.size(), count_);
    results.resize(count_);
    return results;
  }

 private:
  TempDir dir_;
  std::string requests_;
  size_t count_ = 0;
};

const std::string kJapanese = "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe4\xbb\xb6";
const std::string kEmoji =
    "a\xf0\x9f\x98\x80\xf0\x9f\x98\x81\xf0\x9f\x98\x82\xf0\x9f\x98\x83\xf0\x9f\x98\x84"
    "\xf0\x9f\x98\x85\xf0\x9f\x98\x86\xf0\x9f\x98\x87\xf0\x9f\x98\x88 end";
const std::vector<std::string> kHeaderValues = {
    "plain ascii",
    "under_score = and ? marks",
    "caf\xc3\xa9 au lait",
    kJapanese,
    kEmoji,
    "Gr\xc3\xbc\xc3\x9f"
    "e aus K\xc3\xb6ln mit einem langen Betreff, der mehrere W\xc3\xb6rter "
    "braucht"};

// Line-structured bytes with all that quoted-printable must protect.
const std::string kBody =
    "From the start\r\n.dot\r\ntrailing space \r\ntab\t\r\n= and 8-bit caf\xc3\xa9 \xff\x80\r\n" +
    std::string(150, 'x') + "\r\nlast line without end";

}  // namespace

TEST(ContentCoding, MakesWords) {
  // The body codecs break lines at the coder's own line length.
  ContentCoding wide;
  wide.setLineLength(76);
  StringBuffer body;
  wide.encodeBase64Lines(std::string(57, '\0').data(), 57, body);
  wide.encodeQuotedPrintable(std::string(80, 'q').data(), 80, body);
  EXPECT_EQ(str(body), std::string(76, 'A') + "\r\n\r\n" + std::string(76, 'q') + "=\r\nqqqq");

  StringBuffer out("Subject: ");
  coder.makeWordB("caf\xc3\xa9", 5, "utf-8", out);
  coder.makeWordQ("caf\xc3\xa9 _?", 8, "utf-8", out);
  EXPECT_EQ(str(out), "Subject: =?utf-8?B?Y2Fmw6k=?==?utf-8?Q?caf=C3=A9_=5F=3F?=");

  // B for the listed charsets in any case, Q for every other; never cut.
  for (const char* cs : {"Shift_JIS", "ISO-2022-JP", "cp-936", "windows-1256", "TIS-620"})
    EXPECT_EQ(forCharset("a b", cs), std::string("=?") + cs + "?B?YSBi?=");
  for (const char* cs : {"utf-8", "iso-8859-1", "shift_jisx", "cp936", "8bit"})
    EXPECT_EQ(forCharset("a b", cs), std::string("=?") + cs + "?Q?a_b?=");
  const std::string z200(200, 'z');
  EXPECT_EQ(forCharset(z200, "utf-8"), "=?utf-8?Q?" + z200 + "?=");
  // Text holding a word marker in its first 100 bytes is left as it is.
  for (const std::string& held : {std::string("=?utf-8?q?abc?="), std::string(97, 'a') + "?b?"})
    EXPECT_EQ(forCharset(held, "utf-8"), held);
  EXPECT_EQ(forCharset(std::string(98, 'a') + "?Q?", "utf-8"),
            "=?utf-8?Q?" + std::string(98, 'a') + "=3FQ=3F?=");
}

TEST(ContentCoding, CutsLongValuesInUtf16) {
  const std::string a17(17, 'a');
  EXPECT_EQ(words(false, std::string(34, 'a'), "utf-8"), "=?utf-8?Q?" + a17 + a17 + "?=");
  EXPECT_EQ(words(false, std::string(35, 'a'), "utf-8"),
            "=?utf-8?Q?" + a17 + "?=\r\n\t=?utf-8?Q?" + a17 + "?=\r\n\t=?utf-8?Q?a?=");
  EXPECT_EQ(words(true, std::string(23, 'a'), "utf-8"),
            "=?utf-8?B?YWFhYWFhYWFhYWFhYWFhYWFhYWFhYWE=?=");
  EXPECT_EQ(words(true, std::string(24, 'a'), "utf-8"),
            "=?utf-8?B?YWFhYWFhYWFhYWFh?=\r\n\t=?utf-8?B?YWFhYWFhYWFhYWFh?=");

  // No word ends inside a character.
  std::string accents;
  for (int i = 0; i < 20; ++i) accents += "\xc3\xa9";
  for (const std::string& value : {accents, kJapanese + kHeaderValues[5]}) {
    for (bool b : {false, true}) {
      std::string joined;
      for (const std::string& piece : eachWord(words(b, value, "utf-8"))) {
        DataBuffer units;
        EXPECT_TRUE(convertCodePage(65001, 1200, piece.data(), len(piece), units)) << value;
        EXPECT_LE(units.getSize(), b ? 24u : 34u);
        joined += piece;
      }
      EXPECT_EQ(joined, value);
    }
  }
  // Nor between the halves of a surrogate pair: "a" and 13 pairs give 11 + 12 + 4 units.
  std::string pairs = utf16le("a");
  for (int i = 0; i < 13; ++i) pairs += std::string("\x3d\xd8\x00\xde", 4);
  const auto wordsOfPairs = eachWord(words(true, pairs, "utf-16"));
  ASSERT_EQ(wordsOfPairs.size(), 3u);
  EXPECT_EQ(wordsOfPairs[0].size(), 22u);
  EXPECT_EQ(wordsOfPairs[0] + wordsOfPairs[1] + wordsOfPairs[2], pairs);
  // Characters the UTF-8 path may not carry through UTF-16 are never lost.
  const auto emoji = eachWord(words(false, kEmoji, "utf-8"));
  EXPECT_EQ(std::accumulate(emoji.begin(), emoji.end(), std::string()), kEmoji);
  // A value not valid in its charset stays one word, so nothing is lost.
  std::string escaped;
  for (int i = 0; i < 40; ++i) escaped += "=FF";
  EXPECT_EQ(words(false, std::string(40, '\xff'), "utf-8"), "=?utf-8?Q?" + escaped + "?=");
}

TEST(ContentCoding, DecodesWords) {
  EXPECT_EQ(decoded("Re: =?utf-8?Q?caf=C3=A9?= ok"), "Re: caf\xc3\xa9 ok");
  EXPECT_EQ(decoded("=?UTF-8?b?Y2Fmw6k=?="), "caf\xc3\xa9");
  EXPECT_EQ(decoded("=?utf-8?x?a_b?="), "a b");  // anything but B is Q
  EXPECT_EQ(decoded("=?utf-8?Q?a?= =?utf-8?Q?b?=\r\n\t=?utf-8?Q?c?="), "a b\r\n\tc");
  EXPECT_EQ(decoded("=?x-unknown?Q?=E9?==??Q?=E9?="), "\xe9\xe9");  // copied as they are
  EXPECT_EQ(decoded("=?utf-16?B?YwBhAGYA6QA=?="), "caf\xc3\xa9");   // converted to UTF-8
  EXPECT_EQ(decoded("no words = here? =x"), "no words = here? =x");

  // From a "=?" that opens no complete word on, the text stays as it is.
  for (const char* tail : {"=?", "=?utf-8", "=?utf-8?", "=?utf-8?Q", "=?utf-8?Qx", "=?utf-8?Q?",
                           "=?utf-8?Q?abc?", "=? lone =?utf-8?Q?x?="}) {
    const std::string text = std::string("=?utf-8?Q?a?= then ") + tail;
    EXPECT_EQ(decoded(text), std::string("a then ") + tail);
    EXPECT_EQ(decodedBytes(text), std::string("a then ") + tail);
  }
  // The byte walk converts nothing.
  EXPECT_EQ(decodedBytes("<=?utf-16?B?YwA=?=> =?iso-8859-1?q?=E9?="), std::string("<c\0> \xe9", 6));
}

TEST(HeaderEncoding, ChoiceAndFallbackLabel) {
  const StringBuffer plain("plain");
  const StringBuffer accented("caf\xc3\xa9");
  for (int32_t cp : {932, 936, 949, 950, 874, 1361, 1200, 1201, 28596, 1256, 50001, 65001}) {
    EXPECT_EQ(chooseHeaderEncoding(cp, plain), HeaderEncoding::kB) << cp;
    EXPECT_EQ(chooseHeaderEncoding(cp, accented), HeaderEncoding::kB) << cp;
  }
  for (int32_t cp : {0, 28591, 1252, 50000}) {
    EXPECT_EQ(chooseHeaderEncoding(cp, plain), HeaderEncoding::kNone) << cp;
    EXPECT_EQ(chooseHeaderEncoding(cp, accented), HeaderEncoding::kQ) << cp;
  }
  EXPECT_EQ(chooseHeaderEncoding(20127, accented), HeaderEncoding::kNone);

  EXPECT_EQ(prepared(65001, accented), "0|caf\xc3\xa9|utf-8");
  EXPECT_EQ(prepared(28591, plain), "1|plain|");
  // No charset, no written name, no converter, or a value that does not convert: the UTF-8
  // value itself under the UTF-8 label.
  EXPECT_EQ(prepared(0, accented), "2|caf\xc3\xa9|utf-8");
  EXPECT_EQ(prepared(50930, accented), "0|caf\xc3\xa9|utf-8");
  EXPECT_EQ(prepared(1201, StringBuffer("bad \xff")), "0|bad \xff|utf-8");
  EXPECT_EQ(prepared(28591, StringBuffer(kJapanese.c_str())), "2|" + kJapanese + "|utf-8");
}

TEST(Interop, PythonReadsWhatWeWriteAndWeReadWhatItWrites) {
  Python py;
  std::vector<std::pair<size_t, std::string>> theirs;  // Python's decoding of ours
  for (const std::string& value : kHeaderValues) {
    for (bool b : {false, true})
      theirs.emplace_back(py.add("header", {words(b, value, "utf-8")}), value);
    theirs.emplace_back(py.add("header", {forCharset(value, "utf-8")}), value);
  }
  std::mt19937 rng(3);
  for (size_t n : {1, 2, 3, 54, 55, 4099}) {
    std::string bytes(n, '\0');
    for (auto& c : bytes) c = static_cast<char>(rng() & 0xFF);
    StringBuffer b64, qp;
    coder.encodeBase64Lines(bytes.data(), len(bytes), b64);
    coder.encodeQuotedPrintable(bytes.data(), len(bytes), qp);
    theirs.emplace_back(py.add("body", {"base64", str(b64)}), bytes);
    theirs.emplace_back(py.add("body", {"quoted-printable", str(qp)}), bytes);
  }
  StringBuffer qp;
  coder.encodeQuotedPrintable(kBody.data(), len(kBody), qp);
  theirs.emplace_back(py.add("body", {"quoted-printable", str(qp)}), kBody);

  std::vector<std::pair<size_t, std::string>> words, folded, b64s;  // ours of Python's
  for (const std::string& value : kHeaderValues) {
    folded.emplace_back(py.add("hencode", {"utf-8", value}), value);
    for (const char* form : {"B", "Q"})
      words.emplace_back(py.add("word", {form, "utf-8", value}), value);
  }
  for (size_t n : {1, 2, 3, 57, 58, 1000}) {
    std::string bytes(n, '\0');
    for (auto& c : bytes) c = static_cast<char>(rng() & 0xFF);
    b64s.emplace_back(py.add("b64encode", {bytes}), bytes);
  }
  const size_t qpIndex = py.add("qpencode", {kBody});
  const size_t qpBodyIndex =
      py.add("qpbody", {"caf\xc3\xa9 " + std::string(100, 'y') + "\n\xc3\xa9t\xc3\xa9 \n"});

  const std::vector<std::string> results = py.run();
  for (const auto& [i, wanted] : theirs) EXPECT_EQ(results[i], wanted) << "request " << i;
  for (const auto& [i, value] : words) EXPECT_EQ(decoded(results[i]), value) << results[i];
  // Whitespace between words is kept here (the parser has unfolded the lines before), so
  // Python's folded words are decoded one by one and joined as RFC 2047 readers join them.
  for (const auto& [i, value] : folded) {
    std::string joined;
    std::istringstream pieces(results[i]);
    for (std::string w; pieces >> w;) joined += decoded(w);
    EXPECT_EQ(joined, value) << results[i];
  }
  for (const auto& [i, bytes] : b64s) {
    DataBuffer out;
    EXPECT_TRUE(coder.decodeBase64Strict(results[i].data(), len(results[i]), out));
    EXPECT_EQ(str(out), bytes);
  }
  DataBuffer body;
  coder.decodeQuotedPrintable(results[qpIndex].data(), len(results[qpIndex]), body);
  EXPECT_EQ(str(body), kBody);
  body.clear();
  coder.decodeQuotedPrintable(results[qpBodyIndex].data(), len(results[qpBodyIndex]), body);
  EXPECT_EQ(str(body), "caf\xc3\xa9 " + std::string(100, 'y') + "\r\n\xc3\xa9t\xc3\xa9 \r\n");
}

// These need the conversion engine for the single- and double-byte code pages.
TEST(ContentCodingEngine, NonUnicodeCharsets) {
  EXPECT_EQ(decoded("=?iso-8859-1?Q?caf=E9?="), "caf\xc3\xa9");
  EXPECT_EQ(decoded("=?windows-1252?Q?=80uro?="), "\xe2\x82\xacuro");

  const std::string latin1 =
      "Caf\xe9 cr\xe8me br\xfbl\xe9"
      "e \xe0 la fran\xe7"
      "aise, s'il vous pla\xeet";
  const auto pieces = eachWord(words(false, latin1, "iso-8859-1"));
  EXPECT_EQ(pieces.size(), 3u);  // 49 characters, 17 a word
  EXPECT_EQ(std::accumulate(pieces.begin(), pieces.end(), std::string()), latin1);

  EXPECT_EQ(prepared(28591, StringBuffer("caf\xc3\xa9")), "2|caf\xe9|iso-8859-1");  // Q
  EXPECT_EQ(prepared(932, StringBuffer("\xe6\x97\xa5\xe6\x9c\xac")),
            "0|\x93\xfa\x96\x7b|shift_jis");

  Python py;
  const size_t latin = py.add("hencode", {"iso-8859-1", "caf\xc3\xa9 au lait"});
  const size_t ansi = py.add("word", {"Q", "windows-1252", "caf\xc3\xa9 \xe2\x82\xac"});
  const size_t cut = py.add("header", {words(false, latin1, "iso-8859-1")});
  const auto results = py.run();
  EXPECT_EQ(decoded(results[latin]), "caf\xc3\xa9 au lait");
  EXPECT_EQ(decoded(results[ansi]), "caf\xc3\xa9 \xe2\x82\xac");
  EXPECT_EQ(results[cut],
            "Caf\xc3\xa9 cr\xc3\xa8me br\xc3\xbbl\xc3\xa9"
            "e \xc3\xa0 la fran\xc3\xa7"
            "aise, s'il vous pla\xc3\xaet");
}
