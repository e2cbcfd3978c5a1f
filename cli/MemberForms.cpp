#include "cli/MemberForms.h"

#include "component/MimeDispatch.h"

namespace {

// The member's forms; none for a name the table does not know (member names are ASCII).
unsigned char formsOf(const std::string& member) {
  std::u16string name;
  for (const char c : member) {
    if (static_cast<unsigned char>(c) >= 0x80) return 0;
    name.push_back(static_cast<char16_t>(c));
  }
  const MimeMember* m = findMimeMember(name.c_str());
  return m != nullptr ? m->forms : 0;
}

}  // namespace

bool takesUtf8Text(const std::string& member) {
  return (formsOf(member) & kMimeUtf8Arguments) != 0;
}
bool givesUtf8Text(const std::string& member) { return (formsOf(member) & kMimeUtf8Result) != 0; }
bool hasSuccessFlag(const std::string& member) { return (formsOf(member) & kMimeSuccessFlag) != 0; }
