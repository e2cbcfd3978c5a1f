#include "cli/HostFiles.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

PrivateTempDir::~PrivateTempDir() {
  if (dir_.empty()) return;
  if (DIR* d = opendir(dir_.c_str())) {
    while (const dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        unlink((dir_ + "/" + e->d_name).c_str());
    closedir(d);
  }
  rmdir(dir_.c_str());
}

std::string PrivateTempDir::file(const char* name) {
  if (dir_.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vormime-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return std::string();
    dir_ = pattern;
  }
  return dir_ + "/" + name;
}

bool copyStream(FILE* in, FILE* out) {
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0)
    if (std::fwrite(buf, 1, n, out) != n) return false;
  return !std::ferror(in) && std::fflush(out) == 0;
}

bool InputFile::open(const std::string& arg, std::string& error) {
  if (arg != "-") {
    path_ = label_ = arg;
    return true;
  }
  label_ = "standard input";
  path_ = temp_.file("stdin");
  FILE* copy = path_.empty() ? nullptr : std::fopen(path_.c_str(), "wb");
  if (copy == nullptr) {
    error = std::string("cannot make a temporary file: ") + std::strerror(errno);
    return false;
  }
  const bool ok = copyStream(stdin, copy);
  if (std::fclose(copy) != 0 || !ok) {
    error = "cannot copy standard input to a temporary file";
    return false;
  }
  return true;
}

int64_t InputFile::size() const {
  struct stat st;
  if (stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

bool OutputFile::open(const std::string& arg, std::string& error) {
  toStdout_ = arg == "-";
  path_ = toStdout_ ? temp_.file("stdout") : arg;
  if (path_.empty()) {
    error = std::string("cannot make a temporary directory: ") + std::strerror(errno);
    return false;
  }
  return true;
}

bool OutputFile::finish(FILE* out, std::string& error) {
  if (!toStdout_) return true;
  FILE* in = std::fopen(path_.c_str(), "rb");
  if (in == nullptr) {
    error = "the output was not written";
    return false;
  }
  const bool ok = copyStream(in, out);
  std::fclose(in);
  if (!ok) error = "cannot write to standard output";
  return ok;
}
