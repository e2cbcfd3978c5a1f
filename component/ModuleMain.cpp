// What the shared module does when the platform loads and unloads it (DllMain, called by
// LoadLibraryA and FreeLibrary). It installs its conversion engine as the process's code page
// converter while it is loaded and takes it back out before its code goes away. The rest of
// its state starts empty, the class factory is made on first use, and unloading drops the
// module's reference on the cached factory.
#include "charset/EncodingConvert.h"
#include "component/ComModule.h"
#include "platform/CodePage.h"

namespace {

struct ModuleLifetime {
  ~ModuleLifetime() { moduleTerminate(); }
} g_module;

}  // namespace

BOOL DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) installCodePageConverter(convertWithEngine);
  if (reason == DLL_PROCESS_DETACH) removeCodePageConverter(convertWithEngine);
  return TRUE;
}
