// Screening speed against memcpy of the same gray page, in one run. A ratio
// near 1 means screening costs no more than moving the page once.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "render/render.h"

namespace {

struct page_shape {
  int bytes_per_row;
  int rows;
};

// 4x6 inch labels at 203 and 300 dpi, and a 64 MiB page.
constexpr page_shape kShapes[] = {{812 / 8, 1218}, {1200 / 8, 1800}, {8192 / 8, 8192}};

std::vector<uint8_t> random_gray(const page_shape& shape) {
  std::vector<uint8_t> gray(size_t(shape.bytes_per_row) * 8 * shape.rows);
  std::mt19937 rng(7);
  for (uint8_t& g : gray) g = uint8_t(rng());
  return gray;
}

void BM_Memcpy(benchmark::State& state) {
  const page_shape shape = kShapes[state.range(0)];
  const std::vector<uint8_t> gray = random_gray(shape);
  std::vector<uint8_t> copy(gray.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), gray.data(), gray.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(gray.size()));
}

void BM_Gray2Bytes(benchmark::State& state) {
  const page_shape shape = kShapes[state.range(0)];
  const int mode = int(state.range(1));
  const std::vector<uint8_t> gray = random_gray(shape);
  std::vector<uint8_t> bits(size_t(shape.bytes_per_row) * shape.rows);
  for (auto _ : state) {
    Gray2Bytes(gray.data(), bits.data(), shape.bytes_per_row, shape.rows, mode);
    benchmark::DoNotOptimize(bits.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(gray.size()));
}

BENCHMARK(BM_Memcpy)->DenseRange(0, 2)->ArgName("shape");
BENCHMARK(BM_Gray2Bytes)->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3, 4}})->ArgNames({"shape", "mode"});

}  // namespace
