#include "tests/cups/cups_harness.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "tests/support/run_process.h"

namespace cups_harness {
namespace {

namespace fs = std::filesystem;

// The system's CUPS server directory, where the standard filters live.
constexpr char kSystemServerBin[] = "/usr/lib/cups";

bool starts_with(const std::string& text, size_t pos, const char* prefix) {
  return text.compare(pos, std::strlen(prefix), prefix) == 0;
}

}  // namespace

std::string label_page::line(const std::string& keyword) const {
  for (const std::string& l : setup) {
    if (l.compare(0, keyword.size(), keyword) == 0) return l;
  }
  return "";
}

bool parse_label_stream(const std::string& bytes, std::vector<label_page>* pages,
                        std::string* error) {
  size_t pos = 0;
  label_page page;
  while (pos < bytes.size()) {
    if (starts_with(bytes, pos, "BITMAP ")) {
      // "BITMAP x,y,bytes-per-row,rows,1," then the payload and CR LF.
      char header[40] = {};
      bytes.copy(header, sizeof header - 1, pos);
      int consumed = 0;
      if (std::sscanf(header, "BITMAP %d,%d,%d,%d,1,%n", &page.x, &page.y, &page.bytes_per_row,
                      &page.rows, &consumed) != 4 ||
          consumed == 0 || page.bytes_per_row <= 0 || page.rows <= 0) {
        *error = "bad BITMAP header at byte " + std::to_string(pos);
        return false;
      }
      pos += static_cast<size_t>(consumed);
      const size_t size = static_cast<size_t>(page.bytes_per_row) * static_cast<size_t>(page.rows);
      if (bytes.size() - pos < size + 2 || bytes.compare(pos + size, 2, "\r\n") != 0) {
        *error = "BITMAP payload cut short or not ended by CR LF at byte " + std::to_string(pos);
        return false;
      }
      page.bitmap = bytes.substr(pos, size);
      pos += size + 2;
      continue;
    }
    const size_t end = bytes.find("\r\n", pos);
    if (end == std::string::npos) {
      *error = "line without CR LF at byte " + std::to_string(pos);
      return false;
    }
    std::string text = bytes.substr(pos, end - pos);
    pos = end + 2;
    if (text.compare(0, 6, "PRINT ") == 0) {
      if (page.bitmap.empty()) {
        *error = "PRINT without BITMAP";
        return false;
      }
      page.print = text;
      pages->push_back(page);
      page = label_page{};
    } else {
      page.setup.push_back(text);
    }
  }
  if (!page.setup.empty() || !page.bitmap.empty()) {
    *error = "stream ends inside a page";
    return false;
  }
  return true;
}

bool is_executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

bool make_server_bin(const std::string& dir, std::string* error) {
  std::error_code ec;
  fs::create_directories(dir + "/filter", ec);
  if (ec) {
    *error = "cannot create " + dir + "/filter: " + ec.message();
    return false;
  }
  ::chmod(dir.c_str(), 0755);
  ::chmod((dir + "/filter").c_str(), 0755);
  for (const char* sub : {"backend", "cgi-bin", "daemon", "driver", "monitor", "notifier"}) {
    const std::string target = std::string(kSystemServerBin) + "/" + sub;
    if (fs::exists(target)) fs::create_directory_symlink(target, dir + "/" + sub, ec);
  }
  for (const fs::directory_entry& entry :
       fs::directory_iterator(std::string(kSystemServerBin) + "/filter", ec)) {
    if (entry.path().filename() == "lblfilter") continue;
    fs::create_symlink(entry.path(), dir + "/filter/" + entry.path().filename().string(), ec);
  }
  const std::string filter = dir + "/filter/lblfilter";
  fs::copy_file(LBLFILTER_PATH, filter, fs::copy_options::overwrite_existing, ec);
  if (ec || ::chown(filter.c_str(), 0, 0) != 0 || ::chmod(filter.c_str(), 0755) != 0) {
    *error = "cannot install " + std::string(LBLFILTER_PATH) + " as " + filter;
    return false;
  }
  return true;
}

std::string lblview_path() {
  const std::string path = LBLVIEW_PATH;
  return !path.empty() && is_executable(path) ? path : "";
}

namespace {

// The barcodes zbarimg finds in `image`, one "SYMBOLOGY:contents" a line, sorted.
std::vector<std::string> scan_barcodes(const std::string& image) {
  run_process::request req;
  req.program = "/usr/bin/zbarimg";
  req.argv = {"zbarimg", "-q", image};
  std::istringstream in(run_process::run(req).out);
  std::vector<std::string> codes;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) codes.push_back(line);
  std::sort(codes.begin(), codes.end());
  return codes;
}

// A label as lines, so that one comparison shows every difference.
std::string describe(const label_expectation& v) {
  std::ostringstream out;
  out << "SIZE " << v.width_mm << "mm," << v.height_mm << "mm\nSPEED " << v.speed << "\nDENSITY "
      << v.density << "\nBITMAP " << v.x << "," << v.y << "\nPRINT 1," << v.copies << "\n";
  for (const std::string& code : v.barcodes) out << code << "\n";
  return out.str();
}

std::string describe(const label_page& page, const std::vector<std::string>& barcodes) {
  std::string out = page.line("SIZE ") + "\n" + page.line("SPEED ") + "\n" + page.line("DENSITY ") +
                    "\nBITMAP " + std::to_string(page.x) + "," + std::to_string(page.y) + "\n" +
                    page.print + "\n";
  for (const std::string& code : barcodes) out += code + "\n";
  return out;
}

}  // namespace

void expect_one_label(const std::string& stream, const std::string& stream_file, int dpi,
                      const label_expectation& want, label_page* page) {
  std::vector<label_page> pages;
  std::string error;
  ASSERT_TRUE(parse_label_stream(stream, &pages, &error)) << error;
  ASSERT_EQ(pages.size(), 1u) << "one PDF page, however many copies";
  *page = pages[0];
  ASSERT_TRUE(write_file(stream_file, stream));

  // lblview accepts the stream, and its picture of the bitmap scans.
  const std::string program = lblview_path();
  ASSERT_FALSE(program.empty()) << "lblview";
  run_process::request req;
  req.program = program;
  req.argv = {"lblview", "--json", "--dpi=" + std::to_string(dpi), stream_file};
  const run_process::result summary = run_process::run(req);
  ASSERT_EQ(summary.exit_status, 0) << summary.err << summary.out;
  // One page from the first byte to the last, as the harness read it.
  EXPECT_NE(summary.out.find("\"valid\": true"), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find("\"stream_offset\": 0,\n      \"stream_length\": " +
                             std::to_string(stream.size()) + ","),
            std::string::npos)
      << summary.out;
  const std::string png = stream_file + ".bitmap.png";
  req.argv = {"lblview", "-q", "--png", "-o", png, stream_file};
  const run_process::result drawn = run_process::run(req);
  ASSERT_EQ(drawn.exit_status, 0) << drawn.err;
  EXPECT_EQ(describe(*page, scan_barcodes(png)), describe(want));
}

}  // namespace cups_harness
