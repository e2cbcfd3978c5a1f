// Running the built host program as a user would, through the shell.
#pragma once

#include <string>

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

// Quotes a word for the shell.
std::string shellQuote(const std::string& word);
