// Key containers: the private keys of the platform's cryptographic providers, one PKCS #8
// file per container under <root>/keys/user or <root>/keys/machine (directories 0700, files
// 0600, never readable by others), named after the container. A certificate reaches its
// key through its key-provider property, or through a key kept in memory with the context
// (a PKCS #12 import without a container).
#pragma once

#include <openssl/evp.h>

#include <string>

#include "platform/WinCrypt.h"

// The file of a container of the user's or the machine's.
std::string keyContainerPath(const std::u16string& container, bool machine);
// Writes `key` as the container's key, replacing any earlier one. False with the last error.
bool writeKeyContainer(const std::u16string& container, bool machine, EVP_PKEY* key);
// The container's key (a reference the caller frees with EVP_PKEY_free), or null with
// NTE_BAD_KEYSET when there is no such container, NTE_NO_KEY when it holds no key.
EVP_PKEY* readKeyContainer(const std::u16string& container, bool machine);
// Removes a container; true when it is gone.
bool deleteKeyContainer(const std::u16string& container, bool machine);

// The private key of a certificate: its in-memory key, else the key of the container its
// key-provider property names, provided that key belongs to the certificate's public key.
// Null with the last error (CRYPT_E_NO_KEY_PROPERTY 0x8009200B when it has no property,
// NTE_BAD_KEYSET when the container is missing, NTE_BAD_KEY when the key does not match).
EVP_PKEY* certificatePrivateKey(PCCERT_CONTEXT context);
// Whether certificatePrivateKey would give a key; the last error is left alone.
bool certificateHasPrivateKey(PCCERT_CONTEXT context);
