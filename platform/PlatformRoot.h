// The directory under which the platform keeps its machine state (registry hives, system
// certificate stores, key containers, trace directories).
#pragma once

#include <string>

// $VORLUND_ROOT, else $XDG_DATA_HOME/vorlund, else ~/.local/share/vorlund. Not created here.
std::string platformRoot();
// The platform root joined with a relative path.
std::string platformPath(const std::string& relative);
