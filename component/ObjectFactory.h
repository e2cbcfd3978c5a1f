// Creating the Mime object inside the process, and the host's progress hook.
#pragma once

#include "platform/Com.h"

class ProgressCallback;

// A new Mime object answering `riid` in *ppv with one reference; E_OUTOFMEMORY when memory
// runs out, E_NOINTERFACE for an interface the object does not have (*ppv null on failure).
HRESULT createVorlundMimeObject(REFIID riid, void** ppv);

// Lets a host that holds a Mime object of this module watch its long loads (LoadXml,
// LoadXmlFile, LoadMimeFile): `callback` (not owned, may be null to stop) hears the
// percentage as the text is read. False when `object` is not a Mime object of this module.
bool setLoadProgress(IUnknown* object, ProgressCallback* callback);
