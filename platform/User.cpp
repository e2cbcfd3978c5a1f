#include "platform/User.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Errors.h"

namespace {
std::mutex& nameMutex() {
  static std::mutex m;
  return m;
}
std::optional<std::string>& testName() {
  static std::optional<std::string> n;
  return n;
}
std::string currentUserName() {
  {
    std::lock_guard<std::mutex> lock(nameMutex());
    if (testName()) return *testName();
  }
  struct passwd pw;
  struct passwd* found = nullptr;
  char scratch[4096];
  if (getpwuid_r(geteuid(), &pw, scratch, sizeof scratch, &found) == 0 && found != nullptr)
    return found->pw_name;
  return std::to_string(geteuid());  // a uid without an entry still has to be named
}

}  // namespace

void setUserNameForTesting(const char* name) {
  std::lock_guard<std::mutex> lock(nameMutex());
  if (name != nullptr)
    testName() = name;
  else
    testName().reset();
}

BOOL GetUserNameA(LPSTR buffer, DWORD* size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string name = currentUserName();
  const DWORD needed = static_cast<DWORD>(name.size() + 1);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, name.c_str(), needed);
  *size = needed;
  return TRUE;
}
