// The list of strings a provider object hands out (IVrStringArray), held as the UTF-16 text it
// was given.
#include <string>
#include <string_view>
#include <vector>

#include "siblings/SiblingDispatch.h"
#include "siblings/SiblingsModule.h"

namespace {

extern const SiblingTable kArrayTable;

char16_t folded(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }

bool sameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (folded(a[i]) != folded(b[i])) return false;
  return true;
}

std::u16string_view textOf(BSTR s) {
  return s != nullptr ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view();
}

class CVrStringArray final : public SiblingObject<IVrStringArray> {
 public:
  CVrStringArray() : SiblingObject(IID_IVrStringArray, kArrayTable) {}

  HRESULT get_Count(LONG* count) override {
    if (count == nullptr) return E_POINTER;
    *count = LONG(strings_.size());
    return S_OK;
  }
  HRESULT GetString(LONG index, BSTR* value) override {
    if (value == nullptr) return E_POINTER;
    const bool inside = index >= 0 && size_t(index) < strings_.size();
    const std::u16string_view s = inside ? std::u16string_view(strings_[size_t(index)]) : u"";
    *value = SysAllocStringLen(s.data(), UINT(s.size()));
    return *value != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT Append(BSTR value) override {
    strings_.emplace_back(textOf(value));
    return S_OK;
  }
  HRESULT Clear() override {
    strings_.clear();
    return S_OK;
  }
  HRESULT Contains(BSTR value, LONG* found) override {
    if (found == nullptr) return E_POINTER;
    *found = 0;
    for (const std::u16string& s : strings_)
      if (sameIgnoringCase(s, textOf(value))) *found = 1;
    return S_OK;
  }

 private:
  std::vector<std::u16string> strings_;
};

IVrStringArray* list(void* self) { return static_cast<IVrStringArray*>(self); }

const SiblingMember kArrayMembers[] = {
    {u"Count",
     1,
     DISPATCH_PROPERTYGET,
     0,
     {},
     SiblingType::kLong,
     [](void* s, const SiblingArgs&, SiblingResult* r) { return list(s)->get_Count(&r->lng); }},
    {u"GetString",
     2,
     DISPATCH_METHOD,
     1,
     {SiblingType::kLong},
     SiblingType::kBstr,
     [](void* s, const SiblingArgs& a, SiblingResult* r) {
       return list(s)->GetString(a.lng[0], &r->bstr);
     }},
    {u"Append",
     3,
     DISPATCH_METHOD,
     1,
     {SiblingType::kBstr},
     SiblingType::kNone,
     [](void* s, const SiblingArgs& a, SiblingResult*) { return list(s)->Append(a.bstr[0]); }},
    {u"Clear",
     4,
     DISPATCH_METHOD,
     0,
     {},
     SiblingType::kNone,
     [](void* s, const SiblingArgs&, SiblingResult*) { return list(s)->Clear(); }},
    {u"Contains",
     5,
     DISPATCH_METHOD,
     1,
     {SiblingType::kBstr},
     SiblingType::kLong,
     [](void* s, const SiblingArgs& a, SiblingResult* r) {
       return list(s)->Contains(a.bstr[0], &r->lng);
     }},
};

extern const SiblingTable kArrayTable{kArrayMembers,
                                      sizeof kArrayMembers / sizeof kArrayMembers[0]};

}  // namespace

HRESULT createVrStringArray(REFIID riid, void** ppv) {
  return createSiblingObject<CVrStringArray>(riid, ppv);
}
