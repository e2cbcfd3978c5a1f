// The trace of the MIME text that LoadMime read and GetMime wrote. Tracing is switched on
// by creating the trace directory under the platform root; without it nothing is written.
#pragma once

class StringBuffer;

// Appends three rule lines of `ruleChar` (25 each) and the text with a line end to
// `<platform root>/d/temp/<fileName>`, or when that cannot be opened to
// `<platform root>/d/<fileName>`. Directories are never created; every failure is silent.
void appendTrace(const char* fileName, char ruleChar, const StringBuffer& text);
