#include "charset/ConversionTables.h"

#include <bzlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "charset/EncodingUtf8.h"
#include "charset/tables/StoredTables.h"
#include "foundation/ByteCodecs.h"
#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"

namespace {

constexpr uint32_t kSingleForwardBuckets = 283;
constexpr uint32_t kSingleReverseBuckets = 269;
constexpr uint32_t kMultiBuckets = 4919;
constexpr uint32_t kContainerMagic = 0xB394A7E1;

constexpr int32_t kSingleBytePages[] = {
    37,    437,   500,   708,   720,   737,   775,   850,   852,   855,   857,   858,
    860,   861,   862,   863,   864,   865,   866,   869,   870,   874,   875,   1026,
    1047,  1140,  1141,  1142,  1143,  1144,  1145,  1146,  1147,  1148,  1149,  1250,
    1251,  1252,  1253,  1254,  1255,  1256,  1257,  1258,  10000, 10004, 10005, 10006,
    10007, 10010, 10017, 10021, 10029, 10079, 10081, 10082, 20105, 20106, 20107, 20108,
    20127, 20261, 20269, 20273, 20277, 20278, 20280, 20284, 20285, 20290, 20297, 20420,
    20423, 20424, 20838, 20866, 20871, 20880, 20905, 20924, 21025, 21866, 28591, 28592,
    28593, 28594, 28595, 28596, 28597, 28598, 28599, 28603, 28605, 38598};
constexpr int32_t kMultiBytePages[] = {932, 936, 949, 950, 1361, 10001, 51932, 51936, 51949};

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The payload of a stored text: base64, then (unless marked "x") the compressed container.
bool decodePayload(const StringBuffer& text, DataBuffer& payload) {
  if (text.getSize() < 1) return false;
  DataBuffer raw;
  decodeBase64(text.getString() + 1, text.getSize() - 1, raw);
  if (text.charAt(0) == 'x') {
    payload.takeFrom(raw);
    return true;
  }
  if (raw.getSize() < 8 || le32(raw.getData()) != kContainerMagic) return false;
  const uint32_t length = le32(raw.getData() + 4);
  if (length == 0) return true;
  // The declared length bounds the room, so a corrupt container cannot ask for more.
  if (length > 64u * 1024 * 1024) return false;
  payload.ensureCapacity(length + 20);
  unsigned int produced = length + 20;
  const int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(payload.getData()), &produced,
                                            reinterpret_cast<char*>(raw.getData() + 8),
                                            raw.getSize() - 8, 0, 0);
  if (rc != BZ_OK) return false;
  payload.setSize(std::min<uint32_t>(produced, length + 20));
  return true;
}

void insertEntry(HashConvert& table, bool reverse, const unsigned char* code, uint32_t codeLen,
                 uint16_t unit) {
  const unsigned char u[2] = {static_cast<unsigned char>(unit),
                              static_cast<unsigned char>(unit >> 8)};
  if (reverse)
    table.insert(u, 2, code, codeLen);
  else
    table.insert(code, codeLen, u, 2);
}

void loadFullList(const unsigned char* p, const unsigned char* end, HashConvert& table,
                  bool reverse) {
  unsigned char code = 0;
  uint16_t unit = 0;
  while (end - p >= 3 && p[0] != 0) {
    code = static_cast<unsigned char>(code + p[0]);
    unit = static_cast<uint16_t>(unit + le16(p + 1));
    insertEntry(table, reverse, &code, 1, unit);
    p += 3;
  }
  if (end - p < 1) return;
  ++p;  // the single-byte part's zero code delta
  uint16_t dcode = 0;
  unit = 0;
  while (end - p >= 4 && le16(p) != 0) {
    dcode = static_cast<uint16_t>(dcode + le16(p));
    unit = static_cast<uint16_t>(unit + le16(p + 2));
    const unsigned char bytes[2] = {static_cast<unsigned char>(dcode >> 8),
                                    static_cast<unsigned char>(dcode)};
    insertEntry(table, reverse, bytes, 2, unit);
    p += 4;
  }
}

// Applied on top of a reverse table: removals, then re-insertions with one-byte and with
// two-byte values.
void applyPatch(const unsigned char* p, const unsigned char* end, HashConvert& table) {
  while (end - p >= 2 && le16(p) != 0) {
    table.remove(p, 2);
    p += 2;
  }
  p += std::min<ptrdiff_t>(2, end - p);
  while (end - p >= 3 && p[0] != 0) {
    table.remove(p + 1, 2);
    table.insert(p + 1, 2, p, 1);
    p += 3;
  }
  p += std::min<ptrdiff_t>(1, end - p);
  while (end - p >= 4 && le16(p) != 0) {
    table.remove(p + 2, 2);
    table.insert(p + 2, 2, p, 2);
    p += 4;
  }
}

StringBuffer* joinPieces(const StoredTable* stored) {
  if (stored == nullptr) return nullptr;
  auto* text = new StringBuffer();
  for (uint32_t i = 0; i < stored->numPieces; ++i) text->append(stored->pieces[i]);
  return text;
}

// One slot per code page and direction, filled once and kept until the process ends.
struct Caches {
  std::map<int32_t, std::unique_ptr<UnicodeLookup>> singleForward;
  std::map<int32_t, std::unique_ptr<HashConvert>> multiForward;
  std::map<int32_t, std::unique_ptr<HashConvert>> reverse;
};

Caches& caches() {
  static Caches c;
  return c;
}

// 10001 shares the 932 list and corrects it with a patch of its own.
int32_t textCodePage(int32_t codePage) { return codePage == 10001 ? 932 : codePage; }

void fillFromText(int32_t codePage, HashConvert& table, bool reverse) {
  std::unique_ptr<StringBuffer> text(joinPieces(findStoredTable(textCodePage(codePage))));
  if (!text || !loadTableText(*text, table, reverse)) return;
  if (reverse) {
    std::unique_ptr<StringBuffer> patch(joinPieces(findStoredPatch(codePage)));
    if (patch) loadTableText(*patch, table, true);
  }
}

}  // namespace

bool loadTableText(const StringBuffer& text, HashConvert& table, bool reverse) {
  DataBuffer payload;
  if (!decodePayload(text, payload)) return false;
  if (payload.getSize() < 2) return payload.getSize() == 0;
  const unsigned char* p = payload.getData();
  const unsigned char* end = p + payload.getSize();
  table.setAsciiTransparent(p[0] == 'a');
  if (p[1] == 'd') {
    if (reverse) applyPatch(p + 2, end, table);
  } else {
    loadFullList(p + 2, end, table, reverse);
  }
  return true;
}

bool isSingleByteTablePage(int32_t codePage) {
  return std::binary_search(std::begin(kSingleBytePages), std::end(kSingleBytePages), codePage);
}

bool isMultiByteTablePage(int32_t codePage) {
  return std::binary_search(std::begin(kMultiBytePages), std::end(kMultiBytePages), codePage);
}

void loadForward(int32_t codePage) {
  Caches& c = caches();
  if (isSingleByteTablePage(codePage)) {
    if (c.singleForward.count(codePage) != 0) return;
    HashConvert temp(kSingleForwardBuckets);
    fillFromText(codePage, temp, false);
    auto lookup = std::make_unique<UnicodeLookup>();
    for (unsigned b = 1; b < 256; ++b) {
      if (temp.asciiTransparent() && b < 0x80) {
        lookup->units[b] = static_cast<uint16_t>(b);
        continue;
      }
      const unsigned char key = static_cast<unsigned char>(b);
      uint32_t len = 0;
      const unsigned char* v = temp.lookup(&key, 1, &len);
      lookup->units[b] = len == 2 ? le16(v) : 0;
    }
    lookup->asciiRuns = true;
    for (unsigned b = 1; b < 0x80; ++b) lookup->asciiRuns &= lookup->units[b] == b;
    const EncodingUtf8& utf8 = EncodingUtf8::instance();
    for (unsigned b = 0; b < 256; ++b) {
      const uint16_t u = lookup->units[b];
      if (u != 0 || b == 0)
        lookup->utf8Length[b] = static_cast<unsigned char>(utf8.encodeUnit(u, lookup->utf8[b]));
    }
    c.singleForward[codePage] = std::move(lookup);
  } else if (isMultiByteTablePage(codePage)) {
    if (c.multiForward.count(codePage) != 0) return;
    auto table = std::make_unique<HashConvert>(kMultiBuckets);
    if (codePage == 10001) {
      if (const HashConvert* rev = reverseTable(10001)) {
        rev->invertInto(*table);
        table->setAsciiTransparent(rev->asciiTransparent());
      }
    } else {
      fillFromText(codePage, *table, false);
    }
    c.multiForward[codePage] = std::move(table);
  }
}

void loadReverse(int32_t codePage) {
  Caches& c = caches();
  const bool single = isSingleByteTablePage(codePage);
  if (!single && !isMultiByteTablePage(codePage)) return;
  if (c.reverse.count(codePage) != 0) return;
  auto table = std::make_unique<HashConvert>(single ? kSingleReverseBuckets : kMultiBuckets);
  fillFromText(codePage, *table, true);
  c.reverse[codePage] = std::move(table);
}

const UnicodeLookup* singleByteForward(int32_t codePage) {
  loadForward(codePage);
  auto it = caches().singleForward.find(codePage);
  return it != caches().singleForward.end() ? it->second.get() : nullptr;
}

const HashConvert* multiByteForward(int32_t codePage) {
  loadForward(codePage);
  auto it = caches().multiForward.find(codePage);
  return it != caches().multiForward.end() ? it->second.get() : nullptr;
}

const HashConvert* reverseTable(int32_t codePage) {
  loadReverse(codePage);
  auto it = caches().reverse.find(codePage);
  return it != caches().reverse.end() ? it->second.get() : nullptr;
}

namespace {

struct DenseCaches {
  std::map<int32_t, std::unique_ptr<DenseForward>> forward;
  std::map<int32_t, std::unique_ptr<DenseReverse>> reverse;
};

DenseCaches& denseCaches() {
  static DenseCaches c;
  return c;
}

std::unique_ptr<DenseForward> makeDenseForward(const HashConvert& table) {
  if (table.maxKeyLength() > 2) return nullptr;
  auto dense = std::make_unique<DenseForward>();
  dense->asciiTransparent = table.asciiTransparent();
  dense->asciiRuns = table.asciiTransparent();
  bool representable = true;
  table.forEach(
      [&](const unsigned char* key, uint32_t klen, const unsigned char* v, uint32_t vlen) {
        const uint16_t unit = vlen == 2 ? le16(v) : 0;
        if (vlen != 2 || unit == 0) {
          representable = false;
          return;
        }
        uint16_t& slot = klen == 1 ? dense->single[key[0]] : dense->pair[(key[0] << 8) | key[1]];
        if (slot == 0) slot = unit;  // the first entry of a key wins, as in a lookup
        if (klen == 2 && key[0] < 0x80) dense->asciiRuns = false;
      });
  return representable ? std::move(dense) : nullptr;
}

std::unique_ptr<DenseReverse> makeDenseReverse(const HashConvert& table) {
  if (table.maxKeyLength() > 2) return nullptr;
  auto dense = std::make_unique<DenseReverse>();
  dense->asciiTransparent = table.asciiTransparent();
  bool representable = true;
  table.forEach(
      [&](const unsigned char* key, uint32_t klen, const unsigned char* v, uint32_t vlen) {
        if (klen != 2 || vlen == 0 || vlen > 2) {
          representable = false;
          return;
        }
        const uint16_t unit = le16(key);
        if (dense->length[unit] != 0) return;
        dense->length[unit] = static_cast<unsigned char>(vlen);
        dense->code[unit] = static_cast<uint16_t>(vlen == 1 ? v[0] : (v[0] << 8) | v[1]);
      });
  return representable ? std::move(dense) : nullptr;
}

}  // namespace

const DenseForward* denseMultiByteForward(int32_t codePage) {
  auto& slots = denseCaches().forward;
  auto it = slots.find(codePage);
  if (it == slots.end()) {
    const HashConvert* table = multiByteForward(codePage);
    it = slots.emplace(codePage, table != nullptr ? makeDenseForward(*table) : nullptr).first;
  }
  return it->second.get();
}

const DenseReverse* denseReverse(int32_t codePage) {
  auto& slots = denseCaches().reverse;
  auto it = slots.find(codePage);
  if (it == slots.end()) {
    const HashConvert* table = reverseTable(codePage);
    it = slots.emplace(codePage, table != nullptr ? makeDenseReverse(*table) : nullptr).first;
  }
  return it->second.get();
}
