// An IVorlundMime that records every vtable call with its arguments and answers with canned
// results, so the dispatch layer can be checked slot by slot without the real object.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "component/IVorlundMime.h"
#include "component/MimeDispatch.h"

// The long a recorded method answers: different for every method, so a result taken from
// the wrong slot shows.
inline LONG cannedLong(const std::string& method) {
  uint32_t h = 2166136261u;
  for (char c : method) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return static_cast<LONG>(h & 0x7FFFFFFF);
}

inline std::string narrow(const char16_t* s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out.push_back(s[i] < 0x80 ? static_cast<char>(s[i]) : '?');
  return out;
}

class RecordingMime final : public IVorlundMime {
 public:
  struct Call {
    std::string method;
    std::vector<std::string> args;  // "B:text", "B:(null)", "L:42", "V:<vt>:<bits>", "M:<ptr>"
  };

  std::vector<Call> calls;
  HRESULT failWith = S_OK;          // returned by every method when set
  bool writeOutsOnFailure = false;  // a badly behaved member: results written, then a failure
  bool answerNullPart = false;      // GetPart answers a null pointer
  BSTR lastBstr = nullptr;          // the last string handed out (owned by the receiver)
  SAFEARRAY* lastArray = nullptr;   // the last byte array handed out
  ULONG refs = 1;                   // lives on the test's stack; never deleted by Release

  static std::string describe(const void* p) {
    if (p == nullptr) return "M:null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "M:%p", p);
    return buf;
  }

  // IUnknown
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    const bool known = riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IVorlundMime;
    *ppv = known ? static_cast<IVorlundMime*>(this) : nullptr;
    if (known) AddRef();
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }

  // IDispatch, as the real object has it: straight through the member table.
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT cNames, LCID, DISPID* ids) override {
    return mimeGetIDsOfNames(names, cNames, ids);
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override {
    return mimeInvoke(this, id, flags, params, result, excepInfo, argErr);
  }

#define REC_OUT(F, T) \
  HRESULT F(T* out) override { return answer(__func__, {}, out); }
#define REC_IN_OUT(F, TIn, TOut) \
  HRESULT F(TIn in, TOut* out) override { return answer(__func__, {arg(in)}, out); }
#define REC_IN(F, TIn) \
  HRESULT F(TIn in) override { return answer(__func__, {arg(in)}); }
#define REC_IN2(F) \
  HRESULT F(BSTR a, BSTR b) override { return answer(__func__, {arg(a), arg(b)}); }
#define REC_NONE(F) \
  HRESULT F() override { return answer(__func__, {}); }

  // One method a slot, in vtable order.
  // clang-format off
  REC_OUT(get_Version, BSTR) REC_IN_OUT(LoadMime, BSTR, LONG) REC_IN_OUT(LoadXmlFile, BSTR, LONG)
  REC_OUT(UnwrapSecurity, LONG) REC_IN_OUT(GetSignerCert, LONG, IVorlundCert*)
  REC_IN_OUT(GetEncryptCert, LONG, IVorlundCert*) REC_OUT(get_NumParts, LONG)
  REC_IN_OUT(GetPart, LONG, IVorlundMime*) REC_IN_OUT(GetHeaderField, BSTR, BSTR)
  REC_OUT(GetXml, BSTR) REC_IN_OUT(LoadXml, BSTR, LONG) REC_OUT(GetMime, BSTR)
  REC_IN_OUT(SaveXml, BSTR, LONG) REC_IN_OUT(SaveMime, BSTR, LONG)
  REC_IN_OUT(AddDetachedSignature, IVorlundCert*, LONG)
  REC_IN_OUT(ConvertToSigned, IVorlundCert*, LONG) REC_IN_OUT(Encrypt, IVorlundCert*, LONG)
  REC_IN_OUT(LoadMimeFile, BSTR, LONG) REC_IN2(SetHeaderField)
  REC_IN_OUT(SetBodyFromFile, BSTR, LONG) REC_IN2(SetBodyFromEncoded)
  REC_IN(SetBodyFromPlainText, BSTR) REC_IN(SetBodyFromXml, BSTR) REC_IN(SetBodyFromHtml, BSTR)
  REC_OUT(get_ContentType, BSTR) REC_IN(put_ContentType, BSTR) REC_OUT(get_Encoding, BSTR)
  REC_IN(put_Encoding, BSTR) REC_OUT(get_Disposition, BSTR) REC_IN(put_Disposition, BSTR)
  REC_OUT(get_Charset, BSTR) REC_IN(put_Charset, BSTR) REC_OUT(get_Filename, BSTR)
  REC_IN(put_Filename, BSTR) REC_OUT(get_Name, BSTR) REC_IN(put_Name, BSTR)
  REC_OUT(GetBodyDecoded, BSTR) REC_OUT(GetBodyEncoded, BSTR) REC_OUT(GetBodyBinary, VARIANT)
  REC_OUT(IsMultipart, LONG) REC_OUT(IsPlainText, LONG) REC_OUT(IsHtml, LONG) REC_OUT(IsXml, LONG)
  REC_OUT(IsSigned, LONG) REC_OUT(IsEncrypted, LONG) REC_OUT(IsMultipartMixed, LONG)
  REC_OUT(IsMultipartAlternative, LONG) REC_OUT(IsMultipartRelated, LONG)
  REC_OUT(IsAttachment, LONG) REC_OUT(IsText, LONG) REC_OUT(IsApplicationData, LONG)
  REC_OUT(IsImage, LONG) REC_OUT(IsAudio, LONG) REC_OUT(IsVideo, LONG)
  REC_IN_OUT(SaveBody, BSTR, LONG) REC_NONE(NewMultipartMixed) REC_NONE(NewMultipartRelated)
  REC_NONE(NewMultipartAlternative) REC_IN(AppendPart, IVorlundMime*)
  REC_IN_OUT(AppendPartFromFile, BSTR, LONG) REC_OUT(get_Protocol, BSTR) REC_IN(put_Protocol, BSTR)
  REC_OUT(get_Micalg, BSTR) REC_IN(put_Micalg, BSTR) REC_OUT(get_Boundary, BSTR)
  REC_IN(put_Boundary, BSTR) REC_OUT(get_UnwrapExtras, LONG) REC_IN(put_UnwrapExtras, LONG)
  REC_OUT(get_NumSignerCerts, LONG) REC_OUT(get_NumEncryptCerts, LONG)
  REC_IN_OUT(SaveLastError, BSTR, LONG) REC_IN(SetBodyFromBinary, VARIANT)
  REC_IN(SetCSP, IVorlundCSP*) REC_OUT(GetEntireHead, BSTR) REC_OUT(GetEntireBody, BSTR)
  REC_OUT(get_LastErrorHtml, BSTR) REC_OUT(get_LastErrorXml, BSTR) REC_OUT(get_LastErrorText, BSTR)
  REC_OUT(get_NumHeaderFields, LONG) REC_IN_OUT(GetHeaderFieldValue, LONG, BSTR)
  REC_IN_OUT(GetHeaderFieldName, LONG, BSTR) REC_IN(RemovePart, LONG)
  REC_IN(NewMessageRfc822, IVorlundMime*) REC_OUT(ContainsEncryptedParts, LONG)
  REC_OUT(ContainsSignedParts, LONG)
  // clang-format on

#undef REC_OUT
#undef REC_IN_OUT
#undef REC_IN
#undef REC_IN2
#undef REC_NONE

                                                                                          private
      : static std::string arg(BSTR s) {
    return s == nullptr ? "B:(null)" : "B:" + narrow(s, SysStringLen(s));
  }
  static std::string arg(LONG n) { return "L:" + std::to_string(n); }
  static std::string arg(const void* p) { return describe(p); }
  static std::string arg(const VARIANT& v) {
    return "V:" + std::to_string(v.vt) + ":" + std::to_string(v.ullVal);
  }

  void fill(const char* method, BSTR* out) {
    std::string name(method);
    *out = lastBstr = SysAllocStringLen(std::u16string(name.begin(), name.end()).c_str(),
                                        static_cast<UINT>(name.size()));
  }
  void fill(const char* method, LONG* out) { *out = cannedLong(method); }
  void fill(const char*, VARIANT* out) {
    VariantInit(out);
    out->vt = VT_ARRAY | VT_UI1;
    out->parray = lastArray = SafeArrayCreateVector(VT_UI1, 0, 3);
  }
  void fill(const char*, IVorlundMime** out) {
    *out = answerNullPart ? nullptr : this;
    if (*out != nullptr) AddRef();
  }
  void fill(const char*, IVorlundCert** out) { *out = nullptr; }

  HRESULT answer(const char* method, std::vector<std::string> args) {
    calls.push_back({method, std::move(args)});
    return failWith;
  }
  template <typename Out>
  HRESULT answer(const char* method, std::vector<std::string> args, Out* out) {
    HRESULT hr = answer(method, std::move(args));
    if (SUCCEEDED(hr) || writeOutsOnFailure) fill(method, out);
    return hr;
  }
};
