// IDispatch of the Mime object against a recording IVorlundMime: every member reaches its
// own vtable slot with the coerced arguments, and results come back with their ownership.
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "component/MimeDispatch.h"
#include "platform/Stream.h"
#include "tests/component/FakeCsp.h"
#include "tests/component/RecordingMime.h"

namespace {

// The members a script can call, with their vtable methods, as the type library lists
// them. Argument and result letters: B string, L long, V VARIANT, M Mime object, C certificate
// object, P provider object, - none.
struct CatalogueEntry {
  DISPID id;
  const char* method;
  const char* args;
  char result;
};
// clang-format off
const CatalogueEntry kCatalogue[] = {
    {1, "get_Version", "", 'B'}, {4, "LoadMime", "B", 'L'}, {5, "LoadXmlFile", "B", 'L'},
    {6, "UnwrapSecurity", "", 'L'}, {7, "GetSignerCert", "L", 'C'}, {8, "GetEncryptCert", "L", 'C'},
    {9, "get_NumParts", "", 'L'}, {10, "GetPart", "L", 'M'}, {11, "GetHeaderField", "B", 'B'},
    {12, "GetXml", "", 'B'}, {13, "LoadXml", "B", 'L'}, {14, "GetMime", "", 'B'},
    {15, "SaveXml", "B", 'L'}, {16, "SaveMime", "B", 'L'},
    {17, "AddDetachedSignature", "C", 'L'}, {18, "ConvertToSigned", "C", 'L'},
    {19, "Encrypt", "C", 'L'}, {20, "LoadMimeFile", "B", 'L'},
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
    {61, "get_NumSignerCerts", "", 'L'}, {62, "get_NumEncryptCerts", "", 'L'},
    {63, "SaveLastError", "B", 'L'}, {68, "SetBodyFromBinary", "V", '-'}, {69, "SetCSP", "P", '-'},
    {70, "GetEntireHead", "", 'B'}, {71, "GetEntireBody", "", 'B'},
    {72, "get_LastErrorHtml", "", 'B'}, {73, "get_LastErrorXml", "", 'B'},
    {74, "get_LastErrorText", "", 'B'}, {75, "get_NumHeaderFields", "", 'L'},
    {76, "GetHeaderFieldValue", "L", 'B'}, {77, "GetHeaderFieldName", "L", 'B'},
    {78, "RemovePart", "L", '-'}, {79, "NewMessageRfc822", "M", '-'},
    {80, "ContainsEncryptedParts", "", 'L'}, {81, "ContainsSignedParts", "", 'L'},
};
// clang-format on

constexpr WORD kScriptCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// The letters stand in MimeValueType's order.
MimeValueType typeOf(char letter) {
  return static_cast<MimeValueType>(std::string_view("-BLVMCP").find(letter));
}

VARIANT of(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}
VARIANT text(const char16_t* s) {
  VARIANT v = of(VT_BSTR);
  v.bstrVal = SysAllocString(s);
  return v;
}
VARIANT num(LONG n) {
  VARIANT v = of(VT_I4);
  v.lVal = n;
  return v;
}
VARIANT byRef(VARTYPE vt, void* p) {
  VARIANT v = of(VT_BYREF | vt);
  v.byref = p;
  return v;
}
// An object argument as a caller hands it over: the variant holds a reference of its own.
VARIANT object(VARTYPE vt, IUnknown* p) {
  VARIANT v = of(vt);
  v.punkVal = p;
  if (p != nullptr) p->AddRef();
  return v;
}

// Variants the caller owns, freed at the end of the test.
struct Args {
  std::vector<VARIANT> v;
  explicit Args(std::vector<VARIANT> values) : v(std::move(values)) {}
  ~Args() {
    for (VARIANT& x : v) VariantClear(&x);
  }
};

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
  return mimeGetIDsOfNames(names, 1, &id) == S_OK || id == DISPID_UNKNOWN ? id : 12345;
}

// What one call did with these arguments (freed afterwards): the vtable calls it made, as
// "method(args)", after its failure and the rgvarg index that failure names.
std::string outcome(DISPID id, WORD flags, std::vector<VARIANT> rgvarg) {
  RecordingMime rec;
  VARIANT result = of(VT_EMPTY);
  UINT argErr = 99;
  const HRESULT hr = call(&rec, id, flags, rgvarg, &result, &argErr);
  VariantClear(&result);
  for (VARIANT& v : rgvarg) VariantClear(&v);
  std::string out;
  if (hr == DISP_E_TYPEMISMATCH) out = "type mismatch at " + std::to_string(argErr);
  if (hr == DISP_E_OVERFLOW) out = "overflow at " + std::to_string(argErr);
  if (hr != S_OK && out.empty()) out = "failure " + std::to_string(hr);
  for (const RecordingMime::Call& c : rec.calls) {
    out += c.method + "(";
    for (size_t i = 0; i < c.args.size(); ++i) out += (i > 0 ? ", " : "") + c.args[i];
    out += ")";
  }
  return out;
}

}  // namespace

// Every catalogue member is in the table under its DISPID and name (any case), and a call
// through IDispatch reaches exactly its own vtable method with its arguments in order, and
// hands back what that method returned.
TEST(MimeDispatch, EveryMemberReachesItsOwnVtableSlot) {
  ASSERT_EQ(mimeMemberCount(), std::size(kCatalogue));
  RecordingMime rec;
  RecordingMime other;
  FakeCsp csp;
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

    std::u16string wide(name.begin(), name.end());
    EXPECT_EQ(idOf(wide.c_str()), e.id);
    for (char16_t& c : wide) c = c >= u'a' && c <= u'z' ? c - 32 : c;
    EXPECT_EQ(idOf(wide.c_str()), e.id);

    // Distinct values per position, placed in reverse order as OLE passes them.
    Args args(std::vector<VARIANT>(argCount, of(VT_EMPTY)));
    std::vector<std::string> expected;
    for (size_t i = 0; i < argCount; ++i) {
      VARIANT* v = &args.v[argCount - 1 - i];
      switch (e.args[i]) {
        case 'B':
          *v = text((u"arg" + std::u16string(1, static_cast<char16_t>(u'0' + i))).c_str());
          expected.push_back("B:arg" + std::to_string(i));
          break;
        case 'L':
          *v = num(40 + static_cast<LONG>(i));
          expected.push_back("L:" + std::to_string(40 + i));
          break;
        case 'V':
          v->vt = VT_ARRAY | VT_UI1;
          v->parray = SafeArrayCreateVector(VT_UI1, 0, 4);
          expected.push_back("V:" + std::to_string(VT_ARRAY | VT_UI1) + ":" +
                             std::to_string(reinterpret_cast<uintptr_t>(v->parray)));
          break;
        case 'M':
          *v = object(VT_DISPATCH, static_cast<IDispatch*>(&other));
          expected.push_back(RecordingMime::describe(static_cast<IVorlundMime*>(&other)));
          break;
        case 'C':  // nothing at all is a null certificate object
          expected.push_back(RecordingMime::describe(nullptr));
          break;
        case 'P':
          *v = object(VT_UNKNOWN, static_cast<IUnknown*>(&csp));
          expected.push_back(RecordingMime::describe(static_cast<IVorlundCSP*>(&csp)));
          break;
      }
    }

    rec.calls.clear();
    VARIANT result = of(VT_EMPTY);
    ASSERT_EQ(call(&rec, e.id, flags, args.v, &result), S_OK);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].method, method);
    EXPECT_EQ(rec.calls[0].args, expected);
    EXPECT_EQ(other.refs, e.args[0] == 'M' ? 2u : 1u);  // only the caller's reference left
    EXPECT_EQ(csp.refs, e.args[0] == 'P' ? 2u : 1u);

    // Each result letter's variant type, in MimeValueType's order (no member answers 'P').
    const VARTYPE resultVt[] = {VT_EMPTY,          VT_BSTR,     VT_I4,
                                VT_ARRAY | VT_UI1, VT_DISPATCH, VT_DISPATCH};
    EXPECT_EQ(result.vt, resultVt[static_cast<int>(typeOf(e.result))]);
    switch (e.result) {
      case 'B':
        EXPECT_EQ(result.bstrVal, rec.lastBstr);  // handed over, not copied
        EXPECT_EQ(narrow(result.bstrVal, SysStringLen(result.bstrVal)), method);
        break;
      case 'L':
        EXPECT_EQ(result.lVal, cannedLong(method));
        break;
      case 'V':
        EXPECT_EQ(result.parray, rec.lastArray);
        break;
      case 'M':
      case 'C':  // the recorder answers no certificate: still an object-typed result
        EXPECT_EQ(result.pdispVal, e.result == 'M' ? static_cast<IDispatch*>(&rec) : nullptr);
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

  // Whole names only, and only ASCII letters fold.
  for (const char16_t* near : {u"NumPart", u"NumPartsX", u"", u"\u017FetHeaderField"})
    EXPECT_EQ(idOf(near), DISPID_UNKNOWN);
  EXPECT_EQ(mimeGetIDsOfNames(nullptr, 1, ids), E_INVALIDARG);

  // Lower case folds as upper case does; no gap of the type library answers.
  EXPECT_EQ(idOf(u"encrypt"), 19);
  RecordingMime rec;
  for (DISPID id : {0, 2, 3, 64, 82, -1}) {
    Args one({num(0)});
    VARIANT result = of(VT_EMPTY);
    EXPECT_EQ(call(&rec, id, kScriptCall, one.v, &result), DISP_E_MEMBERNOTFOUND) << id;
  }
  EXPECT_TRUE(rec.calls.empty());
}

// Script values become the member's types: numbers and strings either way, references
// followed, and a value that does not convert names its position in rgvarg and reaches no
// member. Two arguments are rgvarg[1], then rgvarg[0]. A Mime object argument is anything that
// answers IVorlundMime, by value or by reference; nothing at all is a null argument; the
// dispatcher keeps no reference of its own.
TEST(MimeDispatch, ArgumentCoercion) {
  BSTR subject = SysAllocString(u"Subject");
  VARIANT twelve = text(u"12");
  VARIANT refToTwelve = byRef(VT_VARIANT, &twelve);
  VARIANT loop = byRef(VT_VARIANT, nullptr);
  loop.pvarVal = &loop;
  VARIANT oneByte = of(VT_ARRAY | VT_UI1);
  oneByte.parray = SafeArrayCreateVector(VT_UI1, 0, 1);
  VARIANT bytes = of(VT_ARRAY | VT_UI1);
  bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 2);
  RecordingMime part;
  const std::string partId =
      "AppendPart(" + RecordingMime::describe(static_cast<IVorlundMime*>(&part)) + ")";
  IUnknown* asUnknown = &part;
  IStream* foreign = SHCreateMemStream(nullptr, 0);

  struct Case {
    DISPID id;
    WORD flags;
    std::vector<VARIANT> rgvarg;
    std::string expected;
  } cases[] = {
      {10, kScriptCall, {text(u"0")}, "GetPart(L:0)"},
      {11, kScriptCall, {num(42)}, "GetHeaderField(B:42)"},
      {27, DISPATCH_PROPERTYPUT, {of(VT_EMPTY)}, "put_ContentType(B:)"},
      {10, kScriptCall, {text(u"abc")}, "type mismatch at 0"},
      {76, kScriptCall, {text(u"99999999999")}, "overflow at 0"},
      {21, kScriptCall, {text(u"Hi"), text(u"Subject")}, "SetHeaderField(B:Subject, B:Hi)"},
      {23, kScriptCall, {oneByte, text(u"Subject")}, "type mismatch at 0"},
      // References, to a reference to "12" too; broken ones fail instead of being read.
      {11, kScriptCall, {byRef(VT_BSTR, &subject)}, "GetHeaderField(B:Subject)"},
      {78, kScriptCall, {byRef(VT_VARIANT, &refToTwelve)}, "RemovePart(L:12)"},
      {24, kScriptCall, {byRef(VT_VARIANT, &twelve)}, "SetBodyFromPlainText(B:12)"},
      {24, kScriptCall, {byRef(VT_VARIANT, &loop)}, "type mismatch at 0"},
      {78, kScriptCall, {byRef(VT_VARIANT, nullptr)}, "type mismatch at 0"},
      // A VARIANT parameter gets the caller's variant as it is, reference and all (still the
      // caller's: a second free would show under ASan).
      {68,
       kScriptCall,
       {byRef(VT_VARIANT, &bytes)},
       "SetBodyFromBinary(V:" + std::to_string(VT_BYREF | VT_VARIANT) + ":" +
           std::to_string(reinterpret_cast<uintptr_t>(&bytes)) + ")"},
      {55, kScriptCall, {object(VT_DISPATCH, &part)}, partId},
      {55, kScriptCall, {byRef(VT_UNKNOWN, &asUnknown)}, partId},
      {55, kScriptCall, {of(VT_EMPTY)}, "AppendPart(M:null)"},
      {55, kScriptCall, {of(VT_NULL)}, "AppendPart(M:null)"},
      // An object of some other kind, and values that are no object.
      {79, kScriptCall, {object(VT_UNKNOWN, foreign)}, "type mismatch at 0"},
      {79, kScriptCall, {num(0)}, "type mismatch at 0"},
      {79, kScriptCall, {byRef(VT_DISPATCH, nullptr)}, "type mismatch at 0"},
  };
  for (Case& c : cases)
    EXPECT_EQ(outcome(c.id, c.flags, std::move(c.rgvarg)), c.expected) << &c - cases;
  EXPECT_EQ(part.refs, 1u);
  EXPECT_EQ(foreign->Release(), 0u);
  SysFreeString(subject);
  VariantClear(&twelve);
  VariantClear(&bytes);
}

// A put is DISPATCH_PROPERTYPUT with its value named DISPID_PROPERTYPUT; other flags and
// counts find no member or the wrong number of arguments.
TEST(MimeDispatch, InvokeProtocol) {
  RecordingMime rec;
  Args a({text(u"1")});
  DISPID named[2] = {DISPID_PROPERTYPUT, 0};
  DISPPARAMS put{a.v.data(), named, 1, 1};
  VARIANT result = num(7);
  EXPECT_EQ(mimeInvoke(&rec, 60, DISPATCH_PROPERTYPUT, &put, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I4);  // a put leaves the result alone
  // A method answers METHOD alone; script engines send both bits.
  DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
  EXPECT_EQ(mimeInvoke(&rec, 14, DISPATCH_METHOD, &noArgs, &result, nullptr, nullptr), S_OK);
  VariantClear(&result);
  ASSERT_EQ(rec.calls.size(), 2u);
  EXPECT_EQ(rec.calls[0].args, std::vector<std::string>{"L:1"});
  rec.calls.clear();

  DISPID wrongName = 0;
  DISPPARAMS unnamed{a.v.data(), nullptr, 1, 0}, misnamed{a.v.data(), &wrongName, 1, 1};
  UINT argErr = 99;
  EXPECT_EQ(mimeInvoke(&rec, 27, DISPATCH_PROPERTYPUT, &misnamed, nullptr, nullptr, &argErr),
            DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(argErr, 0u);
  Args b({text(u"x"), text(u"y")});
  DISPPARAMS twoNamed{b.v.data(), named, 2, 2}, extra{b.v.data(), named, 2, 1};
  DISPPARAMS noArray{nullptr, nullptr, 1, 0};
  DISPPARAMS noNames{a.v.data(), nullptr, 1, 1};
  const struct {
    DISPID id;
    WORD flags;
    DISPPARAMS* params;
    HRESULT hr;
  } refused[] = {
      {27, DISPATCH_PROPERTYPUT, &unnamed, DISP_E_PARAMNOTFOUND},
      {27, DISPATCH_PROPERTYPUT, &twoNamed, DISP_E_NONAMEDARGS},
      {27, DISPATCH_PROPERTYPUT, &extra, DISP_E_BADPARAMCOUNT},
      {27, DISPATCH_PROPERTYPUTREF, &put, DISP_E_MEMBERNOTFOUND},
      {9, DISPATCH_PROPERTYPUT, &put, DISP_E_MEMBERNOTFOUND},   // NumParts is read-only
      {24, DISPATCH_PROPERTYPUT, &put, DISP_E_MEMBERNOTFOUND},  // a method is not a property
      {24, kScriptCall, &put, DISP_E_NONAMEDARGS},
      {27, DISPATCH_METHOD, &noArgs, DISP_E_MEMBERNOTFOUND},
      {14, DISPATCH_PROPERTYGET, &noArgs, DISP_E_MEMBERNOTFOUND},
      // Counts: too few, too many, and malformed parameter blocks.
      {14, kScriptCall, &unnamed, DISP_E_BADPARAMCOUNT},
      {21, kScriptCall, &unnamed, DISP_E_BADPARAMCOUNT},
      {24, kScriptCall, &noArray, E_INVALIDARG},
      {27, DISPATCH_PROPERTYPUT, &noNames, E_INVALIDARG},
      {24, kScriptCall, nullptr, E_INVALIDARG},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(mimeInvoke(&rec, c.id, c.flags, c.params, &result, nullptr, nullptr), c.hr)
        << c.id << " " << c.flags;
    EXPECT_EQ(result.vt, VT_EMPTY);
  }
  EXPECT_TRUE(rec.calls.empty());
}

// What a member returns belongs to the caller's VARIANT, or is freed when the caller wants
// no result (ASan reports a leak otherwise); a member's failure comes back unchanged.
TEST(MimeDispatch, ResultsAndFailures) {
  RecordingMime rec;
  std::vector<VARIANT> none;
  Args index({num(0)});
  for (DISPID id : {14, 35, 10})
    EXPECT_EQ(call(&rec, id, kScriptCall, id == 10 ? index.v : none, nullptr), S_OK);
  EXPECT_EQ(rec.refs, 1u);  // the part GetPart answered was released

  VARIANT result{};
  rec.answerNullPart = true;
  EXPECT_EQ(call(&rec, 10, kScriptCall, index.v, &result), S_OK);
  EXPECT_EQ(result.vt, VT_DISPATCH);
  EXPECT_EQ(result.pdispVal, nullptr);

  rec.answerNullPart = false;
  rec.failWith = E_NOTIMPL;
  rec.writeOutsOnFailure = true;  // a badly behaved member: what it wrote is not handed out
  for (DISPID id : {14, 35, 10, 9}) {
    result = num(1);
    EXPECT_EQ(call(&rec, id, kScriptCall, id == 10 ? index.v : none, &result), E_NOTIMPL) << id;
    EXPECT_EQ(result.vt, VT_EMPTY);
  }
  EXPECT_EQ(rec.refs, 1u);
  rec.failWith = S_FALSE;  // success codes other than S_OK pass too, with the result
  EXPECT_EQ(call(&rec, 9, kScriptCall, none, &result), S_FALSE);
  EXPECT_EQ(result.vt, VT_I4);
}
