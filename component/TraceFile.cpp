#include "component/TraceFile.h"

#include <cstdio>
#include <string>

#include "foundation/StringBuffer.h"
#include "platform/PlatformRoot.h"

void appendTrace(const char* fileName, char ruleChar, const StringBuffer& text) {
  // Append mode creates the file but never a directory, so a missing directory keeps
  // tracing off.
  FILE* f = std::fopen(platformPath(std::string("d/temp/") + fileName).c_str(), "a");
  if (f == nullptr) f = std::fopen(platformPath(std::string("d/") + fileName).c_str(), "a");
  if (f == nullptr) return;
  const std::string rule = std::string(25, ruleChar) + "\n";
  for (int i = 0; i < 3; ++i) std::fputs(rule.c_str(), f);
  std::fprintf(f, "%s\n", text.getString());
  std::fclose(f);
}
