// Replacing a regular file whole. A CREATE_ALWAYS of an existing regular file writes into a
// new file beside it, which takes the old one's place by a rename only once every byte has
// been written; until then, and for good when a write fails, the old file stays as it was.
// The file functions of FileApi use it; see doc/file_writing.md.
#pragma once

#include <sys/stat.h>

#include <string>

// True when a CREATE_ALWAYS of `name` replaces a regular file: `target` is set to that file
// (the end of `name`'s symbolic links, which stay as they are) and `st` to its status. False
// for a missing name, a dangling link, a device, a pipe, and anything named through a
// descriptor (/proc/self/fd, /dev/fd, /dev/stdout): those are written in place.
bool findReplaceTarget(const std::string& name, std::string* target, struct stat* st);

// Creates the new file in the target's directory, with the old file's owner (where it may be
// given) and permission bits. The descriptor, or -1 with errno set.
int createReplacement(const std::string& target, const struct stat& old, std::string* tempPath);

// Closes `fd`, then puts the new file in place of the target when `commit` is true, else
// removes it. 0 on success, else the errno of what failed (the new file is removed then too).
int finishReplacement(int fd, const std::string& tempPath, const std::string& target, bool commit);
