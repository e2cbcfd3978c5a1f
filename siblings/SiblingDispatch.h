// IDispatch for the sibling objects from a member table: names and DISPIDs, arguments
// coerced from what a script passes (strings and longs), results as VT_BSTR, VT_I4 or, for
// GetImpl's address, VT_I8.
#pragma once

#include <cstddef>

#include "platform/Com.h"

enum class SiblingType : unsigned char { kNone, kBstr, kLong, kPointer };

constexpr int kMaxSiblingArgs = 3;

struct SiblingArgs {
  BSTR bstr[kMaxSiblingArgs] = {};
  LONG lng[kMaxSiblingArgs] = {};
};
struct SiblingResult {
  BSTR bstr = nullptr;
  LONG lng = 0;
  intptr_t pointer = 0;
};

struct SiblingMember {
  const char16_t* name;
  DISPID dispId;
  WORD kind;  // DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT
  int argCount;
  SiblingType args[kMaxSiblingArgs];
  SiblingType result;
  HRESULT (*call)(void* self, const SiblingArgs& a, SiblingResult* r);
};

struct SiblingTable {
  const SiblingMember* members;
  size_t count;
};

HRESULT siblingGetIDsOfNames(const SiblingTable& table, LPOLESTR* names, UINT cNames, DISPID* ids);
// As IDispatch::Invoke: arguments in reverse order, a put's value as DISPID_PROPERTYPUT.
HRESULT siblingInvoke(const SiblingTable& table, void* self, DISPID id, WORD flags,
                      DISPPARAMS* params, VARIANT* result, UINT* argErr);
