// raster_read_loop FILE: reads every row of a raster stream through libcups
// and discards it. The floor for any filter that reads rows through libcups.
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <vector>

int main(int argc, char* argv[]) {
  if (argc != 2) return 2;
  const int fd = ::open(argv[1], O_RDONLY);
  if (fd < 0) return 1;
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  std::vector<unsigned char> row;
  unsigned long long rows = 0;
  while (raster != nullptr && cupsRasterReadHeader2(raster, &header)) {
    if (header.cupsBytesPerLine == 0 || header.cupsHeight == 0) break;
    row.resize(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y, ++rows)
      if (cupsRasterReadPixels(raster, row.data(), header.cupsBytesPerLine) == 0) break;
  }
  cupsRasterClose(raster);
  ::close(fd);
  return rows > 0 ? 0 : 1;
}
