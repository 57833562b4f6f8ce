// preview_page.h - one decoded page as quillpreview shows it: ink planes at
// the printer's resolution, their summary line and their PNG picture.
#ifndef QUILL_PREVIEW_PREVIEW_PAGE_H_
#define QUILL_PREVIEW_PREVIEW_PAGE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillpreview {

// One ink of a page: what a printer laid down in one colour.
struct InkPlane {
  std::string name;                 // "black", "red", "cyan", ...
  std::array<uint8_t, 3> colour{};  // how the ink looks on white paper (R, G, B)
  // Ink per pixel, row after row (width x height): 0 none, 255 full. Dot
  // streams hold only 0 and 255.
  std::vector<uint8_t> ink;
};

struct PreviewPage {
  uint32_t width = 0;   // pixels, one per printer dot
  uint32_t height = 0;
  uint32_t x_res = 0;   // dots per inch
  uint32_t y_res = 0;
  bool dots = true;     // a dot stream (ink 0 or 255) rather than a contone image
  std::vector<InkPlane> planes;

  // Adds a plane of width x height pixels without ink; returns it. The
  // reference stays valid until the next AddPlane.
  InkPlane& AddPlane(const std::string& name, std::array<uint8_t, 3> colour);
  uint8_t Ink(size_t plane, uint32_t x, uint32_t y) const {
    return planes[plane].ink[static_cast<size_t>(y) * width + x];
  }
  void SetDot(size_t plane, uint32_t x, uint32_t y) {
    planes[plane].ink[static_cast<size_t>(y) * width + x] = 255;
  }
  // Pixels where any plane has ink.
  uint64_t InkedPixels() const;
  // Sum of the ink of one plane, in full dots (a dot counts 1, half ink 0.5).
  double InkSum(size_t plane) const;
};

// The colours planes are drawn in.
constexpr std::array<uint8_t, 3> kBlackInk = {0, 0, 0};
constexpr std::array<uint8_t, 3> kRedInk = {255, 0, 0};
constexpr std::array<uint8_t, 3> kCyanInk = {0, 255, 255};
constexpr std::array<uint8_t, 3> kMagentaInk = {255, 0, 255};
constexpr std::array<uint8_t, 3> kYellowInk = {255, 255, 0};
constexpr std::array<uint8_t, 3> kLightCyanInk = {128, 255, 255};
constexpr std::array<uint8_t, 3> kLightMagentaInk = {255, 128, 255};

// The summary line of page `number` (counted from 1), without a newline:
// "page 1: serial 612x480 at 360x360 dpi, 9012 dots, black 9000 (3.06%),
// red 12 (0.00%)" for dot streams, "... 9012 pixels inked, black 2.10%" for
// contone pages (ink as a share of the page fully covered).
std::string SummaryLine(const PreviewPage& page, size_t number, const std::string& format);

// The page as the paper would look: white, each plane's ink filtering its
// colour (black over red stays black). Pixels are R, G, B, row after row.
std::vector<uint8_t> Composite(const PreviewPage& page);

// Writes the page as a PNG file at `path` with its resolution recorded:
// one bit per pixel for a page of black dots only, eight-bit grey for a
// page of black ink only, 24-bit colour otherwise. Returns false and sets
// *error when the file cannot be written.
bool WritePng(const PreviewPage& page, const std::string& path, std::string* error);

}  // namespace quillpreview

#endif  // QUILL_PREVIEW_PREVIEW_PAGE_H_
