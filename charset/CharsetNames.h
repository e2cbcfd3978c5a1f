// Charset names and code page numbers: an Internet name or alias to the Windows code page
// number, and a code page number to the one name the component writes.
#pragma once

#include <cstdint>

class StringBuffer;

// The code page of a charset name after trimming spaces, tabs, CR and LF at both ends,
// lower-casing and turning underscores into hyphens; the whole name must match an alias.
// 0 for null, for fewer than three bytes after that, or for an unknown name.
int32_t codePageFromName(const char* name);

// True when codePageFromName gives a code page.
bool isKnownCharset(const char* name);

// Replaces `out` with the written name of the code page and returns true; false with `out`
// emptied when the code page has none.
bool nameFromCodePage(int32_t codePage, StringBuffer& out);

// The written name itself, or null; the text lives as long as the process.
const char* writtenNameOf(int32_t codePage);

// The sizes of the two tables and read access to them, so their contents can be checked
// as a whole.
int32_t charsetAliasCount();
int32_t writtenNameCount();
// The i-th alias in table order and its code page; null outside 0..count-1.
const char* charsetAliasAt(int32_t i, int32_t* codePage);
// The i-th code page that has a written name, ascending; 0 outside 0..count-1.
int32_t writtenCodePageAt(int32_t i);
