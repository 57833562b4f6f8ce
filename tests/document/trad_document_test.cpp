// DocumentProcessThermal and DocumentProcessDot24: whole pages through the
// document pipeline (options, mono conversion, red/black separation, sides)
// decoded back into dots, and the page routine's edge cases.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/log_capture.h"
#include "common/recording_writer.h"
#include "common/trad_test_util.h"
#include "document/document_process_dot24.h"
#include "document/document_process_thermal.h"
#include "document/packed_page.h"
#include "document/trad_page.h"
#include "preview/bit_image_decoder.h"
#include "quill/libquill.h"

namespace {

using quillpreview::BitImageStream;
using quillpreview::BitPage;
using quill_test::Bytes;
using quillpreview::DotGeometry;
using quillpreview::DotPage;
using quill_test::HexBytes;
using quill_test::LogCapture;
using quillpreview::ParseBitImageStream;
using quillpreview::RebuildDots;
using quill_test::RecordingWriter;
using quill_test::ToHex;
using trad_test::RandomPage;

CONV_PARAM2 Param(RecordingWriter& w, const char* options, uint32_t page_length = 0) {
  CONV_PARAM2 cp{};
  cp.x_unit = 360;
  cp.y_unit = 360;
  cp.num_pins = 24;
  cp.wr_cb = RecordingWriter::Callback;
  cp.wr_hdl = w.Handle();
  cp.page_length = page_length;
  cp.options = options;
  return cp;
}

// A one-bit raster over the bits of `page` (set bit = ink).
RASTER_INFO MonoRaster(BitPage& page, uint16_t x_res, uint16_t y_res) {
  RASTER_INFO r{};
  r.img_p = page.bits.data();
  r.width = page.width;
  r.height = page.height;
  r.pitch = static_cast<int32_t>(page.Pitch());
  r.x_res = x_res;
  r.y_res = y_res;
  r.bpp = 1;
  return r;
}

// A 24-bit page (B, G, R) that is white, black where `black` has a dot and
// pure red where `red` has one.
struct ColourPage {
  uint32_t width;
  uint32_t height;
  std::vector<uint8_t> pixels;
  RASTER_INFO Raster(uint16_t res) {
    RASTER_INFO r{};
    r.img_p = pixels.data();
    r.width = width;
    r.height = height;
    r.pitch = static_cast<int32_t>(width * 3);
    r.x_res = res;
    r.y_res = res;
    r.bpp = 24;
    return r;
  }
};

ColourPage MakeColourPage(const BitPage& black, const BitPage& red) {
  ColourPage p{black.width, black.height,
               std::vector<uint8_t>(static_cast<size_t>(black.width) * black.height * 3, 255)};
  for (uint32_t y = 0; y < p.height; ++y) {
    for (uint32_t x = 0; x < p.width; ++x) {
      uint8_t* px = &p.pixels[(static_cast<size_t>(y) * p.width + x) * 3];
      if (red.Get(x, y)) {
        px[0] = 0;
        px[1] = 0;
        px[2] = 255;
      } else if (black.Get(x, y)) {
        px[0] = px[1] = px[2] = 0;
      }
    }
  }
  return p;
}

void ClearRowsAbove(BitPage& page, uint32_t top) {
  for (uint32_t y = 0; y < top; ++y) {
    for (uint32_t x = 0; x < page.width; ++x) page.Set(x, y, false);
  }
}

TEST(TradDocument, ClassesAreAvailableByName) {
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, nullptr);
  for (const char* name : {"DocumentProcessThermal", "DocumentProcessDot24"}) {
    void* doc = DocProc_GetObject(name, &cp);
    EXPECT_NE(nullptr, doc) << name;
    DocProc_Release(doc);
  }
}

TEST(TradDocument, OptionsAreReadAtConstructionAndUpdate) {
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "left_margin=12:max_width=576:dual_color=1:use_locpos=1");
  DocumentProcessThermal thermal(&cp);
  EXPECT_EQ(12u, thermal.m_LeftMargin);
  EXPECT_EQ(576u, thermal.m_MaxWidth);
  EXPECT_TRUE(thermal.m_UseLocPos);
  DocumentProcessDot24 dot(&cp);
  EXPECT_TRUE(dot.m_DualColor);
  EXPECT_TRUE(dot.SeparatesRedBlack());

  // An absent key keeps the field; the parent's keys are read too.
  CONV_PARAM2 later = Param(w, "max_width=384:nouse_eject=1");
  thermal.Update(&later, true);
  EXPECT_EQ(12u, thermal.m_LeftMargin);
  EXPECT_EQ(384u, thermal.m_MaxWidth);
  EXPECT_TRUE(thermal.m_NoUseEject);
  CONV_PARAM2 off = Param(w, "dual_color=0");
  dot.Update(&off, true);
  EXPECT_FALSE(dot.m_DualColor);
}

TEST(TradDocument, UpdateWithoutParentReadsOnlyTheOwnKeys) {
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, nullptr);
  DocumentProcessThermal thermal(&cp);
  DocumentProcessDot24 dot(&cp);
  EXPECT_EQ(0u, thermal.m_LeftMargin);
  EXPECT_EQ(0u, thermal.m_MaxWidth);
  EXPECT_FALSE(dot.m_DualColor);

  CONV_PARAM2 next = Param(w, "left_margin=7:max_width=5:dual_color=1:nouse_eject=1");
  thermal.Update(&next, false);
  dot.Update(&next, false);
  EXPECT_EQ(7u, thermal.m_LeftMargin);
  EXPECT_EQ(5u, thermal.m_MaxWidth);
  EXPECT_TRUE(dot.m_DualColor);
  EXPECT_FALSE(thermal.m_NoUseEject);  // an Ink1 key: read only with the parent
  EXPECT_FALSE(dot.m_NoUseEject);

  // No option string: nothing changes.
  CONV_PARAM2 none = Param(w, nullptr);
  thermal.Update(&none, true);
  dot.Update(&none, true);
  EXPECT_EQ(7u, thermal.m_LeftMargin);
  EXPECT_TRUE(dot.m_DualColor);
}

// One page through a thermal document; returns the stream of the page.
Bytes ThermalPage(const char* options, BitPage& page, uint32_t page_length = 0) {
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, options, page_length);
  DocumentProcessThermal doc(&cp);
  const RASTER_INFO r = MonoRaster(page, 200, 200);
  EXPECT_EQ(0, doc.ProcessPage(&r));
  return w.All();
}

TEST(TradDocument, ThermalPageDecodesToThePage) {
  for (const char* options : {"", "use_locpos=1"}) {
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      BitPage page = RandomPage(384, 100 + 17 * seed, seed);
      ClearRowsAbove(page, 5 * seed);
      page.Set(7, 5 * seed);
      const Bytes stream = ThermalPage(options, page);
      const BitImageStream parsed = ParseBitImageStream(stream);
      ASSERT_EQ("", parsed.error);
      const DotPage dots = RebuildDots(parsed, DotGeometry{}, 0, 384, page.height + 24);
      EXPECT_EQ("", quillpreview::CompareDots(dots, 0, page)) << options << " seed " << seed;
      for (const quillpreview::BitImage& img : parsed.images) EXPECT_EQ(33, img.mode);
    }
  }
}

TEST(TradDocument, ThermalMarginOptions) {
  BitPage page(384, 30);
  page.Set(0, 0);
  // left_margin=0 and no max_width: no margin command at all.
  BitImageStream s = ParseBitImageStream(ThermalPage("left_margin=0", page));
  EXPECT_TRUE(s.left_margins.empty());
  EXPECT_TRUE(s.print_widths.empty());
  // Only max_width: the margin is derived from the page width.
  s = ParseBitImageStream(ThermalPage("max_width=576", page));
  EXPECT_EQ((std::vector<uint32_t>{384}), s.print_widths);
  EXPECT_EQ((std::vector<uint32_t>{72}), s.left_margins);
  s = ParseBitImageStream(ThermalPage("max_width=576:left_margin=10", page));
  EXPECT_EQ((std::vector<uint32_t>{10}), s.left_margins);
}

TEST(TradDocument, ThermalLastPartialBandIsFedAndPageLengthReached) {
  BitPage page(16, 30);
  page.Set(0, 0);
  page.Set(0, 29);
  const BitImageStream s = ParseBitImageStream(ThermalPage("", page, 100));
  ASSERT_EQ("", s.error);
  // Feed to row 0, the full band, the 6 rows of the partial band, then the
  // rest of the page length.
  EXPECT_EQ((std::vector<uint32_t>{0, 24, 6, 70}), s.feeds);
  EXPECT_EQ(0u, s.form_feeds);
}

struct Dot24DocCase {
  uint16_t res;
  bool locpos;
};

class Dot24DocumentRoundTrip : public ::testing::TestWithParam<Dot24DocCase> {};

TEST_P(Dot24DocumentRoundTrip, SingleColourPageDecodesToThePage) {
  const Dot24DocCase dc = GetParam();
  BitPage page = RandomPage(301, 150, 21);
  ClearRowsAbove(page, 10);
  page.Set(3, 10);
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, dc.locpos ? "use_locpos=1" : "", 3960);
  DocumentProcessDot24 doc(&cp);
  doc.StartDoc();
  const RASTER_INFO r = MonoRaster(page, dc.res, dc.res);
  ASSERT_EQ(0, doc.ProcessPage(&r));
  doc.EndDoc();

  const BitImageStream s = ParseBitImageStream(w.All());
  ASSERT_EQ("", s.error);
  EXPECT_EQ((std::vector<uint32_t>{3960}), s.page_lengths);
  EXPECT_EQ(1u, s.form_feeds);
  DotGeometry g;
  g.x_unit = 360;
  g.x_res = dc.res;
  g.interlaced = dc.res >= 360;
  const DotPage dots = RebuildDots(s, g, 0, page.width, page.height + 48);
  EXPECT_EQ("", quillpreview::CompareDots(dots, 0, page));
  for (const quillpreview::BitImage& img : s.images) EXPECT_EQ(dc.res == 360 ? 40 : 39, img.mode);
}

INSTANTIATE_TEST_SUITE_P(Resolutions, Dot24DocumentRoundTrip,
                         ::testing::Values(Dot24DocCase{180, false}, Dot24DocCase{180, true},
                                           Dot24DocCase{360, false}, Dot24DocCase{360, true}));

class Dot24DualColour : public ::testing::TestWithParam<uint16_t> {};

TEST_P(Dot24DualColour, RedAndBlackGoToTheirRibbons) {
  const uint16_t res = GetParam();
  const uint32_t width = 121;  // odd: each plane is widened to 122
  BitPage black = RandomPage(width, 90, 4, 0.2);
  BitPage red = RandomPage(width, 90, 5, 0.2);
  ClearRowsAbove(black, 4);
  ClearRowsAbove(red, 4);
  black.Set(0, 4);
  for (uint32_t y = 0; y < 90; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      if (red.Get(x, y)) black.Set(x, y, false);
    }
  }
  ColourPage colour = MakeColourPage(black, red);
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "dual_color=1:threshold=128");
  DocumentProcessDot24 doc(&cp);
  const RASTER_INFO r = colour.Raster(res);
  ASSERT_EQ(0, doc.ProcessPage(&r));

  const BitImageStream s = ParseBitImageStream(w.All());
  ASSERT_EQ("", s.error);
  DotGeometry g;
  g.x_unit = 360;
  g.x_res = res;
  g.interlaced = res >= 360;
  const DotPage dots = RebuildDots(s, g, 0, 122, 90 + 48, 2);
  EXPECT_EQ("", quillpreview::CompareDots(dots, 0, black));
  EXPECT_EQ("", quillpreview::CompareDots(dots, 1, red));
  EXPECT_GT(dots.CountDots(1), 0u);
  EXPECT_FALSE(s.color_selects.empty());
}

INSTANTIATE_TEST_SUITE_P(Resolutions, Dot24DualColour, ::testing::Values(180, 360));

TEST(TradDocument, Dot24LastPartialBandHasNoFeedOfItsOwn) {
  BitPage page(8, 30);
  page.Set(0, 0);
  page.Set(0, 29);
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "");
  DocumentProcessDot24 doc(&cp);
  const RASTER_INFO r = MonoRaster(page, 180, 180);
  ASSERT_EQ(0, doc.ProcessPage(&r));
  EXPECT_EQ((std::vector<uint32_t>{0, 24}), ParseBitImageStream(w.All()).feeds);
}

TEST(TradDocument, ShingledJobsPrintUnshingledWithOneWarning) {
  BitPage page = RandomPage(200, 60, 3);
  page.Set(0, 0);
  for (const char* name : {"thermal", "dot24"}) {
    for (uint16_t mode : {0, 1, 3, 5, 9}) {
      RecordingWriter w;
      CONV_PARAM2 cp = Param(w, "");
      cp.shingling = mode;
      LogCapture log;
      const RASTER_INFO r = MonoRaster(page, 200, 200);
      std::unique_ptr<DocumentProcessInk1> doc;
      if (std::string(name) == "thermal") {
        doc = std::make_unique<DocumentProcessThermal>(&cp);
      } else {
        doc = std::make_unique<DocumentProcessDot24>(&cp);
      }
      ASSERT_EQ(0, doc->ProcessPage(&r));
      EXPECT_EQ(mode == 0 ? 0 : 1, log.Count(spdlog::level::warn, "unsupported shingling"))
          << name << " mode " << mode;
      const BitImageStream s = ParseBitImageStream(w.All());
      ASSERT_EQ("", s.error);
      DotGeometry g;
      if (std::string(name) == "dot24") g.x_unit = 360;
      const DotPage dots = RebuildDots(s, g, 0, 200, 60 + 24);
      EXPECT_EQ("", quillpreview::CompareDots(dots, 0, page)) << name << " mode " << mode;
    }
  }
}

TEST(TradDocument, RejectedRastersWriteNothing) {
  BitPage page(16, 16);
  for (int which = 0; which < 3; ++which) {
    RecordingWriter w;
    CONV_PARAM2 cp = Param(w, "time_stamp=1:start_page=1B40");
    DocumentProcessDot24 dot(&cp);
    DocumentProcessThermal thermal(&cp);
    RASTER_INFO r = MonoRaster(page, 180, 180);
    if (which == 0) r.x_res = 0;
    if (which == 1) r.width = 0;
    if (which == 2) r.height = 0;
    LogCapture log;
    EXPECT_EQ(-1, dot.ProcessPageInternal(&r, true, false));
    EXPECT_EQ(-1, thermal.ProcessPageInternal(&r, true, false));
    EXPECT_TRUE(w.Calls().empty());
    EXPECT_TRUE(log.Contains(which == 0 ? "resolution is invalid" : "raster size is invalid"));
  }
}

TEST(TradDocument, PageCommandsAndTimeStampFramePage) {
  BitPage page(16, 8);
  page.Set(0, 0);
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "time_stamp=1000000000:start_page=AABB:end_page=CCDD");
  DocumentProcessThermal doc(&cp);
  const RASTER_INFO r = MonoRaster(page, 200, 200);
  ASSERT_EQ(0, doc.ProcessPage(&r));
  const std::vector<Bytes>& calls = w.Calls();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ(HexBytes("1B 1D 1E 10 1D 00 CA 9A 3B 1B 1D 1F"), calls[0]);
  EXPECT_EQ(HexBytes("AA BB"), calls[1]);
  EXPECT_EQ(HexBytes("1B 40"), calls[2]);
  EXPECT_EQ(HexBytes("CC DD"), calls.back());
}

TEST(TradDocument, VerticalDuplexBackSideIsTurnedBeforeMeasuring) {
  // Ink only in the top row: on the back side it lands in the last row,
  // so the page starts with a feed to it.
  BitPage page(16, 50);
  page.Set(2, 0);
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "duplex=2");
  DocumentProcessDot24 doc(&cp);
  const RASTER_INFO r = MonoRaster(page, 180, 180);
  ASSERT_EQ(0, doc.ProcessPage(&r));  // front
  w.Clear();
  ASSERT_EQ(0, doc.ProcessPage(&r));  // back
  const BitImageStream s = ParseBitImageStream(w.All());
  ASSERT_EQ("", s.error);
  ASSERT_FALSE(s.feeds.empty());
  EXPECT_EQ(49u, s.feeds[0]);
  ASSERT_EQ(1u, s.images.size());
  const DotPage dots = RebuildDots(s, DotGeometry{360, 180, false}, 0, 16, 80);
  EXPECT_TRUE(dots.Dot(0, 13, 49));
  EXPECT_EQ(1u, dots.CountDots(0));
}

TEST(TradDocument, DualColourBackSideKeepsBlackOnTheBlackRibbon) {
  BitPage black(40, 30), red(40, 30);
  black.Set(1, 0);
  red.Set(30, 0);
  ColourPage colour = MakeColourPage(black, red);
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "dual_color=1:threshold=128:duplex=2");
  DocumentProcessDot24 doc(&cp);
  const RASTER_INFO r = colour.Raster(180);
  ASSERT_EQ(0, doc.ProcessPage(&r));
  w.Clear();
  ASSERT_EQ(0, doc.ProcessPage(&r));  // back side, turned
  const BitImageStream s = ParseBitImageStream(w.All());
  ASSERT_EQ("", s.error);
  const DotPage dots = RebuildDots(s, DotGeometry{360, 180, false}, 0, 40, 60, 2);
  EXPECT_TRUE(dots.Dot(0, 38, 29));  // black, turned
  EXPECT_TRUE(dots.Dot(1, 9, 29));   // red, turned
  EXPECT_EQ(1u, dots.CountDots(0));
  EXPECT_EQ(1u, dots.CountDots(1));
}

TEST(TradDocument, SwapPlanesOnByteBoundaries) {
  BitPage page(32, 2);  // halves of 16 pixels
  page.Set(0, 0);
  page.Set(17, 1);
  page.Set(31, 1);
  RASTER_INFO r = MonoRaster(page, 180, 180);
  trad_page::SwapPlanes(r);
  BitPage want(32, 2);
  want.Set(16, 0);
  want.Set(1, 1);
  want.Set(15, 1);
  EXPECT_EQ(ToHex(want.bits), ToHex(page.bits));
}

TEST(TradDocument, SwapPlanesExchangesHalvesBitExactly) {
  BitPage page(22, 2);  // halves of 11 pixels: not byte aligned
  page.Set(0, 0);
  page.Set(10, 0);
  page.Set(11, 1);
  page.Set(21, 1);
  RASTER_INFO r = MonoRaster(page, 180, 180);
  trad_page::SwapPlanes(r);
  EXPECT_TRUE(page.Get(11, 0));
  EXPECT_TRUE(page.Get(21, 0));
  EXPECT_TRUE(page.Get(0, 1));
  EXPECT_TRUE(page.Get(10, 1));
  int dots = 0;
  for (uint32_t y = 0; y < 2; ++y) {
    for (uint32_t x = 0; x < 22; ++x) dots += page.Get(x, y);
  }
  EXPECT_EQ(4, dots);
}

// Index of the first record at or after `from` with this level whose text
// starts with `prefix`; -1 when there is none.
int FindRecord(const LogCapture& log, size_t from, spdlog::level::level_enum level,
               const std::string& prefix) {
  const auto& records = log.Records();
  for (size_t i = from; i < records.size(); ++i) {
    if (records[i].level == level && records[i].message.rfind(prefix, 0) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// Every record of `wanted` (level, exact text; a text ending in '*' is a
// prefix) in this order, other records allowed in between.
void ExpectRecordsInOrder(const LogCapture& log,
                          const std::vector<std::pair<spdlog::level::level_enum, std::string>>& wanted) {
  size_t from = 0;
  for (const auto& [level, text] : wanted) {
    const bool prefix = !text.empty() && text.back() == '*';
    const std::string body = prefix ? text.substr(0, text.size() - 1) : text;
    int at = FindRecord(log, from, level, body);
    while (at >= 0 && !prefix && log.Records()[static_cast<size_t>(at)].message != body) {
      at = FindRecord(log, static_cast<size_t>(at) + 1, level, body);
    }
    ASSERT_GE(at, 0) << "missing, or out of order: \"" << text << "\"";
    from = static_cast<size_t>(at) + 1;
  }
}

TEST(TradDocument, ThermalPageRoutineWritesTheExactCommandsAndRecords) {
  // Ink at row 2, column 0, and row 29, column 15 of a 16 x 30 page:
  // content rows 2 .. 29, one full band of 24 rows and a partial one of 4.
  BitPage page(16, 30);
  page.Set(0, 2);
  page.Set(15, 29);
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "max_width=64:prefer_unidir=1", 100);
  DocumentProcessThermal doc(&cp);
  const RASTER_INFO r = MonoRaster(page, 200, 200);
  LogCapture log;
  ASSERT_EQ(0, doc.ProcessPage(&r));

  Bytes last_band(16 * 3, 0);
  last_band[15 * 3] = 0x10;  // row 29 is the band's fourth row
  const std::vector<Bytes> want = {
      HexBytes("1B 40"),
      HexBytes("1D 57 10 00"),  // GS W with the page width
      HexBytes("1D 4C 00 00"),  // (64 - 16) / 2 = 24, less the allowance of 24
      HexBytes("1B 4A 02"),     // to the first content row
      HexBytes("1B 55 01"),
      HexBytes("1B 2A 21 01 00"),
      HexBytes("80 00 00"),
      HexBytes("0D"),
      HexBytes("1B 4A 18"),
      HexBytes("1B 2A 21 10 00"),
      last_band,
      HexBytes("0D"),
      HexBytes("1B 4A 04"),  // the partial band's rows
      HexBytes("1B 4A 46"),  // to the page length: 100 - 30
  };
  EXPECT_EQ(want, w.Calls());

  using spdlog::level::debug;
  using spdlog::level::info;
  ExpectRecordsInOrder(
      log, {{debug, "ProcessPageInternal: size=16x30, unit=360x360, resolution=200x200, pins=24, "
                    "bpp=1, pitch=2"},
            {debug, "ink covering ratio: 0.42%"},
            {debug, "content vertical range: 2-30"},
            {debug, "shingling: 0"},
            {debug, "max width: 64"},
            {debug, "left margin: 0"},
            {debug, "<0>2-30[28]"},
            {debug, "OutputBand:ContentWidth=1"},
            {debug, "OutputBand:ContentWidth=16"},
            {debug, "page content height=30/100[200|200]"},
            {debug, "feed to bottom"},
            {info, "conversion takes *"}});
  for (const auto& rec : log.Records()) {
    EXPECT_LT(rec.level, spdlog::level::warn) << rec.message;
    if (rec.level == info) {
      EXPECT_EQ("ms", rec.message.substr(rec.message.size() - 2)) << rec.message;
    }
  }
}

TEST(TradDocument, Dot24PageRoutineWritesTheExactCommands) {
  // 180 dpi, positioned output, feed to the page length instead of a form
  // feed. Ink at (0, 0) and (7, 29).
  BitPage page(8, 30);
  page.Set(0, 0);
  page.Set(7, 29);
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "nouse_eject=1:use_locpos=1", 100);
  DocumentProcessDot24 doc(&cp);
  const RASTER_INFO r = MonoRaster(page, 180, 180);
  LogCapture log;
  ASSERT_EQ(0, doc.ProcessPage(&r));
  const std::vector<Bytes> want = {
      HexBytes("1B 28 55 01 00 0A 00 1B 28 43 02 00 64 00"),
      HexBytes("1B 4A 00"),  // content starts at row 0
      HexBytes("1B 24 00 00"),
      HexBytes("1B 2A 27 01 00"),
      HexBytes("80 00 00"),
      HexBytes("0D"),
      HexBytes("1B 4A 18"),
      HexBytes("1B 24 0E 00"),  // column 7: 7 * 360 / 180
      HexBytes("1B 2A 27 01 00"),
      HexBytes("04 00 00"),  // row 29 is the partial band's sixth row
      HexBytes("0D"),        // no feed of its own
      HexBytes("1B 4A 4C"),  // 100 - 24
  };
  EXPECT_EQ(want, w.Calls());
  EXPECT_EQ(1, log.Count(spdlog::level::debug, "<0>0-30[30]"));
  EXPECT_EQ(1, log.Count(spdlog::level::debug, "shingling: 0"));
  EXPECT_EQ(1, log.Count(spdlog::level::debug, "feed to bottom"));
}

TEST(TradDocument, BlankPageIsAFeedToRowOne) {
  BitPage page(16, 30);
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "");
  DocumentProcessThermal thermal(&cp);
  const RASTER_INFO r = MonoRaster(page, 200, 200);
  ASSERT_EQ(0, thermal.ProcessPage(&r));
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 40"), HexBytes("1B 4A 01")}), w.Calls());

  RecordingWriter w2;
  CONV_PARAM2 cp2 = Param(w2, "");
  DocumentProcessDot24 dot(&cp2);
  ASSERT_EQ(0, dot.ProcessPage(&r));
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 4A 01")}), w2.Calls());
}

TEST(TradDocument, ConstructorsReadTheirOptionsWithoutOwnRecords) {
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "max_width=100");
  LogCapture log;
  DocumentProcessThermal thermal(&cp);
  DocumentProcessDot24 dot(&cp);
  // Only the Ink1 part names itself.
  EXPECT_EQ(2, log.Count(spdlog::level::debug, "DocumentProcessInk1"));
  EXPECT_FALSE(log.Contains("DocumentProcessThermal"));
  EXPECT_FALSE(log.Contains("DocumentProcessDot24"));
  EXPECT_EQ(100u, thermal.m_MaxWidth);
  EXPECT_EQ(0u, thermal.m_LeftMargin);
  EXPECT_FALSE(dot.m_DualColor);
}

TEST(TradDocument, DualColourBackupPageIsStoredSeparated) {
  BitPage black(7, 3), red(7, 3);
  red.Set(2, 1);
  ColourPage colour = MakeColourPage(black, red);
  RecordingWriter w;
  CONV_PARAM2 cp = Param(w, "dual_color=1");
  DocumentProcessDot24 doc(&cp);
  const RASTER_INFO r = colour.Raster(180);
  doc.SaveBackupPage(&r, false);
  ASSERT_EQ(1u, doc.m_BackupPages.size());
  RASTER_INFO* stored = doc.m_BackupPages.front()->Get();
  ASSERT_NE(nullptr, stored);
  EXPECT_EQ(16u, stored->width);  // two planes of 8
  EXPECT_EQ(24, stored->bpp);
  EXPECT_EQ(3u, stored->height);
  EXPECT_EQ(180, stored->x_res);
  // The red pixel sits in the second plane, white in the first.
  const uint8_t* px = stored->img_p + stored->pitch * 1;
  EXPECT_EQ(255, px[2 * 3 + 2]);
  EXPECT_EQ(255, px[2 * 3 + 1]);
  EXPECT_EQ(0, px[(8 + 2) * 3 + 1]);
  EXPECT_EQ(255, px[(8 + 2) * 3 + 2]);
  std::free(stored);

  CONV_PARAM2 single = Param(w, "");
  DocumentProcessDot24 plain(&single);
  plain.SaveBackupPage(&r, false);
  ASSERT_EQ(1u, plain.m_BackupPages.size());
  RASTER_INFO* kept = plain.m_BackupPages.front()->Get();
  ASSERT_NE(nullptr, kept);
  EXPECT_EQ(7u, kept->width);
  std::free(kept);
}

}  // namespace
