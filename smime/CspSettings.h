// A Mime object's provider settings: copied from a provider object and handed whole to every
// sign and encrypt operation when a provider name is set.
#pragma once

#include <cstdint>

#include "foundation/StringBuffer.h"

struct CspSettings {
  // Strings in the ANSI form.
  StringBuffer providerName;
  StringBuffer keyContainerName;
  int32_t providerType = 0;
  int32_t hashAlgorithmId = 0;
  int32_t hashNumBits = 0;
  StringBuffer hashAlgorithm;
  int32_t encryptAlgorithmId = 0;
  int32_t encryptNumBits = 0;
  StringBuffer encryptAlgorithm;
};
