// Rules that the log's XML and the XML form of a message share.
#pragma once

#include <cstdint>

// Text that would not survive as plain element text (a LF, a tab or markup) goes in a CDATA
// section, unless it already carries a CDATA section of its own, which a second wrapper
// would break.
bool needsCdata(const char* p, uint32_t n);
