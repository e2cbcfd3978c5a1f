#include "foundation/ProgressMonitor.h"

#include "platform/Time.h"

namespace {
constexpr uint32_t kHeartbeatMs = 300;
}  // namespace

void ProgressMonitor::reset(int64_t total) {
  total_ = total < 0 ? 0 : total;
  done_ = 0;
  aborted_ = false;
  lastPercent_ = -1;
  lastTick_ = GetTickCount();
}

int32_t ProgressMonitor::percent() const {
  if (total_ == 0) return 100;
  int64_t total = total_;
  int64_t done = done_;
  // Scaled down first so that the product below stays small, as for 32-bit counters.
  while (total > 1000000) {
    total /= 10;
    done /= 10;
  }
  if (total == 0) return 100;
  return static_cast<int32_t>(done * 100 / total);
}

void ProgressMonitor::report(bool allowHeartbeat, bool& abort) {
  abort = false;
  if (callback_ == nullptr) return;
  const int32_t pct = percent();
  if (pct > lastPercent_) {
    lastPercent_ = pct;
    lastTick_ = GetTickCount();
    callback_->percentDone(pct, abort);
  } else if (allowHeartbeat) {
    const uint32_t now = GetTickCount();
    if (now - lastTick_ >= kHeartbeatMs) {
      lastTick_ = now;
      callback_->heartbeat(abort);
    }
  }
  if (abort) aborted_ = true;
}

void ProgressMonitor::addProgress(int64_t amount, bool& abort) {
  done_ += amount;
  if (done_ > total_) done_ = total_;
  report(true, abort);
}

void ProgressMonitor::setProgress(int64_t amount, bool& abort) {
  done_ = amount > total_ ? total_ : amount;
  report(false, abort);
}

void ProgressMonitor::finish() {
  bool ignored = false;
  if (done_ < total_) addProgress(total_ - done_, ignored);
}
