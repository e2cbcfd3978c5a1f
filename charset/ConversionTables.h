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

// The tables, loading them first. Null when the code page has no table of that kind; a
// table whose text did not decode is present and empty.
const UnicodeLookup* singleByteForward(int32_t codePage);
const HashConvert* multiByteForward(int32_t codePage);
const HashConvert* reverseTable(int32_t codePage);
