// IDispatch for the Mime object: the OLE Automation invoke protocol and the coercion of
// script arguments to the types of the vtable methods.
#include "component/MimeDispatch.h"

namespace {

// A script may hand over a reference to a variant that holds the value (VT_BYREF |
// VT_VARIANT, possibly several deep); null for a broken or absurdly deep chain.
const VARIANT* innermost(const VARIANT* v) {
  for (int depth = 0; depth < 16; ++depth) {
    if (v->vt != (VT_BYREF | VT_VARIANT)) return v;
    if (v->pvarVal == nullptr) return nullptr;
    v = v->pvarVal;
  }
  return nullptr;
}

// The coerced arguments of one call, and what coercion allocated for them.
class CallArgs {
 public:
  CallArgs() = default;
  ~CallArgs() {
    for (int i = 0; i < kMaxMimeArgs; ++i) {
      if (owned_[i].vt != VT_EMPTY) VariantClear(&owned_[i]);
      if (values_[i].mime != nullptr) values_[i].mime->Release();
      if (values_[i].cert != nullptr) values_[i].cert->Release();
      if (values_[i].csp != nullptr) values_[i].csp->Release();
    }
  }
  CallArgs(const CallArgs&) = delete;
  CallArgs& operator=(const CallArgs&) = delete;

  HRESULT coerce(int i, MimeValueType type, VARIANTARG* given) {
    switch (type) {
      case MimeValueType::kBstr:
        return coerceBstr(i, given);
      case MimeValueType::kLong:
        return coerceLong(i, given);
      case MimeValueType::kVariant:
        values_[i].variant = given;
        return S_OK;
      case MimeValueType::kMime:
        return coerceObject(given, IID_IVorlundMime, reinterpret_cast<void**>(&values_[i].mime));
      case MimeValueType::kCsp:
        return coerceObject(given, IID_IVorlundCSP, reinterpret_cast<void**>(&values_[i].csp));
      case MimeValueType::kCert:
        return coerceObject(given, IID_IVorlundCert, reinterpret_cast<void**>(&values_[i].cert));
      case MimeValueType::kNone:
        break;
    }
    return DISP_E_BADVARTYPE;
  }

  const MimeArgValue* values() const { return values_; }

 private:
  HRESULT coerceBstr(int i, const VARIANT* given) {
    const VARIANT* v = innermost(given);
    if (v == nullptr) return DISP_E_TYPEMISMATCH;
    // A string already is one; only other types need a converted copy.
    if (v->vt == VT_BSTR) {
      values_[i].bstr = v->bstrVal;
      return S_OK;
    }
    if (v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal != nullptr) {
      values_[i].bstr = *v->pbstrVal;
      return S_OK;
    }
    HRESULT hr = VariantChangeType(&owned_[i], v, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    values_[i].bstr = owned_[i].bstrVal;
    return S_OK;
  }

  HRESULT coerceLong(int i, const VARIANT* given) {
    const VARIANT* v = innermost(given);
    if (v == nullptr) return DISP_E_TYPEMISMATCH;
    if (v->vt == VT_I4) {
      values_[i].lng = v->lVal;
      return S_OK;
    }
    HRESULT hr = VariantChangeType(&owned_[i], v, 0, VT_I4);
    if (FAILED(hr)) return hr;
    values_[i].lng = owned_[i].lVal;
    return S_OK;
  }

  // Any object answering `iid`; nothing at all is a null argument, which the member reports
  // in its own log.
  HRESULT coerceObject(const VARIANT* given, REFIID iid, void** slot) {
    const VARIANT* v = innermost(given);
    if (v == nullptr) return DISP_E_TYPEMISMATCH;
    IUnknown* object = nullptr;
    switch (v->vt) {
      case VT_EMPTY:
      case VT_NULL:
        return S_OK;
      case VT_DISPATCH:
        object = v->pdispVal;
        break;
      case VT_UNKNOWN:
        object = v->punkVal;
        break;
      case VT_BYREF | VT_DISPATCH:
        if (v->ppdispVal == nullptr) return DISP_E_TYPEMISMATCH;
        object = *v->ppdispVal;
        break;
      case VT_BYREF | VT_UNKNOWN:
        if (v->ppunkVal == nullptr) return DISP_E_TYPEMISMATCH;
        object = *v->ppunkVal;
        break;
      default:
        return DISP_E_TYPEMISMATCH;
    }
    if (object == nullptr) return S_OK;
    if (FAILED(object->QueryInterface(iid, slot)) || *slot == nullptr) return DISP_E_TYPEMISMATCH;
    return S_OK;
  }

  MimeArgValue values_[kMaxMimeArgs];
  VARIANT owned_[kMaxMimeArgs]{};  // converted copies; VT_EMPTY where the given value served
};

void discard(MimeResultValue* r) {
  SysFreeString(r->bstr);
  VariantClear(&r->variant);
  if (r->mime != nullptr) r->mime->Release();
  if (r->cert != nullptr) r->cert->Release();
}

// Hands what the member returned to the caller's VARIANT, or frees it when there is none.
void deliver(MimeValueType type, MimeResultValue* r, VARIANT* result) {
  if (result == nullptr) {
    discard(r);
    return;
  }
  switch (type) {
    case MimeValueType::kNone:
      break;
    case MimeValueType::kBstr:
      result->vt = VT_BSTR;
      result->bstrVal = r->bstr;
      break;
    case MimeValueType::kLong:
      result->vt = VT_I4;
      result->lVal = r->lng;
      break;
    case MimeValueType::kVariant:
      *result = r->variant;
      break;
    case MimeValueType::kMime:
      // A null part is still an object-typed result, as a script expects of GetPart.
      result->vt = VT_DISPATCH;
      result->pdispVal = r->mime;
      break;
    case MimeValueType::kCert:
      result->vt = VT_DISPATCH;
      result->pdispVal = r->cert;
      break;
    case MimeValueType::kCsp:
      break;
  }
}

// The named-argument rules: a put takes its value as DISPID_PROPERTYPUT and nothing else
// is named, since the members have no optional parameters to name.
HRESULT checkNamedArgs(const MimeMember& m, const DISPPARAMS& params, UINT* argErr) {
  if (m.kind != MimeMemberKind::kPropPut) return params.cNamedArgs == 0 ? S_OK : DISP_E_NONAMEDARGS;
  if (params.cNamedArgs == 0) return DISP_E_PARAMNOTFOUND;
  if (params.cNamedArgs > 1) return DISP_E_NONAMEDARGS;
  if (params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
    if (argErr != nullptr) *argErr = 0;
    return DISP_E_PARAMNOTFOUND;
  }
  return S_OK;
}

}  // namespace

HRESULT mimeGetIDsOfNames(LPOLESTR* names, UINT cNames, DISPID* dispIds) {
  if (names == nullptr || dispIds == nullptr || cNames == 0) return E_INVALIDARG;
  const MimeMember* m = findMimeMember(names[0]);
  dispIds[0] = m != nullptr ? m->dispId : DISPID_UNKNOWN;
  HRESULT hr = m != nullptr ? S_OK : DISP_E_UNKNOWNNAME;
  // Parameter names: no member's parameters are known by name.
  for (UINT i = 1; i < cNames; ++i) {
    dispIds[i] = DISPID_UNKNOWN;
    hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT mimeInvoke(IVorlundMime* self, DISPID dispId, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* /*excepInfo*/, UINT* argErr) {
  if (self == nullptr) return E_POINTER;
  if (params == nullptr || (params->cArgs > 0 && params->rgvarg == nullptr) ||
      (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr) ||
      params->cNamedArgs > params->cArgs)
    return E_INVALIDARG;

  const MimeMember* m = findMimeMember(dispId, flags);
  if (m == nullptr) return DISP_E_MEMBERNOTFOUND;
  HRESULT hr = checkNamedArgs(*m, *params, argErr);
  if (FAILED(hr)) return hr;
  // A put has no result; for everything else the caller sees VT_EMPTY unless a value comes.
  if (m->kind == MimeMemberKind::kPropPut) result = nullptr;
  if (result != nullptr) VariantInit(result);
  if (params->cArgs != static_cast<UINT>(m->argCount)) return DISP_E_BADPARAMCOUNT;

  CallArgs args;
  for (int i = 0; i < m->argCount; ++i) {
    UINT slot = params->cArgs - 1 - static_cast<UINT>(i);  // rgvarg runs last to first
    hr = args.coerce(i, m->args[i], &params->rgvarg[slot]);
    if (FAILED(hr)) {
      if (argErr != nullptr) *argErr = slot;
      return hr;
    }
  }

  MimeResultValue returned;
  hr = m->call(self, args.values(), &returned);
  if (FAILED(hr)) {
    discard(&returned);
    return hr;
  }
  deliver(m->result, &returned, result);
  return hr;
}
