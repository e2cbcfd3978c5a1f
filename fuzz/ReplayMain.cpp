// Runs a fuzz target without libFuzzer: on every file named on the command line, then on a
// fixed number of pseudo-random inputs (same seed every run), so the test run exercises the
// target even where no fuzzing engine is available.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  const char* env = std::getenv("VORLUND_FUZZ_ITERATIONS");
  const long iterations = env != nullptr ? std::atol(env) : 20000;
  std::mt19937 rng(20261206);
  std::vector<uint8_t> input;
  for (long i = 0; i < iterations; ++i) {
    input.resize(rng() % 300);
    // Mostly bytes that matter to the decoders: escapes, marks, '=', '+', high bytes.
    static const uint8_t kInteresting[] = {0x1B, 0x24, 0x28, 0x29, 0x42, 0x40, 0x0E, 0x0F,
                                           0xFE, 0xFF, 0xEF, 0xBB, 0xBF, '=',  '+',  '-',
                                           0x80, 0x81, 0xE0, 0x8E, 0x00, '\r', '\n', 'A'};
    for (auto& b : input)
      b = (rng() % 3 == 0) ? kInteresting[rng() % sizeof kInteresting]
                           : static_cast<uint8_t>(rng());
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("replayed %d files and %ld generated inputs\n", argc - 1, iterations);
  return 0;
}
