// Internal errors that must stop the process at once rather than touch foreign memory.
#pragma once

// Writes the reason to stderr and aborts. Used when a buffer's validity marker is wrong:
// the object was destroyed or never was one, and going on would corrupt the caller's data.
[[noreturn]] void fatalError(const char* reason);
