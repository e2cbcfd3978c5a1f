#include "foundation/VariantData.h"

#include <cstring>

#include "foundation/Memory.h"
#include "platform/Com.h"

namespace {

// A chain of objects answering each other as their default property must not loop forever.
constexpr int kMaxIndirections = 8;

const unsigned char* arrayData(SAFEARRAY* array, uint32_t& size) {
  size = 0;
  if (array == nullptr) return nullptr;
  uint64_t total = SafeArrayGetElemsize(array);
  const UINT dims = SafeArrayGetDim(array);
  for (UINT d = 1; d <= dims; ++d) {
    LONG lo = 0;
    LONG hi = -1;
    SafeArrayGetLBound(array, d, &lo);
    SafeArrayGetUBound(array, d, &hi);
    const int64_t count = static_cast<int64_t>(hi) - lo + 1;
    total *= count > 0 ? static_cast<uint64_t>(count) : 0;
  }
  void* data = nullptr;
  if (total == 0 || total > 0xFFFFFFFFULL || FAILED(SafeArrayAccessData(array, &data)))
    return nullptr;
  // The caller reads the bytes while the VARIANT lives; the lock is not kept.
  SafeArrayUnaccessData(array);
  size = static_cast<uint32_t>(total);
  return static_cast<const unsigned char*>(data);
}

const unsigned char* read(const VARIANT* v, uint32_t& size, bool& mustFree, int depth);

// The default property of an object, read like any other VARIANT. Its value dies with this
// call, so the bytes are handed out as a copy the caller frees.
const unsigned char* fromObject(IDispatch* object, uint32_t& size, bool& mustFree, int depth) {
  if (object == nullptr || depth >= kMaxIndirections) return nullptr;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  if (FAILED(object->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result,
                            nullptr, nullptr)))
    return nullptr;
  bool innerFree = false;
  const unsigned char* bytes = read(&result, size, innerFree, depth + 1);
  unsigned char* copy = nullptr;
  if (bytes != nullptr && size > 0) {
    copy = static_cast<unsigned char*>(vorlundAlloc(size + 2));
    std::memcpy(copy, bytes, size);
    copy[size] = copy[size + 1] = 0;
    mustFree = true;
  } else {
    size = 0;
  }
  if (innerFree) vorlundFree(const_cast<unsigned char*>(bytes));
  VariantClear(&result);
  return copy;
}

const unsigned char* read(const VARIANT* v, uint32_t& size, bool& mustFree, int depth) {
  size = 0;
  mustFree = false;
  if (v == nullptr) return nullptr;
  const VARTYPE vt = v->vt;
  if (vt & VT_ARRAY) return arrayData((vt & VT_BYREF) ? *v->pparray : v->parray, size);
  if (vt == (VT_VARIANT | VT_BYREF)) {
    if (v->pvarVal == nullptr || depth >= kMaxIndirections) return nullptr;
    return read(v->pvarVal, size, mustFree, depth + 1);
  }
  const bool byRef = (vt & VT_BYREF) != 0;
  switch (vt & ~VT_BYREF) {
    case VT_UI1:
      size = 1;
      return byRef ? v->pbVal : &v->bVal;
    case VT_I2:
      size = 2;
      return reinterpret_cast<const unsigned char*>(byRef ? v->piVal : &v->iVal);
    case VT_BOOL:
      size = 2;
      return reinterpret_cast<const unsigned char*>(byRef ? v->pboolVal : &v->boolVal);
    case VT_I4:
      size = 4;
      return reinterpret_cast<const unsigned char*>(byRef ? v->plVal : &v->lVal);
    case VT_R4:
      size = 4;
      return reinterpret_cast<const unsigned char*>(byRef ? v->pfltVal : &v->fltVal);
    case VT_R8:
      size = 8;
      return reinterpret_cast<const unsigned char*>(byRef ? v->pdblVal : &v->dblVal);
    case VT_BSTR: {
      BSTR s = byRef ? (v->pbstrVal != nullptr ? *v->pbstrVal : nullptr) : v->bstrVal;
      const UINT n = s != nullptr ? SysStringByteLen(s) : 0;
      if (n == 0) return nullptr;
      auto* copy = static_cast<unsigned char*>(vorlundAlloc(n + 2));
      std::memcpy(copy, s, n);
      copy[n] = copy[n + 1] = 0;
      size = n;
      mustFree = true;
      return copy;
    }
    case VT_DISPATCH: {
      IDispatch* object = byRef ? (v->ppdispVal != nullptr ? *v->ppdispVal : nullptr) : v->pdispVal;
      return fromObject(object, size, mustFree, depth);
    }
    default:
      return nullptr;
  }
}

}  // namespace

const unsigned char* getVariantData(const VARIANT* v, uint32_t& size, bool& mustFree) {
  return read(v, size, mustFree, 0);
}
