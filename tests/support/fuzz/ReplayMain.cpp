// Replay driver for fuzz targets in ordinary builds: feeds every file named on
// the command line (or found in named folders), then a fixed number of
// pseudo-random inputs, including mutations of the seeds.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::vector<uint8_t>> seeds;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg))
        if (entry.is_regular_file()) seeds.push_back(readFile(entry.path()));
    } else if (std::filesystem::is_regular_file(arg)) {
      seeds.push_back(readFile(arg));
    }
  }
  for (const auto& seed : seeds) LLVMFuzzerTestOneInput(seed.data(), seed.size());

  std::mt19937 rng(12345);
  std::vector<uint8_t> input;
  const int rounds = 20000;
  for (int round = 0; round < rounds; ++round) {
    if (!seeds.empty() && round % 2 == 0) {
      input = seeds[rng() % seeds.size()];
      const size_t flips = 1 + rng() % 8;
      for (size_t k = 0; k < flips && !input.empty(); ++k) input[rng() % input.size()] = static_cast<uint8_t>(rng());
      if (rng() % 4 == 0 && !input.empty()) input.resize(rng() % input.size());
    } else {
      input.resize(rng() % 512);
      for (auto& byte : input) byte = static_cast<uint8_t>(rng());
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("replayed %zu seeds and %d generated inputs\n", seeds.size(), rounds);
  return 0;
}
