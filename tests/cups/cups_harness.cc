#include "tests/cups/cups_harness.h"

#include <cups/raster.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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

bool in_ci() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && std::strcmp(ci, "true") == 0;
}

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

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool is_executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

temp_dir::temp_dir() {
  char name[] = "/tmp/lblfilter-cups-XXXXXX";
  if (::mkdtemp(name) == nullptr) return;
  // mkdtemp makes the directory private; the spooler's filters run as lp.
  if (::chmod(name, 0755) != 0) return;
  path_ = name;
}

temp_dir::~temp_dir() {
  if (path_.empty()) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

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

std::vector<std::string> scan_barcodes(const std::string& image) {
  run_process::request req;
  req.program = "/usr/bin/zbarimg";
  req.argv = {"zbarimg", "-q", image};
  const run_process::result res = run_process::run(req);
  std::vector<std::string> codes;
  std::istringstream in(res.out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) codes.push_back(line);
  }
  std::sort(codes.begin(), codes.end());
  return codes;
}

std::string lblview_path() {
  const std::string path = LBLVIEW_PATH;
  return !path.empty() && is_executable(path) ? path : "";
}

lblview_result run_lblview(const std::string& stream_file, int dpi) {
  lblview_result result;
  const std::string program = lblview_path();
  if (program.empty()) return result;
  run_process::request req;
  req.program = program;
  req.argv = {"lblview", "--json", "--dpi=" + std::to_string(dpi), stream_file};
  run_process::result res = run_process::run(req);
  result.exit_status = res.exit_status;
  result.json = res.out;
  result.err = res.err;
  if (res.exit_status != 0) return result;

  result.png_prefix = stream_file + ".bitmap";
  req.argv = {"lblview", "-q", "--png", "-o", result.png_prefix + ".png", stream_file};
  res = run_process::run(req);
  result.exit_status = res.exit_status;
  result.err += res.err;
  return result;
}

std::string lblview_png(const lblview_result& result, int page, int pages) {
  return pages == 1 ? result.png_prefix + ".png"
                    : result.png_prefix + "-" + std::to_string(page) + ".png";
}

int count_of(const std::string& haystack, const std::string& needle) {
  int count = 0;
  for (size_t pos = haystack.find(needle); pos != std::string::npos;
       pos = haystack.find(needle, pos + needle.size())) {
    ++count;
  }
  return count;
}

bool read_raster(const std::string& path, unsigned* bytes_per_line, unsigned* rows,
                 unsigned* copies, std::string* gray) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  bool ok = raster != nullptr && cupsRasterReadHeader2(raster, &header) != 0;
  if (ok) {
    *bytes_per_line = header.cupsBytesPerLine;
    *rows = header.cupsHeight;
    *copies = header.NumCopies;
    gray->assign(size_t{header.cupsBytesPerLine} * header.cupsHeight, '\0');
    for (unsigned row = 0; ok && row < header.cupsHeight; ++row) {
      ok = cupsRasterReadPixels(raster,
                                reinterpret_cast<unsigned char*>(gray->data()) +
                                    size_t{row} * header.cupsBytesPerLine,
                                header.cupsBytesPerLine) == header.cupsBytesPerLine;
    }
  }
  if (raster != nullptr) cupsRasterClose(raster);
  ::close(fd);
  return ok;
}

}  // namespace cups_harness
