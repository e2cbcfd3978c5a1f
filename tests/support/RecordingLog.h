// A log that keeps what the layer logs, one line per call, as "error: ", "info: " or
// "key=value".
#pragma once

#include <string>
#include <vector>

#include "foundation/LogBase.h"

class RecordingLog : public LogNull {
 public:
  std::vector<std::string> lines;
  bool logError(const char* t) override { return record("error: ", t); }
  bool logInfo(const char* t) override { return record("info: ", t); }
  bool logData(const char* k, const char* v) override { return record(std::string(k) + "=", v); }
  bool logDataLong(const char* k, int32_t v) override {
    return record(std::string(k) + "=", std::to_string(v).c_str());
  }

 private:
  bool record(const std::string& kind, const char* t) {
    lines.push_back(kind + t);
    return true;
  }
};
