// The conversion tables of the table-driven code pages: decoded from the stored texts on
// first use, kept for the life of the process, one slot per code page and direction.
#pragma once

#include <cstdint>

#include "charset/HashConvert.h"

class StringBuffer;

// Decodes a stored text (marker, base64, optional compressed container, payload) and inserts
// its entries into `table`: forward (code bytes -> UTF-16 unit) or reverse. Sets the table's
// ASCII-transparent flag. False, with nothing inserted, when the text does not decode. A
// patch list is applied only in reverse.
bool loadTableText(const StringBuffer& text, HashConvert& table, bool reverse);

// True for the code pages converted with a single-byte table.
bool isSingleByteTablePage(int32_t codePage);
// True for the code pages converted with a multi-byte table.
bool isMultiByteTablePage(int32_t codePage);

// Makes the code-page-to-UTF-16 table present; nothing when it already is or when the code
// page has no table.
void loadForward(int32_t codePage);
// The same for the UTF-16-to-code-page table.
void loadReverse(int32_t codePage);

// Direct-indexed copies of the hash tables for the hot loops: the same answers as a lookup
// in the table they were made from, without hashing.
struct DenseForward {
  bool asciiTransparent = false;
  bool asciiRuns = false;     // transparent, and no two-byte code begins with an ASCII byte
  uint16_t single[256] = {};  // 0: no one-byte entry
  uint16_t pair[65536] = {};  // by lead << 8 | trail; 0: no two-byte entry
};
struct DenseReverse {
  bool asciiTransparent = false;
  uint16_t code[65536] = {};         // the code's bytes, lead byte high for two
  unsigned char length[65536] = {};  // 0: unmapped
};

// Null when the code page has no such table, or when its keys or values are longer than the
// dense form holds (the hash table then serves).
const DenseForward* denseMultiByteForward(int32_t codePage);
const DenseReverse* denseReverse(int32_t codePage);

// The tables, loading them first. Null when the code page has no table of that kind; a
// table whose text did not decode is present and empty.
const UnicodeLookup* singleByteForward(int32_t codePage);
const HashConvert* multiByteForward(int32_t codePage);
const HashConvert* reverseTable(int32_t codePage);
