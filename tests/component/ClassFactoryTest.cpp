// The module object and the class factory: DllGetClassObject's results, the lock count that
// DllCanUnloadNow reads (objects, part objects, server locks, a factory held from outside),
// and aggregation.
#include <gtest/gtest.h>

#include "component/ComModule.h"
#include "platform/OleControl.h"
#include "tests/component/MimeTestSupport.h"

namespace {

const GUID kOther = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

IClassFactory* factory() {
  void* p = nullptr;
  EXPECT_EQ(DllGetClassObject(CLSID_VorlundMime, IID_IClassFactory, &p), S_OK);
  return static_cast<IClassFactory*>(p);
}

// An object that aggregates a Mime object, as a host's own COM class would.
class Outer final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }  // lives on the test's stack

  IUnknown* inner = nullptr;
  ULONG refs = 1;
};

}  // namespace

TEST(ClassObject, OnlyTheMimeClassAndTheFactoryIsCached) {
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(kOther, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(DllGetClassObject(CLSID_VorlundMime, IID_IClassFactory, nullptr), E_POINTER);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(DllGetClassObject(CLSID_VorlundMime, IID_IDispatch, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);

  IClassFactory* a = factory();
  void* unknown = nullptr;
  ASSERT_EQ(DllGetClassObject(CLSID_VorlundMime, IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(unknown, a);
  static_cast<IUnknown*>(unknown)->Release();
  a->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(ModuleLockCount, CountsObjectsPartObjectsServerLocksAndHeldFactories) {
  ASSERT_EQ(moduleLockCount(), 0);
  ASSERT_EQ(DllCanUnloadNow(), S_OK);
  IClassFactory* f = factory();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a factory held from outside counts";
  f->AddRef();
  EXPECT_EQ(moduleLockCount(), 1) << "once, however many references";
  f->Release();

  void* p = nullptr;
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IVorlundMime, &p), S_OK);
  MimeRef m(static_cast<IVorlundMime*>(p));
  EXPECT_EQ(moduleLockCount(), 2);
  f->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "the object lives";
  ASSERT_EQ(loadMime(m, twoPartMessage()), 1);
  MimeRef part(partOf(m, 1));
  m.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "the part object lives";
  part.reset();
  EXPECT_EQ(DllCanUnloadNow(), S_OK);

  // An interface the object lacks: the object made for the request is freed at once.
  f = factory();
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(f->CreateInstance(nullptr, kOther, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(f->CreateInstance(nullptr, IID_IVorlundMime, nullptr), E_POINTER);
  EXPECT_EQ(moduleLockCount(), 1);

  // Server locks, and a FALSE without its TRUE, which must not uncount anything.
  EXPECT_EQ(f->LockServer(TRUE), S_OK);
  f->Release();
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  f = factory();
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  EXPECT_EQ(f->LockServer(FALSE), E_UNEXPECTED);
  f->Release();
  EXPECT_EQ(moduleLockCount(), 0);
  {
    MimeRef alive;
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST(Aggregation, TheOuterObjectOwnsIdentityAndReferences) {
  Outer outer;
  IClassFactory* f = factory();
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(f->CreateInstance(&outer, IID_IVorlundMime, &p), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(f->CreateInstance(&outer, IID_IUnknown, &p), S_OK);
  f->Release();
  outer.inner = static_cast<IUnknown*>(p);
  EXPECT_EQ(outer.refs, 1u) << "the inner unknown's reference is the object's own";
  EXPECT_EQ(moduleLockCount(), 1);

  // Asked through the outer object, the Mime object's interfaces count on the outer one.
  void* mime = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IVorlundMime, &mime), S_OK);
  auto* vm = static_cast<IVorlundMime*>(mime);
  EXPECT_EQ(outer.refs, 2u);
  void* identity = nullptr;
  ASSERT_EQ(vm->QueryInterface(IID_IUnknown, &identity), S_OK);
  EXPECT_EQ(identity, &outer);
  EXPECT_EQ(outer.refs, 3u);
  static_cast<IUnknown*>(identity)->Release();
  vm->Release();

  // The inner unknown is the one pointer that does not delegate; its last Release frees the
  // object.
  void* again = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IUnknown, &again), S_OK);
  EXPECT_EQ(again, outer.inner);
  EXPECT_EQ(outer.inner->Release(), 1u);
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}
