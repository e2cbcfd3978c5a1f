// Strings in the JSON documents the host prints for scripts (RFC 8259).
#pragma once

#include <string>

// Appends `utf8` as a JSON string, quotes included. Characters are written as UTF-8, except
// that the quote and the backslash are escaped, and so are the controls (C0, DEL, C1) and
// U+2028/U+2029, which a terminal or a JavaScript reader would act on; each byte that
// does not start a valid UTF-8 sequence becomes U+FFFD, so the document stays valid.
void appendJsonString(std::string& out, const std::string& utf8);
