#include "platform/Stream.h"

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

const IID IID_ISequentialStream = {
    0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
const IID IID_IStream = {
    0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// Beyond this a stream refuses to grow: memory streams hold persisted state, not bulk data.
constexpr ULONGLONG kMaxSize = 1u << 30;

class MemoryStream final : public IStream {
 public:
  MemoryStream(const BYTE* data, UINT size) {
    if (data != nullptr) bytes_.assign(data, data + size);
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
      *ppv = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
    const size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    const size_t n = cb < available ? cb : available;
    if (n > 0) std::memcpy(pv, bytes_.data() + position_, n);
    position_ += n;
    if (pcbRead != nullptr) *pcbRead = static_cast<ULONG>(n);
    return n == cb ? S_OK : S_FALSE;
  }

  HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
    if (pcbWritten != nullptr) *pcbWritten = 0;
    if (pv == nullptr && cb > 0) return STG_E_INVALIDPOINTER;
    if (position_ + cb > kMaxSize) return STG_E_MEDIUMFULL;
    if (position_ + cb > bytes_.size()) bytes_.resize(position_ + cb);
    if (cb > 0) std::memcpy(bytes_.data() + position_, pv, cb);
    position_ += cb;
    if (pcbWritten != nullptr) *pcbWritten = cb;
    return S_OK;
  }

  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    LONGLONG base = 0;
    switch (origin) {
      case STREAM_SEEK_SET:
        base = 0;
        break;
      case STREAM_SEEK_CUR:
        base = static_cast<LONGLONG>(position_);
        break;
      case STREAM_SEEK_END:
        base = static_cast<LONGLONG>(bytes_.size());
        break;
      default:
        return STG_E_INVALIDFUNCTION;
    }
    const LONGLONG target = base + move.QuadPart;
    if (target < 0 || static_cast<ULONGLONG>(target) > kMaxSize) return STG_E_INVALIDFUNCTION;
    position_ = static_cast<size_t>(target);
    if (newPosition != nullptr) newPosition->QuadPart = position_;
    return S_OK;
  }

  HRESULT SetSize(ULARGE_INTEGER newSize) override {
    if (newSize.QuadPart > kMaxSize) return STG_E_MEDIUMFULL;
    bytes_.resize(static_cast<size_t>(newSize.QuadPart));
    return S_OK;
  }

  HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                 ULARGE_INTEGER* pcbWritten) override {
    if (target == nullptr) return STG_E_INVALIDPOINTER;
    const size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
    const size_t n = cb.QuadPart < available ? static_cast<size_t>(cb.QuadPart) : available;
    ULONG written = 0;
    const HRESULT hr = target->Write(bytes_.data() + position_, static_cast<ULONG>(n), &written);
    position_ += n;
    if (pcbRead != nullptr) pcbRead->QuadPart = n;
    if (pcbWritten != nullptr) pcbWritten->QuadPart = written;
    return hr;
  }

  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return S_OK; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }

  HRESULT Stat(STATSTG* stat, DWORD) override {
    if (stat == nullptr) return STG_E_INVALIDPOINTER;
    std::memset(stat, 0, sizeof *stat);
    stat->type = STGTY_STREAM;
    stat->cbSize.QuadPart = bytes_.size();
    return S_OK;
  }

  HRESULT Clone(IStream** clone) override {
    if (clone != nullptr) *clone = nullptr;
    return STG_E_INVALIDFUNCTION;
  }

 private:
  ~MemoryStream() = default;

  std::atomic<ULONG> refs_{1};
  std::vector<BYTE> bytes_;
  size_t position_ = 0;
};

}  // namespace

IStream* SHCreateMemStream(const BYTE* data, UINT size) {
  return new (std::nothrow) MemoryStream(data, size);
}
