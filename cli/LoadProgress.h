// "loading FILE: 42%" on a terminal while a Mime object reads a large input, written over
// itself and erased when the load is over. Silent when standard error is not a terminal
// or the input is small, so pipes and scripts never see it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/ProgressMonitor.h"

class DispatchClient;

// Inputs from this size on show progress.
constexpr int64_t kProgressMinBytes = 4 * 1024 * 1024;

class LoadProgress : public ProgressCallback {
 public:
  // Watches the loads of `mime` until destroyed, when `err` is a terminal and `size` is at
  // least kProgressMinBytes.
  LoadProgress(DispatchClient& mime, const std::string& label, int64_t size, FILE* err);
  ~LoadProgress() override;
  LoadProgress(const LoadProgress&) = delete;
  LoadProgress& operator=(const LoadProgress&) = delete;

  void percentDone(int32_t percent, bool& abort) override;
  void heartbeat(bool&) override {}

 private:
  DispatchClient& mime_;
  std::string label_;
  FILE* err_;
  bool active_ = false;
  size_t shown_ = 0;  // characters of the line on the terminal now
};
