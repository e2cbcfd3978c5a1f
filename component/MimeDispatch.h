// The Mime object's type information as a member table, and IDispatch on top of the
// IVorlundMime vtable: script hosts call members by name and pass loosely typed VARIANTs,
// which are coerced here to the types the vtable methods take.
#pragma once

#include <cstddef>

#include "component/IVorlundMime.h"
#include "component/SiblingInterfaces.h"

enum class MimeMemberKind : unsigned char { kMethod, kPropGet, kPropPut };

// The types a member's arguments and result have in the vtable.
enum class MimeValueType : unsigned char {
  kNone,     // no result
  kBstr,     // BSTR in, BSTR* out
  kLong,     // LONG in, LONG* out
  kVariant,  // VARIANT in (as the caller gave it), VARIANT* out
  kMime,     // IVorlundMime* in, IVorlundMime** out (handed to the host as VT_DISPATCH)
  kCert,     // IVorlundCert* in, IVorlundCert** out (handed to the host as VT_DISPATCH)
  kCsp,      // IVorlundCSP* in
};

constexpr int kMaxMimeArgs = 2;

// One argument after coercion. Nothing here is owned by the member called: the dispatcher
// frees coerced strings and releases interface references after the call.
struct MimeArgValue {
  BSTR bstr = nullptr;
  LONG lng = 0;
  VARIANT* variant = nullptr;
  IVorlundMime* mime = nullptr;
  IVorlundCert* cert = nullptr;
  IVorlundCSP* csp = nullptr;
};

// What a member returned through its out-parameter; the field for the member's result type
// is set, and the caller of the thunk owns it.
struct MimeResultValue {
  BSTR bstr = nullptr;
  LONG lng = 0;
  VARIANT variant{};  // VT_EMPTY
  IVorlundMime* mime = nullptr;
  IVorlundCert* cert = nullptr;
};

// Calls one vtable method with arguments in declaration order.
using MimeThunk = HRESULT (*)(IVorlundMime* self, const MimeArgValue* args,
                              MimeResultValue* result);

// How a member's strings cross the interface and what its long result means, for hosts that
// convert and report results (bits of MimeMember::forms). Strings are in the ANSI form
// unless a bit says UTF-8.
enum MimeForm : unsigned char {
  kMimeUtf8Arguments = 1,  // its string arguments are read in the UTF-8 form
  kMimeUtf8Result = 2,     // its string result is in the UTF-8 form
  kMimeSuccessFlag = 4,    // its long result is a success flag: 1 or 0
};

struct MimeMember {
  const char16_t* name;  // as in the type library; shared by a property's get and put
  DISPID dispId;
  unsigned char forms;  // MimeForm bits
  MimeMemberKind kind;
  int argCount;  // a put counts its value
  MimeValueType args[kMaxMimeArgs];
  MimeValueType result;
  MimeThunk call;
};

// Every member that can be called through IDispatch, in DISPID order (a property's get
// before its put).
const MimeMember* mimeMembers();
size_t mimeMemberCount();

// The first entry of that name, compared without regard to ASCII case (a property's get);
// null for an unknown name.
const MimeMember* findMimeMember(const char16_t* name);
// The entry for `dispId` that answers the DISPATCH_* bits in `flags` (a method answers
// DISPATCH_METHOD, a get DISPATCH_PROPERTYGET, a put DISPATCH_PROPERTYPUT); null when none.
const MimeMember* findMimeMember(DISPID dispId, WORD flags);

// IDispatch::GetIDsOfNames for the Mime object. names[0] is the member; names after it
// would be parameter names, which have no identifiers here. Every name not known gets
// DISPID_UNKNOWN and the result is DISP_E_UNKNOWNNAME; S_OK when all were found.
HRESULT mimeGetIDsOfNames(LPOLESTR* names, UINT cNames, DISPID* dispIds);

// IDispatch::Invoke for the Mime object, with OLE Automation's argument handling:
// arguments in reverse order, coerced to the member's types (references followed); a put
// takes its value as the named argument DISPID_PROPERTYPUT. Errors: DISP_E_MEMBERNOTFOUND,
// DISP_E_NONAMEDARGS, DISP_E_PARAMNOTFOUND, DISP_E_BADPARAMCOUNT, a coercion's failure with
// *argErr = the failing argument's index in rgvarg. A failure of the member itself is
// returned as it is. `result` may be null (what the member returned is then freed);
// `excepInfo` is never written, since the members raise no exceptions.
HRESULT mimeInvoke(IVorlundMime* self, DISPID dispId, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr);
