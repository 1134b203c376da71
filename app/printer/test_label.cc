// Draws the test label as an 8-bit gray page: a 5 x 7 dot font of capitals,
// digits and a few signs, Code 128 (code set B) for the barcode, and ruler
// ticks at each millimetre as the head places them (1 mm is 8 or 12 dots,
// rounded), so a misfed or stretched label shows at a glance.
#include "app/printer/test_label.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/job/settings.h"
#include "render/render.h"
#include "settings/printer_models.h"
#include "settings/settings.h"

namespace {

// Each glyph is 7 rows of 5 dots, the leftmost dot in bit 4.
constexpr char kGlyphs[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -./%:()?_,";
constexpr uint8_t kGlyphRows[][7] = {
    {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}, {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E},
    {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}, {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E},
    {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}, {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10},
    {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}, {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11},
    {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}, {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C},
    {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}, {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F},
    {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}, {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11},
    {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10},
    {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}, {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11},
    {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}, {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04},
    {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}, {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04},
    {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}, {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11},
    {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F},
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}, {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00},
    {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}, {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00},
    {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}, {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F},
    {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08},
};
static_assert(std::size(kGlyphRows) == std::size(kGlyphs) - 1);
constexpr int kGlyphWidth = 5, kGlyphHeight = 7;

// Code 128: the widths of bar, space, bar, space, bar, space of symbols 0 to
// 105, then the stop pattern's seven.
constexpr char kCode128[] =
    "212222222122222221121223121322131222122213122312132212221213221312231212112232122132122231"
    "113222123122123221223211221132221231213212223112312131311222321122321221312212322112322211"
    "212123212321232121111323131123131321112313132113132311211313231113231311112133112331132131"
    "113123113321133121313121211331231131213113213311213131311123311321331121312113312311332111"
    "314111221411431111111224111422121124121421141122141221112214112412122114122411142112142211"
    "241211221114413111241112134111111242121142121241114212124112124211411212421112421211212141"
    "214121412121111143111341131141114113114311411113411311113141114131311141411131211412211214"
    "2112322331112";
constexpr int kStartB = 104, kStop = 106, kCodeSetBFirst = 32;

class canvas {
 public:
  canvas(int width, int height)
      : width_(width), height_(height), dots_(static_cast<size_t>(width) * height, 255) {}

  void fill(int x, int y, int w, int h) {
    const int x0 = std::max(x, 0), x1 = std::min(x + w, width_);
    for (int row = std::max(y, 0); row < std::min(y + h, height_); ++row)
      if (x0 < x1) std::memset(&dots_[static_cast<size_t>(row) * width_ + x0], 0, x1 - x0);
  }

  // Letters in capitals; a character the font lacks prints as '?'.
  void text(int x, int y, int scale, std::string_view text) {
    for (char c : text) {
      const char* found = std::strchr(kGlyphs, std::toupper(static_cast<unsigned char>(c)));
      const uint8_t* rows =
          kGlyphRows[(found != nullptr && c != '\0' ? found : std::strchr(kGlyphs, '?')) - kGlyphs];
      for (int row = 0; row < kGlyphHeight; ++row)
        for (int col = 0; col < kGlyphWidth; ++col)
          if (rows[row] & (0x10 >> col)) fill(x + col * scale, y + row * scale, scale, scale);
      x += (kGlyphWidth + 1) * scale;
    }
  }

  // Code set B, start to stop with its check symbol, `module` dots a module.
  void code128(int x, int y, int module, int height, std::string_view text) {
    std::vector<int> symbols{kStartB};
    int check = kStartB;
    for (char c : text) {
      symbols.push_back(static_cast<unsigned char>(c) - kCodeSetBFirst);
      check += symbols.back() * static_cast<int>(symbols.size() - 1);
    }
    symbols.push_back(check % 103);
    symbols.push_back(kStop);
    for (int symbol : symbols) {
      const int elements = symbol == kStop ? 7 : 6;
      for (int i = 0; i < elements; ++i) {
        const int width = (kCode128[symbol * 6 + i] - '0') * module;
        if (i % 2 == 0) fill(x, y, width, height);
        x += width;
      }
    }
  }

  const uint8_t* row(int y) const { return &dots_[static_cast<size_t>(y) * width_]; }

 private:
  int width_, height_;
  std::vector<uint8_t> dots_;
};

struct label_layout {
  int dpi, dots_per_mm, width, height;
  int at(double mm) const { return static_cast<int>(std::lround(mm * dpi / 25.4)); }
};

// Ticks every millimetre, longer every 5 and 10, numbered every 10.
void draw_rulers(const label_layout& l, canvas* page) {
  const int scale = 2;
  for (int mm = 0; l.at(mm) < std::max(l.width, l.height); ++mm) {
    const int length = l.at(mm % 10 == 0 ? 2.5 : mm % 5 == 0 ? 1.5 : 1);
    const int position = l.at(mm);
    page->fill(position, 0, 1, length);
    page->fill(0, position, length, 1);
    if (mm % 10 != 0 || mm == 0) continue;
    // A number is written only where it fits whole: one cut at the label's
    // edge would read as another number.
    const std::string number = std::to_string(mm);
    const int number_width = static_cast<int>(number.size()) * (kGlyphWidth + 1) * scale;
    if (position + number_width / 2 <= l.width)
      page->text(position - number_width / 2, l.at(2.5) + 2, scale, number);
    if (position + kGlyphHeight * scale / 2 <= l.height)
      page->text(l.at(2.5) + 2, position - kGlyphHeight * scale / 2, scale, number);
  }
}

// The name as code set B takes it (printable ASCII), as much as fits.
std::string barcode_text(std::string_view name, int modules_free) {
  std::string text;
  for (char c : name) text += c >= ' ' && c <= '~' ? c : '?';
  const int fits = std::max((modules_free - 35) / 11, 0);  // start, check and stop: 35 modules
  return text.substr(0, static_cast<size_t>(fits));
}

// The printer's settings as a job without options gets them.
pstops_doc printer_settings(const pappl_pr_driver_data_t& driver) {
  pappl_pr_options_t options{};
  options.copies = 1;
  options.media = driver.media_default;
  options.print_speed = driver.speed_default;
  options.darkness_configured = driver.darkness_configured;
  options.print_darkness = driver.darkness_default;
  options.print_content_optimize = driver.content_default;
  options.print_quality = driver.quality_default;
  options.printer_resolution[0] = driver.x_default;
  options.printer_resolution[1] = driver.y_default;
  return settings_for_job(options, driver, nullptr);
}

void draw_label(const char* name, const pstops_doc& doc, int darkness_percent,
                const label_layout& l, canvas* page) {
  char lines[5][128];
  std::snprintf(lines[0], sizeof lines[0], "%s", name);
  std::snprintf(lines[1], sizeof lines[1], "%d DPI  %d X %d MM", l.dpi, doc.width, doc.height);
  std::snprintf(lines[2], sizeof lines[2], "DARKNESS %d%%  SPEED %d", darkness_percent, doc.speed);
  std::snprintf(lines[3], sizeof lines[3], "%s", kMediaTypes[doc.mediaType].text);
  std::snprintf(lines[4], sizeof lines[4], "%s", kLabelModes[doc.labelMode].text);
  draw_rulers(l, page);
  const int scale = l.dots_per_mm * 3 / 8, left = l.at(7);
  int y = l.at(7);
  for (const char* line : lines) {
    page->text(left, y, scale, line);
    y += (kGlyphHeight + 1) * scale;
  }
  const int module = std::max(l.dots_per_mm / 4, 1), quiet = 10 * module;
  page->code128(l.at(8), y + l.at(1), module, l.at(7),
                barcode_text(name, (l.width - l.at(8) - quiet) / module));
}

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool write_test_label(pappl_printer_t* printer, char* path, size_t size) {
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  const pstops_doc doc = printer_settings(driver);
  const int dpi = driver.x_default;
  // The page's dots as PAPPL's raster path counts them for the same media.
  const label_layout layout{dpi, dots_per_mm(dpi),
                            driver.media_default.size_width * dpi / kHundredthsMmPerInch,
                            driver.media_default.size_length * dpi / kHundredthsMmPerInch};
  canvas page(layout.width, layout.height);
  // The darkness a job without options gets: the printer's plus its default adjustment.
  const int darkness = std::clamp(driver.darkness_configured + driver.darkness_default, 0, 100);
  draw_label(papplPrinterGetName(printer), doc, darkness, layout, &page);
  label_page label;
  if (label.start(doc, static_cast<uint32_t>(layout.width), static_cast<uint32_t>(layout.height),
                  1) != page_problem::kNone)
    return false;
  label.add_rows(page.row(0), static_cast<size_t>(layout.width),
                 static_cast<uint32_t>(layout.height));

  const int written =
      std::snprintf(path, size, "%s/lblprinter-test-label-XXXXXX", papplGetTempDir());
  const int fd = written > 0 && static_cast<size_t>(written) < size ? ::mkstemp(path) : -1;
  std::unique_ptr<std::FILE, file_closer> file(fd >= 0 ? ::fdopen(fd, "wb") : nullptr);
  if (file == nullptr) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  file_output out(file.get());
  const bool ok = label.write(out) && std::fflush(file.get()) == 0;
  if (!ok) ::unlink(path);
  return ok;
}
