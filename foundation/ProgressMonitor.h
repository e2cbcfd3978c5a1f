// A progress meter for long operations: reports whole percentages to a callback and, between
// percentage steps, a heartbeat at most every 300 milliseconds.
#pragma once

#include <cstdint>

class ProgressCallback {
 public:
  virtual ~ProgressCallback() = default;
  // Called when the percentage done has grown. Setting abort asks the work to stop.
  virtual void percentDone(int32_t percent, bool& abort) = 0;
  // Called while the percentage stands still, so a host can stay responsive.
  virtual void heartbeat(bool& abort) = 0;
};

class ProgressMonitor {
 public:
  explicit ProgressMonitor(ProgressCallback* callback = nullptr) : callback_(callback) {}
  ProgressMonitor(const ProgressMonitor&) = delete;
  ProgressMonitor& operator=(const ProgressMonitor&) = delete;
  virtual ~ProgressMonitor() = default;

  // Amount done 0, not aborted.
  void reset(int64_t total);
  // Adds to the amount done (never beyond the total) and reports.
  void addProgress(int64_t amount, bool& abort);
  // Sets the amount done (never beyond the total) and reports.
  void setProgress(int64_t amount, bool& abort);
  // Adds whatever is missing to reach the total.
  void finish();

  // 100 when the total is 0.
  int32_t percent() const;
  bool aborted() const { return aborted_; }
  int64_t total() const { return total_; }
  int64_t done() const { return done_; }

 private:
  void report(bool allowHeartbeat, bool& abort);

  int64_t total_ = 0;
  int64_t done_ = 0;
  ProgressCallback* callback_;
  bool aborted_ = false;
  uint32_t lastTick_ = 0;
  int32_t lastPercent_ = -1;
};
