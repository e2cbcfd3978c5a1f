// The main of every test program: a fresh platform root per process, so no test sees the
// machine's registry or stores, and the ANSI and OEM code pages pinned to those of a
// Western-European system (1252 and 437) whatever VORLUND_ACP says.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/CodePage.h"
#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  TempDir root;
  setenv("VORLUND_ROOT", root.path().c_str(), 1);
  setCodePagesForTesting(1252, 437);
  return RUN_ALL_TESTS();
}
