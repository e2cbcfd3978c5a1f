// The OLE interfaces that make an object an embeddable control (view, in-place activation,
// persistence, class information, error information), as abstract classes in vtable order.
// Structures that are only passed by pointer stay incomplete.
#pragma once

#include <cstdint>

#include "platform/Com.h"
#include "platform/Gdi.h"
#include "platform/Stream.h"

typedef uintptr_t ULONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

struct MSG;
typedef MSG* LPMSG;
struct LOGPALETTE;
struct DVTARGETDEVICE;
struct DVEXTENTINFO;
struct FORMATETC;
struct STGMEDIUM;
struct CONTROLINFO;
struct QACONTAINER;
struct QACONTROL;
struct IAdviseSink;
struct IDataObject;
struct IDropTarget;
struct IEnumFORMATETC;
struct IEnumOLEVERB;
struct IEnumSTATDATA;
struct IMoniker;
struct IOleClientSite;
struct IOleInPlaceUIWindow;
struct IStorage;

// A counted array of GUIDs in task memory.
struct CAUUID {
  ULONG cElems;
  GUID* pElems;
};

constexpr DWORD DVASPECT_CONTENT = 1;
constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;

extern const IID IID_IOleWindow;
extern const IID IID_IOleInPlaceObject;
extern const IID IID_IOleInPlaceObjectWindowless;
extern const IID IID_IOleInPlaceActiveObject;
extern const IID IID_IOleControl;
extern const IID IID_IOleObject;
extern const IID IID_IViewObject;
extern const IID IID_IViewObject2;
extern const IID IID_IViewObjectEx;
extern const IID IID_IPersist;
extern const IID IID_IPersistStreamInit;
extern const IID IID_IPersistStorage;
extern const IID IID_ISpecifyPropertyPages;
extern const IID IID_IQuickActivate;
extern const IID IID_IDataObject;
extern const IID IID_IProvideClassInfo;
extern const IID IID_IProvideClassInfo2;
extern const IID IID_ISupportErrorInfo;

struct IOleWindow : IUnknown {
  virtual HRESULT GetWindow(HWND* window) = 0;
  virtual HRESULT ContextSensitiveHelp(BOOL enterMode) = 0;

 protected:
  ~IOleWindow() = default;
};

struct IOleInPlaceObject : IOleWindow {
  virtual HRESULT InPlaceDeactivate() = 0;
  virtual HRESULT UIDeactivate() = 0;
  virtual HRESULT SetObjectRects(LPCRECT position, LPCRECT clip) = 0;
  virtual HRESULT ReactivateAndUndo() = 0;

 protected:
  ~IOleInPlaceObject() = default;
};

struct IOleInPlaceObjectWindowless : IOleInPlaceObject {
  virtual HRESULT OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;
  virtual HRESULT GetDropTarget(IDropTarget** target) = 0;

 protected:
  ~IOleInPlaceObjectWindowless() = default;
};

struct IOleInPlaceActiveObject : IOleWindow {
  virtual HRESULT TranslateAccelerator(LPMSG msg) = 0;
  virtual HRESULT OnFrameWindowActivate(BOOL activate) = 0;
  virtual HRESULT OnDocWindowActivate(BOOL activate) = 0;
  virtual HRESULT ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) = 0;
  virtual HRESULT EnableModeless(BOOL enable) = 0;

 protected:
  ~IOleInPlaceActiveObject() = default;
};

struct IOleControl : IUnknown {
  virtual HRESULT GetControlInfo(CONTROLINFO* info) = 0;
  virtual HRESULT OnMnemonic(MSG* msg) = 0;
  virtual HRESULT OnAmbientPropertyChange(DISPID dispId) = 0;
  virtual HRESULT FreezeEvents(BOOL freeze) = 0;

 protected:
  ~IOleControl() = default;
};

struct IOleObject : IUnknown {
  virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
  virtual HRESULT GetClientSite(IOleClientSite** site) = 0;
  virtual HRESULT SetHostNames(LPCOLESTR app, LPCOLESTR object) = 0;
  virtual HRESULT Close(DWORD saveOption) = 0;
  virtual HRESULT SetMoniker(DWORD which, IMoniker* moniker) = 0;
  virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
  virtual HRESULT InitFromData(IDataObject* data, BOOL creation, DWORD reserved) = 0;
  virtual HRESULT GetClipboardData(DWORD reserved, IDataObject** data) = 0;
  virtual HRESULT DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent,
                         LPCRECT position) = 0;
  virtual HRESULT EnumVerbs(IEnumOLEVERB** verbs) = 0;
  virtual HRESULT Update() = 0;
  virtual HRESULT IsUpToDate() = 0;
  virtual HRESULT GetUserClassID(CLSID* clsid) = 0;
  virtual HRESULT GetUserType(DWORD form, LPOLESTR* userType) = 0;
  virtual HRESULT SetExtent(DWORD drawAspect, SIZEL* size) = 0;
  virtual HRESULT GetExtent(DWORD drawAspect, SIZEL* size) = 0;
  virtual HRESULT Advise(IAdviseSink* sink, DWORD* connection) = 0;
  virtual HRESULT Unadvise(DWORD connection) = 0;
  virtual HRESULT EnumAdvise(IEnumSTATDATA** advise) = 0;
  virtual HRESULT GetMiscStatus(DWORD aspect, DWORD* status) = 0;
  virtual HRESULT SetColorScheme(LOGPALETTE* palette) = 0;

 protected:
  ~IOleObject() = default;
};

struct IViewObject : IUnknown {
  virtual HRESULT Draw(DWORD drawAspect, LONG index, void* aspect, DVTARGETDEVICE* device,
                       HDC targetDevice, HDC draw, LPCRECTL bounds, LPCRECTL windowBounds,
                       BOOL (*shouldContinue)(ULONG_PTR), ULONG_PTR continueArg) = 0;
  virtual HRESULT GetColorSet(DWORD drawAspect, LONG index, void* aspect, DVTARGETDEVICE* device,
                              HDC targetDevice, LOGPALETTE** colors) = 0;
  virtual HRESULT Freeze(DWORD drawAspect, LONG index, void* aspect, DWORD* freeze) = 0;
  virtual HRESULT Unfreeze(DWORD freeze) = 0;
  virtual HRESULT SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) = 0;
  virtual HRESULT GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) = 0;

 protected:
  ~IViewObject() = default;
};

struct IViewObject2 : IViewObject {
  virtual HRESULT GetExtent(DWORD drawAspect, LONG index, DVTARGETDEVICE* device, LPSIZEL size) = 0;

 protected:
  ~IViewObject2() = default;
};

struct IViewObjectEx : IViewObject2 {
  virtual HRESULT GetRect(DWORD aspect, LPRECTL rect) = 0;
  virtual HRESULT GetViewStatus(DWORD* status) = 0;
  virtual HRESULT QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint,
                                DWORD* hitResult) = 0;
  virtual HRESULT QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG closeHint,
                               DWORD* hitResult) = 0;
  virtual HRESULT GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device,
                                   HDC targetDevice, DVEXTENTINFO* info, LPSIZEL size) = 0;

 protected:
  ~IViewObjectEx() = default;
};

struct IPersist : IUnknown {
  virtual HRESULT GetClassID(CLSID* clsid) = 0;

 protected:
  ~IPersist() = default;
};

struct IPersistStreamInit : IPersist {
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(LPSTREAM stream) = 0;
  virtual HRESULT Save(LPSTREAM stream, BOOL clearDirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
  virtual HRESULT InitNew() = 0;

 protected:
  ~IPersistStreamInit() = default;
};

struct IPersistStorage : IPersist {
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT InitNew(IStorage* storage) = 0;
  virtual HRESULT Load(IStorage* storage) = 0;
  virtual HRESULT Save(IStorage* storage, BOOL sameAsLoad) = 0;
  virtual HRESULT SaveCompleted(IStorage* storage) = 0;
  virtual HRESULT HandsOffStorage() = 0;

 protected:
  ~IPersistStorage() = default;
};

struct ISpecifyPropertyPages : IUnknown {
  virtual HRESULT GetPages(CAUUID* pages) = 0;

 protected:
  ~ISpecifyPropertyPages() = default;
};

struct IQuickActivate : IUnknown {
  virtual HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) = 0;
  virtual HRESULT SetContentExtent(LPSIZEL size) = 0;
  virtual HRESULT GetContentExtent(LPSIZEL size) = 0;

 protected:
  ~IQuickActivate() = default;
};

struct IDataObject : IUnknown {
  virtual HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT QueryGetData(FORMATETC* format) = 0;
  virtual HRESULT GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) = 0;
  virtual HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) = 0;
  virtual HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) = 0;
  virtual HRESULT DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) = 0;
  virtual HRESULT DUnadvise(DWORD connection) = 0;
  virtual HRESULT EnumDAdvise(IEnumSTATDATA** advise) = 0;

 protected:
  ~IDataObject() = default;
};

struct IProvideClassInfo : IUnknown {
  virtual HRESULT GetClassInfo(ITypeInfo** typeInfo) = 0;

 protected:
  ~IProvideClassInfo() = default;
};

struct IProvideClassInfo2 : IProvideClassInfo {
  virtual HRESULT GetGUID(DWORD kind, GUID* guid) = 0;

 protected:
  ~IProvideClassInfo2() = default;
};

struct ISupportErrorInfo : IUnknown {
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};
