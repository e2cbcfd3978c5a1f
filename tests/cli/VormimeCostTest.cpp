// Hostile shapes of message run through the host program, with the peak resident memory of
// each run read from the process: what a run may cost is a base plus a bound per part or a
// small multiple of the input, whatever the shape.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/cli/RunVormime.h"
#include "tests/support/TempDir.h"

namespace {

const std::string kSample = std::string(VORLUND_EXAMPLES_DIR) + "/sample.eml";

long fileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// What a run costs with nothing to hold: the program, the module and the tables it loads.
long baseKiB() {
  static const long base = runVormimeMeasured({"show", kSample}).peakKiB;
  return base;
}

}  // namespace

// Every stored body used to keep a decoder's 20,000-byte block and every entity a dozen
// 200-byte texts; 50,000 one-byte parts then took 400 MB.
TEST(VormimeCost, TinyPartsCostAboutAKilobyteEach) {
  constexpr long kParts = 50000;
  TempDir dir;
  std::string m = "Content-Type: multipart/mixed; boundary=p\r\n\r\n";
  m.reserve(kParts * 12 + 64);
  for (long i = 0; i < kParts; ++i) m += "--p\r\n\r\nx\r\n";
  m += "--p--\r\n";
  const std::string eml = dir.file("tiny.eml"), xml = dir.file("tiny.xml");
  writeWholeFile(eml, m);

  const std::vector<std::vector<std::string>> runs = {{"show", eml},
                                                      {"xml", "-o", xml, eml},
                                                      {"mime", "-o", dir.file("back.eml"), xml},
                                                      {"call", eml, "GetMime"}};
  for (const auto& args : runs) {
    const MeasuredRun r = runVormimeMeasured(args);
    ASSERT_EQ(r.status, 0) << args[0];
    // About 1.3 KB a part in an optimised build, 2 KB from the XML form (140 bytes a part,
    // its element tree several times that, freed as the parts are made); up to about 3 KB
    // under the sanitizers. Keeping a decoder's block per body made it 8 KB.
    const long perPart = (r.peakKiB - baseKiB()) * 1024 / kParts;
    EXPECT_LT(perPart, 4096) << args[0] << ": " << r.peakKiB << " KiB at the peak";
  }
  EXPECT_GT(fileSize(dir.file("back.eml")), kParts * 10);
}

// Nested 99 deep, every level's separator needing a line-end repair of its own (runs of CRs
// that each repair shortens by three): each level once kept a repaired copy of its whole
// text alive, a hundred copies of the message at the deepest point.
TEST(VormimeCost, RepairedCopiesDoNotPileUpWithDepth) {
  constexpr int kDepth = 99;
  auto separator = [](int level) {
    std::string line(4 + 3 * level, '\r');
    line += '\n';
    return line + line;
  };
  std::string text = "Content-Type: text/plain";
  text += separator(kDepth);
  const std::string line(70, 'x');
  for (int i = 0; i < 60000; ++i) text.append(line).append("\r\n");
  text += "end";
  for (int i = kDepth - 1; i >= 0; --i) {
    std::string b = "b";
    b += std::to_string(i);
    std::string level = "Content-Type: multipart/mixed; boundary=";
    level.append(b).append(separator(i)).append("--").append(b).append("\r\n");
    level += text;
    level.append("\r\n--").append(b).append("\r\nX-End: 1\r\n--").append(b).append("--");
    text.swap(level);
  }
  TempDir dir;
  const std::string eml = dir.file("deep.eml"), out = dir.file("tree.txt");
  writeWholeFile(eml, text);
  const MeasuredRun r = runVormimeMeasured({"show", eml}, out);
  ASSERT_EQ(r.status, 0);
  EXPECT_LT((r.peakKiB - baseKiB()) * 1024, 12 * static_cast<long>(text.size()))
      << r.peakKiB << " KiB at the peak for " << text.size() << " bytes";
  // The whole tree came out: the innermost part and the 99 closing parts.
  const std::string tree = readWholeFile(out);
  std::string leaf = "text/plain  size=";
  leaf += std::to_string(60000 * 72 + 3);
  EXPECT_NE(tree.find(leaf), std::string::npos);
  size_t closing = 0;
  for (size_t at = tree.find("size=0"); at != std::string::npos; at = tree.find("size=0", at + 1))
    ++closing;
  EXPECT_EQ(closing, static_cast<size_t>(kDepth)) << tree.substr(0, 2000);
}

// Every malformed closing tag logs an error and the tag: 1,000,000 of them once made a log
// of tens of megabytes, and the time to record it.
TEST(VormimeCost, AFloodOfOneMessageKeepsTheLogSmall) {
  TempDir dir;
  std::string flood;
  for (int i = 0; i < 1000000; ++i) flood += "</";
  const std::string xml = dir.file("c.xml");
  writeWholeFile(xml, flood);
  const CliRun r = runVormime("mime " + shellQuote(xml));
  EXPECT_EQ(r.status, 1);
  EXPECT_LT(r.err.size(), 100000u);
  EXPECT_NE(r.err.find("998999 more entries \"Error in closing tag\" left out"), std::string::npos)
      << r.err.substr(0, 500);
  const MeasuredRun measured = runVormimeMeasured({"mime", xml});
  EXPECT_LT((measured.peakKiB - baseKiB()) * 1024, 12 * static_cast<long>(flood.size()));
}
