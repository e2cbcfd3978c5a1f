// The Unicode forms other than UTF-8 and UTF-16LE: UTF-7, UTF-32 in both byte orders and
// the byte swaps of big-endian input.
#pragma once

#include <cstdint>

class CodePageOutput;
class DataBuffer;

// UTF-16LE units (n bytes, an odd final byte ignored) to UTF-7; a leading U+FEFF is skipped.
void encodeUtf7(const unsigned char* utf16, uint32_t n, DataBuffer& out);
// UTF-7 to UTF-16LE. False for bytes above 0x7F or leftover non-zero bits; output is
// written either way.
bool decodeUtf7(const unsigned char* bytes, uint32_t n, DataBuffer& out);

// UTF-8 to UTF-32 in the chosen byte order. An illegal or truncated sequence stops the
// conversion: false, output up to there kept.
bool utf8ToUtf32(const unsigned char* bytes, uint32_t n, bool bigEndian, DataBuffer& out);
// UTF-32LE (whole 4-byte groups only) to UTF-8.
void utf32ToUtf8(const unsigned char* bytes, uint32_t n, DataBuffer& out);

// Appends the bytes with each 2-byte (or 4-byte) group reversed; a partial group is dropped.
void appendSwapped16(const unsigned char* bytes, uint32_t n, CodePageOutput& out);
void appendSwapped32(const unsigned char* bytes, uint32_t n, CodePageOutput& out);
