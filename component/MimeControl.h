// The Mime object's face as an embeddable control: the view, in-place, persistence and
// class-information interfaces a container asks for. A host that only automates the object
// never reaches them. What acts: the extent (natural and initial 5080 x 5080 HIMETRIC, two
// inches square), its persistence as "_cx" and "_cy" through IPersistStreamInit, drawing a
// rectangle with the class's text centred on it, no property pages, and ISupportErrorInfo.
// Every other method returns E_NOTIMPL (out-pointers nulled).
//
// Stream layout written by Save and read by Load, little-endian: a DWORD layout version (1),
// then the properties in order, _cx and _cy, as 32-bit integers.
#pragma once

#include "platform/OleControl.h"

class MimeControl final : public IViewObjectEx,
                          public IOleInPlaceObjectWindowless,
                          public IOleInPlaceActiveObject,
                          public IOleControl,
                          public IOleObject,
                          public IPersistStreamInit,
                          public IPersistStorage,
                          public ISpecifyPropertyPages,
                          public IQuickActivate,
                          public IDataObject,
                          public IProvideClassInfo2,
                          public ISupportErrorInfo {
 public:
  static constexpr LONG kNaturalExtent = 5080;  // HIMETRIC, both ways
  static constexpr ULONG kStreamSize = 12;

  // `owner` is the object whose identity and reference count these interfaces share.
  explicit MimeControl(IUnknown& owner) : owner_(owner) {}
  MimeControl(const MimeControl&) = delete;
  MimeControl& operator=(const MimeControl&) = delete;
  ~MimeControl() = default;

  // The interface `riid` names among the control's, without a reference added; null when it
  // is not one of them.
  void* find(REFIID riid);

  // --- IUnknown, the owner's
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return owner_.QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return owner_.AddRef(); }
  ULONG Release() override { return owner_.Release(); }

  // --- IViewObject, IViewObject2, IViewObjectEx
  HRESULT Draw(DWORD drawAspect, LONG index, void* aspect, DVTARGETDEVICE* device, HDC targetDevice,
               HDC draw, LPCRECTL bounds, LPCRECTL windowBounds, BOOL (*shouldContinue)(ULONG_PTR),
               ULONG_PTR continueArg) override;
  HRESULT GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) override;
  HRESULT Freeze(DWORD, LONG, void*, DWORD* freeze) override;
  HRESULT Unfreeze(DWORD) override;
  HRESULT SetAdvise(DWORD, DWORD, IAdviseSink*) override;
  HRESULT GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  HRESULT GetExtent(DWORD drawAspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) override;
  HRESULT GetRect(DWORD, LPRECTL rect) override;
  HRESULT GetViewStatus(DWORD* status) override;
  HRESULT QueryHitPoint(DWORD, LPCRECT, POINT, LONG, DWORD* hitResult) override;
  HRESULT QueryHitRect(DWORD, LPCRECT, LPCRECT, LONG, DWORD* hitResult) override;
  HRESULT GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device, HDC targetDevice,
                           DVEXTENTINFO* info, LPSIZEL size) override;

  // --- IOleWindow, IOleInPlaceObject, IOleInPlaceObjectWindowless, IOleInPlaceActiveObject
  HRESULT GetWindow(HWND* window) override;
  HRESULT ContextSensitiveHelp(BOOL) override;
  HRESULT InPlaceDeactivate() override;
  HRESULT UIDeactivate() override;
  HRESULT SetObjectRects(LPCRECT, LPCRECT) override;
  HRESULT ReactivateAndUndo() override;
  HRESULT OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) override;
  HRESULT GetDropTarget(IDropTarget** target) override;
  HRESULT TranslateAccelerator(LPMSG) override;
  HRESULT OnFrameWindowActivate(BOOL) override;
  HRESULT OnDocWindowActivate(BOOL) override;
  HRESULT ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
  HRESULT EnableModeless(BOOL) override;

  // --- IOleControl
  HRESULT GetControlInfo(CONTROLINFO*) override;
  HRESULT OnMnemonic(MSG*) override;
  HRESULT OnAmbientPropertyChange(DISPID) override;
  HRESULT FreezeEvents(BOOL) override;

  // --- IOleObject
  HRESULT SetClientSite(IOleClientSite*) override;
  HRESULT GetClientSite(IOleClientSite** site) override;
  HRESULT SetHostNames(LPCOLESTR, LPCOLESTR) override;
  HRESULT Close(DWORD) override;
  HRESULT SetMoniker(DWORD, IMoniker*) override;
  HRESULT GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
  HRESULT InitFromData(IDataObject*, BOOL, DWORD) override;
  HRESULT GetClipboardData(DWORD, IDataObject** data) override;
  HRESULT DoVerb(LONG, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override;
  HRESULT EnumVerbs(IEnumOLEVERB** verbs) override;
  HRESULT Update() override;
  HRESULT IsUpToDate() override;
  HRESULT GetUserClassID(CLSID* clsid) override;
  HRESULT GetUserType(DWORD, LPOLESTR* userType) override;
  HRESULT SetExtent(DWORD drawAspect, SIZEL* size) override;
  HRESULT GetExtent(DWORD drawAspect, SIZEL* size) override;
  HRESULT Advise(IAdviseSink*, DWORD* connection) override;
  HRESULT Unadvise(DWORD) override;
  HRESULT EnumAdvise(IEnumSTATDATA** advise) override;
  HRESULT GetMiscStatus(DWORD, DWORD* status) override;
  HRESULT SetColorScheme(LOGPALETTE*) override;

  // --- IPersist, IPersistStreamInit, IPersistStorage
  HRESULT GetClassID(CLSID* clsid) override;
  HRESULT IsDirty() override;
  HRESULT Load(LPSTREAM stream) override;
  HRESULT Save(LPSTREAM stream, BOOL clearDirty) override;
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
  HRESULT InitNew() override;
  HRESULT InitNew(IStorage*) override;
  HRESULT Load(IStorage*) override;
  HRESULT Save(IStorage*, BOOL) override;
  HRESULT SaveCompleted(IStorage*) override;
  HRESULT HandsOffStorage() override;

  // --- ISpecifyPropertyPages, IQuickActivate
  HRESULT GetPages(CAUUID* pages) override;
  HRESULT QuickActivate(QACONTAINER*, QACONTROL*) override;
  HRESULT SetContentExtent(LPSIZEL size) override;
  HRESULT GetContentExtent(LPSIZEL size) override;

  // --- IDataObject
  HRESULT GetData(FORMATETC*, STGMEDIUM*) override;
  HRESULT GetDataHere(FORMATETC*, STGMEDIUM*) override;
  HRESULT QueryGetData(FORMATETC*) override;
  HRESULT GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override;
  HRESULT SetData(FORMATETC*, STGMEDIUM*, BOOL) override;
  HRESULT EnumFormatEtc(DWORD, IEnumFORMATETC** formats) override;
  HRESULT DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection) override;
  HRESULT DUnadvise(DWORD) override;
  HRESULT EnumDAdvise(IEnumSTATDATA** advise) override;

  // --- IProvideClassInfo, IProvideClassInfo2: no type information is handed out, and the
  // object has no event interface, so there is no default source.
  HRESULT GetClassInfo(ITypeInfo** typeInfo) override;
  HRESULT GetGUID(DWORD kind, GUID* guid) override;

  // --- ISupportErrorInfo: S_OK for IVorlundMime, S_FALSE for any other interface.
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

 private:
  IUnknown& owner_;
  SIZEL extent_{kNaturalExtent, kNaturalExtent};
  bool dirty_ = false;
};
