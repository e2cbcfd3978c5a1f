#include "cli/LoadProgress.h"

#include <unistd.h>

#include <string>

#include "cli/DispatchClient.h"
#include "component/LoadProgressHook.h"

LoadProgress::LoadProgress(DispatchClient& mime, const std::string& label, int64_t size, FILE* err)
    : mime_(mime), label_(label), err_(err) {
  if (size < kProgressMinBytes || !isatty(fileno(err))) return;
  active_ = setLoadProgress(mime_.get(), this);
}

LoadProgress::~LoadProgress() {
  if (!active_) return;
  setLoadProgress(mime_.get(), nullptr);
  if (shown_ > 0) {
    std::fprintf(err_, "\r%s\r", std::string(shown_, ' ').c_str());
    std::fflush(err_);
  }
}

void LoadProgress::percentDone(int32_t percent, bool&) {
  const std::string line = "loading " + label_ + ": " + std::to_string(percent) + "%";
  // Pads over the end of a longer line written before.
  const size_t pad = shown_ > line.size() ? shown_ - line.size() : 0;
  std::fprintf(err_, "\r%s%s", line.c_str(), std::string(pad, ' ').c_str());
  std::fflush(err_);
  shown_ = line.size() + pad;
}
