// Writes the fuzzers' seed corpus: for each target a directory of small
// inputs made by the project's own tools, which start the fuzzers on every
// stream version, byte order, option, PPD keyword and label command.
//   make-fuzz-seeds DIR   writes DIR/raster, DIR/options, DIR/ppd, DIR/lblview
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/render.h"
#include "settings/settings.h"
#include "tests/support/raster_gen.h"
#include "tests/support/raster_variants.h"

namespace {

using raster_gen::page;

bool g_failed = false;

void write_seed(const std::string& dir, const std::string& name, const std::string& bytes) {
  ::mkdir(dir.c_str(), 0755);
  if (!raster_gen::write_file(dir + "/" + name, bytes)) {
    std::fprintf(stderr, "make-fuzz-seeds: cannot write %s/%s\n", dir.c_str(), name.c_str());
    g_failed = true;
  }
}

std::vector<page> two_small_pages() {
  return {raster_gen::random_page(16, 5, 7), raster_gen::label_page(24, 6, 3)};
}

// Every stream version libcups reads, in both byte orders, and the shapes of
// page the renderer treats specially.
void raster_seeds(const std::string& dir) {
  struct mode_name {
    cups_mode_t mode;
    const char* name;
  };
  const mode_name modes[] = {{CUPS_RASTER_WRITE, "v3"},
                             {CUPS_RASTER_WRITE_COMPRESSED, "v2"},
                             {CUPS_RASTER_WRITE_PWG, "pwg"}};
  const std::vector<page> pages = two_small_pages();
  for (const mode_name& m : modes) {
    write_seed(dir, std::string(m.name) + "-native", raster_gen::write_stream(pages, m.mode));
    write_seed(dir, std::string(m.name) + "-swapped",
               raster_variants::swapped_stream(pages, m.mode));
  }
  write_seed(dir, "v1-native", raster_variants::version1_stream(pages, false));
  write_seed(dir, "v1-swapped", raster_variants::version1_stream(pages, true));
  write_seed(
      dir, "apple",
      raster_gen::write_stream({raster_gen::random_page(16, 4, 9)}, CUPS_RASTER_WRITE_APPLE));

  page odd = raster_gen::random_page(9, 3, 11);  // rows padded to whole bytes
  page ends = raster_gen::solid_page(8, 2, 0);
  ends.header.cupsHeight = 0;  // a page without rows ends the job
  write_seed(dir, "v2-odd-width-then-end",
             raster_gen::write_stream({odd, ends, odd}, CUPS_RASTER_WRITE_COMPRESSED));
  page cut = raster_gen::random_page(16, 8, 13);
  cut.rows.resize(40);  // the stream stops inside the page
  write_seed(dir, "v3-cut-mid-page", raster_gen::write_stream({cut}));
  page huge = raster_gen::solid_page(8, 1, 0);
  huge.header.cupsBytesPerLine = huge.header.cupsWidth = 1u << 20;
  huge.header.cupsHeight = 1u << 11;  // 2 GiB of gray: refused
  huge.rows.clear();
  write_seed(dir, "v3-page-beyond-limit",
             raster_gen::write_stream({raster_gen::solid_page(8, 1, 0), huge}));
  write_seed(dir, "sync-only", raster_gen::write_stream({}, CUPS_RASTER_WRITE_COMPRESSED));
}

void option_seeds(const std::string& dir) {
  const char* const options[] = {
      "PageSize=w170h85 Darkness=12 PrintSpeed=40 Horizontal=8 Vertical=0 MediaTracking=1",
      "PageSize=Custom.4x6in",
      "PageSize=Custom.288x432",
      "PageSize=Custom.10x15cm Darkness=-3",
      "PageSize=Custom.0.1x0.2m PrintSpeed=-15",
      "PageSize=Custom.1x2ft",
      "PageSize=Custom.100x150mm",
      "PageSize=Custom.288x432pt",
      "media=w170h85,Roll",
      "media=Roll,Custom.62x100mm",
      "media=\"w283h425,Continuous\" Darkness=70000",
      "PageSize=Custom.nanxinf Horizontal=65535 Vertical=-32768",
      "PageSize=Custom.0x1p4x1e39mm",
      "darkness=9 Darkness=3 Darkness=4",
      "job-name={a=b c=\"d e\"} copies=2 PageSize=w57h29",
  };
  int n = 0;
  for (const char* option : options) write_seed(dir, "options-" + std::to_string(++n), option);
}

std::string ppd(const std::string& defaults) {
  return "*PPD-Adobe: \"4.3\"\n"
         "*FormatVersion: \"4.3\"\n"
         "*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n"
         "*PCFileName: \"LABEL.PPD\"\n"
         "*Manufacturer: \"Label\"\n"
         "*Product: \"(Label Printer)\"\n"
         "*ModelName: \"Label Printer 203\"\n"
         "*NickName: \"Label Printer 203\"\n"
         "*cupsModelNumber: 3\n"
         "*cupsFilter2: \"application/vnd.cups-raster application/vnd.lblfilter-label 0 "
         "lblfilter\"\n"
         "*OpenUI *PageSize/Media Size: PickOne\n"
         "*OrderDependency: 10 AnySetup *PageSize\n"
         "*PageSize w170h85/60 x 30 mm: \"<</PageSize[170 85]>>setpagedevice\"\n"
         "*PageSize w283h425/100 x 150 mm: \"<</PageSize[283 425]>>setpagedevice\"\n"
         "*CloseUI: *PageSize\n" +
         defaults;
}

void ppd_seeds(const std::string& dir) {
  const char* const defaults[] = {
      "*DefaultPageSize: w170h85\n*DefaultDarkness: 12\n*DefaultPrintSpeed: 40\n"
      "*DefaultVertical: 4\n*DefaultHorizontal: -8\n*DefaultMediaTracking: 1\n",
      "*DefaultPageSize: Custom.4x6in\n*DefaultPrintSpeed: 45\n",
      "*DefaultPageSize: Custom.10x15cm\n*DefaultDarkness: 70000\n",
      "*DefaultPageSize: Custom.288x432pt\n",
      "*DefaultPageSize: Custom.1x1ft\n",
      "*DefaultPageSize: Custom.0.2x0.1\n*DefaultHorizontal: 65535\n",
      "*DefaultPageSize: Custom.nanxinfmm\n*DefaultVertical: -99999999999\n",
      "*DefaultPageSize: Custom.1e30x0x1p8in\n",
      "*DefaultPageSize: w283h425\n*OpenUI *Darkness/Darkness: PickOne\n"
      "*DefaultDarkness: 8\n*Darkness 8/8: \"\"\n*CloseUI: *Darkness\n",
  };
  int n = 0;
  for (const char* d : defaults) write_seed(dir, "ppd-" + std::to_string(++n), ppd(d));
  write_seed(dir, "ppd-bare", "*PPD-Adobe: \"4.3\"\n*DefaultPageSize: w57h29\n");
}

// The renderer's own output for a few pages and settings.
void label_stream_seeds(const std::string& dir) {
  struct seed {
    const char* name;
    pstops_doc doc;
    std::vector<page> pages;
  };
  pstops_doc plain{};
  plain.width = 60;
  plain.height = 40;
  plain.speed = 4;
  plain.darkness = 7;
  pstops_doc extreme = plain;
  extreme.width = -32768;
  extreme.height = 32767;
  extreme.horizontal = -5;
  extreme.vertical = 1200;
  const seed seeds[] = {
      {"one-page", plain, {raster_gen::label_page(24, 6)}},
      {"two-pages", plain, two_small_pages()},
      {"extreme-settings", extreme, {raster_gen::random_page(9, 2, 3, 0)}},
  };
  for (const seed& s : seeds) {
    const std::string raster = raster_gen::write_stream(s.pages);
    FILE* in = std::tmpfile();
    FILE* out = std::tmpfile();
    std::fwrite(raster.data(), 1, raster.size(), in);
    std::rewind(in);
    cups_file_t* input = cupsFileOpenFd(fileno(in), "r");
    if (print_bitmap_to(&s.doc, input, out) != kRenderDone) g_failed = true;
    cupsFileClose(input);
    std::string stream;
    std::rewind(out);
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, out)) > 0) stream.append(chunk, got);
    std::fclose(out);
    write_seed(dir, s.name, stream);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-fuzz-seeds DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  ::mkdir(root.c_str(), 0755);
  raster_seeds(root + "/raster");
  option_seeds(root + "/options");
  ppd_seeds(root + "/ppd");
  label_stream_seeds(root + "/lblview");
  return g_failed ? 1 : 0;
}
