// File names for extracted attachments that stay inside the target directory whatever
// name a message gives a part.
#pragma once

#include <map>
#include <set>
#include <string>

// The longest name, in bytes, a file gets: room for a "-N" suffix under the 255 bytes a
// Linux file name may have.
constexpr size_t kMaxSafeNameBytes = 200;

// The last path component of `name` (UTF-8; "/" and "\" both separate), with control
// bytes and NUL turned into "_", outer blanks trimmed and cut to kMaxSafeNameBytes at a
// character boundary, keeping a short extension. Empty when nothing usable is left: an
// empty name, one that ends in a separator, one made of dots only.
std::string safeFileName(const std::string& name);

// "part-N" with an extension that suits the content type, for a part without a name.
std::string madeUpFileName(int partNumber, const std::string& contentType);

// Hands out names in one directory that no earlier call gave and that nothing in the
// directory has (file, directory or symbolic link): the second "a.txt" becomes
// "a-1.txt", then "a-2.txt".
class FileNamePicker {
 public:
  explicit FileNamePicker(std::string dir) : dir_(std::move(dir)) {}
  std::string pick(const std::string& safeName);

 private:
  bool taken(const std::string& name) const;

  std::string dir_;
  std::set<std::string> given_;
  // For each name handed out more than once: the next suffix number to try.
  std::map<std::string, int> nextNumber_;
};
