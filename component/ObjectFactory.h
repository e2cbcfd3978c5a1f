// Creating the Mime object inside the process, and the host's progress hook.
#pragma once

#include "component/LoadProgressHook.h"
#include "platform/Com.h"

// A new Mime object answering `riid` in *ppv with one reference; E_OUTOFMEMORY when memory
// runs out, E_NOINTERFACE for an interface the object does not have (*ppv null on failure).
HRESULT createVorlundMimeObject(REFIID riid, void** ppv);
// The same, aggregated into `outer` when it is not null: the object then delegates its
// IUnknown to `outer`, and `riid` must be IID_IUnknown, which gives the object's own
// (non-delegating) IUnknown (CLASS_E_NOAGGREGATION for any other).
HRESULT createVorlundMimeObject(IUnknown* outer, REFIID riid, void** ppv);
