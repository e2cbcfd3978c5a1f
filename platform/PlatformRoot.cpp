#include "platform/PlatformRoot.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace {

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (struct passwd* pw = getpwuid(geteuid()); pw != nullptr && pw->pw_dir != nullptr)
    return pw->pw_dir;
  return "/tmp";
}

}  // namespace

std::string platformRoot() {
  if (const char* root = std::getenv("VORLUND_ROOT"); root != nullptr && *root != '\0') return root;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0')
    return std::string(xdg) + "/vorlund";
  return homeDirectory() + "/.local/share/vorlund";
}

std::string platformPath(const std::string& relative) {
  std::string root = platformRoot();
  if (!root.empty() && root.back() != '/') root += '/';
  return root + relative;
}
