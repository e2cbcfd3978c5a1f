#include "platform/Gdi.h"

#include <new>

// The state lives in the context itself, so a module with its own copy of this layer draws
// into a context that its host made.
struct HDC__ {
  static constexpr uint32_t kMagic = 0x52434448;  // "HDCR"
  uint32_t magic = kMagic;
  UINT textAlign = TA_LEFT | TA_TOP;
  std::vector<DrawRecord> records;
};

namespace {

HDC__* recording(HDC dc) { return dc != nullptr && dc->magic == HDC__::kMagic ? dc : nullptr; }

}  // namespace

HDC CreateRecordingDC() { return new (std::nothrow) HDC__(); }

const std::vector<DrawRecord>* recordedDrawing(HDC dc) {
  HDC__* d = recording(dc);
  return d != nullptr ? &d->records : nullptr;
}

BOOL DeleteDC(HDC dc) {
  HDC__* d = recording(dc);
  if (d == nullptr) return FALSE;
  d->magic = 0;
  delete d;
  return TRUE;
}

BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) {
  HDC__* d = recording(dc);
  if (d == nullptr) return FALSE;
  d->records.push_back({DrawRecord::Kind::kRectangle, {left, top, right, bottom}, {0, 0}, 0, {}});
  return TRUE;
}

UINT SetTextAlign(HDC dc, UINT align) {
  HDC__* d = recording(dc);
  if (d == nullptr) return GDI_ERROR;
  const UINT previous = d->textAlign;
  d->textAlign = align;
  return previous;
}

UINT GetTextAlign(HDC dc) {
  HDC__* d = recording(dc);
  return d != nullptr ? d->textAlign : GDI_ERROR;
}

BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length) {
  HDC__* d = recording(dc);
  if (d == nullptr || length < 0 || (text == nullptr && length > 0)) return FALSE;
  d->records.push_back({DrawRecord::Kind::kText,
                        {0, 0, 0, 0},
                        {x, y},
                        d->textAlign,
                        std::string(text != nullptr ? text : "", static_cast<size_t>(length))});
  return TRUE;
}
