// Reading and writing MIME text must settle: the first write may normalise the input (line
// ends, folding, encodings), but reading and writing a written text again must soon give
// the same text back. Writing never makes a new boundary (every multipart is written with
// the boundary it was read with), so the texts are compared byte for byte.
//
// The comparison does not start at the first write: the first read is tolerant of input the
// writer never produces (bare LF and doubled-CR line ends, raw 8-bit headers, headers with
// no blank line after them), and the first write is where that is made regular. Two more
// rules can each change the text once more before it settles: every parameter value is
// written in double quotes, so a value with a quote inside (boundary=b"1") means something
// else when read back (a new boundary, the body cut anew); and a part whose header is empty
// is written as a blank line then its body, which reads back as a part with no header
// separator, given "content-type: text/plain" and a body that starts with the line end.
//
// A header is read in one charset, chosen from the label of its first encoded word (or, with
// no word, by trying ANSI, Latin-1 and Latin-2), but the writer copies some 8-bit text into a
// header raw, in UTF-8 or the writing charset: field names, the <...> part of an address, and
// the fields kept verbatim (received, content-location, content-transfer-encoding). Read
// back under another charset such bytes are converted again and change every round, so the
// property is only asked of texts whose trees, in every round, have headers that write as
// 7-bit text.
//
// That charset is the text between the first "=?" and the first "?Q?" after it (else "?B?"),
// which in a header holding both B and Q words can span two words and name no charset. The
// writer picks B words for UTF-8 and Q words when the header has no charset, so such a header
// can flip between the two each round, and the text then repeats every other round.
//
// These rules can follow one another, so the property is that by the seventh write the text
// has settled: from the second write on, a write equals the next one, or equals the one after
// next where the header charsets of the two reads between them differ.
#include <cstddef>
#include <cstdint>
#include <cstdio>
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

// The code pages of the headers read; false when the tree is one the property leaves out.
bool roundTrip(const StringBuffer& in, StringBuffer& out, std::vector<int32_t>& pages) {
  MimeMessage2 entity;
  loadEntity(entity, in, nullptr);
  if (writesEightBitHeader(entity)) return false;
  writeEntire(entity, out);
  headerCodePages(entity, pages);
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
  StringBuffer writes[kWrites];
  std::vector<int32_t> pages[kWrites];
  if (!roundTrip(input, writes[0], pages[0])) return 0;
  for (int i = 1; i < kWrites; ++i) {
    if (!roundTrip(writes[i - 1], writes[i], pages[i])) return 0;
    // writes[i] is the (i+1)th write; pages[i] the charsets of the read that gave it.
    if (i >= 2 && writes[i - 1].equalsSb(writes[i])) return 0;
    if (i >= 3 && pages[i - 1] != pages[i] && writes[i - 2].equalsSb(writes[i])) return 0;
  }
  for (int i = 0; i < kWrites; ++i) {
    char label[32];
    std::snprintf(label, sizeof label, "write %d", i + 1);
    dump(label, writes[i]);
  }
  __builtin_trap();
}
