// A progress callback that records each percentage it is told and asks to stop once one
// reaches `abortAt` (never, unless it is set).
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "foundation/ProgressMonitor.h"

struct ProgressRecorder : ProgressCallback {
  explicit ProgressRecorder(int32_t abortAt = std::numeric_limits<int32_t>::max())
      : abortAt(abortAt) {}
  void percentDone(int32_t percent, bool& abort) override {
    seen.push_back(percent);
    abort = percent >= abortAt;
  }
  void heartbeat(bool&) override {}
  std::vector<int32_t> seen;
  int32_t abortAt;
};
