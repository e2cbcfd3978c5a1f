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
// A long text becomes a BSTR a piece at a time, cut after a line feed.
constexpr uint32_t kBstrPiece = 1 << 20;
constexpr UINT kFirstRoom = 1 << 16;
}  // namespace

bool BstrBuilder::cutsAtLineFeeds(int32_t cp) {
  return cp != 65000 && (cp < 50000 || cp > 59999) && cp != CP_UTF16LE && cp != CP_UTF16BE &&
         cp != 12000 && cp != 12001;
}

BstrBuilder::~BstrBuilder() {
  SysFreeString(text_);
  delete spill_;
}

void BstrBuilder::add(const char* bytes, uint32_t n) {
  if (n == 0 || bytes == nullptr) return;
  platformConvert(static_cast<UINT>(codePage_), CP_UTF16LE, bytes, n, *this);
}

unsigned char* BstrBuilder::reserve(size_t extra) {
  const uint64_t wanted = used_ + (static_cast<uint64_t>(extra) + 1) / 2;
  if (!failed_ && wanted > room_) {
    // Doubling: a large string grows by remapping its pages, never copied or touched twice.
    uint64_t grown = room_ < kFirstRoom ? kFirstRoom : static_cast<uint64_t>(room_) * 2;
    if (grown < wanted) grown = wanted;
    if (grown > 0x3FFFFFF0ULL) grown = wanted;
    if (grown <= 0x3FFFFFF0ULL && SysReAllocStringLen(&text_, nullptr, static_cast<UINT>(grown)))
      room_ = static_cast<UINT>(grown);
    else
      failed_ = true;
  }
  if (failed_) {
    // The conversion still needs room; what it writes there is dropped.
    if (spill_ == nullptr) spill_ = new DataBuffer;
    spill_->setSize(0);
    spill_->ensureCapacity(static_cast<uint32_t>(extra < 0xFFFFFFF0u ? extra : 0xFFFFFFF0u));
    return spill_->getData();
  }
  return reinterpret_cast<unsigned char*>(text_ + used_);
}

void BstrBuilder::commit(const unsigned char* end) {
  if (failed_) return;
  used_ = static_cast<UINT>((end - reinterpret_cast<unsigned char*>(text_)) / 2);
}

BSTR BstrBuilder::take() {
  BSTR out = nullptr;
  if (!failed_) {
    if (text_ == nullptr) {
      out = SysAllocStringLen(nullptr, 0);
    } else if (used_ == room_ || SysReAllocStringLen(&text_, nullptr, used_)) {
      out = text_;
      text_ = nullptr;
    } else {
      out = SysAllocStringLen(text_, used_);
    }
  }
  SysFreeString(text_);
  text_ = nullptr;
  used_ = room_ = 0;
  failed_ = false;
  return out;
}

BSTR bstrFromCodePage(int32_t codePage, const char* bytes, uint32_t n) {
  if (bytes != nullptr && n > 2 * kBstrPiece && BstrBuilder::cutsAtLineFeeds(codePage)) {
    BstrBuilder built(codePage);
    for (uint32_t at = 0; at < n;) {
      uint32_t end = n;
      if (n - at > kBstrPiece) {
        const void* lf = std::memchr(bytes + at + kBstrPiece, '\n', n - at - kBstrPiece);
        if (lf != nullptr) end = static_cast<uint32_t>(static_cast<const char*>(lf) - bytes) + 1;
      }
      built.add(bytes + at, end - at);
      at = end;
    }
    return built.take();
  }
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
