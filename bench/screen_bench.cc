// Screening speed against memcpy of the same gray page, in one run. A ratio
// near 1 means screening costs no more than moving the page once.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "render/render.h"

namespace {

struct page_shape {
  int bytes_per_row;
  int rows;
};

// 4x6 inch labels at 203 and 300 dpi, a 64 MiB page, and a 100 x 150 mm label
// at 300 dpi (1181 dots, padded to 1184, by 1772 rows).
constexpr page_shape kShapes[] = {
    {812 / 8, 1218}, {1200 / 8, 1800}, {8192 / 8, 8192}, {1184 / 8, 1772}};

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

// The label writer's screening, row by row as the front ends feed it, for
// each dither choice (4 is error diffusion).
void BM_LabelPage(benchmark::State& state) {
  const page_shape shape = kShapes[state.range(0)];
  const std::vector<uint8_t> gray = random_gray(shape);
  const uint32_t dots = uint32_t(shape.bytes_per_row) * 8;
  pstops_doc doc{};
  doc.dither = int16_t(state.range(1));
  for (auto _ : state) {
    label_page page;
    if (page.start(doc, dots, uint32_t(shape.rows), 1) != page_problem::kNone) std::abort();
    page.add_rows(gray.data(), dots, uint32_t(shape.rows));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(gray.size()));
}

BENCHMARK(BM_Memcpy)->DenseRange(0, 3)->ArgName("shape");
BENCHMARK(BM_Gray2Bytes)->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3, 4}})->ArgNames({"shape", "mode"});
BENCHMARK(BM_LabelPage)
    ->ArgsProduct({{3}, {kDitherThreshold, kDitherOrdered8, kDitherDiffusion}})
    ->ArgNames({"shape", "dither"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
