// RFC 822 mailboxes as the XML form of an entity shows them: an address field value cut into
// mailboxes, each with its addr-spec and display name apart. The MIME text itself keeps
// address fields as plain header values.
#pragma once

#include <cstdint>

#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"

class ExtPtrArray;
class Rfc822Address;
class TreeNode;

// How a header field is shown in the XML form, by its name compared without case.
enum class AddressFieldKind {
  kNone,     // a plain field (bcc among them)
  kMailbox,  // "return-path", "from", "sender", "reply-to": one mailbox
  kList,     // "to", "cc", "x-rcpt-to": a list of mailboxes
};

// The parse and write operations on mailboxes. Holds no data. Parsing is tolerant: any byte
// sequence, NULs included, gives a result in time linear in its length.
class Rfc822ParseHelp {
 public:
  static AddressFieldKind addressFieldKind(const char* fieldName);

  // A new mailbox owned by the caller when `text` holds one, else null: null for an empty
  // text, for one without an at sign and for an "undisclosed recipient(s)" placeholder.
  static Rfc822Address* parseAddress(const StringBuffer& text);

  // Cuts an unfolded or folded list value at commas outside quotes and parses each piece.
  // Returns how many valid mailboxes were found; each is appended to `list` (which owns
  // Rfc822Address elements) unless the list already holds the same address compared without
  // case, in which case it is deleted but still counted.
  static int32_t parseAddressList(const StringBuffer& text, ExtPtrArray& list);

  // Appends the <address> element of one mailbox: an <addr> and a <name> child, each empty
  // (<addr/>) when its text is; no line end after the closing tag.
  static void writeAddressXml(const Rfc822Address& address, StringBuffer& out);

  // Appends the header line of an address field from its XML element: the element's tag,
  // ": ", then one mailbox for each child with both an <addr> and a <name> child, the
  // mailboxes separated by ",\n\t", and a final "\n".
  static void readAddressesXml(const TreeNode& field, StringBuffer& out);
};

class Rfc822Address : public Rfc822ParseHelp, public VorlundObject {
 public:
  Rfc822Address() = default;
  ~Rfc822Address() override = default;

  // Small first blocks that grow to fit: a long list holds many mailboxes at once.
  static constexpr int32_t kRoom = 8;

  bool valid = false;  // true when an address was found
  // The text it was made from, trimmed of spaces and tabs, every backslash-quote pair removed.
  StringBuffer source{kRoom};
  // 7-bit: a name with 8-bit bytes is held as one Q word labelled "utf-8".
  StringBuffer displayName{kRoom};
  // The addr-spec without angle brackets; never holds a space.
  StringBuffer address{kRoom};
};
