// OLE Automation strings, variants and safe arrays, and the COM task allocator.
//
// A BSTR points at UTF-16 units that follow a 4-byte byte-length prefix and are followed by
// a 16-bit NUL; a null BSTR is a valid empty string.
#pragma once

#include "platform/WinTypes.h"

struct IUnknown;
struct IDispatch;

// --- Task allocator ---
LPVOID CoTaskMemAlloc(size_t cb);
LPVOID CoTaskMemRealloc(LPVOID p, size_t cb);
void CoTaskMemFree(LPVOID p);

// --- BSTR ---
// A BSTR of `len` units copied from `s` (or uninitialised but terminated when s is null).
BSTR SysAllocStringLen(const OLECHAR* s, UINT len);
// Gives *bstr room for `len` units, keeping what it holds up to that length, then copies
// `s` (which may lie in the old string) when it is not null. FALSE, *bstr untouched, when
// no memory is left.
INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* s, UINT len);
// A BSTR copied from a NUL-terminated string; null for a null argument.
BSTR SysAllocString(const OLECHAR* s);
// Frees a BSTR; null is ignored.
void SysFreeString(BSTR s);
// Units in the string (0 for null).
UINT SysStringLen(BSTR s);
// Bytes in the string without the terminator (0 for null).
UINT SysStringByteLen(BSTR s);

// --- VARIANT ---
typedef unsigned short VARTYPE;
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAY;

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    ULONGLONG ullVal;
    LONG lVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    BYTE bVal;
    CHAR cVal;
    SHORT iVal;
    USHORT uiVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    BYTE* pbVal;
    SHORT* piVal;
    LONG* plVal;
    float* pfltVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    SAFEARRAY** pparray;
    VARIANT* pvarVal;
    void* byref;
  };
};
typedef VARIANT VARIANTARG;

void VariantInit(VARIANT* v);
// Frees what the variant owns (BSTR, array, interface reference) and makes it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);
// A deep copy: strings and arrays duplicated, interfaces AddRef'd.
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
constexpr USHORT VARIANT_NOVALUEPROP = 0x01;
constexpr USHORT VARIANT_ALPHABOOL = 0x02;  // a boolean becomes "True"/"False", not "-1"/"0"
constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
constexpr USHORT VARIANT_LOCALBOOL = 0x10;
// Coerces src to type vt into dest (which may be src). Supports the empty, null, integer,
// floating, boolean and string types, following references; numbers parse from strings
// ("0" for a long becomes 0), overflow gives DISP_E_OVERFLOW, anything else
// DISP_E_TYPEMISMATCH. On failure dest is left as it was.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

// --- SAFEARRAY ---
struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

struct SAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];  // cDims bounds, the last dimension first, as in Windows
};

constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;

// A one-dimensional array of cElements elements of type vt, zero-filled.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
// An array of cDims dimensions; bounds[0] is the leftmost (slowest) dimension.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** out);
UINT SafeArrayGetDim(SAFEARRAY* psa);
UINT SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT dim, LONG* bound);  // dim counts from 1
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT dim, LONG* bound);
HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data);
HRESULT SafeArrayUnaccessData(SAFEARRAY* psa);
