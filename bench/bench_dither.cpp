// bench_dither.cpp - the halftoners on an 8-bit A4 page at 360 and 600 dpi,
// next to FreeImage's own Floyd-Steinberg dither (FreeImage_Dither FID_FS)
// as the reference point. Reported rate: items_per_second = pixels/second.
//
// BM_ets_dither_dense screens the dense photo-like page of dense_page.h (US
// Letter at 360 dpi, no white paper), the same content that
// bench/run-peers.sh prints through the filters: the case where skipping
// paper cannot help and only the per-pixel work counts.
//
//   build-*/bench/bench_dither [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <map>

#include "dense_page.h"
#include "quill/dither.h"
#include "support/fi_bitmap.h"

namespace {

// An A4 page: a diagonal grey gradient crossed by lines of "text", black
// strokes a few pixels wide with white gaps, so the halftoners see both
// smooth tones and hard edges.
FIBITMAP* MakePage(int dpi) {
  const int w = 210 * dpi * 10 / 254;
  const int h = 297 * dpi * 10 / 254;
  FIBITMAP* dib = FreeImage_Allocate(w, h, 8);
  RGBQUAD* pal = FreeImage_GetPalette(dib);
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  const int line = dpi / 6;   // text line pitch
  const int glyph = dpi / 12; // glyph cell
  for (int y = 0; y < h; ++y) {
    BYTE* row = FreeImage_GetScanLine(dib, y);
    for (int x = 0; x < w; ++x) {
      int v = static_cast<int>((static_cast<int64_t>(x) * 255 / w + static_cast<int64_t>(y) * 255 / h) / 2);
      const int ly = y % line;
      const int gx = x % glyph;
      const bool text_band = (y / line) % 3 == 1 && ly < glyph;
      const bool stroke = gx < glyph / 5 || (ly > glyph / 2 - 2 && ly < glyph / 2 + 2 && gx < glyph * 3 / 4);
      if (text_band && stroke && (x / glyph) % 7 != 6) v = 0;
      row[x] = static_cast<BYTE>(v);
    }
  }
  return dib;
}

FIBITMAP* Page(int dpi) {
  static std::map<int, FiBitmap> pages;
  auto it = pages.find(dpi);
  if (it == pages.end()) it = pages.emplace(dpi, FiBitmap(MakePage(dpi))).first;
  return it->second.get();
}

// The dense page in grey, top row of the page in the top scan line (FreeImage
// keeps the bottom line first). Made once, kept for the process.
FIBITMAP* DensePage() {
  static const FiBitmap page = [] {
    const int w = quill_bench::kDenseWidth;
    const int h = quill_bench::kDenseHeight;
    FiBitmap dib(FreeImage_Allocate(w, h, 8));
    RGBQUAD* pal = FreeImage_GetPalette(dib.get());
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    for (int y = 0; y < h; ++y) {
      BYTE* row = FreeImage_GetScanLine(dib.get(), h - 1 - y);
      for (int x = 0; x < w; ++x) row[x] = quill_bench::DenseGrey(x, y, w, h);
    }
    return dib;
  }();
  return page.get();
}

void RunHalftonerOn(benchmark::State& state, FIBITMAP* page,
                    const std::function<FIBITMAP*(FIBITMAP*)>& fn) {
  const int64_t pixels = int64_t{FreeImage_GetWidth(page)} * FreeImage_GetHeight(page);
  for (auto _ : state) {
    FiBitmap out(fn(page));
    benchmark::DoNotOptimize(out.get());
  }
  state.SetItemsProcessed(state.iterations() * pixels);
}

void RunHalftoner(benchmark::State& state, const std::function<FIBITMAP*(FIBITMAP*)>& fn) {
  RunHalftonerOn(state, Page(static_cast<int>(state.range(0))), fn);
}

void BM_FreeImage_Dither_FS(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return FreeImage_Dither(d, FID_FS); });
}
void BM_bidir_Stucki(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return STUCKI_Sierra_Jarvis_bidir(d, 0); });
}
void BM_bidir_Sierra(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return STUCKI_Sierra_Jarvis_bidir(d, 1); });
}
void BM_bidir_Jarvis(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return STUCKI_Sierra_Jarvis_bidir(d, 2); });
}
void BM_onedir_Stucki(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return STUCKI_Sierra_Jarvis(d, 0); });
}
void BM_onedir_Sierra(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return STUCKI_Sierra_Jarvis(d, 1); });
}
void BM_onedir_Jarvis(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return STUCKI_Sierra_Jarvis(d, 2); });
}
void BM_FloydSteinberg(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return FloydSteinberg(d); });
}
void BM_my_dither(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return my_dither(d); });
}
void BM_ordered_dither_single(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return ordered_dither_single(d); });
}
void BM_ordered_dither_136(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) {
    return ordered_dither(0, FreeImage_GetBits(d), FreeImage_GetWidth(d), FreeImage_GetHeight(d),
                          FreeImage_GetPitch(d));
  });
}
void BM_ets_dither(benchmark::State& s) {
  RunHalftoner(s, [](FIBITMAP* d) { return ets_dither(d); });
}
void BM_ets_dither_dense(benchmark::State& s) {
  RunHalftonerOn(s, DensePage(), [](FIBITMAP* d) { return ets_dither(d); });
}

#define QUILL_DITHER_BENCH(fn) BENCHMARK(fn)->Arg(360)->Arg(600)->Unit(benchmark::kMillisecond)
QUILL_DITHER_BENCH(BM_FreeImage_Dither_FS);
QUILL_DITHER_BENCH(BM_bidir_Stucki);
QUILL_DITHER_BENCH(BM_bidir_Sierra);
QUILL_DITHER_BENCH(BM_bidir_Jarvis);
QUILL_DITHER_BENCH(BM_onedir_Stucki);
QUILL_DITHER_BENCH(BM_onedir_Sierra);
QUILL_DITHER_BENCH(BM_onedir_Jarvis);
QUILL_DITHER_BENCH(BM_FloydSteinberg);
QUILL_DITHER_BENCH(BM_my_dither);
QUILL_DITHER_BENCH(BM_ordered_dither_single);
QUILL_DITHER_BENCH(BM_ordered_dither_136);
QUILL_DITHER_BENCH(BM_ets_dither);
BENCHMARK(BM_ets_dither_dense)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
