// The exact sequence of band-generator calls each shingling mode makes:
// lines (which row, whole or with which mask, with or without AutoFeed),
// flushes, feeds, directions and band hints, worked out by hand for small
// pages.

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bands/page_process_ink1.h"
#include "common/log_capture.h"
#include "document/ink_sections.h"
#include "document/shingling.h"

namespace {

// A page of 40 pixels a row whose inked rows carry their own number: byte 0
// is FF, bytes 1..4 hold the row number two bits a byte, each bit spread
// over a whole nibble, so that the row can be read back through any of the
// pass masks (each keeps at least one bit of every nibble) and byte 0 shows
// the mask.
class NumberedPage {
 public:
  explicit NumberedPage(uint32_t height) : height_(height), pixels_(size_t{kPitch} * height, 0) {}

  void Ink(uint32_t first, uint32_t end) {
    for (uint32_t r = first; r < end; ++r) {
      uint8_t* row = &pixels_[size_t{r} * kPitch];
      row[0] = 0xFF;
      for (int i = 0; i < 4; ++i) {
        const unsigned two = (r >> (6 - 2 * i)) & 3;
        row[1 + i] = static_cast<uint8_t>(((two & 2) ? 0xF0 : 0) | ((two & 1) ? 0x0F : 0));
      }
    }
  }

  RASTER_INFO Raster() {
    RASTER_INFO ri{};
    ri.img_p = pixels_.data();
    ri.width = 8 * kPitch;
    ri.height = height_;
    ri.pitch = kPitch;
    ri.x_res = ri.y_res = 360;
    ri.bpp = 1;
    return ri;
  }

  static constexpr uint32_t kPitch = 5;

 private:
  uint32_t height_;
  std::vector<uint8_t> pixels_;
};

std::string Hex(uint8_t b) {
  char s[3];
  std::snprintf(s, sizeof s, "%02X", b);
  return s;
}

// Records the calls the shingling step makes, as short words:
//   S, E                  StartPage, EndPage
//   L<row>[:<mask>][+]    OutputLine of that row, masked unless the mask is
//                         FF, "+" with AutoFeed; "-" for a blank line
//   F, F+                 FlushLines(false / true)
//   feed<n>, gfx<n>       OutputFeed(n), OutputFeedGfx(n)
//   D<dir>                OutputDirection(dir)
//   H<height>/<mask>      a band hint, from the four write calls
class RecordingBand : public PageProcessInk1 {
 public:
  RecordingBand(std::vector<std::string>& events, uint32_t width, uint16_t y_unit = 360)
      : PageProcessInk1(360, y_unit, 360, 360, width, 0, 24, nullptr, nullptr), ev_(events) {}

  void StartPage() override { ev_.push_back("S"); }
  void EndPage() override { ev_.push_back("E"); }
  void OutputLine(const void* buf, bool auto_feed) override {
    const auto* b = static_cast<const uint8_t*>(buf);
    std::string w;
    if (b[0] == 0) {
      w = "-";
    } else {
      unsigned row = 0;
      for (int i = 0; i < 4; ++i) {
        row = row << 2 | ((b[1 + i] & 0xF0) ? 2u : 0u) | ((b[1 + i] & 0x0F) ? 1u : 0u);
      }
      w = "L" + std::to_string(row);
      if (b[0] != 0xFF) w += ":" + Hex(b[0]);
    }
    ev_.push_back(w + (auto_feed ? "+" : ""));
  }
  void FlushLines(bool auto_feed) override { ev_.push_back(auto_feed ? "F+" : "F"); }
  void OutputFeed(uint32_t n) override { ev_.push_back("feed" + std::to_string(n)); }
  void OutputFeedGfx(uint32_t n) override { ev_.push_back("gfx" + std::to_string(n)); }
  void OutputDirection(int dir) override { ev_.push_back("D" + std::to_string(dir)); }

 private:
  std::vector<std::string>& ev_;
};

// Collects the band hints written through the job's callback.
struct HintRecorder {
  std::vector<std::string>* events = nullptr;
  std::vector<std::vector<uint8_t>> calls;

  static int Callback(void* hdl, const void* data, unsigned int len) {
    auto* self = static_cast<HintRecorder*>(hdl);
    const auto* b = static_cast<const uint8_t*>(data);
    self->calls.emplace_back(b, b + len);
    if (self->calls.size() == 4) {
      const auto& c = self->calls;
      std::string w = "H" + std::to_string(c[1][0] | c[1][1] << 8) + "/" + Hex(c[2][0]);
      const bool framed = c[0] == std::vector<uint8_t>{0x1B, 0x1D, 0x1E, 0x13, 0x01} &&
                          c[1].size() == 2 && c[2].size() == 1 &&
                          c[3] == std::vector<uint8_t>{0x1B, 0x1D, 0x1F};
      self->events->push_back(framed ? w : "H?");
      self->calls.clear();
    }
    return static_cast<int>(len);
  }
};

struct Calls {
  std::vector<std::string> events;
  std::string Text(bool with_lines = true) const {
    std::string s;
    for (const std::string& e : events) {
      if (!with_lines && (e[0] == 'L' || e[0] == '-')) continue;
      if (!s.empty()) s += ' ';
      s += e;
    }
    return s;
  }
};

// Runs one mode over the page with the sections the pipeline would find.
Calls Shingle(NumberedPage& page, uint16_t mode, uint32_t band, bool unidir = false,
            bool hint = false, uint16_t y_unit = 360) {
  Calls run;
  HintRecorder hints;
  hints.events = &run.events;
  const RASTER_INFO ri = page.Raster();
  const std::vector<uint32_t> rows = CountRowInk(ri);
  const ContentRange range = FindContentRange(rows);
  std::deque<Section> sections = FindSections(rows, range);
  MergeSections(sections, band);
  RecordingBand pp(run.events, ri.width, y_unit);
  ShinglingJob job;
  job.mode = mode;
  job.band_height = band;
  job.prefer_unidir = unidir;
  job.band_hint = hint;
  job.wr_cb = HintRecorder::Callback;
  job.wr_hdl = &hints;
  RunShingling(pp, ri, range, sections, job);
  return run;
}

// Rows [first, end) as words, masked alternately with m0 and m1 starting
// with m0 ("" for whole rows), with AutoFeed when `feed`.
std::string Lines(uint32_t first, uint32_t end, const std::string& m0 = "",
                  const std::string& m1 = "", bool feed = false) {
  std::string s;
  for (uint32_t r = first; r < end; ++r) {
    const std::string& m = (r - first) % 2 == 0 ? m0 : m1;
    if (!s.empty()) s += ' ';
    s += "L" + std::to_string(r) + (m.empty() ? "" : ":" + m) + (feed ? "+" : "");
  }
  return s;
}

TEST(ShinglingCalls, ModeNoneSectionsWithFeedsDirectionAndHints) {
  NumberedPage page(60);
  page.Ink(3, 6);
  page.Ink(9, 11);    // 11 - 3 <= 8: merged with the first, rows 6..8 blank inside
  page.Ink(30, 33);
  const Calls run = Shingle(page, SHINGLING_NONE, 8, true, true);
  EXPECT_EQ(run.Text(), "S gfx3 D1 H8/FF " + Lines(3, 6, "", "", true) + " -+ -+ -+ " +
                            Lines(9, 11, "", "", true) + " F+ gfx19 H3/FF " +
                            Lines(30, 33, "", "", true) + " F E");
}

TEST(ShinglingCalls, ModeNoneBlankPage) {
  NumberedPage page(20);
  EXPECT_EQ(Shingle(page, SHINGLING_NONE, 8).Text(), "S gfx1 E");
}

TEST(ShinglingCalls, BandHintHeightIsInVerticalCommandUnits) {
  NumberedPage page(30);
  page.Ink(4, 9);
  // 720 units per inch over 360 rows per inch: 5 rows are 10 units.
  EXPECT_EQ(Shingle(page, SHINGLING_NONE, 8, false, true, 720).Text(false), "S gfx4 H10/FF F E");
}

TEST(ShinglingCalls, ModeLineSplitsSharedRowsAndPrintsTheRestWhole) {
  NumberedPage page(30);
  page.Ink(2, 30);
  quill_test::LogCapture log;
  const Calls run = Shingle(page, SHINGLING_LINE, 8, true);
  // half = 4, passes advance by 7 (odd: the parity is kept after the second
  // pass). Rows 2..5 are shared by the first two passes, rows 9, 16 and 23
  // by consecutive passes; the later pass prints the complement.
  const std::string expected =
      "S gfx2 D1 " + Lines(2, 6, "AA", "55") + " F feed0 " +   // odd 0
      Lines(2, 6, "55", "AA") + " " + Lines(6, 9) + " L9:AA F gfx7 " +  // odd 1
      "L9:55 " + Lines(10, 16) + " L16:55 F gfx7 " +          // odd 1
      "L16:AA " + Lines(17, 23) + " L23:AA F gfx7 " +         // odd 1
      "L23:55 " + Lines(24, 30) + " F gfx7 E";                // odd 1, 7 rows left
  EXPECT_EQ(run.Text(), expected);
  for (const char* pass : {"<1>2-6[4],odd=0", "<1>2-10[8],odd=1", "<1>9-17[8],odd=1",
                           "<1>16-24[8],odd=1", "<1>23-30[7],odd=1"}) {
    EXPECT_EQ(log.Count(spdlog::level::debug, pass), 1) << pass;
  }
}

TEST(ShinglingCalls, ModeLineParityFlipsAfterAnEvenAdvance) {
  NumberedPage page(20);
  page.Ink(0, 20);
  quill_test::LogCapture log;
  Shingle(page, SHINGLING_LINE, 7);  // half 3, advance 6
  for (const char* pass : {"<1>0-3[3],odd=0", "<1>0-7[7],odd=1", "<1>6-13[7],odd=0",
                           "<1>12-19[7],odd=1", "<1>18-20[2],odd=0"}) {
    EXPECT_EQ(log.Count(spdlog::level::debug, pass), 1) << pass;
  }
}

TEST(ShinglingCalls, ModeHalfBandPassesHintsAndFeeds) {
  NumberedPage page(20);
  page.Ink(3, 18);
  const Calls run = Shingle(page, SHINGLING_HALF_BAND, 8, true, true);
  // half = 4. Mask of row r at parity odd: AA 55 55 AA [2 * odd + r % 2].
  const std::string expected =
      "S gfx3 D1 H4/55 " + Lines(3, 7, "55", "AA") + " F feed0 " +   // odd 0
      "H8/AA " + Lines(3, 11, "AA", "55") + " F gfx4 " +               // odd 1
      "H8/55 " + Lines(7, 15, "55", "AA") + " F gfx4 " +               // odd 0
      "H8/AA " + Lines(11, 18, "AA", "55") + " - F gfx4 " +            // odd 1, row 18 blank
      "H5/55 " + Lines(15, 18, "55", "AA") + " - - F gfx4 E";          // odd 0; y = 19 ends
  EXPECT_EQ(run.Text(), expected);
}

TEST(ShinglingCalls, ModeHalfBandDynaShortAndTallSections) {
  NumberedPage page(40);
  page.Ink(2, 6);     // 4 rows: printed whole
  page.Ink(16, 34);   // 18 rows: passes inside the section
  const Calls run = Shingle(page, SHINGLING_HALF_BAND_DYNA, 8, true, true);
  const std::string expected =
      "S gfx2 D0 H4/FF " + Lines(2, 6, "", "", true) + " F+ gfx10 " +
      "D1 H4/AA " + Lines(16, 20, "AA", "55") + " F feed0 " +
      "H8/55 " + Lines(16, 24, "55", "AA") + " F gfx4 " +
      "H8/AA " + Lines(20, 28, "AA", "55") + " F gfx4 " +
      "H8/55 " + Lines(24, 32, "55", "AA") + " F gfx4 " +
      "H6/AA " + Lines(28, 34, "AA", "55") + " F gfx4 " +
      "H2/55 " + Lines(32, 34, "55", "AA") + " F E";
  EXPECT_EQ(run.Text(), expected);
}

TEST(ShinglingCalls, ModeHalfBandDynaFeedsToTheSectionEndBeforeTheNextSection) {
  NumberedPage page(60);
  page.Ink(0, 11);    // 11 rows, band 8: passes
  page.Ink(30, 32);   // short
  const Calls run = Shingle(page, SHINGLING_HALF_BAND_DYNA, 8);
  // Passes at 0 (half), 0, 4; the one at 4 leaves 7 > 4 rows, so one more at
  // 8 leaves 3: the section ends there, 3 rows above its end.
  EXPECT_EQ(run.Text(false),
            "S gfx0 F feed0 F gfx4 F gfx4 F gfx3 gfx19 F E");
}

TEST(ShinglingCalls, ModeQuarterBandStartUpAndQuarterSteps) {
  NumberedPage page(20);
  page.Ink(4, 16);
  quill_test::LogCapture log;
  const Calls run = Shingle(page, SHINGLING_QUARTER_BAND, 8, false, true);
  // quarter = 2; row r in phase p keeps byte [4p + r % 4] of
  // AA 55 AA 55 | 55 AA 55 AA | AA 55 AA 55 | 55 AA 55 AA.
  const std::string expected =
      "S gfx4 H2/AA " + Lines(4, 6, "AA", "55") + " F feed0 " +     // phase 0
      "H4/55 " + Lines(4, 8, "55", "AA") + " F feed0 " +            // phase 1
      "H6/AA " + Lines(4, 10, "AA", "55") + " F feed0 " +           // phase 2
      "H8/55 " + Lines(4, 12, "55", "AA") + " F gfx2 " +            // phase 3
      "H8/AA " + Lines(6, 14, "AA", "55") + " F gfx2 " +            // phase 0
      "H8/55 " + Lines(8, 16, "55", "AA") + " F gfx2 " +            // phase 1
      "H8/AA " + Lines(10, 16, "AA", "55") + " - - F gfx2 " +       // phase 2
      "H8/55 " + Lines(12, 16, "55", "AA") + " - - - - F gfx2 " +   // phase 3
      "H6/AA " + Lines(14, 16, "AA", "55") + " - - - - F gfx2 E";   // phase 0; y = 16 ends
  EXPECT_EQ(run.Text(), expected);
  EXPECT_TRUE(log.Contains("<1>4-6[2],phase=0"));
  EXPECT_TRUE(log.Contains("<1>4-12[8],phase=3"));
  EXPECT_TRUE(log.Contains("<1>14-20[6],phase=0"));
  EXPECT_FALSE(log.Contains("<1>16-"));
}

TEST(ShinglingCalls, ModeQuarterBandDynaDiagonalMasks) {
  NumberedPage page(40);
  page.Ink(10, 30);
  quill_test::LogCapture log;
  const Calls run = Shingle(page, SHINGLING_QUARTER_BAND_DYNA, 8, true, true);
  // Diagonal masks 88 44 22 11 | 44 22 11 88 | 22 11 88 44 | 11 88 44 22;
  // start-up passes of 2, 4 and 6 rows, then 8-row passes every 2 rows until
  // no more than 2 rows remain.
  const std::string start =
      "S gfx10 D1 H2/22 L10:22 L11:11 F feed0 "
      "H4/11 L10:11 L11:88 L12:44 L13:22 F feed0 "
      "H6/88 L10:88 L11:44 L12:22 L13:11 L14:88 L15:44 F feed0 "
      "H8/44 L10:44 L11:22 L12:11 L13:88 L14:44 L15:22 L16:11 L17:88 F gfx2 ";
  const std::string text = run.Text();
  EXPECT_EQ(text.substr(0, start.size()), start);
  EXPECT_EQ(run.Text(false),
            "S gfx10 D1 H2/22 F feed0 H4/11 F feed0 H6/88 F feed0 H8/44 F gfx2 "
            "H8/88 F gfx2 H8/11 F gfx2 H8/22 F gfx2 H8/44 F gfx2 H8/88 F gfx2 H8/11 F gfx2 "
            "H6/22 F gfx2 H4/44 F gfx2 H2/88 F E");
  EXPECT_TRUE(log.Contains("<1>28-30[2],phase=0"));
  // Every row of the section is printed once in each of the four phases,
  // and the four masks of a row cover it exactly.
  std::vector<unsigned> seen(40, 0);
  for (const std::string& e : run.events) {
    if (e[0] != 'L') continue;
    const size_t colon = e.find(':');
    ASSERT_NE(colon, std::string::npos) << e;
    const unsigned row = std::stoul(e.substr(1, colon - 1));
    const unsigned mask = std::stoul(e.substr(colon + 1), nullptr, 16);
    EXPECT_EQ(seen[row] & mask, 0u) << "row " << row << " printed twice";
    seen[row] |= mask;
  }
  for (uint32_t r = 10; r < 30; ++r) EXPECT_EQ(seen[r], 0xFFu) << r;
}

TEST(ShinglingCalls, ShortBandsAndUnknownModesPrintAsModeNone) {
  NumberedPage page(20);
  page.Ink(5, 8);
  const std::string none = Shingle(page, SHINGLING_NONE, 3).Text();
  EXPECT_EQ(none, "S gfx5 " + Lines(5, 8, "", "", true) + " F E");
  EXPECT_EQ(Shingle(page, SHINGLING_QUARTER_BAND, 3).Text(), none);
  EXPECT_EQ(Shingle(page, SHINGLING_HALF_BAND, 1).Text(), none);
  quill_test::LogCapture log;
  EXPECT_EQ(Shingle(page, 6, 8).Text(), none);
  EXPECT_EQ(log.Count(spdlog::level::warn, "unknown shingling mode 6, printing without shingling"), 1);
}

}  // namespace
