// PNG and JPEG documents decoded for the label: libpng and libjpeg read the
// document a row at a time into the placement; an error, an early end of the
// data, a failed checksum, too many pixels or too long a decode gives up the
// picture with a message naming it, before anything reaches the printer.
//
// Both libraries report errors by longjmp: only the functions that call them
// set the jump, and those hold nothing that needs destroying.

// jpeglib.h takes FILE and size_t from the includer.
// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on
#include "app/document/picture.h"

#include <png.h>

#include <cinttypes>
#include <csetjmp>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "app/document/placement.h"
#include "app/document/raster_pages.h"

namespace {

using decode_clock = std::chrono::steady_clock;

// One decode: the document, how far it was read, the job, and why it stopped.
struct decode {
  std::FILE* in = nullptr;
  uint64_t offset = 0;  // bytes read from the document
  const picture_job* job = nullptr;
  decode_clock::time_point deadline;
  picture_placement* placement = nullptr;
  bool cancelled = false;
  char message[256] = {};  // empty until something fails
};

[[gnu::format(printf, 2, 3)]] void say(decode* d, const char* format, ...) {
  if (d->message[0] != '\0') return;  // the first cause is the one shown
  va_list args;
  va_start(args, format);
  std::vsnprintf(d->message, sizeof d->message, format, args);
  va_end(args);
}

// The document ran out (or could not be read) `format`'s data.
void say_data_ended(decode* d, const char* format) {
  if (std::ferror(d->in))
    say(d, "Unable to read the print file");
  else
    say(d, "%s data ends early at byte %" PRIu64, format, d->offset);
}

// Asked between rows: false stops the decode.
bool keep_going(decode* d) {
  if (d->job->cancelled && d->job->cancelled()) {
    d->cancelled = true;
    return false;
  }
  if (decode_clock::now() <= d->deadline) return true;
  say(d, "Picture takes longer than %lld s to decode",
      static_cast<long long>(kMaxDecodeTime.count()));
  return false;
}

// The picture's header against the limits, then its placement planned.
bool plan(decode* d, uint32_t width, uint32_t height, double ppi_x, double ppi_y) {
  if (width > kMaxPictureSide || height > kMaxPictureSide ||
      uint64_t{width} * height > kMaxPicturePixels) {
    say(d,
        "Picture of %" PRIu32 " x %" PRIu32 " pixels is larger than the printer can take (%" PRIu64
        " megapixels, %" PRIu32 " pixels a side)",
        width, height, kMaxPicturePixels >> 20, kMaxPictureSide);
    return false;
  }
  if (d->placement->plan(*d->job, width, height, ppi_x, ppi_y)) return true;
  say(d, "%s", kNoMemoryMessage);
  return false;
}

// ---- PNG

[[noreturn]] void png_failed(png_structp png, png_const_charp text) {
  say(static_cast<decode*>(png_get_error_ptr(png)), "PNG: %s", text);
  png_longjmp(png, 1);
}

void png_warned(png_structp /*png*/, png_const_charp /*text*/) {}  // the picture prints as it is

void png_read(png_structp png, png_bytep data, size_t length) {
  auto* d = static_cast<decode*>(png_get_io_ptr(png));
  const size_t got = std::fread(data, 1, length, d->in);
  d->offset += got;
  if (got == length) return;
  say_data_ended(d, "PNG");
  png_error(png, d->message);
}

// What libpng hands over per row once asked for 8-bit gray: one byte a
// pixel, or two with alpha; an interlaced picture comes in seven passes.
struct png_rows {
  uint32_t width = 0, height = 0;
  int channels = 1, passes = 1;
  size_t row_bytes = 0;
};

bool read_png_header(png_structp png, png_infop info, decode* d, png_rows* rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  // A damaged checksum ends the picture, in any chunk; the pixel limit is ours.
  png_set_crc_action(png, PNG_CRC_DEFAULT, PNG_CRC_ERROR_QUIT);
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_read_info(png, info);
  rows->width = png_get_image_width(png, info);
  rows->height = png_get_image_height(png, info);
  png_uint_32 ppm_x = 0, ppm_y = 0;
  int unit = PNG_RESOLUTION_UNKNOWN;
  const bool has_ppi =
      png_get_pHYs(png, info, &ppm_x, &ppm_y, &unit) != 0 && unit == PNG_RESOLUTION_METER;
  if (!plan(d, rows->width, rows->height, has_ppi ? ppm_x * 0.0254 : 0,
            has_ppi ? ppm_y * 0.0254 : 0))
    return false;
  if (png_get_bit_depth(png, info) == 16) png_set_scale_16(png);
  png_set_expand(png);  // palettes, 1, 2 and 4 bits, transparent colours
  if ((png_get_color_type(png, info) & PNG_COLOR_MASK_COLOR) != 0)
    png_set_rgb_to_gray_fixed(png, 1, -1, -1);
  rows->passes = png_get_interlace_type(png, info) == PNG_INTERLACE_ADAM7 ? 7 : 1;
  png_read_update_info(png, info);
  rows->channels = png_get_channels(png, info);
  rows->row_bytes = png_get_rowbytes(png, info);
  return true;
}

// Transparent pixels show the label: alpha mixes each pixel with white.
void flatten(uint8_t* row, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned gray = row[2 * i], alpha = row[2 * i + 1];
    row[i] = static_cast<uint8_t>((gray * alpha + 255 * (255 - alpha) + 127) / 255);
  }
}

bool read_png_rows(png_structp png, decode* d, const png_rows& rows, uint8_t* row) {
  if (setjmp(png_jmpbuf(png))) return false;
  for (int pass = 0; pass < rows.passes; ++pass) {
    const bool interlaced = rows.passes > 1;
    const uint32_t count = interlaced ? PNG_PASS_COLS(rows.width, pass) : rows.width;
    const uint32_t pass_rows = interlaced ? PNG_PASS_ROWS(rows.height, pass) : rows.height;
    if (count == 0) continue;  // libpng skips a pass without columns
    for (uint32_t r = 0; r < pass_rows; ++r) {
      png_read_row(png, row, nullptr);
      if (rows.channels == 2) flatten(row, count);
      const uint32_t y = interlaced ? PNG_ROW_FROM_PASS_ROW(r, pass) : r;
      d->placement->paint_row(y, interlaced ? PNG_PASS_START_COL(pass) : 0,
                              interlaced ? 1u << PNG_PASS_COL_SHIFT(pass) : 1, row, count);
      if (!keep_going(d)) return false;
    }
  }
  png_read_end(png, nullptr);
  return true;
}

bool decode_png(decode* d) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, d, png_failed, png_warned);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    say(d, "%s", kNoMemoryMessage);
    return false;
  }
  png_set_read_fn(png, d, png_read);
  png_rows rows;
  bool decoded = read_png_header(png, info, d, &rows);
  if (decoded) {
    std::vector<uint8_t> row(rows.row_bytes);
    decoded = read_png_rows(png, d, rows, row.data());
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return decoded;
}

// ---- JPEG

struct jpeg_failure {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  decode* d;
};

[[noreturn]] void jpeg_failed(j_common_ptr jpeg) {
  auto* failure = reinterpret_cast<jpeg_failure*>(jpeg->err);
  char text[JMSG_LENGTH_MAX];
  (*jpeg->err->format_message)(jpeg, text);
  say(failure->d, "JPEG: %s", text);
  std::longjmp(failure->jump, 1);
}

// libjpeg carries on after a warning, drawing what it could not decode in
// gray; only these leave the pixels as they are, any other ends the picture.
constexpr int kHarmlessWarnings[] = {JWRN_ADOBE_XFORM, JWRN_JFIF_MAJOR, JWRN_BOGUS_ICC,
                                     JWRN_EXTRANEOUS_DATA};

void jpeg_warned(j_common_ptr jpeg, int level) {
  if (level >= 0) return;  // trace messages
  for (const int code : kHarmlessWarnings)
    if (jpeg->err->msg_code == code) return;
  jpeg_failed(jpeg);
}

// The document as libjpeg's source, in chunks; its end is an error, as a
// picture never ends before its last marker.
struct jpeg_source {
  jpeg_source_mgr manager;
  decode* d;
  JOCTET buffer[65536];
};

boolean fill_jpeg_source(j_decompress_ptr jpeg) {
  auto* source = reinterpret_cast<jpeg_source*>(jpeg->src);
  const size_t got = std::fread(source->buffer, 1, sizeof source->buffer, source->d->in);
  if (got == 0) {
    say_data_ended(source->d, "JPEG");
    jpeg_failed(reinterpret_cast<j_common_ptr>(jpeg));
  }
  source->d->offset += got;
  source->manager.next_input_byte = source->buffer;
  source->manager.bytes_in_buffer = got;
  return TRUE;
}

void skip_jpeg_source(j_decompress_ptr jpeg, long count) {
  jpeg_source_mgr& manager = *jpeg->src;
  while (count > static_cast<long>(manager.bytes_in_buffer)) {
    count -= static_cast<long>(manager.bytes_in_buffer);
    fill_jpeg_source(jpeg);
  }
  if (count <= 0) return;
  manager.next_input_byte += count;
  manager.bytes_in_buffer -= static_cast<size_t>(count);
}

void no_jpeg_source_step(j_decompress_ptr /*jpeg*/) {}

// A progressive picture is read whole in jpeg_start_decompress: the
// deadline holds there too.
void jpeg_progress(j_common_ptr jpeg) {
  auto* d = static_cast<decode*>(jpeg->client_data);
  if (decode_clock::now() <= d->deadline) return;
  keep_going(d);
  jpeg_failed(jpeg);
}

bool read_jpeg(jpeg_decompress_struct* jpeg, jpeg_failure* failure, jpeg_source* source,
               jpeg_progress_mgr* progress, std::vector<uint8_t>* row) {
  decode* const d = failure->d;
  if (setjmp(failure->jump)) return false;
  jpeg_create_decompress(jpeg);
  jpeg->client_data = d;
  jpeg->mem->max_memory_to_use = kMaxJpegMemory;
  jpeg->progress = progress;
  jpeg->src = &source->manager;
  jpeg_read_header(jpeg, TRUE);
  // Density unit 1 is dots an inch, 2 dots a centimetre, 0 none.
  const double per_unit = jpeg->density_unit == 1 ? 1 : jpeg->density_unit == 2 ? 2.54 : 0;
  if (!plan(d, jpeg->image_width, jpeg->image_height, jpeg->X_density * per_unit,
            jpeg->Y_density * per_unit))
    return false;
  jpeg->out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(jpeg);
  row->resize(jpeg->output_width);
  JSAMPROW rows[] = {row->data()};
  while (jpeg->output_scanline < jpeg->output_height) {
    const uint32_t y = jpeg->output_scanline;
    jpeg_read_scanlines(jpeg, rows, 1);
    d->placement->paint_row(y, 0, 1, row->data(), jpeg->output_width);
    if (!keep_going(d)) return false;
  }
  jpeg_finish_decompress(jpeg);
  return true;
}

bool decode_jpeg(decode* d) {
  jpeg_decompress_struct jpeg{};
  jpeg_failure failure{};
  failure.d = d;
  jpeg.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = jpeg_failed;
  failure.manager.emit_message = jpeg_warned;
  jpeg_progress_mgr progress{};
  progress.progress_monitor = jpeg_progress;
  jpeg_source source{};
  source.d = d;
  source.manager.init_source = no_jpeg_source_step;
  source.manager.fill_input_buffer = fill_jpeg_source;
  source.manager.skip_input_data = skip_jpeg_source;
  source.manager.resync_to_restart = jpeg_resync_to_restart;
  source.manager.term_source = no_jpeg_source_step;
  std::vector<uint8_t> row;
  const bool decoded = read_jpeg(&jpeg, &failure, &source, &progress, &row);
  jpeg_destroy_decompress(&jpeg);
  return decoded;
}

}  // namespace

bool print_picture(picture_format format, std::FILE* in, const picture_job& job, label_output& out,
                   std::string* error) {
  // The label first: a page the printer cannot take is refused before any
  // decoding.
  label_page page;
  page_problem problem = check_printer_page(job.dpi_x, job.dpi_y, job.label_dots, job.label_rows);
  if (problem == page_problem::kNone)
    problem = page.start(job.doc, job.label_dots, job.label_rows, job.doc.copies);
  if (problem != page_problem::kNone) {
    *error = page_problem_message(problem, 1, job.label_dots, job.label_rows);
    return false;
  }
  picture_placement placement;
  decode d;
  d.in = in;
  d.job = &job;
  d.deadline = decode_clock::now() + kMaxDecodeTime;
  d.placement = &placement;
  const bool decoded = format == picture_format::kPng ? decode_png(&d) : decode_jpeg(&d);
  if (d.cancelled) return true;
  if (!decoded) {
    *error = d.message;
    return false;
  }
  page.add_rows(placement.page(), job.label_dots, job.label_rows);
  if (page.write(out)) return true;
  *error = "Unable to write print data";
  return false;
}
