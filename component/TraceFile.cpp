#include "component/TraceFile.h"

#include <cstring>
#include <string>

#include "foundation/StringBuffer.h"
#include "platform/PlatformRoot.h"

TraceInPieces::TraceInPieces(const char* fileName, char ruleChar) {
  // Append mode creates the file but never a directory, so a missing directory keeps
  // tracing off.
  file_ = std::fopen(platformPath(std::string("d/temp/") + fileName).c_str(), "a");
  if (file_ == nullptr) file_ = std::fopen(platformPath(std::string("d/") + fileName).c_str(), "a");
  if (file_ == nullptr) return;
  const std::string rule = std::string(25, ruleChar) + "\n";
  for (int i = 0; i < 3; ++i) std::fputs(rule.c_str(), file_);
}

TraceInPieces::~TraceInPieces() {
  if (file_ == nullptr) return;
  std::fputc('\n', file_);
  std::fclose(file_);
}

void TraceInPieces::append(const char* text, uint32_t n) {
  if (file_ == nullptr || ended_ || text == nullptr) return;
  if (const void* nul = std::memchr(text, '\0', n)) {
    n = static_cast<uint32_t>(static_cast<const char*>(nul) - text);
    ended_ = true;
  }
  std::fwrite(text, 1, n, file_);
}

void appendTrace(const char* fileName, char ruleChar, const StringBuffer& text) {
  TraceInPieces trace(fileName, ruleChar);
  trace.append(text.getString(), text.getSize());
}
