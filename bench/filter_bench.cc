// The whole filter on multi-page raster streams of about 190 MiB, written to
// /dev/null, beside two floors on the same file in the same run: `cat`, and a
// bare loop that only reads the rows through libcups. Each child's peak
// memory (peak_rss_MiB) and CPU time (cpu_ms) are reported as counters.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The streams, about 190 MiB each, as CUPS sends them for real labels: 8-bit
// gray rows of 798 dots (100 x 150 mm at 203 dpi) and of 479 dots (60 x 30
// mm), uncompressed (version 3) and compressed (version 2), the old
// 800-dot pages whose rows need no padding, and 4 x 6 in labels at 300 dpi,
// whose 2.16 MB pages are past the allocator's mmap threshold.
struct stream_kind {
  const char* name;
  const char* mode;
  unsigned dots, rows, pages;
};
constexpr stream_kind kStreams[] = {{"798-v3", "v3", 798, 1198, 208},
                                    {"479-v3", "v3", 479, 240, 1734},
                                    {"798-v2", "v2", 798, 1198, 208},
                                    {"800-v3", "v3", 800, 1200, 207},
                                    {"1200-v3", "v3", 1200, 1800, 92}};

std::string temp_path(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir ? dir : "/tmp") + "/lbl_bench_" + name + ".ras";
}

// Writes `pages` copies of `page` with make-raster, once per run.
std::string make_stream(const std::string& name, const char* mode, const std::string& page,
                        unsigned pages) {
  const std::string path = temp_path(name);
  std::string command = std::string(MAKE_RASTER_PATH) + " -m " + mode;
  for (unsigned i = 0; i < pages; ++i) command += " " + page;
  if (std::system((command + " > " + path).c_str()) != 0) std::abort();
  return path;
}

const std::string& stream_path(int kind) {
  static std::string paths[std::size(kStreams)];
  const stream_kind& k = kStreams[kind];
  if (paths[kind].empty())
    paths[kind] =
        make_stream(k.name, k.mode,
                    std::to_string(k.dots) + "x" + std::to_string(k.rows) + ",fill=label", k.pages);
  return paths[kind];
}

// One 64 MiB page (8192 x 8192 dots), for the peak-memory bound: one gray page
// plus one packed page plus 16 MiB.
const std::string& large_page_path() {
  static const std::string path = make_stream("large_page", "v3", "8192x8192,fill=label", 1);
  return path;
}

// Runs argv with standard output on /dev/null; returns the child's peak RSS and CPU time.
struct child_usage {
  long peak_kib;
  double cpu_seconds;  // user and system time: steadier than wall time on a busy machine
};

child_usage run_to_null(const std::vector<std::string>& args) {
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
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
  return {usage.ru_maxrss, seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

void run_bench(benchmark::State& state, const std::vector<std::string>& args, int64_t bytes) {
  long peak_kib = 0;
  double cpu_seconds = 0;
  for (auto _ : state) {
    const child_usage usage = run_to_null(args);
    peak_kib = std::max(peak_kib, usage.peak_kib);
    cpu_seconds += usage.cpu_seconds;
  }
  state.counters["cpu_ms"] = 1000.0 * cpu_seconds / double(state.iterations());
  state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
  state.counters["peak_rss_MiB"] = double(peak_kib) / 1024.0;
}

void run_on_stream(benchmark::State& state, std::vector<std::string> args) {
  const stream_kind& k = kStreams[state.range(0)];
  state.SetLabel(k.name);
  args.push_back(stream_path(static_cast<int>(state.range(0))));
  run_bench(state, args, int64_t{k.dots} * k.rows * k.pages);
}

void BM_Cat(benchmark::State& state) { run_on_stream(state, {"/bin/cat"}); }

void BM_RasterReadLoop(benchmark::State& state) { run_on_stream(state, {READ_LOOP_PATH}); }

void BM_Filter(benchmark::State& state) {
  run_on_stream(state, {LBLFILTER_PATH, "1", "bench", "stream", "1", ""});
}

void BM_FilterLargePage(benchmark::State& state) {
  run_bench(state, {LBLFILTER_PATH, "1", "bench", "page", "1", "", large_page_path()},
            int64_t{8192} * 8192);
  state.counters["limit_MiB"] = 64.0 + 8.0 + 16.0;
}

BENCHMARK(BM_Cat)
    ->ArgName("stream")
    ->DenseRange(0, std::size(kStreams) - 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RasterReadLoop)
    ->ArgName("stream")
    ->DenseRange(0, std::size(kStreams) - 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Filter)
    ->ArgName("stream")
    ->DenseRange(0, std::size(kStreams) - 1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterLargePage)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
