// Replays a fuzz target's saved corpus without libFuzzer: every file named on
// the command line, or found in a directory named there, goes once through
// the target's entry point. Built with any compiler, so the ordinary test run
// keeps every input that ever found a fault (and every seed) passing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs_named(int argc, char* argv[]) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path named = argv[i];
    std::error_code ec;
    if (fs::is_directory(named, ec)) {
      for (const fs::directory_entry& entry : fs::recursive_directory_iterator(named))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.push_back(named);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<fs::path> files = inputs_named(argc, argv);
  // An empty corpus would pass without testing anything.
  if (files.empty()) {
    std::fprintf(stderr, "usage: %s CORPUS-DIR-OR-FILE...: no input found\n", argv[0]);
    return 1;
  }
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replay %s (%zu bytes)\n", file.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs replayed\n", files.size());
  return 0;
}
