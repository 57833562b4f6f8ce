// One A4 page at 360 dpi, 24 bits per pixel (2975 x 4210), through the ink
// page pipeline with the filter's default options: "use_locpos=1:gamma=2.2:
// dither=2:band_hint=1", shingling 3, 360 x 360 units, a 24-pin head.
//
//   BM_WholePage         DocProc_ProcessPage2 (Ink1), pages/s as "items/s"
//   BM_WholePageInk3     the same page on the red/black processor
//   BM_MonoConversion    ConvertColorToMono alone (grey, gamma, screening)
//   BM_InkAndSections    row ink, content range and sections of the result
//   BM_BandOutput        shingling mode 3 into the band generator
//   BM_RedBlackSplit     ConvertToRedBlack alone
//   BM_GreyWithGamma     the grey copy with gamma 2.2 (first step of the
//                        mono conversion)
//
// The page: text lines of glyph-like black strokes inside 1-inch margins, a
// grey ramp, a red heading bar and a photo-like noise block, so that every
// step has real work. "peak_rss_MiB" is the process's peak resident size
// after the run (the benchmark's two copies of the page included, so run
// one benchmark at a time with --benchmark_filter); "pipeline_peak_MiB" is
// how far the pipeline raised it above the pages held before the run.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include <random>
#include <vector>

#include "bands/page_process_ink1.h"
#include "document/document_process_ink1.h"
#include "document/ink_sections.h"
#include "document/mono_conversion.h"
#include "document/shingling.h"
#include "quill/libquill.h"
#include "support/fi_bitmap.h"

namespace {

constexpr uint32_t kWidth = 2975;
constexpr uint32_t kHeight = 4210;
constexpr uint32_t kPitch = kWidth * 3;
constexpr char kOptions[] = "use_locpos=1:gamma=2.2:dither=2:band_hint=1";

struct Counter {
  uint64_t bytes = 0;
};
int Count(void* hdl, const void*, unsigned int len) {
  static_cast<Counter*>(hdl)->bytes += len;
  return static_cast<int>(len);
}

const std::vector<uint8_t>& PagePixels() {
  static const std::vector<uint8_t> page = [] {
    std::vector<uint8_t> p(size_t{kPitch} * kHeight, 255);
    auto paint = [&](uint32_t r, uint32_t c, uint8_t red, uint8_t green, uint8_t blue) {
      uint8_t* px = &p[size_t{r} * kPitch + size_t{c} * 3];
      px[0] = blue;
      px[1] = green;
      px[2] = red;
    };
    std::mt19937 rng(7);
    // Red heading bar.
    for (uint32_t r = 360; r < 460; ++r)
      for (uint32_t c = 360; c < kWidth - 360; ++c) paint(r, c, 230, 20, 30);
    // Text lines.
    std::bernoulli_distribution stroke(0.34), gap(0.18);
    for (uint32_t top = 560; top + 40 < 2600; top += 60)
      for (uint32_t cell = 360; cell + 24 < kWidth - 360; cell += 28) {
        if (gap(rng)) continue;
        for (uint32_t r = top; r < top + 40; ++r)
          for (uint32_t c = cell; c < cell + 24; ++c)
            if (stroke(rng)) paint(r, c, 0, 0, 0);
      }
    // Grey ramp.
    for (uint32_t r = 2700; r < 3000; ++r)
      for (uint32_t c = 360; c < kWidth - 360; ++c) {
        const auto v = static_cast<uint8_t>((c - 360) * 255 / (kWidth - 720));
        paint(r, c, v, v, v);
      }
    // Photo-like block.
    std::uniform_int_distribution<int> noise(0, 255);
    for (uint32_t r = 3100; r < 3850; ++r)
      for (uint32_t c = 360; c < 1600; ++c) {
        const auto v = static_cast<uint8_t>(noise(rng));
        paint(r, c, v, static_cast<uint8_t>(255 - v / 2), static_cast<uint8_t>(v / 3));
      }
    return p;
  }();
  return page;
}

RASTER_INFO PageRaster(std::vector<uint8_t>& pixels) {
  RASTER_INFO ri{};
  ri.img_p = pixels.data();
  ri.width = kWidth;
  ri.height = kHeight;
  ri.pitch = kPitch;
  ri.x_res = ri.y_res = 360;
  ri.bpp = 24;
  return ri;
}

CONV_PARAM2 FilterParam(Counter& out) {
  CONV_PARAM2 cp{};
  cp.shingling = SHINGLING_HALF_BAND_DYNA;
  cp.x_unit = cp.y_unit = 360;
  cp.num_pins = 24;
  cp.wr_cb = Count;
  cp.wr_hdl = &out;
  cp.page_length = 360u * kHeight / 360;
  cp.options = kOptions;
  return cp;
}

double CurrentRssMiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double PeakRssMiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void WholePage(benchmark::State& state, const char* cls) {
  std::vector<uint8_t> pixels = PagePixels();
  Counter out;
  CONV_PARAM2 cp = FilterParam(out);
  void* doc = DocProc_GetObject(cls, &cp);
  DocProc_StartDoc2(doc, &cp);
  const double before = CurrentRssMiB();  // the page and its copy, nothing else
  for (auto _ : state) {
    RASTER_INFO ri = PageRaster(pixels);
    benchmark::DoNotOptimize(DocProc_ProcessPage2(doc, &cp, &ri));
  }
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  state.SetItemsProcessed(state.iterations());
  state.counters["printer_bytes_per_page"] =
      static_cast<double>(out.bytes) / static_cast<double>(state.iterations());
  state.counters["peak_rss_MiB"] = PeakRssMiB();
  state.counters["pipeline_peak_MiB"] = PeakRssMiB() - before;
}

void BM_WholePage(benchmark::State& state) { WholePage(state, "DocumentProcessInk1"); }
BENCHMARK(BM_WholePage)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_WholePageInk3(benchmark::State& state) { WholePage(state, "DocumentProcessInk3"); }
BENCHMARK(BM_WholePageInk3)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The one-bit page of the default options, made once.
struct MonoPage {
  RASTER_INFO ri{};
  std::vector<uint8_t> pixels;
};
const MonoPage& Mono() {
  static const MonoPage mono = [] {
    std::vector<uint8_t> pixels = PagePixels();
    Counter out;
    CONV_PARAM2 cp = FilterParam(out);
    DocumentProcessInk1 doc(&cp);
    RASTER_INFO src = PageRaster(pixels);
    MonoPage m;
    doc.ConvertColorToMono(&src, &m.ri);
    m.pixels.assign(m.ri.img_p, m.ri.img_p + size_t(m.ri.pitch) * m.ri.height);
    std::free(m.ri.img_p);
    m.ri.img_p = m.pixels.data();
    return m;
  }();
  return mono;
}

void BM_MonoConversion(benchmark::State& state) {
  std::vector<uint8_t> pixels = PagePixels();
  Counter out;
  CONV_PARAM2 cp = FilterParam(out);
  DocumentProcessInk1 doc(&cp);
  for (auto _ : state) {
    RASTER_INFO src = PageRaster(pixels);
    RASTER_INFO dst{};
    doc.ConvertColorToMono(&src, &dst);
    std::free(dst.img_p);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MonoConversion)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void BM_InkAndSections(benchmark::State& state) {
  const MonoPage& m = Mono();
  for (auto _ : state) {
    std::vector<uint32_t> rows = CountRowInk(m.ri);
    const ContentRange range = FindContentRange(rows);
    std::deque<Section> sections = FindSections(rows, range);
    MergeSections(sections, 24);
    benchmark::DoNotOptimize(sections.size());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InkAndSections)->Unit(benchmark::kMillisecond);

void BM_BandOutput(benchmark::State& state) {
  const MonoPage& m = Mono();
  std::vector<uint32_t> rows = CountRowInk(m.ri);
  const ContentRange range = FindContentRange(rows);
  std::deque<Section> sections = FindSections(rows, range);
  MergeSections(sections, 24);
  Counter out;
  ShinglingJob job;
  job.mode = SHINGLING_HALF_BAND_DYNA;
  job.band_height = 24;
  job.band_hint = true;
  job.wr_cb = Count;
  job.wr_hdl = &out;
  for (auto _ : state) {
    PageProcessInk1 pp(360, 360, 360, 360, kWidth, kHeight, 24, Count, &out);
    pp.m_UseLocPos = true;
    RunShingling(pp, m.ri, range, sections, job);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BandOutput)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_RedBlackSplit(benchmark::State& state) {
  std::vector<uint8_t> pixels = PagePixels();
  RASTER_INFO src = PageRaster(pixels);
  for (auto _ : state) {
    FiBitmap wrapped = WrapRaster(src);
    FIBITMAP* out = nullptr;
    ConvertToRedBlack(wrapped.get(), out);
    FiBitmap owned(out);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RedBlackSplit)->Unit(benchmark::kMillisecond);

void BM_GreyWithGamma(benchmark::State& state) {
  std::vector<uint8_t> pixels = PagePixels();
  RASTER_INFO src = PageRaster(pixels);
  FiBitmap wrapped = WrapRaster(src);
  for (auto _ : state) {
    FiBitmap grey = GreyWithGamma(wrapped.get(), 2.2);
    benchmark::DoNotOptimize(grey.get());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GreyWithGamma)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
