// lblview: checks a label command stream that lblfilter wrote, summarises
// every page and draws it as a PNG picture, so a layout can be seen and a
// damaged stream found before any label stock is spent.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "render/stream_parser.h"
#include "tools/lblview/page_report.h"
#include "tools/lblview/picture.h"

namespace {

using namespace lblview;
using namespace label_stream;

constexpr int kExitValid = 0;
constexpr int kExitTrouble = 1;    // usage error, unreadable input, picture not written
constexpr int kExitMalformed = 2;  // the stream is not what the filter writes

constexpr char kUsage[] =
    "Usage: lblview [OPTION]... [FILE|-]\n"
    "Checks a label command stream written by lblfilter (FILE, or standard input\n"
    "when FILE is - or absent), prints a summary of every page and, with -o, draws\n"
    "every page as a PNG picture.\n"
    "\n"
    "  -o, --output=FILE.png  write the picture of each page: FILE.png for a\n"
    "                         one-page stream, FILE-1.png, FILE-2.png, ... for more\n"
    "      --png              draw the bare bitmap instead of the label: one pixel\n"
    "                         per dot, bytes-per-row x 8 pixels wide, printed dots\n"
    "                         black (0), blank dots white (255), no label canvas\n"
    "      --dpi=N            printer resolution for the label picture and the\n"
    "                         label-size check, 25 to 2400 (203: 8 dots per mm;\n"
    "                         300: 12; 600: 24). Without it, each page's is\n"
    "                         inferred: 203, 300 or 600, whichever fits the\n"
    "                         bitmap's width in dots to the label's in mm best\n"
    "      --json             print the summary as JSON\n"
    "  -q, --quiet            print no summary, only errors and warnings\n"
    "  -h, --help             print this help and exit\n"
    "      --version          print the version and exit\n"
    "\n"
    "Without --png the picture is the label as it would print: the label's size at\n"
    "its resolution, white, its edge outlined in gray, the bitmap placed at the\n"
    "REFERENCE point plus its BITMAP position, printed dots black, dots beyond the\n"
    "edge cut off. A malformed stream gets no pictures.\n"
    "\n"
    "Exit status: 0 for a valid stream (warnings included), 1 for a usage error or\n"
    "a file that cannot be read or written, 2 for a malformed stream.\n";

struct options {
  bool json = false;
  bool quiet = false;
  picture_kind kind = picture_kind::label;
  int dpi = 0;  // inferred for each page
  std::string output;
  std::string input = "-";
};

enum class cli_outcome { run, done, usage_error };

int usage_error(const std::string& message) {
  std::fprintf(stderr, "lblview: %s\nTry 'lblview --help' for more information.\n",
               message.c_str());
  return kExitTrouble;
}

[[nodiscard]] bool parse_dpi(const char* text, int* dpi) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < kMinDpi || value > kMaxDpi) return false;
  *dpi = static_cast<int>(value);
  return true;
}

cli_outcome parse_arguments(int argc, char* argv[], options* opt, std::string* error) {
  enum : int { kOptPng = 256, kOptDpi, kOptJson, kOptVersion };
  static const option kLongOptions[] = {
      {"output", required_argument, nullptr, 'o'},    {"png", no_argument, nullptr, kOptPng},
      {"dpi", required_argument, nullptr, kOptDpi},   {"json", no_argument, nullptr, kOptJson},
      {"quiet", no_argument, nullptr, 'q'},           {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kOptVersion}, {nullptr, 0, nullptr, 0}};
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":o:qh", kLongOptions, nullptr)) != -1) {
    switch (c) {
      case 'o':
        opt->output = optarg;
        break;
      case kOptPng:
        opt->kind = picture_kind::bitmap;
        break;
      case kOptDpi:
        if (!parse_dpi(optarg, &opt->dpi)) {
          *error = std::string("--dpi wants a whole number from ") + std::to_string(kMinDpi) +
                   " to " + std::to_string(kMaxDpi) + ", not '" + optarg + "'";
          return cli_outcome::usage_error;
        }
        break;
      case kOptJson:
        opt->json = true;
        break;
      case 'q':
        opt->quiet = true;
        break;
      case 'h':
        std::fputs(kUsage, stdout);
        return cli_outcome::done;
      case kOptVersion:
        std::printf("lblview %s\n", LBLVIEW_VERSION);
        return cli_outcome::done;
      case ':':
        *error = std::string("option '") + argv[optind - 1] + "' needs a value";
        return cli_outcome::usage_error;
      default:
        *error = std::string("unknown option '") + argv[optind - 1] + "'";
        return cli_outcome::usage_error;
    }
  }
  if (argc - optind > 1) {
    *error = "one stream at a time: '" + std::string(argv[optind + 1]) + "' is one too many";
    return cli_outcome::usage_error;
  }
  if (optind < argc) opt->input = argv[optind];
  if (opt->output.empty() && opt->kind == picture_kind::bitmap) {
    *error = "--png draws pictures: name them with -o FILE.png";
    return cli_outcome::usage_error;
  }
  return cli_outcome::run;
}

struct file_closer {
  void operator()(FILE* f) const { std::fclose(f); }
};

// Reads the whole stream: a page is only known to be sound once its PRINT
// line has arrived.
[[nodiscard]] bool read_stream(const std::string& path, std::vector<uint8_t>* bytes,
                               std::string* error) {
  std::unique_ptr<FILE, file_closer> owned;
  FILE* in = stdin;
  if (path != "-") {
    owned.reset(std::fopen(path.c_str(), "rb"));
    if (!owned) {
      *error = std::strerror(errno);
      return false;
    }
    in = owned.get();
  }
  std::vector<uint8_t> chunk(size_t{1} << 16);
  size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
    if (bytes->size() + got > kMaxStreamBytes) {
      *error = "stream is longer than the limit of " + std::to_string(kMaxStreamBytes) + " bytes";
      return false;
    }
    bytes->insert(bytes->end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(got));
  }
  if (std::ferror(in)) {
    *error = std::strerror(errno);
    return false;
  }
  return true;
}

// Draws and writes every page; a page that cannot be drawn does not keep the
// others from being written.
[[nodiscard]] bool write_pictures(const options& opt, const std::string& source,
                                  const std::vector<page>& pages) {
  if (pages.empty()) {
    std::fprintf(stderr, "lblview: %s: warning: no pages, so no picture written\n", source.c_str());
    return true;
  }
  bool all_written = true;
  const int count = static_cast<int>(pages.size());
  for (const page& p : pages) {
    const std::string path = numbered_path(opt.output, p.number, count);
    picture pic;
    std::string error;
    if (!draw_page(p, opt.kind, opt.dpi ? opt.dpi : infer_dpi(p), &pic, &error) ||
        !write_png(pic, path, &error)) {
      std::fprintf(stderr, "lblview: %s: page %d: %s\n", path.c_str(), p.number, error.c_str());
      all_written = false;
    }
  }
  return all_written;
}

}  // namespace

int main(int argc, char* argv[]) {
  options opt;
  std::string error;
  switch (parse_arguments(argc, argv, &opt, &error)) {
    case cli_outcome::done:
      return std::fflush(stdout) == 0 ? kExitValid : kExitTrouble;
    case cli_outcome::usage_error:
      return usage_error(error);
    case cli_outcome::run:
      break;
  }

  const std::string source = opt.input == "-" ? "standard input" : opt.input;
  std::vector<uint8_t> bytes;
  if (!read_stream(opt.input, &bytes, &error)) {
    std::fprintf(stderr, "lblview: %s: %s\n", source.c_str(), error.c_str());
    return kExitTrouble;
  }

  std::vector<page> pages;
  parse_error fault;
  const bool valid = parse_stream(bytes, &pages, &fault);
  std::vector<page_facts> facts;
  facts.reserve(pages.size());
  for (const page& p : pages) {
    facts.push_back(examine(p, opt.dpi ? opt.dpi : infer_dpi(p)));
    for (const std::string& warning : facts.back().warnings) {
      std::fprintf(stderr, "lblview: %s: page %d: warning: %s\n", source.c_str(), p.number,
                   warning.c_str());
    }
  }
  if (!valid)
    std::fprintf(stderr, "lblview: %s: %s\n", source.c_str(), fault_message(fault).c_str());

  if (!opt.quiet) {
    const stream_report report{source, bytes.size(), opt.dpi,
                               pages,  facts,        valid ? nullptr : &fault};
    const std::string summary = opt.json ? json_report(report) : text_report(report);
    std::fwrite(summary.data(), 1, summary.size(), stdout);
  }
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "lblview: standard output: %s\n", std::strerror(errno));
    return kExitTrouble;
  }
  if (!valid) return kExitMalformed;
  if (!opt.output.empty() && !write_pictures(opt, source, pages)) return kExitTrouble;
  return kExitValid;
}
