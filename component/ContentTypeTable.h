// The content type a file's extension suggests, for the members that make bodies from files.
#pragma once

// The content type of the first table row whose extension equals `extension` without regard
// to case; null when no row does (the caller then takes application/octet-stream).
const char* contentTypeForExtension(const char* extension);
