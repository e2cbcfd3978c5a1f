// The Mime object as an embeddable control: the interfaces a container asks for, all with
// the object's one identity; the extent and its persistence as _cx and _cy; the drawing; and
// the error information.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "component/ComModule.h"
#include "platform/OleControl.h"
#include "tests/component/MimeTestSupport.h"

namespace {

template <typename T>
T* ask(const MimeRef& m, REFIID riid) {
  void* p = nullptr;
  EXPECT_EQ(m->QueryInterface(riid, &p), S_OK);
  return static_cast<T*>(p);
}

// An interface pointer released at the end of its scope.
template <typename T>
struct Held {
  Held(const MimeRef& m, REFIID riid) : p(ask<T>(m, riid)) {}
  ~Held() {
    if (p != nullptr) p->Release();
  }
  T* operator->() const { return p; }
  T* p;
};

std::string streamBytes(IStream* s) {
  STATSTG stat;
  EXPECT_EQ(s->Stat(&stat, STATFLAG_NONAME), S_OK);
  std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
  EXPECT_EQ(s->Seek({0}, STREAM_SEEK_SET, nullptr), S_OK);
  ULONG read = 0;
  s->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
  EXPECT_EQ(s->Seek({0}, STREAM_SEEK_SET, nullptr), S_OK);
  return bytes;
}

IStream* streamOf(const std::string& bytes) {
  return SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<UINT>(bytes.size()));
}

SIZEL extentOf(const MimeRef& m) {
  Held<IOleObject> ole(m, IID_IOleObject);
  SIZEL size{-1, -1};
  EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, &size), S_OK);
  return size;
}

// A stream that takes only the first four bytes of a write, as a full medium does.
class FullStream final : public IStream {
 public:
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT Read(void*, ULONG, ULONG* read) override {
    *read = 0;
    return S_FALSE;
  }
  HRESULT Write(const void*, ULONG cb, ULONG* written) override {
    *written = cb < 4 ? cb : 4;
    return S_OK;
  }
  HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return S_OK; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }
};

}  // namespace

TEST(ControlSide, EveryControlInterfaceHasTheObjectsIdentityAndCount) {
  MimeRef m;
  void* identity = nullptr;
  ASSERT_EQ(m->QueryInterface(IID_IUnknown, &identity), S_OK);
  const IID* interfaces[] = {&IID_IViewObjectEx,
                             &IID_IViewObject2,
                             &IID_IViewObject,
                             &IID_IOleInPlaceObjectWindowless,
                             &IID_IOleInPlaceObject,
                             &IID_IOleWindow,
                             &IID_IOleInPlaceActiveObject,
                             &IID_IOleControl,
                             &IID_IOleObject,
                             &IID_IPersistStreamInit,
                             &IID_IPersist,
                             &IID_ISpecifyPropertyPages,
                             &IID_IQuickActivate,
                             &IID_IPersistStorage,
                             &IID_IDataObject,
                             &IID_IProvideClassInfo,
                             &IID_IProvideClassInfo2,
                             &IID_ISupportErrorInfo};
  std::vector<IUnknown*> held;
  for (const IID* iid : interfaces) {
    IUnknown* p = ask<IUnknown>(m, *iid);
    ASSERT_NE(p, nullptr) << guidToString(*iid);
    held.push_back(p);
    void* back = nullptr;
    ASSERT_EQ(p->QueryInterface(IID_IUnknown, &back), S_OK);
    EXPECT_EQ(back, identity) << guidToString(*iid);
    static_cast<IUnknown*>(back)->Release();
    // Every interface leads back to the others and to the object's own.
    void* mime = nullptr;
    ASSERT_EQ(p->QueryInterface(IID_IVorlundMime, &mime), S_OK);
    EXPECT_EQ(mime, m.get());
    m->Release();
  }
  // One reference count behind them all: the test's, the identity's, each interface's.
  EXPECT_EQ(m->AddRef(), 3u + held.size());
  m->Release();
  for (IUnknown* p : held) p->Release();
  static_cast<IUnknown*>(identity)->Release();
  EXPECT_EQ(m->AddRef(), 2u);
  m->Release();
  m.reset();
  EXPECT_EQ(moduleLockCount(), 0);
}

TEST(ControlSide, TheExtentStartsAtTwoInchesAndPersistsAsCxAndCy) {
  MimeRef m;
  Held<IOleObject> ole(m, IID_IOleObject);
  Held<IViewObjectEx> view(m, IID_IViewObjectEx);
  Held<IQuickActivate> quick(m, IID_IQuickActivate);
  Held<IPersistStreamInit> persist(m, IID_IPersistStreamInit);
  SIZEL size{0, 0};
  ASSERT_EQ(ole->GetExtent(DVASPECT_CONTENT, &size), S_OK);
  EXPECT_EQ(size.cx, 5080);
  EXPECT_EQ(size.cy, 5080);
  EXPECT_EQ(ole->GetExtent(4 /* DVASPECT_ICON */, &size), DV_E_DVASPECT);
  EXPECT_EQ(ole->GetExtent(DVASPECT_CONTENT, nullptr), E_POINTER);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);

  SIZEL wanted{1234, 567};
  ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &wanted), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_OK);
  size = {0, 0};
  EXPECT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size), S_OK);
  EXPECT_EQ(size.cx, 1234);
  EXPECT_EQ(size.cy, 567);
  EXPECT_EQ(quick->GetContentExtent(&size), S_OK);
  EXPECT_EQ(size.cx, 1234);
  EXPECT_EQ(view->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, &size), S_OK);
  EXPECT_EQ(size.cx, 5080) << "the natural extent does not move";
  SIZEL negative{-1, 10};
  EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &negative), E_INVALIDARG);

  // Saved: the layout version, then _cx and _cy, little-endian.
  ULARGE_INTEGER max{0};
  EXPECT_EQ(persist->GetSizeMax(&max), S_OK);
  EXPECT_EQ(max.QuadPart, 12u);
  IStream* stream = SHCreateMemStream(nullptr, 0);
  ASSERT_EQ(persist->Save(stream, TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  const std::string saved = streamBytes(stream);
  EXPECT_EQ(saved, std::string("\x01\0\0\0\xD2\x04\0\0\x37\x02\0\0", 12));
  CLSID clsid = GUID_NULL;
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_VorlundMime);

  // Loaded into another object.
  MimeRef other;
  {
    Held<IPersistStreamInit> loader(other, IID_IPersistStreamInit);
    ASSERT_EQ(loader->Load(stream), S_OK);
    EXPECT_EQ(loader->IsDirty(), S_FALSE);
  }
  stream->Release();
  EXPECT_EQ(extentOf(other).cx, 1234);
  EXPECT_EQ(extentOf(other).cy, 567);

  // A short record, another layout or negative sizes change nothing.
  const std::string bad[] = {
      saved.substr(0, 8), std::string("\x02\0\0\0", 4) + saved.substr(4),
      saved.substr(0, 4) + std::string("\xFF\xFF\xFF\xFF", 4) + saved.substr(8), std::string()};
  const HRESULT expected[] = {STG_E_READFAULT, STG_E_OLDFORMAT, E_INVALIDARG, STG_E_READFAULT};
  MimeRef fresh;
  Held<IPersistStreamInit> loader(fresh, IID_IPersistStreamInit);
  for (size_t i = 0; i < 4; ++i) {
    IStream* s = streamOf(bad[i]);
    EXPECT_EQ(loader->Load(s), expected[i]) << i;
    s->Release();
    EXPECT_EQ(extentOf(fresh).cx, 5080) << i;
  }
  EXPECT_EQ(loader->Load(nullptr), E_POINTER);

  // A write the medium cuts short is a failure, and the object stays dirty.
  FullStream full;
  SIZEL changed{100, 100};
  ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &changed), S_OK);
  EXPECT_EQ(persist->Save(&full, TRUE), STG_E_WRITEFAULT);
  EXPECT_EQ(persist->IsDirty(), S_OK);
  EXPECT_EQ(persist->InitNew(), S_OK);
  EXPECT_EQ(extentOf(m).cx, 5080);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
}

TEST(ControlSide, DrawsARectangleWithTheTextCentredOnIt) {
  MimeRef m;
  Held<IViewObject> view(m, IID_IViewObject);
  HDC dc = CreateRecordingDC();
  ASSERT_NE(dc, nullptr);
  const RECTL bounds{10, 20, 211, 121};
  ASSERT_EQ(
      view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
      S_OK);
  const std::vector<DrawRecord>& drawn = *recordedDrawing(dc);
  ASSERT_EQ(drawn.size(), 2u);
  EXPECT_EQ(drawn[0].kind, DrawRecord::Kind::kRectangle);
  EXPECT_EQ(drawn[0].rect.left, 10);
  EXPECT_EQ(drawn[0].rect.top, 20);
  EXPECT_EQ(drawn[0].rect.right, 211);
  EXPECT_EQ(drawn[0].rect.bottom, 121);
  EXPECT_EQ(drawn[1].kind, DrawRecord::Kind::kText);
  EXPECT_EQ(drawn[1].text, "ATL 3.0 : VorlundMime");
  EXPECT_EQ(drawn[1].at.x, 110);
  EXPECT_EQ(drawn[1].at.y, 70);
  EXPECT_EQ(drawn[1].align, TA_CENTER | TA_BASELINE);
  EXPECT_EQ(GetTextAlign(dc), TA_LEFT | TA_TOP) << "the context's alignment is given back";

  // Nothing to draw on, nowhere to draw, or another aspect: refused, nothing drawn.
  EXPECT_EQ(
      view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, nullptr, nullptr, nullptr, 0),
      E_INVALIDARG);
  EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, &bounds, nullptr,
                       nullptr, 0),
            E_INVALIDARG);
  EXPECT_EQ(view->Draw(4, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
            DV_E_DVASPECT);
  EXPECT_EQ(recordedDrawing(dc)->size(), 2u);
  EXPECT_TRUE(DeleteDC(dc));
}

TEST(ControlSide, ErrorInformationNoPagesAndNothingElseDone) {
  MimeRef m;
  Held<ISupportErrorInfo> errors(m, IID_ISupportErrorInfo);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IVorlundMime), S_OK);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IOleObject), S_FALSE);

  Held<ISpecifyPropertyPages> pages(m, IID_ISpecifyPropertyPages);
  CAUUID list{7, reinterpret_cast<GUID*>(8)};
  EXPECT_EQ(pages->GetPages(&list), S_OK);
  EXPECT_EQ(list.cElems, 0u);
  EXPECT_EQ(list.pElems, nullptr);

  Held<IProvideClassInfo2> info(m, IID_IProvideClassInfo2);
  GUID source = IID_IDispatch;
  EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), E_FAIL) << "no events";
  EXPECT_EQ(source, GUID_NULL);
  ITypeInfo* typeInfo = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(info->GetClassInfo(&typeInfo), E_NOTIMPL);
  EXPECT_EQ(typeInfo, nullptr);

  // The rest does nothing and leaves no garbage in what it would have returned.
  Held<IOleWindow> window(m, IID_IOleWindow);
  HWND hwnd = reinterpret_cast<HWND>(1);
  EXPECT_EQ(window->GetWindow(&hwnd), E_NOTIMPL);
  EXPECT_EQ(hwnd, nullptr);
}
