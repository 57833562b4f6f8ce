// quilldot's per-row work: collecting rows into bands (receipt and the
// 144-dpi interleave) and raster lines with PackBits and the 720-dpi
// thinning, for whole pages, the bytes going to /dev/null.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "dot_band.h"
#include "dot_output.h"
#include "dot_page.h"
#include "dot_state.h"

namespace {

// Rows of "text": runs of dots in most rows, blank margins, word gaps and
// line spacing.
std::vector<std::vector<uint8_t>> TextRows(unsigned width, unsigned height, unsigned bytes) {
  std::vector<std::vector<uint8_t>> rows(height, std::vector<uint8_t>(bytes, 0));
  std::mt19937 rng(1);
  for (unsigned y = 0; y < height; ++y) {
    if ((y / 40) % 5 == 4) continue;
    for (unsigned x = width / 10; x < width - width / 10; ++x) {
      if ((x / 30) % 4 == 3) continue;
      if (rng() % 3 == 0) rows[y][x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  return rows;
}

cups_page_header2_t Header(unsigned width, unsigned height, unsigned row_count, unsigned hres,
                           unsigned vres, unsigned compression) {
  cups_page_header2_t h;
  memset(&h, 0, sizeof h);
  h.HWResolution[0] = hres;
  h.HWResolution[1] = vres;
  h.PageSize[1] = height * 72 / vres;
  h.NumCopies = 1;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
  h.cupsBytesPerLine = (width + 7) / 8;
  h.cupsColorSpace = CUPS_CSPACE_K;
  h.cupsRowCount = row_count;
  h.cupsCompression = compression;
  if (vres == 144) {
    h.cupsRowStep = 1;
    h.cupsRowFeed = 15;
  }
  return h;
}

void RunPage(benchmark::State& state, int model, const cups_page_header2_t& h) {
  const auto rows = TextRows(h.cupsWidth, h.cupsHeight, h.cupsBytesPerLine);
  FILE* sink = fopen("/dev/null", "w");
  quilldot::ResetState();
  quilldot::SetOutputStreams(sink, sink);
  quilldot::Model = model;
  for (auto _ : state) {
    quilldot::StartPage(nullptr, &h);
    for (const auto& row : rows) {
      memcpy(quilldot::RowBuffer.data(), row.data(), row.size());
      quilldot::OutputLine(&h);
    }
    quilldot::EndPage(&h);
  }
  quilldot::SetOutputStreams(nullptr, nullptr);
  quilldot::ResetState();
  fclose(sink);
  state.SetItemsProcessed(state.iterations() * h.cupsHeight);  // rows
}

void BM_ReceiptBands(benchmark::State& state) {
  RunPage(state, 10, Header(576, 3000, 24, 203, 203, 0));
}
BENCHMARK(BM_ReceiptBands);

void BM_Interleave144Bands(benchmark::State& state) {
  RunPage(state, 0, Header(1632, 1584, 16, 120, 144, 0));
}
BENCHMARK(BM_Interleave144Bands);

void BM_RasterPackBits720(benchmark::State& state) {
  RunPage(state, 2, Header(5760, 2000, 0, 720, 720, 1));
}
BENCHMARK(BM_RasterPackBits720);

}  // namespace

BENCHMARK_MAIN();
