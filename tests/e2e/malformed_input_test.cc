// Malformed and hostile input: every cut of a two-page raster stream in every
// stream version and byte order libcups reads, page headers that lie, garbage
// after the sync word, inputs that are no stream at all, and settings with
// numbers no label has. Whatever arrives, the printer receives only complete
// label sequences, and a job that cannot print says so and fails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "render/render.h"
#include "tests/e2e/filter_harness.h"
#include "tests/support/raster_variants.h"
#include "tools/lblview/stream_parser.h"

namespace {

using filter_harness::expected_page;
using filter_harness::hex;
using filter_harness::label_values;
using filter_harness::row_by_row_output;
using filter_harness::run_filter;
using raster_gen::page;

using test_common::kAddressSanitizer;

std::span<const uint8_t> as_bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

std::string read_all(int fd) {
  std::string bytes;
  char chunk[65536];
  ::lseek(fd, 0, SEEK_SET);
  ssize_t got;
  while ((got = ::read(fd, chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(got));
  return bytes;
}

int bytes_fd(const std::string& bytes) {
  const int fd = ::memfd_create("lbl-test-input", MFD_CLOEXEC);
  if (fd >= 0 && ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    ::close(fd);
    return -1;
  }
  if (fd >= 0) ::lseek(fd, 0, SEEK_SET);
  return fd;
}

// What the renderer gives for the stream read from `in_fd` (which it takes
// over), run in this process so that tens of thousands of cuts stay quick:
// its result, the label stream and what it told the spooler on standard error.
struct rendered {
  int result = -1;
  std::string out;
  std::string err;
};

rendered render_here_fd(int in_fd) {
  pstops_doc doc{};
  doc.width = 60;
  doc.height = 40;
  doc.speed = 4;
  doc.darkness = 7;
  rendered r;
  const int out_fd = ::memfd_create("lbl-test-out", MFD_CLOEXEC);
  const int err_fd = ::memfd_create("lbl-test-err", MFD_CLOEXEC);
  cups_file_t* input = in_fd >= 0 ? cupsFileOpenFd(in_fd, "r") : nullptr;
  FILE* out = out_fd >= 0 ? ::fdopen(out_fd, "w+") : nullptr;
  if (input == nullptr || out == nullptr || err_fd < 0) {
    ADD_FAILURE() << "cannot set up an in-process run";
    return r;
  }
  std::fflush(stderr);
  const int saved_err = ::dup(2);
  ::dup2(err_fd, 2);
  r.result = print_bitmap_to(&doc, input, out);
  std::fflush(stderr);
  ::dup2(saved_err, 2);
  ::close(saved_err);
  cupsFileClose(input);
  std::fflush(out);
  r.out = read_all(out_fd);
  r.err = read_all(err_fd);
  std::fclose(out);
  ::close(err_fd);
  return r;
}

rendered render_here(const std::string& stream) { return render_here_fd(bytes_fd(stream)); }

// The label stream must be whole pages, each accepted by lblview's validator.
::testing::AssertionResult whole_pages(const std::string& out, size_t* count = nullptr) {
  std::vector<lblview::page> pages;
  lblview::parse_error error;
  if (!lblview::parse_stream(as_bytes(out), &pages, &error))
    return ::testing::AssertionFailure() << lblview::describe(error);
  if (count != nullptr) *count = pages.size();
  return ::testing::AssertionSuccess();
}

std::string page_messages(size_t pages, const std::vector<page>& of) {
  std::string out;
  for (size_t i = 0; i < pages; ++i)
    out += "PAGE: " + std::to_string(i + 1) + " " +
           std::to_string(static_cast<int>(of[i].header.NumCopies)) + "\n";
  return out;
}

// Two small pages with different sizes and copies, so that a cut lands in
// every part of a page and of a header, in the first page and the second.
std::vector<page> two_pages() {
  return {raster_gen::random_page(12, 3, 41), raster_gen::label_page(20, 4, 2)};
}

struct stream_variant {
  std::string name;
  std::string stream;
  bool carries_copies = true;  // Apple raster has no copies field: libcups reads 0
};

// The pages as a variant delivers them.
std::vector<page> as_delivered(std::vector<page> pages, const stream_variant& v) {
  if (!v.carries_copies)
    for (page& p : pages) p.header.NumCopies = 0;
  return pages;
}

// Every stream version the library reads, in both byte orders. libcups'
// writer makes version 3 ("RaS3"), version 2 ("RaS2", compressed) and PWG
// raster (version 2, big-endian) in this machine's order; the original
// version 1, with its shorter header, and the other byte order are made from
// them.
std::vector<stream_variant> stream_variants(const std::vector<page>& pages) {
  namespace rv = raster_variants;
  const std::string v3 = raster_gen::write_stream(pages, CUPS_RASTER_WRITE);
  const std::string v3_swapped = rv::swapped_stream(pages, CUPS_RASTER_WRITE);
  return {
      {"version 1", rv::version1_stream(pages, false)},
      {"version 1 swapped", rv::version1_stream(pages, true)},
      {"version 2", raster_gen::write_stream(pages, CUPS_RASTER_WRITE_COMPRESSED)},
      {"version 2 swapped", rv::swapped_stream(pages, CUPS_RASTER_WRITE_COMPRESSED)},
      {"version 3", v3},
      {"version 3 swapped", v3_swapped},
      {"PWG", raster_gen::write_stream(pages, CUPS_RASTER_WRITE_PWG)},
      {"PWG swapped", rv::swapped_stream(pages, CUPS_RASTER_WRITE_PWG)},
      {"Apple", raster_gen::write_stream(pages, CUPS_RASTER_WRITE_APPLE), false},
  };
}

// ---------------------------------------------------------------------------
// Truncation

TEST(MalformedRaster, EveryStreamVersionAndByteOrderPrintsBothPages) {
  for (const stream_variant& v : stream_variants(two_pages())) {
    SCOPED_TRACE(v.name);
    const std::vector<page> pages = as_delivered(two_pages(), v);
    const std::string want = expected_page({}, pages[0]) + expected_page({}, pages[1]);
    const rendered r = render_here(v.stream);
    EXPECT_EQ(r.result, kRenderDone);
    EXPECT_EQ(r.err, page_messages(2, pages));
    EXPECT_EQ(hex(r.out), hex(want));
  }
}

// The stream cut after every one of its bytes: what was received prints, a
// page cut short prints in full size with its missing rows blank, and
// nothing else ever reaches the printer.
TEST(MalformedRaster, EveryCutOfATwoPageStreamPrintsWhatArrived) {
  for (const stream_variant& v : stream_variants(two_pages())) {
    SCOPED_TRACE(v.name);
    const std::vector<page> pages = as_delivered(two_pages(), v);
    for (size_t cut = 0; cut <= v.stream.size(); ++cut) {
      const std::string stream = v.stream.substr(0, cut);
      const rendered r = render_here(stream);
      size_t printed = 0;
      ASSERT_EQ(r.result, kRenderDone) << "cut at " << cut;
      ASSERT_TRUE(whole_pages(r.out, &printed)) << "cut at " << cut;
      ASSERT_EQ(r.err, page_messages(printed, pages)) << "cut at " << cut;
      ASSERT_EQ(hex(r.out), hex(row_by_row_output(stream))) << "cut at " << cut;
    }
  }
}

// The built filter on a sample of the cuts: the same bytes as the renderer in
// process, exit status 0.
TEST(MalformedRaster, SampledCutsThroughTheFilterMatchTheRenderer) {
  for (const stream_variant& v : stream_variants(two_pages())) {
    SCOPED_TRACE(v.name);
    const size_t header_end = raster_variants::kSyncBytes + raster_variants::kHeaderBytes;
    std::set<size_t> cuts = {
        0, 2, 4, 5, header_end - 1, header_end, header_end + 1, v.stream.size() - 1};
    for (size_t cut = 0; cut < v.stream.size(); cut += v.stream.size() / 5 + 1) cuts.insert(cut);
    for (size_t cut : cuts) {
      if (cut > v.stream.size()) continue;
      const std::string stream = v.stream.substr(0, cut);
      const rendered here = render_here(stream);
      const run_process::result r = run_filter("", stream);
      EXPECT_EQ(r.exit_status, 0) << "cut at " << cut;
      EXPECT_EQ(r.err, here.err) << "cut at " << cut;
      EXPECT_EQ(hex(r.out), hex(here.out)) << "cut at " << cut;
    }
  }
}

// ---------------------------------------------------------------------------
// Lying headers

struct lie {
  const char* name;
  uint32_t bytes_per_line, width, height, copies;
  int exit_status;
  const char* err;  // standard error after page 1's "PAGE: 1 1"
  bool second_page_prints;
};

constexpr uint32_t kKeep = 0xdeadbeef;  // the field keeps the honest page's value

// The second page's header says what no page can be; its rows are 8 x 3 dots.
const lie kLies[] = {
    {"no rows", kKeep, kKeep, 0, kKeep, 0, "", false},
    {"no dots", 0, 0, kKeep, kKeep, 0, "", false},
    {"no rows and no dots", 0, 0, 0, kKeep, 0, "", false},
    {"row of 2^31 - 1 dots", 0x7fffffff, 0x7fffffff, 1, kKeep, 1,
     "ERROR: Page 2 is too large for the printer (2147483647 x 1 dots)\n", false},
    {"2^32 rows", 8, 8, 0xffffffff, kKeep, 1,
     "ERROR: Page 2 is too large for the printer (8 x 4294967295 dots)\n", false},
    {"2^16 x 2^16 dots, 0 in 32 bits", 65536, 65536, 65536, kKeep, 1,
     "ERROR: Page 2 is too large for the printer (65536 x 65536 dots)\n", false},
    {"65537 x 65537 dots, 131073 in 32 bits", 65537, 65537, 65537, kKeep, 1,
     "ERROR: Page 2 is too large for the printer (65537 x 65537 dots)\n", false},
    {"2^32 - 1 copies", kKeep, kKeep, kKeep, 0xffffffff, 0, "PAGE: 2 -1\n", true},
};

void set_field(std::string& stream, size_t header_at, size_t field, uint32_t value, bool swapped) {
  if (value == kKeep) return;
  if (swapped) value = __builtin_bswap32(value);
  raster_variants::set_word(stream, header_at + field, value);
}

TEST(MalformedRaster, LyingSecondHeaderNeverReachesThePrinterInPart) {
  const page good = raster_gen::random_page(12, 3, 51);
  const page honest = raster_gen::solid_page(8, 3, 0);
  const cups_mode_t modes[] = {CUPS_RASTER_WRITE, CUPS_RASTER_WRITE_COMPRESSED};
  for (const lie& l : kLies) {
    for (cups_mode_t mode : modes) {
      for (bool swapped : {false, true}) {
        SCOPED_TRACE(std::string(l.name) + ", mode " + std::to_string(mode) +
                     (swapped ? ", swapped" : ""));
        std::string stream = swapped ? raster_variants::swapped_stream({good, honest}, mode)
                                     : raster_gen::write_stream({good, honest}, mode);
        const size_t header_at = raster_gen::write_stream({good}, mode).size();
        using h = cups_page_header2_t;
        set_field(stream, header_at, offsetof(h, cupsBytesPerLine), l.bytes_per_line, swapped);
        set_field(stream, header_at, offsetof(h, cupsWidth), l.width, swapped);
        set_field(stream, header_at, offsetof(h, cupsHeight), l.height, swapped);
        set_field(stream, header_at, offsetof(h, NumCopies), l.copies, swapped);

        const run_process::result r = run_filter("", stream);
        page second = honest;
        second.header.NumCopies = l.copies == kKeep ? honest.header.NumCopies : l.copies;
        std::string want = expected_page({}, good);
        if (l.second_page_prints) want += expected_page({}, second);
        EXPECT_EQ(r.exit_status, l.exit_status);
        EXPECT_EQ(r.err, std::string("PAGE: 1 1\n") + l.err);
        EXPECT_EQ(hex(r.out), hex(want));
        EXPECT_TRUE(whole_pages(r.out));
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Garbage

// libcups takes and clears a buffer of the row size a header claims as it
// reads the header; for up to 4 GiB of it the sanitizer build would spend
// minutes clearing memory. The first header's row size is kept random but
// below 4096 bytes; every other byte stays random (the fuzzers try the rest).
void bound_first_row(std::string& stream, uint32_t random) {
  const uint32_t bytes = random % 4096;
  if (stream.rfind("UNIRAST", 0) == 0) {
    // Apple raster: the first page header's width, big-endian, at byte 24.
    if (stream.size() >= 28) {
      stream[24] = stream[25] = 0;
      stream[26] = static_cast<char>(bytes >> 8);
      stream[27] = static_cast<char>(bytes);
    }
    return;
  }
  const bool big_endian = stream[0] == 'R';
  raster_variants::set_word(
      stream, raster_variants::kSyncBytes + offsetof(cups_page_header2_t, cupsBytesPerLine),
      big_endian ? __builtin_bswap32(bytes) : bytes);
}

// Random bytes after each sync word: whatever the "headers" say, the output
// is whole pages, and a page refused names itself in one ERROR line.
TEST(MalformedRaster, GarbageAfterTheSyncWordPrintsOnlyWholePages) {
  const std::string syncs[] = {
      "RaSt", "tSaR", "RaS2", "2SaR", "RaS3", "3SaR", std::string("UNIRAST\0", 8)};
  const size_t lengths[] = {0, 1, 7, 1795, 1796, 1797, 4000, 20000};
  for (const std::string& sync : syncs) {
    for (size_t length : lengths) {
      for (uint32_t seed = 1; seed <= 4; ++seed) {
        SCOPED_TRACE(sync + " + " + std::to_string(length) + " bytes, seed " +
                     std::to_string(seed));
        std::mt19937 rng(seed * 7919 + static_cast<uint32_t>(length));
        std::string stream = sync;
        for (size_t i = 0; i < length; ++i) stream += static_cast<char>(rng());
        bound_first_row(stream, rng());
        const rendered r = render_here(stream);
        size_t printed = 0;
        ASSERT_TRUE(whole_pages(r.out, &printed));
        const size_t errors = r.err.find("ERROR: ") == std::string::npos ? 0 : 1;
        EXPECT_EQ(r.result, errors ? kRenderFailed : kRenderDone) << r.err;
        EXPECT_EQ(hex(r.out), hex(row_by_row_output(stream)));
      }
    }
  }
}

TEST(MalformedRaster, TheFilterOnGarbageExitsCleanly) {
  std::mt19937 rng(97);
  for (const char* sync : {"RaS2", "3SaR", "UNIR", "%!PS"}) {
    std::string stream = sync;
    for (int i = 0; i < 6000; ++i) stream += static_cast<char>(rng());
    const run_process::result r = run_filter("", stream);
    SCOPED_TRACE(sync);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err.find("ERROR: ") == std::string::npos ? 0 : 1, r.exit_status) << r.err;
    EXPECT_TRUE(whole_pages(r.out));
  }
}

// ---------------------------------------------------------------------------
// Inputs that are no stream

class InputArgument : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lbl-malformed-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string dir_;
};

TEST_F(InputArgument, EmptyInputPrintsNothingAndSucceeds) {
  const std::string empty = dir_ + "/empty.ras";
  ASSERT_TRUE(raster_gen::write_file(empty, ""));
  for (const bool from_file : {false, true}) {
    SCOPED_TRACE(from_file ? "empty file" : "empty standard input");
    const run_process::result r = run_filter("", "", from_file ? empty : "");
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
}

// A directory opens for reading on Linux but holds no job: the job cannot be
// printed, and saying so is better than a silent success with no label.
TEST_F(InputArgument, DirectoryFailsTheJob) {
  const run_process::result r = run_filter("", "", dir_);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: Unable to open print file \"" + dir_ + "\": Is a directory\n");
}

TEST_F(InputArgument, MissingFileFailsTheJob) {
  const std::string missing = dir_ + "/no-such-job";
  const run_process::result r = run_filter("", "", missing);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "ERROR: Unable to open print file \"" + missing + "\": No such file or directory\n");
}

// The spooler runs filters as an unprivileged user; for root every file is
// readable, so the filter is run as nobody there.
TEST_F(InputArgument, UnreadableFileFailsTheJob) {
  const std::string job = dir_ + "/job.ras";
  ASSERT_TRUE(raster_gen::write_file(job, raster_gen::write_stream(two_pages())));
  ASSERT_EQ(::chmod(job.c_str(), 0), 0);
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  run_process::request req;
  req.argv = {"label-queue", "17", "alice", "parcel", "1", "", job};
  req.unset_env = {"PPD"};
  req.program = LBLFILTER_PATH;
  if (::geteuid() == 0) {
    LBL_REQUIRE(::access("/usr/bin/setpriv", X_OK) == 0, "setpriv (util-linux)");
    // nobody may not reach the build tree: it runs a copy of the filter.
    const std::string filter = dir_ + "/lblfilter";
    std::filesystem::copy_file(LBLFILTER_PATH, filter);
    ASSERT_EQ(::chmod(filter.c_str(), 0755), 0);
    req.program = "/usr/bin/setpriv";
    req.argv = {"setpriv",
                "--reuid=65534",
                "--regid=65534",
                "--clear-groups",
                filter,
                "17",
                "alice",
                "parcel",
                "1",
                "",
                job};
  }
  const run_process::result r = run_process::run(req);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: Unable to open print file \"" + job + "\": Permission denied\n");
}

// A file that opens but fails to read: the job's data is lost, which is a
// failed job, not an empty one.
TEST_F(InputArgument, ReadErrorFailsTheJob) {
  // Reading a process's memory file at offset 0 fails with EIO, for root too.
  const run_process::result r = run_filter("", "", "/proc/self/mem");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ERROR: Unable to read print data: Input/output error\n");
}

// A read error in the middle of a page: the pages before it print, the page
// whose rows were lost does not, and the job fails. The error comes from
// reading this process's memory through /proc/self/mem up to a page that is
// not mapped, which fails with EIO as a failing disk would.
TEST(MalformedRaster, ReadErrorInsideAPageDropsThatPageAndFailsTheJob) {
  const page first = raster_gen::random_page(12, 3, 71);
  const page second = raster_gen::random_page(16, 40, 72);
  const std::string whole = raster_gen::write_stream({first, second});
  const std::string stream = whole.substr(0, whole.size() - 300);  // inside the second page
  const size_t page_size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t mapped = (stream.size() / page_size + 1) * page_size;
  auto* region = static_cast<char*>(::mmap(nullptr, mapped + page_size, PROT_READ | PROT_WRITE,
                                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(region, MAP_FAILED);
  ASSERT_EQ(::munmap(region + mapped, page_size), 0);
  char* start = region + mapped - stream.size();  // the stream ends where the mapping does
  std::memcpy(start, stream.data(), stream.size());

  const int fd = ::open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  ASSERT_EQ(::lseek(fd, static_cast<off_t>(reinterpret_cast<uintptr_t>(start)), SEEK_SET),
            static_cast<off_t>(reinterpret_cast<uintptr_t>(start)));
  const rendered r = render_here_fd(fd);
  ::munmap(region, mapped);
  EXPECT_EQ(r.result, kRenderFailed);
  EXPECT_EQ(r.err, "PAGE: 1 1\nPAGE: 2 1\nERROR: Unable to read print data: Input/output error\n");
  EXPECT_EQ(hex(r.out), hex(expected_page({}, first)));
}

// ---------------------------------------------------------------------------
// Hostile settings

struct settings_case {
  const char* what;
  std::string options;
  std::string ppd_defaults;  // empty: no PPD
  label_values want;
};

std::string ppd_with(const std::string& defaults) {
  return "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n"
         "*PCFileName: \"LABEL.PPD\"\n*Manufacturer: \"Label\"\n*Product: \"(Label)\"\n"
         "*ModelName: \"Label\"\n*NickName: \"Label\"\n" +
         defaults;
}

std::vector<settings_case> hostile_settings() {
  const std::string long_digits(100000, '9');
  const std::string long_ones(100000, '1');
  std::string many_media = "media=";
  for (int i = 0; i < 5000; ++i) many_media += "Roll,";
  many_media += "w170h85";
  // atoi reads as strtol does and keeps the low 32 bits: a number beyond the
  // long range gives -1 (from LONG_MAX) or 0 (from LONG_MIN); the record then
  // keeps the low 16 bits.
  return {
      {"darkness beyond long", "Darkness=99999999999999999999", "", {60, 40, 4, -1, 0, 0}},
      {"darkness below long", "Darkness=-99999999999999999999", "", {60, 40, 4, 0, 0, 0}},
      {"darkness NaN", "Darkness=nan", "", {60, 40, 4, 0, 0, 0}},
      {"darkness inf", "Darkness=inf", "", {60, 40, 4, 0, 0, 0}},
      {"darkness hex", "Darkness=0x10", "", {60, 40, 4, 0, 0, 0}},
      {"speed of int max", "PrintSpeed=2147483647", "", {60, 40, -13108, 7, 0, 0}},
      {"custom NaN", "PageSize=Custom.nanxnan", "", {11, 11, 4, 7, 0, 0}},
      {"custom inf", "PageSize=Custom.infx-inf", "", {11, 11, 4, 7, 0, 0}},
      {"custom hex floats", "PageSize=Custom.0x1p12x0x1p8", "", {1447, 90, 4, 7, 0, 0}},
      {"custom beyond float", "PageSize=Custom.1e39x1e39", "", {11, 11, 4, 7, 0, 0}},
      {"custom beyond int", "PageSize=Custom.3e9x-3e9mm", "", {11, 11, 4, 7, 0, 0}},
      {"custom wraps 16 bits", "PageSize=Custom.92000x40000mm", "", {26464, 11, 4, 7, 0, 0}},
      {"custom of 100000 digits",
       "PageSize=Custom." + long_digits + "x1",
       "",
       {11, 11, 4, 7, 0, 0}},
      {"position of 100000 digits", "Horizontal=" + long_ones, "", {60, 40, 4, 7, -1, 0}},
      {"option name of 100000 letters", std::string(100000, 'A') + "=1", "", {60, 40, 4, 7, 0, 0}},
      {"media of 5000 elements", many_media, "", {60, 30, 4, 7, 0, 0}},
      {"PPD darkness beyond long",
       "",
       "*DefaultDarkness: 99999999999999999999\n",
       {60, 40, 4, -1, 0, 0}},
      {"PPD custom NaN in mm", "", "*DefaultPageSize: Custom.nanxnanmm\n", {0, 0, 4, 7, 0, 0}},
      {"PPD custom hex floats in inches",
       "",
       "*DefaultPageSize: Custom.0x1p4x0x1p3in\n",
       {406, 203, 4, 7, 0, 0}},
      {"PPD custom inf in metres", "", "*DefaultPageSize: Custom.infxinf\n", {0, 0, 4, 7, 0, 0}},
      {"PPD custom wraps 16 bits",
       "",
       "*DefaultPageSize: Custom.1e5x1e5mm\n",
       {-31072, -31072, 4, 7, 0, 0}},
      {"PPD position wraps 16 bits",
       "",
       "*DefaultHorizontal: -32769\n*DefaultVertical: 65536\n",
       {60, 40, 4, 7, 32767, 0}},
      {"PPD speed beyond long",
       "",
       "*DefaultPrintSpeed: -99999999999999999999\n",
       {60, 40, 0, 7, 0, 0}},
  };
}

TEST_F(InputArgument, HostileSettingsStillPrintWholeLabels) {
  const page p = raster_gen::random_page(16, 3, 61);
  const std::string stream = raster_gen::write_stream({p});
  for (const settings_case& c : hostile_settings()) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> env;
    if (!c.ppd_defaults.empty()) {
      const std::string ppd = dir_ + "/queue.ppd";
      ASSERT_TRUE(raster_gen::write_file(ppd, ppd_with(c.ppd_defaults)));
      env.push_back("PPD=" + ppd);
    }
    const run_process::result r = run_filter(c.options, stream, "", env);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "PAGE: 1 1\n");
    EXPECT_TRUE(whole_pages(r.out));
    EXPECT_EQ(hex(r.out), hex(expected_page(c.want, p)));
  }
}

// ---------------------------------------------------------------------------
// Memory

// The spooler may run filters under an address-space limit: a page that
// cannot be held fails the job with one ERROR line, after the pages before it,
// and no byte of it reaches the printer.
TEST(ResourceLimits, PageBeyondAnAddressSpaceLimitFailsTheJob) {
  if (kAddressSanitizer) GTEST_SKIP() << "the sanitizer's shadow memory needs the address space";
  const char* prlimit = "/usr/bin/prlimit";
  LBL_REQUIRE(::access(prlimit, X_OK) == 0, "prlimit (util-linux)");
  const page good = raster_gen::solid_page(8, 1, 0);
  page big = raster_gen::solid_page(8, 1, 0);
  big.header.cupsBytesPerLine = big.header.cupsWidth = 1u << 15;
  big.header.cupsHeight = 1u << 15;  // 1 GiB of gray, well within the page limits
  big.rows.clear();
  run_process::request req;
  req.program = prlimit;
  req.argv = {"prlimit", "--as=536870912", LBLFILTER_PATH, "17", "alice", "parcel", "1", ""};
  req.unset_env = {"PPD"};
  req.stdin_bytes = raster_gen::write_stream({good, big});
  const run_process::result r = run_process::run(req);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "PAGE: 1 1\nPAGE: 2 1\nERROR: Unable to allocate memory\n");
  EXPECT_EQ(hex(r.out), hex(expected_page({}, good)));
}

}  // namespace
