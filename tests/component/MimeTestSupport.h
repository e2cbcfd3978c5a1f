// Helpers for driving Mime objects the way a host does: through the vtable, with BSTRs in and
// out, and references released when a test is done with them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "component/IVorlundMime.h"
#include "component/ObjectFactory.h"
#include "foundation/XString.h"

// A BSTR made from UTF-8 text, freed at the end of its scope.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const std::string& utf8) {
    XString x;
    x.setFromUtf8(utf8.c_str());
    s_ = x.createBSTR();
  }
  ~Bstr() { SysFreeString(s_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  operator BSTR() const { return s_; }
  // The slot for an out-parameter; what it held before is freed.
  BSTR* out() {
    SysFreeString(s_);
    s_ = nullptr;
    return &s_;
  }
  std::string utf8() const {
    XString x;
    x.setFromBSTR(s_);
    return x.getUtf8();
  }

 private:
  BSTR s_ = nullptr;
};

// One reference on a Mime object: a new one, or one adopted from GetPart.
class MimeRef {
 public:
  MimeRef() {
    void* p = nullptr;
    EXPECT_EQ(createVorlundMimeObject(IID_IVorlundMime, &p), S_OK);
    p_ = static_cast<IVorlundMime*>(p);
  }
  explicit MimeRef(IVorlundMime* adopted) : p_(adopted) {}
  ~MimeRef() { reset(); }
  MimeRef(const MimeRef&) = delete;
  MimeRef& operator=(const MimeRef&) = delete;

  IVorlundMime* operator->() const { return p_; }
  IVorlundMime* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }

 private:
  IVorlundMime* p_ = nullptr;
};

using StringGetter = HRESULT (IVorlundMime::*)(BSTR*);
using LongGetter = HRESULT (IVorlundMime::*)(LONG*);

// A string result as UTF-8; it must never be a null BSTR.
inline std::string str(const MimeRef& m, StringGetter getter) {
  Bstr out;
  EXPECT_EQ((m.get()->*getter)(out.out()), S_OK);
  EXPECT_NE(static_cast<BSTR>(out), nullptr);
  return out.utf8();
}
inline long num(const MimeRef& m, LongGetter getter) {
  LONG v = -1;
  EXPECT_EQ((m.get()->*getter)(&v), S_OK);
  return v;
}
inline void put(const MimeRef& m, HRESULT (IVorlundMime::*setter)(BSTR), const std::string& v) {
  EXPECT_EQ((m.get()->*setter)(Bstr(v)), S_OK);
}

inline std::string mimeOf(const MimeRef& m) { return str(m, &IVorlundMime::GetMime); }
inline std::string errorText(const MimeRef& m) { return str(m, &IVorlundMime::get_LastErrorText); }
inline std::string errorXml(const MimeRef& m) { return str(m, &IVorlundMime::get_LastErrorXml); }
inline std::string contentType(const MimeRef& m) { return str(m, &IVorlundMime::get_ContentType); }
inline std::string charsetOf(const MimeRef& m) { return str(m, &IVorlundMime::get_Charset); }
inline std::string encodingOf(const MimeRef& m) { return str(m, &IVorlundMime::get_Encoding); }
inline long numParts(const MimeRef& m) { return num(m, &IVorlundMime::get_NumParts); }

inline std::string header(const MimeRef& m, const std::string& name) {
  Bstr out;
  EXPECT_EQ(m->GetHeaderField(Bstr(name), out.out()), S_OK);
  return out.utf8();
}
inline void setHeader(const MimeRef& m, const std::string& name, const std::string& value) {
  EXPECT_EQ(m->SetHeaderField(Bstr(name), Bstr(value)), S_OK);
}
inline long loadMime(const MimeRef& m, const std::string& mime) {
  LONG ok = -1;
  EXPECT_EQ(m->LoadMime(Bstr(mime), &ok), S_OK);
  return ok;
}
// A member with a file name and a success flag.
inline long withFile(const MimeRef& m, HRESULT (IVorlundMime::*member)(BSTR, LONG*),
                     const std::string& path) {
  LONG ok = -1;
  EXPECT_EQ((m.get()->*member)(Bstr(path), &ok), S_OK);
  return ok;
}

// The part object GetPart gives (adopt it with MimeRef), or null.
inline IVorlundMime* partOf(const MimeRef& m, LONG index) {
  IVorlundMime* p = reinterpret_cast<IVorlundMime*>(1);
  EXPECT_EQ(m->GetPart(index, &p), S_OK);
  return p;
}

// The body bytes as GetBodyBinary hands them out; VT_NULL gives "".
inline std::string bodyBytes(const MimeRef& m) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(m->GetBodyBinary(&v), S_OK);
  std::string bytes;
  if (v.vt == (VT_ARRAY | VT_UI1))
    bytes.assign(static_cast<const char*>(v.parray->pvData), v.parray->rgsabound[0].cElements);
  else
    EXPECT_EQ(v.vt, VT_NULL);
  VariantClear(&v);
  return bytes;
}

// Calls a member by its name, as a script does, with `arg` (left to the caller) as its one
// argument when given; a put names its value DISPID_PROPERTYPUT.
inline HRESULT invokeByName(IDispatch* d, const char16_t* name, WORD flags, VARIANT* arg,
                            VARIANT* result) {
  DISPID id = 0, put = DISPID_PROPERTYPUT;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, 0, &id); FAILED(hr)) return hr;
  const bool putting = flags == DISPATCH_PROPERTYPUT;
  DISPPARAMS params{arg, putting ? &put : nullptr, arg != nullptr ? 1u : 0u, putting ? 1u : 0u};
  if (result != nullptr) VariantInit(result);
  return d->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
}
// The same with a string argument.
inline HRESULT invokeByName(IDispatch* d, const char16_t* name, WORD flags, const char16_t* text,
                            VARIANT* result) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  const HRESULT hr = invokeByName(d, name, flags, &v, result);
  VariantClear(&v);
  return hr;
}

inline std::string twoPartMessage() {
  return "Subject: two parts\r\n"
         "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
         "--XX\r\nContent-Type: text/plain\r\n\r\nfirst body\r\n"
         "--XX\r\nContent-Type: text/html\r\n\r\n<p>second</p>\r\n"
         "--XX--\r\n";
}
