// DocumentProcessInk2: the job frame through the C interface, its option
// keys and update chain, and one page copy through ProcessPageInternal.

#include <gtest/gtest.h>

#include <string>

#include "common/log_capture.h"
#include "common/recording_writer.h"
#include "common/test_raster.h"
#include "document/document_process_ink2.h"
#include "preview/dcraster_decoder.h"
#include "preview/ink2_stream.h"

namespace {

using quillpreview::Ink2Page;
using ink2_test::TestRaster;
using quill_test::Bytes;
using quillpreview::DcrImage;
using quill_test::HexBytes;
using quill_test::RecordingWriter;
using quill_test::ToHex;

constexpr const char* kExit = "1B 25 2D 31 32 33 34 35 58";

CONV_PARAM2 Params(RecordingWriter& out, const char* options) {
  CONV_PARAM2 p{};
  p.x_unit = 1440;
  p.y_unit = 720;
  p.num_pins = 180;
  p.wr_cb = RecordingWriter::Callback;
  p.wr_hdl = out.Handle();
  p.options = options;
  return p;
}

// Every page in `all` from *pos on, decoded.
std::vector<std::pair<Ink2Page, DcrImage>> Pages(const Bytes& all, size_t pos, size_t end) {
  std::vector<std::pair<Ink2Page, DcrImage>> pages;
  while (pos < end) {
    Ink2Page page;
    DcrImage img;
    std::string error;
    if (!quillpreview::ParseAndDecodePage(all, &pos, &page, &img, &error)) {
      ADD_FAILURE() << error;
      break;
    }
    pages.emplace_back(std::move(page), std::move(img));
  }
  return pages;
}

TEST(Ink2Document, EmptyDocumentIsTheFrameAndTheConfiguredBytes) {
  RecordingWriter out;
  CONV_PARAM2 p = Params(out, "start_doc=0102:end_doc=0304:duplex=2");
  void* doc = DocProc_GetObject("DocumentProcessInk2", &p);
  ASSERT_NE(doc, nullptr);
  DocProc_StartDoc2(doc, &p);
  EXPECT_EQ(DocProc_HasNotEnd(doc), 1);
  DocProc_EndDoc(doc);
  DocProc_EndDoc(doc);  // a second end writes nothing
  DocProc_Release(doc);

  const std::vector<std::string> want = {"1B 45", kExit, "01 02", "03 04", kExit};
  ASSERT_EQ(out.Calls().size(), want.size()) << ToHex(out.All());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(ToHex(out.Calls()[i]), want[i]) << i;
}

TEST(Ink2Document, OptionKeysAndTheUpdateChain) {
  RecordingWriter out;
  quill_test::LogCapture log;
  CONV_PARAM2 p = Params(out, "quality=3:grey=1:red_black=1:rotate=90:copies=2:dither=2");
  DocumentProcessInk2 doc(&p);
  EXPECT_EQ(doc.m_Quality, QUALITY_HIGH);
  EXPECT_TRUE(doc.m_UseGrey);
  EXPECT_TRUE(doc.m_RedBlack);
  EXPECT_EQ(doc.m_Rotation, 90);
  EXPECT_EQ(doc.m_Dither, 2);
  EXPECT_EQ(doc.m_DocAttr.m_Copies, 2);
  EXPECT_EQ(log.Count(spdlog::level::debug, "DocumentProcessInk2"), 1);

  // Later updates: base keys and the own three, not the Ink1 keys.
  CONV_PARAM2 q = Params(out, "quality=0:grey=0:rotate=180:dither=1");
  doc.Update(&q, true);
  EXPECT_EQ(doc.m_Quality, QUALITY_DRAFT);
  EXPECT_FALSE(doc.m_UseGrey);
  EXPECT_TRUE(doc.m_RedBlack) << "absent keys keep their value";
  EXPECT_EQ(doc.m_Rotation, 90);
  EXPECT_EQ(doc.m_Dither, 2);
  EXPECT_EQ(doc.m_DocAttr.m_Copies, 1) << "document attributes fall back to defaults";

  CONV_PARAM2 none = Params(out, nullptr);
  doc.Update(&none, true);
  EXPECT_EQ(doc.m_Quality, QUALITY_DRAFT);

  // Defaults.
  CONV_PARAM2 d = Params(out, "");
  DocumentProcessInk2 plain(&d);
  EXPECT_EQ(plain.m_Quality, QUALITY_NORMAL1);
  EXPECT_FALSE(plain.m_UseGrey);
  EXPECT_FALSE(plain.m_RedBlack);
  EXPECT_TRUE(out.Calls().empty()) << "construction and updates write nothing";
}

TEST(Ink2Document, PageCopyCarriesTheDocumentSettings) {
  RecordingWriter out;
  CONV_PARAM2 p = Params(out, "quality=2:grey=1:copies=3:collate=1:duplex=1:start_page=AA:end_page=BBCC");
  DocumentProcessInk2 doc(&p);
  TestRaster raster(20, 6, 24, 600);
  raster.FillRandom(9);
  doc.m_PageCount = 1;
  quill_test::LogCapture log;
  ASSERT_EQ(doc.ProcessPageInternal(&raster.info, false, false), 0);
  EXPECT_EQ(log.Count(spdlog::level::debug,
                      "ProcessPageInternal: size=20x6, unit=1440x720, resolution=600x600, pins=180, "
                      "bpp=24, pitch=60"),
            1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "middle page"), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "last page"), 0);
  EXPECT_EQ(log.Count(spdlog::level::debug, "flip page"), 0) << "duplex 1 turns nothing";

  const Bytes all = out.All();
  ASSERT_GE(out.Calls().size(), 3u);
  EXPECT_EQ(ToHex(out.Calls().front()), "AA");
  EXPECT_EQ(ToHex(out.Calls().back()), "BB CC");
  size_t pos = 1;
  Ink2Page page;
  DcrImage img;
  std::string error;
  ASSERT_TRUE(quillpreview::ParseAndDecodePage(all, &pos, &page, &img, &error)) << error;
  EXPECT_EQ(pos, all.size() - 2);
  EXPECT_EQ(page.flag, 1);
  EXPECT_EQ(page.duplex, 2);
  EXPECT_EQ(page.x_res, 600);
  EXPECT_EQ(page.width, 20);
  EXPECT_EQ(page.height, 6);
  EXPECT_EQ(page.compression, 2);
  EXPECT_EQ(page.quality, 2);
  EXPECT_EQ(page.grey, 1);
  EXPECT_EQ(page.collate, 1);
  EXPECT_EQ(page.copies, 3);
  EXPECT_EQ(img.format, "K");
  for (uint32_t x = 0; x < 20; ++x) {
    uint8_t r, g, b;
    raster.GetRgb(x, 5, &r, &g, &b);
    EXPECT_EQ(img.At(0, x, 5), 255 - ink2_test::RefLuma(r, g, b));
  }
}

TEST(Ink2Document, BackSidesOfShortEdgeDuplexAreTurnedForEveryCopy) {
  for (int duplex : {1, 2}) {
    SCOPED_TRACE(duplex);
    RecordingWriter out;
    const std::string options = "duplex=" + std::to_string(duplex);
    CONV_PARAM2 p = Params(out, options.c_str());
    DocumentProcessInk2 doc(&p);
    TestRaster raster(9, 4, 24);
    raster.FillRandom(21);
    TestRaster original = raster;
    quill_test::LogCapture log;
    // Two copies of a back side, then a front side.
    ASSERT_EQ(doc.ProcessPageInternal(&raster.info, true, true), 0);
    ASSERT_EQ(doc.ProcessPageInternal(&raster.info, true, true), 0);
    // The caller's pixels are turned once, not back again by the copy.
    for (uint32_t y = 0; y < 4; ++y) {
      for (uint32_t x = 0; x < 9; ++x) {
        uint8_t r, g, b, r0, g0, b0;
        raster.GetRgb(x, y, &r, &g, &b);
        const bool turned = duplex == 2;
        original.GetRgb(turned ? 8 - x : x, turned ? 3 - y : y, &r0, &g0, &b0);
        ASSERT_EQ(r, r0) << x << "," << y;
        ASSERT_EQ(b, b0) << x << "," << y;
      }
    }
    EXPECT_EQ(log.Count(spdlog::level::debug, "flip page"), duplex == 2 ? 2 : 0);
    const std::vector<uint8_t> after_back = raster.pixels;
    ASSERT_EQ(doc.ProcessPageInternal(&raster.info, false, false), 0);
    EXPECT_EQ(raster.pixels, after_back) << "front sides are not turned";
    const Bytes all = out.All();
    auto pages = Pages(all, 0, all.size());
    ASSERT_EQ(pages.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      const bool turned = duplex == 2;  // the front side is sent as the page now lies
      const DcrImage& img = pages[i].second;
      for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 9; ++x) {
          uint8_t r, g, b;
          original.GetRgb(turned ? 8 - x : x, turned ? 3 - y : y, &r, &g, &b);
          ASSERT_EQ(img.At(0, x, y), 255 - r) << "page " << i << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(Ink2Document, BackSidesThatCannotBeTurnedInPlaceAreReadTurned) {
  // Rows bottom-up (negative pitch): the pixels stay, the page is still sent
  // turned.
  RecordingWriter out;
  CONV_PARAM2 p = Params(out, "duplex=2");
  DocumentProcessInk2 doc(&p);
  TestRaster raster(9, 4, 24);
  raster.FillRandom(23);
  const std::vector<uint8_t> before = raster.pixels;
  RASTER_INFO upside = raster.info;
  upside.img_p = raster.Row(3);
  upside.pitch = -raster.info.pitch;
  ASSERT_EQ(doc.ProcessPageInternal(&upside, true, true), 0);
  EXPECT_EQ(raster.pixels, before);
  const Bytes all = out.All();
  auto pages = Pages(all, 0, all.size());
  ASSERT_EQ(pages.size(), 1u);
  for (uint32_t y = 0; y < 4; ++y) {
    for (uint32_t x = 0; x < 9; ++x) {
      uint8_t r, g, b;
      raster.GetRgb(8 - x, y, &r, &g, &b);  // turned bottom-up page: mirrored rows
      ASSERT_EQ(pages[0].second.At(0, x, y), 255 - r) << x << "," << y;
    }
  }
}

TEST(Ink2Document, RejectedRastersWriteNothing) {
  quill_test::LogCapture log;
  RecordingWriter out;
  CONV_PARAM2 p = Params(out, "start_page=AA");
  DocumentProcessInk2 doc(&p);
  TestRaster raster(8, 8, 24);
  RASTER_INFO no_res = raster.info;
  no_res.y_res = 0;
  EXPECT_EQ(doc.ProcessPageInternal(&no_res, true, false), -1);
  RASTER_INFO no_size = raster.info;
  no_size.height = 0;
  EXPECT_EQ(doc.ProcessPageInternal(&no_size, true, false), -1);
  RASTER_INFO no_pixels = raster.info;
  no_pixels.img_p = nullptr;
  EXPECT_EQ(doc.ProcessPageInternal(&no_pixels, true, false), -1);
  RASTER_INFO nothing = raster.info;  // the resolution is judged first
  nothing.x_res = 0;
  nothing.width = 0;
  EXPECT_EQ(doc.ProcessPageInternal(&nothing, true, false), -1);
  EXPECT_TRUE(out.Calls().empty());
  EXPECT_EQ(log.Count(spdlog::level::warn, "resolution is invalid"), 2);
  EXPECT_EQ(log.Count(spdlog::level::warn, "raster size is invalid"), 1);
  EXPECT_EQ(log.Count(spdlog::level::warn, "raster has no pixels"), 1);
}

}  // namespace
