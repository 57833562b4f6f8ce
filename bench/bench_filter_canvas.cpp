// Placement of raster rows on quillfilter's page canvas: a US Letter page
// at 360 dpi (3060 x 3960 pixels, margins of 1/8 inch) in the three raster
// layouts the filter takes. Pixels per second are reported as "px/s"; the
// whole page also includes filling the canvas white.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "common/cups_raster_writer.h"
#include "page_canvas.h"

namespace {

using quill_host::PageGeometry;
using quill_host::PixelLayout;

quill_test::RasterPage LetterPage(unsigned bits, cups_cspace_t space) {
  quill_test::RasterPageSpec spec;
  spec.page_width_pt = 612.0f;
  spec.page_height_pt = 792.0f;
  spec.x_res = spec.y_res = 360;
  spec.bits_per_pixel = bits;
  spec.color_space = space;
  const float box[4] = {9.0f, 9.0f, 603.0f, 783.0f};
  std::memcpy(spec.box, box, sizeof box);
  quill_test::RasterPage page = quill_test::MakePage(spec, 0);
  for (size_t i = 0; i < page.pixels.size(); ++i) page.pixels[i] = static_cast<uint8_t>(i * 7);
  return page;
}

void PlacePage(benchmark::State& state, unsigned bits, cups_cspace_t space) {
  const quill_test::RasterPage page = LetterPage(bits, space);
  const PixelLayout layout = quill_host::LayoutOf(page.header);
  const PageGeometry geo = quill_host::ComputeGeometry(page.header);
  std::vector<uint8_t> canvas(geo.size);
  for (auto _ : state) {
    quill_host::FillWhite(geo, layout, canvas.data());
    for (uint32_t y = 0; y < page.header.cupsHeight; ++y) {
      quill_host::PlaceRow(page.header, layout, geo, y, page.Row(y), canvas.data());
    }
    benchmark::DoNotOptimize(canvas.data());
    benchmark::ClobberMemory();
  }
  state.counters["px/s"] = benchmark::Counter(
      double(page.header.cupsWidth) * page.header.cupsHeight * double(state.iterations()),
      benchmark::Counter::kIsRate);
}

void BM_PlaceRgb24(benchmark::State& state) { PlacePage(state, 24, CUPS_CSPACE_RGB); }
void BM_PlaceGrey8(benchmark::State& state) { PlacePage(state, 8, CUPS_CSPACE_SW); }
void BM_PlaceMono1(benchmark::State& state) { PlacePage(state, 1, CUPS_CSPACE_K); }

BENCHMARK(BM_PlaceRgb24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaceGrey8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaceMono1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
