// A certificate record: a platform certificate context with the names, name parts, key
// usages and trust flags the secure-MIME layer asks for, derived once on construction.
//
// The record is shared with the sibling certificate component, which hands out its address:
// the fields below, their order and widths, are a layout contract between the two modules.
// Do not reorder them or add fields before the last flag.
#pragma once

#include <cstdint>

#include "foundation/ExtPtrArray.h"
#include "foundation/StringBuffer.h"
#include "foundation/VorlundObject.h"
#include "platform/WinCrypt.h"

class LogBase;

// One (key, value) pair of a distinguished name.
class StringPair : public VorlundObject {
 public:
  StringBuffer key;
  StringBuffer value;
};

class Certificate : public VorlundObject {
 public:
  // Takes ownership of a context obtained from the platform and derives every property.
  explicit Certificate(PCCERT_CONTEXT context);
  // Decodes base64 text to DER and makes a context of it; a null text or zero length gives
  // an empty record, undecodable bytes one with a null context and the error in the log.
  Certificate(const char* base64Text, uint32_t length, LogBase* log);
  ~Certificate() override;
  Certificate(const Certificate&) = delete;
  Certificate& operator=(const Certificate&) = delete;

  // A new record built from this one's base64 form; null when it has no context.
  Certificate* clone() const;
  // Forgets the context without freeing it (the platform still owns it).
  void detachContext() { context = nullptr; }

  // Appends the base64 of the DER bytes; false with the reason in the log.
  bool getEncoded(StringBuffer& out, LogBase* log) const;
  // Subject and issuer in the X500 form (Dn) and the simple form (Name).
  void getSubjectDn(StringBuffer& out) const;
  void getIssuerDn(StringBuffer& out) const;
  void getSubjectName(StringBuffer& out) const;
  void getIssuerName(StringBuffer& out) const;
  // Later than NotAfter now (UTC); a record without context counts as expired.
  bool isExpired() const;
  // The issuer's name is the subject's, byte for byte.
  bool isSelfSigned() const;

  // --- the shared layout
  PCCERT_CONTEXT context = nullptr;
  StringBuffer issuerDn;
  StringBuffer subjectDn;
  StringBuffer rfc822Name;
  ExtPtrArray issuerParts;   // StringPair, from issuerDn
  ExtPtrArray subjectParts;  // StringPair, from subjectDn
  uint8_t digitalSignature = 0;
  uint8_t nonRepudiation = 0;
  uint8_t keyEncipherment = 0;
  uint8_t dataEncipherment = 0;
  uint8_t keyCertSign = 0;
  uint8_t cRLSign = 0;
  uint8_t hasExtendedKeyUsage = 0;
  uint8_t forSecureEmail = 0;
  uint8_t forServerAuthentication = 0;
  uint8_t forClientAuthentication = 0;
  uint8_t forCodeSigning = 0;
  uint8_t forTimeStamping = 0;
  uint8_t unusedFlag = 0;  // part of the layout; nothing sets it
  uint8_t signatureVerified = 0;
  uint8_t trustedRoot = 0;
  uint8_t expired = 0;
  uint8_t revoked = 0;
  uint8_t chainRevoked = 0;

 private:
  void deriveProperties();
  void deriveExtensions();
  void deriveTrust();
  void nameText(const CERT_NAME_BLOB& name, DWORD type, StringBuffer& out) const;
};

// Splits a distinguished name in the X500 form into (KEY, value) pairs appended to `parts`:
// at "," outside double quotes, then each piece at "=", keeping only pieces of exactly two
// parts; keys upper-cased, both trimmed, values keeping their quotes.
void splitDnParts(const StringBuffer& dn, ExtPtrArray& parts);
