#include "siblings/SiblingDispatch.h"

namespace {

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

bool sameName(const char16_t* a, const char16_t* b) {
  for (; *a != 0 && *b != 0; ++a, ++b)
    if (lower(*a) != lower(*b)) return false;
  return *a == *b;
}

const SiblingMember* find(const SiblingTable& t, DISPID id, WORD flags) {
  for (size_t i = 0; i < t.count; ++i)
    if (t.members[i].dispId == id && (t.members[i].kind & flags) != 0) return &t.members[i];
  return nullptr;
}

}  // namespace

HRESULT siblingGetIDsOfNames(const SiblingTable& table, LPOLESTR* names, UINT cNames, DISPID* ids) {
  if (names == nullptr || ids == nullptr || cNames == 0) return E_INVALIDARG;
  HRESULT hr = S_OK;
  for (UINT n = 0; n < cNames; ++n) ids[n] = DISPID_UNKNOWN;
  for (size_t i = 0; names[0] != nullptr && i < table.count; ++i) {
    if (sameName(table.members[i].name, names[0])) {
      ids[0] = table.members[i].dispId;
      break;
    }
  }
  for (UINT n = 0; n < cNames; ++n)
    if (ids[n] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  return hr;
}

HRESULT siblingInvoke(const SiblingTable& table, void* self, DISPID id, WORD flags,
                      DISPPARAMS* params, VARIANT* result, UINT* argErr) {
  const SiblingMember* m = find(table, id, flags);
  if (m == nullptr) return DISP_E_MEMBERNOTFOUND;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  if (params == nullptr) params = &none;
  const bool put = m->kind == DISPATCH_PROPERTYPUT;
  if (put ? (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
          : params->cNamedArgs != 0)
    return put ? DISP_E_PARAMNOTFOUND : DISP_E_NONAMEDARGS;
  if (params->cArgs != UINT(m->argCount)) return DISP_E_BADPARAMCOUNT;
  SiblingArgs args;
  VARIANT owned[kMaxSiblingArgs];
  for (VARIANT& v : owned) VariantInit(&v);
  HRESULT hr = S_OK;
  for (int i = 0; i < m->argCount && SUCCEEDED(hr); ++i) {
    VARIANT* given = &params->rgvarg[m->argCount - 1 - i];
    const VARTYPE want = m->args[i] == SiblingType::kBstr ? VT_BSTR : VT_I4;
    hr = VariantChangeType(&owned[i], given, 0, want);
    if (FAILED(hr)) {
      if (argErr != nullptr) *argErr = UINT(m->argCount - 1 - i);
    } else if (want == VT_BSTR) {
      args.bstr[i] = owned[i].bstrVal;
    } else {
      args.lng[i] = owned[i].lVal;
    }
  }
  SiblingResult r;
  if (SUCCEEDED(hr)) hr = m->call(self, args, &r);
  for (VARIANT& v : owned) VariantClear(&v);
  if (FAILED(hr) || result == nullptr) {
    SysFreeString(r.bstr);
    if (r.object != nullptr) r.object->Release();
    return FAILED(hr) ? hr : S_OK;
  }
  VariantInit(result);
  switch (m->result) {
    case SiblingType::kBstr:
      result->vt = VT_BSTR;
      result->bstrVal = r.bstr;
      break;
    case SiblingType::kLong:
      result->vt = VT_I4;
      result->lVal = r.lng;
      break;
    case SiblingType::kPointer:
      result->vt = VT_I8;
      result->llVal = r.pointer;
      break;
    case SiblingType::kObject:
      result->vt = VT_DISPATCH;
      result->pdispVal = r.object;
      break;
    case SiblingType::kNone:
      break;
  }
  return S_OK;
}
