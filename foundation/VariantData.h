// Reading the bytes of a VARIANT that a caller of the COM interface passed as data.
#pragma once

#include <cstdint>

#include "platform/OleAuto.h"

// Points at the bytes the VARIANT holds: scalars as their own bytes, a BSTR as a fresh copy
// of its bytes (mustFree set; free with vorlundFree), any array as its data; VT_BYREF is
// followed, and an object is asked for its default property. Null and size 0 otherwise.
const unsigned char* getVariantData(const VARIANT* v, uint32_t& size, bool& mustFree);
