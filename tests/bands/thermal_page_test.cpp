// PageProcessThermal: the command stream of a page is compared with a
// plain reference model, and decoded back into dots that must equal the
// page; the page frame (margins, labels, final feed) is checked command by
// command.
#include <gtest/gtest.h>

#include "bands/page_process_thermal.h"
#include "common/log_capture.h"
#include "common/recording_writer.h"
#include "common/trad_test_util.h"
#include "preview/bit_image_decoder.h"

namespace {

using quillpreview::BitPage;
using quill_test::Bytes;
using quill_test::HexBytes;
using quill_test::RecordingWriter;
using quill_test::ToHex;
using namespace trad_test;

// The band output as the plain per-column scan: a segment ends at a blank
// column reached at least `min` columns after its start, or at the last
// content column.
Bytes RefThermalBand(const Bytes& band, uint32_t bytes, uint8_t mode, bool locpos, uint32_t min) {
  Bytes out;
  const uint32_t cw = PlainContentWidth(band, bytes);
  if (cw == 0) return out;
  auto send = [&](uint32_t s, uint32_t e) {
    Append(out, Position(s));
    Append(out, BitImageHeader(mode, e - s + 1));
    Append(out, Columns(band, bytes, s, e - s + 1));
  };
  if (!locpos) {
    Append(out, BitImageHeader(mode, cw));
    Append(out, Columns(band, bytes, 0, cw));
  } else if (cw == 1) {
    send(0, 0);
  } else {
    bool inside = PlainColumnInked(band, bytes, 0);
    uint32_t s = 0;
    for (uint32_t x = 1; x < cw; ++x) {
      const bool inked = PlainColumnInked(band, bytes, x);
      if (inside) {
        if (x - s >= min && !inked) {
          send(s, x - 1);
          inside = false;
        } else if (x == cw - 1) {
          send(s, x);
          break;
        }
      } else if (inked) {
        if (x == cw - 1) {
          send(x, x);
          break;
        }
        inside = true;
        s = x;
      }
    }
  }
  out.push_back(0x0D);
  return out;
}

// The whole page as DrivePage runs it with FlushLines(true), no margins,
// labels or page length.
Bytes RefThermalPage(const BitPage& page, uint32_t top, uint8_t mode, uint32_t rows,
                     bool locpos) {
  Bytes out = {0x1B, 0x40};
  Append(out, FeedBytes(top));
  for (uint32_t y = top; y < page.height; y += rows) {
    const uint32_t n = std::min(rows, page.height - y);
    Append(out, RefThermalBand(PackBand(page, y, rows), (rows + 7) / 8, mode, locpos, 20));
    Append(out, FeedBytes(n));
  }
  return out;
}

struct DensityCase {
  bool horz;
  bool vert;
  bool locpos;
};

class ThermalRoundTrip : public ::testing::TestWithParam<DensityCase> {};

TEST_P(ThermalRoundTrip, DecodedDotsEqualThePageAndTheReferenceStream) {
  const DensityCase dc = GetParam();
  const uint32_t rows = dc.vert ? 24 : 8;
  const uint8_t mode = static_cast<uint8_t>((dc.vert ? 32 : 0) + (dc.horz ? 1 : 0));
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const uint32_t width = 100 + seed * 97;  // also widths that are not a multiple of 8
    const uint32_t height = 40 + seed * 23;  // ends in a partial band
    const BitPage page = RandomPage(width, height, seed);
    const uint32_t top = seed % 3 == 0 ? 0 : seed * 2;
    BitPage shifted = page;  // rows above `top` are not sent
    for (uint32_t y = 0; y < top; ++y) {
      for (uint32_t x = 0; x < width; ++x) shifted.Set(x, y, false);
    }

    RecordingWriter w;
    PageProcessThermal proc(dc.horz, dc.vert, width, 0, RecordingWriter::Callback, w.Handle());
    proc.m_UseLocPos = dc.locpos;
    DrivePage(proc, shifted, top, true);

    const Bytes stream = w.All();
    EXPECT_EQ(ToHex(RefThermalPage(shifted, top, mode, rows, dc.locpos)), ToHex(stream))
        << "seed " << seed;
    const quillpreview::BitImageStream parsed = quillpreview::ParseBitImageStream(stream);
    ASSERT_EQ("", parsed.error);
    const quillpreview::DotPage dots =
        quillpreview::RebuildDots(parsed, quillpreview::DotGeometry{}, 0, width, height + rows);
    EXPECT_EQ("", quillpreview::CompareDots(dots, 0, shifted)) << "seed " << seed;
    EXPECT_EQ(height, parsed.page_feed_units[0]);  // every row fed, the last band too
  }
}

INSTANTIATE_TEST_SUITE_P(Densities, ThermalRoundTrip,
                         ::testing::Values(DensityCase{true, true, false},
                                           DensityCase{true, true, true},
                                           DensityCase{false, true, false},
                                           DensityCase{false, true, true},
                                           DensityCase{true, false, false},
                                           DensityCase{false, false, true}));

TEST(ThermalPage, ModeBytesFollowTheDensityFlags) {
  EXPECT_EQ(33, PageProcessThermal(true, true, 8, 0, nullptr, nullptr).BitImageMode());
  EXPECT_EQ(32, PageProcessThermal(false, true, 8, 0, nullptr, nullptr).BitImageMode());
  EXPECT_EQ(1, PageProcessThermal(true, false, 8, 0, nullptr, nullptr).BitImageMode());
  EXPECT_EQ(0, PageProcessThermal(false, false, 8, 0, nullptr, nullptr).BitImageMode());
  PageProcessThermal p(true, true, 576, 0, nullptr, nullptr);
  EXPECT_EQ(200, p.m_XUnit);
  EXPECT_EQ(200, p.m_YRes);
  EXPECT_EQ(24, p.m_BandHeight);
  EXPECT_EQ(3, p.m_BandHeightByte);
  EXPECT_TRUE(p.m_NoUseEject);
  EXPECT_TRUE(p.m_UseLocPos);
  EXPECT_EQ(1, p.m_PaperType);
  EXPECT_EQ(8, PageProcessThermal(true, false, 8, 0, nullptr, nullptr).m_BandHeight);
}

// StartPage with the given mechanism width and preset margin; returns the
// write calls.
std::vector<Bytes> StartCalls(uint32_t width, uint32_t max_width, uint32_t left_margin,
                              uint32_t* derived = nullptr) {
  RecordingWriter w;
  PageProcessThermal p(true, true, width, 0, RecordingWriter::Callback, w.Handle());
  p.m_MaxWidth = max_width;
  p.m_LeftMargin = left_margin;
  p.StartPage();
  if (derived != nullptr) *derived = p.m_LeftMargin;
  return w.Calls();
}

TEST(ThermalPage, DerivedMarginCentresAndAllowsForTheMechanismOffset) {
  uint32_t margin = 0;
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 40"), HexBytes("1D 57 00 02"), HexBytes("1D 4C 08 00")}),
            StartCalls(512, 576, 0, &margin));
  EXPECT_EQ(8u, margin);  // (576 - 512) / 2 - 24, kept for later pages
  EXPECT_EQ(HexBytes("1D 4C 48 00"), StartCalls(384, 576, 0).at(2));   // 96 - 24 = 72
  EXPECT_EQ(HexBytes("1D 4C 32 00"), StartCalls(900, 1000, 0).at(2));  // 50: wider than 816
  EXPECT_EQ(HexBytes("1D 4C 05 00"), StartCalls(566, 576, 0).at(2));   // 5 < 24: no allowance
  EXPECT_EQ(HexBytes("1D 4C 00 00"), StartCalls(576, 576, 0).at(2));
}

TEST(ThermalPage, PresetMarginIsSentAsIs) {
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 40"), HexBytes("1D 57 00 02"), HexBytes("1D 4C 0A 00")}),
            StartCalls(512, 576, 10));
  // Without a mechanism width: GS L only.
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 40"), HexBytes("1D 4C 0A 00")}), StartCalls(512, 0, 10));
  // Neither: ESC @ only.
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 40")}), StartCalls(512, 0, 0));
}

TEST(ThermalPage, PageWiderThanTheMechanismGetsNoMarginAndAWarning) {
  quill_test::LogCapture log;
  uint32_t margin = 99;
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 40"), HexBytes("1D 57 58 02")}),
            StartCalls(600, 576, 0, &margin));
  EXPECT_EQ(0u, margin);
  EXPECT_EQ(1, log.Count(spdlog::level::warn,
                         "page width 600 exceeds the printable width 576; no left margin"));
}

TEST(ThermalPage, LabelPaperIsFramedByLabelCommands) {
  RecordingWriter w;
  PageProcessThermal p(true, true, 16, 0, RecordingWriter::Callback, w.Handle());
  p.SetLabel(2, 3);
  p.StartPage();
  p.EndPage();
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 40"), HexBytes("1B 1D 1E 04 31 02 B0 03 1B 1D 1F"),
                                HexBytes("1B 1D 1E 04 32 00 C8 1B 1D 1F")}),
            w.Calls());

  const quillpreview::BitImageStream parsed = quillpreview::ParseBitImageStream(w.All());
  ASSERT_EQ("", parsed.error);
  ASSERT_EQ(2u, parsed.extensions.size());
}

TEST(ThermalPage, StartPageRecordsTheLabelWidthAndMargin) {
  quill_test::LogCapture log;
  RecordingWriter w;
  PageProcessThermal p(true, true, 384, 0, RecordingWriter::Callback, w.Handle());
  p.SetLabel(3, 'A');  // the gap is logged as one raw byte
  p.m_MaxWidth = 576;
  p.StartPage();
  EXPECT_EQ(1, log.Count(spdlog::level::debug, "paper type: 3; gap: A"));
  EXPECT_EQ(1, log.Count(spdlog::level::debug, "max width: 576"));
  EXPECT_EQ(1, log.Count(spdlog::level::debug, "left margin: 72"));
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 40"), HexBytes("1B 1D 1E 04 31 03 B0 41 1B 1D 1F"),
                                HexBytes("1D 57 80 01"), HexBytes("1D 4C 48 00")}),
            w.Calls());
  EXPECT_EQ(72u, p.m_LeftMargin);
  // A second page of the same object keeps the derived margin.
  w.Clear();
  p.m_MaxWidth = 1000;
  p.StartPage();
  EXPECT_EQ(HexBytes("1D 4C 48 00"), w.Calls().back());
}

TEST(ThermalPage, OutOfRangePaperTypeKeepsTheTypeButTakesTheGap) {
  RecordingWriter w;
  PageProcessThermal p(true, true, 16, 0, RecordingWriter::Callback, w.Handle());
  p.SetLabel(5, 3);
  EXPECT_EQ(1, p.m_PaperType);
  EXPECT_EQ(3, p.m_Gap);
  p.StartPage();
  p.EndPage();
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 40")}), w.Calls());  // no label commands
  p.SetLabel(4, 0);
  EXPECT_EQ(4, p.m_PaperType);
}

TEST(ThermalPage, EndPageFeedsToThePageLength) {
  RecordingWriter w;
  PageProcessThermal p(true, true, 16, 1200, RecordingWriter::Callback, w.Handle());
  p.StartPage();
  p.OutputFeed(1000);
  w.Clear();
  p.EndPage();
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 4A C8")}), w.Calls());  // 200 units, no form feed

  RecordingWriter w0;
  PageProcessThermal q(true, true, 16, 0, RecordingWriter::Callback, w0.Handle());
  q.StartPage();
  q.OutputFeed(1000);
  w0.Clear();
  q.EndPage();
  EXPECT_TRUE(w0.Calls().empty());

  // The page length reached: nothing more.
  RecordingWriter w1;
  PageProcessThermal r(true, true, 16, 1000, RecordingWriter::Callback, w1.Handle());
  r.StartPage();
  r.OutputFeed(1000);
  w1.Clear();
  r.EndPage();
  EXPECT_TRUE(w1.Calls().empty());
}

// A 24-row band of 100 columns with dots in the given column ranges (rows
// 0 and 23), sent with positioned segments.
std::vector<Bytes> SegmentCalls(std::vector<std::pair<uint32_t, uint32_t>> runs) {
  BitPage page(100, 24);
  for (auto [a, b] : runs) {
    for (uint32_t x = a; x <= b; ++x) {
      page.Set(x, 0);
      page.Set(x, 23);
    }
  }
  RecordingWriter w;
  PageProcessThermal p(true, true, 100, 0, RecordingWriter::Callback, w.Handle());
  for (uint32_t y = 0; y < 24; ++y) p.OutputLine(page.Row(y), false);
  return w.Calls();
}

TEST(ThermalPage, LongRunIsClosedByTheGapAfterIt) {
  // 25 dots, 30 blank, 10 dots.
  const std::vector<Bytes> calls = SegmentCalls({{0, 24}, {55, 64}});
  ASSERT_EQ(7u, calls.size());
  EXPECT_EQ(HexBytes("1B 24 00 00"), calls[0]);
  EXPECT_EQ(HexBytes("1B 2A 21 19 00"), calls[1]);
  EXPECT_EQ(75u, calls[2].size());
  EXPECT_EQ(HexBytes("1B 24 37 00"), calls[3]);
  EXPECT_EQ(HexBytes("1B 2A 21 0A 00"), calls[4]);
  EXPECT_EQ(30u, calls[5].size());
  EXPECT_EQ(HexBytes("0D"), calls[6]);
}

TEST(ThermalPage, ShortRunCarriesBlankColumnsUpToTheMinimumLength) {
  // 5 dots, 30 blank, 10 dots: the first segment runs to column 19.
  const std::vector<Bytes> calls = SegmentCalls({{0, 4}, {35, 44}});
  ASSERT_EQ(7u, calls.size());
  EXPECT_EQ(HexBytes("1B 2A 21 14 00"), calls[1]);
  EXPECT_EQ(HexBytes("80 00 01"), Bytes(calls[2].begin(), calls[2].begin() + 3));
  EXPECT_EQ(HexBytes("00 00 00"), Bytes(calls[2].end() - 3, calls[2].end()));
  EXPECT_EQ(HexBytes("1B 24 23 00"), calls[3]);
  EXPECT_EQ(HexBytes("1B 2A 21 0A 00"), calls[4]);
}

TEST(ThermalPage, SingleColumnAndLateStartSegments) {
  std::vector<Bytes> calls = SegmentCalls({{0, 0}});
  ASSERT_EQ(4u, calls.size());
  EXPECT_EQ(HexBytes("1B 24 00 00"), calls[0]);
  EXPECT_EQ(HexBytes("1B 2A 21 01 00"), calls[1]);
  calls = SegmentCalls({{0, 0}, {99, 99}});  // a lone last column after a gap
  ASSERT_EQ(7u, calls.size());
  EXPECT_EQ(HexBytes("1B 2A 21 14 00"), calls[1]);  // 0 .. 19
  EXPECT_EQ(HexBytes("1B 24 63 00"), calls[3]);
  EXPECT_EQ(HexBytes("1B 2A 21 01 00"), calls[4]);
}

TEST(ThermalPage, BlankBandSendsOnlyItsFeed) {
  RecordingWriter w;
  PageProcessThermal p(true, true, 64, 0, RecordingWriter::Callback, w.Handle());
  const Bytes blank(8, 0);
  for (int y = 0; y < 24; ++y) p.OutputLine(blank.data(), true);
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 4A 18")}), w.Calls());
}

TEST(ThermalPage, LastPartialBandIsFollowedByItsRows) {
  BitPage page(32, 30);
  page.Set(3, 29);
  RecordingWriter w;
  PageProcessThermal p(true, true, 32, 0, RecordingWriter::Callback, w.Handle());
  p.m_UseLocPos = false;
  DrivePage(p, page, 0, true);
  const std::vector<Bytes>& calls = w.Calls();
  // ESC @, feed 0, the blank first band's feed of 24, then the partial band
  // of 6 rows: graphics, CR and a feed of 6.
  ASSERT_EQ(7u, calls.size());
  EXPECT_EQ(HexBytes("1B 4A 18"), calls[2]);
  EXPECT_EQ(HexBytes("1B 2A 21 04 00"), calls[3]);
  EXPECT_EQ(HexBytes("00 00 00 00 00 00 00 00 00 04 00 00"), calls[4]);
  EXPECT_EQ(HexBytes("0D"), calls[5]);
  EXPECT_EQ(HexBytes("1B 4A 06"), calls[6]);
}

TEST(ThermalPage, EndPageSendsLinesStillHeld) {
  BitPage page(8, 5);
  page.Set(0, 4);
  RecordingWriter w;
  PageProcessThermal p(true, true, 8, 0, RecordingWriter::Callback, w.Handle());
  p.m_UseLocPos = false;
  p.StartPage();
  for (uint32_t y = 0; y < 5; ++y) p.OutputLine(page.Row(y), true);
  p.EndPage();  // no FlushLines before it
  EXPECT_EQ(HexBytes("1B 40 1B 2A 21 01 00 08 00 00 0D 1B 4A 05"), w.All());
}

}  // namespace
