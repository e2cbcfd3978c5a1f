// The main of every test program: a fresh platform root per process, so no test sees the
// machine's registry or stores, and the ANSI code page pinned to UTF-8 until the conversion
// engine can serve the real Western-European one.
#include <cstdlib>
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  TempDir root;
  setenv("VORLUND_ROOT", root.path().c_str(), 1);
  setCodePagesForTesting(65001, 437);
  return RUN_ALL_TESTS();
}
