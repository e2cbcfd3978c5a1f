// The file arguments of the subcommands. Members read and write files by name, so "-"
// (standard input or output) goes through a private temporary file; the bytes stay
// exactly as they are, which a string result in the ANSI code page could not promise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A private directory under $TMPDIR (else /tmp), removed with its files on destruction.
class PrivateTempDir {
 public:
  PrivateTempDir() = default;
  ~PrivateTempDir();
  PrivateTempDir(const PrivateTempDir&) = delete;
  PrivateTempDir& operator=(const PrivateTempDir&) = delete;
  // The path of `name` inside the directory, made on first use; empty on failure.
  std::string file(const char* name);

 private:
  std::string dir_;
};

// An input: a path as given, or "-", whose bytes are copied from standard input first.
class InputFile {
 public:
  // False with `error` set when standard input could not be copied.
  bool open(const std::string& arg, std::string& error);
  // The name to hand a member.
  const std::string& path() const { return path_; }
  // The name to show a user.
  const std::string& label() const { return label_; }
  // Bytes in the file; -1 when it cannot be told (the member will say why).
  int64_t size() const;

 private:
  PrivateTempDir temp_;
  std::string path_;
  std::string label_;
};

// An output: a path as given, or "-" for standard output, written by a member into a
// temporary file and then copied out.
class OutputFile {
 public:
  bool open(const std::string& arg, std::string& error);
  const std::string& path() const { return path_; }
  // Copies a temporary file to `out`; true at once for a real path.
  bool finish(FILE* out, std::string& error);

 private:
  PrivateTempDir temp_;
  std::string path_;
  bool toStdout_ = false;
};

// Copies everything from one stream to another; false on a read or write error.
bool copyStream(FILE* in, FILE* out);
