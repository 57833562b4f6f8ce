#include "common/cups_raster_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace quill_test {
namespace {

// A length in points as an unsigned header field. A box reaching past the
// sheet has negative corners, which wrap as in a header CUPS writes; going
// through a 64-bit integer keeps that defined (a negative float, or one
// beyond int, has no defined direct conversion).
unsigned PointsField(float points) {
  return static_cast<unsigned>(static_cast<int64_t>(points));
}

}  // namespace

RasterPage MakePage(const RasterPageSpec& spec, uint8_t fill) {
  RasterPage page;
  cups_page_header2_t& h = page.header;
  std::memset(&h, 0, sizeof h);

  float box[4] = {spec.box[0], spec.box[1], spec.box[2], spec.box[3]};
  if (!(box[3] > box[1])) {
    box[0] = 0.0f;
    box[1] = 0.0f;
    box[2] = spec.page_width_pt;
    box[3] = spec.page_height_pt;
  }

  std::strncpy(h.MediaClass, "PwgRaster", sizeof h.MediaClass - 1);
  h.HWResolution[0] = spec.x_res;
  h.HWResolution[1] = spec.y_res;
  h.PageSize[0] = PointsField(spec.page_width_pt);
  h.PageSize[1] = PointsField(spec.page_height_pt);
  h.cupsPageSize[0] = spec.page_width_pt;
  h.cupsPageSize[1] = spec.page_height_pt;
  for (int i = 0; i < 4; ++i) {
    h.ImagingBoundingBox[i] = PointsField(box[i]);
    h.cupsImagingBBox[i] = box[i];
  }
  h.Margins[0] = PointsField(box[0]);
  h.Margins[1] = PointsField(box[1]);
  h.NumCopies = spec.num_copies;
  h.Duplex = spec.duplex ? CUPS_TRUE : CUPS_FALSE;
  h.cupsBorderlessScalingFactor = 1.0f;

  h.cupsWidth = spec.width_px != 0
                    ? spec.width_px
                    : static_cast<unsigned>((box[2] - box[0]) * static_cast<float>(spec.x_res) / 72.0f);
  h.cupsHeight = spec.height_px != 0
                     ? spec.height_px
                     : static_cast<unsigned>((box[3] - box[1]) * static_cast<float>(spec.y_res) / 72.0f);
  h.cupsBitsPerPixel = spec.bits_per_pixel;
  h.cupsColorSpace = spec.color_space;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  if (spec.bits_per_pixel <= 8) {
    h.cupsBitsPerColor = spec.bits_per_pixel;
    h.cupsNumColors = 1;
  } else {
    h.cupsBitsPerColor = 8;
    h.cupsNumColors = spec.bits_per_pixel / 8;
  }
  h.cupsBytesPerLine = (h.cupsWidth * h.cupsBitsPerPixel + 7) / 8;
  h.cupsRowCount = spec.row_count;
  h.cupsCompression = 0;

  page.pixels.assign(size_t{h.cupsBytesPerLine} * h.cupsHeight, fill);
  return page;
}

bool WriteRaster(int fd, const std::vector<RasterPage>& pages) {
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  if (ras == nullptr) return false;
  bool ok = true;
  for (const RasterPage& page : pages) {
    cups_page_header2_t header = page.header;
    if (!cupsRasterWriteHeader2(ras, &header)) {
      ok = false;
      break;
    }
    if (page.pixels.empty()) continue;
    // Row by row, as a rasterizer writes them.
    for (uint32_t y = 0; y < header.cupsHeight && ok; ++y) {
      ok = cupsRasterWritePixels(ras, const_cast<uint8_t*>(page.Row(y)),
                                 header.cupsBytesPerLine) == header.cupsBytesPerLine;
    }
    if (!ok) break;
  }
  cupsRasterClose(ras);
  return ok;
}

bool WriteRasterFile(const std::string& path, const std::vector<RasterPage>& pages) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = WriteRaster(fd, pages);
  return close(fd) == 0 && ok;
}

bool ReadRasterFile(const std::string& path, std::vector<RasterPage>* pages) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  bool ok = ras != nullptr;
  RasterPage page;
  while (ok && cupsRasterReadHeader2(ras, &page.header)) {
    const cups_page_header2_t& h = page.header;
    page.pixels.assign(size_t{h.cupsBytesPerLine} * h.cupsHeight, 0);
    for (uint32_t y = 0; y < h.cupsHeight && ok && h.cupsBytesPerLine != 0; ++y) {
      ok = cupsRasterReadPixels(ras, page.Row(y), h.cupsBytesPerLine) == h.cupsBytesPerLine;
    }
    if (ok) pages->push_back(page);
  }
  if (ras != nullptr) cupsRasterClose(ras);
  close(fd);
  return ok;
}

}  // namespace quill_test
