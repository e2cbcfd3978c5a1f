// The MIME parser and writer on whole messages: a ~50 MB multipart (text parts in several
// charsets as quoted-printable, base64 attachments) and one of 10,000 small parts, each
// loaded, written back and decoded leaf by leaf; the big one also written back a second time,
// from the text this library wrote; and the peak memory of loading N MB.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "MessageSamples.h"
#include "charset/EncodingConvert.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"

namespace {

using bench::decodeLeaves;
using bench::kMb;
using bench::message;

void setLabel(benchmark::State& state) {
  const int64_t which = state.range(0);
  state.SetLabel(which == 0 ? "50MB" : which == 1 ? "10000 parts" : "50MB as written back");
}

void BM_Load(benchmark::State& state) {
  const std::string& m = message(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    MimeMessage2 entity;
    bench::loadTimed(state, entity, m);
    benchmark::DoNotOptimize(entity.getNumParts());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
  setLabel(state);
}

void BM_Write(benchmark::State& state) {
  const std::string& m = message(static_cast<int>(state.range(0)));
  MimeMessage2 entity;
  bench::loadTaken(entity, m);
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
  uint64_t decoded = 0;
  // A body is decoded the first time it is read, so each round reads a freshly loaded tree.
  for (auto _ : state) {
    state.PauseTiming();
    MimeMessage2 entity;
    bench::loadTaken(entity, m);
    state.ResumeTiming();
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
  for (auto _ : state) {
    MimeMessage2 entity;
    bench::loadTimed(state, entity, m);
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
    installCodePageConverter(convertWithEngine);  // as the benchmark main does
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
    loadEntityTaking(entity, text, nullptr);
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
    const std::string m = bench::bigMessage(n * kMb);
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
BENCHMARK(BM_Write)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLeaves)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadWriteDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadPeakMemory)
    ->Arg(10)
    ->Arg(50)
    ->Arg(200)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
