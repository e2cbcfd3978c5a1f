// IDispatch of the Mime object against a recording IVorlundMime: every member reaches its
// own vtable slot with the coerced arguments, and results come back with their ownership.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "component/MimeDispatch.h"
#include "tests/component/RecordingMime.h"

namespace {

// The members a script can call, with their vtable methods, as the type library lists
// them. Argument and result letters: B string, L long, V VARIANT, M Mime object, - none.
struct CatalogueEntry {
  DISPID id;
  const char* method;
  const char* args;
  char result;
};
// clang-format off
const CatalogueEntry kCatalogue[] = {
    {1, "get_Version", "", 'B'}, {4, "LoadMime", "B", 'L'}, {5, "LoadXmlFile", "B", 'L'},
    {9, "get_NumParts", "", 'L'}, {10, "GetPart", "L", 'M'}, {11, "GetHeaderField", "B", 'B'},
    {12, "GetXml", "", 'B'}, {13, "LoadXml", "B", 'L'}, {14, "GetMime", "", 'B'},
    {15, "SaveXml", "B", 'L'}, {16, "SaveMime", "B", 'L'}, {20, "LoadMimeFile", "B", 'L'},
    {21, "SetHeaderField", "BB", '-'}, {22, "SetBodyFromFile", "B", 'L'},
    {23, "SetBodyFromEncoded", "BB", '-'}, {24, "SetBodyFromPlainText", "B", '-'},
    {25, "SetBodyFromXml", "B", '-'}, {26, "SetBodyFromHtml", "B", '-'},
    {27, "get_ContentType", "", 'B'}, {27, "put_ContentType", "B", '-'},
    {28, "get_Encoding", "", 'B'}, {28, "put_Encoding", "B", '-'}, {29, "get_Disposition", "", 'B'},
    {29, "put_Disposition", "B", '-'}, {30, "get_Charset", "", 'B'}, {30, "put_Charset", "B", '-'},
    {31, "get_Filename", "", 'B'}, {31, "put_Filename", "B", '-'}, {32, "get_Name", "", 'B'},
    {32, "put_Name", "B", '-'}, {33, "GetBodyDecoded", "", 'B'}, {34, "GetBodyEncoded", "", 'B'},
    {35, "GetBodyBinary", "", 'V'}, {36, "IsMultipart", "", 'L'}, {37, "IsPlainText", "", 'L'},
    {38, "IsHtml", "", 'L'}, {39, "IsXml", "", 'L'}, {40, "IsSigned", "", 'L'},
    {41, "IsEncrypted", "", 'L'}, {42, "IsMultipartMixed", "", 'L'},
    {43, "IsMultipartAlternative", "", 'L'}, {44, "IsMultipartRelated", "", 'L'},
    {45, "IsAttachment", "", 'L'}, {46, "IsText", "", 'L'}, {47, "IsApplicationData", "", 'L'},
    {48, "IsImage", "", 'L'}, {49, "IsAudio", "", 'L'}, {50, "IsVideo", "", 'L'},
    {51, "SaveBody", "B", 'L'}, {52, "NewMultipartMixed", "", '-'},
    {53, "NewMultipartRelated", "", '-'}, {54, "NewMultipartAlternative", "", '-'},
    {55, "AppendPart", "M", '-'}, {56, "AppendPartFromFile", "B", 'L'},
    {57, "get_Protocol", "", 'B'}, {57, "put_Protocol", "B", '-'}, {58, "get_Micalg", "", 'B'},
    {58, "put_Micalg", "B", '-'}, {59, "get_Boundary", "", 'B'}, {59, "put_Boundary", "B", '-'},
    {60, "get_UnwrapExtras", "", 'L'}, {60, "put_UnwrapExtras", "L", '-'},
    {63, "SaveLastError", "B", 'L'}, {68, "SetBodyFromBinary", "V", '-'},
    {70, "GetEntireHead", "", 'B'}, {71, "GetEntireBody", "", 'B'},
    {72, "get_LastErrorHtml", "", 'B'}, {73, "get_LastErrorXml", "", 'B'},
    {74, "get_LastErrorText", "", 'B'}, {75, "get_NumHeaderFields", "", 'L'},
    {76, "GetHeaderFieldValue", "L", 'B'}, {77, "GetHeaderFieldName", "L", 'B'},
    {78, "RemovePart", "L", '-'}, {79, "NewMessageRfc822", "M", '-'},
    {80, "ContainsEncryptedParts", "", 'L'}, {81, "ContainsSignedParts", "", 'L'},
};
// clang-format on

constexpr WORD kScriptCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

MimeValueType typeOf(char letter) {
  switch (letter) {
    case 'B':
      return MimeValueType::kBstr;
    case 'L':
      return MimeValueType::kLong;
    case 'V':
      return MimeValueType::kVariant;
    case 'M':
      return MimeValueType::kMime;
    default:
      return MimeValueType::kNone;
  }
}

// Variants the caller owns, freed at the end of the test.
struct Args {
  std::vector<VARIANT> v;
  explicit Args(size_t n) : v(n) {
    for (VARIANT& x : v) VariantInit(&x);
  }
  ~Args() {
    for (VARIANT& x : v) VariantClear(&x);
  }
  VARIANT& operator[](size_t i) { return v[i]; }
};

void setText(VARIANT* v, const char16_t* text) {
  VariantClear(v);
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocString(text);
}
void setLong(VARIANT* v, LONG n) {
  VariantClear(v);
  v->vt = VT_I4;
  v->lVal = n;
}

// Calls `id` with the given rgvarg (already in reverse order), as a script host does.
HRESULT call(IVorlundMime* self, DISPID id, WORD flags, std::vector<VARIANT>& rgvarg,
             VARIANT* result, UINT* argErr = nullptr) {
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{rgvarg.data(), &put, static_cast<UINT>(rgvarg.size()), 0};
  if (flags & DISPATCH_PROPERTYPUT) params.cNamedArgs = 1;
  return mimeInvoke(self, id, flags, &params, result, nullptr, argErr);
}

DISPID idOf(const char16_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 12345;
  HRESULT hr = mimeGetIDsOfNames(names, 1, &id);
  return hr == S_OK ? id : (id == DISPID_UNKNOWN ? DISPID_UNKNOWN : 12345);
}

std::u16string withCase(const char16_t* name, bool upper) {
  std::u16string s(name);
  for (char16_t& c : s) {
    if (upper && c >= u'a' && c <= u'z') c -= 32;
    if (!upper && c >= u'A' && c <= u'Z') c += 32;
  }
  return s;
}

}  // namespace

// Every catalogue member is in the table under its DISPID and name (any case), and a call
// through IDispatch reaches exactly its own vtable method with its arguments in order, and
// hands back what that method returned.
TEST(MimeDispatch, EveryMemberReachesItsOwnVtableSlot) {
  ASSERT_EQ(mimeMemberCount(), std::size(kCatalogue));
  RecordingMime rec;
  RecordingMime other;
  for (const CatalogueEntry& e : kCatalogue) {
    const std::string method = e.method;
    SCOPED_TRACE(method);
    const bool isGet = method.rfind("get_", 0) == 0;
    const bool isPut = method.rfind("put_", 0) == 0;
    const std::string name = (isGet || isPut) ? method.substr(4) : method;
    const WORD flags = isPut ? DISPATCH_PROPERTYPUT : isGet ? DISPATCH_PROPERTYGET : kScriptCall;

    const MimeMember* m = findMimeMember(e.id, flags);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(narrow(m->name, std::char_traits<char16_t>::length(m->name)), name);
    EXPECT_EQ(m->kind, isPut   ? MimeMemberKind::kPropPut
                       : isGet ? MimeMemberKind::kPropGet
                               : MimeMemberKind::kMethod);
    const size_t argCount = std::char_traits<char>::length(e.args);
    ASSERT_EQ(m->argCount, static_cast<int>(argCount));
    for (size_t i = 0; i < argCount; ++i) EXPECT_EQ(m->args[i], typeOf(e.args[i]));
    EXPECT_EQ(m->result, typeOf(e.result));

    const std::u16string wide(name.begin(), name.end());
    EXPECT_EQ(idOf(wide.c_str()), e.id);
    EXPECT_EQ(idOf(withCase(wide.c_str(), true).c_str()), e.id);
    EXPECT_EQ(idOf(withCase(wide.c_str(), false).c_str()), e.id);

    // Distinct values per position, placed in reverse order as OLE passes them.
    Args args(argCount);
    std::vector<std::string> expected;
    SAFEARRAY* bytes = nullptr;
    for (size_t i = 0; i < argCount; ++i) {
      VARIANT* v = &args[argCount - 1 - i];
      switch (e.args[i]) {
        case 'B': {
          std::u16string text = u"arg" + std::u16string(1, static_cast<char16_t>(u'0' + i));
          setText(v, text.c_str());
          expected.push_back("B:arg" + std::to_string(i));
          break;
        }
        case 'L':
          setLong(v, 40 + static_cast<LONG>(i));
          expected.push_back("L:" + std::to_string(40 + i));
          break;
        case 'V':
          v->vt = VT_ARRAY | VT_UI1;
          v->parray = bytes = SafeArrayCreateVector(VT_UI1, 0, 4);
          expected.push_back("V:" + std::to_string(VT_ARRAY | VT_UI1) + ":" +
                             std::to_string(reinterpret_cast<uintptr_t>(bytes)));
          break;
        case 'M':
          v->vt = VT_DISPATCH;
          v->pdispVal = &other;
          other.AddRef();
          expected.push_back(RecordingMime::describe(static_cast<IVorlundMime*>(&other)));
          break;
      }
    }

    rec.calls.clear();
    VARIANT result{};
    VariantInit(&result);
    ASSERT_EQ(call(&rec, e.id, flags, args.v, &result), S_OK);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].method, method);
    EXPECT_EQ(rec.calls[0].args, expected);
    EXPECT_EQ(other.refs, e.args[0] == 'M' ? 2u : 1u);  // only the caller's reference left

    switch (e.result) {
      case 'B':
        EXPECT_EQ(result.vt, VT_BSTR);
        EXPECT_EQ(result.bstrVal, rec.lastBstr);  // handed over, not copied
        EXPECT_EQ(narrow(result.bstrVal, SysStringLen(result.bstrVal)), method);
        break;
      case 'L':
        EXPECT_EQ(result.vt, VT_I4);
        EXPECT_EQ(result.lVal, cannedLong(method));
        break;
      case 'V':
        EXPECT_EQ(result.vt, VT_ARRAY | VT_UI1);
        EXPECT_EQ(result.parray, rec.lastArray);
        break;
      case 'M':
        EXPECT_EQ(result.vt, VT_DISPATCH);
        EXPECT_EQ(result.pdispVal, static_cast<IDispatch*>(&rec));
        EXPECT_EQ(rec.refs, 2u);
        break;
      default:
        EXPECT_EQ(result.vt, VT_EMPTY);
    }
    VariantClear(&result);
    EXPECT_EQ(rec.refs, 1u);
  }
}

TEST(MimeDispatch, NamesAndUnknownMembers) {
  // Parameter names are not known: their slots say so, the member's slot is still filled.
  LPOLESTR withParam[] = {const_cast<LPOLESTR>(u"getheaderFIELD"), const_cast<LPOLESTR>(u"name")};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(mimeGetIDsOfNames(withParam, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 11);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);

  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"NoSuchMember"), const_cast<LPOLESTR>(u"x")};
  ids[0] = ids[1] = 0;
  EXPECT_EQ(mimeGetIDsOfNames(unknown, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);

  // Whole names only, and only ASCII letters fold.
  for (const char16_t* near : {u"NumPart", u"NumPartsX", u"", u"Num Parts", u"\u017FetHeaderField"})
    EXPECT_EQ(idOf(near), DISPID_UNKNOWN);
  EXPECT_EQ(findMimeMember(static_cast<const char16_t*>(nullptr)), nullptr);
  EXPECT_EQ(mimeGetIDsOfNames(nullptr, 1, ids), E_INVALIDARG);

  // The secure-MIME members are not reachable by name or by DISPID, nor is any gap.
  RecordingMime rec;
  for (const char16_t* secure :
       {u"UnwrapSecurity", u"GetSignerCert", u"GetEncryptCert", u"AddDetachedSignature",
        u"ConvertToSigned", u"Encrypt", u"NumSignerCerts", u"NumEncryptCerts", u"SetCSP"})
    EXPECT_EQ(idOf(secure), DISPID_UNKNOWN);
  for (DISPID id : {6, 7, 8, 17, 18, 19, 61, 62, 69, 0, 2, 3, 64, 82, -1}) {
    SCOPED_TRACE(id);
    std::vector<VARIANT> none;
    Args one(1);
    setLong(&one[0], 0);
    VARIANT result{};
    EXPECT_EQ(call(&rec, id, kScriptCall, none, &result), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call(&rec, id, kScriptCall, one.v, &result), DISP_E_MEMBERNOTFOUND);
  }
  EXPECT_TRUE(rec.calls.empty());
}

// Script values become the member's types: numbers and strings either way, references
// followed, and a value that does not convert names its position in rgvarg.
TEST(MimeDispatch, ArgumentCoercion) {
  RecordingMime rec;
  VARIANT result{};
  auto lastArgs = [&] {
    return rec.calls.empty() ? std::vector<std::string>{} : rec.calls.back().args;
  };

  Args a(1);
  setText(&a[0], u"0");
  EXPECT_EQ(call(&rec, 10, kScriptCall, a.v, &result), S_OK);  // GetPart("0")
  EXPECT_EQ(lastArgs(), std::vector<std::string>{"L:0"});
  VariantClear(&result);
  VariantClear(&a[0]);
  a[0].vt = VT_I2;
  a[0].iVal = -5;
  EXPECT_EQ(call(&rec, 78, kScriptCall, a.v, &result), S_OK);  // RemovePart(short)
  EXPECT_EQ(lastArgs(), std::vector<std::string>{"L:-5"});

  setLong(&a[0], 42);
  EXPECT_EQ(call(&rec, 11, kScriptCall, a.v, &result), S_OK);  // GetHeaderField(42)
  EXPECT_EQ(lastArgs(), std::vector<std::string>{"B:42"});
  VariantClear(&result);
  a[0].vt = VT_EMPTY;
  EXPECT_EQ(call(&rec, 27, DISPATCH_PROPERTYPUT, a.v, &result), S_OK);  // ContentType = Empty
  EXPECT_EQ(lastArgs(), std::vector<std::string>{"B:"});

  const size_t before = rec.calls.size();
  UINT argErr = 99;
  setText(&a[0], u"abc");
  EXPECT_EQ(call(&rec, 10, kScriptCall, a.v, &result, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  VariantClear(&a[0]);
  setText(&a[0], u"99999999999");
  EXPECT_EQ(call(&rec, 76, kScriptCall, a.v, &result, &argErr), DISP_E_OVERFLOW);
  VariantClear(&a[0]);
  a[0].vt = VT_NULL;
  EXPECT_EQ(call(&rec, 24, kScriptCall, a.v, &result, &argErr), DISP_E_TYPEMISMATCH);

  // Two arguments: rgvarg[1] is the first. A bad first argument is index 1, a bad second 0.
  Args two(2);
  setText(&two[1], u"Subject");
  setText(&two[0], u"Hi");
  EXPECT_EQ(call(&rec, 21, kScriptCall, two.v, &result), S_OK);
  EXPECT_EQ(lastArgs(), (std::vector<std::string>{"B:Subject", "B:Hi"}));
  const size_t afterGood = rec.calls.size();
  VariantClear(&two[1]);
  two[1].vt = VT_DISPATCH;
  two[1].pdispVal = nullptr;
  EXPECT_EQ(call(&rec, 21, kScriptCall, two.v, &result, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 1u);
  setText(&two[1], u"Subject");
  VariantClear(&two[0]);
  two[0].vt = VT_ARRAY | VT_UI1;
  two[0].parray = SafeArrayCreateVector(VT_UI1, 0, 1);
  EXPECT_EQ(call(&rec, 23, kScriptCall, two.v, &result, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  EXPECT_EQ(rec.calls.size(), afterGood);
  EXPECT_EQ(before + 1, afterGood);  // no failed coercion reached the object
}

TEST(MimeDispatch, ReferencesAreFollowed) {
  RecordingMime rec;
  VARIANT result{};

  BSTR text = SysAllocString(u"Subject");
  LONG index = 3;
  VARIANT inner;
  VariantInit(&inner);
  setText(&inner, u"12");
  VARIANT middle;
  middle.vt = VT_BYREF | VT_VARIANT;
  middle.pvarVal = &inner;

  Args a(1);
  a[0].vt = VT_BYREF | VT_BSTR;
  a[0].pbstrVal = &text;
  EXPECT_EQ(call(&rec, 11, kScriptCall, a.v, &result), S_OK);
  VariantClear(&result);
  a[0].vt = VT_BYREF | VT_I4;
  a[0].plVal = &index;
  EXPECT_EQ(call(&rec, 10, kScriptCall, a.v, &result), S_OK);
  VariantClear(&result);
  a[0].vt = VT_BYREF | VT_VARIANT;
  a[0].pvarVal = &middle;  // a reference to a reference to "12", given for a long
  EXPECT_EQ(call(&rec, 78, kScriptCall, a.v, &result), S_OK);
  a[0].pvarVal = &inner;  // and for a string
  EXPECT_EQ(call(&rec, 24, kScriptCall, a.v, &result), S_OK);
  ASSERT_EQ(rec.calls.size(), 4u);
  EXPECT_EQ(rec.calls[0].args, std::vector<std::string>{"B:Subject"});
  EXPECT_EQ(rec.calls[1].args, std::vector<std::string>{"L:3"});
  EXPECT_EQ(rec.calls[2].args, std::vector<std::string>{"L:12"});
  EXPECT_EQ(rec.calls[3].args, std::vector<std::string>{"B:12"});

  // Broken references fail as a type mismatch instead of being read.
  UINT argErr = 99;
  VARIANT loop;
  loop.vt = VT_BYREF | VT_VARIANT;
  loop.pvarVal = &loop;
  a[0].pvarVal = &loop;
  EXPECT_EQ(call(&rec, 24, kScriptCall, a.v, &result, &argErr), DISP_E_TYPEMISMATCH);
  a[0].pvarVal = nullptr;
  EXPECT_EQ(call(&rec, 78, kScriptCall, a.v, &result, &argErr), DISP_E_TYPEMISMATCH);
  a[0].vt = VT_BYREF | VT_BSTR;
  a[0].pbstrVal = nullptr;
  EXPECT_EQ(call(&rec, 24, kScriptCall, a.v, &result, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  EXPECT_EQ(rec.calls.size(), 4u);

  a[0].vt = VT_EMPTY;  // the referenced values belong to this test
  SysFreeString(text);
  VariantClear(&inner);
}

// A put is DISPATCH_PROPERTYPUT with its value named DISPID_PROPERTYPUT; other flags and
// counts find no member or the wrong number of arguments.
TEST(MimeDispatch, InvokeProtocol) {
  RecordingMime rec;
  Args a(1);
  setText(&a[0], u"text/plain");
  DISPID named[2] = {DISPID_PROPERTYPUT, 0};
  DISPPARAMS put{a.v.data(), named, 1, 1};
  VARIANT result{};
  setLong(&result, 7);
  EXPECT_EQ(mimeInvoke(&rec, 27, DISPATCH_PROPERTYPUT, &put, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I4);  // a put leaves the result alone
  ASSERT_EQ(rec.calls.size(), 1u);
  EXPECT_EQ(rec.calls[0].method, "put_ContentType");

  setText(&a[0], u"1");
  put.rgvarg = a.v.data();
  EXPECT_EQ(mimeInvoke(&rec, 60, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(rec.calls.back().args, std::vector<std::string>{"L:1"});
  rec.calls.clear();

  UINT argErr = 99;
  DISPPARAMS unnamed{a.v.data(), nullptr, 1, 0};
  EXPECT_EQ(mimeInvoke(&rec, 27, DISPATCH_PROPERTYPUT, &unnamed, nullptr, nullptr, &argErr),
            DISP_E_PARAMNOTFOUND);
  named[0] = 0;
  EXPECT_EQ(mimeInvoke(&rec, 27, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, &argErr),
            DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(argErr, 0u);
  named[0] = DISPID_PROPERTYPUT;
  Args b(2);
  setText(&b[0], u"x");
  setText(&b[1], u"y");
  DISPPARAMS twoNamed{b.v.data(), named, 2, 2};
  EXPECT_EQ(mimeInvoke(&rec, 27, DISPATCH_PROPERTYPUT, &twoNamed, nullptr, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  DISPPARAMS extra{b.v.data(), named, 2, 1};
  EXPECT_EQ(mimeInvoke(&rec, 27, DISPATCH_PROPERTYPUT, &extra, nullptr, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(mimeInvoke(&rec, 27, DISPATCH_PROPERTYPUTREF, &put, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(mimeInvoke(&rec, 9, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);  // NumParts is read-only
  EXPECT_EQ(mimeInvoke(&rec, 24, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);  // a method is not a property
  DISPPARAMS methodNamed{a.v.data(), named, 1, 1};
  EXPECT_EQ(mimeInvoke(&rec, 24, kScriptCall, &methodNamed, nullptr, nullptr, nullptr),
            DISP_E_NONAMEDARGS);

  // A get answers PROPERTYGET, a method METHOD; script engines send both bits.
  DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
  EXPECT_EQ(mimeInvoke(&rec, 27, DISPATCH_METHOD, &noArgs, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(mimeInvoke(&rec, 14, DISPATCH_PROPERTYGET, &noArgs, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(mimeInvoke(&rec, 27, kScriptCall, &noArgs, &result, nullptr, nullptr), S_OK);
  VariantClear(&result);
  EXPECT_EQ(mimeInvoke(&rec, 14, DISPATCH_METHOD, &noArgs, &result, nullptr, nullptr), S_OK);
  VariantClear(&result);
  ASSERT_EQ(rec.calls.size(), 2u);
  EXPECT_EQ(rec.calls[0].method, "get_ContentType");
  EXPECT_EQ(rec.calls[1].method, "GetMime");

  // Counts: too few, too many, and malformed parameter blocks.
  rec.calls.clear();
  EXPECT_EQ(mimeInvoke(&rec, 14, kScriptCall, &unnamed, &result, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(mimeInvoke(&rec, 21, kScriptCall, &unnamed, &result, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
  Args three(3);
  DISPPARAMS threeArgs{three.v.data(), nullptr, 3, 0};
  EXPECT_EQ(mimeInvoke(&rec, 21, kScriptCall, &threeArgs, &result, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(mimeInvoke(&rec, 9, kScriptCall, &unnamed, &result, nullptr, nullptr),
            DISP_E_BADPARAMCOUNT);
  DISPPARAMS noArray{nullptr, nullptr, 1, 0};
  EXPECT_EQ(mimeInvoke(&rec, 24, kScriptCall, &noArray, &result, nullptr, nullptr), E_INVALIDARG);
  DISPPARAMS noNames{a.v.data(), nullptr, 1, 1};
  EXPECT_EQ(mimeInvoke(&rec, 27, DISPATCH_PROPERTYPUT, &noNames, nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(mimeInvoke(&rec, 24, kScriptCall, nullptr, &result, nullptr, nullptr), E_INVALIDARG);
  EXPECT_TRUE(rec.calls.empty());
}

// What a member returns belongs to the caller's VARIANT, or is freed when the caller wants
// no result (ASan reports a leak otherwise); a member's failure comes back unchanged.
TEST(MimeDispatch, ResultsAndFailures) {
  RecordingMime rec;
  std::vector<VARIANT> none;
  for (DISPID id : {14, 35, 10, 9}) {
    Args index(1);
    setLong(&index[0], 0);
    EXPECT_EQ(call(&rec, id, kScriptCall, id == 10 ? index.v : none, nullptr), S_OK);
  }
  EXPECT_EQ(rec.calls.size(), 4u);
  EXPECT_EQ(rec.refs, 1u);  // the part GetPart answered was released

  Args index(1);
  setLong(&index[0], 5);
  VARIANT result{};
  rec.answerNullPart = true;
  EXPECT_EQ(call(&rec, 10, kScriptCall, index.v, &result), S_OK);
  EXPECT_EQ(result.vt, VT_DISPATCH);
  EXPECT_EQ(result.pdispVal, nullptr);
  setLong(&result, 1);
  EXPECT_EQ(call(&rec, 52, kScriptCall, none, &result), S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY);

  rec.answerNullPart = false;
  rec.failWith = E_NOTIMPL;
  for (bool writes : {false, true}) {
    rec.writeOutsOnFailure = writes;
    for (DISPID id : {14, 35, 10, 9, 52}) {
      SCOPED_TRACE(id);
      setLong(&result, 1);
      EXPECT_EQ(call(&rec, id, kScriptCall, id == 10 ? index.v : none, &result), E_NOTIMPL);
      EXPECT_EQ(result.vt, VT_EMPTY);
    }
  }
  EXPECT_EQ(rec.refs, 1u);
  rec.failWith = S_FALSE;  // success codes other than S_OK pass too, with the result
  EXPECT_EQ(call(&rec, 9, kScriptCall, none, &result), S_FALSE);
  EXPECT_EQ(result.vt, VT_I4);
}

// Mime objects as arguments: anything that answers IVorlundMime, by value or by
// reference; nothing at all is a null argument; other objects and types are refused.
TEST(MimeDispatch, ObjectArguments) {
  RecordingMime rec;
  RecordingMime part;
  const std::string partId = RecordingMime::describe(static_cast<IVorlundMime*>(&part));
  IDispatch* asDispatch = &part;
  IUnknown* asUnknown = &part;
  Args a(1);
  VARIANT result{};

  struct Case {
    VARTYPE vt;
    void* value;
    std::string expected;
  };
  const Case accepted[] = {
      {VT_DISPATCH, asDispatch, partId},
      {VT_UNKNOWN, asUnknown, partId},
      {VT_BYREF | VT_DISPATCH, &asDispatch, partId},
      {VT_BYREF | VT_UNKNOWN, &asUnknown, partId},
      {VT_DISPATCH, nullptr, "M:null"},
      {VT_EMPTY, nullptr, "M:null"},
      {VT_NULL, nullptr, "M:null"},
  };
  for (const Case& c : accepted) {
    SCOPED_TRACE(c.vt);
    a[0].vt = c.vt;
    a[0].byref = c.value;
    rec.calls.clear();
    EXPECT_EQ(call(&rec, 55, kScriptCall, a.v, &result), S_OK);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].args, std::vector<std::string>{c.expected});
    EXPECT_EQ(part.refs, 1u);
  }

  // An automation object of some other kind.
  struct Foreign : IDispatch {
    ULONG refs = 1;
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
      *ppv = nullptr;
      if (!(riid == IID_IUnknown || riid == IID_IDispatch)) return E_NOINTERFACE;
      *ppv = this;
      ++refs;
      return S_OK;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
      return E_NOTIMPL;
    }
  } foreign;
  rec.calls.clear();
  UINT argErr = 99;
  a[0].vt = VT_DISPATCH;
  a[0].pdispVal = &foreign;
  EXPECT_EQ(call(&rec, 79, kScriptCall, a.v, &result, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  EXPECT_EQ(foreign.refs, 1u);
  a[0].vt = VT_I4;
  EXPECT_EQ(call(&rec, 79, kScriptCall, a.v, &result, &argErr), DISP_E_TYPEMISMATCH);
  a[0].vt = VT_BYREF | VT_DISPATCH;
  a[0].ppdispVal = nullptr;
  EXPECT_EQ(call(&rec, 79, kScriptCall, a.v, &result, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_TRUE(rec.calls.empty());

  // A VARIANT parameter gets the caller's variant as it is, reference and all.
  VARIANT bytes;
  VariantInit(&bytes);
  bytes.vt = VT_ARRAY | VT_UI1;
  bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 2);
  a[0].vt = VT_BYREF | VT_VARIANT;
  a[0].pvarVal = &bytes;
  EXPECT_EQ(call(&rec, 68, kScriptCall, a.v, &result), S_OK);
  ASSERT_EQ(rec.calls.size(), 1u);
  EXPECT_EQ(rec.calls[0].args,
            std::vector<std::string>{"V:" + std::to_string(VT_BYREF | VT_VARIANT) + ":" +
                                     std::to_string(reinterpret_cast<uintptr_t>(&bytes))});
  a[0].vt = VT_EMPTY;
  VariantClear(&bytes);  // still the caller's: a second free would show under ASan
}

// A host's view: the object's own IDispatch, names first, then calls by DISPID.
TEST(MimeDispatch, HostCallsByName) {
  RecordingMime rec;
  IDispatch* disp = &rec;
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"setheaderfield")};
  DISPID id = 0;
  ASSERT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  Args a(2);
  setText(&a[1], u"X-Count");
  setLong(&a[0], 3);
  DISPPARAMS params{a.v.data(), nullptr, 2, 0};
  VARIANT result{};
  EXPECT_EQ(disp->Invoke(id, IID_NULL, 0, kScriptCall, &params, &result, nullptr, nullptr), S_OK);
  ASSERT_EQ(rec.calls.size(), 1u);
  EXPECT_EQ(rec.calls[0].method, "SetHeaderField");
  EXPECT_EQ(rec.calls[0].args, (std::vector<std::string>{"B:X-Count", "B:3"}));
}
