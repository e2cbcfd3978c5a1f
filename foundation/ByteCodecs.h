// The byte codecs of the component: base64 (RFC 4648 alphabet), quoted-printable bodies and
// the "Q" form of encoded words. They know nothing of charsets; the encoded-word layer
// in mime/ builds on them, and the conversion tables, certificates and signatures use the
// base64 forms directly.
//
// Every encoder and decoder appends to its output. Hex digits are written in upper case.
#pragma once

#include <cstdint>

class DataBuffer;
class StringBuffer;

// The RFC 4648 alphabet, value order; UTF-7 writes its base64 with it too.
inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Body base64: a CRLF each time a line reaches `lineLength` characters (counted after each
// group of four) and always one at the end, so a multiple of 54 bytes at 72 characters ends
// with an empty line. Nothing at all for empty input. A lineLength below 1 never breaks.
void encodeBase64Lines(const void* bytes, uint32_t n, int32_t lineLength, StringBuffer& out);
// Appends what encodeBase64Lines would write for the bytes that base64 `text` holds, without
// decoding it: its characters broken into lines anew. Only text whose characters are base64
// groups with CR and LF between them, the last group alone padded and its unused bits zero,
// decodes to bytes that encode back to those groups; for any other text (or none) this is
// false and nothing is appended.
bool rewrapBase64Lines(const char* text, uint32_t n, int32_t lineLength, StringBuffer& out);

// Base64 on one line: no breaks and no final CRLF.
void encodeBase64(const void* bytes, uint32_t n, StringBuffer& out);
// The same text in a new block from vorlundAlloc (NUL-terminated, never null); its length
// without the NUL goes to *length. The caller frees it with vorlundFree.
char* encodeBase64(const void* bytes, uint32_t n, uint32_t* length);

// Both decoders stop at the first "=" or NUL and skip tab, LF, CR and space. The strict one
// returns false and appends nothing on any byte outside "+".."z"; the lenient one reads such
// a byte as "+" and never fails. A trailing partial group gives only its complete bytes.
bool decodeBase64Strict(const char* text, uint32_t n, DataBuffer& out);
void decodeBase64(const char* text, uint32_t n, DataBuffer& out);

// Body quoted-printable with soft breaks once a line reaches `lineLength` characters (a
// lineLength below 1 is taken as 1). CRLF pairs stay line ends; a lone CR or LF is escaped;
// "From " and "." at a line start are escaped so mail transports leave them alone; a space
// or tab before CRLF or at the very end is escaped so it survives trailing-blank stripping.
void encodeQuotedPrintable(const void* bytes, uint32_t n, int32_t lineLength, StringBuffer& out);
// Appends quoted-printable `text` itself when it is exactly what encodeQuotedPrintable writes
// at `lineLength` for the bytes decodeQuotedPrintable reads from it, so they need not be
// decoded and encoded again (empty text appends nothing and is taken). With `escapable` given
// (256 entries), an escape of a byte it does not mark refuses the text too; the literal bytes
// of such text are all ASCII. On refusal this is false and nothing is appended.
bool copyQuotedPrintableLines(const char* text, uint32_t n, int32_t lineLength,
                              const bool* escapable, StringBuffer& out);
// Appends what encodeQuotedPrintable writes at `lineLength` for the bytes decodeQuotedPrintable
// reads from `text`, taken from the text's own escapes and literal bytes (its soft line breaks
// dropped), when the text uses only what it reads exactly: upper-case escapes, CRLF line ends,
// literal bytes and blanks no line end follows. `escapable` as above. On refusal this is false
// and nothing is appended.
bool rewrapQuotedPrintable(const char* text, uint32_t n, int32_t lineLength, const bool* escapable,
                           StringBuffer& out);

// Body quoted-printable decoding, ending at the first NUL. Literal bytes lose bit 7, line
// ends come out as CRLF (none after the last line when it has no LF), trailing blanks of a
// line are dropped, "=" at a line end joins the next line, and the "=FFFFFFxx" form written
// by sign-extending encoders gives the byte xx. Malformed escapes never fail: a non-hex digit
// counts as 0, and so does a digit missing at the line end. Always returns true.
bool decodeQuotedPrintable(const char* text, uint32_t n, DataBuffer& out);

// The "Q" text of one encoded word: a space as "_", "=", "?", "_", controls and 8-bit bytes
// as "=XX", all else literally.
void encodeQ(const void* bytes, uint32_t n, StringBuffer& out);
// The reverse: "_" is a space, "=XX" (upper-case hex only) a byte, a "=" without two such
// digits stays "="; spaces, controls, "?" and bytes 127-159 are dropped.
void decodeQ(const char* text, uint32_t n, DataBuffer& out);
