#include "document/mono_stream.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "document/mono_conversion.h"
#include "halftone/ets.h"
#include "support/log.h"

namespace {

struct CtxFree {
  void operator()(ETS_Ctx* c) const { ets_free(c); }
};

}  // namespace

bool StreamsDepth(uint8_t bpp) { return bpp == 24 || bpp == 32; }

uint8_t* StreamToMono(const RASTER_INFO& page, double gamma, bool red_black, int32_t* pitch,
                      CancelPoll* cancel) {
  uint8_t lut[256];
  if (gamma > 0 && gamma != 1.0) {
    GammaTable(gamma, lut);
  } else {
    for (int i = 0; i < 256; ++i) lut[i] = static_cast<uint8_t>(i);
  }
  const GreyWeights weights(lut);
  const unsigned step = page.bpp / 8;
  const uint32_t width = red_black ? 2 * (page.width + (page.width & 1)) : page.width;
  const size_t line = (static_cast<size_t>(width) + 7) / 8;
  const size_t row_pitch = (line + 3) & ~size_t{3};  // FreeImage's one-bit pitch

  quill_log::Debug("dither: ets_dither");
  std::unique_ptr<ETS_Ctx, CtxFree> ctx(quill_dither::NewImageContext(
      static_cast<int>(width), static_cast<int>(page.height), 1));
  if (!ctx) return nullptr;
  auto* pixels = static_cast<uint8_t*>(std::malloc(row_pitch * page.height));
  if (pixels == nullptr) return nullptr;
  std::vector<uint8_t> grey(width);
  std::vector<uchar> levels(width);
  const uint8_t* src = page.img_p;
  uint8_t* out = pixels;
  for (uint32_t y = 0; y < page.height; ++y, src += page.pitch, out += row_pitch) {
    if (cancel != nullptr && cancel->Stop()) {
      std::free(pixels);
      return nullptr;
    }
    if (red_black) {
      SeparatedGreyRow(src, step, page.width, weights, grey.data());
    } else {
      GreyRow(src, step, page.width, weights, grey.data());
    }
    const ETS_SrcPixel* in = grey.data();
    uchar* dots = levels.data();
    ets_line(ctx.get(), &dots, &in);
    quill_dither::PackDots(levels.data(), static_cast<int>(width), out);
    std::memset(out + line, 0, row_pitch - line);
  }
  *pitch = static_cast<int32_t>(row_pitch);
  return pixels;
}
