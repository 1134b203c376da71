// The whole filter on a 200 MiB multi-page raster stream, written to /dev/null,
// beside two floors on the same file in the same run: `cat`, and a bare loop
// that only reads the rows through libcups. Peak memory of each child is
// reported as the counter peak_rss_MiB.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/raster_gen.h"

namespace {

// 800-dot rows (100 mm at 203 dpi), 1200 rows a page: 219 pages make 200 MiB.
constexpr unsigned kDots = 800, kRows = 1200, kPages = 219;

const std::string& stream_path(bool compressed) {
  static std::string paths[2];
  std::string& path = paths[compressed];
  if (!path.empty()) return path;
  const char* dir = std::getenv("TMPDIR");
  path = std::string(dir ? dir : "/tmp") +
         (compressed ? "/lbl_bench_compressed.ras" : "/lbl_bench.ras");
  const std::vector<raster_gen::page> pages(kPages, raster_gen::label_page(kDots, kRows));
  const std::string bytes = raster_gen::write_stream(
      pages, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
  if (!raster_gen::write_file(path, bytes)) std::abort();
  return path;
}

// One 64 MiB page (8192 x 8192 dots), for the peak-memory bound: one gray page
// plus one packed page plus 16 MiB.
const std::string& large_page_path() {
  static std::string path;
  if (!path.empty()) return path;
  const char* dir = std::getenv("TMPDIR");
  path = std::string(dir ? dir : "/tmp") + "/lbl_bench_large_page.ras";
  if (!raster_gen::write_file(path, raster_gen::write_stream({raster_gen::label_page(8192, 8192)})))
    std::abort();
  return path;
}

// Runs argv with standard output on /dev/null; returns the child's peak RSS in KiB.
long run_to_null(const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null_fd = ::open("/dev/null", O_WRONLY);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) std::abort();
  return usage.ru_maxrss;
}

void run_bench(benchmark::State& state, const std::vector<std::string>& args) {
  long peak_kib = 0;
  for (auto _ : state) peak_kib = std::max(peak_kib, run_to_null(args));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kDots) * kRows * kPages);
  state.counters["peak_rss_MiB"] = double(peak_kib) / 1024.0;
}

void BM_Cat(benchmark::State& state) {
  run_bench(state, {"/bin/cat", stream_path(state.range(0) != 0)});
}

void BM_RasterReadLoop(benchmark::State& state) {
  run_bench(state, {READ_LOOP_PATH, stream_path(state.range(0) != 0)});
}

void BM_Filter(benchmark::State& state) {
  run_bench(state,
            {LBLFILTER_PATH, "1", "bench", "stream", "1", "", stream_path(state.range(0) != 0)});
}

void BM_FilterLargePage(benchmark::State& state) {
  run_bench(state, {LBLFILTER_PATH, "1", "bench", "page", "1", "", large_page_path()});
  state.SetBytesProcessed(int64_t(state.iterations()) * 8192 * 8192);
  state.counters["limit_MiB"] = 64.0 + 8.0 + 16.0;
}

BENCHMARK(BM_Cat)
    ->ArgName("compressed")
    ->DenseRange(0, 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RasterReadLoop)
    ->ArgName("compressed")
    ->DenseRange(0, 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Filter)
    ->ArgName("compressed")
    ->DenseRange(0, 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterLargePage)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
