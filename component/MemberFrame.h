// The sequence every member that works on the entity tree runs in, and the string forms its
// arguments and results cross the interface in.
#pragma once

#include "foundation/StringBuffer.h"
#include "platform/OleAuto.h"

class CVorlundMime;
class LogBase;
class MimeMessage2;

// Drops the previous call's log, enters the member's context, and leaves it exactly once on
// every path out, the early returns of failed checks included.
class MemberFrame {
 public:
  MemberFrame(CVorlundMime& object, const char* context);
  ~MemberFrame();
  MemberFrame(const MemberFrame&) = delete;
  MemberFrame& operator=(const MemberFrame&) = delete;

  // The entity to work on; null when it no longer exists, which is logged once per call.
  // Asked again after a call out to another object, which may have changed the tree.
  MimeMessage2* entity();
  LogBase* log();

 private:
  CVorlundMime& object_;
  bool detachedLogged_ = false;
};

// Results in the ANSI form (the active ANSI code page) and the UTF-8 form, as BSTRs of
// exactly the converted length; an empty text gives a zero-length BSTR, never a null one.
inline BSTR bstrFromAnsi(const StringBuffer& text) { return text.createBSTR(); }
BSTR bstrFromUtf8(const StringBuffer& text);
inline BSTR emptyBstr() { return SysAllocStringLen(nullptr, 0); }
