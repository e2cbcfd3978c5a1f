#include "platform/User.h"

#include <cstring>
#include <pwd.h>
#include <string>
#include <unistd.h>

#include "platform/Errors.h"

BOOL GetUserNameA(LPSTR buffer, DWORD* size) {
  if (size == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string name;
  struct passwd pw;
  struct passwd* found = nullptr;
  char scratch[4096];
  if (getpwuid_r(geteuid(), &pw, scratch, sizeof scratch, &found) == 0 && found != nullptr)
    name = found->pw_name;
  else
    name = std::to_string(geteuid());  // a uid without an entry still has to be named
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
