// S/MIME on an entity tree: wrapping an entity as a detached signature (multipart/signed),
// as signed-data or as enveloped data, and unwrapping every secured entity below one,
// collecting the certificates involved and summarising the outcome in the log.
#pragma once

#include <cstdint>

class Certificate;
class ExtPtrArray;
class LogBase;
class MimeMessage2;
struct CspSettings;

// The Mime object's state the secure operations read and fill: its two certificate lists
// (owned Certificate records), whether they came from the last unwrap, its provider
// settings, and whether an unwrap adds its summary header fields.
struct SecureState {
  ExtPtrArray& signerCerts;
  ExtPtrArray& encryptCerts;
  bool& certsFromUnwrap;
  const CspSettings& csp;
  bool unwrapExtras;
};

// Each wrap signs or encrypts the entity's whole text as writeEntire renders it, rewrites the
// entity on success and leaves it as it was on failure. True when the entity was rewritten
// and a copy of the certificate recorded in the state's lists. `cert` is only read.
bool addDetachedSignature(MimeMessage2& entity, const Certificate& cert, SecureState& state,
                          LogBase& log);
bool convertToSigned(MimeMessage2& entity, const Certificate& cert, SecureState& state,
                     LogBase& log);
bool encryptEntity(MimeMessage2& entity, const Certificate& cert, SecureState& state, LogBase& log);

// Verifies and decrypts every secured entity below `entity` (multipart/mixed is not entered),
// replacing each by its content; the lists get the signer and recipient certificates found.
// True when every signature verified and everything decrypted, also when nothing was
// secured.
bool unwrapSecurity(MimeMessage2& entity, SecureState& state, LogBase& log);

// The micalg parameter for a signature made with the hash of this OID: "SHA1" for SHA-1 (and
// anything unknown), the RFC 5751 names for the SHA-2 hashes, which receivers that hash
// while they read take the algorithm from.
const char* micalgForHashOid(const char* oid);
