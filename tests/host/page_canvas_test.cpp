// Page canvas geometry and pixel placement, checked against a per-pixel
// reference model: every canvas pixel is either the raster pixel that lands
// on it or white.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "common/cups_raster_writer.h"
#include "page_canvas.h"

namespace {

using quill_host::ComputeGeometry;
using quill_host::LayoutOf;
using quill_host::PageGeometry;
using quill_host::PixelLayout;
using quill_test::MakePage;
using quill_test::RasterPage;
using quill_test::RasterPageSpec;

// Places every row of `page` on a fresh canvas, as the filter does.
std::vector<uint8_t> Place(const RasterPage& page, PageGeometry* geo_out = nullptr) {
  PixelLayout layout = LayoutOf(page.header);
  PageGeometry geo = ComputeGeometry(page.header);
  std::vector<uint8_t> canvas(geo.size);
  quill_host::FillWhite(geo, layout, canvas.data());
  for (uint32_t y = 0; y < page.header.cupsHeight; ++y) {
    quill_host::PlaceRow(page.header, layout, geo, y, page.Row(y), canvas.data());
  }
  if (geo_out != nullptr) *geo_out = geo;
  return canvas;
}

// A 24-bit page whose pixel (x, y) is R = x, G = y, B = x ^ y (mod 256).
RasterPage PatternPage24(const RasterPageSpec& spec) {
  RasterPage page = MakePage(spec);
  for (uint32_t y = 0; y < page.header.cupsHeight; ++y) {
    uint8_t* row = page.Row(y);
    for (uint32_t x = 0; x < page.header.cupsWidth; ++x) {
      row[3 * x + 0] = static_cast<uint8_t>(x);
      row[3 * x + 1] = static_cast<uint8_t>(y);
      row[3 * x + 2] = static_cast<uint8_t>(x ^ y);
    }
  }
  return page;
}

// The canvas the reference model expects for a 24-bit page placed with its
// first pixel at canvas (x_off, y_off): B, G, R in memory, white elsewhere.
void ExpectPlaced24(const RasterPage& page, const std::vector<uint8_t>& canvas,
                    const PageGeometry& geo, int64_t x_off, int64_t y_off) {
  int mismatches = 0;
  for (uint32_t cy = 0; cy < geo.height; ++cy) {
    for (uint32_t cx = 0; cx < geo.width; ++cx) {
      const int64_t sx = int64_t{cx} - x_off;
      const int64_t sy = int64_t{cy} - y_off;
      uint8_t expected[3] = {255, 255, 255};
      if (sx >= 0 && sy >= 0 && sx < page.header.cupsWidth && sy < page.header.cupsHeight) {
        const uint8_t* src = page.Row(static_cast<uint32_t>(sy)) + 3 * sx;
        expected[0] = src[2];
        expected[1] = src[1];
        expected[2] = src[0];
      }
      const uint8_t* got = canvas.data() + cy * geo.pitch + 3 * cx;
      if (std::memcmp(got, expected, 3) != 0 && ++mismatches <= 5) {
        ADD_FAILURE() << "canvas pixel (" << cx << "," << cy << ") differs";
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(PageGeometry, SheetSizeAtTheResolutionTruncated) {
  RasterPageSpec spec;
  spec.page_width_pt = 595.0f;
  spec.page_height_pt = 842.0f;
  spec.x_res = 360;
  spec.y_res = 180;
  PageGeometry geo = ComputeGeometry(MakePage(spec).header);
  EXPECT_EQ(geo.width, 2975u);   // 360 * 595 / 72
  EXPECT_EQ(geo.height, 2105u);  // 180 * 842 / 72
  EXPECT_EQ(geo.bytes_per_pixel, 3u);
  EXPECT_EQ(geo.pitch, 2975u * 3);
  EXPECT_EQ(geo.size, uint64_t{2975} * 3 * 2105);
  EXPECT_EQ(geo.x_off, 0);
  EXPECT_EQ(geo.y_off, 0);

  spec.page_width_pt = 100.5f;  // 360 * 100.5 / 72 = 502.5
  EXPECT_EQ(ComputeGeometry(MakePage(spec).header).width, 502u);
}

TEST(PageGeometry, SizesBeyond32BitsAreComputedWithoutWrapping) {
  RasterPageSpec spec;
  spec.bits_per_pixel = 32;
  spec.page_width_pt = 1048576.0f;  // 2^20 pixels of 4 bytes at 72 dpi
  spec.page_height_pt = 1048577.0f;
  spec.width_px = 8;
  spec.height_px = 8;
  PageGeometry geo = ComputeGeometry(MakePage(spec).header);
  EXPECT_EQ(geo.size, (uint64_t{1} << 42) + (uint64_t{1} << 22));  // 32 bits would give 4 MiB
  EXPECT_FALSE(quill_host::AllocateCanvas(geo.size));
}

TEST(PageGeometry, PitchBeyondInt32GivesNoCanvas) {
  RasterPageSpec spec;
  spec.bits_per_pixel = 32;
  spec.page_width_pt = 4.0e9f;
  spec.page_height_pt = 10.0f;
  spec.width_px = 8;
  spec.height_px = 8;
  EXPECT_EQ(ComputeGeometry(MakePage(spec).header).size, 0u);
}

TEST(PageGeometry, LayoutsByDepthOrderAndColourSpace) {
  RasterPageSpec spec;
  spec.width_px = spec.height_px = 8;
  EXPECT_EQ(LayoutOf(MakePage(spec).header), PixelLayout::kChunky);
  spec.bits_per_pixel = 32;
  EXPECT_EQ(LayoutOf(MakePage(spec).header), PixelLayout::kChunky);
  spec.bits_per_pixel = 8;
  spec.color_space = CUPS_CSPACE_SW;
  EXPECT_EQ(LayoutOf(MakePage(spec).header), PixelLayout::kGrey8);
  spec.bits_per_pixel = 1;
  spec.color_space = CUPS_CSPACE_K;
  EXPECT_EQ(LayoutOf(MakePage(spec).header), PixelLayout::kOneBit);

  // Multi-colour pages need chunked pixels of 8 bits per colour.
  RasterPage banded = MakePage(RasterPageSpec{});
  banded.header.cupsColorOrder = CUPS_ORDER_BANDED;
  banded.header.cupsBitsPerPixel = 8;
  EXPECT_EQ(LayoutOf(banded.header), PixelLayout::kUnsupported);
  // Colour spaces and orders are any 32-bit value the stream holds (the
  // fuzz targets put 57603 there); those that name none are not printed.
  const uint32_t no_such = 57603;
  spec.bits_per_pixel = 8;
  RasterPage odd_space = MakePage(spec);
  std::memcpy(&odd_space.header.cupsColorSpace, &no_such, sizeof no_such);
  EXPECT_EQ(LayoutOf(odd_space.header), PixelLayout::kUnsupported);
  RasterPage odd_order = MakePage(RasterPageSpec{});
  std::memcpy(&odd_order.header.cupsColorOrder, &no_such, sizeof no_such);
  EXPECT_EQ(LayoutOf(odd_order.header), PixelLayout::kUnsupported);
  RasterPage deep = MakePage(RasterPageSpec{});
  deep.header.cupsBitsPerColor = 16;
  deep.header.cupsBitsPerPixel = 48;
  EXPECT_EQ(LayoutOf(deep.header), PixelLayout::kUnsupported);
  RasterPage nibbles = MakePage(RasterPageSpec{});
  nibbles.header.cupsBitsPerColor = 4;
  nibbles.header.cupsBitsPerPixel = 4;
  nibbles.header.cupsColorSpace = CUPS_CSPACE_W;
  EXPECT_EQ(LayoutOf(nibbles.header), PixelLayout::kUnsupported);
}

TEST(PagePlacement, NarrowerPageLandsAtTheImagingBoxOnWhite) {
  // 1 pixel per point. The box has unequal margins: 10 left, 5 bottom,
  // 40 right, 10 top; its top edge is 10 points below the top of the sheet.
  RasterPageSpec spec;
  spec.page_width_pt = 100.0f;
  spec.page_height_pt = 80.0f;
  float box[4] = {10.0f, 5.0f, 60.0f, 70.0f};
  std::memcpy(spec.box, box, sizeof box);
  RasterPage page = PatternPage24(spec);
  ASSERT_EQ(page.header.cupsWidth, 50u);
  ASSERT_EQ(page.header.cupsHeight, 65u);

  PageGeometry geo;
  std::vector<uint8_t> canvas = Place(page, &geo);
  EXPECT_EQ(geo.x_off, 10);
  EXPECT_EQ(geo.y_off, 10);  // from the top edge, not the bottom margin of 5
  ExpectPlaced24(page, canvas, geo, 10, 10);
}

TEST(PagePlacement, OffsetsScaleWithTheResolution) {
  RasterPageSpec spec;
  spec.page_width_pt = 72.0f;
  spec.page_height_pt = 72.0f;
  spec.x_res = 360;
  spec.y_res = 180;
  float box[4] = {7.25f, 14.5f, 64.75f, 36.0f};  // top edge 36 points from the top
  std::memcpy(spec.box, box, sizeof box);
  RasterPage page = PatternPage24(spec);
  PageGeometry geo;
  std::vector<uint8_t> canvas = Place(page, &geo);
  EXPECT_EQ(geo.x_off, 36);  // 360 * 7.25 / 72, truncated
  EXPECT_EQ(geo.y_off, 90);  // 180 * 36 / 72
  ExpectPlaced24(page, canvas, geo, 36, 90);
}

// Only the float box places the raster: a header whose cupsImagingBBox is
// not set starts the raster at the top-left corner, whatever the integer
// box says. Headers without float sizes at all (version-1 style) are
// described by their integer page size and box.
TEST(PagePlacement, FloatBoxPlacesTheRasterIntegerBoxOnlyWithoutFloatSizes) {
  RasterPageSpec spec;
  spec.page_width_pt = 30.0f;
  spec.page_height_pt = 20.0f;
  float box[4] = {4.0f, 3.0f, 24.0f, 15.0f};
  std::memcpy(spec.box, box, sizeof box);
  RasterPage page = PatternPage24(spec);
  for (float& v : page.header.cupsImagingBBox) v = 0.0f;
  PageGeometry geo;
  std::vector<uint8_t> canvas = Place(page, &geo);
  EXPECT_EQ(geo.x_off, 0);
  EXPECT_EQ(geo.y_off, 0);
  ExpectPlaced24(page, canvas, geo, 0, 0);

  page.header.cupsPageSize[0] = 0.0f;
  page.header.cupsPageSize[1] = 0.0f;
  canvas = Place(page, &geo);
  EXPECT_EQ(geo.width, 30u);
  EXPECT_EQ(geo.height, 20u);
  EXPECT_EQ(geo.x_off, 4);
  EXPECT_EQ(geo.y_off, 5);  // 20 - 15
  ExpectPlaced24(page, canvas, geo, 4, 5);
}

TEST(PagePlacement, BoxesReachingPastTheCanvasAreClipped) {
  // The raster is larger than the sheet on every side.
  RasterPageSpec spec;
  spec.page_width_pt = 40.0f;
  spec.page_height_pt = 30.0f;
  float box[4] = {-6.0f, -4.0f, 50.0f, 37.0f};
  std::memcpy(spec.box, box, sizeof box);
  RasterPage page = PatternPage24(spec);
  PageGeometry geo;
  std::vector<uint8_t> canvas = Place(page, &geo);
  EXPECT_EQ(canvas.size(), 40u * 30u * 3u);
  EXPECT_EQ(geo.x_off, -6);
  EXPECT_EQ(geo.y_off, -7);
  ExpectPlaced24(page, canvas, geo, -6, -7);

  // A box entirely below and right of the sheet leaves it white.
  float away[4] = {45.0f, -30.0f, 60.0f, -10.0f};
  std::memcpy(spec.box, away, sizeof away);
  page = PatternPage24(spec);
  canvas = Place(page, &geo);
  EXPECT_EQ(canvas, std::vector<uint8_t>(40u * 30u * 3u, 255));
}

// A header whose cupsWidth x depth wrapped around 32 bits claims more
// pixels than its lines hold: only the pixels inside the line are placed.
TEST(PagePlacement, PixelsBeyondTheLineAreNotRead) {
  RasterPageSpec spec;
  spec.page_width_pt = 10.0f;
  spec.page_height_pt = 1.0f;
  RasterPage page = MakePage(spec, 0);
  page.header.cupsWidth = 0x0AAAAAABu;  // x 24 bits = 2^32 + 8: 1 byte per line
  page.header.cupsBytesPerLine = 6;     // two pixels
  const uint8_t line[6] = {1, 2, 3, 4, 5, 6};
  PageGeometry geo = ComputeGeometry(page.header);
  std::vector<uint8_t> canvas(geo.size);
  quill_host::FillWhite(geo, PixelLayout::kChunky, canvas.data());
  quill_host::PlaceRow(page.header, PixelLayout::kChunky, geo, 0, line, canvas.data());
  std::vector<uint8_t> expected(30, 255);
  const uint8_t placed[6] = {3, 2, 1, 6, 5, 4};
  std::copy(placed, placed + 6, expected.begin());
  EXPECT_EQ(canvas, expected);
}

TEST(PagePlacement, ThirtyTwoBitPixelsKeepTheirFourthByteWhite) {
  RasterPageSpec spec;
  spec.page_width_pt = 4.0f;
  spec.page_height_pt = 2.0f;
  spec.bits_per_pixel = 32;
  spec.color_space = CUPS_CSPACE_RGBW;
  RasterPage page = MakePage(spec, 0);
  page.Row(0)[0] = 1;
  page.Row(0)[1] = 2;
  page.Row(0)[2] = 3;
  page.Row(0)[3] = 4;
  std::vector<uint8_t> canvas = Place(page);
  ASSERT_EQ(canvas.size(), 4u * 2u * 4u);
  EXPECT_EQ(canvas[0], 3);
  EXPECT_EQ(canvas[1], 2);
  EXPECT_EQ(canvas[2], 1);
  EXPECT_EQ(canvas[3], 255);
  EXPECT_EQ(canvas[4], 0);
  EXPECT_EQ(canvas[7], 255);
}

// One-bit pages: a set canvas bit is ink, so K pages are copied bit for bit
// and W pages inverted; the box may start in the middle of a byte.
TEST(PagePlacement, OneBitPagesLandBitExactly) {
  for (cups_cspace_t space : {CUPS_CSPACE_K, CUPS_CSPACE_W}) {
    RasterPageSpec spec;
    spec.page_width_pt = 29.0f;
    spec.page_height_pt = 6.0f;
    spec.bits_per_pixel = 1;
    spec.color_space = space;
    float box[4] = {3.0f, 1.0f, 24.0f, 5.0f};  // 21 x 4 pixels at (3, 1)
    std::memcpy(spec.box, box, sizeof box);
    RasterPage page = MakePage(spec, 0);
    auto ink = [](uint32_t x, uint32_t y) { return (x * 7 + y * 3) % 5 < 2; };
    for (uint32_t y = 0; y < page.header.cupsHeight; ++y) {
      for (uint32_t x = 0; x < page.header.cupsWidth; ++x) {
        bool bit = space == CUPS_CSPACE_K ? ink(x, y) : !ink(x, y);
        if (bit) page.Row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
    }
    PageGeometry geo;
    std::vector<uint8_t> canvas = Place(page, &geo);
    ASSERT_EQ(geo.pitch, 4u);
    ASSERT_EQ(geo.height, 6u);
    for (uint32_t cy = 0; cy < 6; ++cy) {
      for (uint32_t cx = 0; cx < 29; ++cx) {
        bool inside = cx >= 3 && cx < 24 && cy >= 1 && cy < 5;
        bool expected = inside && ink(cx - 3, cy - 1);
        bool got = (canvas[cy * 4 + cx / 8] >> (7 - cx % 8)) & 1;
        EXPECT_EQ(got, expected) << "space " << space << " pixel (" << cx << "," << cy << ")";
      }
      EXPECT_EQ(canvas[cy * 4 + 3] & 0x07, 0) << "padding bits stay clear";
    }
  }
}

TEST(PagePlacement, EightBitPagesBecomeGreyWithWhiteAt255) {
  for (cups_cspace_t space : {CUPS_CSPACE_SW, CUPS_CSPACE_K}) {
    RasterPageSpec spec;
    spec.page_width_pt = 12.0f;
    spec.page_height_pt = 5.0f;
    spec.bits_per_pixel = 8;
    spec.color_space = space;
    float box[4] = {2.0f, 0.0f, 10.0f, 4.0f};
    std::memcpy(spec.box, box, sizeof box);
    RasterPage page = MakePage(spec, 0);
    for (uint32_t y = 0; y < page.header.cupsHeight; ++y) {
      for (uint32_t x = 0; x < page.header.cupsWidth; ++x) page.Row(y)[x] = uint8_t(x * 30 + y);
    }
    PageGeometry geo;
    std::vector<uint8_t> canvas = Place(page, &geo);
    ASSERT_EQ(geo.pitch, 12u);
    for (uint32_t cy = 0; cy < 5; ++cy) {
      for (uint32_t cx = 0; cx < 12; ++cx) {
        uint8_t expected = 255;
        if (cx >= 2 && cx < 10 && cy >= 1) {
          uint8_t v = uint8_t((cx - 2) * 30 + (cy - 1));
          expected = space == CUPS_CSPACE_K ? uint8_t(255 - v) : v;
        }
        EXPECT_EQ(canvas[cy * 12 + cx], expected) << "pixel (" << cx << "," << cy << ")";
      }
    }
  }
}

TEST(PagePlacement, PalettesDescribeTheCanvas) {
  uint32_t palette[256];
  quill_host::FillPalette(PixelLayout::kGrey8, palette);
  EXPECT_EQ(palette[0], 0u);
  EXPECT_EQ(palette[0x80], 0x808080u);
  EXPECT_EQ(palette[255], 0xFFFFFFu);
  quill_host::FillPalette(PixelLayout::kOneBit, palette);
  EXPECT_EQ(palette[0], 0xFFFFFFu);  // clear bit: paper
  EXPECT_EQ(palette[1], 0u);         // set bit: ink
  quill_host::FillPalette(PixelLayout::kChunky, palette);
  EXPECT_EQ(palette[0], 0u);
  EXPECT_EQ(palette[255], 0u);
}

}  // namespace
