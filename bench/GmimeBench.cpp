// Our MIME parser and writer beside GMime 3 on the same generated messages (the ~50 MB
// multipart and the 10,000-part one): load, write back, decode every leaf, and all three.
// GMime is only a speed reference; at the end the program prints ours/GMime per case.
#include <benchmark/benchmark.h>
#include <gmime/gmime.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "MessageSamples.h"
#include "charset/EncodingConvert.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"

namespace {

using bench::kMb;

const char* caseName(int which) { return which == 0 ? "50MB" : "10000parts"; }

// --- ours ---------------------------------------------------------------------------------

uint64_t oursWrite(const MimeMessage2& entity) {
  StringBuffer out;
  writeEntire(entity, out);
  benchmark::DoNotOptimize(out.getString());
  return out.getSize();
}

void oursLoad(benchmark::State& state, int which) {
  const std::string& m = bench::message(which);
  for (auto _ : state) {
    MimeMessage2 entity;
    bench::loadTimed(state, entity, m);
    benchmark::DoNotOptimize(entity.getNumParts());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
}

void oursWriteBack(benchmark::State& state, int which) {
  const std::string& m = bench::message(which);
  MimeMessage2 entity;
  bench::loadTaken(entity, m);
  uint64_t written = 0;
  for (auto _ : state) written = oursWrite(entity);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
  state.counters["written_MB"] = static_cast<double>(written) / kMb;
}

void oursDecode(benchmark::State& state, int which) {
  const std::string& m = bench::message(which);
  uint64_t decoded = 0;
  // A body is decoded the first time it is read, so each round reads a freshly loaded tree.
  for (auto _ : state) {
    state.PauseTiming();
    MimeMessage2 entity;
    bench::loadTaken(entity, m);
    state.ResumeTiming();
    decoded = bench::decodeLeaves(entity);
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
  state.counters["decoded_MB"] = static_cast<double>(decoded) / kMb;
}

void oursAll(benchmark::State& state, int which) {
  const std::string& m = bench::message(which);
  for (auto _ : state) {
    MimeMessage2 entity;
    bench::loadTimed(state, entity, m);
    benchmark::DoNotOptimize(oursWrite(entity));
    benchmark::DoNotOptimize(bench::decodeLeaves(entity));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * m.size()));
}

// --- GMime --------------------------------------------------------------------------------

// The message copied once into a memory stream; each parse reads a fresh window on it so
// the copy is not part of the measured work.
GMimeStream* sourceStream(int which) {
  static GMimeStream* streams[2] = {nullptr, nullptr};
  if (streams[which] == nullptr) {
    const std::string& m = bench::message(which);
    streams[which] = g_mime_stream_mem_new_with_buffer(m.data(), m.size());
  }
  return streams[which];
}

GMimeMessage* gmimeParse(int which) {
  GMimeStream* src = sourceStream(which);
  GMimeStream* window = g_mime_stream_substream(src, 0, g_mime_stream_length(src));
  GMimeParser* parser = g_mime_parser_new_with_stream(window);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  g_object_unref(window);
  return message;
}

uint64_t gmimeWrite(GMimeMessage* message) {
  GMimeStream* out = g_mime_stream_mem_new();
  g_mime_object_write_to_stream(GMIME_OBJECT(message), nullptr, out);
  const uint64_t n = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out))->len;
  g_object_unref(out);
  return n;
}

void decodeOne(GMimeObject*, GMimeObject* part, gpointer total) {
  if (!GMIME_IS_PART(part)) return;  // multiparts hold no content of their own
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
  if (content == nullptr) return;
  GMimeStream* out = g_mime_stream_mem_new();
  g_mime_data_wrapper_write_to_stream(content, out);
  *static_cast<uint64_t*>(total) += g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out))->len;
  g_object_unref(out);
}

uint64_t gmimeDecodeLeaves(GMimeMessage* message) {
  uint64_t total = 0;
  g_mime_message_foreach(message, decodeOne, &total);
  return total;
}

void gmimeLoad(benchmark::State& state, int which) {
  const size_t size = bench::message(which).size();
  for (auto _ : state) {
    GMimeMessage* message = gmimeParse(which);
    if (message == nullptr) {
      state.SkipWithError("GMime did not parse the message");
      break;
    }
    benchmark::DoNotOptimize(message);
    g_object_unref(message);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// One step of GMime's work on a message parsed once beforehand; `counter` reports the bytes
// the last iteration produced.
void gmimeOnParsed(benchmark::State& state, int which, uint64_t (*step)(GMimeMessage*),
                   const char* counter) {
  const size_t size = bench::message(which).size();
  GMimeMessage* message = gmimeParse(which);
  if (message == nullptr) {
    state.SkipWithError("GMime did not parse the message");
    return;
  }
  uint64_t produced = 0;
  for (auto _ : state) {
    produced = step(message);
    benchmark::DoNotOptimize(produced);
  }
  g_object_unref(message);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters[counter] = static_cast<double>(produced) / kMb;
}

void gmimeWriteBack(benchmark::State& state, int which) {
  gmimeOnParsed(state, which, gmimeWrite, "written_MB");
}

void gmimeDecode(benchmark::State& state, int which) {
  gmimeOnParsed(state, which, gmimeDecodeLeaves, "decoded_MB");
}

void gmimeAll(benchmark::State& state, int which) {
  const size_t size = bench::message(which).size();
  for (auto _ : state) {
    GMimeMessage* message = gmimeParse(which);
    if (message == nullptr) {
      state.SkipWithError("GMime did not parse the message");
      break;
    }
    benchmark::DoNotOptimize(gmimeWrite(message));
    benchmark::DoNotOptimize(gmimeDecodeLeaves(message));
    g_object_unref(message);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

// --- the comparison -----------------------------------------------------------------------

using Work = void (*)(benchmark::State&, int);

struct Pair {
  const char* name;
  Work ours;
  Work gmime;
};

const Pair kPairs[] = {
    {"load", oursLoad, gmimeLoad},
    {"write", oursWriteBack, gmimeWriteBack},
    {"decode_leaves", oursDecode, gmimeDecode},
    {"load_write_decode", oursAll, gmimeAll},
};

// Keeps the CPU time per iteration of every run, so the ratios come from this same run.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  // No colour codes when the output goes to a file.
  RecordingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& r : reports)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        cpuTime[r.benchmark_name()] = r.GetAdjustedCPUTime();
  }
  std::map<std::string, double> cpuTime;
};

}  // namespace

int main(int argc, char** argv) {
  const ScopedCodePageConverter engine(convertWithEngine);
  g_mime_init();
  for (int which = 0; which < 2; ++which)
    for (const Pair& p : kPairs)
      for (const char* who : {"ours", "gmime"}) {
        const std::string name = std::string(p.name) + "/" + caseName(which) + "/" + who;
        const Work work = who[0] == 'o' ? p.ours : p.gmime;
        benchmark::RegisterBenchmark(name.c_str(), [work, which](benchmark::State& s) {
          work(s, which);
        })->Unit(benchmark::kMillisecond);
      }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  // Same input bytes on both sides, so the throughput ratio is the inverse time ratio.
  std::printf("\nthroughput ours/GMime (above 1: ours is faster)\n");
  for (int which = 0; which < 2; ++which)
    for (const Pair& p : kPairs) {
      const std::string base = std::string(p.name) + "/" + caseName(which) + "/";
      const auto ours = reporter.cpuTime.find(base + "ours");
      const auto gmime = reporter.cpuTime.find(base + "gmime");
      if (ours == reporter.cpuTime.end() || gmime == reporter.cpuTime.end() || ours->second <= 0)
        continue;
      std::printf("  %-32s %6.2f\n", base.substr(0, base.size() - 1).c_str(),
                  gmime->second / ours->second);
    }
  benchmark::Shutdown();
  g_mime_shutdown();
  return 0;
}
