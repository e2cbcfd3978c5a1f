#include "MessageSamples.h"

#include <benchmark/benchmark.h>

#include <iterator>
#include <random>

#include "foundation/ByteCodecs.h"
#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"

namespace bench {
namespace {

struct TextCharset {
  const char* name;
  int32_t codePage;
  const char* utf8Sample;  // letters the charset holds, so the conversion loses nothing
};

const TextCharset kCharsets[] = {
    {"iso-8859-1", 28591,
     "Caf\xC3\xA9 na\xC3\xAFve r\xC3\xA9sum\xC3\xA9 \xC3\xBC\xC3\xB6\xC3\xA4 "},
    {"iso-8859-2", 28592,
     "\xC5\xBB\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84 "},
    {"windows-1251", 1251,
     "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80 "},
    {"shift_jis", 932,
     "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83"
     "\x88 "},
    {"utf-8", 65001, "mixed \xC3\xA9 \xD0\x96 \xE2\x82\xAC \xE6\x97\xA5 "},
};

// A text body of about n bytes in the charset, quoted-printable encoded.
std::string textBody(const TextCharset& cs, size_t n) {
  std::string utf8;
  const std::string line =
      std::string("The quick brown fox jumps over the lazy dog. ") + cs.utf8Sample + "\r\n";
  while (utf8.size() < n) utf8 += line;
  DataBuffer bytes;
  if (cs.codePage == 65001)
    bytes.append(utf8.data(), static_cast<uint32_t>(utf8.size()));
  else
    convertCodePage(65001, cs.codePage, utf8.data(), static_cast<uint32_t>(utf8.size()), bytes);
  StringBuffer qp;
  encodeQuotedPrintable(bytes.getData(), bytes.getSize(), 76, qp);
  return std::string(qp.getString(), qp.getSize());
}

std::string base64Body(size_t n) {
  std::mt19937 rng(11);
  std::string raw(n, '\0');
  for (auto& c : raw) c = static_cast<char>(rng());
  StringBuffer b64;
  encodeBase64Lines(raw.data(), static_cast<uint32_t>(raw.size()), 76, b64);
  return std::string(b64.getString(), b64.getSize());
}

const char* kBoundary = "----=_NextPart_000_0001_01DA0000.00000000";

std::string messageHeader() {
  return std::string(
             "From: \"Sender\" <sender@example.com>\r\n"
             "To: a@example.com, b@example.com\r\n"
             "Subject: =?utf-8?Q?Benchmark_caf=C3=A9?=\r\n"
             "MIME-Version: 1.0\r\n"
             "Content-Type: multipart/mixed; boundary=\"") +
         kBoundary + "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n";
}

void appendTextPart(std::string& m, const TextCharset& cs, const std::string& body) {
  m += "--";
  m += kBoundary;
  m += "\r\nContent-Type: text/plain; charset=\"";
  m += cs.name;
  m += "\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
  m += body;
  m += "\r\n";
}

void appendAttachment(std::string& m, int i, const std::string& body) {
  m += "--";
  m += kBoundary;
  m += "\r\nContent-Type: application/octet-stream; name=\"file" + std::to_string(i) +
       ".bin\"\r\nContent-Transfer-Encoding: base64\r\n"
       "Content-Disposition: attachment; filename=\"file" +
       std::to_string(i) + ".bin\"\r\n\r\n";
  m += body;
  m += "\r\n";
}

}  // namespace

std::string bigMessage(size_t total) {
  std::string texts[std::size(kCharsets)];
  for (size_t i = 0; i < std::size(kCharsets); ++i) texts[i] = textBody(kCharsets[i], 256 * 1024);
  const std::string attachment = base64Body(768 * 1024);  // about 1 MB once encoded
  std::string m = messageHeader();
  m.reserve(total + 2 * kMb);
  for (int i = 0; m.size() < total; ++i) {
    if (i % 5 == 4) {
      appendAttachment(m, i, attachment);
    } else {
      appendTextPart(m, kCharsets[i % std::size(kCharsets)], texts[i % std::size(kCharsets)]);
    }
  }
  m += "--";
  m += kBoundary;
  m += "--\r\n";
  return m;
}

std::string manyPartsMessage(int parts) {
  std::string texts[std::size(kCharsets)];
  for (size_t i = 0; i < std::size(kCharsets); ++i) texts[i] = textBody(kCharsets[i], 200);
  const std::string attachment = base64Body(150);
  std::string m = messageHeader();
  for (int i = 0; i < parts; ++i) {
    if (i % 4 == 3)
      appendAttachment(m, i, attachment);
    else
      appendTextPart(m, kCharsets[i % std::size(kCharsets)], texts[i % std::size(kCharsets)]);
  }
  m += "--";
  m += kBoundary;
  m += "--\r\n";
  return m;
}

const std::string& message(int which) {
  static const std::string big = bigMessage(50 * kMb);
  static const std::string many = manyPartsMessage(10000);
  if (which == 2) {
    static const std::string written = [] {
      MimeMessage2 e;
      loadTaken(e, big);
      StringBuffer out;
      writeEntire(e, out);
      return std::string(out.getString(), out.getSize());
    }();
    return written;
  }
  return which == 0 ? big : many;
}

void loadTaken(MimeMessage2& e, const std::string& m) {
  StringBuffer text(m.data(), static_cast<uint32_t>(m.size()), 0);
  loadEntityTaking(e, text, nullptr);
}

void loadTimed(benchmark::State& state, MimeMessage2& e, const std::string& m) {
  state.PauseTiming();
  StringBuffer text(m.data(), static_cast<uint32_t>(m.size()), 0);
  state.ResumeTiming();
  loadEntityTaking(e, text, nullptr);
}

uint64_t decodeLeaves(const MimeMessage2& e) {
  if (e.getNumParts() == 0) {
    DataBuffer out;
    e.getBodyBytes(out, e.textCodePage(e.charset()));
    return out.getSize();
  }
  uint64_t n = 0;
  for (int32_t i = 0; i < e.getNumParts(); ++i)
    if (e.getPart(i) != nullptr) n += decodeLeaves(*e.getPart(i));
  return n;
}

}  // namespace bench
