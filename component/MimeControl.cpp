#include "component/MimeControl.h"

#include <cstring>

#include "component/IVorlundMime.h"

namespace {

constexpr const char kControlText[] = "ATL 3.0 : VorlundMime";
constexpr DWORD kStreamLayoutVersion = 1;

// A method that does nothing for this control: its out-pointer, if any, is nulled.
template <typename T>
HRESULT notImplemented(T* out) {
  if (out != nullptr) std::memset(out, 0, sizeof *out);
  return E_NOTIMPL;
}
HRESULT notImplemented() { return E_NOTIMPL; }

void putLong(BYTE* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<BYTE>(v >> (8 * i));
}
uint32_t getLong(const BYTE* at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(at[i]) << (8 * i);
  return v;
}

}  // namespace

void* MimeControl::find(REFIID riid) {
  if (riid == IID_IViewObjectEx) return static_cast<IViewObjectEx*>(this);
  if (riid == IID_IViewObject2) return static_cast<IViewObject2*>(this);
  if (riid == IID_IViewObject) return static_cast<IViewObject*>(this);
  if (riid == IID_IOleInPlaceObjectWindowless)
    return static_cast<IOleInPlaceObjectWindowless*>(this);
  if (riid == IID_IOleInPlaceObject) return static_cast<IOleInPlaceObject*>(this);
  if (riid == IID_IOleWindow)
    return static_cast<IOleWindow*>(static_cast<IOleInPlaceObjectWindowless*>(this));
  if (riid == IID_IOleInPlaceActiveObject) return static_cast<IOleInPlaceActiveObject*>(this);
  if (riid == IID_IOleControl) return static_cast<IOleControl*>(this);
  if (riid == IID_IOleObject) return static_cast<IOleObject*>(this);
  if (riid == IID_IPersistStreamInit) return static_cast<IPersistStreamInit*>(this);
  if (riid == IID_IPersist) return static_cast<IPersist*>(static_cast<IPersistStreamInit*>(this));
  if (riid == IID_ISpecifyPropertyPages) return static_cast<ISpecifyPropertyPages*>(this);
  if (riid == IID_IQuickActivate) return static_cast<IQuickActivate*>(this);
  if (riid == IID_IPersistStorage) return static_cast<IPersistStorage*>(this);
  if (riid == IID_IDataObject) return static_cast<IDataObject*>(this);
  if (riid == IID_IProvideClassInfo2) return static_cast<IProvideClassInfo2*>(this);
  if (riid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo*>(this);
  if (riid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
  return nullptr;
}

// --- the extent

HRESULT MimeControl::SetExtent(DWORD drawAspect, SIZEL* size) {
  if (drawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (size == nullptr) return E_POINTER;
  if (size->cx < 0 || size->cy < 0) return E_INVALIDARG;
  if (size->cx != extent_.cx || size->cy != extent_.cy) dirty_ = true;
  extent_ = *size;
  return S_OK;
}

HRESULT MimeControl::GetExtent(DWORD drawAspect, SIZEL* size) {
  if (size == nullptr) return E_POINTER;
  if (drawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

HRESULT MimeControl::GetExtent(DWORD drawAspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(drawAspect, size);
}

HRESULT MimeControl::GetNaturalExtent(DWORD aspect, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*,
                                      LPSIZEL size) {
  if (size == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = {kNaturalExtent, kNaturalExtent};
  return S_OK;
}

HRESULT MimeControl::SetContentExtent(LPSIZEL size) { return SetExtent(DVASPECT_CONTENT, size); }

HRESULT MimeControl::GetContentExtent(LPSIZEL size) { return GetExtent(DVASPECT_CONTENT, size); }

// --- drawing

HRESULT MimeControl::Draw(DWORD drawAspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC draw,
                          LPCRECTL bounds, LPCRECTL, BOOL (*)(ULONG_PTR), ULONG_PTR) {
  if (drawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  // Windowless, the bounds are the only place to draw.
  if (draw == nullptr || bounds == nullptr) return E_INVALIDARG;
  const RECTL& rc = *bounds;
  if (!Rectangle(draw, rc.left, rc.top, rc.right, rc.bottom)) return E_FAIL;
  const UINT previous = SetTextAlign(draw, TA_CENTER | TA_BASELINE);
  const BOOL drawn = TextOutA(draw, (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2,
                              kControlText, static_cast<int>(sizeof kControlText - 1));
  if (previous != GDI_ERROR) SetTextAlign(draw, previous);
  return drawn ? S_OK : E_FAIL;
}

// --- persistence

HRESULT MimeControl::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = CLSID_VorlundMime;
  return S_OK;
}

HRESULT MimeControl::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT MimeControl::InitNew() {
  extent_ = {kNaturalExtent, kNaturalExtent};
  dirty_ = false;
  return S_OK;
}

// The extent changes only when the whole record has been read and is sound.
HRESULT MimeControl::Load(LPSTREAM stream) {
  if (stream == nullptr) return E_POINTER;
  BYTE record[kStreamSize];
  ULONG read = 0;
  const HRESULT hr = stream->Read(record, kStreamSize, &read);
  if (FAILED(hr)) return hr;
  if (read != kStreamSize) return STG_E_READFAULT;
  if (getLong(record) != kStreamLayoutVersion) return STG_E_OLDFORMAT;
  const auto cx = static_cast<LONG>(getLong(record + 4));
  const auto cy = static_cast<LONG>(getLong(record + 8));
  if (cx < 0 || cy < 0) return E_INVALIDARG;
  extent_ = {cx, cy};
  dirty_ = false;
  return S_OK;
}

HRESULT MimeControl::Save(LPSTREAM stream, BOOL clearDirty) {
  if (stream == nullptr) return E_POINTER;
  BYTE record[kStreamSize];
  putLong(record, kStreamLayoutVersion);
  putLong(record + 4, static_cast<uint32_t>(extent_.cx));  // _cx
  putLong(record + 8, static_cast<uint32_t>(extent_.cy));  // _cy
  ULONG written = 0;
  const HRESULT hr = stream->Write(record, kStreamSize, &written);
  if (FAILED(hr)) return hr;
  if (written != kStreamSize) return STG_E_WRITEFAULT;
  if (clearDirty) dirty_ = false;
  return S_OK;
}

HRESULT MimeControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (size == nullptr) return E_POINTER;
  size->QuadPart = kStreamSize;
  return S_OK;
}

HRESULT MimeControl::InitNew(IStorage*) { return notImplemented(); }
HRESULT MimeControl::Load(IStorage*) { return notImplemented(); }
HRESULT MimeControl::Save(IStorage*, BOOL) { return notImplemented(); }
HRESULT MimeControl::SaveCompleted(IStorage*) { return notImplemented(); }
HRESULT MimeControl::HandsOffStorage() { return notImplemented(); }

// --- class information, property pages, error information

HRESULT MimeControl::GetUserClassID(CLSID* clsid) { return GetClassID(clsid); }

HRESULT MimeControl::GetPages(CAUUID* pages) {
  if (pages == nullptr) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

HRESULT MimeControl::GetClassInfo(ITypeInfo** typeInfo) { return notImplemented(typeInfo); }

HRESULT MimeControl::GetGUID(DWORD kind, GUID* guid) {
  if (guid == nullptr) return E_POINTER;
  *guid = GUID_NULL;
  return kind == GUIDKIND_DEFAULT_SOURCE_DISP_IID ? E_FAIL : E_INVALIDARG;
}

HRESULT MimeControl::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_IVorlundMime ? S_OK : S_FALSE;
}

// --- what this control does not do

HRESULT MimeControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) {
  return notImplemented(colors);
}
HRESULT MimeControl::Freeze(DWORD, LONG, void*, DWORD* freeze) { return notImplemented(freeze); }
HRESULT MimeControl::Unfreeze(DWORD) { return notImplemented(); }
HRESULT MimeControl::SetAdvise(DWORD, DWORD, IAdviseSink*) { return notImplemented(); }
HRESULT MimeControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  notImplemented(aspects);
  notImplemented(flags);
  return notImplemented(sink);
}
HRESULT MimeControl::GetRect(DWORD, LPRECTL rect) { return notImplemented(rect); }
HRESULT MimeControl::GetViewStatus(DWORD* status) { return notImplemented(status); }
HRESULT MimeControl::QueryHitPoint(DWORD, LPCRECT, POINT, LONG, DWORD* hitResult) {
  return notImplemented(hitResult);
}
HRESULT MimeControl::QueryHitRect(DWORD, LPCRECT, LPCRECT, LONG, DWORD* hitResult) {
  return notImplemented(hitResult);
}

HRESULT MimeControl::GetWindow(HWND* window) { return notImplemented(window); }
HRESULT MimeControl::ContextSensitiveHelp(BOOL) { return notImplemented(); }
HRESULT MimeControl::InPlaceDeactivate() { return notImplemented(); }
HRESULT MimeControl::UIDeactivate() { return notImplemented(); }
HRESULT MimeControl::SetObjectRects(LPCRECT, LPCRECT) { return notImplemented(); }
HRESULT MimeControl::ReactivateAndUndo() { return notImplemented(); }
HRESULT MimeControl::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
  return notImplemented(result);
}
HRESULT MimeControl::GetDropTarget(IDropTarget** target) { return notImplemented(target); }
HRESULT MimeControl::TranslateAccelerator(LPMSG) { return notImplemented(); }
HRESULT MimeControl::OnFrameWindowActivate(BOOL) { return notImplemented(); }
HRESULT MimeControl::OnDocWindowActivate(BOOL) { return notImplemented(); }
HRESULT MimeControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return notImplemented(); }
HRESULT MimeControl::EnableModeless(BOOL) { return notImplemented(); }

HRESULT MimeControl::GetControlInfo(CONTROLINFO*) { return notImplemented(); }
HRESULT MimeControl::OnMnemonic(MSG*) { return notImplemented(); }
HRESULT MimeControl::OnAmbientPropertyChange(DISPID) { return notImplemented(); }
HRESULT MimeControl::FreezeEvents(BOOL) { return notImplemented(); }

HRESULT MimeControl::SetClientSite(IOleClientSite*) { return notImplemented(); }
HRESULT MimeControl::GetClientSite(IOleClientSite** site) { return notImplemented(site); }
HRESULT MimeControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return notImplemented(); }
HRESULT MimeControl::Close(DWORD) { return notImplemented(); }
HRESULT MimeControl::SetMoniker(DWORD, IMoniker*) { return notImplemented(); }
HRESULT MimeControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  return notImplemented(moniker);
}
HRESULT MimeControl::InitFromData(IDataObject*, BOOL, DWORD) { return notImplemented(); }
HRESULT MimeControl::GetClipboardData(DWORD, IDataObject** data) { return notImplemented(data); }
HRESULT MimeControl::DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) {
  return notImplemented();
}
HRESULT MimeControl::EnumVerbs(IEnumOLEVERB** verbs) { return notImplemented(verbs); }
HRESULT MimeControl::Update() { return notImplemented(); }
HRESULT MimeControl::IsUpToDate() { return notImplemented(); }
HRESULT MimeControl::GetUserType(DWORD, LPOLESTR* userType) { return notImplemented(userType); }
HRESULT MimeControl::Advise(IAdviseSink*, DWORD* connection) { return notImplemented(connection); }
HRESULT MimeControl::Unadvise(DWORD) { return notImplemented(); }
HRESULT MimeControl::EnumAdvise(IEnumSTATDATA** advise) { return notImplemented(advise); }
HRESULT MimeControl::GetMiscStatus(DWORD, DWORD* status) { return notImplemented(status); }
HRESULT MimeControl::SetColorScheme(LOGPALETTE*) { return notImplemented(); }

HRESULT MimeControl::QuickActivate(QACONTAINER*, QACONTROL*) { return notImplemented(); }

HRESULT MimeControl::GetData(FORMATETC*, STGMEDIUM*) { return notImplemented(); }
HRESULT MimeControl::GetDataHere(FORMATETC*, STGMEDIUM*) { return notImplemented(); }
HRESULT MimeControl::QueryGetData(FORMATETC*) { return notImplemented(); }
HRESULT MimeControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) { return notImplemented(); }
HRESULT MimeControl::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return notImplemented(); }
HRESULT MimeControl::EnumFormatEtc(DWORD, IEnumFORMATETC** formats) {
  return notImplemented(formats);
}
HRESULT MimeControl::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection) {
  return notImplemented(connection);
}
HRESULT MimeControl::DUnadvise(DWORD) { return notImplemented(); }
HRESULT MimeControl::EnumDAdvise(IEnumSTATDATA** advise) { return notImplemented(advise); }
