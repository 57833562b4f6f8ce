// PageProcessInk2: the page commands byte for byte, the data blocks, and
// the raster object decoded back into ink values that are compared with
// the page in grey, colour and red/black modes.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "bands/page_process_ink2.h"
#include "common/log_capture.h"
#include "common/recording_writer.h"
#include "common/test_raster.h"
#include "preview/dcraster_decoder.h"
#include "preview/ink2_stream.h"
#include "raster/dcraster.h"

namespace {

using quillpreview::Ink2Page;
using ink2_test::RefLuma;
using ink2_test::TestRaster;
using quill_test::Bytes;
using quillpreview::DcrImage;
using quill_test::HexBytes;
using quill_test::RecordingWriter;
using quill_test::ToHex;

PageProcessInk2 MakePage(RecordingWriter& out, uint32_t w, uint32_t h, uint16_t res = 300) {
  return PageProcessInk2(1440, 720, res, res, w, h, RecordingWriter::Callback, out.Handle());
}

// Sends `raster` through a page and decodes the single page written.
void RunPage(PageProcessInk2& page, RecordingWriter& out, const RASTER_INFO& raster, Ink2Page* parsed,
             DcrImage* image) {
  page.StartPage();
  ASSERT_EQ(page.SendPage(&raster), 0);
  page.EndPage();
  const Bytes all = out.All();
  size_t pos = 0;
  std::string error;
  ASSERT_TRUE(quillpreview::ParseAndDecodePage(all, &pos, parsed, image, &error)) << error;
  EXPECT_EQ(pos, all.size());
}

// ---------------------------------------------------------------------------
// Commands

TEST(Ink2PageCommands, EveryCommandIsOneWriteInOrder) {
  RecordingWriter out;
  PageProcessInk2 page(1440, 720, 600, 300, 0x12345, 0x0203, RecordingWriter::Callback, out.Handle());
  EXPECT_TRUE(page.m_IsLastPage);
  EXPECT_EQ(page.m_Quality, 0);
  page.m_IsLastPage = false;
  page.m_Duplex = 1;
  page.m_Quality = QUALITY_HIGH;
  page.m_UseGrey = true;
  page.m_Collate = true;
  page.m_Copies = 0x0103;
  const uint8_t header[] = {0xAA};
  const uint8_t body[] = {0xBB, 0xBC};
  EXPECT_EQ(page.SendPage(header, 1, body, 2, nullptr, 0), -1);

  const std::vector<std::string> want = {
      "1B 26 6C 4C 01",           // middle page
      "1B 26 6C 53 02",           // duplex 1
      "1B 2A 74 52 58 02 2C 01",  // 600 x 300 dpi
      "1B 2A 72 53 45 23",        // low 16 bits of the width
      "1B 2A 72 54 03 02",
      "1B 2A 62 4D 02",
      "1B 2A 74 72 03",
      "1B 26 62 4D 01",
      "1B 26 6C 58 01 03 01",
      "1B 2A 62 57 03 00 00 00",  // 1 + 2 + 0
      "AA",
      "BB BC",
  };
  ASSERT_EQ(out.Calls().size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(ToHex(out.Calls()[i]), want[i]) << i;

  out.Clear();
  page.EndPage();
  ASSERT_EQ(out.Calls().size(), 1u);
  EXPECT_EQ(ToHex(out.Calls()[0]), "1B 0C");
  out.Clear();
  page.StartPage();
  EXPECT_TRUE(out.Calls().empty());
}

TEST(Ink2PageCommands, DuplexAndFlagValues) {
  const struct {
    uint8_t duplex;
    bool last;
    const char* duplex_cmd;
    const char* flag_cmd;
  } cases[] = {{0, true, "1B 26 6C 53 00", "1B 26 6C 4C 00"},
               {1, false, "1B 26 6C 53 02", "1B 26 6C 4C 01"},
               {2, true, "1B 26 6C 53 01", "1B 26 6C 4C 00"},
               {7, true, "1B 26 6C 53 00", "1B 26 6C 4C 00"}};
  for (const auto& c : cases) {
    RecordingWriter out;
    PageProcessInk2 page = MakePage(out, 8, 8);
    page.m_Duplex = c.duplex;
    page.m_IsLastPage = c.last;
    page.SendPage(nullptr, 0, nullptr, 0, nullptr, 0);
    ASSERT_EQ(out.Calls().size(), 10u) << "no data ranges without data";
    EXPECT_EQ(ToHex(out.Calls()[0]), c.flag_cmd);
    EXPECT_EQ(ToHex(out.Calls()[1]), c.duplex_cmd);
    EXPECT_EQ(ToHex(out.Calls()[9]), "1B 2A 62 57 00 00 00 00");
  }
}

// ---------------------------------------------------------------------------
// Data blocks

Bytes Block(size_t n, const Bytes& data, size_t from) {
  const std::string head = "RasterObject.Data#" + std::to_string(n) + "=";
  Bytes b(head.begin(), head.end());
  b.insert(b.end(), data.begin() + static_cast<long>(from), data.begin() + static_cast<long>(from + n));
  b.push_back(';');
  return b;
}

TEST(Ink2DataBlocks, FullBlocksGoInOneWriteTheRestInAnother) {
  RecordingWriter out;
  PageProcessInk2 page = MakePage(out, 8, 8);
  Bytes data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  page.m_CompressBuffer.write(reinterpret_cast<const char*>(data.data()),
                             static_cast<std::streamsize>(data.size()));
  page.DoBufferedOutput(false);

  ASSERT_EQ(out.Calls().size(), 2u);
  Bytes first = Block(32768, data, 0);
  const Bytes second_block = Block(32768, data, 32768);
  first.insert(first.end(), second_block.begin(), second_block.end());
  EXPECT_EQ(out.Calls()[0], first);
  EXPECT_EQ(out.Calls()[1], Block(4464, data, 65536));
  EXPECT_TRUE(page.m_CompressBuffer.str().empty());
}

TEST(Ink2DataBlocks, AnExactMultipleEndsWithAnEmptyBlock) {
  RecordingWriter out;
  PageProcessInk2 page = MakePage(out, 8, 8);
  page.m_CompressBuffer << std::string(32768, 'x');
  page.DoBufferedOutput(false);
  ASSERT_EQ(out.Calls().size(), 2u);
  EXPECT_EQ(out.Calls()[0].size(), 32768u + 18 + 5 + 1 + 1);
  const std::string last(out.Calls()[1].begin(), out.Calls()[1].end());
  EXPECT_EQ(last, "RasterObject.Data#0=;");

  // An empty buffer: only the empty block.
  out.Clear();
  page.DoBufferedOutput(false);
  ASSERT_EQ(out.Calls().size(), 1u);
  EXPECT_EQ(std::string(out.Calls()[0].begin(), out.Calls()[0].end()), "RasterObject.Data#0=;");
}

TEST(Ink2DataBlocks, WithoutFlushTheRemainderWaitsForTheNextCall) {
  RecordingWriter out;
  PageProcessInk2 page = MakePage(out, 8, 8);
  Bytes data(45000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + i / 256);
  const char* bytes = reinterpret_cast<const char*>(data.data());
  page.m_CompressBuffer.write(bytes, 20000);
  page.DoBufferedOutput(true);
  EXPECT_TRUE(out.Calls().empty());
  EXPECT_EQ(page.m_CompressBuffer.str().size(), 20000u);
  page.m_CompressBuffer.write(bytes + 20000, 20000);
  page.DoBufferedOutput(true);
  ASSERT_EQ(out.Calls().size(), 1u);
  EXPECT_EQ(out.Calls()[0], Block(32768, data, 0));
  EXPECT_EQ(page.m_CompressBuffer.str().size(), 40000u - 32768u);
  // Output after a partial send continues behind the kept remainder.
  page.m_CompressBuffer.write(bytes + 40000, 5000);
  page.DoBufferedOutput(false);
  ASSERT_EQ(out.Calls().size(), 2u);
  EXPECT_EQ(out.Calls()[1], Block(45000 - 32768, data, 32768));
  EXPECT_TRUE(page.m_CompressBuffer.str().empty());
}

TEST(Ink2DataBlocks, ContextFreeCallbackFillsTheNewestLiveGenerator) {
  RecordingWriter out_old, out_new;
  auto older = std::make_unique<PageProcessInk2>(1440, 720, 300, 300, 8, 1, RecordingWriter::Callback,
                                                 out_old.Handle());
  EXPECT_EQ(PageProcessInk2::m_This, older.get());
  {
    PageProcessInk2 newer = MakePage(out_new, 8, 1);
    EXPECT_EQ(PageProcessInk2::m_This, &newer);
    // An encoder created with the plain callback feeds m_This.
    DCRASTER_t* dcr = dcraster_create(8, 1, DCRASTER_COLORSPACE_grayscale,
                                      DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                      DCRASTER_OBJECTTYPE_disable, 0, PageProcessInk2::CompressCallback);
    ASSERT_NE(dcr, nullptr);
    Bytes row = {0, 1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(dcraster_grayscale_add(dcr, row.data(), nullptr), 0);
    dcraster_delete(dcr);
    EXPECT_TRUE(older->m_CompressBuffer.str().empty());
    newer.DoBufferedOutput(false);
    ASSERT_EQ(out_new.Calls().size(), 1u);
    const Bytes& block = out_new.Calls()[0];
    const std::string head = "RasterObject.Data#";
    ASSERT_GT(block.size(), head.size());
    EXPECT_EQ(std::string(block.begin(), block.begin() + static_cast<long>(head.size())), head);
    EXPECT_EQ(block.back(), ';');
    const size_t eq = std::string(block.begin(), block.end()).find('=');
    ASSERT_NE(eq, std::string::npos);
    DcrImage img;
    std::string error;
    const Bytes object(block.begin() + static_cast<long>(eq) + 1, block.end() - 1);
    EXPECT_EQ(std::to_string(object.size()),
              std::string(block.begin() + static_cast<long>(head.size()), block.begin() + static_cast<long>(eq)));
    ASSERT_TRUE(quillpreview::DecodeDcRaster(object, &img, &error)) << error;
    EXPECT_EQ(img.At(0, 7, 0), 7);
  }
  // The newest generator is gone: m_This never points at a dead object,
  // and output without a live generator is dropped.
  EXPECT_EQ(PageProcessInk2::m_This, nullptr);
  unsigned char byte = 0x42;
  PageProcessInk2::CompressCallback(1, &byte);
  EXPECT_TRUE(older->m_CompressBuffer.str().empty());
  EXPECT_TRUE(out_old.Calls().empty());
}

// ---------------------------------------------------------------------------
// Raster pages

TEST(Ink2RasterPage, GreyPageOfWidth10IsEncoded12WideWithWhitePadding) {
  TestRaster raster(10, 3, 24);
  raster.FillRandom(11);
  RecordingWriter out;
  PageProcessInk2 page = MakePage(out, 10, 3);
  page.m_UseGrey = true;
  Ink2Page parsed;
  DcrImage img;
  RunPage(page, out, raster.info, &parsed, &img);
  ASSERT_FALSE(HasFatalFailure());

  EXPECT_EQ(parsed.width, 10);
  EXPECT_EQ(parsed.height, 3);
  EXPECT_EQ(parsed.grey, 1);
  EXPECT_EQ(parsed.data_length, 0u) << "the object follows in data blocks";
  EXPECT_EQ(img.header[1], "ImageSize 12 3");
  EXPECT_EQ(img.format, "K");
  EXPECT_TRUE(img.white_is_0);
  for (uint32_t y = 0; y < 3; ++y) {
    for (uint32_t x = 0; x < 10; ++x) {
      uint8_t r, g, b;
      raster.GetRgb(x, y, &r, &g, &b);
      EXPECT_EQ(img.At(0, x, y), 255 - RefLuma(r, g, b)) << x << "," << y;
    }
    EXPECT_EQ(img.At(0, 10, y), 0);
    EXPECT_EQ(img.At(0, 11, y), 0);
  }
  // Grey pages are compressed at level 9.
  const std::string text(parsed.object.begin(), parsed.object.end());
  const size_t begin = text.find("ImageBegin\n") + 11;
  EXPECT_EQ(parsed.object[begin], 0x78);
  EXPECT_EQ(parsed.object[begin + 1], 0xDA);
}

TEST(Ink2RasterPage, ColourPagesArePlanarInkAtDeflateLevel1) {
  for (uint8_t bpp : {24, 32}) {
    SCOPED_TRACE(bpp);
    TestRaster raster(70, 9, bpp);
    raster.FillRandom(bpp);
    RecordingWriter out;
    PageProcessInk2 page = MakePage(out, 70, 9);
    Ink2Page parsed;
    DcrImage img;
    RunPage(page, out, raster.info, &parsed, &img);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(parsed.grey, 0);
    EXPECT_EQ(img.format, "pRGB");
    EXPECT_EQ(img.width, 72);
    for (uint32_t y = 0; y < 9; ++y) {
      for (uint32_t x = 0; x < 70; ++x) {
        uint8_t r, g, b;
        raster.GetRgb(x, y, &r, &g, &b);
        ASSERT_EQ(img.At(0, x, y), 255 - r);
        ASSERT_EQ(img.At(1, x, y), 255 - g);
        ASSERT_EQ(img.At(2, x, y), 255 - b);
      }
      for (int c = 0; c < 3; ++c) EXPECT_EQ(img.At(c, 71, y), 0);
    }
    // The zlib header after the six header lines names level 1.
    const std::string head(parsed.object.begin(), parsed.object.end());
    const size_t begin = head.find("ImageBegin\n") + 11;
    EXPECT_EQ(parsed.object[begin], 0x78);
    EXPECT_EQ(parsed.object[begin + 1], 0x01);
  }
}

TEST(Ink2RasterPage, PaletteDepthsAndDepthsWithoutColour) {
  // 8 bits: palette entries of the bytes; 4 bits: high nibble first.
  TestRaster r8(8, 1, 8);
  TestRaster r4(8, 1, 4);
  for (unsigned i = 0; i < 16; ++i) {
    r8.SetPalette(i, static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i));
    r4.SetPalette(i, static_cast<uint8_t>(i * 16), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i));
  }
  for (uint32_t x = 0; x < 8; ++x) r8.Row(0)[x] = static_cast<uint8_t>(x * 2);
  for (uint32_t x = 0; x < 4; ++x) r4.Row(0)[x] = static_cast<uint8_t>((x * 4) << 4 | (x * 4 + 2));
  for (TestRaster* r : {&r8, &r4}) {
    for (bool grey : {true, false}) {
      SCOPED_TRACE(std::to_string(r->info.bpp) + (grey ? " grey" : " colour"));
      RecordingWriter out;
      PageProcessInk2 page = MakePage(out, 8, 1);
      page.m_UseGrey = grey;
      Ink2Page parsed;
      DcrImage img;
      RunPage(page, out, r->info, &parsed, &img);
      ASSERT_FALSE(HasFatalFailure());
      for (uint32_t x = 0; x < 8; ++x) {
        const unsigned i = x * 2;  // the index written for pixel x in both rasters
        const int red = static_cast<int>(i * 16), green = 255 - static_cast<int>(i), blue = static_cast<int>(i);
        if (grey) {
          EXPECT_EQ(img.At(0, x, 0), 255 - RefLuma(red, green, blue)) << x;
        } else {
          EXPECT_EQ(img.At(0, x, 0), 255 - red) << x;
          EXPECT_EQ(img.At(1, x, 0), 255 - green) << x;
          EXPECT_EQ(img.At(2, x, 0), 255 - blue) << x;
        }
      }
    }
  }
  // One bit per pixel (and 16) carry no colour: the page is all white.
  for (uint8_t bpp : {1, 16}) {
    TestRaster r(16, 2, bpp);
    std::fill(r.pixels.begin(), r.pixels.end(), 0x5A);
    for (bool grey : {true, false}) {
      RecordingWriter out;
      PageProcessInk2 page = MakePage(out, 16, 2);
      page.m_UseGrey = grey;
      Ink2Page parsed;
      DcrImage img;
      RunPage(page, out, r.info, &parsed, &img);
      ASSERT_FALSE(HasFatalFailure());
      for (const auto& plane : img.planes) {
        for (uint8_t v : plane) ASSERT_EQ(v, 0);
      }
    }
  }
}

TEST(Ink2RasterPage, BottomUpRastersAndTurnedPagesAreReadWithoutChangingThem) {
  TestRaster raster(13, 5, 24);
  raster.FillRandom(4);
  const std::vector<uint8_t> before = raster.pixels;
  // The same page seen through a negative pitch: rows bottom-up.
  RASTER_INFO upside = raster.info;
  upside.img_p = raster.Row(4);
  upside.pitch = -raster.info.pitch;

  RecordingWriter out;
  PageProcessInk2 page = MakePage(out, 13, 5);
  page.m_Turn180 = true;
  Ink2Page parsed;
  DcrImage img;
  RunPage(page, out, upside, &parsed, &img);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(raster.pixels, before);
  // Bottom-up and turned: output row y is raster row y read right to left.
  for (uint32_t y = 0; y < 5; ++y) {
    for (uint32_t x = 0; x < 13; ++x) {
      uint8_t r, g, b;
      raster.GetRgb(12 - x, y, &r, &g, &b);
      ASSERT_EQ(img.At(0, x, y), 255 - r) << x << "," << y;
      ASSERT_EQ(img.At(2, x, y), 255 - b) << x << "," << y;
    }
    EXPECT_EQ(img.At(0, 13, y), 0) << "padding stays on the right";
  }
}

// ---------------------------------------------------------------------------
// Red/black

// The red test as written: three hue branches, float divisions.
bool RefIsRed(int r, int g, int b) {
  const int max = std::max({r, g, b}), min = std::min({r, g, b}), diff = max - min;
  if (diff == 0) return false;
  float h;
  if (r == max) {
    h = static_cast<float>((g - b) * 60) / static_cast<float>(diff);
  } else if (g == max) {
    h = static_cast<float>((b - r) * 60) / static_cast<float>(diff) + 120;
  } else {
    h = static_cast<float>((r - g) * 60) / static_cast<float>(diff) + 240;
  }
  if (h < 0) h += 360;
  if (!((0 <= h && h < 15) || (330 < h && h < 360))) return false;
  const float v = static_cast<float>(max / 255.0);
  const float s = max == 0 ? 0.0f : static_cast<float>(diff) / static_cast<float>(max);
  return static_cast<double>(v) > 0.6 && static_cast<double>(s) > 0.2;
}

TEST(Ink2RedBlack, RedTestMatchesThePlainFormForEveryColour) {
  int mismatches = 0;
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        if (Ink2IsRed(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)) !=
            RefIsRed(r, g, b)) {
          ++mismatches;
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
  // The thresholds: value from 153, saturation above 0.2 (51 / 255 is in).
  EXPECT_TRUE(Ink2IsRed(153, 0, 0));
  EXPECT_FALSE(Ink2IsRed(152, 0, 0));
  EXPECT_TRUE(Ink2IsRed(255, 204, 204));
  EXPECT_FALSE(Ink2IsRed(255, 205, 205));
}

TEST(Ink2RedBlack, PureRedKeepsItsColourDarkRedAndPalePinkTurnGrey) {
  const uint8_t colours[][3] = {{255, 0, 0}, {120, 0, 0}, {255, 220, 220}, {0, 0, 255}};
  for (bool red_black : {true, false}) {
    TestRaster raster(12, 1, 24);
    for (uint32_t x = 0; x < 12; ++x) {
      const uint8_t* c = colours[x / 3];
      raster.SetRgb(x, 0, c[0], c[1], c[2]);
    }
    RecordingWriter out;
    PageProcessInk2 page = MakePage(out, 12, 1);
    page.m_RedBlack = red_black;
    Ink2Page parsed;
    DcrImage img;
    RunPage(page, out, raster.info, &parsed, &img);
    ASSERT_FALSE(HasFatalFailure());
    // Grey levels of the greyed colours, worked out by hand:
    // (120 * 313524) >> 20 = 35, (255 * 313524 + 220 * (615514 + 119538)) >> 20 = 230,
    // (255 * 119538) >> 20 = 29.
    const uint8_t hand_luma[] = {76, 35, 230, 29};
    for (uint32_t x = 0; x < 12; ++x) {
      const uint8_t* c = colours[x / 3];
      const bool keep = !red_black || x / 3 == 0;
      const uint8_t l = RefLuma(c[0], c[1], c[2]);
      ASSERT_EQ(l, hand_luma[x / 3]);
      EXPECT_EQ(img.At(0, x, 0), 255 - (keep ? c[0] : l)) << x;
      EXPECT_EQ(img.At(1, x, 0), 255 - (keep ? c[1] : l)) << x;
      EXPECT_EQ(img.At(2, x, 0), 255 - (keep ? c[2] : l)) << x;
      // The page itself was rewritten the same way.
      uint8_t r, g, b;
      raster.GetRgb(x, 0, &r, &g, &b);
      EXPECT_EQ(r, keep ? c[0] : l) << x;
      EXPECT_EQ(g, keep ? c[1] : l) << x;
      EXPECT_EQ(b, keep ? c[2] : l) << x;
    }
  }
}

TEST(Ink2RedBlack, OnlyColourPagesOfDirectPixelsAreRewritten) {
  // 32 bits: the fourth byte is left alone.
  TestRaster wide(8, 2, 32);
  for (uint32_t y = 0; y < 2; ++y) {
    for (uint32_t x = 0; x < 8; ++x) {
      wide.SetRgb(x, y, x % 2 ? 255 : 0, 0, x % 2 ? 0 : 255);
      wide.Row(y)[x * 4 + 3] = 0x77;
    }
  }
  {
    RecordingWriter out;
    PageProcessInk2 page = MakePage(out, 8, 2);
    page.m_RedBlack = true;
    ASSERT_EQ(page.SendPage(&wide.info), 0);
    for (uint32_t y = 0; y < 2; ++y) {
      for (uint32_t x = 0; x < 8; ++x) {
        uint8_t r, g, b;
        wide.GetRgb(x, y, &r, &g, &b);
        const uint8_t blue_luma = RefLuma(0, 0, 255);
        EXPECT_EQ(r, x % 2 ? 255 : blue_luma);
        EXPECT_EQ(g, x % 2 ? 0 : blue_luma);
        EXPECT_EQ(b, x % 2 ? 0 : blue_luma);
        EXPECT_EQ(wide.Row(y)[x * 4 + 3], 0x77);
      }
    }
  }
  // Grey mode and palette pages leave the pixels as they are; the palette
  // page is still separated (blue turns grey).
  TestRaster rgb(8, 1, 24);
  for (uint32_t x = 0; x < 8; ++x) rgb.SetRgb(x, 0, 0, 0, 255);
  const std::vector<uint8_t> rgb_before = rgb.pixels;
  {
    RecordingWriter out;
    PageProcessInk2 page = MakePage(out, 8, 1);
    page.m_RedBlack = true;
    page.m_UseGrey = true;
    ASSERT_EQ(page.SendPage(&rgb.info), 0);
    EXPECT_EQ(rgb.pixels, rgb_before);
  }
  TestRaster indexed(8, 1, 8);
  indexed.SetPalette(1, 0, 0, 255);
  std::fill(indexed.pixels.begin(), indexed.pixels.end(), 1);
  const std::vector<uint8_t> indexed_before = indexed.pixels;
  RecordingWriter out;
  PageProcessInk2 page = MakePage(out, 8, 1);
  page.m_RedBlack = true;
  Ink2Page parsed;
  DcrImage img;
  RunPage(page, out, indexed.info, &parsed, &img);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(indexed.pixels, indexed_before);
  EXPECT_EQ(img.At(0, 0, 0), 255 - RefLuma(0, 0, 255));
  EXPECT_EQ(img.At(2, 0, 0), 255 - RefLuma(0, 0, 255));
}

// ---------------------------------------------------------------------------
// Failures and several generators

TEST(Ink2RasterPage, EncoderFailureSendsOnlyTheFormFeed) {
  quill_test::LogCapture log;
  TestRaster raster(0, 4, 24);
  RecordingWriter out;
  PageProcessInk2 page = MakePage(out, 0, 4);
  page.StartPage();
  EXPECT_EQ(page.SendPage(&raster.info), 0);
  page.EndPage();
  EXPECT_EQ(ToHex(out.All()), "1B 0C");
  EXPECT_EQ(log.Count(spdlog::level::warn, "failed to create dcraster"), 1);
}

TEST(Ink2RasterPage, UnreadableRastersAreRefusedWithoutOutput) {
  quill_test::LogCapture log;
  TestRaster raster(16, 4, 24);
  RecordingWriter out;
  PageProcessInk2 page = MakePage(out, 16, 4);
  RASTER_INFO no_pixels = raster.info;
  no_pixels.img_p = nullptr;
  EXPECT_EQ(page.SendPage(&no_pixels), -1);
  RASTER_INFO short_rows = raster.info;
  short_rows.pitch = 47;  // 16 pixels need 48 bytes
  EXPECT_EQ(page.SendPage(&short_rows), -1);
  EXPECT_EQ(page.SendPage(nullptr), -1);
  EXPECT_TRUE(out.Calls().empty());
  EXPECT_TRUE(log.Contains("raster has no pixels"));
  EXPECT_TRUE(log.Contains("raster pitch is too small"));
}

TEST(Ink2RasterPage, EachGeneratorReceivesItsOwnObject) {
  // Two documents in one process: the older generator encodes after the
  // newer one exists, and each object must reach its own writer.
  TestRaster a(8, 2, 24), b(16, 3, 24);
  a.FillRandom(1);
  b.FillRandom(2);
  RecordingWriter out_a, out_b;
  PageProcessInk2 page_a = MakePage(out_a, 8, 2);
  PageProcessInk2 page_b = MakePage(out_b, 16, 3);
  Ink2Page parsed;
  DcrImage img;
  RunPage(page_a, out_a, a.info, &parsed, &img);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(img.width, 8);
  EXPECT_TRUE(out_b.Calls().empty());
  RunPage(page_b, out_b, b.info, &parsed, &img);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(img.width, 16);
  EXPECT_EQ(img.height, 3);
}

TEST(Ink2RasterPage, SecondPageOfAGeneratorStartsAFreshObject) {
  TestRaster raster(8, 2, 24);
  RecordingWriter out;
  PageProcessInk2 page = MakePage(out, 8, 2);
  page.m_CompressBuffer << std::string(5000, 'L');  // longer than the new object
  ASSERT_EQ(page.SendPage(&raster.info), 0);
  page.EndPage();
  ASSERT_EQ(page.SendPage(&raster.info), 0);
  page.EndPage();
  const Bytes all = out.All();
  size_t pos = 0;
  std::string error;
  for (int i = 0; i < 2; ++i) {
    Ink2Page parsed;
    DcrImage img;
    ASSERT_TRUE(quillpreview::ParseAndDecodePage(all, &pos, &parsed, &img, &error)) << error;
  }
  EXPECT_EQ(pos, all.size());
}

}  // namespace
