// Golden hashes of whole outputs: fixed pages through every printing path,
// each job's printer bytes hashed (FNV-1a, 64 bits) and compared with the
// value the code gave when the hash was recorded. Speed work on the page
// pipeline, the halftoners, the band generators and the filter's canvas
// must leave every byte alone; these cases make any change visible at once,
// including those the decoding oracles of the other suites would accept
// (a different but plausible screen, a moved feed).
//
// The pages are made here with integer arithmetic (no floating point, no
// library random distributions), so every run on the same system gives the
// same pixels. The CUPS test page is the raster gstoraster renders from
// default-testpage.pdf at 360 dpi, checked in gzip-compressed under data/.
//
// The hashes were recorded once and are never regenerated: a mismatch means
// the output changed. To see what changed, compare the job's bytes with the
// decoders in tests/common; to list every current hash, run with
// QUILL_GOLDEN_PRINT=1.
//
// The even-toned screen draws its starting error line from the C library's
// generator, so every job starts from srand(1), the state of a fresh
// process.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <spdlog/spdlog.h>
#include <zlib.h>

#include "common/cups_raster_writer.h"
#include "cups_log.h"
#include "doc_api.h"
#include "filter_job.h"
#include "quill/libquill.h"

extern char** environ;

namespace {

// ---------------------------------------------------------------------------
// Hashing and reporting

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

uint64_t Fnv(const void* data, size_t len, uint64_t h = kFnvOffset) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < len; ++i) h = (h ^ p[i]) * kFnvPrime;
  return h;
}

struct Output {
  uint64_t hash = kFnvOffset;
  uint64_t bytes = 0;
};

int HashingWrite(void* hdl, const void* data, unsigned int len) {
  auto* out = static_cast<Output*>(hdl);
  out->hash = Fnv(data, len, out->hash);
  out->bytes += len;
  return static_cast<int>(len);
}

std::string Hex64(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%016llxull", static_cast<unsigned long long>(v));
  return buf;
}

// Compares one case's hash with its recorded value.
void ExpectGolden(const char* name, const Output& got, uint64_t want) {
  if (std::getenv("QUILL_GOLDEN_PRINT") != nullptr) {
    std::printf("GOLDEN %s %s %llu\n", name, Hex64(got.hash).c_str(),
                static_cast<unsigned long long>(got.bytes));
  }
  EXPECT_GT(got.bytes, 0u) << name << " printed nothing";
  EXPECT_EQ(Hex64(got.hash), Hex64(want)) << name << " (" << got.bytes << " bytes)";
}

// ---------------------------------------------------------------------------
// Pages

// A small linear congruential generator: the same numbers everywhere.
struct Lcg {
  uint32_t s;
  explicit Lcg(uint32_t seed) : s(seed) {}
  uint32_t Next() {
    s = s * 1664525u + 1013904223u;
    return s >> 8;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
};

// A raster that owns its pixels; rows padded to 4 bytes.
struct Page {
  std::vector<uint8_t> pixels;
  RASTER_INFO info{};

  Page(uint32_t width, uint32_t height, uint8_t bpp, uint16_t x_res = 360, uint16_t y_res = 360) {
    const uint32_t pitch = (width * bpp + 31) / 32 * 4;
    pixels.assign(static_cast<size_t>(pitch) * height, bpp == 1 ? 0x00 : 0xFF);
    info.width = width;
    info.height = height;
    info.pitch = static_cast<int32_t>(pitch);
    info.x_res = x_res;
    info.y_res = y_res;
    info.bpp = bpp;
    info.img_p = pixels.data();
  }
  Page(const Page& o) : pixels(o.pixels), info(o.info) { info.img_p = pixels.data(); }
  Page& operator=(const Page&) = delete;

  uint8_t* Row(uint32_t y) { return pixels.data() + static_cast<size_t>(y) * info.pitch; }

  // Sets pixel (x, y) to the colour (r, g, b): B, G, R bytes for 24 and 32
  // bits, the luma-like grey (r + 2g + b) / 4 for 8 bits, ink below 128 for
  // one bit.
  void Set(uint32_t x, uint32_t y, uint8_t r, uint8_t g, uint8_t b) {
    if (x >= info.width || y >= info.height) return;
    uint8_t* row = Row(y);
    const uint8_t grey = static_cast<uint8_t>((r + 2 * g + b) / 4);
    switch (info.bpp) {
      case 1:
        if (grey < 128) row[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
        else row[x / 8] &= static_cast<uint8_t>(~(0x80u >> (x % 8)));
        break;
      case 8:
        row[x] = grey;
        break;
      default: {
        uint8_t* p = row + static_cast<size_t>(x) * (info.bpp / 8);
        p[0] = b;
        p[1] = g;
        p[2] = r;
        break;
      }
    }
  }
  void Fill(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b) {
    for (uint32_t y = y0; y < y0 + h; ++y) {
      for (uint32_t x = x0; x < x0 + w; ++x) Set(x, y, r, g, b);
    }
  }
};

// A document-like page on white paper: paragraphs of text strokes separated
// by white gaps of many heights (so sections form, merge and stay apart), a
// grey ramp, boxes of clear red, pale pink, dark red and orange, a smooth
// colour patch, a frame line down the left side, and stray dots. With
// `edges`, ink also touches the first and last row and column.
Page DocumentPage(uint32_t width, uint32_t height, uint8_t bpp, uint32_t seed, bool edges = false,
                  uint16_t x_res = 360, uint16_t y_res = 360) {
  Page page(width, height, bpp, x_res, y_res);
  Lcg rng(seed);
  uint32_t y = height / 20;
  while (y + 12 < height * 3 / 5) {
    // One paragraph of a few lines.
    const uint32_t lines = 1 + rng.Below(5);
    for (uint32_t l = 0; l < lines && y + 12 < height * 3 / 5; ++l) {
      uint32_t x = width / 12;
      while (x + 8 < width - width / 12) {
        const uint32_t word = 3 + rng.Below(40);
        const uint8_t ink = static_cast<uint8_t>(rng.Below(4) == 0 ? 60 : 0);
        for (uint32_t i = 0; i < word && x + i < width; ++i) {
          const uint32_t top = rng.Below(3), bottom = 7 + rng.Below(4);
          for (uint32_t r = top; r < bottom; ++r) {
            if (rng.Below(5) != 0) page.Set(x + i, y + r, ink, ink, ink);
          }
        }
        x += word + 4 + rng.Below(12);
      }
      y += 14;
    }
    y += 3 + rng.Below(120);  // gaps from a few rows to beyond a band
  }
  const uint32_t by = height * 3 / 5 + 10;
  const uint32_t bh = height / 8;
  // A grey ramp.
  for (uint32_t x = 0; x < width / 3; ++x) {
    const uint8_t v = static_cast<uint8_t>(x * 255 / (width / 3));
    for (uint32_t r = by; r < by + bh; ++r) page.Set(width / 12 + x, r, v, v, v);
  }
  // Colour boxes: red (to the red plane), pink and dark red (black plane),
  // orange, blue.
  const uint32_t bw = width / 14;
  const uint32_t bx = width / 2;
  page.Fill(bx, by, bw, bh / 2, 255, 0, 0);
  page.Fill(bx + bw, by, bw, bh / 2, 255, 210, 210);
  page.Fill(bx + 2 * bw, by, bw, bh / 2, 120, 0, 0);
  page.Fill(bx + 3 * bw, by, bw, bh / 2, 250, 120, 20);
  page.Fill(bx + 4 * bw, by, bw, bh / 2, 30, 60, 200);
  // A smooth colour patch with a red corner.
  const uint32_t py = by + bh + 20;
  for (uint32_t r = py; r < py + bh && r < height; ++r) {
    for (uint32_t x = bx; x < bx + 5 * bw; ++x) {
      const uint32_t u = (x - bx) * 255 / (5 * bw), v = (r - py) * 255 / bh;
      page.Set(x, r, static_cast<uint8_t>(255 - v / 3), static_cast<uint8_t>(u * v / 255),
               static_cast<uint8_t>(u / 2));
    }
  }
  // The frame line and stray dots.
  for (uint32_t r = height / 25; r < height * 9 / 10; ++r) page.Set(width / 24, r, 0, 0, 0);
  for (int i = 0; i < 40; ++i) {
    const uint32_t dx = rng.Below(width), dy = height * 9 / 10 + rng.Below(height / 10);
    page.Set(dx, dy, 0, 0, 0);
  }
  if (edges) {
    for (uint32_t x = 0; x < width; x += 3) {
      page.Set(x, 0, 0, 0, 0);
      page.Set(x, height - 1, 200, 0, 0);
    }
    for (uint32_t r = 0; r < height; r += 2) {
      page.Set(0, r, 0, 0, 0);
      page.Set(width - 1, r, 40, 40, 40);
    }
  }
  return page;
}

// A photo-like page without any white paper: smooth colour ramps, soft
// highlights, ripples and grain, every sample within 6..236.
Page DensePage(uint32_t width, uint32_t height, uint8_t bpp) {
  Page page(width, height, bpp);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
      h ^= h >> 15;
      h *= 0x2C1B3C6Du;
      h ^= h >> 13;
      const int grain = static_cast<int>(h & 31) - 16;
      const int ripple = static_cast<int>((x + 2 * y) % 9) * 3 - 12;
      const int64_t dx = static_cast<int64_t>(x) - width / 3, dy = static_cast<int64_t>(y) - height / 2;
      const int64_t r2 = static_cast<int64_t>(width) * width / 16;
      const int bump = dx * dx + dy * dy < r2 ? static_cast<int>(60 - 60 * (dx * dx + dy * dy) / r2) : 0;
      auto clamp = [](int v) { return static_cast<uint8_t>(v < 6 ? 6 : v > 236 ? 236 : v); };
      const int base_r = static_cast<int>(x * 230 / width) + 6;
      const int base_g = static_cast<int>(y * 230 / height) + 6;
      const int base_b = static_cast<int>((x + y) * 115 / (width + height)) + 60;
      page.Set(x, y, clamp(base_r + bump + ripple + grain), clamp(base_g + bump - ripple + grain),
               clamp(base_b + bump + grain / 2));
    }
  }
  return page;
}

// A grey ramp palette (entry i = grey i), as a host fills RASTER_INFO.
void GreyPalette(Page& page) {
  for (uint32_t i = 0; i < 256; ++i) page.info.palette[i] = i | i << 8 | i << 16;
}

// ---------------------------------------------------------------------------
// Jobs through the library's C interface

struct Job {
  const char* processor = "DocumentProcessInk1";
  uint16_t shingling = SHINGLING_NONE;
  uint16_t x_unit = 360;
  uint16_t y_unit = 360;
  uint16_t num_pins = 24;
  uint32_t page_length = 0;
  std::string options;
};

// One document: start, every page (copies of the given ones: the library
// may rewrite a page in place), end. Returns the printer bytes' hash.
Output RunDoc(const Job& job, const std::vector<Page>& pages) {
  std::srand(1);
  Output out;
  CONV_PARAM2 cp{};
  cp.shingling = job.shingling;
  cp.x_unit = job.x_unit;
  cp.y_unit = job.y_unit;
  cp.num_pins = job.num_pins;
  cp.page_length = job.page_length;
  cp.wr_cb = HashingWrite;
  cp.wr_hdl = &out;
  cp.options = job.options.c_str();
  void* doc = DocProc_GetObject(job.processor, &cp);
  EXPECT_NE(doc, nullptr) << job.processor;
  if (doc == nullptr) return out;
  DocProc_StartDoc2(doc, &cp);
  for (const Page& p : pages) {
    Page copy(p);
    EXPECT_EQ(DocProc_ProcessPage2(doc, &cp, &copy.info), 0) << job.options;
  }
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  return out;
}

Output RunDoc(const Job& job, const Page& page) { return RunDoc(job, std::vector<Page>{page}); }

const Page& DocPage24() {
  static const Page page = DocumentPage(720, 960, 24, 7);
  return page;
}

// A private folder for the files a case writes.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/quill-golden-XXXXXX";
    const char* p = mkdtemp(tmpl);
    path_ = p != nullptr ? p : "/tmp";
  }
  ~TempDir() {
    const std::string cmd = "rm -rf '" + path_ + "'";
    if (path_ != "/tmp") std::system(cmd.c_str());
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// ---------------------------------------------------------------------------
// Through quillfilter's main loop and canvas, in process

// The gunzipped raster of data/<name> written to `path`; its hash.
uint64_t UnpackRaster(const std::string& name, const std::string& path) {
  const std::string src = std::string(QUILL_SOURCE_DIR) + "/tests/golden/data/" + name;
  gzFile in = gzopen(src.c_str(), "rb");
  if (in == nullptr) return 0;
  FILE* out = std::fopen(path.c_str(), "wb");
  uint64_t h = kFnvOffset;
  std::vector<char> buf(1 << 16);
  int n;
  while ((n = gzread(in, buf.data(), static_cast<unsigned>(buf.size()))) > 0) {
    h = Fnv(buf.data(), static_cast<size_t>(n), h);
    if (out != nullptr) std::fwrite(buf.data(), 1, static_cast<size_t>(n), out);
  }
  gzclose(in);
  if (out != nullptr) std::fclose(out);
  return h;
}

std::string PpdPath(const char* name) { return std::string(QUILL_BINARY_DIR) + "/ppd/" + name; }

// The two-colour processor as quillfilter opens it for CustomColorMode=2:
// "DocumentProcessInk3" and ":dup_red=1" after the base options. (The
// colour mode is a destination option, which needs a print server; the
// in-process job has none.)
std::deque<std::string> g_ink3_options;
void* Ink3GetObject(const char* name, const CONV_PARAM2* cp) {
  EXPECT_STREQ(name, "DocumentProcessInk1");
  return DocProc_GetObject("DocumentProcessInk3", cp);
}
CONV_PARAM2 WithDupRed(const CONV_PARAM2* cp) {
  CONV_PARAM2 c = *cp;
  g_ink3_options.push_back(std::string(cp->options != nullptr ? cp->options : "") + ":dup_red=1");
  c.options = g_ink3_options.back().c_str();
  return c;
}
void Ink3StartDoc2(void* obj, const CONV_PARAM2* cp) {
  const CONV_PARAM2 c = WithDupRed(cp);
  DocProc_StartDoc2(obj, &c);
}
int Ink3ProcessPage2(void* obj, const CONV_PARAM2* cp, const RASTER_INFO* ri) {
  const CONV_PARAM2 c = WithDupRed(cp);
  return DocProc_ProcessPage2(obj, &c, ri);
}
const quill_filter::DocApi kInk3Api = {Ink3GetObject, Ink3StartDoc2, Ink3ProcessPage2,
                                       DocProc_EndDoc, DocProc_Release};

Output RunFilter(const std::string& raster_path, const std::string& ppd_path,
                 const quill_filter::DocApi& api, const std::string& job_options = "") {
  std::srand(1);
  setenv("CUPS_SERVER", "127.0.0.1:9", 1);  // no print server is asked
  std::vector<std::string> args = {"goldenq", "1", "user", "title", "1", job_options, raster_path};
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  FILE* out = std::tmpfile();
  FILE* err = std::tmpfile();
  quill_filter::FilterIo io;
  io.out = out;
  io.err = err;
  io.ppd_path = ppd_path.empty() ? nullptr : ppd_path.c_str();
  io.api = &api;
  EXPECT_EQ(quill_filter::RunFilter(static_cast<int>(args.size()), argv.data(), io), 0);
  quill_filter::init_log(stderr);
  spdlog::drop("quill");
  g_ink3_options.clear();
  Output result;
  std::fflush(out);
  std::rewind(out);
  std::vector<char> buf(1 << 16);
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), out)) > 0) {
    result.hash = Fnv(buf.data(), n, result.hash);
    result.bytes += n;
  }
  std::fclose(out);
  std::fclose(err);
  return result;
}

// The CUPS test page as gstoraster renders it for the inkjet PPDs (360 dpi,
// 24-bit RGB, cupsRowCount 896) and for the 24-pin PPD (cupsRowCount 24).
constexpr uint64_t kInkTestPageRaster = 0x2576a05baa126353ull;
constexpr uint64_t kDot24TestPageRaster = 0x7047828fc59fefcbull;

TEST(GoldenFilter, TestPageOneInk) {
  TempDir dir;
  const std::string ras = dir.File("page.ras");
  ASSERT_EQ(Hex64(UnpackRaster("testpage-ink-360.ras.gz", ras)), Hex64(kInkTestPageRaster));
  ExpectGolden("filter_testpage_ink1",
               RunFilter(ras, PpdPath("quill-ink1.ppd"), quill_filter::LibraryApi()),
               0x25173a889defd130ull);
}

TEST(GoldenFilter, TestPageRedBlack) {
  TempDir dir;
  const std::string ras = dir.File("page.ras");
  ASSERT_EQ(Hex64(UnpackRaster("testpage-ink-360.ras.gz", ras)), Hex64(kInkTestPageRaster));
  ExpectGolden("filter_testpage_ink3", RunFilter(ras, PpdPath("quill-ink3.ppd"), kInk3Api),
               0x304472afa083887eull);
}

TEST(GoldenFilter, TestPageDot24DualColour) {
  TempDir dir;
  const std::string ras = dir.File("page.ras");
  ASSERT_EQ(Hex64(UnpackRaster("testpage-dot24-360.ras.gz", ras)), Hex64(kDot24TestPageRaster));
  ExpectGolden("filter_testpage_dot24",
               RunFilter(ras, PpdPath("quill-dot24.ppd"), quill_filter::LibraryApi()),
               0x9b699c4751647ae8ull);
}

// A CUPS raster page of `spec` whose imaging box holds `content` (a page of
// the same depth, cut or padded with white).
quill_test::RasterPage RasterOf(const quill_test::RasterPageSpec& spec, const Page& content) {
  quill_test::RasterPage page = quill_test::MakePage(spec, spec.bits_per_pixel == 1 ? 0x00 : 0xFF);
  const cups_page_header2_t& h = page.header;
  const uint32_t bpp = h.cupsBitsPerPixel;
  for (uint32_t y = 0; y < h.cupsHeight && y < content.info.height; ++y) {
    const uint8_t* src = content.pixels.data() + static_cast<size_t>(y) * content.info.pitch;
    uint8_t* dst = page.Row(y);
    const uint32_t w = std::min(h.cupsWidth, content.info.width);
    if (bpp == 1 || bpp == 8) {
      const uint32_t bytes = bpp == 1 ? (w + 7) / 8 : w;
      std::memcpy(dst, src, bytes);
      if (spec.color_space == CUPS_CSPACE_W && bpp == 1) {
        for (uint32_t i = 0; i < bytes; ++i) dst[i] = static_cast<uint8_t>(~dst[i]);
      }
      continue;
    }
    const uint32_t step = bpp / 8;
    for (uint32_t x = 0; x < w; ++x) {
      // RGB in the raster; the page holds B, G, R.
      dst[x * step] = src[x * content.info.bpp / 8 + 2];
      dst[x * step + 1] = src[x * content.info.bpp / 8 + 1];
      dst[x * step + 2] = src[x * content.info.bpp / 8];
    }
  }
  return page;
}

TEST(GoldenFilter, DensePageOneInk) {
  TempDir dir;
  quill_test::RasterPageSpec spec;
  spec.page_width_pt = 288.0f;
  spec.page_height_pt = 360.0f;
  spec.x_res = spec.y_res = 360;
  spec.row_count = 896;
  const Page dense = DensePage(1440, 1800, 24);
  ASSERT_TRUE(quill_test::WriteRasterFile(dir.File("dense.ras"), {RasterOf(spec, dense)}));
  ExpectGolden("filter_dense_ink1",
               RunFilter(dir.File("dense.ras"), PpdPath("quill-ink1.ppd"), quill_filter::LibraryApi()),
               0x306109c9d0590fffull);
  ExpectGolden("filter_dense_ink3", RunFilter(dir.File("dense.ras"), PpdPath("quill-ink3.ppd"), kInk3Api),
               0xda72d6e0c37eb173ull);
}

// Every canvas layout, margins of an imaging box, copies and duplex in one
// job: 24-bit with two copies, 8-bit W and K, one-bit K and W, 32-bit.
TEST(GoldenFilter, CanvasLayoutsCopiesAndDuplex) {
  TempDir dir;
  std::vector<quill_test::RasterPage> pages;
  quill_test::RasterPageSpec spec;
  spec.page_width_pt = 144.0f;
  spec.page_height_pt = 216.0f;
  const float box[4] = {9.0f, 18.0f, 135.0f, 207.0f};
  std::copy(box, box + 4, spec.box);
  spec.x_res = spec.y_res = 360;
  spec.row_count = 24;
  spec.duplex = true;
  spec.num_copies = 2;
  pages.push_back(RasterOf(spec, DocumentPage(630, 945, 24, 11, true)));
  spec.num_copies = 1;
  spec.bits_per_pixel = 8;
  spec.color_space = CUPS_CSPACE_W;
  pages.push_back(RasterOf(spec, DocumentPage(630, 945, 8, 12, true)));
  spec.color_space = CUPS_CSPACE_K;
  {
    Page grey = DocumentPage(630, 945, 8, 13);
    for (uint8_t& v : grey.pixels) v = static_cast<uint8_t>(255 - v);
    pages.push_back(RasterOf(spec, grey));
  }
  spec.bits_per_pixel = 1;
  pages.push_back(RasterOf(spec, DocumentPage(630, 945, 1, 14, true)));
  spec.color_space = CUPS_CSPACE_W;
  pages.push_back(RasterOf(spec, DocumentPage(630, 945, 1, 15)));
  spec.bits_per_pixel = 32;
  spec.color_space = CUPS_CSPACE_RGBW;
  pages.push_back(RasterOf(spec, DocumentPage(630, 945, 32, 16)));
  // 720 dpi, another unit table row.
  quill_test::RasterPageSpec fine = quill_test::RasterPageSpec();
  fine.page_width_pt = 72.0f;
  fine.page_height_pt = 108.0f;
  fine.x_res = fine.y_res = 720;
  fine.row_count = 1000;
  pages.push_back(RasterOf(fine, DocumentPage(720, 1080, 24, 17)));
  ASSERT_TRUE(quill_test::WriteRasterFile(dir.File("job.ras"), pages));
  ExpectGolden("filter_layouts_ink1",
               RunFilter(dir.File("job.ras"), PpdPath("quill-ink1.ppd"), quill_filter::LibraryApi()),
               0x2d77c2fe4d2e5a7dull);
  ExpectGolden("filter_layouts_ink3", RunFilter(dir.File("job.ras"), PpdPath("quill-ink3.ppd"), kInk3Api),
               0x2492bb879237b94eull);
  ExpectGolden("filter_layouts_dot24",
               RunFilter(dir.File("job.ras"), PpdPath("quill-dot24.ppd"), quill_filter::LibraryApi()),
               0x0d7a83fe3b783342ull);
}

// ---------------------------------------------------------------------------
// Ink page pipeline: shingling modes, band heights and positioning

struct ShinglingCase {
  const char* name;
  uint16_t mode;
  uint16_t pins;  // with 360 units at 360 dpi: the band height in rows
  const char* options;
  uint64_t want;
};

TEST(GoldenInk1, EveryShinglingModeAndBandHeight) {
  const ShinglingCase cases[] = {
      {"mode0_band24", 0, 24, "dither=2:gamma=2.2", 0xc063c602907ab992ull},
      {"mode0_band7_locpos", 0, 7, "dither=2:use_locpos=1:band_hint=1", 0xd652f62b94028f61ull},
      {"mode0_band180_unidir", 0, 180, "dither=2:prefer_unidir=1:band_hint=1", 0x1bd1addedd7a29d6ull},
      {"mode1_band24", 1, 24, "dither=2:band_hint=1", 0x0e6c86efc1e13f4eull},
      {"mode1_band7_unidir", 1, 7, "dither=2:prefer_unidir=1", 0x91a732f519df2b45ull},
      {"mode1_band64_locpos", 1, 64, "dither=2:use_locpos=1", 0x84685b66a1badf7aull},
      {"mode2_band24", 2, 24, "dither=2:band_hint=1", 0x8a319af46fa60784ull},
      {"mode2_band9_locpos", 2, 9, "dither=2:use_locpos=1:prefer_unidir=1", 0xf29403f25637f776ull},
      {"mode2_band128", 2, 128, "dither=2:band_hint=1", 0x6ea50ffc15ac41afull},
      {"mode3_band24", 3, 24, "use_locpos=1:gamma=2.2:dither=2:band_hint=1", 0x6eb40132f56bf0b9ull},
      {"mode3_band7", 3, 7, "dither=2:prefer_unidir=1:band_hint=1", 0xc089a15fb635c024ull},
      {"mode3_band180", 3, 180, "dither=2:use_locpos=1", 0x9558defc5697dc1full},
      {"mode4_band24", 4, 24, "dither=2:band_hint=1", 0xfd9f4eadd91985c1ull},
      {"mode4_band13_locpos", 4, 13, "dither=2:use_locpos=1:prefer_unidir=1", 0x0f023bc02cfc5c24ull},
      {"mode4_band64", 4, 64, "dither=2", 0x9f69cff2ec4f82d8ull},
      {"mode5_band24", 5, 24, "dither=2:band_hint=1", 0xfca07cb05c65f072ull},
      {"mode5_band11_unidir", 5, 11, "dither=2:prefer_unidir=1:band_hint=1", 0xcde21c205191dbcaull},
      {"mode5_band96_locpos", 5, 96, "dither=2:use_locpos=1", 0x2e91d6df76370d67ull},
      {"mode3_band3_short", 3, 3, "dither=2", 0xf8e992fa3262ed56ull},
      {"mode5_band2_too_short", 5, 2, "dither=2", 0x213cad215fd50699ull},
  };
  const Page page = DocumentPage(600, 800, 24, 3, true);
  for (const ShinglingCase& c : cases) {
    Job job;
    job.shingling = c.mode;
    job.num_pins = c.pins;
    job.page_length = 800;
    job.options = c.options;
    ExpectGolden(c.name, RunDoc(job, page), c.want);
  }
}

// Band heights from other units: 1440 units with a 896-unit head at 360 dpi
// (224 rows), 720 dpi with 1000 units (500 rows).
TEST(GoldenInk1, FilterUnitsAndHeads) {
  Job job;
  job.shingling = SHINGLING_HALF_BAND_DYNA;
  job.x_unit = job.y_unit = 1440;
  job.num_pins = 896;
  job.page_length = 1440 * 960 / 360;
  job.options = "use_locpos=1:gamma=2.2:dither=2:band_hint=1:start_doc=1B1D1E000C041B1D1F1B7803";
  ExpectGolden("units1440_head896", RunDoc(job, DocPage24()), 0x95c0314a5242251cull);
  job.num_pins = 1000;
  Page fine = DocumentPage(1000, 1400, 24, 21, false, 720, 720);
  job.page_length = 1440 * 1400 / 720;
  ExpectGolden("units1440_head1000_720dpi", RunDoc(job, fine), 0xc6d138e1d6030865ull);
}

// ---------------------------------------------------------------------------
// Mono conversion: every halftoning method, threshold, gamma, ICC, depths

// An ICC grey output profile made by Little CMS (gamma 1.8, D50).
std::string MakeGreyProfile(const TempDir& dir) {
  const std::string path = dir.File("grey18.icc");
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
  cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), curve);
  cmsFreeToneCurve(curve);
  cmsSetDeviceClass(p, cmsSigOutputClass);
  cmsSaveProfileToFile(p, path.c_str());
  cmsCloseProfile(p);
  return path;
}

TEST(GoldenInk1, HalftonersThresholdGammaAndIcc) {
  struct Case {
    const char* name;
    const char* options;
    uint64_t want;
  };
  const Case cases[] = {
      {"dither0_fs", "dither=0", 0x2580ad26f24d1dc2ull},
      {"dither1_stucki", "dither=1:gamma=1.8", 0x895a8ea30bb0d5cdull},
      {"dither2_ets_nogamma", "dither=2", 0xea90fd75ac67a6e4ull},
      {"dither2_ets_gamma1", "dither=2:gamma=1", 0xea90fd75ac67a6e4ull},
      {"dither2_ets_gamma22", "dither=2:gamma=2.2", 0xff1030efc2550748ull},
      {"dither2_ets_gamma05", "dither=2:gamma=0.5", 0xf5ad6d625cc789f6ull},
      {"dither3_ordered", "dither=3:gamma=2.2", 0xb44f759577b6c92cull},
      {"dither4_fs", "dither=4", 0x2580ad26f24d1dc2ull},
      {"dither9_default", "dither=9:gamma=1.4", 0xeb2fdb1d66ab64a2ull},
      {"threshold128", "threshold=128:dither=2", 0xcebc60ba652a533cull},
      {"threshold1", "threshold=1", 0xe3ba5435e857d931ull},
      {"threshold0_ets", "threshold=0:dither=2", 0xea90fd75ac67a6e4ull},
      {"threshold255_ordered", "threshold=255:dither=3", 0x69fd54c85929a9a2ull},
  };
  for (const Case& c : cases) {
    Job job;
    job.shingling = SHINGLING_HALF_BAND_DYNA;
    job.options = c.options;
    ExpectGolden(c.name, RunDoc(job, DocPage24()), c.want);
  }
  TempDir dir;
  const std::string icc = MakeGreyProfile(dir);
  Job job;
  job.options = "dither=2:gamma=2.2:icc=" + icc;
  ExpectGolden("icc_grey18_ets", RunDoc(job, DocPage24()), 0x413e574e1113ebafull);
  job.options = "dither=1:icc=" + icc;
  ExpectGolden("icc_grey18_stucki", RunDoc(job, DocPage24()), 0x76f3d96551e5ef50ull);
  job.options = "dither=2:icc=/nonexistent/profile.icc";
  ExpectGolden("icc_missing_ets", RunDoc(job, DocPage24()), 0x5e0f337250760115ull);
}

TEST(GoldenInk1, PageDepths) {
  Job job;
  job.shingling = SHINGLING_HALF_BAND_DYNA;
  job.options = "dither=2:gamma=2.2:use_locpos=1";
  ExpectGolden("depth32", RunDoc(job, DocumentPage(720, 960, 32, 7)), 0x5049d5e7895289ceull);
  Page grey = DocumentPage(720, 960, 8, 7);
  GreyPalette(grey);
  ExpectGolden("depth8_grey_palette", RunDoc(job, grey), 0x74b643f5b4ab4565ull);
  Page unpaletted = DocumentPage(720, 960, 8, 7);
  ExpectGolden("depth8_no_palette", RunDoc(job, unpaletted), 0x74b643f5b4ab4565ull);
  Page colour = DocumentPage(720, 960, 8, 7);
  for (uint32_t i = 0; i < 256; ++i) colour.info.palette[i] = (i / 2) | (255 - i) << 8 | i << 16;
  ExpectGolden("depth8_colour_palette", RunDoc(job, colour), 0x5d4e7cbb471b2050ull);
  ExpectGolden("depth1", RunDoc(job, DocumentPage(720, 960, 1, 7)), 0x286401b32861738bull);
  job.options = "dither=1:gamma=1.8";
  ExpectGolden("depth8_stucki", RunDoc(job, grey), 0xa0e8bf1a13be2a93ull);
  job.options = "dither=2";
  ExpectGolden("dense24_ets", RunDoc(job, DensePage(800, 600, 24)), 0xc5e80c5655e8217full);
  ExpectGolden("dense_odd_width_ets", RunDoc(job, DensePage(797, 301, 24)), 0xc2e555836a8825d0ull);
}

// ---------------------------------------------------------------------------
// Page geometry, copies, sides and document commands

TEST(GoldenInk1, GeometryCopiesAndSides) {
  struct Case {
    const char* name;
    const char* options;
    uint64_t want;
  };
  const Case cases[] = {
      {"rotate90", "dither=2:rotate=90", 0xb6a507dbf2f7e9dfull},
      {"rotate180", "dither=2:rotate=180", 0x9127746344a476dbull},
      {"rotate270_locpos", "dither=2:rotate=270:use_locpos=1", 0xea9ba51f3ab2b360ull},
      {"offset", "dither=2:offset=35,-20", 0xaa450889a4cadd37ull},
      {"copies2", "dither=2:copies=2", 0x8eaa1fc7f6585aaeull},
      {"duplex1", "dither=2:duplex=1", 0x5f02a610c840e7dbull},
      {"duplex2", "dither=2:duplex=2:copies=2", 0xa76faefee40194d5ull},
      {"commands", "dither=2:start_doc=1B40:end_doc=0C0C:start_page=AA:end_page=BB:multi_emul=1",
       0x525bc28878f04122ull},
      {"timestamp_noeject", "dither=2:time_stamp=1234567890:nouse_eject=1", 0x1bc3fc8e16f80731ull},
  };
  const std::vector<Page> pages = {DocumentPage(640, 880, 24, 31, true), DocumentPage(640, 880, 24, 32)};
  for (const Case& c : cases) {
    Job job;
    job.shingling = SHINGLING_HALF_BAND_DYNA;
    job.page_length = 880;
    job.options = c.options;
    ExpectGolden(c.name, RunDoc(job, pages), c.want);
  }
}

// Diagnostic dumps take whatever path they need, but print the same bytes.
TEST(GoldenInk1, DumpsPrintTheSameBytes) {
  TempDir dir;
  setenv("DUMP_MONO", "2", 1);
  Job job;
  job.shingling = SHINGLING_HALF_BAND_DYNA;
  job.options = "dither=2:gamma=2.2:dump_name=" + dir.File("page%u.png");
  const Output ink1 = RunDoc(job, DocPage24());
  job.processor = "DocumentProcessInk3";
  const Output ink3 = RunDoc(job, DocPage24());
  unsetenv("DUMP_MONO");
  ExpectGolden("dump_ink1", ink1, 0xff1030efc2550748ull);
  ExpectGolden("dump_ink3", ink3, 0x8e81b0841ccec515ull);
}

// ---------------------------------------------------------------------------
// Two colours, page language, thermal, 24-pin

TEST(GoldenInk3, RedBlack) {
  struct Case {
    const char* name;
    uint16_t mode;
    const char* options;
    uint64_t want;
  };
  const Case cases[] = {
      {"ink3_mode3_dupred", 3, "use_locpos=1:gamma=2.2:dither=2:band_hint=1:dup_red=1", 0xd43b1020d9001aafull},
      {"ink3_mode0", 0, "dither=2", 0xadf59fe55664e1daull},
      {"ink3_mode5_duplex2", 5, "dither=2:duplex=2:use_locpos=1", 0xc2dff26f6be1fd01ull},
      {"ink3_mode1_stucki", 1, "dither=1:gamma=1.8", 0xb8c1931b667edccaull},
      {"ink3_mode2_threshold", 2, "threshold=100", 0x176a832645bd2709ull},
      {"ink3_mode4_ordered", 4, "dither=3:rotate=180", 0xde606e80d8630b97ull},
  };
  const std::vector<Page> pages = {DocumentPage(721, 900, 24, 41, true), DocumentPage(721, 900, 32, 42)};
  for (const Case& c : cases) {
    Job job;
    job.processor = "DocumentProcessInk3";
    job.shingling = c.mode;
    job.page_length = 900;
    job.options = c.options;
    ExpectGolden(c.name, RunDoc(job, pages), c.want);
  }
  Page grey = DocumentPage(721, 900, 8, 43);
  GreyPalette(grey);
  Job job;
  job.processor = "DocumentProcessInk3";
  job.options = "dither=2";
  ExpectGolden("ink3_grey8", RunDoc(job, grey), 0x3e19b6b524d84d65ull);
  ExpectGolden("ink3_dense", RunDoc(job, DensePage(640, 480, 24)), 0xb0f3c008467f619full);
}

TEST(GoldenDot24, SingleAndDualColour) {
  struct Case {
    const char* name;
    uint16_t y_res;
    const char* options;
    uint64_t want;
  };
  const Case cases[] = {
      {"dot24_360_dual", 360, "dither=2:dual_color=1", 0x5aff182a1d3165dfull},
      {"dot24_360_single", 360, "dither=2", 0xcd98aeadda8b735cull},
      {"dot24_180_dual_locpos", 180, "dither=2:dual_color=1:use_locpos=1", 0x3a07cd4a557cc183ull},
      {"dot24_180_single_locpos", 180, "dither=2:use_locpos=1:prefer_unidir=1", 0x6e4f1d4ea62ce1c4ull},
      {"dot24_360_dual_duplex2", 360, "dither=2:dual_color=1:duplex=2:gamma=2.2", 0x8f9eced68b2d5391ull},
      {"dot24_360_dual_stucki", 360, "dither=1:dual_color=1", 0x762540a682e0cfb7ull},
  };
  for (const Case& c : cases) {
    std::vector<Page> pages = {DocumentPage(721, 1000, 24, 51, true, 360, c.y_res),
                               DocumentPage(721, 1000, 24, 52, false, 360, c.y_res)};
    Job job;
    job.processor = "DocumentProcessDot24";
    job.page_length = 1000 * 360 / c.y_res;
    job.options = c.options;
    ExpectGolden(c.name, RunDoc(job, pages), c.want);
  }
}

TEST(GoldenInk2, PageLanguage) {
  struct Case {
    const char* name;
    const char* options;
    uint64_t want;
  };
  const Case cases[] = {
      {"ink2_q0", "quality=0", 0xba17749f7200a974ull},
      {"ink2_q1_grey", "quality=1:grey=1", 0x1ec1aca9d3bb35b4ull},
      {"ink2_q2_redblack", "quality=2:red_black=1", 0x02d78310b04997b5ull},
      {"ink2_q3_copies_collate", "quality=3:copies=2:collate=1", 0x3537c50a996a7c99ull},
      {"ink2_duplex2_dither", "duplex=2:dither=1:gamma=2.2", 0xfcfa7bd28283d26full},
  };
  const std::vector<Page> pages = {DocumentPage(600, 800, 24, 61, true, 600, 600),
                                   DocumentPage(600, 800, 24, 62, false, 600, 600)};
  for (const Case& c : cases) {
    Job job;
    job.processor = "DocumentProcessInk2";
    job.x_unit = job.y_unit = 600;
    job.options = c.options;
    ExpectGolden(c.name, RunDoc(job, pages), c.want);
  }
  Page grey = DocumentPage(600, 800, 8, 63, false, 600, 600);
  GreyPalette(grey);
  Job job;
  job.processor = "DocumentProcessInk2";
  job.x_unit = job.y_unit = 600;
  job.options = "quality=1";
  ExpectGolden("ink2_grey8", RunDoc(job, grey), 0x64725c6204db13b4ull);
}

TEST(GoldenThermal, ReceiptsAndLabels) {
  struct Case {
    const char* name;
    const char* options;
    uint64_t want;
  };
  const Case cases[] = {
      {"thermal_plain", "dither=2", 0x280dfbb7ef3e9c13ull},
      {"thermal_maxwidth", "dither=2:max_width=576:use_locpos=1", 0x1096dc0488abd396ull},
      {"thermal_margin_ordered", "dither=3:left_margin=12:nouse_eject=1", 0x8fac2d0569e58e7bull},
      {"thermal_threshold", "threshold=128:max_width=384", 0x509126f008665e08ull},
  };
  const std::vector<Page> pages = {DocumentPage(512, 700, 24, 71, true, 203, 203),
                                   DocumentPage(512, 700, 8, 72, false, 203, 203)};
  for (const Case& c : cases) {
    Job job;
    job.processor = "DocumentProcessThermal";
    job.x_unit = job.y_unit = 203;
    job.page_length = 700;
    job.options = c.options;
    ExpectGolden(c.name, RunDoc(job, pages), c.want);
  }
}

// ---------------------------------------------------------------------------
// The one-call hosts: image pages and a raster to a complete job

TEST(GoldenHosts, ImagePagesAndOneCallJob) {
  TempDir dir;
  const std::string png = dir.File("picture.png");
  {
    const Page page = DocumentPage(500, 640, 24, 81);
    FIBITMAP* dib = FreeImage_Allocate(500, 640, 24);
    for (uint32_t y = 0; y < 640; ++y) {
      // FreeImage scan line 0 is the bottom row.
      std::memcpy(FreeImage_GetScanLine(dib, static_cast<int>(639 - y)),
                  page.pixels.data() + static_cast<size_t>(y) * page.info.pitch, 500 * 3);
    }
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, dib, png.c_str(), 0));
    FreeImage_Unload(dib);
  }
  for (int rotate : {0, 90}) {
    std::srand(1);
    Output out;
    CONV_PARAM2 cp{};
    cp.shingling = SHINGLING_HALF_BAND_DYNA;
    cp.x_unit = cp.y_unit = 360;
    cp.num_pins = 24;
    cp.wr_cb = HashingWrite;
    cp.wr_hdl = &out;
    cp.options = "dither=2:gamma=2.2:use_locpos=1";
    void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
    ASSERT_NE(doc, nullptr);
    DocProc_StartDoc2(doc, &cp);
    if (rotate == 0) {
      EXPECT_EQ(DocProc_ProcessImagePage(doc, png.c_str(), 360, 360), 0);
    } else {
      EXPECT_EQ(DocProc_ProcessImagePage2(doc, png.c_str(), 180, 360, rotate), 0);
    }
    DocProc_EndDoc(doc);
    DocProc_Release(doc);
    if (rotate == 0) {
      ExpectGolden("image_page", out, 0xd404b7f14afd4f1cull);
    } else {
      ExpectGolden("image_page_rotated", out, 0x3c466d7f3e73626eull);
    }
  }
  std::srand(1);
  Output out;
  CONV_PARAM2 cp{};
  cp.shingling = SHINGLING_HALF_BAND;
  cp.x_unit = cp.y_unit = 360;
  cp.num_pins = 24;
  cp.wr_cb = HashingWrite;
  cp.wr_hdl = &out;
  cp.options = "dither=2";
  Page page(DocPage24());
  EXPECT_EQ(convert_raster_to_command(&cp, &page.info), 0);
  ExpectGolden("convert_raster_to_command", out, 0xb829a867f4a969f1ull);
}

// ---------------------------------------------------------------------------
// quilldot, which shares no code with the rest, as CUPS runs it

Output RunQuilldot(const std::string& ppd, const std::string& raster) {
  Output result;
  const std::string out_path = raster + ".out";
  std::vector<std::string> args = {"dotq", "7", "user", "title", "1", "", raster};
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_text = {"PPD=" + ppd, "CUPS_SERVER=127.0.0.1:9"};
  std::vector<char*> env;
  for (std::string& s : env_text) env.push_back(s.data());
  env.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, QUILLDOT_PATH, &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(rc, 0);
  if (rc != 0) return result;
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  FILE* f = std::fopen(out_path.c_str(), "rb");
  if (f == nullptr) return result;
  std::vector<char> buf(1 << 16);
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
    result.hash = Fnv(buf.data(), n, result.hash);
    result.bytes += n;
  }
  std::fclose(f);
  return result;
}

TEST(GoldenQuilldot, ReceiptAndDotMatrixPages) {
  TempDir dir;
  quill_test::RasterPageSpec spec;
  spec.bits_per_pixel = 1;
  spec.color_space = CUPS_CSPACE_K;
  spec.row_count = 24;
  spec.page_width_pt = 204.0f;  // 80 mm receipt paper
  spec.page_height_pt = 216.0f;
  spec.x_res = spec.y_res = 203;
  const quill_test::RasterPage receipt = RasterOf(spec, DocumentPage(576, 609, 1, 91, true, 203, 203));
  spec.num_copies = 2;
  const quill_test::RasterPage second = RasterOf(spec, DocumentPage(576, 400, 1, 92, false, 203, 203));
  ASSERT_TRUE(quill_test::WriteRasterFile(dir.File("receipt.ras"), {receipt, second}));
  ExpectGolden("quilldot_receipt", RunQuilldot(PpdPath("quill-rp80.ppd"), dir.File("receipt.ras")),
               0x18ea0b97d1548eabull);

  quill_test::RasterPageSpec dm;
  dm.bits_per_pixel = 1;
  dm.color_space = CUPS_CSPACE_K;
  dm.row_count = 24;
  dm.page_width_pt = 288.0f;
  dm.page_height_pt = 216.0f;
  dm.x_res = dm.y_res = 180;
  const quill_test::RasterPage dot = RasterOf(dm, DocumentPage(720, 540, 1, 93, true, 180, 180));
  ASSERT_TRUE(quill_test::WriteRasterFile(dir.File("dm.ras"), {dot}));
  ExpectGolden("quilldot_dm24", RunQuilldot(PpdPath("quill-dm24.ppd"), dir.File("dm.ras")), 0xd0744352ceb24219ull);
}

}  // namespace
