#include "component/MemberFrame.h"

#include "component/CVorlundMime.h"
#include "foundation/XString.h"

namespace {

constexpr const char* kDetached = "This part was removed from its message";

}  // namespace

MemberFrame::MemberFrame(CVorlundMime& object, const char* context) : object_(object) {
  object_.log().clearLog();
  object_.log().enterContext(context, true);
}

MemberFrame::~MemberFrame() { object_.log().leaveContext(); }

MimeMessage2* MemberFrame::entity() {
  MimeMessage2* e = object_.entity();
  if (e == nullptr && !detachedLogged_) {
    object_.log().logError(kDetached);
    detachedLogged_ = true;
  }
  return e;
}

LogBase* MemberFrame::log() { return &object_.log(); }

BSTR bstrFromUtf8(const StringBuffer& text) {
  XString s;
  s.setFromUtf8(text.getString());
  return s.createBSTR();
}
