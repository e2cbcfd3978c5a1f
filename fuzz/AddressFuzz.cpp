// Address field values come straight from mail headers: parsing any bytes, NULs included,
// must neither crash nor read past the value, and every mailbox found must write as XML.
#include <cstddef>
#include <cstdint>

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "mime/Rfc822Address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size block, so a read past the value trips the sanitizer.
  StringBuffer text(reinterpret_cast<const char*>(data), static_cast<uint32_t>(size), 0);
  StringBuffer xml;

  Rfc822Address* one = Rfc822ParseHelp::parseAddress(text);
  if (one != nullptr) {
    // An addr-spec never holds a space.
    if (one->address.containsChar(' ')) __builtin_trap();
    Rfc822ParseHelp::writeAddressXml(*one, xml);
    delete one;
  }

  ExtPtrArray list;
  const int32_t found = Rfc822ParseHelp::parseAddressList(text, list);
  // Duplicates are counted but not kept, so the list never holds more than were found.
  if (found < list.getSize()) __builtin_trap();
  for (int32_t i = 0; i < list.getSize(); ++i) {
    const Rfc822Address* a = list.getAs<Rfc822Address>(i);
    if (a == nullptr) __builtin_trap();
    if (a->address.containsChar(' ')) __builtin_trap();
    Rfc822ParseHelp::writeAddressXml(*a, xml);
  }
  list.removeAllObjects();
  return 0;
}
