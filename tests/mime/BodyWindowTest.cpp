// A tree loaded with its bodies left as windows on the loaded text reads, writes and changes
// exactly as one whose bodies were decoded at load.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/ByteCodecs.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"
#include "tests/mime/ContentTypeEdit.h"

namespace {

std::string str(const StringBuffer& s) { return std::string(s.getString(), s.getSize()); }
std::string str(const DataBuffer& d) {
  return std::string(reinterpret_cast<const char*>(d.getData()), d.getSize());
}

// Everything an entity shows, its sub-parts' too; `decodeFirst` reads each body before
// anything else is asked, so the windows are compared both decoded early and late.
std::string describe(const MimeMessage2& e, bool decodeFirst) {
  std::string d;
  if (decodeFirst) d += str(e.body());
  StringBuffer attrs;
  for (auto get :
       {&MimeMessage2::getContentType, &MimeMessage2::getEncoding, &MimeMessage2::getCharsetName,
        &MimeMessage2::getFilename, &MimeMessage2::getBoundary}) {
    (e.*get)(attrs);
    attrs.append("|");
  }
  d += str(attrs);
  StringBuffer encoded;
  getBodyEncoded(e, encoded);
  // Each reading bracketed, appended piece by piece.
  auto add = [&d](char open, const std::string& text, char close) {
    d.push_back(open);
    d.append(text);
    d.push_back(close);
  };
  add('[', str(encoded), ']');
  for (int32_t cp : {0, 1252, 28592, 932, 950, 65001}) {
    DataBuffer bytes;
    e.getBodyBytes(bytes, cp);
    add('<', str(bytes), '>');
  }
  add('{', str(e.body()), '}');
  for (int32_t i = 0; i < e.getNumParts(); ++i) add('(', describe(*e.getPart(i), decodeFirst), ')');
  return d;
}

std::string written(const MimeMessage2& e) {
  StringBuffer out;
  writeEntire(e, out);
  return str(out);
}

// What the entity's later life makes of its leaves: a body relabelled before it is read is
// still the body it was loaded as, whether it is written in a new transfer encoding or as
// quoted-printable text in another single-byte charset.
void relabelLeaves(MimeMessage2& e, bool toBase64) {
  if (e.getNumParts() == 0) {
    setCharset(e, toBase64 ? "utf-8" : "iso-8859-2");
    e.setEncoding(toBase64 ? "base64" : "quoted-printable");
    setContentType(e, toBase64 ? "application/octet-stream" : "text/plain");
  }
  for (int32_t i = 0; i < e.getNumParts(); ++i) relabelLeaves(*e.getPart(i), toBase64);
}

std::string qpText(const std::string& bytes, int32_t lineLength) {
  StringBuffer out;
  encodeQuotedPrintable(bytes.data(), static_cast<uint32_t>(bytes.size()), lineLength, out);
  return str(out);
}

// Quoted-printable parts whose text is what this library's encoder writes (in a single-byte
// charset, in a multi-byte one, without one) and parts whose text is not: lines of 76, lower
// case hex, a blank left at a line end, a byte the charset does not hold. The double-byte ones
// also with a sequence that does not come back from UTF-8 as itself: codes sharing a character,
// a lead byte at the end or before a line end, user-defined and best-fit codes.
std::string quotedPrintableMessage() {
  std::string bytes = "Caf\xE9 na\xEFve r\xE9sum\xE9 \xFC\xF6\xE4, = signs, ";
  bytes += bytes + bytes + "\r\n.dot\r\nFrom here\r\ntrailing \r\nlone\rCR\nLF\t";
  auto part = [](const char* type, const std::string& text) {
    return "--q\r\nContent-Type: " + std::string(type) +
           "\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + text + "\r\n";
  };
  const std::string jp = "\x93\xFA\x96\x7B\x8C\xEA text \x83\x65\x83\x4C\x83\x58 = x ";
  const std::string zh = "\xA4\xA4\xA4\xE5 text \xA4\xE9\xA5\xBB = x ";
  std::string doubleByte = part("text/plain; charset=shift_jis", qpText(jp + jp + jp, 76));
  for (const char* odd : {"", "\x87\x90", "\xED\x40", "\x93", "\x93\r\n", "\xF0\x40\xA0\x80\xFD"}) {
    doubleByte +=
        part("text/plain; charset=shift_jis", qpText(jp + jp + odd + jp + "\r\n" + jp, 72));
    doubleByte += part("text/plain; charset=big5", qpText(zh + zh + odd + "\r\n" + zh, 72));
  }
  return "Content-Type: multipart/mixed; boundary=q\r\n\r\n" +
         part("text/plain; charset=iso-8859-1", qpText(bytes, 72)) +
         part("text/plain; charset=ISO-8859-1", qpText(bytes, 76)) +
         part("application/octet-stream", qpText(bytes, 72)) +
         part("text/plain; charset=shift_jis", qpText("\x93\xFA\x96\x7B\x8C\xEA", 72)) +
         part("text/plain; charset=windows-1252", qpText(bytes + "\x81", 72)) +
         part("text/plain; charset=x-mac-arabic", qpText("ab \x8C\x93 cd", 72)) +
         part("text/plain; charset=utf-8", "caf=c3=a9 \r\nnext") + doubleByte + "--q--\r\n";
}

std::vector<std::string> corpus() {
  std::vector<std::string> texts = {
      // charsets, both transfer encodings, a bad base64 body, an <x-html> body
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\npre\r\n"
      "--b\r\nContent-Type: text/plain; charset=iso-8859-2\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n\xBF=F3=B3=E6 g=EA=9C=\r\nl\r\n"
      "--b\r\nContent-Type: text/plain; charset=shift_jis\r\nContent-Transfer-Encoding: base64\r\n"
      "\r\nk/qWe4zq\r\n"
      "--b\r\nContent-Type: text/plain; charset=windows-1251\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n=CF=98=E8 (0x98 is not in 1251)\r\n"
      "--b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nplain \xE9 8-bit\r\n"
      "--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
      "\r\nAAEC!!\r\n"
      "--b\r\nContent-Type: image/gif\r\nContent-Transfer-Encoding: BASE64\r\n\r\nR0lGODlh\r\n"
      "--b\r\nContent-Type: text/plain\r\n\r\n  <x-html><b>bold</b>\r\n"
      "--b--\r\nepilogue\r\n",
      // LF line ends and doubled CRs: bodies that lie in the parser's repaired copies
      "Content-Type: multipart/alternative; boundary=x\n\n--x\nContent-Type: text/plain; "
      "charset=windows-1251\nContent-Transfer-Encoding: quoted-printable\n\n=CF=F0=E8\n--x--\n",
      "Content-Type: text/plain; charset=iso-8859-1\r\r\n\r\r\ncaf\xE9\r\r\n",
      // signed, nested message, empty part header, a single-part message
      "Content-Type: multipart/signed; boundary=s; protocol=\"application/pkcs7-signature\"\r\n"
      "\r\n--s\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nsigned \xC3\xA9\r\n--s\r\n"
      "Content-Type: application/pkcs7-signature\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "MIIB\r\n--s--\r\n",
      "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\nContent-Type: message/rfc822\r\n"
      "\r\nSubject: inner\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n--i\r\n\r\n\r\n"
      "hello\r\n--i--\r\n--o--\r\n",
      "Subject: one part\r\nContent-Type: text/html; charset=koi8-r\r\n"
      "Content-Transfer-Encoding: 8bit\r\n\r\n<p>\xF0\xD2\xC9</p>\r\n",
      "\r\nno header at all\r\n",
      // base64 written from the loaded text: lines of 76 broken anew at 72, a body of exactly
      // one full line, padding whose unused bits are set, raw bytes of an attachment
      "Content-Type: multipart/mixed; boundary=w\r\n\r\n--w\r\n"
      "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1+f4CBgoOEhYaHiImKi4yNjo+QkZKTlJWWl5iZmpuc\r\n"
      "nZ6foKGio6SlpqeoqaqrrK2ur7CxsrO0tba3uLm6u7y9vr/AwcLDxMXGx8jJysvMzc7P0NHS09TV\r\n"
      "--w\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1\r\n"
      "--w\r\nContent-Type: application/x-y\r\nContent-Transfer-Encoding: base64\r\n\r\nQR==\r\n"
      "--w\r\nContent-Type: application/x-raw\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
      "\x00\xFF raw\r\n--w--\r\n",
      "Content-Type: multipart/mixed; boundary=\"z\"\r\n\r\nno delimiter ever\r\n",
  };
  texts.push_back(quotedPrintableMessage());
  std::ifstream sample(VORLUND_SAMPLE_MESSAGE, std::ios::binary);
  std::ostringstream whole;
  whole << sample.rdbuf();
  EXPECT_FALSE(whole.str().empty());
  texts.push_back(whole.str());
  return texts;
}

TEST(BodyWindow, LoadedTreeReadsWritesAndChangesAsOneDecodedAtLoad) {
  for (const std::string& text : corpus()) {
    SCOPED_TRACE(text.substr(0, 60));
    StringBuffer eagerText(text.data(), static_cast<uint32_t>(text.size()), 0);
    MimeMessage2 eager;
    loadEntity(eager, eagerText, nullptr);
    for (bool decodeFirst : {false, true}) {
      const std::string expected = describe(eager, decodeFirst);
      auto windowed = std::make_unique<MimeMessage2>();
      {
        StringBuffer taken(text.data(), static_cast<uint32_t>(text.size()), 0);
        loadEntityTaking(*windowed, taken, nullptr);
        EXPECT_EQ(taken.getSize(), 0u);
      }
      EXPECT_EQ(written(*windowed), written(eager));
      EXPECT_EQ(describe(*windowed, decodeFirst), expected);
      // Written twice: writing leaves the windows as they were.
      EXPECT_EQ(written(*windowed), written(eager));

      // A copy keeps reading its bodies after the tree it came from is gone.
      MimeMessage2 copy;
      copy.copyFrom(*windowed);
      windowed.reset();
      EXPECT_EQ(describe(copy, decodeFirst), expected);

      for (bool toBase64 : {true, false}) {
        MimeMessage2 relabelled;
        StringBuffer again(text.data(), static_cast<uint32_t>(text.size()), 0);
        loadEntityTaking(relabelled, again, nullptr);
        MimeMessage2 relabelledEager;
        loadEntity(relabelledEager, eagerText, nullptr);
        relabelLeaves(relabelled, toBase64);
        relabelLeaves(relabelledEager, toBase64);
        EXPECT_EQ(describe(relabelled, decodeFirst), describe(relabelledEager, decodeFirst));
      }
    }
  }
}

}  // namespace
