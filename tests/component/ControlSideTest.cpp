// The Mime object as an embeddable control: the interfaces a container asks for, all with
// the object's one identity; the extent and its persistence as _cx and _cy; the drawing; and
// the error information.
#include <gtest/gtest.h>

#include <vector>

#include "platform/OleControl.h"
#include "tests/component/MimeTestSupport.h"

namespace {

// An interface pointer released at the end of its scope.
template <typename T>
struct Held {
  Held(const MimeRef& m, REFIID riid) {
    void* v = nullptr;
    EXPECT_EQ(m->QueryInterface(riid, &v), S_OK);
    p = static_cast<T*>(v);
  }
  ~Held() {
    if (p != nullptr) p->Release();
  }
  T* operator->() const { return p; }
  T* p;
};

SIZEL extentOf(const MimeRef& m) {
  SIZEL size{-1, -1};
  EXPECT_EQ(Held<IOleObject>(m, IID_IOleObject)->GetExtent(DVASPECT_CONTENT, &size), S_OK);
  return size;
}

}  // namespace

TEST(ControlSide, EveryControlInterfaceHasTheObjectsIdentityAndMostDoNothing) {
  MimeRef m;
  const IID* interfaces[] = {&IID_IViewObjectEx,
                             &IID_IOleInPlaceObjectWindowless,
                             &IID_IOleInPlaceActiveObject,
                             &IID_IOleControl,
                             &IID_IOleObject,
                             &IID_IPersistStreamInit,
                             &IID_IQuickActivate,
                             &IID_IPersistStorage,
                             &IID_IDataObject,
                             &IID_IProvideClassInfo2,
                             &IID_ISupportErrorInfo};
  for (const IID* iid : interfaces) {
    Held<IUnknown> p(m, *iid);
    ASSERT_NE(p.p, nullptr) << guidToString(*iid);
    void* mime = nullptr;
    ASSERT_EQ(p->QueryInterface(IID_IVorlundMime, &mime), S_OK);
    EXPECT_EQ(mime, m.get());
    m->Release();
  }
  // Error information for the object's own interface only.
  Held<ISupportErrorInfo> errors(m, IID_ISupportErrorInfo);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IVorlundMime), S_OK);
  EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  // The rest does nothing and leaves no garbage in what it would have returned.
  HWND hwnd = reinterpret_cast<HWND>(1);
  EXPECT_EQ(Held<IOleWindow>(m, IID_IOleWindow)->GetWindow(&hwnd), E_NOTIMPL);
  EXPECT_EQ(hwnd, nullptr);
}

TEST(ControlSide, TheExtentStartsAtTwoInchesAndPersistsAsCxAndCy) {
  MimeRef m;
  Held<IOleObject> ole(m, IID_IOleObject);
  Held<IPersistStreamInit> persist(m, IID_IPersistStreamInit);
  EXPECT_EQ(extentOf(m).cx, 5080);
  EXPECT_EQ(extentOf(m).cy, 5080);
  SIZEL wanted{1234, 567};
  ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &wanted), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_OK);

  // Saved: the layout version, then _cx and _cy, little-endian.
  IStream* stream = SHCreateMemStream(nullptr, 0);
  ASSERT_EQ(persist->Save(stream, TRUE), S_OK);
  STATSTG stat;
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  std::string saved(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
  ULONG read = 0;
  stream->Seek({0}, STREAM_SEEK_SET, nullptr);
  stream->Read(saved.data(), static_cast<ULONG>(saved.size()), &read);
  EXPECT_EQ(saved, std::string("\x01\0\0\0\xD2\x04\0\0\x37\x02\0\0", 12));

  MimeRef other;
  stream->Seek({0}, STREAM_SEEK_SET, nullptr);
  EXPECT_EQ(Held<IPersistStreamInit>(other, IID_IPersistStreamInit)->Load(stream), S_OK);
  stream->Release();
  EXPECT_EQ(extentOf(other).cx, 1234);
  EXPECT_EQ(extentOf(other).cy, 567);

  // A short record changes nothing.
  MimeRef fresh;
  IStream* cut = SHCreateMemStream(reinterpret_cast<const BYTE*>(saved.data()), 8);
  EXPECT_EQ(Held<IPersistStreamInit>(fresh, IID_IPersistStreamInit)->Load(cut), STG_E_READFAULT);
  cut->Release();
  EXPECT_EQ(extentOf(fresh).cx, 5080);
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
  EXPECT_EQ(drawn[0].rect.right, 211);
  EXPECT_EQ(drawn[1].text, "ATL 3.0 : VorlundMime");
  EXPECT_EQ(drawn[1].at.x, 110);
  EXPECT_EQ(drawn[1].at.y, 70);
  EXPECT_EQ(drawn[1].align, TA_CENTER | TA_BASELINE);
  EXPECT_TRUE(DeleteDC(dc));
}
