#include "foundation/Conversion.h"

#include <cstring>

#include "foundation/DataBuffer.h"
#include "foundation/StringBuffer.h"
#include "platform/CodePage.h"
#include "platform/OleAuto.h"

unsigned char* DataBufferOutput::reserve(size_t extra) {
  const uint64_t wanted = static_cast<uint64_t>(buffer_.getSize()) + extra;
  if (wanted > buffer_.capacity()) buffer_.ensureCapacity(static_cast<uint32_t>(wanted));
  return buffer_.getData() + buffer_.getSize();
}

void DataBufferOutput::commit(const unsigned char* end) {
  buffer_.setSize(static_cast<uint32_t>(end - buffer_.getData()));
}

void DataBufferOutput::append(const void* bytes, size_t n) {
  buffer_.append(bytes, static_cast<uint32_t>(n));
}

bool convertCodePage(int32_t fromCp, int32_t toCp, const void* bytes, uint32_t n, DataBuffer& out) {
  if (n == 0 || bytes == nullptr) return true;
  DataBufferOutput sink(out);
  return platformConvert(static_cast<UINT>(fromCp), static_cast<UINT>(toCp), bytes, n, sink);
}

bool convertCodePageSb(int32_t fromCp, int32_t toCp, const void* bytes, uint32_t n,
                       StringBuffer& out) {
  if (n == 0 || bytes == nullptr) return true;
  if (fromCp == toCp) {
    out.appendN(static_cast<const char*>(bytes), n);
    return true;
  }
  DataBuffer converted;
  const bool ok = convertCodePage(fromCp, toCp, bytes, n, converted);
  out.appendN(reinterpret_cast<const char*>(converted.getData()), converted.getSize());
  return ok;
}

int32_t ansiCodePage() { return static_cast<int32_t>(GetACP()); }

namespace {

// A long text becomes a BSTR a piece at a time, cut after a line feed: no single- or
// double-byte table, EUC form or UTF-8 has 0x0A inside a character. Not cut: the UTF-16 and
// UTF-32 forms, UTF-7, and the ISO-2022, HZ, GB18030 and other forms numbered 50000-59999.
constexpr uint32_t kBstrPiece = 1 << 20;

bool cutsAtLineFeeds(int32_t cp) {
  return cp != 65000 && (cp < 50000 || cp > 59999) && cp != CP_UTF16LE && cp != CP_UTF16BE &&
         cp != 12000 && cp != 12001;
}

// Converted straight into the string, sized at one unit a byte (no code page cut this way
// gives more, but a piece that did would grow it), so no second copy of the result is held.
BSTR bstrInPieces(int32_t codePage, const char* bytes, uint32_t n) {
  BSTR out = SysAllocStringLen(nullptr, n);
  if (out == nullptr) return nullptr;
  UINT used = 0;
  UINT room = n;
  DataBuffer piece;
  for (uint32_t at = 0; at < n;) {
    uint32_t end = n;
    if (n - at > kBstrPiece) {
      const void* lf = std::memchr(bytes + at + kBstrPiece, '\n', n - at - kBstrPiece);
      if (lf != nullptr) end = static_cast<uint32_t>(static_cast<const char*>(lf) - bytes) + 1;
    }
    piece.setSize(0);
    convertCodePage(codePage, CP_UTF16LE, bytes + at, end - at, piece);
    const UINT units = piece.getSize() / 2;
    if (units > room - used) {
      room = used + units + (room >> 3);
      if (!SysReAllocStringLen(&out, nullptr, room)) {
        SysFreeString(out);
        return nullptr;
      }
    }
    std::memcpy(out + used, piece.getData(), static_cast<size_t>(units) * 2);
    used += units;
    at = end;
  }
  if (used != room && !SysReAllocStringLen(&out, nullptr, used)) {
    BSTR exact = SysAllocStringLen(out, used);
    SysFreeString(out);
    return exact;
  }
  return out;
}

}  // namespace

BSTR bstrFromCodePage(int32_t codePage, const char* bytes, uint32_t n) {
  if (bytes != nullptr && n > 2 * kBstrPiece && cutsAtLineFeeds(codePage))
    return bstrInPieces(codePage, bytes, n);
  DataBuffer utf16;
  if (n > 0 && bytes != nullptr) convertCodePage(codePage, CP_UTF16LE, bytes, n, utf16);
  return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(utf16.getData()), utf16.getSize() / 2);
}

bool appendBstrInCodePage(BSTR s, int32_t codePage, StringBuffer& out) {
  if (s == nullptr) return true;
  const UINT units = SysStringLen(s);
  if (units == 0) return true;
  return convertCodePageSb(CP_UTF16LE, codePage, s, units * 2, out);
}
