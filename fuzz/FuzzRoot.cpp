#include <cstdlib>
#include <filesystem>
#include <string>

#include "charset/EncodingConvert.h"
#include "fuzz/FuzzSeeds.h"

namespace {
std::string g_root;
}

void useFuzzPlatformRoot() {
  if (!g_root.empty()) return;
  std::string dir = (std::filesystem::temp_directory_path() / "vorlund-fuzz-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return;
  g_root = dir;
  setenv("VORLUND_ROOT", g_root.c_str(), 1);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(g_root, ignored);
  });
}

// Run once before the first input, by libFuzzer or the replay main: the targets convert
// through the engine, as the host program does.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  installCodePageConverter(convertWithEngine);
  return 0;
}
