// gpgsm, an S/MIME implementation of its own, as a second judge of our signatures.
#pragma once

#include <string>

#include "tests/support/TestCerts.h"

// Verifies a DER signature (`dataPath` empty for one that carries its content) with gpgsm in
// a home of its own that trusts `root` and checks no CRLs; gpgsm's output goes to `logPath`.
// Returns gpgsm's exit status.
int gpgsmVerify(const TestCert& root, const std::string& sigPath, const std::string& dataPath,
                const std::string& logPath);
