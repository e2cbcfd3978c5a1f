#include "platform/OleAuto.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "platform/Com.h"
#include "platform/HugePagesInternal.h"

// --- Task allocator ---

LPVOID CoTaskMemAlloc(size_t cb) {
  void* p = std::malloc(cb == 0 ? 1 : cb);
  preferHugePages(p, cb);
  return p;
}

LPVOID CoTaskMemRealloc(LPVOID p, size_t cb) {
  void* q = std::realloc(p, cb == 0 ? 1 : cb);
  preferHugePages(q, cb);
  return q;
}
void CoTaskMemFree(LPVOID p) { std::free(p); }

// --- BSTR ---

namespace {
constexpr size_t kPrefix = sizeof(uint32_t);
constexpr UINT kMaxBstrUnits = 0x3FFFFFF0u;  // keeps the byte length within 32 bits
}  // namespace

BSTR SysAllocStringLen(const OLECHAR* s, UINT len) {
  if (len > kMaxBstrUnits) return nullptr;
  size_t bytes = static_cast<size_t>(len) * sizeof(OLECHAR);
  auto* block = static_cast<uint8_t*>(CoTaskMemAlloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  uint32_t byteLen = static_cast<uint32_t>(bytes);
  std::memcpy(block, &byteLen, kPrefix);
  BSTR str = reinterpret_cast<BSTR>(block + kPrefix);
  if (s != nullptr) std::memcpy(str, s, bytes);
  str[len] = 0;
  return str;
}

INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* s, UINT len) {
  if (bstr == nullptr || len > kMaxBstrUnits) return FALSE;
  if (*bstr == nullptr) {
    BSTR fresh = SysAllocStringLen(s, len);
    if (fresh == nullptr) return FALSE;
    *bstr = fresh;
    return TRUE;
  }
  uint8_t* old = reinterpret_cast<uint8_t*>(*bstr) - kPrefix;
  // A source inside the old string is found again by its offset once the block has moved.
  const UINT oldLen = SysStringLen(*bstr);
  const bool inside = s != nullptr && s >= *bstr && s <= *bstr + oldLen;
  const size_t offset = inside ? static_cast<size_t>(s - *bstr) : 0;
  // Of a source inside, only what the old string holds is there to copy.
  const size_t copied = (inside && oldLen - offset < len ? oldLen - offset : len) * sizeof(OLECHAR);
  const size_t bytes = static_cast<size_t>(len) * sizeof(OLECHAR);
  auto* block = static_cast<uint8_t*>(CoTaskMemRealloc(old, kPrefix + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return FALSE;
  const uint32_t byteLen = static_cast<uint32_t>(bytes);
  std::memcpy(block, &byteLen, kPrefix);
  BSTR str = reinterpret_cast<BSTR>(block + kPrefix);
  if (s != nullptr) std::memmove(str, inside ? str + offset : s, copied);
  str[len] = 0;
  *bstr = str;
  return TRUE;
}

BSTR SysAllocString(const OLECHAR* s) {
  if (s == nullptr) return nullptr;
  UINT n = 0;
  while (s[n] != 0) ++n;
  return SysAllocStringLen(s, n);
}

void SysFreeString(BSTR s) {
  if (s != nullptr) CoTaskMemFree(reinterpret_cast<uint8_t*>(s) - kPrefix);
}

UINT SysStringByteLen(BSTR s) {
  if (s == nullptr) return 0;
  uint32_t byteLen;
  std::memcpy(&byteLen, reinterpret_cast<uint8_t*>(s) - kPrefix, kPrefix);
  return byteLen;
}

UINT SysStringLen(BSTR s) { return SysStringByteLen(s) / sizeof(OLECHAR); }

// --- SAFEARRAY ---

namespace {

// Every array is preceded by its element type, as Windows does for FADF_HAVEVARTYPE.
struct ArrayPrefix {
  VARTYPE vt;
  USHORT pad[3];
};

ULONG elementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
      return 4;
    case VT_R8:
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

USHORT featuresFor(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_VARIANT;
    default:
      return 0;
  }
}

ArrayPrefix* prefixOf(SAFEARRAY* psa) {
  return reinterpret_cast<ArrayPrefix*>(reinterpret_cast<uint8_t*>(psa) - sizeof(ArrayPrefix));
}

uint64_t elementCount(const SAFEARRAY* psa) {
  uint64_t n = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) n *= psa->rgsabound[i].cElements;
  return n;
}

constexpr uint64_t kMaxArrayBytes = 0x7FFFFFFF;

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds) {
  ULONG size = elementSize(vt);
  if (size == 0 || cDims == 0 || cDims > 64 || bounds == nullptr) return nullptr;
  uint64_t total = size;
  for (UINT i = 0; i < cDims; ++i) {
    total *= bounds[i].cElements;
    if (total > kMaxArrayBytes) return nullptr;
  }
  size_t header =
      sizeof(ArrayPrefix) + offsetof(SAFEARRAY, rgsabound) + cDims * sizeof(SAFEARRAYBOUND);
  auto* block = static_cast<uint8_t*>(CoTaskMemAlloc(header));
  if (block == nullptr) return nullptr;
  reinterpret_cast<ArrayPrefix*>(block)->vt = vt;
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + sizeof(ArrayPrefix));
  psa->cDims = static_cast<USHORT>(cDims);
  psa->fFeatures = featuresFor(vt);
  psa->cbElements = size;
  psa->cLocks = 0;
  // Stored rightmost dimension first.
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[i] = bounds[cDims - 1 - i];
  psa->pvData = CoTaskMemAlloc(static_cast<size_t>(total));
  if (psa->pvData == nullptr) {
    CoTaskMemFree(block);
    return nullptr;
  }
  std::memset(psa->pvData, 0, static_cast<size_t>(total));
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound = {cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks > 0) return DISP_E_ARRAYISLOCKED;
  uint64_t n = elementCount(psa);
  if (psa->fFeatures & FADF_BSTR) {
    auto* items = static_cast<BSTR*>(psa->pvData);
    for (uint64_t i = 0; i < n; ++i) SysFreeString(items[i]);
  } else if (psa->fFeatures & FADF_VARIANT) {
    auto* items = static_cast<VARIANT*>(psa->pvData);
    for (uint64_t i = 0; i < n; ++i) VariantClear(&items[i]);
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    auto* items = static_cast<IUnknown**>(psa->pvData);
    for (uint64_t i = 0; i < n; ++i)
      if (items[i] != nullptr) items[i]->Release();
  }
  CoTaskMemFree(psa->pvData);
  CoTaskMemFree(prefixOf(psa));
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (psa == nullptr) return S_OK;
  SAFEARRAYBOUND bounds[64] = {};
  if (psa->cDims == 0 || psa->cDims > 64) return E_INVALIDARG;
  for (USHORT i = 0; i < psa->cDims; ++i) bounds[i] = psa->rgsabound[psa->cDims - 1 - i];
  VARTYPE vt = prefixOf(psa)->vt;
  SAFEARRAY* copy = SafeArrayCreate(vt, psa->cDims, bounds);
  if (copy == nullptr) return E_OUTOFMEMORY;
  uint64_t n = elementCount(psa);
  if (psa->fFeatures & FADF_BSTR) {
    auto* from = static_cast<BSTR*>(psa->pvData);
    auto* to = static_cast<BSTR*>(copy->pvData);
    for (uint64_t i = 0; i < n; ++i)
      to[i] = from[i] ? SysAllocStringLen(from[i], SysStringLen(from[i])) : nullptr;
  } else if (psa->fFeatures & FADF_VARIANT) {
    auto* from = static_cast<VARIANT*>(psa->pvData);
    auto* to = static_cast<VARIANT*>(copy->pvData);
    for (uint64_t i = 0; i < n; ++i) VariantCopy(&to[i], &from[i]);
  } else {
    std::memcpy(copy->pvData, psa->pvData, static_cast<size_t>(n * psa->cbElements));
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      auto* items = static_cast<IUnknown**>(copy->pvData);
      for (uint64_t i = 0; i < n; ++i)
        if (items[i] != nullptr) items[i]->AddRef();
    }
  }
  *out = copy;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }
UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt) {
  if (psa == nullptr || vt == nullptr) return E_INVALIDARG;
  *vt = prefixOf(psa)->vt;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT dim, LONG* bound) {
  if (psa == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dim < 1 || dim > psa->cDims) return DISP_E_BADINDEX;
  *bound = psa->rgsabound[psa->cDims - dim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT dim, LONG* bound) {
  if (psa == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dim < 1 || dim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - dim];
  *bound = b.lLbound + static_cast<LONG>(b.cElements) - 1;
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** data) {
  if (psa == nullptr || data == nullptr) return E_INVALIDARG;
  ++psa->cLocks;
  *data = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

// --- VARIANT ---

void VariantInit(VARIANT* v) {
  if (v == nullptr) return;
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  if (!(v->vt & VT_BYREF)) {
    if (v->vt & VT_ARRAY) {
      // A locked array stays with the variant rather than being dropped unfreed.
      HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    } else {
      switch (v->vt) {
        case VT_BSTR:
          SysFreeString(v->bstrVal);
          break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
          if (v->punkVal != nullptr) v->punkVal->Release();
          break;
        default:
          break;
      }
    }
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (dest == src) return S_OK;
  VariantClear(dest);
  VARIANT copy = *src;
  if (!(src->vt & VT_BYREF)) {
    if (src->vt & VT_ARRAY) {
      HRESULT hr = SafeArrayCopy(src->parray, &copy.parray);
      if (FAILED(hr)) return hr;
    } else if (src->vt == VT_BSTR && src->bstrVal != nullptr) {
      copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
      if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else if ((src->vt == VT_UNKNOWN || src->vt == VT_DISPATCH) && src->punkVal != nullptr) {
      src->punkVal->AddRef();
    }
  }
  *dest = copy;
  return S_OK;
}

namespace {

// A scalar value on its way from one variant type to another.
struct Scalar {
  enum Kind { kEmpty, kNull, kInteger, kReal, kBool, kString } kind = kEmpty;
  int64_t integer = 0;
  bool isUnsigned = false;
  double real = 0;
  bool boolean = false;
  std::u16string text;
};

bool readScalar(const VARIANT* src, Scalar* out) {
  VARTYPE vt = src->vt;
  bool byref = (vt & VT_BYREF) != 0;
  VARTYPE base = vt & VT_TYPEMASK;
  if (vt & VT_ARRAY) return false;
  if (byref && src->byref == nullptr) return false;
  const void* p = byref ? src->byref : static_cast<const void*>(&src->llVal);
  switch (base) {
    case VT_EMPTY:
      out->kind = Scalar::kEmpty;
      return !byref;
    case VT_NULL:
      out->kind = Scalar::kNull;
      return !byref;
    case VT_I1:
      out->kind = Scalar::kInteger;
      out->integer = *static_cast<const int8_t*>(p);
      return true;
    case VT_UI1:
      out->kind = Scalar::kInteger;
      out->integer = *static_cast<const uint8_t*>(p);
      return true;
    case VT_I2:
      out->kind = Scalar::kInteger;
      out->integer = *static_cast<const int16_t*>(p);
      return true;
    case VT_UI2:
      out->kind = Scalar::kInteger;
      out->integer = *static_cast<const uint16_t*>(p);
      return true;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      out->kind = Scalar::kInteger;
      out->integer = *static_cast<const int32_t*>(p);
      return true;
    case VT_UI4:
    case VT_UINT:
      out->kind = Scalar::kInteger;
      out->integer = *static_cast<const uint32_t*>(p);
      return true;
    case VT_I8:
      out->kind = Scalar::kInteger;
      out->integer = *static_cast<const int64_t*>(p);
      return true;
    case VT_UI8:
      out->kind = Scalar::kInteger;
      out->integer = static_cast<int64_t>(*static_cast<const uint64_t*>(p));
      out->isUnsigned = true;
      return true;
    case VT_R4:
      out->kind = Scalar::kReal;
      out->real = *static_cast<const float*>(p);
      return true;
    case VT_R8:
    case VT_DATE:
      out->kind = Scalar::kReal;
      out->real = *static_cast<const double*>(p);
      return true;
    case VT_BOOL:
      out->kind = Scalar::kBool;
      out->boolean = *static_cast<const VARIANT_BOOL*>(p) != 0;
      return true;
    case VT_BSTR: {
      BSTR s = *static_cast<const BSTR*>(p);
      out->kind = Scalar::kString;
      out->text.assign(s ? s : u"", SysStringLen(s));
      return true;
    }
    case VT_VARIANT:
      return byref && readScalar(static_cast<const VARIANT*>(p), out);
    default:
      return false;
  }
}

bool equalsNoCase(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Reads a number out of a string as the automation parser does: surrounding spaces allowed,
// decimal or floating form, "True"/"False" as the boolean values.
HRESULT parseNumber(const std::u16string& text, Scalar* out) {
  std::string narrow;
  for (char16_t c : text) {
    if (c > 0x7F) return DISP_E_TYPEMISMATCH;
    narrow.push_back(static_cast<char>(c));
  }
  size_t b = narrow.find_first_not_of(" \t");
  size_t e = narrow.find_last_not_of(" \t");
  if (b == std::string::npos) return DISP_E_TYPEMISMATCH;
  narrow = narrow.substr(b, e - b + 1);
  if (equalsNoCase(narrow, "true") || equalsNoCase(narrow, "false")) {
    out->kind = Scalar::kBool;
    out->boolean = equalsNoCase(narrow, "true");
    return S_OK;
  }
  errno = 0;
  char* end = nullptr;
  long long asInt = std::strtoll(narrow.c_str(), &end, 10);
  if (*end == '\0') {
    if (errno == ERANGE) {
      // Past the signed range there is still room for an unsigned 64-bit target.
      if (narrow[0] == '-') return DISP_E_OVERFLOW;
      errno = 0;
      unsigned long long asUnsigned = std::strtoull(narrow.c_str(), &end, 10);
      if (errno == ERANGE) return DISP_E_OVERFLOW;
      out->kind = Scalar::kInteger;
      out->integer = static_cast<int64_t>(asUnsigned);
      out->isUnsigned = true;
      return S_OK;
    }
    out->kind = Scalar::kInteger;
    out->integer = asInt;
    return S_OK;
  }
  double asReal = std::strtod(narrow.c_str(), &end);
  if (*end != '\0' || end == narrow.c_str() || narrow.find_first_of("xXpP") != std::string::npos ||
      std::isnan(asReal) || std::isinf(asReal))
    return DISP_E_TYPEMISMATCH;
  out->kind = Scalar::kReal;
  out->real = asReal;
  return S_OK;
}

// Integers come out of reals rounded half to even, as automation rounds.
HRESULT toInteger(const Scalar& s, int64_t lo, int64_t hi, int64_t* out) {
  switch (s.kind) {
    case Scalar::kEmpty:
      *out = 0;
      return S_OK;
    case Scalar::kBool:
      *out = s.boolean ? -1 : 0;
      if (*out < lo) return DISP_E_OVERFLOW;
      return S_OK;
    case Scalar::kInteger:
      if (s.isUnsigned && s.integer < 0) return DISP_E_OVERFLOW;
      if (s.integer < lo || s.integer > hi) return DISP_E_OVERFLOW;
      *out = s.integer;
      return S_OK;
    case Scalar::kReal: {
      double r = std::nearbyint(s.real);
      // hi + 1 is a power of two and exact as a double, where hi itself may round up to it.
      if (!(r >= static_cast<double>(lo) && r < static_cast<double>(hi) + 1.0))
        return DISP_E_OVERFLOW;
      *out = static_cast<int64_t>(r);
      return S_OK;
    }
    case Scalar::kString: {
      Scalar parsed;
      HRESULT hr = parseNumber(s.text, &parsed);
      if (FAILED(hr)) return hr;
      return toInteger(parsed, lo, hi, out);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT toUnsigned64(const Scalar& s, uint64_t* out) {
  if (s.kind == Scalar::kInteger && s.isUnsigned) {
    *out = static_cast<uint64_t>(s.integer);
    return S_OK;
  }
  if (s.kind == Scalar::kReal) {
    double r = std::nearbyint(s.real);
    if (!(r >= 0 && r < 18446744073709551616.0)) return DISP_E_OVERFLOW;
    *out = static_cast<uint64_t>(r);
    return S_OK;
  }
  if (s.kind == Scalar::kString) {
    Scalar parsed;
    HRESULT hr = parseNumber(s.text, &parsed);
    if (FAILED(hr)) return hr;
    return toUnsigned64(parsed, out);
  }
  int64_t n = 0;
  HRESULT hr = toInteger(s, 0, INT64_MAX, &n);
  *out = static_cast<uint64_t>(n);
  return hr;
}

HRESULT toReal(const Scalar& s, double* out) {
  switch (s.kind) {
    case Scalar::kEmpty:
      *out = 0;
      return S_OK;
    case Scalar::kBool:
      *out = s.boolean ? -1 : 0;
      return S_OK;
    case Scalar::kInteger:
      *out = s.isUnsigned ? static_cast<double>(static_cast<uint64_t>(s.integer))
                          : static_cast<double>(s.integer);
      return S_OK;
    case Scalar::kReal:
      *out = s.real;
      return S_OK;
    case Scalar::kString: {
      Scalar parsed;
      HRESULT hr = parseNumber(s.text, &parsed);
      if (FAILED(hr)) return hr;
      return toReal(parsed, out);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT toBool(const Scalar& s, bool* out) {
  switch (s.kind) {
    case Scalar::kEmpty:
      *out = false;
      return S_OK;
    case Scalar::kBool:
      *out = s.boolean;
      return S_OK;
    case Scalar::kInteger:
      *out = s.integer != 0;
      return S_OK;
    case Scalar::kReal:
      *out = s.real != 0;
      return S_OK;
    case Scalar::kString: {
      Scalar parsed;
      HRESULT hr = parseNumber(s.text, &parsed);
      if (FAILED(hr)) return hr;
      return toBool(parsed, out);
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HRESULT toText(const Scalar& s, bool alphaBool, std::u16string* out) {
  char buf[64];
  switch (s.kind) {
    case Scalar::kEmpty:
      out->clear();
      return S_OK;
    case Scalar::kString:
      *out = s.text;
      return S_OK;
    case Scalar::kBool:
      if (alphaBool)
        std::snprintf(buf, sizeof buf, "%s", s.boolean ? "True" : "False");
      else
        std::snprintf(buf, sizeof buf, "%s", s.boolean ? "-1" : "0");
      break;
    case Scalar::kInteger:
      if (s.isUnsigned)
        std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(s.integer));
      else
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(s.integer));
      break;
    case Scalar::kReal:
      std::snprintf(buf, sizeof buf, "%.15G", s.real);
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  out->assign(buf, buf + std::strlen(buf));
  return S_OK;
}

}  // namespace

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt) {
  if (dest == nullptr || src == nullptr) return E_INVALIDARG;
  if (vt == src->vt) return VariantCopy(dest, src);
  Scalar value;
  if (!readScalar(src, &value)) return DISP_E_TYPEMISMATCH;
  if (value.kind == Scalar::kNull && vt != VT_NULL && vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;

  VARIANT result;
  VariantInit(&result);
  result.vt = vt;
  HRESULT hr = S_OK;
  int64_t n = 0;
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      break;
    case VT_I1:
      hr = toInteger(value, INT8_MIN, INT8_MAX, &n);
      result.cVal = static_cast<CHAR>(n);
      break;
    case VT_UI1:
      hr = toInteger(value, 0, UINT8_MAX, &n);
      result.bVal = static_cast<BYTE>(n);
      break;
    case VT_I2:
      hr = toInteger(value, INT16_MIN, INT16_MAX, &n);
      result.iVal = static_cast<SHORT>(n);
      break;
    case VT_UI2:
      hr = toInteger(value, 0, UINT16_MAX, &n);
      result.uiVal = static_cast<USHORT>(n);
      break;
    case VT_I4:
    case VT_INT:
      hr = toInteger(value, INT32_MIN, INT32_MAX, &n);
      result.lVal = static_cast<LONG>(n);
      break;
    case VT_UI4:
    case VT_UINT:
      hr = toInteger(value, 0, UINT32_MAX, &n);
      result.ulVal = static_cast<ULONG>(n);
      break;
    case VT_I8:
      hr = toInteger(value, INT64_MIN, INT64_MAX, &n);
      result.llVal = n;
      break;
    case VT_UI8:
      hr = toUnsigned64(value, &result.ullVal);
      break;
    case VT_R4: {
      double d = 0;
      hr = toReal(value, &d);
      if (SUCCEEDED(hr) && std::fabs(d) > std::numeric_limits<float>::max()) hr = DISP_E_OVERFLOW;
      result.fltVal = static_cast<float>(d);
      break;
    }
    case VT_R8:
      hr = toReal(value, &result.dblVal);
      break;
    case VT_BOOL: {
      bool b = false;
      hr = toBool(value, &b);
      result.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    }
    case VT_BSTR: {
      std::u16string text;
      hr = toText(value, (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) != 0, &text);
      if (SUCCEEDED(hr)) {
        result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (result.bstrVal == nullptr) hr = E_OUTOFMEMORY;
      }
      break;
    }
    default:
      hr = DISP_E_TYPEMISMATCH;
  }
  if (FAILED(hr)) return hr;
  VariantClear(dest);  // src's value is already held in `value`
  *dest = result;
  return S_OK;
}
