#include "interface/page_bounds.h"

#include <cstdlib>

#include "support/log.h"

namespace quill_bounds {

const char* PageProblem(uint32_t width, uint32_t height, uint64_t row_bytes, uint32_t x_res,
                        uint32_t y_res) {
  if (x_res > QUILL_MAX_RESOLUTION || y_res > QUILL_MAX_RESOLUTION) {
    return "resolution above 2880 dpi";
  }
  if ((x_res != 0 && width > quill_max_side_pixels(x_res)) ||
      (y_res != 0 && height > quill_max_side_pixels(y_res))) {
    return "side longer than 2000 mm";
  }
  if (uint64_t{width} * height > uint64_t{QUILL_MAX_PAGE_PIXELS}) {
    return "more than 2^30 pixels";
  }
  if (row_bytes * height > uint64_t{QUILL_MAX_PAGE_BYTES}) return "more than 1 GiB of pixels";
  return nullptr;
}

bool RasterWithinBounds(const RASTER_INFO& raster) {
  const uint64_t row_bytes = static_cast<uint64_t>(std::llabs(int64_t{raster.pitch}));
  const char* problem =
      PageProblem(raster.width, raster.height, row_bytes, raster.x_res, raster.y_res);
  if (problem == nullptr) return true;
  quill_log::Warning("raster refused: %s (%ux%u pixels, pitch %d, %ux%u dpi)", problem,
                     raster.width, raster.height, raster.pitch, raster.x_res, raster.y_res);
  return false;
}

}  // namespace quill_bounds
