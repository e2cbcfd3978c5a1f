// What the shared module does when it is loaded and unloaded. Loading needs nothing: the
// module's state starts empty and the class factory is made on first use. Unloading drops the
// module's reference on the cached factory.
#include "component/ComModule.h"

namespace {

struct ModuleLifetime {
  ~ModuleLifetime() { moduleTerminate(); }
} g_module;

}  // namespace
