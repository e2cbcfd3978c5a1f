// The trace of the MIME text that LoadMime read and GetMime wrote. Tracing is switched on
// by creating the trace directory under the platform root; without it nothing is written.
#pragma once

#include <cstdint>
#include <cstdio>

class StringBuffer;

// Appends three rule lines of `ruleChar` (25 each) and the text with a line end to
// `<platform root>/d/temp/<fileName>`, or when that cannot be opened to
// `<platform root>/d/<fileName>`. Directories are never created; every failure is silent.
void appendTrace(const char* fileName, char ruleChar, const StringBuffer& text);

// The same trace written a piece at a time, for a text never held whole: the rules when the
// file opens, the pieces up to the text's first NUL byte, the line end when it is destroyed.
class TraceInPieces {
 public:
  TraceInPieces(const char* fileName, char ruleChar);
  ~TraceInPieces();
  TraceInPieces(const TraceInPieces&) = delete;
  TraceInPieces& operator=(const TraceInPieces&) = delete;

  void append(const char* text, uint32_t n);

 private:
  FILE* file_ = nullptr;
  bool ended_ = false;  // a NUL byte was met
};
