// The real component module, libvorlundmime.so, as hosts meet it: registered through its own
// entry point, then created by ProgID, in this process and in another program (the
// walk_parts example). Nothing of the component is linked into this test.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "component/IVorlundMime.h"
#include "component/LoadProgressHook.h"
#include "foundation/ProgressMonitor.h"
#include "platform/ComActivation.h"
#include "platform/FileApi.h"
#include "platform/Module.h"
#include "platform/Registry.h"
#include "tests/support/ProgressRecorder.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kModule = fs::canonical(VORLUND_MODULE_PATH).string();
const std::string kSample = std::string(VORLUND_EXAMPLES_DIR) + "/sample.eml";

HRESULT runEntry(const std::string& module, const char* entry) {
  HMODULE m = LoadLibraryA(module.c_str());
  if (m == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  auto fn = reinterpret_cast<LPFNREGISTERSERVER>(GetProcAddress(m, entry));
  const HRESULT hr = fn != nullptr ? fn() : E_FAIL;
  FreeLibrary(m);
  return hr;
}

// The module's own DllCanUnloadNow, from the copy CoCreateInstance loaded.
HRESULT moduleCanUnload() {
  void* h = dlopen(kModule.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (h == nullptr) return E_FAIL;
  auto fn = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(h, "DllCanUnloadNow"));
  const HRESULT hr = fn != nullptr ? fn() : E_FAIL;
  dlclose(h);
  return hr;
}

BSTR bstr(const std::string& ascii) {
  std::u16string wide(ascii.begin(), ascii.end());
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

IVorlundMime* createByProgId() {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(u"VorlundMime.VorlundMime", &clsid))) return nullptr;
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IVorlundMime, &p), S_OK);
  return static_cast<IVorlundMime*>(p);
}

}  // namespace

TEST(ComponentModule, ExportsOnlyItsEntryPoints) {
  std::string symbols;
  ASSERT_EQ(runCommand("nm -D --defined-only " + kModule + " | awk '{print $3}'", symbols), 0);
  EXPECT_EQ(symbols,
            "DllCanUnloadNow\nDllGetClassObject\nDllMain\nDllRegisterServer\n"
            "DllUnregisterServer\n");
}

TEST(ComponentModule, AnotherProgramCreatesTheObjectByProgId) {
  const std::string walk = std::string(WALK_PARTS_PATH) + " " + kSample + " 2>&1";
  ASSERT_EQ(runEntry(kModule, "DllUnregisterServer"), S_OK);
  std::string out;
  EXPECT_EQ(runCommand(walk, out), 1);
  EXPECT_NE(out.find("VorlundMime.VorlundMime is not registered (0x800401F3)"), std::string::npos)
      << out;

  ASSERT_EQ(runEntry(kModule, "DllRegisterServer"), S_OK);
  out.clear();
  ASSERT_EQ(runCommand(walk, out), 0) << out;
  EXPECT_EQ(out,
            "1  multipart/mixed  6 parts\n"
            "1.1  multipart/alternative  2 parts\n"
            "1.1.1  text/plain  156 bytes\n"
            "1.1.2  text/html  222 bytes\n"
            "1.2  image/png  filename=\"dot.png\"  169 bytes\n"
            "1.3  text/plain  filename=\"Preisliste M\xC3\xA4rz.txt\"  58 bytes\n"
            "1.4  text/plain  39 bytes\n"
            "1.5  text/plain  48 bytes\n"
            "1.6  message/rfc822  320 bytes\n");
  ASSERT_EQ(runEntry(kModule, "DllUnregisterServer"), S_OK);
}

TEST(ComponentModule, ObjectsComeFromTheLoadedModuleAndLetItUnload) {
  ASSERT_EQ(runEntry(kModule, "DllRegisterServer"), S_OK);
  IVorlundMime* mime = createByProgId();
  ASSERT_NE(mime, nullptr);
  // The object's code is the module's, not this program's.
  EXPECT_EQ(moduleFileNameFromAddress(*reinterpret_cast<void**>(mime)), kModule);
  EXPECT_EQ(moduleCanUnload(), S_FALSE);

  // Long loads report to the host through the private hook, across the module boundary.
  ProgressRecorder recorder;
  TempDir dir;
  std::string text = "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n";
  for (int i = 0; i < 4; ++i) text += "--B\r\nContent-Type: text/plain\r\n\r\nbody\r\n";
  writeWholeFile(dir.file("big.eml"), text + "--B--\r\n");
  ASSERT_TRUE(setLoadProgress(mime, &recorder));
  BSTR path = bstr(dir.file("big.eml"));
  LONG ok = 0;
  ASSERT_EQ(mime->LoadMimeFile(path, &ok), S_OK);
  SysFreeString(path);
  EXPECT_EQ(ok, 1);
  EXPECT_EQ(recorder.seen.empty() ? -1 : recorder.seen.back(), 100);
  ASSERT_TRUE(setLoadProgress(mime, nullptr));

  IVorlundMime* part = nullptr;
  ASSERT_EQ(mime->GetPart(3, &part), S_OK);
  ASSERT_NE(part, nullptr);
  mime->Release();
  EXPECT_EQ(moduleCanUnload(), S_FALSE) << "the part object keeps the module";
  part->Release();
  EXPECT_EQ(moduleCanUnload(), S_OK);

  // The platform is shared: while the module is loaded the conversion engine its DllMain
  // installed serves the platform's ANSI file names; once unloaded it has taken the engine
  // back out, and this program, which links none, converts only the Unicode forms again.
  const std::string ansiName = dir.file("M\xE4rz.txt");
  auto createAnsi = [&] {
    HANDLE h = CreateFileA(ansiName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    CloseHandle(h);
    return ERROR_SUCCESS;
  };
  EXPECT_EQ(createAnsi(), ERROR_SUCCESS);
  EXPECT_TRUE(fs::exists(dir.file("M\xC3\xA4rz.txt")));
  CoFreeUnusedLibraries();
  EXPECT_EQ(moduleCanUnload(), E_FAIL) << "unloaded";
  EXPECT_EQ(createAnsi(), ERROR_INVALID_NAME);
  IVorlundMime* again = createByProgId();
  ASSERT_NE(again, nullptr) << "and loaded again on demand";
  again->Release();
  CoFreeUnusedLibraries();
  ASSERT_EQ(runEntry(kModule, "DllUnregisterServer"), S_OK);
}
