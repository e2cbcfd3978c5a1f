// The stateful ISO-2022 forms, converted to and from the multi-byte code page that holds the
// same characters: ISO-2022-JP with Shift-JIS (932), ISO-2022-KR with 949.
#pragma once

#include <cstdint>

class DataBuffer;

void encodeIso2022Jp(const unsigned char* sjis, uint32_t n, DataBuffer& out);
void decodeIso2022Jp(const unsigned char* bytes, uint32_t n, DataBuffer& sjisOut);
void encodeIso2022Kr(const unsigned char* cp949, uint32_t n, DataBuffer& out);
void decodeIso2022Kr(const unsigned char* bytes, uint32_t n, DataBuffer& cp949Out);

// Mac Arabic keeps right-to-left runs in visual order and has right-to-left twins of the
// ASCII punctuation and digits; this rewrites a copy into logical order with plain ASCII.
void rewriteMacArabic(const unsigned char* bytes, uint32_t n, DataBuffer& out);
