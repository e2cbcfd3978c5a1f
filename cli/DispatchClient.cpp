#include "cli/DispatchClient.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "cli/ComponentModule.h"
#include "foundation/Conversion.h"
#include "foundation/StringBuffer.h"
#include "platform/CodePage.h"
#include "platform/ComActivation.h"

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    VariantClear(&v_);
    v_ = other.v_;
    VariantInit(&other.v_);
  }
  return *this;
}

Variant Variant::text(const std::string& bytes, int32_t codePage) {
  Variant v;
  v.v_.vt = VT_BSTR;
  v.v_.bstrVal = bstrFromCodePage(codePage, bytes.data(), static_cast<uint32_t>(bytes.size()));
  return v;
}

Variant Variant::number(LONG n) {
  Variant v;
  v.v_.vt = VT_I4;
  v.v_.lVal = n;
  return v;
}

std::string bytesFromBstr(BSTR s, int32_t codePage) {
  StringBuffer sb;
  appendBstrInCodePage(s, codePage, sb);
  return std::string(sb.getString(), sb.getSize());
}

size_t utf8SequenceAt(const std::string& bytes, size_t i, uint32_t& cp) {
  char32_t c = 0;
  const size_t n =
      utf8CharAt(reinterpret_cast<const unsigned char*>(bytes.data()) + i, bytes.size() - i, &c);
  cp = static_cast<uint32_t>(c);
  return n;
}

bool isValidUtf8(const std::string& bytes) {
  uint32_t cp = 0;
  for (size_t i = 0, n; i < bytes.size(); i += n)
    if ((n = utf8SequenceAt(bytes, i, cp)) == 0) return false;
  return true;
}

std::string utf8FromAnsiOrUtf8(const std::string& bytes) {
  if (isValidUtf8(bytes)) return bytes;
  StringBuffer sb;
  convertCodePageSb(ansiCodePage(), CP_UTF8, bytes.data(), static_cast<uint32_t>(bytes.size()), sb);
  return std::string(sb.getString(), sb.getSize());
}

std::string describeDispatchError(HRESULT hr, const std::string& member) {
  switch (hr) {
    case DISP_E_UNKNOWNNAME:
      return "no member named '" + member + "'";
    case DISP_E_MEMBERNOTFOUND:
      return "'" + member + "' is not a method or a property that can be read";
    case DISP_E_BADPARAMCOUNT:
    case DISP_E_PARAMNOTFOUND:
      return "wrong number of arguments for '" + member + "'";
    case DISP_E_TYPEMISMATCH:
    case DISP_E_OVERFLOW:
      return "an argument of '" + member + "' has the wrong type or is out of range";
    case E_OUTOFMEMORY:
      return "out of memory calling '" + member + "'";
    default: {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
      return "calling '" + member + "' failed with " + code;
    }
  }
}

DispatchClient::~DispatchClient() {
  if (object_ != nullptr) object_->Release();
}

DispatchClient::DispatchClient(DispatchClient&& other) noexcept
    : object_(std::exchange(other.object_, nullptr)), ids_(std::move(other.ids_)) {}

DispatchClient& DispatchClient::operator=(DispatchClient&& other) noexcept {
  if (this != &other) {
    if (object_ != nullptr) object_->Release();
    object_ = std::exchange(other.object_, nullptr);
    ids_ = std::move(other.ids_);
  }
  return *this;
}

// As a script host does: the class from the ProgID, the object from the module registered
// for it. The module is registered first if it is not yet.
DispatchClient DispatchClient::createMime(std::string& error, FILE* notices) {
  return create(kMimeProgId, error, notices);
}

DispatchClient DispatchClient::create(const char* progId, std::string& error, FILE* notices) {
  const std::string what = std::strcmp(progId, kMimeProgId) == 0 ? "the Mime object" : progId;
  if (!ensureComponentRegistered(notices, error)) {
    error = "cannot create " + what + ": " + error;
    return DispatchClient(nullptr);
  }
  const std::u16string wide(progId, progId + std::strlen(progId));
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(wide.c_str(), &clsid);
  void* object = nullptr;
  if (SUCCEEDED(hr))
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object);
  if (FAILED(hr) || object == nullptr) {
    error = "cannot create " + (what == progId ? what : what + " " + progId) + " (" +
            describeHresult(hr) + ")";
    return DispatchClient(nullptr);
  }
  return DispatchClient(static_cast<IDispatch*>(object));
}

HRESULT DispatchClient::dispIdOf(const std::string& member, DISPID& id) {
  for (const auto& [name, known] : ids_)
    if (name == member) {
      id = known;
      return S_OK;
    }
  // Member names are ASCII; anything else cannot name a member.
  std::u16string wide;
  for (const char c : member) {
    if (static_cast<unsigned char>(c) >= 0x80) return DISP_E_UNKNOWNNAME;
    wide.push_back(static_cast<char16_t>(c));
  }
  LPOLESTR names[1] = {wide.data()};
  const HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (SUCCEEDED(hr)) ids_.emplace_back(member, id);
  return hr;
}

HRESULT DispatchClient::call(const std::string& member, std::vector<Variant>& args, Variant& result,
                             int* argErr) {
  if (object_ == nullptr) return E_POINTER;
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = dispIdOf(member, id);
  if (FAILED(hr)) return hr;
  // IDispatch takes the arguments last first.
  std::vector<VARIANTARG> reversed(args.size());
  for (size_t i = 0; i < args.size(); ++i) reversed[args.size() - 1 - i] = *args[i];
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                    static_cast<UINT>(reversed.size()), 0};
  UINT badArg = 0;
  VariantClear(result.get());
  // A script host does not know a property from a method; neither does this one.
  hr = object_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params,
                       result.get(), nullptr, &badArg);
  if (argErr != nullptr && badArg < args.size())
    *argErr = static_cast<int>(args.size() - 1 - badArg);
  return hr;
}

HRESULT DispatchClient::put(const std::string& member, Variant& value) {
  if (object_ == nullptr) return E_POINTER;
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = dispIdOf(member, id);
  if (FAILED(hr)) return hr;
  VARIANTARG arg = *value;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{&arg, &named, 1, 1};
  UINT badArg = 0;
  return object_->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, &badArg);
}

bool DispatchClient::callLong(const std::string& member, std::vector<Variant> args, LONG& out) {
  Variant result;
  if (FAILED(call(member, args, result)) || result.type() != VT_I4) return false;
  out = (*result).lVal;
  return true;
}

bool DispatchClient::callText(const std::string& member, std::vector<Variant> args,
                              int32_t codePage, std::string& out) {
  Variant result;
  if (FAILED(call(member, args, result)) || result.type() != VT_BSTR) return false;
  out = bytesFromBstr((*result).bstrVal, codePage);
  return true;
}

DispatchClient DispatchClient::getPart(LONG index) {
  std::vector<Variant> args;
  args.push_back(Variant::number(index));
  Variant result;
  if (FAILED(call("GetPart", args, result)) || result.type() != VT_DISPATCH ||
      (*result).pdispVal == nullptr)
    return DispatchClient(nullptr);
  IDispatch* part = (*result).pdispVal;
  part->AddRef();  // the variant's reference goes with it
  return DispatchClient(part);
}

bool bytesFromArray(const VARIANT& v, std::string& out) {
  out.clear();
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) return true;
  if (v.vt != (VT_ARRAY | VT_UI1) || v.parray == nullptr) return false;
  SAFEARRAY* array = v.parray;
  LONG lower = 0, upper = -1;
  if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array, 1, &upper)))
    return false;
  if (upper < lower) return true;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return false;
  out.assign(static_cast<const char*>(data), static_cast<size_t>(upper - lower) + 1);
  SafeArrayUnaccessData(array);
  return true;
}

bool DispatchClient::callBytes(const std::string& member, std::string& out) {
  std::vector<Variant> args;
  Variant result;
  return SUCCEEDED(call(member, args, result)) && bytesFromArray(*result, out);
}

std::string DispatchClient::lastErrorText() {
  std::string text;
  if (!callText("LastErrorText", {}, ansiCodePage(), text)) return std::string();
  return text;
}
