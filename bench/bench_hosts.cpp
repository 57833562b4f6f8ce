// The library's host entries: pass-through and page assembly of the
// print-data stream, and the scale-down of a one-bit page.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "interface/rescale.h"
#include "quill/libquill.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Reader {
  const Bytes* data;
  size_t pos;
};

int Read(void* hdl, void* buf, unsigned int len) {
  auto* r = static_cast<Reader*>(hdl);
  const size_t n = std::min<size_t>(len, r->data->size() - r->pos);
  std::memcpy(buf, r->data->data() + r->pos, n);
  r->pos += n;
  return static_cast<int>(n);
}

int Sink(void*, const void*, unsigned int len) { return static_cast<int>(len); }

void PutLE16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

// A one-bit page of text-like runs (random dots in word-shaped areas).
Bytes TextRows(uint32_t width, uint32_t height) {
  const uint32_t pitch = (width + 7) / 8;
  Bytes rows(static_cast<size_t>(pitch) * height, 0);
  std::mt19937 rng(7);
  for (uint32_t y = 0; y < height; ++y) {
    if ((y / 40) % 5 == 4) continue;
    for (uint32_t x = width / 10; x < width - width / 10; ++x) {
      if ((x / 30) % 4 == 3) continue;
      if (rng() % 3 == 0) rows[static_cast<size_t>(y) * pitch + x / 8] |= 0x80 >> (x % 8);
    }
  }
  return rows;
}

int Run(const Bytes& stream, bool null_output) {
  Reader reader{&stream, 0};
  CONV_PARAM p{};
  p.x_unit = p.y_unit = 360;
  p.num_pins = 24;
  p.rd_cb = Read;
  p.rd_hdl = &reader;
  p.wr_cb = null_output ? nullptr : Sink;
  return process_print_data(&p);
}

// Printer bytes without markup: one read and one write per byte.
void BM_StreamPassThrough(benchmark::State& state) {
  Bytes stream(64 * 1024);
  for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>('a' + i % 16);
  for (auto _ : state) benchmark::DoNotOptimize(Run(stream, false));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * stream.size());
}
BENCHMARK(BM_StreamPassThrough);

// An 8 x 10 inch page at 360 dpi in blocks of 24 rows, then a form feed;
// assembly, the whole page conversion and its output.
void BM_StreamPage(benchmark::State& state) {
  const uint32_t width = 2880, height = 3600, pitch = width / 8;
  const Bytes rows = TextRows(width, height);
  Bytes stream = {'P', 'A', 'G', 'E'};
  for (uint16_t v : {uint16_t{1}, uint16_t{360}, uint16_t{360}, uint16_t{width},
                     uint16_t{height}, uint16_t{0}}) {
    PutLE16(stream, v);
  }
  for (uint32_t y = 0; y < height; y += 24) {
    stream.insert(stream.end(), {'B', 'L', 'K'});
    PutLE16(stream, static_cast<uint16_t>(pitch));
    PutLE16(stream, 24);
    stream.insert(stream.end(), rows.begin() + y * pitch, rows.begin() + (y + 24) * pitch);
  }
  stream.push_back(0x0C);
  for (auto _ : state) benchmark::DoNotOptimize(Run(stream, false));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * stream.size());
}
BENCHMARK(BM_StreamPage)->Unit(benchmark::kMillisecond);

// Half width and height of the same page, as a scale command asks for.
void BM_RescaleHalf(benchmark::State& state) {
  const uint32_t width = 2880, height = 3600;
  Bytes rows = TextRows(width, height);
  for (auto _ : state) {
    uint32_t pitch = 0;
    unsigned char* out = rescale_image(rows.data(), width, height, width / 8, width / 2,
                                       height / 2, &pitch);
    benchmark::DoNotOptimize(out);
    std::free(out);
  }
}
BENCHMARK(BM_RescaleHalf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
