#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "foundation/ByteCodecs.h"
#include "foundation/DataBuffer.h"
#include "foundation/Memory.h"
#include "foundation/StringBuffer.h"

namespace {

using Encoder = void (*)(const void*, uint32_t, int32_t, StringBuffer&);
using Decoder = void (*)(const char*, uint32_t, DataBuffer&);

std::string encode(Encoder fn, const std::string& in, int32_t lineLength = 72) {
  StringBuffer out;
  fn(in.data(), static_cast<uint32_t>(in.size()), lineLength, out);
  return std::string(out.getString(), out.getSize());
}

// The input is an exactly sized heap copy, so a read past its end shows under ASan.
std::string decode(Decoder fn, const std::string& in) {
  std::vector<char> exact(in.begin(), in.end());
  DataBuffer out;
  fn(exact.data(), static_cast<uint32_t>(exact.size()), out);
  return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

std::string b64(const std::string& in, int32_t lineLength = 72) {
  return encode(encodeBase64Lines, in, lineLength);
}
std::string unb64(const std::string& in) { return decode(decodeBase64, in); }
std::string qp(const std::string& in, int32_t lineLength = 72) {
  return encode(encodeQuotedPrintable, in, lineLength);
}
std::string unqp(const std::string& in) {
  return decode([](const char* t, uint32_t n, DataBuffer& o) { decodeQuotedPrintable(t, n, o); },
                in);
}
std::string q(const std::string& in) {
  return encode([](const void* b, uint32_t n, int32_t, StringBuffer& o) { encodeQ(b, n, o); }, in);
}
std::string unq(const std::string& in) { return decode(decodeQ, in); }

std::string randomBytes(std::mt19937& rng, size_t n) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

// Bytes for quoted-printable, where line structure matters: line ends, blanks, dots and
// "From " are made frequent.
std::string qpBytes(std::mt19937& rng, size_t pieces) {
  // Runs of words long enough to be written a word at a time.
  static const std::string kPieces[] = {
      "\r\n", "\r", "\n", " ", "\t", ".", "From ", "=", "a", "\xe9", "plain words, ", "  "};
  std::string bytes;
  for (size_t i = pieces; i > 0; --i)
    bytes += rng() % 3 == 0 ? randomBytes(rng, 1 + rng() % 5) : kPieces[rng() % std::size(kPieces)];
  return bytes;
}

// Whether `escapable` (null: any byte) marks every byte of `bytes`.
bool allMarked(const std::string& bytes, const bool* escapable) {
  return escapable == nullptr || std::all_of(bytes.begin(), bytes.end(), [&](char c) {
           return escapable[static_cast<unsigned char>(c)];
         });
}

// rewrapQuotedPrintable checked: 1 when it wrote what encoding the decoded bytes at
// `lineLength` gives, 0 when it refused and appended nothing, -1 otherwise.
int rewrapChecked(const std::string& text, int32_t lineLength, const bool* escapable = nullptr) {
  std::vector<char> exact(text.begin(), text.end());
  StringBuffer out("kept");
  const bool done = rewrapQuotedPrintable(exact.data(), static_cast<uint32_t>(exact.size()),
                                          lineLength, escapable, out);
  const std::string bytes = unqp(text);
  const std::string got(out.getString(), out.getSize());
  if (!done) return got == "kept" ? 0 : -1;
  return allMarked(bytes, escapable) && got == "kept" + qp(bytes, lineLength) ? 1 : -1;
}

// Quoted-printable text written back as the writer does: copied when copyQuotedPrintableLines
// takes it, else decoded and encoded again. Gives 1 for a copy, 0 for a refusal and -1 when
// the copy is not taken exactly for the text that encoding its decoded bytes gives back
// unchanged (and whose decoded bytes `escapable` all marks), or a refusal appended anything.
int copyChecked(const std::string& text, int32_t lineLength, const bool* escapable = nullptr) {
  // Whatever the copy does, breaking the same text into lines anew never writes other bytes
  // than encoding again, and takes every text the copy takes.
  const int rewrapped = rewrapChecked(text, lineLength, escapable);
  if (rewrapped < 0) return -1;
  std::vector<char> exact(text.begin(), text.end());
  StringBuffer out("kept");
  const bool copied = copyQuotedPrintableLines(exact.data(), static_cast<uint32_t>(exact.size()),
                                               lineLength, escapable, out);
  const std::string bytes = unqp(text);
  const bool marked = allMarked(bytes, escapable);
  const bool same =
      std::string(out.getString(), out.getSize()) == (copied ? "kept" + text : "kept");
  if (copied && rewrapped != 1) return -1;
  return copied == (qp(bytes, lineLength) == text && marked) && same ? copied : -1;
}

// Mail text for quoted-printable: lines of words, runs of 8-bit letters long enough to fill
// the last columns of a line with escapes, and now and then what the encoder treats apart.
std::string mailBytes(std::mt19937& rng, size_t pieces) {
  static const std::string kWords[] = {
      "The quick brown fox jumps over the lazy dog. ", "Caf\xE9 na\xEFve r\xE9sum\xE9 ",
      "\xCF\xF0\xE8\xE2\xE5\xF2 \xEC\xE8\xF0 ", "\xFC\xF6\xE4\xFC\xF6\xE4\xFC\xF6\xE4\xFC\xF6\xE4"};
  // "\377FFFFE9 " is 0xFF and "FFFFE9 ".
  static const std::string kApart[] = {"\r\n", " \r\n", "\t\r\n",    ".",           "From ",
                                       "=",    "\xFF",  "=FFFFFFE9", "\377FFFFE9 ", "\x7F\x01",
                                       "\r",   "\n",    "\t",        "  ",          "~"};
  std::string bytes;
  for (size_t i = pieces; i > 0; --i) {
    const unsigned r = rng() % 6;
    bytes += r == 0  ? std::string(1 + rng() % 80, "abc d"[rng() % 5])
             : r < 4 ? kWords[rng() % std::size(kWords)]
                     : kApart[rng() % std::size(kApart)];
  }
  return bytes;
}

// Whether rewrapQuotedPrintable takes the text, by its documented rules: every token one the
// decoder reads exactly, that is soft breaks, CRLF, upper-case escapes (but the "=FFFFFFxx"
// form) of bytes `escapable` marks, literal bytes, and blanks that a byte other than CR or LF
// follows; an escaped CR whose next byte is LF only where that LF is escaped too. (For tables
// that mark every literal byte and blank.)
bool rewrapTakes(const std::string& t, const bool* escapable) {
  const size_t n = t.size();
  auto at = [&](size_t j) { return static_cast<unsigned char>(t[j]); };
  auto hex = [](unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  auto value = [](unsigned char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  auto anyHex = [&](unsigned char c) { return hex(static_cast<unsigned char>(std::toupper(c))); };
  auto softBreak = [&](size_t j) { return t.compare(j, 3, "=\r\n") == 0; };
  auto escapeAt = [&](size_t j, unsigned char* b) {
    if (j + 3 > n || at(j) != '=' || !hex(at(j + 1)) || !hex(at(j + 2))) return false;
    if (at(j + 1) == 'F' && at(j + 2) == 'F' && j + 9 <= n) {
      bool extended = anyHex(at(j + 7) & 0x7F) && anyHex(at(j + 8) & 0x7F);
      for (size_t k = j + 3; k < j + 7; ++k) extended = extended && (at(k) & 0x7F) == 'F';
      if (extended) return false;
    }
    *b = static_cast<unsigned char>(value(at(j + 1)) * 16 + value(at(j + 2)));
    return true;
  };
  for (size_t i = 0; i < n;) {
    if (softBreak(i)) {
      i += 3;
      continue;
    }
    if (t.compare(i, 2, "\r\n") == 0) {
      i += 2;
      continue;
    }
    const unsigned char c = at(i);
    unsigned char b = 0;
    if (c == '=') {
      if (!escapeAt(i, &b) || (escapable != nullptr && !escapable[b])) return false;
      i += 3;
      if (b == '\r') {
        size_t j = i;
        while (softBreak(j)) j += 3;
        if (j < n && at(j) == '\n') return false;
        if (escapeAt(j, &b) && b == '\n') i = j + 3;
      }
      continue;
    }
    if (c == ' ' || c == '\t') {
      size_t j = i;
      while (j < n && (at(j) == ' ' || at(j) == '\t')) ++j;
      if (j == n || at(j) == '\r' || at(j) == '\n') return false;
    } else if (c < 33 || c > 126) {
      return false;
    }
    ++i;
  }
  return true;
}

// Random edits of quoted-printable text, most of them where escapes and line ends are.
void editQp(std::mt19937& rng, std::string& text) {
  static const std::string kEdits = "= \t\r\n.Fa0E9ef\xe9~";
  for (int e = 1 + rng() % 3; e > 0 && !text.empty(); --e) {
    size_t at = rng() % (text.size() + 1);
    if (rng() % 2 == 0) {
      const size_t special = text.find_first_of("=\r", at);
      if (special != std::string::npos) at = special + rng() % 3;
    }
    const char c = rng() % 4 == 0 ? static_cast<char>(rng()) : kEdits[rng() % kEdits.size()];
    if (rng() % 3 == 0)
      text.insert(std::min(at, text.size()), 1, c);
    else if (at < text.size())
      text[at] = rng() % 4 == 0
                     ? static_cast<char>(std::tolower(static_cast<unsigned char>(text[at])))
                     : c;
  }
}

}  // namespace

TEST(Base64, Encoding) {
  const std::string line(72, 'A');
  EXPECT_EQ(b64(std::string(54, '\0')), line + "\r\n\r\n");
  EXPECT_EQ(b64(std::string(53, '\0')), std::string(68, 'A') + "AAA=\r\n");
  EXPECT_EQ(b64(std::string(57, '\0'), 76), std::string(76, 'A') + "\r\n\r\n");
  EXPECT_EQ(b64(""), "");
  StringBuffer out("keep");
  encodeBase64Lines("\xff\xfe", 2, 72, out);  // appends
  EXPECT_STREQ(out.getString(), "keep//4=\r\n");

  // RFC 4648 section 10, in both one-line forms.
  const char* vectors[][2] = {{"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
                              {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"foobar", "Zm9vYmFy"}};
  for (const auto& v : vectors) {
    StringBuffer sb;
    encodeBase64(v[0], static_cast<uint32_t>(std::strlen(v[0])), sb);
    EXPECT_STREQ(sb.getString(), v[1]);
    uint32_t length = 99;
    char* block = encodeBase64(v[0], static_cast<uint32_t>(std::strlen(v[0])), &length);
    EXPECT_EQ(std::string(block, length + 1), std::string(v[1]) + '\0');
    vorlundFree(block);
  }
}

TEST(Base64, Decoding) {
  EXPECT_EQ(unb64("Zm9v\r\n Ym\tFy"), "foobar");
  EXPECT_EQ(unb64("Zm9vYg==Zm9v"), "foob");             // nothing after the first "="
  EXPECT_EQ(unb64("Zm9vY"), "foo");                     // a lone sixth of a group gives nothing
  EXPECT_EQ(unb64("Zm9v!\x80\xff"), unb64("Zm9v+++"));  // foreign bytes read as "+"
  EXPECT_EQ(unb64("A-"), "\x07");                       // in-range non-alphabet bytes carry 127

  DataBuffer out;
  out.append("xy", 2);
  EXPECT_FALSE(decodeBase64Strict("Zm9v!YmFy", 9, out));
  EXPECT_FALSE(decodeBase64Strict("Zm9v\xc3\xa9", 6, out));
  EXPECT_EQ(out.getSize(), 2u);  // nothing appended on failure
  EXPECT_TRUE(decodeBase64Strict("Zm9v\r\nYg==!!!", 13, out));
  EXPECT_TRUE(decodeBase64Strict("--", 2, out));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.getData()), out.getSize()), "xyfoob\xff");
}

TEST(Base64, RoundTripsAtEveryLineLength) {
  std::mt19937 rng(7);
  for (size_t n = 0; n < 200; ++n) {
    const std::string bytes = randomBytes(rng, n);
    for (int32_t lineLength : {1, 3, 5, 72, 76}) {
      const std::string text = b64(bytes, lineLength);
      DataBuffer back;
      ASSERT_TRUE(decodeBase64Strict(text.data(), static_cast<uint32_t>(text.size()), back));
      ASSERT_EQ(std::string(reinterpret_cast<const char*>(back.getData()), back.getSize()), bytes);
      size_t start = 0;
      for (size_t eol; (eol = text.find("\r\n", start)) != std::string::npos; start = eol + 2) {
        ASSERT_LE(eol - start, static_cast<size_t>(std::max(lineLength, 4)) + 3);
      }
    }
  }

  // Text in any encoder's line layout is broken anew exactly as decoding and encoding again
  // would; anything that would not come back as itself is refused and appends nothing.
  auto rewrap = [](const std::string& text, int32_t lineLength, std::string& got) {
    StringBuffer out("kept");
    const bool ok = rewrapBase64Lines(text.data(), uint32_t(text.size()), lineLength, out);
    got = std::string(out.getString(), out.getSize());
    return ok;
  };
  std::string got;
  for (size_t n = 1; n < 120; ++n) {
    const std::string bytes = randomBytes(rng, n);
    for (int32_t from : {4, 64, 72, 76, 1000})
      for (int32_t to : {4, 72, 76}) {
        ASSERT_TRUE(rewrap(b64(bytes, from), to, got)) << n << " " << from;
        ASSERT_EQ(got, "kept" + b64(bytes, to)) << n << " " << from << " " << to;
      }
  }
  for (const char* refused : {"QR==\r\n", "QUJ=\r\n", "QQ==QQ==", "QUJD QUJD\r\n", "QUJ\r\n",
                              "=QUJ\r\n", "\r\n", "QUJD\r\n!\r\n"}) {
    EXPECT_FALSE(rewrap(refused, 72, got)) << refused;
    EXPECT_EQ(got, "kept");
  }
  EXPECT_TRUE(rewrap("QU\nJD\r\nQQ=\r\n=", 72, got));
  EXPECT_EQ(got, "keptQUJDQQ==\r\n");

  // Whole lines of several lengths, the writer's among them, and random edits of them: taken
  // exactly when the text without its CR and LF is the one-line base64 of the bytes it decodes
  // to, and then written as encoding those bytes writes them.
  const std::string edits = "=\r\n Aa+/-!\x80";
  int taken = 0, refused = 0;
  for (int round = 0; round < 3000; ++round) {
    const std::string bytes = randomBytes(rng, rng() % 400);
    const int32_t from = std::vector<int32_t>{16, 64, 72, 76, 1000}[rng() % 5];
    std::string text = b64(bytes, from);
    for (int e = rng() % 4; e > 0 && !text.empty(); --e) {
      const size_t at = rng() % text.size();
      const char c = rng() % 4 == 0 ? static_cast<char>(rng()) : edits[rng() % edits.size()];
      if (rng() % 3 == 0)
        text.insert(at, 1, c);
      else if (rng() % 2 == 0)
        text[at] = c;
      else
        text.erase(at, 1);
    }
    std::string plain;
    for (char c : text)
      if (c != '\r' && c != '\n') plain += c;
    std::string oneLine;
    if (!plain.empty()) {
      StringBuffer sb;
      const std::string decoded = unb64(plain);
      encodeBase64(decoded.data(), static_cast<uint32_t>(decoded.size()), sb);
      oneLine.assign(sb.getString(), sb.getSize());
    }
    for (int32_t to : {72, 76}) {
      const bool ok = rewrap(text, to, got);
      ASSERT_EQ(ok, !plain.empty() && oneLine == plain) << round << " " << to << " " << text;
      ASSERT_EQ(got, ok ? "kept" + b64(unb64(plain), to) : "kept") << round << " " << to;
      ++(ok ? taken : refused);
    }
  }
  EXPECT_GT(taken, 1000);
  EXPECT_GT(refused, 1000);
}

TEST(QuotedPrintable, Encoding) {
  EXPECT_EQ(qp("From here\r\nFrom\r\nFromage\r\nx From "),
            "=46rom here\r\nFrom\r\nFromage\r\nx From=20");
  EXPECT_EQ(qp("a \r\nb\t\r\nc  d\te "), "a=20\r\nb=09\r\nc  d\te=20");
  EXPECT_EQ(qp("x\ry\nz\r"), "x=0Dy=0Az=0D");
  EXPECT_EQ(qp("1=2 caf\xc3\xa9\x7f\x01~<>"), "1=3D2 caf=C3=A9=7F=01~<>");

  // Soft breaks once a line reaches 72 written characters, unless a CRLF comes next.
  const std::string a71(71, 'a'), a72(72, 'a');
  EXPECT_EQ(qp(std::string(100, 'a')), a72 + "=\r\n" + std::string(28, 'a'));
  EXPECT_EQ(qp(a71 + "\xe9" + "b"), a71 + "=E9=\r\nb");
  EXPECT_EQ(qp(a72 + "\r\nb"), a72 + "\r\nb");
  EXPECT_EQ(qp(a72 + ".x"), a72 + "=\r\n=2Ex");  // a soft break starts a line too
  EXPECT_EQ(qp("abcdef", 3), "abc=\r\ndef=\r\n");
}

TEST(QuotedPrintable, Decoding) {
  EXPECT_EQ(unqp("soft=\r\nbreak=  \t\r\n!"), "softbreak!");
  EXPECT_EQ(unqp("a  \r\nb\t\nc\r\r\nlast"), "a\r\nb\r\nc\r\nlast");
  EXPECT_EQ(unqp("caf\xe9"), "cafi");                     // literal 8-bit bytes lose bit 7
  EXPECT_EQ(unqp("=G1=1G"), std::string("\x01\x10", 2));  // a non-hex digit counts as 0
  EXPECT_EQ(unqp("=FFFFFFE9x=ffFFFFe9"), "\xe9x\xe9");
  // Only the first two Fs may be lower case.
  EXPECT_EQ(unqp("=FFffffE9"), std::string("\xff") + "ffffE9");
  EXPECT_EQ(unqp(std::string("ab\0=41", 6)), "ab");  // the text ends at its first NUL
  // A "=" at the very end, or a digit missing at a line end, reads nothing beyond.
  EXPECT_EQ(unqp("end="), "end");
  EXPECT_EQ(unqp("x=4\r\ny"), "x\x40\r\ny");
}

TEST(QuotedPrintable, RoundTripsAnyBytes) {
  std::mt19937 rng(11);
  std::string big;
  for (int round = 0; round < 300; ++round) {
    const std::string bytes = qpBytes(rng, rng() % 120);
    const std::string text = qp(bytes);
    for (unsigned char c : text)
      ASSERT_TRUE(c == '\r' || c == '\n' || c == '\t' || (c >= 32 && c < 127));
    ASSERT_EQ(unqp(text), bytes) << round;
    big += bytes;
  }
  ASSERT_EQ(unqp(qp(big)), big);  // across the encoder's slices
}

TEST(QuotedPrintable, EncoderTextIsCopiedAsItStands) {
  const std::string a71(71, 'a'), a72(72, 'a');
  // Copied: the encoder's own text.
  for (const std::string& text :
       {std::string(), a72 + "=\r\n" + std::string(28, 'a'), a71 + "=E9=\r\nb", a72 + "\r\nb",
        a72 + "=\r\n=2Ex", a71 + "=20\r\n", a72 + "=\r\n", a71 + " =\r\nb"})
    EXPECT_EQ(copyChecked(text, 72), 1) << text;
  for (const char* text :
       {"two\r\nlines\r\n", "a=20\r\nb=09\r\nc  d\te=20", "x=0Dy=0Az=0D\r\n=0D\r\n",
        "=2Edot\r\n=46rom here\r\nFrom\r\nx.From=20", "1=3D2 caf=C3=A9=7F=01~<>=FF=FF"})
    EXPECT_EQ(copyChecked(text, 72), 1) << text;
  EXPECT_EQ(copyChecked("abc=\r\ndef=\r\n", 3), 1);
  // Refused: text that decoding and encoding again would change.
  for (const std::string& text :
       {std::string("ab\0c", 4), a72 + "a", a71 + "=\r\nb", a72 + "=\r\n\r\nb", a71 + " =\r\n",
        a72 + "aaaa=\r\nb", a71 + "=E9b", a71 + "=20"})
    EXPECT_EQ(copyChecked(text, 72), 0) << text;
  for (const char* text : {"trailing \r\nblank", "tab\t", "caf=e9", "=41", "a=0D=0Ab", "lone\nLF",
                           "lone\rCR", ".dot", "From here", "a=2E", "a=20b", "=46ree", "caf\xe9",
                           "del\x7f", "end=", "x=4\r\ny", "=FFFFFF41", "=\r\nx"})
    EXPECT_EQ(copyChecked(text, 72), 0) << text;
  // Broken anew: blanks before escapes, escaped line ends, soft breaks of another length.
  for (const char* text :
       {"abcdefg =0D=0Ax", "abcdefg =E9x", "abcdefg =0D\r\nx", "abcdefg =\r\n=0D=0Ay",
        "a b c d e f g h i j k l m n o p q r s t u v w x y z =\r\n0 1 2 3 4 5 6 7 8 9 =E9\r\n"})
    EXPECT_EQ(rewrapChecked(text, 7) + rewrapChecked(text, 72), 2) << text;
  // An escape of a byte the caller cannot take refuses the text.
  bool noE9[256];
  std::fill(noE9, noE9 + 256, true);
  noE9[0xE9] = false;
  EXPECT_EQ(copyChecked("caf=E9", 72, noE9), 0);
  EXPECT_EQ(copyChecked("caf=C3=A9", 72, noE9), 1);

  // Whatever the bytes and line length, the encoder's text is copied; after random edits it
  // is copied exactly when it is still what encoding its decoded bytes gives.
  std::mt19937 rng(29);
  const std::string edits = "= \t\r\n.Fa0E9ef\xe9";
  std::string big;
  int copiedEdits = 0;
  for (int round = 0; round < 300; ++round) {
    const std::string bytes = qpBytes(rng, rng() % 100);
    big += bytes;
    for (int32_t lineLength : {1, 2, 3, 4, 7, 72, 76}) {
      const std::string text = qp(bytes, lineLength);
      ASSERT_EQ(copyChecked(text, lineLength), 1) << round << " " << lineLength << " " << text;
      // Written at another length, the text is broken into lines anew.
      for (int32_t other : {1, 7, 72, 76})
        ASSERT_EQ(rewrapChecked(text, other), 1) << round << " " << lineLength << " " << other;
      for (int k = 0; k < 8 && !text.empty(); ++k) {
        std::string edited = text;
        for (int e = 1 + rng() % 2; e > 0; --e) {
          const size_t at = rng() % (edited.size() + 1);
          const char c = rng() % 4 == 0 ? static_cast<char>(rng()) : edits[rng() % edits.size()];
          if (rng() % 3 == 0)
            edited.insert(at, 1, c);
          else if (at < edited.size())
            edited[at] =
                rng() % 4 == 0
                    ? static_cast<char>(std::tolower(static_cast<unsigned char>(edited[at])))
                    : c;
        }
        const int r = copyChecked(edited, lineLength, rng() % 2 == 0 ? noE9 : nullptr);
        ASSERT_NE(r, -1) << round << " " << lineLength << " " << edited;
        copiedEdits += r;
      }
    }
  }
  EXPECT_GT(copiedEdits, 100);
  // Across the runs the copy goes out in, and refused after some of them went out.
  const std::string text = qp(big);
  ASSERT_GT(text.size(), 40000u);
  EXPECT_EQ(copyChecked(text, 72), 1);
  EXPECT_EQ(copyChecked(text + "=0A=0D\n", 72), 0);
}

TEST(QuotedPrintable, MailTextIsBrokenAnewFromItsTokens) {
  // Text of a 76-column encoder written at 72 and other lengths, as writing loaded text parts
  // does; random edits of it are taken exactly by the documented rules, and then written as
  // encoding the bytes they decode to writes them.
  bool noE9[256], as1252[256], noTilde[256];
  std::fill(noE9, noE9 + 256, true);
  std::fill(as1252, as1252 + 256, true);
  std::fill(noTilde, noTilde + 256, true);
  noE9[0xE9] = false;
  for (int c : {0x81, 0x8D, 0x8F, 0x90, 0x9D, 0xE9}) as1252[c] = false;
  noTilde['~'] = false;  // a table leaving a literal byte out
  const bool* tables[] = {nullptr, noE9, as1252};
  std::mt19937 rng(41);
  std::string big;
  int taken = 0, refused = 0;
  for (int round = 0; round < 1500; ++round) {
    const std::string bytes = mailBytes(rng, rng() % 40);
    // Without 0xFF, whose escape before "FFFF" is the sign-extended form.
    std::copy_if(bytes.begin(), bytes.end(), std::back_inserter(big),
                 [](char c) { return c != '\xFF'; });
    const int32_t from = std::vector<int32_t>{76, 76, 72, 64, 100, 9}[rng() % 6];
    const std::string encoded = qp(bytes, from);
    for (int k = 0; k < 4; ++k) {
      std::string text = encoded;
      if (k > 0) editQp(rng, text);
      const int32_t to = k % 2 == 0 ? 72 : std::vector<int32_t>{3, 8, 64, 75, 76, 77}[rng() % 6];
      const bool* table = tables[rng() % 3];
      const int r = rewrapChecked(text, to, table);
      ASSERT_EQ(r, rewrapTakes(text, table) ? 1 : 0)
          << round << " " << from << " " << to << " " << text;
      // The encoder's own text is always taken, but where it wrote the sign-extended form.
      if (k == 0 && text.find("=FFFFFF") == std::string::npos) {
        ASSERT_EQ(rewrapChecked(text, to), 1) << round << " " << to << " " << text;
      }
      ++(r == 1 ? taken : refused);
      // With a table that leaves out a literal byte, text holding no such byte (as it stands or
      // decoded) is taken and written as without a table.
      if (text.find('~') == std::string::npos && unqp(text).find('~') == std::string::npos) {
        ASSERT_EQ(rewrapChecked(text, to, noTilde), rewrapChecked(text, to))
            << round << " " << text;
      }
    }
  }
  EXPECT_GT(taken, 1000);
  EXPECT_GT(refused, 1000);
  // Across the slices the text is written in.
  const std::string text = qp(big, 76);
  ASSERT_GT(text.size(), 40000u);
  EXPECT_EQ(rewrapChecked(text, 72), 1);
  EXPECT_EQ(rewrapChecked(text, 72, as1252), rewrapTakes(text, as1252) ? 1 : 0);
  bool no81[256];  // leaves out an escaped byte the text does not have
  std::fill(no81, no81 + 256, true);
  no81[0x81] = false;
  EXPECT_EQ(rewrapChecked(text, 72, no81), 1);
  EXPECT_EQ(rewrapChecked(text, 72, noTilde), 0);
  EXPECT_EQ(rewrapChecked(text + "=0A=0D\n", 72), 0);
}

TEST(QForm, EncodingAndDecoding) {
  EXPECT_EQ(q("a b_c=d?e\x01\xe9~<>@^`"), "a_b=5Fc=3Dd=3Fe=01=E9~<>@^`");
  EXPECT_EQ(unq("caf=E9_x=41"), "caf\xe9 xA");
  EXPECT_EQ(unq("=e9"), "=e9");  // lower-case hex is no escape here
  // Spaces, controls, "?" and 127-159 are dropped; 160-255 are kept.
  EXPECT_EQ(unq("a b\tc?d\x7f\x80\x9f\xa0\xff"), "abcd\xa0\xff");
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string text = q(all);
  EXPECT_EQ(text.find_first_of(" ?\t\r\n"), std::string::npos);
  EXPECT_EQ(unq(text), all);
}
