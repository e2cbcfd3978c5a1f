// The generated messages the MIME benchmarks share, so every program measures the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class MimeMessage2;
namespace benchmark {
class State;
}

namespace bench {

constexpr size_t kMb = 1024 * 1024;

// About `total` bytes: half quoted-printable text in rotating charsets (256 KB parts), half
// base64 attachments (1 MB parts), alternating.
std::string bigMessage(size_t total);

// `parts` parts of a few hundred bytes each, text and small attachments mixed.
std::string manyPartsMessage(int parts);

// 0: the 50 MB message, 1: the 10,000-part one, 2: the 50 MB message as this library writes
// it back (quoted-printable lines of 72 where the generator writes 76); built once.
const std::string& message(int which);

// Loads the message as the component loads a file: its text in a block of its own that the
// tree takes over, its bodies left undecoded until read.
void loadTaken(MimeMessage2& e, const std::string& m);
// The same with the copy made while the timer is stopped (GMime's side parses a stream made
// once beforehand), so only the load is measured.
void loadTimed(benchmark::State& state, MimeMessage2& e, const std::string& m);

// Every leaf's bytes, text in the charset it is labelled with; returns the bytes decoded.
uint64_t decodeLeaves(const MimeMessage2& e);

}  // namespace bench
