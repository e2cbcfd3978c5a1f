#include "cli/SafeFileName.h"

#include <sys/stat.h>

namespace {

// The extension kept when a long name is cut: the text from the last "." when short.
constexpr size_t kMaxKeptExtension = 16;

bool isBlank(unsigned char c) { return c == ' ' || c == '\t'; }

// Cuts `s` to at most `n` bytes without splitting a UTF-8 sequence.
std::string cutAtCharacter(const std::string& s, size_t n) {
  if (s.size() <= n) return s;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

// Splits at the last "." that is neither the first byte nor the last.
void splitExtension(const std::string& name, std::string& stem, std::string& ext) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
    stem = name;
    ext.clear();
  } else {
    stem = name.substr(0, dot);
    ext = name.substr(dot);
  }
}

}  // namespace

std::string safeFileName(const std::string& name) {
  size_t b = 0;
  for (size_t i = 0; i < name.size(); ++i)
    if (name[i] == '/' || name[i] == '\\') b = i + 1;
  size_t e = name.size();
  while (b < e && isBlank(static_cast<unsigned char>(name[b]))) ++b;
  while (e > b && isBlank(static_cast<unsigned char>(name[e - 1]))) --e;
  std::string out;
  for (size_t i = b; i < e; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    out.push_back(c < 0x20 || c == 0x7F ? '_' : static_cast<char>(c));
  }
  if (out.find_first_not_of('.') == std::string::npos) return std::string();
  if (out.size() > kMaxSafeNameBytes) {
    std::string stem, ext;
    splitExtension(out, stem, ext);
    if (ext.size() > kMaxKeptExtension) {
      stem = out;
      ext.clear();
    }
    out = cutAtCharacter(stem, kMaxSafeNameBytes - ext.size()) + ext;
  }
  return out;
}

std::string madeUpFileName(int partNumber, const std::string& contentType) {
  static const struct {
    const char* type;
    const char* ext;
  } kExtensions[] = {
      {"text/plain", ".txt"},      {"text/html", ".html"},     {"text/xml", ".xml"},
      {"image/png", ".png"},       {"image/jpeg", ".jpg"},     {"image/gif", ".gif"},
      {"application/pdf", ".pdf"}, {"message/rfc822", ".eml"},
  };
  const char* ext = ".bin";
  for (const auto& row : kExtensions)
    if (contentType == row.type) ext = row.ext;
  return "part-" + std::to_string(partNumber) + ext;
}

bool FileNamePicker::taken(const std::string& name) const {
  if (given_.count(name) != 0) return true;
  struct stat st;
  return lstat((dir_ + "/" + name).c_str(), &st) == 0;
}

std::string FileNamePicker::pick(const std::string& safeName) {
  std::string candidate = safeName;
  if (taken(candidate)) {
    std::string stem, ext;
    splitExtension(safeName, stem, ext);
    // Numbering resumes where the last repeat of this name stopped, so a message with
    // thousands of parts of one name does not test every earlier number again.
    int& next = nextNumber_[safeName];
    if (next == 0) next = 1;
    do candidate = stem + "-" + std::to_string(next++) + ext;
    while (taken(candidate));
  }
  given_.insert(candidate);
  return candidate;
}
