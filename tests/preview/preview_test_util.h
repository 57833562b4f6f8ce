// preview_test_util.h - pictures of black and red dots, the rasters the
// library takes for them, jobs through the library's C interface, and the
// comparison of a preview page with the picture it came from.
#ifndef QUILL_TESTS_PREVIEW_PREVIEW_TEST_UTIL_H_
#define QUILL_TESTS_PREVIEW_PREVIEW_TEST_UTIL_H_

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/recording_writer.h"
#include "preview/preview_page.h"
#include "quill/libquill.h"

namespace preview_test {

using quill_test::Bytes;

// A page of inks: 0 paper, 1 black, 2 red.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> ink;

  Picture(uint32_t w, uint32_t h) : width(w), height(h), ink(static_cast<size_t>(w) * h, 0) {}
  uint8_t At(uint32_t x, uint32_t y) const { return ink[static_cast<size_t>(y) * width + x]; }
  void Put(uint32_t x, uint32_t y, uint8_t v) { ink[static_cast<size_t>(y) * width + x] = v; }
  uint64_t Count(uint8_t v) const {
    uint64_t n = 0;
    for (uint8_t i : ink) n += i == v;
    return n;
  }
};

// Runs of dots on rows [top, height), blank rows [gap_first, gap_end), a
// share `red` of them red, and a dot in the last column and row so the
// picture's extent is its size.
inline Picture RandomPicture(uint32_t width, uint32_t height, uint32_t seed, double red = 0.0,
                             uint32_t top = 0, uint32_t gap_first = 0, uint32_t gap_end = 0) {
  Picture p(width, height);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (uint32_t y = top; y < height; ++y) {
    if (y >= gap_first && y < gap_end) continue;
    uint32_t x = 0;
    while (x < width) {
      const uint32_t len = 1 + rng() % 24;
      const bool inked = unit(rng) < 0.45;
      const uint8_t v = unit(rng) < red ? 2 : 1;
      for (uint32_t i = x; i < x + len && i < width; ++i) {
        if (inked && unit(rng) < 0.8) p.Put(i, y, v);
      }
      x += len;
    }
  }
  p.Put(width - 1, height - 1, 1);
  if (top < height) p.Put(0, top, 1);
  return p;
}

// The picture as a raster the library takes: one bit per pixel (set bit =
// ink, black only) or 24 bits (B, G, R: black, pure red, white).
struct Raster {
  std::vector<uint8_t> pixels;
  RASTER_INFO info{};

  Raster() = default;
  // Copies own their pixels: the copy's record points at the copy.
  Raster(const Raster& other) : pixels(other.pixels), info(other.info) { info.img_p = pixels.data(); }
  Raster& operator=(const Raster& other) {
    pixels = other.pixels;
    info = other.info;
    info.img_p = pixels.data();
    return *this;
  }
};

inline Raster OneBitRaster(const Picture& p, uint16_t x_res, uint16_t y_res) {
  Raster r;
  const uint32_t pitch = (p.width + 7) / 8;
  r.pixels.assign(static_cast<size_t>(pitch) * p.height, 0);
  for (uint32_t y = 0; y < p.height; ++y) {
    for (uint32_t x = 0; x < p.width; ++x) {
      if (p.At(x, y) != 0) r.pixels[static_cast<size_t>(y) * pitch + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  r.info.img_p = r.pixels.data();
  r.info.width = p.width;
  r.info.height = p.height;
  r.info.pitch = static_cast<int32_t>(pitch);
  r.info.x_res = x_res;
  r.info.y_res = y_res;
  r.info.bpp = 1;
  return r;
}

inline Raster ColourRaster(const Picture& p, uint16_t x_res, uint16_t y_res) {
  Raster r;
  const uint32_t pitch = (p.width * 3 + 3) / 4 * 4;
  r.pixels.assign(static_cast<size_t>(pitch) * p.height, 255);
  for (uint32_t y = 0; y < p.height; ++y) {
    for (uint32_t x = 0; x < p.width; ++x) {
      uint8_t* px = &r.pixels[static_cast<size_t>(y) * pitch + x * 3];
      if (p.At(x, y) == 1) px[0] = px[1] = px[2] = 0;
      if (p.At(x, y) == 2) px[0] = px[1] = 0;  // blue and green off: red
    }
  }
  r.info.img_p = r.pixels.data();
  r.info.width = p.width;
  r.info.height = p.height;
  r.info.pitch = static_cast<int32_t>(pitch);
  r.info.x_res = x_res;
  r.info.y_res = y_res;
  r.info.bpp = 24;
  return r;
}

// A whole document through the library's C interface: the processor
// `name`, the parameters (write callback filled in), one call per raster.
// The write calls are kept in *writer when given.
inline Bytes RunJob(const char* name, CONV_PARAM2 cp, std::vector<Raster>& pages,
                    quill_test::RecordingWriter* writer = nullptr) {
  quill_test::RecordingWriter local;
  quill_test::RecordingWriter& w = writer != nullptr ? *writer : local;
  cp.wr_cb = quill_test::RecordingWriter::Callback;
  cp.wr_hdl = w.Handle();
  void* doc = DocProc_GetObject(name, &cp);
  if (doc == nullptr) return {};
  DocProc_StartDoc2(doc, &cp);
  for (Raster& r : pages) DocProc_ProcessPage2(doc, &cp, &r.info);
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  return w.All();
}

// "" when plane `plane` of `page` holds a dot exactly where `picture` has
// ink `ink` (the page may be larger than the picture: it must be blank
// there); otherwise the first differences.
inline std::string CompareInk(const quillpreview::PreviewPage& page, size_t plane, const Picture& picture,
                              uint8_t ink) {
  if (plane >= page.planes.size()) return "no plane " + std::to_string(plane);
  std::string report;
  uint64_t differences = 0;
  for (uint32_t y = 0; y < std::max(page.height, picture.height); ++y) {
    for (uint32_t x = 0; x < std::max(page.width, picture.width); ++x) {
      const bool want = x < picture.width && y < picture.height && picture.At(x, y) == ink;
      const bool got = x < page.width && y < page.height && page.Ink(plane, x, y) == 255;
      if (want == got) continue;
      if (differences++ < 5) {
        report += "(" + std::to_string(x) + "," + std::to_string(y) + ") " + (got ? "extra" : "missing") + "; ";
      }
    }
  }
  if (differences != 0) report += std::to_string(differences) + " differences";
  return report;
}

}  // namespace preview_test

#endif  // QUILL_TESTS_PREVIEW_PREVIEW_TEST_UTIL_H_
