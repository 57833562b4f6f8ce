// Band output of the thermal and 24-pin page processors: a whole page of
// text-like runs through StartPage .. EndPage, the bytes going to a sink.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bands/page_process_dot24.h"
#include "bands/page_process_thermal.h"

namespace {

struct Page {
  uint32_t width;
  uint32_t height;
  std::vector<uint8_t> bits;
  uint32_t Pitch() const { return (width + 7) / 8; }
  const uint8_t* Row(uint32_t y) const { return bits.data() + static_cast<size_t>(y) * Pitch(); }
};

// Lines of "text": runs of dots in 60% of the rows, blank margins and
// blank gaps between words.
Page TextPage(uint32_t width, uint32_t height) {
  Page p{width, height, std::vector<uint8_t>(static_cast<size_t>((width + 7) / 8) * height)};
  std::mt19937 rng(1);
  for (uint32_t y = 0; y < height; ++y) {
    if ((y / 40) % 5 == 4) continue;  // line spacing
    for (uint32_t x = width / 10; x < width - width / 10; ++x) {
      if ((x / 30) % 4 == 3) continue;  // word gaps
      if (rng() % 3 == 0) p.bits[static_cast<size_t>(y) * p.Pitch() + x / 8] |= 0x80 >> (x % 8);
    }
  }
  return p;
}

int Sink(void*, const void*, unsigned int len) { return static_cast<int>(len); }

template <typename Proc>
void RunPage(Proc& proc, const Page& page) {
  proc.StartPage();
  proc.OutputFeedGfx(0);
  for (uint32_t y = 0; y < page.height; ++y) proc.OutputLine(page.Row(y), true);
  proc.FlushLines(false);
  proc.EndPage();
}

// A4 at 360 x 360 dpi, two ribbon colours (a 5760-column line).
void BM_Dot24Dual360(benchmark::State& state) {
  const Page page = TextPage(2 * 2880, 1200);
  for (auto _ : state) {
    PageProcessDot24 proc(360, 360, page.width, 0, Sink, nullptr);
    proc.m_DualColor = true;
    proc.m_UseLocPos = state.range(0) != 0;
    RunPage(proc, page);
  }
  state.SetItemsProcessed(state.iterations() * page.height);
}
BENCHMARK(BM_Dot24Dual360)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A4 at 180 dpi, one colour.
void BM_Dot24Single180(benchmark::State& state) {
  const Page page = TextPage(1440, 2000);
  for (auto _ : state) {
    PageProcessDot24 proc(180, 180, page.width, 0, Sink, nullptr);
    proc.m_UseLocPos = state.range(0) != 0;
    RunPage(proc, page);
  }
  state.SetItemsProcessed(state.iterations() * page.height);
}
BENCHMARK(BM_Dot24Single180)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A 72 mm receipt (576 dots) 30 cm long.
void BM_ThermalReceipt(benchmark::State& state) {
  const Page page = TextPage(576, 2400);
  for (auto _ : state) {
    PageProcessThermal proc(true, true, page.width, 0, Sink, nullptr);
    proc.m_UseLocPos = state.range(0) != 0;
    RunPage(proc, page);
  }
  state.SetItemsProcessed(state.iterations() * page.height);
}
BENCHMARK(BM_ThermalReceipt)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
