// walk_parts: a host program of its own, as any program on the machine would be. It creates
// the Mime object by its ProgID, loads a message and walks its parts through IDispatch,
// calling members by name as a script does, and prints one line per part:
//
//   <part number>  <content type>  [filename="..."]  <bytes> bytes   (a leaf)
//   <part number>  <content type>  <n> parts                         (a container)
//
// Part numbers are those of IMAP: the message is "1", its parts "1.1", "1.2" ... The class
// must be registered first (vormime register).
//
//   walk_parts [FILE]       FILE defaults to examples/sample.eml
#include <cstdio>
#include <string>
#include <vector>

#include "component/IVorlundMime.h"
#include "platform/ComActivation.h"

namespace {

std::u16string utf16(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
    i += extra + 1;
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

// Most string properties (ContentType, Filename ...) give their text in the ANSI form: the
// bytes the object holds, read in the system's ANSI code page, Windows-1252 unless
// VORLUND_ACP says otherwise. Turning the text back into those bytes gives what the
// message carried: here, UTF-8.
std::string ansiBytes(BSTR s) {
  static const char16_t k80to9F[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  for (UINT i = 0; i < SysStringLen(s); ++i) {
    const char16_t c = s[i];
    int byte = c < 0x80 ? c : -1;
    for (int k = 0; k < 32 && byte < 0; ++k)
      if (k80to9F[k] == c) byte = 0x80 + k;
    if (byte < 0) byte = c < 0x100 ? c : '?';
    out += static_cast<char>(byte);
  }
  return out;
}

// Calls a member by name with the arguments in declaration order; the result in *result.
HRESULT call(IDispatch* object, const char16_t* member, std::vector<VARIANT> args,
             VARIANT* result) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(member)};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());  // IDispatch takes them last first
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                    static_cast<UINT>(reversed.size()), 0};
  VariantInit(result);
  return object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, result,
                        nullptr, nullptr);
}

std::string text(IDispatch* object, const char16_t* property) {
  VARIANT v;
  std::string out;
  if (SUCCEEDED(call(object, property, {}, &v)) && v.vt == VT_BSTR) out = ansiBytes(v.bstrVal);
  VariantClear(&v);
  return out;
}

LONG number(IDispatch* object, const char16_t* member) {
  VARIANT v;
  LONG out = 0;
  if (SUCCEEDED(call(object, member, {}, &v)) && v.vt == VT_I4) out = v.lVal;
  VariantClear(&v);
  return out;
}

// The bytes of the part's decoded body, from the byte array GetBodyBinary returns.
LONG bodySize(IDispatch* part) {
  VARIANT v;
  LONG size = 0;
  if (SUCCEEDED(call(part, u"GetBodyBinary", {}, &v)) && v.vt == (VT_ARRAY | VT_UI1)) {
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(v.parray, 1, &lower);
    SafeArrayGetUBound(v.parray, 1, &upper);
    size = upper - lower + 1;
  }
  VariantClear(&v);
  return size;
}

bool walk(IDispatch* part, const std::string& number_) {
  std::string line = number_ + "  " + text(part, u"ContentType");
  const LONG count = number(part, u"NumParts");
  if (count > 0) {
    std::printf("%s  %d parts\n", line.c_str(), static_cast<int>(count));
    for (LONG i = 0; i < count; ++i) {
      VARIANT index;
      VariantInit(&index);
      index.vt = VT_I4;
      index.lVal = i;
      VARIANT child;
      if (FAILED(call(part, u"GetPart", {index}, &child)) || child.vt != VT_DISPATCH ||
          child.pdispVal == nullptr) {
        std::fprintf(stderr, "walk_parts: GetPart(%d) of part %s failed\n", static_cast<int>(i),
                     number_.c_str());
        VariantClear(&child);
        return false;
      }
      const bool ok = walk(child.pdispVal, number_ + "." + std::to_string(i + 1));
      VariantClear(&child);  // releases the part object
      if (!ok) return false;
    }
    return true;
  }
  if (const std::string name = text(part, u"Filename"); !name.empty())
    line += "  filename=\"" + name + "\"";
  std::printf("%s  %d bytes\n", line.c_str(), static_cast<int>(bodySize(part)));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = argc > 1 ? argv[1] : "examples/sample.eml";
  CoInitialize(nullptr);
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(u"VorlundMime.VorlundMime", &clsid);
  if (FAILED(hr)) {
    std::fprintf(stderr,
                 "walk_parts: VorlundMime.VorlundMime is not registered (0x%08X); run "
                 "vormime register\n",
                 static_cast<unsigned>(hr));
    return 1;
  }
  IDispatch* mime = nullptr;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                        reinterpret_cast<void**>(&mime));
  if (FAILED(hr)) {
    std::fprintf(stderr, "walk_parts: cannot create VorlundMime.VorlundMime (0x%08X)\n",
                 static_cast<unsigned>(hr));
    return 1;
  }

  // The object answers to its own interface as well, by the identifier the headers declare.
  IVorlundMime* typed = nullptr;
  if (FAILED(mime->QueryInterface(IID_IVorlundMime, reinterpret_cast<void**>(&typed)))) {
    std::fprintf(stderr, "walk_parts: the object is not a VorlundMime\n");
    mime->Release();
    return 1;
  }
  typed->Release();

  const std::u16string path = utf16(file);
  VARIANT name;
  VariantInit(&name);
  name.vt = VT_BSTR;
  name.bstrVal = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
  VARIANT loaded;
  hr = call(mime, u"LoadMimeFile", {name}, &loaded);
  VariantClear(&name);
  int status = 0;
  if (FAILED(hr) || loaded.vt != VT_I4 || loaded.lVal != 1) {
    std::fprintf(stderr, "walk_parts: LoadMimeFile(%s) failed:\n%s\n", file.c_str(),
                 text(mime, u"LastErrorText").c_str());
    status = 1;
  } else if (!walk(mime, "1")) {
    status = 1;
  }
  VariantClear(&loaded);
  mime->Release();
  CoUninitialize();
  return status;
}
