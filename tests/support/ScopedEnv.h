// An environment variable set for one test (VORLUND_ROOT, the module a host loads) and put
// back afterwards; the registry is read afresh on both sides, as by a new process.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/Registry.h"

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
    resetRegistryForTesting();
  }
  ~ScopedEnv() {
    old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_);
    resetRegistryForTesting();
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};
