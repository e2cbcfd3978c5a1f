// The XML form of the generated messages: the tree written as an XML document
// (writeXmlDocument) and the document read back into a tree (loadXml, which is parseXml and
// the entity build), each in bytes of XML per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "MessageSamples.h"
#include "foundation/StringBuffer.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/TreeNode.h"
#include "mime/XmlForm.h"

namespace {

using bench::kMb;
using bench::message;

void setLabel(benchmark::State& state) {
  state.SetLabel(state.range(0) == 0 ? "50MB" : "10000 parts");
}

// The XML of one of the sample messages, made once per benchmark.
std::string sampleXml(int which) {
  const std::string& m = message(which);
  MimeMessage2 entity;
  loadEntity(entity, StringBuffer(m.data(), static_cast<uint32_t>(m.size()), 0), nullptr);
  StringBuffer xml;
  writeXmlDocument(entity, xml);
  return std::string(xml.getString(), xml.getSize());
}

void BM_WriteXml(benchmark::State& state) {
  const std::string& m = message(static_cast<int>(state.range(0)));
  MimeMessage2 entity;
  loadEntity(entity, StringBuffer(m.data(), static_cast<uint32_t>(m.size()), 0), nullptr);
  uint64_t written = 0;
  for (auto _ : state) {
    StringBuffer xml;
    writeXmlDocument(entity, xml);
    written = xml.getSize();
    benchmark::DoNotOptimize(xml.getString());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * written));
  state.counters["xml_MB"] = static_cast<double>(written) / kMb;
  setLabel(state);
}

void BM_ParseXml(benchmark::State& state) {
  const std::string xml = sampleXml(static_cast<int>(state.range(0)));
  const StringBuffer text(xml.data(), static_cast<uint32_t>(xml.size()), 0);
  for (auto _ : state) {
    std::unique_ptr<TreeNode> root(parseXml(text, nullptr, nullptr));
    benchmark::DoNotOptimize(root.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
  setLabel(state);
}

void BM_LoadXml(benchmark::State& state) {
  const std::string xml = sampleXml(static_cast<int>(state.range(0)));
  const StringBuffer text(xml.data(), static_cast<uint32_t>(xml.size()), 0);
  int32_t parts = 0;
  for (auto _ : state) {
    std::unique_ptr<MimeMessage2> entity(loadXml(text, nullptr, nullptr));
    parts = entity ? entity->getNumParts() : -1;
    benchmark::DoNotOptimize(parts);
  }
  if (parts <= 0) state.SkipWithError("the XML did not load as a multipart");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml.size()));
  setLabel(state);
}

}  // namespace

BENCHMARK(BM_WriteXml)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseXml)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadXml)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
