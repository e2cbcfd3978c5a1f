// The members that read the log, and the object's own settings. None of them clears the log
// or enters a context: they render or change the object as it stands.
#include <string_view>

#include "component/CVorlundMime.h"
#include "component/MemberFrame.h"

// Scripts compare the Version member's answer; a new project version must not change it
// unnoticed.
static_assert(std::string_view(VORLUND_VERSION) == "3.0.1",
              "the Version member answers 3.0.1: change it on purpose, with its callers");

HRESULT CVorlundMime::get_Version(BSTR* version) {
  if (version == nullptr) return E_POINTER;
  *version = SysAllocString(u"" VORLUND_VERSION);
  return S_OK;
}

HRESULT CVorlundMime::get_LastErrorHtml(BSTR* html) {
  if (html == nullptr) return E_POINTER;
  StringBuffer out;
  log_.getErrorHtml(out);
  *html = bstrFromAnsi(out);
  return S_OK;
}

HRESULT CVorlundMime::get_LastErrorXml(BSTR* xml) {
  if (xml == nullptr) return E_POINTER;
  StringBuffer out;
  log_.getErrorXml(out);
  *xml = bstrFromAnsi(out);
  return S_OK;
}

HRESULT CVorlundMime::get_LastErrorText(BSTR* text) {
  if (text == nullptr) return E_POINTER;
  StringBuffer out;
  log_.getErrorText(out);
  *text = bstrFromAnsi(out);
  return S_OK;
}

// The host's path is passed on as the UTF-16 text it gave, so the file it named is the one
// written whatever the ANSI code page can represent.
HRESULT CVorlundMime::SaveLastError(BSTR fileName, LONG* success) {
  if (success == nullptr) return E_POINTER;
  *success = log_.saveErrorXml(false, fileName) ? 1 : 0;
  return S_OK;
}

HRESULT CVorlundMime::get_UnwrapExtras(LONG* value) {
  if (value == nullptr) return E_POINTER;
  *value = unwrapExtras_ ? 1 : 0;
  return S_OK;
}

HRESULT CVorlundMime::put_UnwrapExtras(LONG value) {
  unwrapExtras_ = value == 1;
  return S_OK;
}
