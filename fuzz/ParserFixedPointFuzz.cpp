// Reading and writing MIME text must settle: the first write may normalise the input (line
// ends, folding, encodings), but reading and writing a written text again must soon give
// the same text back. Writing never makes a new boundary, so texts compare byte for byte.
//
// The first read is tolerant of input the writer never produces (bare LF and doubled-CR line
// ends, raw 8-bit headers, no blank line after the header), so comparing starts after the
// first write. Three rules can change the text again before it settles; each is pinned with
// a reduced input in tests/mime/FuzzRegressionTest.cpp: a quote inside a parameter value
// (boundary=b"1"), a part whose header is empty, and a header holding both B and Q words,
// whose charset spans two words and names none, so the text may repeat every other round.
// Texts whose trees write 8-bit header bytes are left out: such bytes, copied raw, are
// converted again when read back under another charset and change every round.
//
// A double quote inside a parameter value goes further than one round: the writer puts each
// value between quotes of its own, so on the next read the quotes pair up differently, the
// ";" that ends a value moves, and each round settles one more parameter of the field
// (pinned in the same test file). Such a text gets one more round for every ";" in the
// header values that hold a double quote; texts needing more than 64 are left out, to keep
// a run short.
//
// The property: by the seventh write, plus those extra rounds, the text has settled; from
// the second write on, a write equals the next one, or the one after next where the header
// charsets of the two reads between them differ.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <vector>

#include "foundation/StringBuffer.h"
#include "mime/MimeHeader.h"
#include "mime/MimeMessage2.h"
#include "mime/MimeParser.h"
#include "mime/MimeWriter.h"

namespace {

// The code page every header of the tree was read in, in tree order.
void headerCodePages(const MimeMessage2& e, std::vector<int32_t>& out) {
  out.push_back(e.header().codePage());
  for (int32_t i = 0; i < e.getNumParts(); ++i)
    if (e.getPart(i) != nullptr) headerCodePages(*e.getPart(i), out);
}

bool writesEightBitHeader(const MimeMessage2& e);

// The ";" in header values that hold a double quote, over the whole tree.
int32_t quotedParameterSeparators(const MimeMessage2& e) {
  int32_t n = 0;
  for (int32_t i = 0; i < e.header().getNumFields(); ++i) {
    const StringBuffer& value = e.header().fieldAt(i)->value();
    if (!value.containsChar('"')) continue;
    for (uint32_t j = 0; j < value.getSize(); ++j) n += value.charAt(j) == ';' ? 1 : 0;
  }
  for (int32_t i = 0; i < e.getNumParts(); ++i)
    if (e.getPart(i) != nullptr) n += quotedParameterSeparators(*e.getPart(i));
  return n;
}

// The code pages of the headers read; false when the tree is one the property leaves out.
bool roundTrip(const StringBuffer& in, StringBuffer& out, std::vector<int32_t>& pages,
               int32_t* separators = nullptr) {
  MimeMessage2 entity;
  loadEntity(entity, in, nullptr);
  if (writesEightBitHeader(entity)) return false;
  writeEntire(entity, out);
  headerCodePages(entity, pages);
  if (separators != nullptr) *separators = quotedParameterSeparators(entity);
  return true;
}

bool writesEightBitHeader(const MimeMessage2& e) {
  StringBuffer header;
  e.header().writeText(header, nullptr, e.charset());
  if (!header.is7bit()) return true;
  for (int32_t i = 0; i < e.getNumParts(); ++i)
    if (e.getPart(i) != nullptr && writesEightBitHeader(*e.getPart(i))) return true;
  return false;
}

void dump(const char* label, const StringBuffer& text) {
  std::fprintf(stderr, "---- %s (%u bytes)\n", label, text.getSize());
  std::fwrite(text.getString(), 1, text.getSize(), stderr);
  std::fprintf(stderr, "\n---- end of %s\n", label);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Big inputs only slow the search; the structure that matters fits in a few kilobytes.
  if (size > 64 * 1024) return 0;
  StringBuffer input(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), 0);
  constexpr int kWrites = 7;
  constexpr int32_t kMostExtraRounds = 64;
  std::deque<StringBuffer> writes(1);  // a deque: StringBuffer cannot move
  std::vector<std::vector<int32_t>> pages(1);
  int32_t extra = 0;
  if (!roundTrip(input, writes[0], pages[0], &extra) || extra > kMostExtraRounds) return 0;
  const int writeCount = kWrites + extra;
  pages.resize(static_cast<size_t>(writeCount));
  for (int i = 1; i < writeCount; ++i) {
    writes.emplace_back();
    if (!roundTrip(writes[i - 1], writes[i], pages[i])) return 0;
    // writes[i] is the (i+1)th write; pages[i] the charsets of the read that gave it.
    if (i >= 2 && writes[i - 1].equalsSb(writes[i])) return 0;
    if (i >= 3 && pages[i - 1] != pages[i] && writes[i - 2].equalsSb(writes[i])) return 0;
  }
  for (int i = 0; i < writeCount; ++i) {
    char label[32];
    std::snprintf(label, sizeof label, "write %d", i + 1);
    dump(label, writes[i]);
  }
  __builtin_trap();
}
