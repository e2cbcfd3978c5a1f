// BSTRs, variant coercion and safe arrays, as the member table and the data helpers use them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "platform/Com.h"
#include "platform/OleAuto.h"

namespace {

VARIANT variantOf(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}

VARIANT bstrVariant(const char16_t* text) {
  VARIANT v = variantOf(VT_BSTR);
  v.bstrVal = SysAllocString(text);
  return v;
}

std::u16string textOf(BSTR s) { return std::u16string(s, SysStringLen(s)); }

// Coerces in place, the way the member table coerces a script argument.
HRESULT coerceString(const char16_t* text, VARTYPE vt, VARIANT* out) {
  VARIANT v = bstrVariant(text);
  const BSTR before = v.bstrVal;
  HRESULT hr = VariantChangeType(&v, &v, 0, vt);
  if (FAILED(hr)) {
    EXPECT_TRUE(v.vt == VT_BSTR && v.bstrVal == before) << "a failed coercion keeps the source";
    VariantClear(&v);
  }
  *out = v;
  return hr;
}

// The lower and upper bound of a dimension (counted from 1).
std::pair<LONG, LONG> boundsOf(SAFEARRAY* a, UINT dim) {
  LONG lo = 99, hi = 99;
  EXPECT_EQ(SafeArrayGetLBound(a, dim, &lo), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(a, dim, &hi), S_OK);
  return {lo, hi};
}

}  // namespace

TEST(Bstr, LengthPrefixTerminatorAndNullSource) {
  BSTR s = SysAllocStringLen(u"a\0bc", 4);  // an embedded NUL is part of the string
  ASSERT_NE(s, nullptr);
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
  EXPECT_EQ(prefix, 8u);
  EXPECT_EQ(SysStringByteLen(s), 8u);
  EXPECT_EQ(s[4], 0);
  EXPECT_EQ(textOf(s), std::u16string(u"a\0bc", 4));
  SysFreeString(s);

  BSTR room = SysAllocStringLen(nullptr, 5);  // room to fill, already terminated
  ASSERT_NE(room, nullptr);
  EXPECT_EQ(room[5], 0);
  SysFreeString(room);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

TEST(VariantChangeType, StringsToLongs) {
  struct {
    const char16_t* text;
    HRESULT hr;
    LONG value;
  } const cases[] = {{u"0", S_OK, 0},
                     {u"12", S_OK, 12},
                     {u" 7", S_OK, 7},
                     {u"8\t ", S_OK, 8},
                     {u"-2147483648", S_OK, INT32_MIN},
                     {u"2.5", S_OK, 2},
                     {u"3.5", S_OK, 4},  // halves round to even
                     {u"abc", DISP_E_TYPEMISMATCH, 0},
                     {u"12abc", DISP_E_TYPEMISMATCH, 0},
                     {u"", DISP_E_TYPEMISMATCH, 0},
                     {u"0x10", DISP_E_TYPEMISMATCH, 0},
                     {u"2147483648", DISP_E_OVERFLOW, 0},
                     {u"99999999999999999999999", DISP_E_OVERFLOW, 0}};
  for (const auto& c : cases) {
    VARIANT v;
    EXPECT_EQ(coerceString(c.text, VT_I4, &v), c.hr);
    if (SUCCEEDED(c.hr)) {
      EXPECT_EQ(v.vt, VT_I4);
      EXPECT_EQ(v.lVal, c.value);
    }
  }

  VARIANT null = variantOf(VT_NULL), empty = variantOf(VT_EMPTY), out = variantOf(VT_EMPTY);
  EXPECT_EQ(VariantChangeType(&out, &null, 0, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(VariantChangeType(&out, &empty, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, 0);
}

TEST(VariantChangeType, NumbersBooleansAndStrings) {
  VARIANT src = variantOf(VT_I4), out = variantOf(VT_EMPTY);
  src.lVal = -42;
  ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_BSTR), S_OK);
  ASSERT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(textOf(out.bstrVal), u"-42");
  ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_BOOL), S_OK);  // replaces the string in out
  EXPECT_EQ(out.boolVal, VARIANT_TRUE);
  LONG target = 77;  // followed through a reference
  src.vt = VT_I4 | VT_BYREF;
  src.plVal = &target;
  ASSERT_EQ(VariantChangeType(&out, &src, 0, VT_BSTR), S_OK);
  EXPECT_EQ(textOf(out.bstrVal), u"77");

  VARIANT b = variantOf(VT_BOOL);
  b.boolVal = VARIANT_TRUE;
  ASSERT_EQ(VariantChangeType(&out, &b, 0, VT_BSTR), S_OK);
  EXPECT_EQ(textOf(out.bstrVal), u"-1");
  ASSERT_EQ(VariantChangeType(&out, &b, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
  EXPECT_EQ(textOf(out.bstrVal), u"True");
  VariantClear(&out);
  for (auto [text, value] : {std::pair{u"True", VARIANT_TRUE},
                             {u"false", VARIANT_FALSE},
                             {u"0", VARIANT_FALSE},
                             {u"5", VARIANT_TRUE}}) {
    ASSERT_EQ(coerceString(text, VT_BOOL, &out), S_OK);
    EXPECT_EQ(out.boolVal, value);
  }
  EXPECT_EQ(coerceString(u"abc", VT_BOOL, &out), DISP_E_TYPEMISMATCH);

  // The edges of the 64-bit types.
  VARIANT r = variantOf(VT_R8);
  r.dblVal = 9223372036854775808.0;  // 2^63, one past the signed range
  EXPECT_EQ(VariantChangeType(&out, &r, 0, VT_I8), DISP_E_OVERFLOW);
  ASSERT_EQ(VariantChangeType(&out, &r, 0, VT_UI8), S_OK);
  EXPECT_EQ(out.ullVal, 9223372036854775808ull);
  ASSERT_EQ(coerceString(u"18446744073709551615", VT_UI8, &out), S_OK);
  EXPECT_EQ(out.ullVal, UINT64_MAX);
}

TEST(VariantClear, FreesStringsAndArraysButNotReferences) {
  // Every allocation here must be gone by the end; the sanitizer's leak check proves it.
  VARIANT s = bstrVariant(u"owned"), copy = variantOf(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&copy, &s), S_OK);
  EXPECT_NE(copy.bstrVal, s.bstrVal);
  EXPECT_EQ(VariantClear(&s), S_OK);
  EXPECT_EQ(s.vt, VT_EMPTY);
  VariantClear(&copy);

  VARIANT strings = variantOf(VT_ARRAY | VT_BSTR), variants = variantOf(VT_ARRAY | VT_VARIANT);
  strings.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  variants.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  ASSERT_TRUE(strings.parray && variants.parray);
  static_cast<BSTR*>(strings.parray->pvData)[1] = SysAllocString(u"two");
  static_cast<VARIANT*>(variants.parray->pvData)[0] = bstrVariant(u"inner");
  VARIANT deep = variantOf(VT_EMPTY);
  ASSERT_EQ(VariantCopy(&deep, &strings), S_OK);
  BSTR copied = static_cast<BSTR*>(deep.parray->pvData)[1];
  EXPECT_NE(copied, static_cast<BSTR*>(strings.parray->pvData)[1]);
  EXPECT_EQ(textOf(copied), u"two");

  // A locked array is refused and kept, not dropped.
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(strings.parray, &data), S_OK);
  EXPECT_EQ(VariantClear(&strings), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(strings.vt, VT_ARRAY | VT_BSTR);
  ASSERT_EQ(SafeArrayUnaccessData(strings.parray), S_OK);
  EXPECT_EQ(VariantClear(&strings), S_OK);
  EXPECT_EQ(VariantClear(&variants), S_OK);
  EXPECT_EQ(VariantClear(&deep), S_OK);

  BSTR held = SysAllocString(u"held");  // a reference belongs to someone else
  VARIANT ref = variantOf(VT_BSTR | VT_BYREF);
  ref.pbstrVal = &held;
  EXPECT_EQ(VariantClear(&ref), S_OK);
  EXPECT_EQ(textOf(held), u"held");
  SysFreeString(held);
}

TEST(SafeArray, ByteVectorAndTwoDimensionalBounds) {
  SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 5);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(boundsOf(bytes, 1), std::make_pair(0, 4));
  VARTYPE vt = VT_EMPTY;
  ASSERT_EQ(SafeArrayGetVartype(bytes, &vt), S_OK);
  EXPECT_EQ(vt, VT_UI1);
  EXPECT_EQ(SafeArrayDestroy(bytes), S_OK);

  // Dimension 1 is the leftmost one handed to SafeArrayCreate; it is stored last.
  SAFEARRAYBOUND bounds[2] = {{3, 1}, {4, -2}};
  SAFEARRAY* grid = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(grid, nullptr);
  SAFEARRAY* copied = nullptr;
  ASSERT_EQ(SafeArrayCopy(grid, &copied), S_OK);
  for (SAFEARRAY* a : {grid, copied}) {
    EXPECT_EQ(a->rgsabound[0].cElements, 4u);
    EXPECT_EQ(boundsOf(a, 1), std::make_pair(1, 3));
    EXPECT_EQ(boundsOf(a, 2), std::make_pair(-2, 1));
    LONG unused;
    EXPECT_EQ(SafeArrayGetLBound(a, 0, &unused), DISP_E_BADINDEX);
  }
  SafeArrayDestroy(grid);
  SafeArrayDestroy(copied);
}
