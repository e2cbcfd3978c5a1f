// Running the built host program as a user would, through the shell.
#pragma once

#include <sstream>
#include <string>
#include <vector>

struct Result {
  int status;
  std::string out;
};

// Runs vormime with the arguments; `redirect` may send stderr elsewhere or add a pipe.
Result vormime(const std::string& args, const std::string& redirect = "2>/dev/null");

struct CliRun {  // not "Run": a test body would see testing::Test::Run
  int status;
  std::string out;
  std::string err;
};

// Runs vormime with the arguments, standard input from `stdinPath` (/dev/null when
// empty), standard output and standard error kept apart. The ANSI code page is 1252.
CliRun runVormime(const std::string& args, const std::string& stdinPath = "");

struct MeasuredRun {
  int status;
  long peakKiB;  // the process's peak resident size
};

// Runs vormime with the arguments, standard input from /dev/null, standard
// output to `outPath` (/dev/null when empty) and standard error to /dev/null, and reads the
// peak resident memory of that process alone.
MeasuredRun runVormimeMeasured(const std::vector<std::string>& args,
                               const std::string& outPath = "");

// Runs a shell command line: its exit status and standard output.
Result runShellCommand(const std::string& command);

// The pieces of a text between separators: its lines, or with '\t' a line's fields.
inline std::vector<std::string> piecesOf(const std::string& text, char separator = '\n') {
  std::vector<std::string> pieces;
  std::istringstream in(text);
  for (std::string piece; std::getline(in, piece, separator);) pieces.push_back(piece);
  return pieces;
}

// Quotes a word for the shell.
std::string shellQuote(const std::string& word);
