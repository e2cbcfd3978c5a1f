// The main of every test program: a fresh platform root per process, so no test sees the
// machine's registry or stores, and the ANSI and OEM code pages pinned to those of a
// Western-European system (1252 and 437) whatever VORLUND_ACP says. Programs of the layers
// that carry the conversion engine are built with VORLUND_TEST_ENGINE and install it, as the
// host program does; the others convert only the Unicode forms.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/CodePage.h"
#include "tests/support/TempDir.h"
#ifdef VORLUND_TEST_ENGINE
#include "charset/EncodingConvert.h"
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  TempDir root;
  setenv("VORLUND_ROOT", root.path().c_str(), 1);
  setCodePagesForTesting(1252, 437);
#ifdef VORLUND_TEST_ENGINE
  const ScopedCodePageConverter engine(convertWithEngine);
#endif
  return RUN_ALL_TESTS();
}
