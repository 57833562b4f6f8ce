// The order of lines, passes and feeds of one-bit pages, checked by decoding
// the printer bytes back into dots.

#include <set>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "common/log_capture.h"
#include "doc_proc_util.h"
#include "document/document_process_ink1.h"
#include "document/ink_sections.h"

namespace {

using doc_proc_test::CompareDots;
using doc_proc_test::Decode;
using doc_proc_test::JobParam;
using doc_proc_test::OneBitPage;
using quillpreview::BandCmd;
using quillpreview::DecodedBands;
using quill_test::RecordingWriter;

constexpr uint32_t kGuardRows = 64;  // solid ink after the page's last row

// Prints `page` as the only page of a DocumentProcessInk1 job.
DecodedBands PrintOneBit(OneBitPage& page, uint16_t mode, uint16_t band, const char* options = "",
                         RecordingWriter* keep = nullptr) {
  RecordingWriter local;
  RecordingWriter& writer = keep ? *keep : local;
  CONV_PARAM2 cp = JobParam(writer, options, mode, band, page.height());
  DocumentProcessInk1 doc(&cp);
  RASTER_INFO ri = page.Raster();
  EXPECT_EQ(doc.ProcessPage(&ri), 0);
  return Decode(writer, band);
}

// The pages every mode is run over.
OneBitPage MakePage(int kind) {
  switch (kind) {
    case 0: {  // random dots from row 3 down to the last row
      OneBitPage p(61, 150, kGuardRows);
      p.Scatter(3, 150, 0.35, 7);
      return p;
    }
    case 1: {  // three sections, the last touching the bottom row
      OneBitPage p(40, 150, kGuardRows);
      p.FillRows(5, 9);
      p.Scatter(40, 100, 0.5, 11);
      p.FillRows(140, 150);
      return p;
    }
    case 2: {  // ink only in the last three rows
      OneBitPage p(33, 90, kGuardRows);
      p.FillRows(87, 90);
      return p;
    }
    default: {  // solid from the first row to the last
      OneBitPage p(17, 53, kGuardRows);
      p.FillRows(0, 53);
      return p;
    }
  }
}

class EveryModeTest : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(EveryModeTest, PassesPrintThePageAndNothingElse) {
  const auto [mode, band, kind] = GetParam();
  OneBitPage page = MakePage(kind);
  const DecodedBands out = PrintOneBit(page, static_cast<uint16_t>(mode), static_cast<uint16_t>(band));
  ASSERT_EQ(out.pages.size(), 1u);
  EXPECT_TRUE(out.problems.empty()) << out.problems.front();
  // Union of all passes is the page; nothing below it (no pass read a guard
  // row) or beside it.
  EXPECT_EQ(CompareDots(out.pages[0].planes[0], page), "");

  const bool doubled = mode == SHINGLING_QUARTER_BAND && band >= 4;
  if (!doubled) {
    EXPECT_TRUE(out.double_dots.empty())
        << out.double_dots.size() << " dots printed twice, first at " << out.double_dots[0].row
        << "," << out.double_dots[0].col;
  } else {
    // Mode 4: every dot exactly twice.
    std::set<std::pair<uint32_t, uint32_t>> again;
    for (const auto& d : out.double_dots) again.emplace(d.row, d.col);
    EXPECT_EQ(again.size(), out.double_dots.size()) << "some dot printed three times or more";
    EXPECT_EQ(again.size(), page.Count());
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, EveryModeTest,
                         ::testing::Combine(::testing::Range(0, 6),
                                            ::testing::Values(24, 23, 16, 9, 7, 5, 4, 3, 2, 1),
                                            ::testing::Range(0, 4)),
                         [](const auto& info) {
                           return "mode" + std::to_string(std::get<0>(info.param)) + "_band" +
                                  std::to_string(std::get<1>(info.param)) + "_page" +
                                  std::to_string(std::get<2>(info.param));
                         });

// The rows each graphics command covers, from the decoded stream.
std::vector<std::pair<uint32_t, uint32_t>> GraphicsRows(const DecodedBands& out, uint32_t band) {
  std::vector<std::pair<uint32_t, uint32_t>> rows;
  for (const auto& c : out.Of(BandCmd::kGraphics)) rows.emplace_back(c.top_row, c.top_row + band);
  return rows;
}

TEST(ModeNone, EverySectionOnceWithFeedsBetween) {
  OneBitPage page(16, 120, kGuardRows);
  page.FillRows(10, 14);   // section 1
  page.FillRows(60, 90);   // section 2: a full band and 6 rows
  const DecodedBands out = PrintOneBit(page, SHINGLING_NONE, 24);
  EXPECT_EQ(CompareDots(out.pages[0].planes[0], page), "");
  EXPECT_TRUE(out.double_dots.empty());
  // Feed to the first section, its band, a flush feed of its 4 rows and the
  // feed over the gap; the second section in a full band and the rest.
  EXPECT_EQ(out.Summary(),
            "PL(120) FLAG(0) LM(1522) FEED(10) GFX(m2,n16,x0,y10) CR FEED(4) FEED(46) "
            "GFX(m2,n16,x0,y60) CR FEED(24) GFX(m2,n16,x0,y84) CR FF");
}

TEST(ModeNone, BlankPageIsStartFeedOfOneRowAndEnd) {
  OneBitPage page(16, 50, kGuardRows);
  const DecodedBands out = PrintOneBit(page, SHINGLING_NONE, 24);
  EXPECT_EQ(out.Summary(), "PL(50) FLAG(0) LM(1522) FEED(1) FF");
}

TEST(ModeNone, InkOnlyInRowZeroIsOneSectionOfOneRow) {
  OneBitPage page(16, 50, kGuardRows);
  page.Set(0, 3);
  std::vector<uint32_t> rows = CountRowInk(page.Raster());
  const ContentRange range = FindContentRange(rows);
  EXPECT_EQ(range.top, 0u);
  EXPECT_EQ(range.bottom, 1u);
  EXPECT_EQ(FindSections(rows, range), (std::deque<Section>{{0, 1}}));
  const DecodedBands out = PrintOneBit(page, SHINGLING_NONE, 24);
  EXPECT_EQ(out.Summary(), "PL(50) FLAG(0) LM(1522) FEED(0) GFX(m2,n4,x0,y0) CR FF");
  EXPECT_TRUE(out.pages[0].planes[0].Dot(0, 3));
}

TEST(ModeNone, SectionsWhoseSpanFitsTheBandAreMerged) {
  OneBitPage page(16, 100, kGuardRows);
  page.FillRows(10, 12);
  page.FillRows(20, 34);  // 34 - 10 = 24: one band
  page.FillRows(40, 41);  // 41 - 10 > 24: a section of its own
  std::vector<uint32_t> rows = CountRowInk(page.Raster());
  std::deque<Section> sections = FindSections(rows, FindContentRange(rows));
  EXPECT_EQ(sections, (std::deque<Section>{{10, 12}, {20, 34}, {40, 41}}));
  MergeSections(sections, 24);
  EXPECT_EQ(sections, (std::deque<Section>{{10, 34}, {40, 41}}));

  const DecodedBands out = PrintOneBit(page, SHINGLING_NONE, 24);
  EXPECT_EQ(GraphicsRows(out, 24),
            (std::vector<std::pair<uint32_t, uint32_t>>{{10, 34}, {40, 64}}));
  EXPECT_EQ(CompareDots(out.pages[0].planes[0], page), "");
}

TEST(ModeHalfBand, ContentAtTheBottomStartsWithAClippedPass) {
  OneBitPage page(8, 40, kGuardRows);
  page.FillRows(37, 40);
  quill_test::LogCapture log;
  const DecodedBands out = PrintOneBit(page, SHINGLING_HALF_BAND, 24);
  EXPECT_EQ(CompareDots(out.pages[0].planes[0], page), "");
  EXPECT_TRUE(log.Contains("<1>37-40[3],odd=0"));
  EXPECT_TRUE(log.Contains("<1>37-40[3],odd=1"));
}

TEST(ModeHalfBand, PassesAndHintsOfAnEvenBand) {
  OneBitPage page(8, 100, kGuardRows);
  page.FillRows(10, 30);
  RecordingWriter writer;
  quill_test::LogCapture log;
  const DecodedBands out = PrintOneBit(page, SHINGLING_HALF_BAND, 8, "band_hint=1", &writer);
  EXPECT_EQ(CompareDots(out.pages[0].planes[0], page), "");
  // Half a band at the top, then whole bands advancing by half.
  for (const char* pass : {"<1>10-14[4],odd=0", "<1>10-18[8],odd=1", "<1>14-22[8],odd=0",
                           "<1>18-26[8],odd=1", "<1>22-30[8],odd=0", "<1>26-34[8],odd=1"}) {
    EXPECT_TRUE(log.Contains(pass)) << pass;
  }
  EXPECT_FALSE(log.Contains("<1>30-"));
  // The first hint: 4 rows, the mask of row 10 at parity 0.
  const auto& calls = writer.Calls();
  size_t i = 0;
  while (i < calls.size() && calls[i] != quill_test::HexBytes("1B 1D 1E 13 01")) ++i;
  ASSERT_LT(i + 3, calls.size());
  EXPECT_EQ(calls[i + 1], quill_test::HexBytes("04 00"));
  EXPECT_EQ(calls[i + 2], quill_test::HexBytes("AA"));
  EXPECT_EQ(calls[i + 3], quill_test::HexBytes("1B 1D 1F"));
}

TEST(ModeQuarterBandDyna, TallSectionKeepsGoingUntilTheLastQuarter) {
  OneBitPage page(16, 200, kGuardRows);
  page.FillRows(20, 120);  // 100 rows, taller than the band of 24
  quill_test::LogCapture log;
  const DecodedBands out = PrintOneBit(page, SHINGLING_QUARTER_BAND_DYNA, 24);
  EXPECT_EQ(CompareDots(out.pages[0].planes[0], page), "");
  EXPECT_TRUE(out.double_dots.empty());
  // The start-up at row 20 and the last pass, which begins less than a
  // quarter above the section's end.
  EXPECT_TRUE(log.Contains("<1>20-26[6],phase=0"));
  EXPECT_TRUE(log.Contains("<1>20-32[12],phase=1"));
  EXPECT_TRUE(log.Contains("<1>20-38[18],phase=2"));
  EXPECT_TRUE(log.Contains("<1>20-44[24],phase=3"));
  EXPECT_TRUE(log.Contains("<1>116-120[4],phase="));
}

TEST(ModeDyna, ShortSectionsPrintWholeWithTheirHint) {
  OneBitPage page(16, 100, kGuardRows);
  page.FillRows(10, 20);
  for (uint16_t mode : {SHINGLING_HALF_BAND_DYNA, SHINGLING_QUARTER_BAND_DYNA}) {
    RecordingWriter writer;
    const DecodedBands out = PrintOneBit(page, mode, 24, "band_hint=1:prefer_unidir=1", &writer);
    EXPECT_EQ(CompareDots(out.pages[0].planes[0], page), "");
    const quill_test::Bytes hint_mask = {mode == SHINGLING_HALF_BAND_DYNA ? uint8_t{0xFF} : uint8_t{0x00}};
    const auto& calls = writer.Calls();
    size_t i = 0;
    while (i < calls.size() && calls[i] != quill_test::HexBytes("1B 1D 1E 13 01")) ++i;
    ASSERT_LT(i + 3, calls.size());
    EXPECT_EQ(calls[i - 1], quill_test::HexBytes("1B 55 00"));  // direction before the hint
    EXPECT_EQ(calls[i + 1], quill_test::HexBytes("0A 00"));
    EXPECT_EQ(calls[i + 2], hint_mask);
  }
}

TEST(UnknownMode, PrintsTheSectionsWithAWarning) {
  OneBitPage page(16, 60, kGuardRows);
  page.FillRows(5, 10);
  quill_test::LogCapture log;
  const DecodedBands out = PrintOneBit(page, 9, 24);
  EXPECT_EQ(CompareDots(out.pages[0].planes[0], page), "");
  EXPECT_TRUE(log.Contains("unknown shingling mode 9"));
}

TEST(InkCount, TableCountMatchesBitByBit) {
  std::mt19937 gen(3);
  std::vector<uint8_t> row(40);
  for (auto& b : row) b = static_cast<uint8_t>(gen());
  auto naive = [&](uint32_t b, uint32_t e) {
    uint32_t n = 0;
    for (uint32_t x = b; x < e; ++x) n += (row[x / 8] >> (7 - x % 8)) & 1;
    return n;
  };
  for (uint32_t b = 0; b < 40; ++b)
    for (uint32_t e = b; e <= 320; e += 7) EXPECT_EQ(CountInkBits(row.data(), b, e), naive(b, e)) << b << "," << e;
}

}  // namespace
