#include <gtest/gtest.h>

#include <cstring>

#include "foundation/Memory.h"
#include "foundation/VariantData.h"
#include "platform/Com.h"

namespace {

// An object whose default property is a byte array, as a script's stream object offers.
class BytesObject : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    result->vt = VT_ARRAY | VT_UI1;
    result->parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    void* data = nullptr;
    SafeArrayAccessData(result->parray, &data);
    std::memcpy(data, "obj", 3);
    SafeArrayUnaccessData(result->parray);
    return S_OK;
  }
};

}  // namespace

TEST(VariantData, ScalarsStringsArraysAndReferences) {
  uint32_t size = 99;
  bool mustFree = true;
  VARIANT v;
  VariantInit(&v);

  v.vt = VT_I4;
  v.lVal = 0x01020304;
  const unsigned char* p = getVariantData(&v, size, mustFree);
  EXPECT_EQ(size, 4u);
  EXPECT_FALSE(mustFree);
  EXPECT_EQ(p, reinterpret_cast<const unsigned char*>(&v.lVal));

  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"abc");
  p = getVariantData(&v, size, mustFree);
  EXPECT_EQ(size, 6u);
  EXPECT_TRUE(mustFree);
  EXPECT_EQ(std::memcmp(p, "a\0b\0c\0\0\0", 8), 0);
  vorlundFree(const_cast<unsigned char*>(p));
  VariantClear(&v);

  v.vt = VT_BSTR;
  v.bstrVal = nullptr;
  EXPECT_EQ(getVariantData(&v, size, mustFree), nullptr);
  EXPECT_EQ(size, 0u);

  // A 2 x 3 array of 16-bit values is 12 bytes.
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
  v.vt = VT_ARRAY | VT_I2;
  v.parray = SafeArrayCreate(VT_I2, 2, bounds);
  getVariantData(&v, size, mustFree);
  EXPECT_EQ(size, 12u);
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_VARIANT | VT_BYREF;
  ref.pvarVal = &v;
  getVariantData(&ref, size, mustFree);
  EXPECT_EQ(size, 12u);
  VariantClear(&v);

  v.vt = VT_DATE;
  EXPECT_EQ(getVariantData(&v, size, mustFree), nullptr);
  EXPECT_EQ(size, 0u);
}

TEST(VariantData, ObjectsAnswerWithTheirDefaultProperty) {
  BytesObject object;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = &object;
  uint32_t size = 0;
  bool mustFree = false;
  const unsigned char* p = getVariantData(&v, size, mustFree);
  ASSERT_EQ(size, 3u);
  EXPECT_TRUE(mustFree);
  EXPECT_EQ(std::memcmp(p, "obj", 3), 0);
  vorlundFree(const_cast<unsigned char*>(p));
}
