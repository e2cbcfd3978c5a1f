// The few GDI calls a control's drawing makes, and a device context that records them instead
// of painting: what was drawn can be read back and compared.
#pragma once

#include <string>
#include <vector>

#include "platform/WinTypes.h"

struct HDC__;
typedef HDC__* HDC;
struct HWND__;
typedef HWND__* HWND;

struct POINT {
  LONG x;
  LONG y;
};
struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
typedef RECT RECTL;
typedef RECT* LPRECT;
typedef const RECT* LPCRECT;
typedef RECTL* LPRECTL;
typedef const RECTL* LPCRECTL;
struct SIZE {
  LONG cx;
  LONG cy;
};
typedef SIZE SIZEL;
typedef SIZEL* LPSIZEL;

// Text alignment: one horizontal and one vertical choice.
constexpr UINT TA_LEFT = 0;
constexpr UINT TA_RIGHT = 2;
constexpr UINT TA_CENTER = 6;
constexpr UINT TA_TOP = 0;
constexpr UINT TA_BOTTOM = 8;
constexpr UINT TA_BASELINE = 24;
constexpr UINT GDI_ERROR = 0xFFFFFFFF;

// A rectangle outlined and filled with the current pen and brush.
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);
// Sets how TextOut places text against its reference point; returns the previous alignment,
// GDI_ERROR for a handle that is not a device context.
UINT SetTextAlign(HDC dc, UINT align);
UINT GetTextAlign(HDC dc);
// `length` bytes of text with its reference point at (x, y).
BOOL TextOutA(HDC dc, int x, int y, LPCSTR text, int length);
BOOL DeleteDC(HDC dc);

// One drawing call a recording device context received.
struct DrawRecord {
  enum class Kind { kRectangle, kText };
  Kind kind;
  RECT rect;   // kRectangle
  POINT at;    // kText: the reference point
  UINT align;  // kText: the alignment in force
  std::string text;
};

// A device context that records what is drawn into it, with text aligned TA_LEFT | TA_TOP
// at first. Freed with DeleteDC.
HDC CreateRecordingDC();
// What has been drawn into a recording device context, in order; null for any other handle.
const std::vector<DrawRecord>* recordedDrawing(HDC dc);
