// Token-deflate encoder and whole page-language pages on a 600-dpi A4 page
// (4960 x 7016 pixels): text lines, a grey ramp and a photo-like area on
// white, in grey and in colour.
//
// Counters: bytes_per_second is raster throughput (one byte per pixel and
// plane for the encoder, the 24-bit raster for whole pages); "object" is
// the encoded size, "gzip9" the size of the same raw planes through gzip's
// deflate at level 9 (zlib with a gzip wrapper), "object_vs_gzip9" their
// ratio.
//
// With DCRASTER_BENCH_RAW_DIR set, the raw planes are also written there
// (grey.k, colour.rgb: rows of planes as the encoder receives them) for a
// comparison with the gzip program itself.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bands/page_process_ink2.h"
#include "raster/dcraster.h"

namespace {

constexpr uint32_t kWidth = 4960;   // 210 mm at 600 dpi
constexpr uint32_t kHeight = 7016;  // 297 mm at 600 dpi

// A 24-bit page (bytes B, G, R, white 255).
struct Page {
  std::vector<uint8_t> bgr;
  RASTER_INFO info{};
};

void Fill(Page& p, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b) {
  for (uint32_t y = y0; y < y0 + h && y < kHeight; ++y) {
    uint8_t* row = p.bgr.data() + static_cast<size_t>(y) * kWidth * 3;
    for (uint32_t x = x0; x < x0 + w && x < kWidth; ++x) {
      row[x * 3] = b;
      row[x * 3 + 1] = g;
      row[x * 3 + 2] = r;
    }
  }
}

// Smooth field in 0..1 from a few sine waves: a stand-in for a photograph.
double Field(double x, double y, double phase) {
  return 0.5 + 0.2 * std::sin(x / 97.0 + phase) * std::cos(y / 131.0) +
         0.15 * std::sin((x + y) / 53.0 + 2 * phase) + 0.1 * std::cos(x / 23.0 - y / 41.0);
}

Page MakePage(bool colour) {
  Page p;
  p.bgr.assign(static_cast<size_t>(kWidth) * kHeight * 3, 0xFF);
  std::mt19937 rng(42);

  // Heading and body text: lines of glyph-like strokes with grey edges.
  uint32_t y = 400;
  for (int line = 0; line < 38; ++line, y += 100) {
    if (y > 2800 && y < 5200) continue;  // room for the pictures
    const bool heading = line == 0;
    const uint8_t ink_r = colour && heading ? 0x10 : 0x00, ink_g = colour && heading ? 0x30 : 0x00,
                  ink_b = colour && heading ? 0xA0 : 0x00;
    uint32_t x = 480;
    while (x < kWidth - 600) {
      const uint32_t glyph = 18 + rng() % 22;
      const uint32_t strokes = 1 + rng() % 3;
      for (uint32_t s = 0; s < strokes; ++s) {
        const uint32_t sx = x + s * glyph / strokes;
        const uint32_t top = y + (rng() % 4 == 0 ? 0 : 14);
        Fill(p, sx, top, 5, y + 56 - top, ink_r, ink_g, ink_b);
        Fill(p, sx + 5, top, 1, y + 56 - top, 0x80, 0x80, 0x80);  // anti-aliased edge
      }
      Fill(p, x, y + 50, glyph - 4, 6, ink_r, ink_g, ink_b);
      x += glyph + (rng() % 7 == 0 ? 30 : 6);
    }
  }

  // Grey ramp.
  for (uint32_t yy = 3000; yy < 3900; ++yy) {
    for (uint32_t xx = 480; xx < 2400; ++xx) {
      const auto v = static_cast<uint8_t>((xx - 480) * 255 / 1920);
      Fill(p, xx, yy, 1, 1, v, v, v);
    }
  }
  // Photo area with grain.
  for (uint32_t yy = 3000; yy < 5100; ++yy) {
    for (uint32_t xx = 2600; xx < 4480; ++xx) {
      const double grain = static_cast<double>(rng() % 9) - 4.0;
      auto chan = [&](double phase) {
        return static_cast<uint8_t>(std::min(255.0, std::max(0.0, 255.0 * Field(xx, yy, phase) + grain)));
      };
      const uint8_t r = chan(0.0);
      if (colour) {
        Fill(p, xx, yy, 1, 1, r, chan(1.3), chan(2.6));
      } else {
        Fill(p, xx, yy, 1, 1, r, r, r);
      }
    }
  }
  // A logo block.
  Fill(p, 480, 4000, 1200, 900, colour ? 0xE0 : 0x60, colour ? 0x10 : 0x60, colour ? 0x20 : 0x60);

  p.info.img_p = p.bgr.data();
  p.info.width = kWidth;
  p.info.height = kHeight;
  p.info.pitch = static_cast<int32_t>(kWidth * 3);
  p.info.x_res = 600;
  p.info.y_res = 600;
  p.info.bpp = 24;
  return p;
}

const Page& GreyPage() {
  static const Page page = MakePage(false);
  return page;
}

const Page& ColourPage() {
  static const Page page = MakePage(true);
  return page;
}

// Ink planes as PageProcessInk2 hands them to the encoder, row by row:
// grey: one plane of 255 - luma; colour: 255 - R, 255 - G, 255 - B.
std::vector<uint8_t> InkPlanes(const Page& p, bool colour) {
  const size_t w = kWidth;
  std::vector<uint8_t> out(w * kHeight * (colour ? 3 : 1));
  for (uint32_t y = 0; y < kHeight; ++y) {
    const uint8_t* row = p.bgr.data() + static_cast<size_t>(y) * w * 3;
    uint8_t* dst = out.data() + static_cast<size_t>(y) * w * (colour ? 3 : 1);
    for (size_t x = 0; x < w; ++x) {
      const uint8_t b = row[x * 3], g = row[x * 3 + 1], r = row[x * 3 + 2];
      if (colour) {
        dst[x] = static_cast<uint8_t>(255 - r);
        dst[w + x] = static_cast<uint8_t>(255 - g);
        dst[2 * w + x] = static_cast<uint8_t>(255 - b);
      } else {
        dst[x] = static_cast<uint8_t>(255 - Ink2Luma(r, g, b));
      }
    }
  }
  return out;
}

size_t Gzip9Size(const std::vector<uint8_t>& raw) {
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> buf(1 << 20);
  zs.next_in = const_cast<Bytef*>(raw.data());
  zs.avail_in = static_cast<uInt>(raw.size());
  size_t total = 0;
  int rc;
  do {
    zs.next_out = buf.data();
    zs.avail_out = static_cast<uInt>(buf.size());
    rc = deflate(&zs, Z_FINISH);
    total += buf.size() - zs.avail_out;
  } while (rc == Z_OK);
  deflateEnd(&zs);
  return total;
}

void MaybeDumpRaw(const std::vector<uint8_t>& raw, const char* name) {
  const char* dir = std::getenv("DCRASTER_BENCH_RAW_DIR");
  if (dir == nullptr) return;
  const std::string path = std::string(dir) + "/" + name;
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(raw.data(), 1, raw.size(), f);
    std::fclose(f);
  }
}

void CountBytes(void* context, int size, unsigned char* /*data*/) {
  *static_cast<size_t*>(context) += static_cast<size_t>(size);
}

int CountWrite(void* hdl, const void* /*data*/, unsigned int len) {
  *static_cast<size_t*>(hdl) += len;
  return static_cast<int>(len);
}

void BM_EncodeGrey(benchmark::State& state) {
  static const std::vector<uint8_t> k = InkPlanes(GreyPage(), false);
  static const size_t gzip9 = [] {
    MaybeDumpRaw(k, "grey.k");
    return Gzip9Size(k);
  }();
  size_t out = 0;
  for (auto _ : state) {
    out = 0;
    DCRASTER_t* dcr = dcraster_create_with_context(kWidth, kHeight, DCRASTER_COLORSPACE_grayscale,
                                                   DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                   DCRASTER_OBJECTTYPE_disable, 0, CountBytes, &out);
    for (uint32_t y = 0; y < kHeight; ++y) {
      dcraster_grayscale_add(dcr, const_cast<uint8_t*>(k.data()) + static_cast<size_t>(y) * kWidth, nullptr);
    }
    dcraster_delete(dcr);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight);
  state.counters["object"] = static_cast<double>(out);
  state.counters["gzip9"] = static_cast<double>(gzip9);
  state.counters["object_vs_gzip9"] = static_cast<double>(out) / static_cast<double>(gzip9);
}

void BM_EncodeColour(benchmark::State& state) {
  static const std::vector<uint8_t> rgb = InkPlanes(ColourPage(), true);
  static const size_t gzip9 = [] {
    MaybeDumpRaw(rgb, "colour.rgb");
    return Gzip9Size(rgb);
  }();
  const int level = static_cast<int>(state.range(0));
  size_t out = 0;
  for (auto _ : state) {
    out = 0;
    DCRASTER_t* dcr = dcraster_create_with_context(kWidth, kHeight, DCRASTER_COLORSPACE_rgb,
                                                   DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                   DCRASTER_OBJECTTYPE_disable, 0, CountBytes, &out);
    dcr->deflateEffort = level;
    for (uint32_t y = 0; y < kHeight; ++y) {
      uint8_t* row = const_cast<uint8_t*>(rgb.data()) + static_cast<size_t>(y) * kWidth * 3;
      dcraster_rgb_add(dcr, row, row + kWidth, row + 2 * kWidth, nullptr);
    }
    dcraster_delete(dcr);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight * 3);
  state.counters["object"] = static_cast<double>(out);
  state.counters["gzip9"] = static_cast<double>(gzip9);
  state.counters["object_vs_gzip9"] = static_cast<double>(out) / static_cast<double>(gzip9);
}

// Tokens only (no deflate): the encoder's own share of the work.
void BM_TokenizeColour(benchmark::State& state) {
  static const std::vector<uint8_t> rgb = InkPlanes(ColourPage(), true);
  size_t tokens = 0;
  DCRASTER_t* dcr = dcraster_create_with_context(kWidth, kHeight, DCRASTER_COLORSPACE_rgb,
                                                 DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                 DCRASTER_OBJECTTYPE_disable, 0, CountBytes, &tokens);
  _dcraster_begin(dcr);
  for (auto _ : state) {
    tokens = 0;
    for (uint32_t y = 0; y < kHeight; ++y) {
      uint8_t* row = const_cast<uint8_t*>(rgb.data()) + static_cast<size_t>(y) * kWidth * 3;
      BYTE* planes[4] = {row, row + kWidth, row + 2 * kWidth, nullptr};
      tokens += static_cast<size_t>(_dcraster_tokenize(dcr, planes));
    }
    benchmark::DoNotOptimize(tokens);
  }
  dcr->currentLine = dcr->height;  // nothing more to add
  size_t ignored = 0;
  dcr->callbackContext = &ignored;
  dcraster_delete(dcr);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight * 3);
  state.counters["token_bytes"] = static_cast<double>(tokens);
}

// A whole page through PageProcessInk2 from the 24-bit raster.
void BM_Ink2Page(benchmark::State& state) {
  const bool grey = state.range(0) == 0;
  const Page& page = grey ? GreyPage() : ColourPage();
  size_t written = 0;
  for (auto _ : state) {
    written = 0;
    PageProcessInk2 gen(1440, 720, 600, 600, kWidth, kHeight, CountWrite, &written);
    gen.m_UseGrey = grey;
    gen.StartPage();
    gen.SendPage(&page.info);
    gen.EndPage();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kWidth * kHeight * 3);
  state.counters["written"] = static_cast<double>(written);
}

BENCHMARK(BM_EncodeGrey)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EncodeColour)->Arg(1)->Arg(9)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TokenizeColour)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Ink2Page)->Arg(0)->Arg(1)->ArgName("colour")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
