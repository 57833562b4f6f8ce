// One-ink band output: pages fed line by line are decoded back into dots
// and compared with the lines; the command framing is checked byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "band_test_util.h"
#include "bands/page_process_ink1.h"
#include "common/log_capture.h"
#include "common/recording_writer.h"
#include "preview/band_decoder.h"

namespace quill_test {
namespace {

// Units, resolutions and the graphics mode byte they select.
struct Units {
  uint16_t x_unit, y_unit, x_res, y_res;
  uint8_t mode;
};

// Every row of the mode table, plus rows that check which row wins.
const Units kModeRows[] = {
    {360, 360, 180, 360, 3},  // ry 1, rx 2
    {360, 360, 360, 360, 2},  // ry 1, rx 1
    {360, 360, 90, 360, 2},   // ry 1, rx 4: the ry 1 row wins over rx 4
    {360, 360, 180, 90, 7},   // ry 4, rx 2
    {720, 360, 90, 90, 5},    // ry 4, rx 8
    {360, 360, 360, 90, 0},   // ry 4, rx 1
    {360, 360, 90, 90, 0},    // ry 4, rx 4: the ry 4 row wins over rx 4
    {360, 720, 180, 90, 6},   // ry 8, rx 2
    {720, 720, 90, 90, 6},    // ry 8, rx 8
    {720, 720, 180, 360, 4},  // ry 2, rx 4
    {720, 720, 90, 360, 8},   // ry 2, rx 8
    {360, 720, 360, 360, 1},  // ry 2, rx 1
};

std::string Name(const Units& u) {
  return std::to_string(u.x_unit) + "/" + std::to_string(u.x_res) + " x " +
         std::to_string(u.y_unit) + "/" + std::to_string(u.y_res);
}

BandGeometry Geometry(const Units& u, uint32_t band_height) {
  BandGeometry g;
  g.x_unit = u.x_unit;
  g.y_unit = u.y_unit;
  g.x_res = u.x_res;
  g.y_res = u.y_res;
  g.band_height = band_height;
  return g;
}

// Head height in vertical units for a band of `lines` lines.
uint16_t HeadFor(const Units& u, uint32_t lines) {
  return static_cast<uint16_t>(lines * u.y_unit / u.y_res);
}

// A page of ink blocks separated by blank gaps of assorted widths around
// the segment threshold, with random dots inside the blocks.
TestPage BlockPage(std::mt19937& rng, uint32_t width, uint32_t height, uint32_t gap) {
  TestPage page(width, height);
  std::bernoulli_distribution dot(0.3);
  uint32_t c = 3;
  uint32_t block = 0;
  while (c < width) {
    const uint32_t len = 5 + (block * 37) % 60;
    for (uint32_t r = 0; r < height; ++r) {
      for (uint32_t x = c; x < c + len && x < width; ++x) {
        if (dot(rng)) page.Set(r, x);
      }
    }
    const uint32_t gaps[] = {gap - 1, gap, gap + 1, 2, gap * 3};
    c += len + gaps[block % 5];
    ++block;
  }
  return page;
}

// Drives a page through the calling order of the pipeline.
void PrintPage(PageProcessInk1& p, const TestPage& page) {
  p.StartPage();
  for (const Bytes& l : page.lines) p.OutputLine(l.data(), true);
  p.EndPage();
}

TEST(Ink1Band, DecodedDotsEqualLinesForEveryModeBandHeightAndPlacement) {
  std::mt19937 rng(11);
  for (const Units& u : kModeRows) {
    for (uint32_t band : {24u, 128u, 180u, 1u}) {
      for (bool loc_pos : {false, true}) {
        const uint32_t height = band == 1 ? 7 : band * 2 + band / 3 + 1;  // ends with a partial band
        const TestPage page = BlockPage(rng, 700, height, u.x_res / 10);
        RecordingWriter out;
        PageProcessInk1 p(u.x_unit, u.y_unit, u.x_res, u.y_res, page.width, 0, HeadFor(u, band),
                          &RecordingWriter::Callback, out.Handle());
        ASSERT_EQ(p.m_BandHeight, band);
        p.m_UseLocPos = loc_pos;
        PrintPage(p, page);

        const std::string what = Name(u) + " band " + std::to_string(band) +
                                 (loc_pos ? " positioned" : "");
        const DecodedBands d = DecodeBands(out.All(), Geometry(u, band));
        EXPECT_TRUE(d.problems.empty()) << what << ": " << d.problems.front();
        EXPECT_TRUE(d.double_dots.empty()) << what;
        ASSERT_EQ(d.pages.size(), 1u) << what;
        EXPECT_EQ(CompareDots(page, 0, page.width, d.pages[0].planes[0]), "") << what;
        EXPECT_EQ(d.pages[0].planes[1].Count(), 0u) << what;
        EXPECT_EQ(d.pages[0].fed_units, uint64_t{height} * u.y_unit / u.y_res) << what;
        const auto gfx = d.Of(BandCmd::kGraphics);
        ASSERT_FALSE(gfx.empty()) << what;
        for (const DecodedCommand& g : gfx) EXPECT_EQ(g.value, u.mode) << what;
        // Segments only with positioning, and more than one per band then.
        const size_t positions = d.Of(BandCmd::kPosition).size();
        if (loc_pos) {
          EXPECT_GT(positions, d.Of(BandCmd::kCarriageReturn).size()) << what;
        } else {
          EXPECT_EQ(positions, 0u) << what;
          EXPECT_EQ(gfx.size(), d.Of(BandCmd::kCarriageReturn).size()) << what;
        }
      }
    }
  }
}

TEST(Ink1Band, FeedsBetweenBandsPlaceLaterLinesFurtherDown) {
  // The pipeline skips blank stretches with feeds instead of blank lines.
  std::mt19937 rng(5);
  const Units u{360, 720, 360, 360, 1};
  TestPage page(300, 400);
  for (uint32_t r = 0; r < 400; ++r) {
    if (r >= 60 && r < 250) continue;  // blank stretch, fed over
    for (uint32_t c = 0; c < 300; c += 1 + rng() % 9) page.Set(r, c);
  }
  RecordingWriter out;
  PageProcessInk1 p(u.x_unit, u.y_unit, u.x_res, u.y_res, page.width, 0, HeadFor(u, 48),
                    &RecordingWriter::Callback, out.Handle());
  p.StartPage();
  p.OutputFeedGfx(0);
  for (uint32_t r = 0; r < 60; ++r) p.OutputLine(page.lines[r].data(), true);
  p.FlushLines(true);
  p.OutputFeedGfx(190);
  for (uint32_t r = 250; r < 400; ++r) p.OutputLine(page.lines[r].data(), true);
  p.EndPage();
  const DecodedBands d = DecodeBands(out.All(), Geometry(u, 48));
  EXPECT_TRUE(d.problems.empty());
  EXPECT_EQ(CompareDots(page, 0, page.width, d.pages[0].planes[0]), "");
}

// Records the band state each time a band is sent.
class BandSpy : public PageProcessInk1 {
 public:
  using PageProcessInk1::PageProcessInk1;
  struct Seen {
    uint8_t vbyte, vbit;
    uint32_t lines;
  };
  std::vector<Seen> seen;
  void OutputBand(bool AutoFeed) override {
    seen.push_back({m_VByte, m_VBit, BandLines()});
    PageProcessInk1::OutputBand(AutoFeed);
  }
};

TEST(Ink1Band, BandOf180LinesIsFullAtTheLastLine) {
  RecordingWriter out;
  BandSpy p(360, 360, 360, 360, 16, 0, 180, &RecordingWriter::Callback, out.Handle());
  EXPECT_EQ(p.m_BandHeight, 180);
  EXPECT_EQ(p.m_BandHeightByte, 23);
  EXPECT_EQ(p.m_BandBufSize, 16u * 23);
  Bytes line = {0x80, 0x01};
  for (int i = 0; i < 179; ++i) p.OutputLine(line.data(), true);
  EXPECT_TRUE(p.seen.empty());
  EXPECT_EQ(p.m_VByte, 22);
  EXPECT_EQ(p.m_VBit, 0x10);
  p.OutputLine(line.data(), true);
  ASSERT_EQ(p.seen.size(), 1u);
  EXPECT_EQ(p.seen[0].vbyte, 22);
  EXPECT_EQ(p.seen[0].vbit, 0x08);
  EXPECT_EQ(p.seen[0].lines, 180u);
  // Emptied after sending.
  EXPECT_EQ(p.m_VByte, 0);
  EXPECT_EQ(p.m_VBit, 0x80);
  const DecodedBands d = DecodeBands(out.All(), Geometry({360, 360, 360, 360, 2}, 180));
  EXPECT_EQ(d.Summary(), "GFX(m2,n16,x0,y0) CR FEED(180)");
  // Column 0 and 15 full over 180 lines; the 4 bits below the band are 0.
  const Bytes data = out.Calls()[1];
  ASSERT_EQ(data.size(), 16u * 23);
  EXPECT_EQ(data[22], 0xF0);
  EXPECT_TRUE(d.problems.empty());
  EXPECT_EQ(d.pages[0].planes[0].Count(), 360u);
}

TEST(Ink1Band, BlankBandSendsNoGraphicsButStillFeeds) {
  RecordingWriter out;
  PageProcessInk1 p(360, 360, 360, 360, 64, 0, 24, &RecordingWriter::Callback, out.Handle());
  const Bytes blank(8, 0);
  for (int i = 0; i < 24; ++i) p.OutputLine(blank.data(), true);
  for (int i = 0; i < 5; ++i) p.OutputLine(blank.data(), true);
  p.FlushLines(true);
  p.FlushLines(true);  // an empty band sends nothing at all
  EXPECT_EQ(ToHex(out.All()), "1B 4A 18 1B 4A 05");
  out.Clear();
  // Without AutoFeed nothing at all.
  for (int i = 0; i < 24; ++i) p.OutputLine(blank.data(), false);
  EXPECT_TRUE(out.Calls().empty());
}

TEST(Ink1Band, TrailingBlankColumnsAreNotSent) {
  RecordingWriter out;
  PageProcessInk1 p(360, 360, 360, 360, 1000, 0, 24, &RecordingWriter::Callback, out.Handle());
  TestPage page(1000, 24);
  page.Fill(3, 4, 0, 10);
  for (const Bytes& l : page.lines) p.OutputLine(l.data(), true);
  ASSERT_EQ(out.Calls().size(), 4u);
  EXPECT_EQ(ToHex(out.Calls()[0]), "1B 2A 02 0A 00");
  ASSERT_EQ(out.Calls()[1].size(), 30u);
  for (size_t c = 0; c < 10; ++c) {
    EXPECT_EQ(ToHex(Bytes(out.Calls()[1].begin() + c * 3, out.Calls()[1].begin() + c * 3 + 3)),
              "10 00 00");
  }
  EXPECT_EQ(ToHex(out.Calls()[2]), "0D");
  EXPECT_EQ(ToHex(out.Calls()[3]), "1B 4A 18");
}

// Decoded command summary of one band of `width` columns with dots in the
// given column ranges, printed with positioning.
std::string PositionedBand(const Units& u, uint32_t width,
                           std::vector<std::pair<uint32_t, uint32_t>> ranges,
                           std::vector<Bytes>* calls = nullptr) {
  RecordingWriter out;
  PageProcessInk1 p(u.x_unit, u.y_unit, u.x_res, u.y_res, width, 0, HeadFor(u, 24),
                    &RecordingWriter::Callback, out.Handle());
  p.m_UseLocPos = true;
  TestPage page(width, 24);
  for (const auto& [c0, c1] : ranges) page.Fill(0, 24, c0, c1 + 1);
  for (const Bytes& l : page.lines) p.OutputLine(l.data(), true);
  if (calls != nullptr) *calls = out.Calls();
  const DecodedBands d = DecodeBands(out.All(), Geometry(u, 24));
  EXPECT_TRUE(d.problems.empty());
  EXPECT_EQ(CompareDots(page, 0, width, d.pages[0].planes[0]), "");
  return d.Summary();
}

TEST(Ink1Band, PositionedSegmentsSplitAtGapsOfATenthInch) {
  const Units u{720, 360, 360, 360, 3};  // T = 36 columns, positions in 1/720 inch
  std::vector<Bytes> calls;
  EXPECT_EQ(PositionedBand(u, 1000, {{0, 99}, {200, 299}}, &calls),
            "POS(0) GFX(m3,n100,x0,y0) POS(400) GFX(m3,n100,x200,y0) CR FEED(24)");
  ASSERT_EQ(calls.size(), 8u);
  EXPECT_EQ(ToHex(calls[0]), "1B 24 00 00");
  EXPECT_EQ(ToHex(calls[1]), "1B 2A 03 64 00");
  EXPECT_EQ(calls[2].size(), 300u);
  EXPECT_EQ(ToHex(calls[3]), "1B 24 90 01");
  // A gap of 36 blank columns splits, one of 35 does not.
  EXPECT_EQ(PositionedBand(u, 1000, {{0, 99}, {136, 140}}),
            "POS(0) GFX(m3,n100,x0,y0) POS(272) GFX(m3,n5,x136,y0) CR FEED(24)");
  EXPECT_EQ(PositionedBand(u, 1000, {{0, 99}, {135, 140}}),
            "POS(0) GFX(m3,n141,x0,y0) CR FEED(24)");
  // Leading blank columns are skipped by the first position.
  EXPECT_EQ(PositionedBand(u, 1000, {{50, 60}}), "POS(100) GFX(m3,n11,x50,y0) CR FEED(24)");
  // Short gaps anywhere, also near the end, stay inside the segment.
  EXPECT_EQ(PositionedBand(u, 1000, {{0, 9}, {30, 30}, {60, 61}}),
            "POS(0) GFX(m3,n62,x0,y0) CR FEED(24)");
  // Several splits in a row.
  EXPECT_EQ(PositionedBand(u, 1000, {{10, 10}, {100, 100}, {500, 600}, {999, 999}}),
            "POS(20) GFX(m3,n1,x10,y0) POS(200) GFX(m3,n1,x100,y0) POS(1000) "
            "GFX(m3,n101,x500,y0) POS(1998) GFX(m3,n1,x999,y0) CR FEED(24)");
}

// The segment rule of positioned band output, step by step as written:
// returns the [first, last] column pairs of the segments of a band whose
// columns are blank where `blank` says so, cw = content width, T = gap.
std::vector<std::pair<uint32_t, uint32_t>> PlainSegments(const std::vector<bool>& blank,
                                                         uint32_t cw, uint32_t T) {
  std::vector<std::pair<uint32_t, uint32_t>> segs;
  uint32_t c = 0;
  for (;;) {
    while (c < cw && blank[c]) ++c;  // step a
    if (c >= cw) return segs;
    const uint32_t s = c;
    if (s == cw - 1) {  // step c
      segs.push_back({s, s});
      return segs;
    }
    for (uint32_t i = s + 1;; ++i) {  // step b
      bool gap = cw - i >= T;
      for (uint32_t k = i; gap && k < i + T; ++k) gap = blank[k];
      if (gap) {
        segs.push_back({s, i - 1});
        c = i + T;
        break;
      }
      if (i == cw - 1) {
        segs.push_back({s, cw - 1});
        return segs;
      }
    }
  }
}

TEST(Ink1Band, PositionedSegmentsFollowTheGapRuleOnRandomBands) {
  std::mt19937 rng(17);
  for (uint16_t x_res : {5, 10, 20, 90, 360, 720}) {
    const uint32_t T = x_res / 10u;
    for (int round = 0; round < 60; ++round) {
      // Positions of every column fit the 16 bits of the command.
      const uint32_t width = 1 + rng() % std::min(600u, 65535u * x_res / 720u);
      // Runs of ink and blank columns with lengths around the threshold.
      std::vector<bool> blank(width, true);
      bool ink = rng() % 2 == 0;
      for (uint32_t c = 0; c < width;) {
        const uint32_t len = 1 + rng() % (T + 3 + (rng() % 4 == 0 ? 2 * T : 0));
        for (uint32_t k = c; k < c + len && k < width; ++k) blank[k] = !ink;
        c += len;
        ink = !ink;
      }
      TestPage page(width, 3);
      for (uint32_t c = 0; c < width; ++c) {
        if (!blank[c]) page.Set(rng() % 3, c);
      }
      uint32_t cw = width;
      while (cw > 0 && blank[cw - 1]) --cw;

      RecordingWriter out;
      // A band of 8 lines holding 3: sent by the explicit OutputBand below.
      PageProcessInk1 p(720, 360, x_res, 360, width, 0, 8, &RecordingWriter::Callback,
                        out.Handle());
      p.m_UseLocPos = true;
      for (const Bytes& l : page.lines) p.OutputLine(l.data(), false);
      p.OutputBand(false);

      std::vector<Bytes> expected;
      const uint8_t mode = x_res == 360 ? 3 : 2;  // ry 1: rx 2 or any other
      for (const auto& [first, last] : PlainSegments(blank, cw, T)) {
        Bytes pos = {0x1B, 0x24};
        const uint32_t units = 720u * first / x_res;
        pos.push_back(static_cast<uint8_t>(units));
        pos.push_back(static_cast<uint8_t>(units >> 8));
        expected.push_back(pos);
        const uint32_t n = last - first + 1;
        expected.push_back({0x1B, 0x2A, mode, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)});
        expected.push_back(Bytes(p.m_pBandBuf + first, p.m_pBandBuf + first + n));
      }
      if (cw > 0) expected.push_back({0x0D});
      const std::vector<Bytes>& got = out.Calls();
      size_t i = 0;
      while (i < got.size() && i < expected.size() && got[i] == expected[i]) ++i;
      ASSERT_TRUE(i == got.size() && i == expected.size())
          << "x_res " << x_res << " round " << round << " width " << width << ": call " << i
          << " is " << (i < got.size() ? ToHex(got[i]) : "missing") << ", expected "
          << (i < expected.size() ? ToHex(expected[i]) : "none");
    }
  }
}

TEST(Ink1Band, OneColumnBandIsAOneColumnSegment) {
  const Units u{360, 360, 360, 360, 2};
  EXPECT_EQ(PositionedBand(u, 100, {{37, 37}}), "POS(37) GFX(m2,n1,x37,y0) CR FEED(24)");
  EXPECT_EQ(PositionedBand(u, 100, {{0, 0}}), "POS(0) GFX(m2,n1,x0,y0) CR FEED(24)");
  EXPECT_EQ(PositionedBand(u, 100, {{99, 99}}), "POS(99) GFX(m2,n1,x99,y0) CR FEED(24)");
}

TEST(Ink1Band, PositionedSegmentsBelowTenDotsPerInchStillEnd) {
  // A threshold of 0 columns makes every column its own segment.
  const Units u{360, 360, 5, 360, 2};
  EXPECT_EQ(PositionedBand(u, 10, {{0, 1}, {3, 3}}),
            "POS(0) GFX(m2,n1,x0,y0) POS(72) GFX(m2,n1,x1,y0) POS(216) GFX(m2,n1,x3,y0) CR "
            "FEED(24)");
}

TEST(Ink1Band, FeedsAreSplitIntoStepsOf255Units) {
  RecordingWriter out;
  PageProcessInk1 p(360, 360, 360, 360, 8, 0, 24, &RecordingWriter::Callback, out.Handle());
  const std::pair<uint32_t, std::vector<std::string>> cases[] = {
      {0, {"1B 4A 00"}},
      {1, {"1B 4A 01"}},
      {254, {"1B 4A FE"}},
      {255, {"1B 4A FF"}},
      {256, {"1B 4A FF", "1B 4A 01"}},
      {510, {"1B 4A FF", "1B 4A FF"}},
      {600, {"1B 4A FF", "1B 4A FF", "1B 4A 5A"}},
  };
  uint32_t total = 0;
  for (const auto& [length, expected] : cases) {
    out.Clear();
    p.OutputFeed(length);
    total += length;
    std::vector<std::string> got;
    for (const Bytes& call : out.Calls()) got.push_back(ToHex(call));
    EXPECT_EQ(got, expected) << length;
    EXPECT_EQ(p.m_CurScanLine, total);
  }
  // Raster lines map through the units: 30 lines at 720/360 are 60 units.
  PageProcessInk1 q(360, 720, 360, 360, 8, 0, 48, &RecordingWriter::Callback, out.Handle());
  out.Clear();
  q.OutputFeedGfx(30);
  EXPECT_EQ(ToHex(out.All()), "1B 4A 3C");
}

TEST(Ink1Band, StartPageFramesThePage) {
  struct Case {
    uint32_t page_length;
    bool last;
    uint16_t x_unit, x_res;
    uint32_t width;
    std::string expected;
  };
  const Case cases[] = {
      // 8.5 inches = 3060 units; (3060 - 2000) / 2 = 530 = 0x212.
      {0, true, 360, 360, 2000, "1B 26 6C 4C 00 1B 26 61 4C 12 02"},
      {1, true, 360, 360, 2000, "1B 28 43 02 00 01 00 1B 26 6C 4C 00 1B 26 61 4C 12 02"},
      {65535, false, 360, 360, 2000, "1B 28 43 02 00 FF FF 1B 26 6C 4C 01 1B 26 61 4C 12 02"},
      {70000, true, 360, 360, 2000, "1B 26 6C 4C 00 1B 26 61 4C 12 02"},
      // An odd difference is halved down: (3060 - 2001) >> 1 = 529.
      {0, true, 360, 360, 2001, "1B 26 6C 4C 00 1B 26 61 4C 11 02"},
      // Wider than the carriage: no margin.
      {0, true, 360, 360, 4000, "1B 26 6C 4C 00 1B 26 61 4C 00 00"},
      // 6120 units of 1/720 inch, image 2000 dots at 360 dpi = 4000 units.
      {0, true, 720, 360, 2000, "1B 26 6C 4C 00 1B 26 61 4C 24 04"},
  };
  for (const Case& c : cases) {
    RecordingWriter out;
    PageProcessInk1 p(c.x_unit, 360, c.x_res, 360, c.width, c.page_length, 24,
                      &RecordingWriter::Callback, out.Handle());
    p.m_IsLastPage = c.last;
    p.m_CurScanLine = 99;
    p.StartPage();
    EXPECT_EQ(ToHex(out.All()), c.expected) << c.page_length << " " << c.width;
    EXPECT_EQ(p.m_CurScanLine, 0u);
    // One call per command.
    EXPECT_EQ(out.Calls().size(), c.page_length >= 1 && c.page_length <= 65535 ? 3u : 2u);
  }
}

TEST(Ink1Band, EndPageFlushesThenEjectsOrFeedsToTheBottom) {
  TestPage page(16, 30);
  page.Fill(0, 30, 2, 3);
  struct Case {
    uint32_t page_length;
    bool no_eject;
    std::string tail;  // after the two bands
  };
  const Case cases[] = {
      {0, false, ""},
      {0, true, ""},
      {1000, false, " FF"},
      {1000, true, " FEED(255) FEED(255) FEED(255) FEED(205)"},
      {30, false, ""},  // reached exactly
      {20, true, ""},   // passed
  };
  for (const Case& c : cases) {
    RecordingWriter out;
    PageProcessInk1 p(360, 360, 360, 360, page.width, c.page_length, 24,
                      &RecordingWriter::Callback, out.Handle());
    p.m_NoUseEject = c.no_eject;
    for (const Bytes& l : page.lines) p.OutputLine(l.data(), true);
    p.EndPage();
    const DecodedBands d = DecodeBands(out.All(), Geometry({360, 360, 360, 360, 2}, 24));
    EXPECT_EQ(d.Summary(),
              "GFX(m2,n3,x0,y0) CR FEED(24) GFX(m2,n3,x0,y24) CR FEED(6)" + c.tail)
        << c.page_length;
    EXPECT_EQ(CompareDots(page, 0, page.width, d.pages[0].planes[0]), "");
  }
}

TEST(Ink1Band, DirectionCommand) {
  RecordingWriter out;
  PageProcessInk1 p(360, 360, 360, 360, 8, 0, 24, &RecordingWriter::Callback, out.Handle());
  p.OutputDirection(0);
  p.OutputDirection(1);
  p.OutputDirection(-3);
  ASSERT_EQ(out.Calls().size(), 3u);
  EXPECT_EQ(ToHex(out.All()), "1B 55 00 1B 55 01 1B 55 01");
}

TEST(Ink1Band, OutputBandLeavesTheBandAndInitEmptiesIt) {
  RecordingWriter out;
  PageProcessInk1 p(360, 360, 360, 360, 8, 0, 24, &RecordingWriter::Callback, out.Handle());
  const Bytes line = {0x81};
  for (int i = 0; i < 3; ++i) p.OutputLine(line.data(), true);
  p.OutputBand(false);
  p.OutputBand(true);
  EXPECT_EQ(p.m_VBit, 0x10);
  const DecodedBands d = DecodeBands(out.All(), Geometry({360, 360, 360, 360, 2}, 24));
  EXPECT_EQ(d.Summary(), "GFX(m2,n8,x0,y0) CR GFX(m2,n8,x0,y0) CR FEED(3)");
  EXPECT_EQ(d.double_dots.size(), 6u);
  p.Init();
  EXPECT_EQ(p.m_VBit, 0x80);
  EXPECT_EQ(p.m_VByte, 0);
  out.Clear();
  p.FlushLines(true);
  EXPECT_TRUE(out.Calls().empty());
}

TEST(Ink1Band, CalcContentWidth) {
  std::vector<uint8_t> band(10 * 3, 0);
  EXPECT_EQ(PageProcessInk1::CalcContentWidth(band.data(), 10, 3), 0u);
  EXPECT_EQ(PageProcessInk1::CalcContentWidth(band.data(), 0, 3), 0u);
  EXPECT_EQ(PageProcessInk1::CalcContentWidth(band.data(), 10, 0), 10u);
  band[5 * 3 + 1] = 0x40;
  EXPECT_EQ(PageProcessInk1::CalcContentWidth(band.data(), 10, 3), 6u);
  band[29] = 0x01;
  EXPECT_EQ(PageProcessInk1::CalcContentWidth(band.data(), 10, 3), 10u);
  band.assign(1, 0x01);
  EXPECT_EQ(PageProcessInk1::CalcContentWidth(band.data(), 1, 1), 1u);
}

TEST(Ink1Band, LogRecords) {
  LogCapture log;
  RecordingWriter out;
  PageProcessInk1 p(360, 360, 360, 360, 2000, 100, 24, &RecordingWriter::Callback, out.Handle());
  p.StartPage();
  const Bytes line(250, 0x01);
  for (int i = 0; i < 24; ++i) p.OutputLine(line.data(), true);
  p.EndPage();
  EXPECT_EQ(log.Count(spdlog::level::debug, "last page"), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "left margin: 530"), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "feed 24"), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "page content height=24/100[360|360]"), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "eject page"), 1);
  log.Clear();
  PageProcessInk1 q(360, 360, 360, 360, 16, 100, 24, &RecordingWriter::Callback, out.Handle());
  q.m_IsLastPage = false;
  q.m_NoUseEject = true;
  q.StartPage();
  q.EndPage();
  EXPECT_EQ(log.Count(spdlog::level::debug, "middle page"), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "feed to bottom"), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "feed 100"), 1);
}

TEST(Ink1Band, UnitMappingFormsTheProductBeforeTruncating) {
  PageProcessInk1 p(720, 1440, 300, 600, 8, 0, 24, nullptr, nullptr);
  EXPECT_EQ(p.MapGfxToUnitX(1), 2u);      // 720 / 300 = 2.4
  EXPECT_EQ(p.MapGfxToUnitX(5), 12u);     // 3600 / 300, not 5 * 2
  EXPECT_EQ(p.MapGfxToUnitX(65535), 157284u);
  EXPECT_EQ(p.MapGfxToUnitY(7), 16u);     // 10080 / 600 = 16.8
  EXPECT_EQ(p.MapGfxToUnitY(100000), 240000u);
  EXPECT_EQ(p.MapUnitYToGfx(5), 2u);      // 3000 / 1440 = 2.08
  EXPECT_EQ(p.MapUnitYToGfx(65535), 27306u);
}

TEST(Ink1Band, ConstructorDerivesTheBandFromTheHead) {
  // 180 units of 1/360 inch at 300 dpi: 150 lines, 19 bytes a column.
  PageProcessInk1 p(360, 360, 300, 300, 1001, 7000, 180, nullptr, nullptr);
  EXPECT_EQ(p.m_XUnit, 360);
  EXPECT_EQ(p.m_YRes, 300);
  EXPECT_EQ(p.m_Width, 1001u);
  EXPECT_EQ(p.m_PageLength, 7000u);
  EXPECT_EQ(p.m_FeedStride, 180);
  EXPECT_EQ(p.m_BandHeight, 150);
  EXPECT_EQ(p.m_BandHeightByte, 19);
  EXPECT_EQ(p.m_BandBufSize, 1001u * 19);
  EXPECT_EQ(p.m_VBit, 0x80);
  EXPECT_EQ(p.m_VByte, 0);
  EXPECT_TRUE(p.m_IsLastPage);
  EXPECT_FALSE(p.m_NoUseEject);
  EXPECT_FALSE(p.m_UseLocPos);
  ASSERT_NE(p.m_pBandBuf, nullptr);
  for (uint32_t i = 0; i < p.m_BandBufSize; ++i) ASSERT_EQ(p.m_pBandBuf[i], 0) << i;
}

TEST(Ink1Band, BandIsFullAtItsLastLineForEveryHeight) {
  struct Case {
    uint16_t head;  // = lines at 360 dpi
    uint8_t vbyte, vbit;
  };
  for (const Case& c : {Case{150, 18, 0x02}, Case{128, 16, 0x80}, Case{24, 3, 0x80},
                        Case{9, 1, 0x40}, Case{7, 0, 0x01}, Case{1, 0, 0x40}}) {
    RecordingWriter out;
    BandSpy p(360, 360, 360, 360, 8, 0, c.head, &RecordingWriter::Callback, out.Handle());
    const Bytes line = {0x01};
    for (int i = 1; i < c.head; ++i) p.OutputLine(line.data(), false);
    EXPECT_TRUE(p.seen.empty()) << c.head;
    p.OutputLine(line.data(), true);
    ASSERT_EQ(p.seen.size(), 1u) << c.head;
    EXPECT_EQ(p.seen[0].vbyte, c.vbyte) << c.head;
    EXPECT_EQ(p.seen[0].vbit, c.vbit) << c.head;
    EXPECT_EQ(p.seen[0].lines, c.head);
    const DecodedBands d = DecodeBands(out.All(), Geometry({360, 360, 360, 360, 2}, c.head));
    EXPECT_EQ(d.Summary(), "GFX(m2,n8,x0,y0) CR FEED(" + std::to_string(c.head) + ")");
    EXPECT_TRUE(d.problems.empty()) << c.head;
    EXPECT_EQ(d.pages[0].planes[0].Count(), c.head);
  }
}

// Logs the virtual operations the band generator calls on itself.
class CallSpy : public PageProcessInk1 {
 public:
  using PageProcessInk1::PageProcessInk1;
  std::vector<std::string> calls;
  void FlushLines(bool AutoFeed) override {
    calls.push_back(std::string("FlushLines(") + (AutoFeed ? "1)" : "0)"));
    PageProcessInk1::FlushLines(AutoFeed);
  }
  void OutputBand(bool AutoFeed) override {
    calls.push_back(std::string("OutputBand(") + (AutoFeed ? "1)" : "0)"));
    PageProcessInk1::OutputBand(AutoFeed);
  }
  void Init() override {
    calls.push_back("Init");
    PageProcessInk1::Init();
  }
  void OutputFeed(uint32_t Length) override {
    calls.push_back("OutputFeed(" + std::to_string(Length) + ")");
    PageProcessInk1::OutputFeed(Length);
  }
  void OutputFeedGfx(uint32_t Length) override {
    calls.push_back("OutputFeedGfx(" + std::to_string(Length) + ")");
    PageProcessInk1::OutputFeedGfx(Length);
  }
};

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v) s += (s.empty() ? "" : " ") + x;
  return s;
}

TEST(Ink1Band, OperationsCallEachOtherThroughTheVirtualTable) {
  // 8 lines a band at 180 dpi; feeds in 1/360 inch.
  CallSpy p(360, 360, 360, 180, 8, 0, 16, nullptr, nullptr);
  const Bytes line = {0x80};
  // A full band is sent and emptied without Init.
  for (int i = 0; i < 8; ++i) p.OutputLine(line.data(), true);
  EXPECT_EQ(Join(p.calls), "OutputBand(1) OutputFeedGfx(8) OutputFeed(16)");
  p.calls.clear();
  for (int i = 0; i < 8; ++i) p.OutputLine(line.data(), false);
  EXPECT_EQ(Join(p.calls), "OutputBand(0)");
  p.calls.clear();
  // An empty band is not sent, but still emptied.
  p.FlushLines(true);
  EXPECT_EQ(Join(p.calls), "FlushLines(1) Init");
  p.calls.clear();
  p.OutputLine(line.data(), false);
  p.OutputLine(nullptr, false);
  p.OutputLine(line.data(), false);
  p.FlushLines(false);
  EXPECT_EQ(Join(p.calls), "FlushLines(0) OutputBand(0) Init");
  p.calls.clear();
  p.OutputLine(line.data(), false);
  p.EndPage();
  EXPECT_EQ(Join(p.calls), "FlushLines(1) OutputBand(1) OutputFeedGfx(1) OutputFeed(2) Init");
  p.calls.clear();
  p.OutputFeedGfx(3);
  EXPECT_EQ(Join(p.calls), "OutputFeedGfx(3) OutputFeed(6)");
}

// Hosts can hand in geometry the printer cannot describe; the processor
// keeps its memory and its output sound instead.
TEST(Ink1Band, HeadMappingToNoLinePrintsOneLinePerBand) {
  RecordingWriter out;
  PageProcessInk1 p(360, 720, 360, 360, 16, 0, 1, &RecordingWriter::Callback, out.Handle());
  EXPECT_EQ(p.m_BandHeight, 1);
  EXPECT_EQ(p.m_BandHeightByte, 1);
  TestPage page(16, 3);
  page.Fill(0, 3, 0, 16);
  for (const Bytes& l : page.lines) p.OutputLine(l.data(), true);
  const DecodedBands d = DecodeBands(out.All(), Geometry({360, 720, 360, 360, 1}, 1));
  EXPECT_EQ(d.Summary(),
            "GFX(m1,n16,x0,y0) CR FEED(2) GFX(m1,n16,x0,y1) CR FEED(2) GFX(m1,n16,x0,y2) CR FEED(2)");
  EXPECT_EQ(CompareDots(page, 0, 16, d.pages[0].planes[0]), "");
}

TEST(Ink1Band, BandsAreLimitedToWhatTheLineCounterHolds) {
  RecordingWriter out;
  PageProcessInk1 p(360, 360, 360, 360, 4, 0, 3000, &RecordingWriter::Callback, out.Handle());
  EXPECT_EQ(p.m_BandHeight, 2040);
  EXPECT_EQ(p.m_BandHeightByte, 255);
  const Bytes line = {0xF0};
  for (int i = 0; i < 2041; ++i) p.OutputLine(line.data(), true);
  p.FlushLines(true);
  const DecodedBands d = DecodeBands(out.All(), Geometry({360, 360, 360, 360, 2}, 2040));
  EXPECT_TRUE(d.problems.empty());
  EXPECT_EQ(d.pages[0].planes[0].Count(), 2041u * 4);
  EXPECT_TRUE(d.double_dots.empty());
}

TEST(Ink1Band, ZeroResolutionsDoNotFault) {
  RecordingWriter out;
  PageProcessInk1 p(360, 360, 0, 0, 16, 500, 24, &RecordingWriter::Callback, out.Handle());
  p.m_UseLocPos = true;
  p.StartPage();
  const Bytes line = {0xFF, 0x01};
  for (int i = 0; i < 30; ++i) p.OutputLine(line.data(), true);
  p.EndPage();
  EXPECT_FALSE(out.Calls().empty());
}

TEST(Ink1Band, BandsWiderThanACommandCanCountAreCut) {
  RecordingWriter out;
  const uint32_t width = 70000;
  PageProcessInk1 p(360, 360, 360, 360, width, 0, 8, &RecordingWriter::Callback, out.Handle());
  Bytes line((width + 7) / 8, 0);
  line[1] = 0x20;                   // column 10
  line[69999 / 8] = 0x01;           // column 69999, beyond 65535
  for (int i = 0; i < 8; ++i) p.OutputLine(line.data(), true);
  EXPECT_EQ(ToHex(out.Calls()[0]), "1B 2A 02 0B 00");
}

}  // namespace
}  // namespace quill_test
