// Image-file pages: the raster handed to the processor for every supported
// depth and file format (checked by its looks, through its own palette),
// page length from the picture, rotation, and the failure results.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/hosts_fixtures.h"
#include "common/log_capture.h"
#include "document/document_process_ink1.h"
#include "quill/libquill.h"

namespace {

using hosts_test::Dots;
using hosts_test::Layout;
using quill_test::LogCapture;

// Records the raster every page call receives instead of printing it.
class SpyProcessor : public DocumentProcessInk1 {
 public:
  struct Seen {
    RASTER_INFO raster;     // copy of the record (pixels no longer valid)
    Dots dots;              // the raster's looks during the call
    uint32_t page_length;   // the processor's page length during the call
    bool padding_clear;     // one bit: no bits set behind the last pixel
  };

  explicit SpyProcessor(const CONV_PARAM2* param) : DocumentProcessInk1(param) {}

  int ProcessPage(const RASTER_INFO* raster) override {
    if (throw_) throw std::runtime_error("spy failure");
    Seen seen{*raster, hosts_test::InkOf(*raster), m_ConvParam.page_length, true};
    if (raster->bpp == 1 && raster->width % 8 != 0) {
      const uint8_t mask = static_cast<uint8_t>(0xFF >> (raster->width % 8));
      for (uint32_t y = 0; y < raster->height; ++y) {
        if (raster->img_p[static_cast<size_t>(y) * raster->pitch + raster->width / 8] & mask) {
          seen.padding_clear = false;
        }
      }
    }
    pages.push_back(seen);
    return 0;
  }

  void* Handle() { return static_cast<DocumentProcessBase*>(this); }

  std::vector<Seen> pages;
  bool throw_ = false;
};

CONV_PARAM2 Param() {
  CONV_PARAM2 cp{};
  cp.x_unit = 360;
  cp.y_unit = 360;
  cp.num_pins = 24;
  return cp;
}

Dots RotateCounterClockwise(const Dots& d) {
  Dots r(d.height, d.width);
  for (uint32_t y = 0; y < r.height; ++y) {
    for (uint32_t x = 0; x < r.width; ++x) r.Set(x, y, d.At(d.width - 1 - y, x));
  }
  return r;
}

struct FileCase {
  Layout layout;
  FREE_IMAGE_FORMAT format;
  const char* name;
  unsigned expected_bpp;
};

const FileCase kFileCases[] = {
    {Layout::kOneBitBlackOnWhite, FIF_PNG, "bw1.png", 1},
    {Layout::kOneBitWhiteOnBlack, FIF_PNG, "wb1.png", 1},
    {Layout::kGrey8, FIF_PNG, "grey8.png", 8},
    {Layout::kPalette8, FIF_PNG, "pal8.png", 8},
    {Layout::kRgb24, FIF_PNG, "rgb24.png", 24},
    {Layout::kOneBitBlackOnWhite, FIF_BMP, "bw1.bmp", 1},
    {Layout::kOneBitWhiteOnBlack, FIF_BMP, "wb1.bmp", 1},
    {Layout::kGrey8, FIF_BMP, "grey8.bmp", 8},
    {Layout::kPalette8, FIF_BMP, "pal8.bmp", 8},
    {Layout::kRgb24, FIF_BMP, "rgb24.bmp", 24},
    {Layout::kOneBitBlackOnWhite, FIF_TIFF, "bw1.tif", 1},
    {Layout::kOneBitWhiteOnBlack, FIF_TIFF, "wb1.tif", 1},
    {Layout::kGrey8, FIF_TIFF, "grey8.tif", 8},
    {Layout::kPalette8, FIF_TIFF, "pal8.tif", 8},
    {Layout::kRgb24, FIF_TIFF, "rgb24.tif", 24},
    {Layout::kRgba32, FIF_TIFF, "rgba32.tif", 32},
};

TEST(ImagePage, EveryDepthAndFormatIsHandedOverAsItLooks) {
  const std::string dir = hosts_test::ScratchDir("image_looks");
  const Dots picture = hosts_test::TestPicture(37, 23);  // odd width: padding bits
  for (const FileCase& c : kFileCases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/" + c.name;
    ASSERT_TRUE(hosts_test::WriteImage(picture, c.layout, c.format, path));
    CONV_PARAM2 cp = Param();
    SpyProcessor spy(&cp);
    EXPECT_EQ(DocProc_ProcessImagePage(spy.Handle(), path.c_str(), 300, 150), 0);
    ASSERT_EQ(spy.pages.size(), 1u);
    const SpyProcessor::Seen& seen = spy.pages[0];
    EXPECT_EQ(seen.raster.bpp, c.expected_bpp);
    EXPECT_EQ(seen.raster.x_res, 300);
    EXPECT_EQ(seen.raster.y_res, 150);
    EXPECT_TRUE(seen.padding_clear);
    EXPECT_EQ(seen.dots, picture);
  }
}

TEST(ImagePage, PageLengthComesFromThePictureAndIsKept) {
  const std::string dir = hosts_test::ScratchDir("image_length");
  const std::string tall = dir + "/tall.png";
  const std::string short_one = dir + "/short.png";
  ASSERT_TRUE(hosts_test::WriteImage(hosts_test::TestPicture(40, 1000), Layout::kGrey8, FIF_PNG, tall));
  ASSERT_TRUE(hosts_test::WriteImage(hosts_test::TestPicture(40, 500), Layout::kGrey8, FIF_PNG, short_one));

  CONV_PARAM2 cp = Param();
  SpyProcessor spy(&cp);
  EXPECT_EQ(DocProc_ProcessImagePage(spy.Handle(), tall.c_str(), 300, 300), 0);
  EXPECT_EQ(DocProc_ProcessImagePage(spy.Handle(), short_one.c_str(), 300, 300), 0);
  ASSERT_EQ(spy.pages.size(), 2u);
  EXPECT_EQ(spy.pages[0].page_length, 1200u);  // 360 * 1000 / 300, set before the page
  EXPECT_EQ(spy.pages[1].page_length, 1200u);  // kept
  EXPECT_EQ(spy.GetConvParam().page_length, 1200u);

  // The rotating entry leaves the page length alone.
  SpyProcessor spy2(&cp);
  EXPECT_EQ(DocProc_ProcessImagePage2(spy2.Handle(), tall.c_str(), 300, 300, 0), 0);
  EXPECT_EQ(spy2.GetConvParam().page_length, 0u);

  // Integer arithmetic, truncated: 360 * 1001 / 300 = 1201.2.
  const std::string odd = dir + "/odd.png";
  ASSERT_TRUE(hosts_test::WriteImage(hosts_test::TestPicture(40, 1001), Layout::kGrey8, FIF_PNG, odd));
  SpyProcessor spy4(&cp);
  EXPECT_EQ(DocProc_ProcessImagePage(spy4.Handle(), odd.c_str(), 300, 300), 0);
  EXPECT_EQ(spy4.GetConvParam().page_length, 1201u);

  // A zero resolution is never divided by; the page call gets to reject it.
  SpyProcessor spy3(&cp);
  EXPECT_EQ(DocProc_ProcessImagePage(spy3.Handle(), tall.c_str(), 300, 0), 0);
  EXPECT_EQ(spy3.GetConvParam().page_length, 0u);
}

TEST(ImagePage, RotationTurnsThePicture) {
  const std::string dir = hosts_test::ScratchDir("image_rotate");
  const Dots picture = hosts_test::TestPicture(37, 23);
  for (Layout layout : {Layout::kOneBitBlackOnWhite, Layout::kGrey8, Layout::kRgb24}) {
    const std::string path = dir + "/p.tif";
    ASSERT_TRUE(hosts_test::WriteImage(picture, layout, FIF_TIFF, path));
    CONV_PARAM2 cp = Param();
    SpyProcessor spy(&cp);
    EXPECT_EQ(DocProc_ProcessImagePage2(spy.Handle(), path.c_str(), 360, 360, 0), 0);
    EXPECT_EQ(DocProc_ProcessImagePage2(spy.Handle(), path.c_str(), 360, 360, 90), 0);
    ASSERT_EQ(spy.pages.size(), 2u);
    EXPECT_EQ(spy.pages[0].dots, picture);
    EXPECT_EQ(spy.pages[1].raster.width, 23u);
    EXPECT_EQ(spy.pages[1].raster.height, 37u);
    EXPECT_EQ(spy.pages[1].dots, RotateCounterClockwise(picture));
  }
}

TEST(ImagePage, OneBitPicturesTurnOnlyByRightAngles) {
  const std::string dir = hosts_test::ScratchDir("image_rotate45");
  const std::string path = dir + "/p.png";
  ASSERT_TRUE(hosts_test::WriteImage(hosts_test::TestPicture(30, 20), Layout::kOneBitBlackOnWhite,
                                     FIF_PNG, path));
  CONV_PARAM2 cp = Param();
  SpyProcessor spy(&cp);
  LogCapture log;
  EXPECT_EQ(DocProc_ProcessImagePage2(spy.Handle(), path.c_str(), 360, 360, 45), -1);
  EXPECT_TRUE(log.Contains("failed to rotate image"));
  EXPECT_TRUE(spy.pages.empty());
}

TEST(ImagePage, MissingFileAndNullHandle) {
  CONV_PARAM2 cp = Param();
  SpyProcessor spy(&cp);
  {
    LogCapture log;
    EXPECT_EQ(DocProc_ProcessImagePage(spy.Handle(), "/nonexistent/picture.png", 360, 360), -1);
    EXPECT_EQ(log.Count(spdlog::level::warn, "failed to load image"), 1);
    EXPECT_EQ(log.Records().size(), 1u);
  }
  {
    LogCapture log;
    EXPECT_EQ(DocProc_ProcessImagePage2(spy.Handle(), "/nonexistent/picture.png", 360, 360, 90), -1);
    EXPECT_TRUE(log.Records().empty());
  }
  {
    LogCapture log;
    EXPECT_EQ(DocProc_ProcessImagePage(nullptr, "x.png", 360, 360), -1);
    EXPECT_EQ(DocProc_ProcessImagePage2(nullptr, "x.png", 360, 360, 0), -1);
    EXPECT_EQ(log.Count(spdlog::level::warn, "invalid object"), 2);
    EXPECT_EQ(log.Records().size(), 2u);
  }
  EXPECT_EQ(DocProc_ProcessImagePage(spy.Handle(), nullptr, 360, 360), -1);
  EXPECT_TRUE(spy.pages.empty());
}

// A PNG of signature, header chunk, one data chunk of eight bytes and end
// chunk: a picture of width x height 8-bit grey pixels whose data is mostly
// missing.
std::string PngHeaderOnly(uint32_t width, uint32_t height) {
  auto be32 = [](std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>(v >> shift));
  };
  auto chunk = [&](std::string& out, const char* type, const std::string& data) {
    be32(out, static_cast<uint32_t>(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    be32(out, static_cast<uint32_t>(
                  crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  };
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  be32(ihdr, width);
  be32(ihdr, height);
  ihdr += std::string("\x08\x00\x00\x00\x00", 5);  // 8 bits, grey, deflate, no filter, no interlace
  chunk(png, "IHDR", ihdr);
  const Bytef zeros[8] = {};
  Bytef packed[64];
  uLongf packed_size = sizeof packed;
  compress(packed, &packed_size, zeros, sizeof zeros);
  chunk(png, "IDAT", std::string(reinterpret_cast<const char*>(packed), packed_size));
  chunk(png, "IEND", "");
  return png;
}

// A file whose header claims a picture beyond the page bounds is refused
// from its header alone: its pixels are never decoded (here they do not
// even exist), and the processor sees no page.
TEST(ImagePage, PicturesBeyondThePageBoundsAreRefusedByTheirHeader) {
  const std::string path = testing::TempDir() + "quill_huge_header.png";
  {
    std::ofstream f(path, std::ios::binary);
    f << PngHeaderOnly(100000, 100000);
  }
  CONV_PARAM2 cp = Param();
  SpyProcessor spy(&cp);
  for (int rotated = 0; rotated < 2; ++rotated) {
    LogCapture log;
    const int result = rotated ? DocProc_ProcessImagePage2(spy.Handle(), path.c_str(), 720, 720, 90)
                               : DocProc_ProcessImagePage(spy.Handle(), path.c_str(), 720, 720);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(log.Count(spdlog::level::warn,
                        "image refused: side longer than 2000 mm (100000x100000 pixels of 8 bits)"),
              1);
  }
  EXPECT_TRUE(spy.pages.empty());
  std::remove(path.c_str());

  // The input of the image fuzz target that made FreeImage allocate 2.6 GB:
  // a BMP of 66 bytes announcing 23 x 654311441 one-bit pixels.
  const unsigned char bmp[] = {
      0x42, 0x4D, 0x82, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3E, 0x00, 0x00, 0x00, 0x28, 0x00,
      0x00, 0x00, 0x17, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x27, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x13, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x13, 0x0B, 0x00, 0x00, 0x02, 0x00,
      0x00, 0x47, 0x65, 0x83, 0x00, 0x8E, 0xA9, 0xCC, 0x00, 0xD5, 0xF1, 0x09, 0x00, 0x1C, 0x3D, 0x5E,
      0x00, 0x63};
  const std::string bmp_path = testing::TempDir() + "quill_huge_header.bmp";
  {
    std::ofstream f(bmp_path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bmp), sizeof bmp);
  }
  LogCapture log;
  EXPECT_EQ(DocProc_ProcessImagePage2(spy.Handle(), bmp_path.c_str(), 360, 360, 0), -1);
  EXPECT_TRUE(log.Contains("image refused: ")) << (log.Records().empty() ? "" : log.Records()[0].message);
  EXPECT_TRUE(log.Contains("(23x654311441 pixels of 1 bits)"));
  EXPECT_TRUE(spy.pages.empty());
  std::remove(bmp_path.c_str());
}

// Writes `dib` (then unloads it) to `path`.
bool SaveAndUnload(FIBITMAP* dib, FREE_IMAGE_FORMAT format, const std::string& path) {
  if (dib == nullptr) return false;
  const BOOL ok = FreeImage_Save(format, dib, path.c_str(), 0);
  FreeImage_Unload(dib);
  return ok != FALSE;
}

// A 16-bit-per-sample picture of `dots`: grey (FIT_UINT16) or RGB (FIT_RGB16).
FIBITMAP* SixteenBitSamples(const Dots& dots, FREE_IMAGE_TYPE type) {
  FIBITMAP* dib = FreeImage_AllocateT(type, static_cast<int>(dots.width),
                                      static_cast<int>(dots.height));
  if (dib == nullptr) return nullptr;
  for (uint32_t y = 0; y < dots.height; ++y) {
    BYTE* line = FreeImage_GetScanLine(dib, static_cast<int>(dots.height - 1 - y));
    for (uint32_t x = 0; x < dots.width; ++x) {
      const uint16_t v = dots.At(x, y) ? 0 : 65535;
      if (type == FIT_UINT16) {
        reinterpret_cast<uint16_t*>(line)[x] = v;
      } else {
        FIRGB16* px = reinterpret_cast<FIRGB16*>(line) + x;
        px->red = px->green = px->blue = v;
      }
    }
  }
  return dib;
}

TEST(ImagePage, OtherDepthsAreConvertedToOnesThePipelinePrints) {
  const std::string dir = hosts_test::ScratchDir("image_depth");
  const Dots picture = hosts_test::TestPicture(30, 20);
  const std::string four = dir + "/four.bmp";
  ASSERT_TRUE(hosts_test::WriteImage(picture, Layout::kPalette4, FIF_BMP, four));
  const std::string grey16 = dir + "/grey16.png";
  ASSERT_TRUE(SaveAndUnload(SixteenBitSamples(picture, FIT_UINT16), FIF_PNG, grey16));
  const std::string rgb48 = dir + "/rgb48.png";
  ASSERT_TRUE(SaveAndUnload(SixteenBitSamples(picture, FIT_RGB16), FIF_PNG, rgb48));
  const std::string rgb16 = dir + "/rgb16.bmp";
  FIBITMAP* rgb24 = hosts_test::MakeBitmap(picture, Layout::kRgb24);
  ASSERT_NE(rgb24, nullptr);
  FIBITMAP* rgb565 = FreeImage_ConvertTo16Bits565(rgb24);
  FreeImage_Unload(rgb24);
  ASSERT_TRUE(SaveAndUnload(rgb565, FIF_BMP, rgb16));

  for (const std::string& path : {four, grey16, rgb48, rgb16}) {
    SCOPED_TRACE(path);
    CONV_PARAM2 cp = Param();
    SpyProcessor spy(&cp);
    EXPECT_EQ(DocProc_ProcessImagePage(spy.Handle(), path.c_str(), 360, 360), 0);
    EXPECT_EQ(DocProc_ProcessImagePage2(spy.Handle(), path.c_str(), 360, 360, 90), 0);
    ASSERT_EQ(spy.pages.size(), 2u);
    EXPECT_EQ(spy.pages[0].dots, picture);
    EXPECT_EQ(spy.pages[1].dots, RotateCounterClockwise(picture));
  }
}

TEST(ImagePage, DepthsWithoutAPrintableFormAreRefused) {
  const std::string dir = hosts_test::ScratchDir("image_float");
  const std::string path = dir + "/float.tif";
  ASSERT_TRUE(SaveAndUnload(FreeImage_AllocateT(FIT_FLOAT, 30, 20), FIF_TIFF, path));
  CONV_PARAM2 cp = Param();
  SpyProcessor spy(&cp);
  LogCapture log;
  EXPECT_EQ(DocProc_ProcessImagePage(spy.Handle(), path.c_str(), 360, 360), -1);
  EXPECT_EQ(DocProc_ProcessImagePage2(spy.Handle(), path.c_str(), 360, 360, 0), -1);
  EXPECT_EQ(log.Count(spdlog::level::warn, "unsupported image depth: 32 bits per pixel (type 6)"), 2);
  EXPECT_TRUE(spy.pages.empty());
}

TEST(ImagePage, TransparentPartsPrintAsPaper) {
  const std::string dir = hosts_test::ScratchDir("image_alpha");
  const Dots picture = hosts_test::TestPicture(30, 20);

  // 32 bits: ink opaque black, paper fully transparent black, one half-
  // transparent black dot (blends to grey 128: still paper by a hair).
  FIBITMAP* rgba = hosts_test::MakeBitmap(picture, Layout::kRgba32);
  ASSERT_NE(rgba, nullptr);
  for (uint32_t y = 0; y < picture.height; ++y) {
    BYTE* line = FreeImage_GetScanLine(rgba, static_cast<int>(picture.height - 1 - y));
    for (uint32_t x = 0; x < picture.width; ++x) {
      BYTE* px = line + 4 * x;
      if (!picture.At(x, y)) px[FI_RGBA_BLUE] = px[FI_RGBA_GREEN] = px[FI_RGBA_RED] = px[FI_RGBA_ALPHA] = 0;
    }
  }
  BYTE* half = FreeImage_GetScanLine(rgba, static_cast<int>(picture.height - 1 - 5)) + 4 * 20;
  ASSERT_FALSE(picture.At(20, 5));
  half[FI_RGBA_ALPHA] = 127;
  FreeImage_SetTransparent(rgba, TRUE);
  const std::string png32 = dir + "/rgba.png";
  ASSERT_TRUE(SaveAndUnload(rgba, FIF_PNG, png32));

  // 8-bit palette whose paper entry is black but transparent.
  FIBITMAP* pal = hosts_test::MakeBitmap(picture, Layout::kPalette8);
  ASSERT_NE(pal, nullptr);
  RGBQUAD* entries = FreeImage_GetPalette(pal);
  entries[3].rgbRed = entries[3].rgbGreen = entries[3].rgbBlue = 0;  // paper index
  BYTE table[256];
  std::fill(std::begin(table), std::end(table), BYTE{255});
  table[3] = 0;
  FreeImage_SetTransparencyTable(pal, table, 256);
  const std::string png8 = dir + "/pal.png";
  ASSERT_TRUE(SaveAndUnload(pal, FIF_PNG, png8));

  for (const std::string& path : {png32, png8}) {
    SCOPED_TRACE(path);
    CONV_PARAM2 cp = Param();
    SpyProcessor spy(&cp);
    EXPECT_EQ(DocProc_ProcessImagePage(spy.Handle(), path.c_str(), 360, 360), 0);
    ASSERT_EQ(spy.pages.size(), 1u);
    EXPECT_EQ(spy.pages[0].dots, picture);
  }

  // A 32-bit picture whose fourth byte is 0 everywhere has no alpha.
  FIBITMAP* unused = hosts_test::MakeBitmap(picture, Layout::kRgba32);
  for (uint32_t y = 0; y < picture.height; ++y) {
    BYTE* line = FreeImage_GetScanLine(unused, static_cast<int>(y));
    for (uint32_t x = 0; x < picture.width; ++x) line[4 * x + FI_RGBA_ALPHA] = 0;
  }
  FreeImage_SetTransparent(unused, TRUE);
  const std::string tif = dir + "/unused_alpha.tif";
  ASSERT_TRUE(SaveAndUnload(unused, FIF_TIFF, tif));
  CONV_PARAM2 cp = Param();
  SpyProcessor spy(&cp);
  EXPECT_EQ(DocProc_ProcessImagePage(spy.Handle(), tif.c_str(), 360, 360), 0);
  ASSERT_EQ(spy.pages.size(), 1u);
  EXPECT_EQ(spy.pages[0].dots, picture);
}

TEST(ImagePage, NoExceptionCrossesTheInterface) {
  const std::string dir = hosts_test::ScratchDir("image_throw");
  const std::string path = dir + "/p.png";
  ASSERT_TRUE(hosts_test::WriteImage(hosts_test::TestPicture(30, 20), Layout::kRgb24, FIF_PNG, path));
  CONV_PARAM2 cp = Param();
  SpyProcessor spy(&cp);
  spy.throw_ = true;
  LogCapture log;
  EXPECT_EQ(DocProc_ProcessImagePage(spy.Handle(), path.c_str(), 360, 360), -1);
  EXPECT_EQ(DocProc_ProcessImagePage2(spy.Handle(), path.c_str(), 360, 360, 90), -1);
  EXPECT_TRUE(log.Contains("spy failure"));
}

}  // namespace
