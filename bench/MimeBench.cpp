// The MIME parser and writer on whole messages: a ~50 MB multipart (text parts in several
// charsets as quoted-printable, base64 attachments) and one of 10,000 small parts, each
// loaded, written back and decoded leaf by leaf; and the peak memory of loading N MB.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "foundation/ByteCodecs.h"
#include "foundation/Conversion.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"

namespace {

constexpr size_t kMb = 1024 * 1024;

struct TextCharset {
  const char* name;
  int32_t codePage;
  const char* utf8Sample;  // letters the charset holds, so the conversion loses nothing
};

const TextCharset kCharsets[] = {
    {"iso-8859-1", 28591, "Caf\xC3\xA9 na\xC3\xAFve r\xC3\xA9sum\xC3\xA9 \xC3\xBC\xC3\xB6\xC3\xA4 "},
    {"iso-8859-2", 28592, "\xC5\xBB\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84 "},
    {"windows-1251", 1251, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\xBC\xD0\xB8\xD1\x80 "},
    {"shift_jis", 932, "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88 "},
    {"utf-8", 65001, "mixed \xC3\xA9 \xD0\x96 \xE2\x82\xAC \xE6\x97\xA5 "},
};

// A text body of about n bytes in the charset, quoted-printable encoded.
std::string textBody(const TextCharset& cs, size_t n) {
  std::string utf8;
  const std::string line = std::string("The quick brown fox jumps over the lazy dog. ") +
                           cs.utf8Sample + "\r\n";
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

// About `total` bytes: half quoted-printable text in rotating charsets (256 KB parts), half
// base64 attachments (1 MB parts), alternating.
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

// `parts` parts of a few hundred bytes each, text and small attachments mixed.
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
  return which == 0 ? big : many;
}

// Every leaf's bytes, text in the charset it is labelled with.
uint64_t decodeLeaves(const MimeMessage2& e) {
  if (e.getNumParts() == 0) {
    DataBuffer out;
    const int32_t cp = e.contentType().beginsWith("text/") ? e.charset().getCodePage() : 0;
    e.getBodyBytes(out, cp);
    return out.getSize();
  }
  uint64_t n = 0;
  for (int32_t i = 0; i < e.getNumParts(); ++i)
    if (e.getPart(i) != nullptr) n += decodeLeaves(*e.getPart(i));
  return n;
}

void setLabel(benchmark::State& state) { state.SetLabel(state.range(0) == 0 ? "50MB" : "10000 parts"); }

void BM_Load(benchmark::State& state) {
  const std::string& m = message(static_cast<int>(state.range(0)));
  const StringBuffer text(m.data(), static_cast<uint32_t>(m.size()), 0);
  for (auto _ : state) {
    MimeMessage2 entity;
    loadEntity(entity, text, nullptr);
    benchmark::DoNotOptimize(entity.getNumParts());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
  setLabel(state);
}

void BM_Write(benchmark::State& state) {
  const std::string& m = message(static_cast<int>(state.range(0)));
  const StringBuffer text(m.data(), static_cast<uint32_t>(m.size()), 0);
  MimeMessage2 entity;
  loadEntity(entity, text, nullptr);
  uint64_t written = 0;
  for (auto _ : state) {
    StringBuffer out;
    writeEntire(entity, out);
    written = out.getSize();
    benchmark::DoNotOptimize(out.getString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
  state.counters["written_MB"] = static_cast<double>(written) / kMb;
  setLabel(state);
}

void BM_DecodeLeaves(benchmark::State& state) {
  const std::string& m = message(static_cast<int>(state.range(0)));
  const StringBuffer text(m.data(), static_cast<uint32_t>(m.size()), 0);
  MimeMessage2 entity;
  loadEntity(entity, text, nullptr);
  uint64_t decoded = 0;
  for (auto _ : state) {
    decoded = decodeLeaves(entity);
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
  state.counters["decoded_MB"] = static_cast<double>(decoded) / kMb;
  setLabel(state);
}

// Load, write back and decode every leaf, as one piece of work.
void BM_LoadWriteDecode(benchmark::State& state) {
  const std::string& m = message(static_cast<int>(state.range(0)));
  const StringBuffer text(m.data(), static_cast<uint32_t>(m.size()), 0);
  for (auto _ : state) {
    MimeMessage2 entity;
    loadEntity(entity, text, nullptr);
    StringBuffer out;
    writeEntire(entity, out);
    benchmark::DoNotOptimize(out.getString());
    benchmark::DoNotOptimize(decodeLeaves(entity));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
  setLabel(state);
}

double maxRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

constexpr const char* kChildEnv = "VORLUND_MIME_BENCH_PEAK_CHILD";

// The measuring child: reads the message file named by the variable, loads it, and writes
// its baseline, after-reading and peak resident sizes to stdout. It runs before the benchmark
// library's main so that nothing else has been allocated in the process.
struct PeakChild {
  PeakChild() {
    const char* path = std::getenv(kChildEnv);
    if (path == nullptr) return;
    double r[3];
    r[0] = maxRssMb();
    StringBuffer text;
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) _exit(3);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    text.expectNumBytes(static_cast<uint32_t>(size));
    std::string chunk(kMb, '\0');
    for (size_t got; (got = std::fread(chunk.data(), 1, chunk.size(), f)) > 0;)
      text.appendN(chunk.data(), static_cast<int64_t>(got));
    std::fclose(f);
    r[1] = maxRssMb();
    MimeMessage2 entity;
    loadEntity(entity, text, nullptr);
    r[2] = maxRssMb();
    std::printf("%f %f %f\n", r[0], r[1], r[2]);
    std::fflush(stdout);
    _exit(entity.getNumParts() > 0 ? 0 : 2);
  }
};
const PeakChild peakChild;

// Peak resident memory (ru_maxrss) of a process that reads an N MB message file into memory
// and loads it. It is a fresh process (this program run again), so neither the messages of
// the other benchmarks nor their high-water marks count. The peak is the whole process: the
// input text, the entity tree and every temporary of the load; load_peak_MB leaves out what
// the process held before reading.
void BM_LoadPeakMemory(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  char path[] = "/tmp/vorlund_mime_bench_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    state.SkipWithError("no temporary file");
    return;
  }
  {
    const std::string m = bigMessage(n * kMb);
    const bool ok = write(fd, m.data(), m.size()) == static_cast<ssize_t>(m.size());
    close(fd);
    if (!ok) {
      unlink(path);
      state.SkipWithError("temporary file not written");
      return;
    }
  }
  // Resolved here: in the shell that popen starts, /proc/self/exe would be the shell.
  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
    unlink(path);
    state.SkipWithError("own path unknown");
    return;
  }
  double r[3] = {0, 0, 0};
  for (auto _ : state) {
    const std::string command = std::string(kChildEnv) + "=" + path + " '" + self + "'";
    FILE* child = popen(command.c_str(), "r");
    if (child == nullptr || std::fscanf(child, "%lf %lf %lf", &r[0], &r[1], &r[2]) != 3)
      state.SkipWithError("child reported nothing");
    if (child != nullptr && pclose(child) != 0) state.SkipWithError("child failed");
  }
  unlink(path);
  state.counters["baseline_MB"] = r[0];
  state.counters["text_read_MB"] = r[1];
  state.counters["peak_MB"] = r[2];
  state.counters["load_peak_MB"] = r[2] - r[0];
  state.counters["limit_MB"] = 3.0 * static_cast<double>(n) + 20;
  state.SetLabel(std::to_string(n) + "MB");
}

}  // namespace

BENCHMARK(BM_Load)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLeaves)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadWriteDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadPeakMemory)->Arg(10)->Arg(50)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);
