// Line packing of the one-ink band generator on a 360-dpi A4 page
// (2976 x 4209 one-bit pixels, about 10% ink), with the plain bit-by-bit
// packing as the baseline. Rows per second are reported as "rows/s".
//
// Every line is merged into the band buffer as it comes (the buffer must
// hold every line between calls), visiting only the dots: the cost follows
// the ink, and each dot is one read-modify-write of a column byte.
//
// Two pages: "random" has every dot set with probability 0.1 (no blank
// input words to skip: the worst case for the product), "text" has lines of
// glyph-like ink blocks with blank margins and line gaps, like a printed
// page, at the same overall coverage.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "bands/page_process_ink1.h"
#include "common/band_reference.h"

namespace {

constexpr uint32_t kWidth = 2976;
constexpr uint32_t kHeight = 4209;
constexpr uint32_t kLineBytes = (kWidth + 7) / 8;
constexpr uint16_t kHead = 180;  // 180 lines per band at 360 dpi

int Discard(void*, const void*, unsigned int len) { return static_cast<int>(len); }

using Page = std::vector<uint8_t>;  // kHeight lines of kLineBytes

void SetDot(Page& page, uint32_t row, uint32_t col) {
  page[size_t{row} * kLineBytes + col / 8] |= static_cast<uint8_t>(0x80 >> (col % 8));
}

const Page& RandomPage() {
  static const Page page = [] {
    Page p(size_t{kHeight} * kLineBytes, 0);
    std::mt19937 rng(42);
    std::bernoulli_distribution dot(0.10);
    for (uint32_t r = 0; r < kHeight; ++r) {
      for (uint32_t c = 0; c < kWidth; ++c) {
        if (dot(rng)) SetDot(p, r, c);
      }
    }
    return p;
  }();
  return page;
}

// Text lines 40 rows high every 60 rows inside 1-inch margins; glyphs are
// 24-column cells with random strokes, word gaps between them.
const Page& TextPage() {
  static const Page page = [] {
    Page p(size_t{kHeight} * kLineBytes, 0);
    std::mt19937 rng(7);
    std::bernoulli_distribution stroke(0.34);
    std::bernoulli_distribution word_gap(0.18);
    for (uint32_t top = 360; top + 40 < kHeight - 360; top += 60) {
      for (uint32_t cell = 360; cell + 24 < kWidth - 360; cell += 28) {
        if (word_gap(rng)) continue;
        for (uint32_t r = top; r < top + 40; ++r) {
          for (uint32_t c = cell; c < cell + 24; ++c) {
            if (stroke(rng)) SetDot(p, r, c);
          }
        }
      }
    }
    return p;
  }();
  return page;
}

template <typename Processor>
void RunPage(benchmark::State& state, const Page& page) {
  for (auto _ : state) {
    Processor p(360, 360, 360, 360, kWidth, 0, kHead, &Discard, nullptr);
    p.StartPage();
    for (uint32_t r = 0; r < kHeight; ++r) p.OutputLine(&page[size_t{r} * kLineBytes], true);
    p.EndPage();
    benchmark::ClobberMemory();
  }
  state.counters["rows/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kHeight,
                                                benchmark::Counter::kIsRate);
}

void BM_Reference_Random(benchmark::State& s) {
  RunPage<quill_test::ReferenceLines<PageProcessInk1>>(s, RandomPage());
}
void BM_Product_Random(benchmark::State& s) { RunPage<PageProcessInk1>(s, RandomPage()); }
void BM_Reference_Text(benchmark::State& s) {
  RunPage<quill_test::ReferenceLines<PageProcessInk1>>(s, TextPage());
}
void BM_Product_Text(benchmark::State& s) { RunPage<PageProcessInk1>(s, TextPage()); }

BENCHMARK(BM_Reference_Random)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Product_Random)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference_Text)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Product_Text)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
