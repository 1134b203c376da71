// Replays a fuzz target's saved corpus without libFuzzer, so the ordinary
// test run keeps every input that ever found a fault passing. With
// --prefixes, the input's prefixes go through as well, since a job's data may
// stop at any byte: every prefix of an input up to 256 bytes long, and 256
// prefixes spread evenly over a longer one.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char* argv[]) {
  const bool prefixes = argc > 1 && std::strcmp(argv[1], "--prefixes") == 0;
  size_t inputs = 0;
  for (int i = prefixes ? 2 : 1; i < argc; ++i)
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
      const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
      const size_t step = std::max<size_t>(1, bytes.size() / 256);
      for (size_t n = prefixes ? bytes.size() % step : bytes.size(); n <= bytes.size(); n += step) {
        LLVMFuzzerTestOneInput(data, n);
        ++inputs;
      }
    }
  std::fprintf(stderr, "%zu inputs replayed\n", inputs);
  return inputs == 0;  // an empty corpus would pass without testing anything
}
