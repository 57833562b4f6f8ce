// Two-colour band output: each band goes out once per colour plane; the
// decoded planes must equal the two halves of the lines fed.
#include <gtest/gtest.h>

#include <random>

#include "band_test_util.h"
#include "bands/page_process_ink3.h"
#include "common/recording_writer.h"
#include "preview/band_decoder.h"

namespace quill_test {
namespace {

BandGeometry Geometry360(uint32_t band_height) {
  BandGeometry g;
  g.band_height = band_height;
  return g;
}

// A two-plane page: `black` and `red` are `plane` columns wide each.
TestPage TwoPlanes(const TestPage& black, const TestPage& red) {
  const uint32_t plane = black.width;
  TestPage page(plane * 2, static_cast<uint32_t>(black.lines.size()));
  for (uint32_t r = 0; r < page.lines.size(); ++r) {
    for (uint32_t c = 0; c < plane; ++c) {
      if (black.Dot(r, c)) page.Set(r, c);
      if (red.Dot(r, c)) page.Set(r, plane + c);
    }
  }
  return page;
}

std::string Band(uint32_t plane, uint32_t height, bool swap, bool dup, bool loc_pos,
                 const std::vector<std::pair<uint32_t, uint32_t>>& black_dots,
                 const std::vector<std::pair<uint32_t, uint32_t>>& red_dots) {
  TestPage black(plane, height), red(plane, height);
  for (const auto& [r, c] : black_dots) black.Set(r, c);
  for (const auto& [r, c] : red_dots) red.Set(r, c);
  const TestPage page = TwoPlanes(black, red);
  RecordingWriter out;
  PageProcessInk3 p(360, 360, 360, 360, page.width, 0, 24, &RecordingWriter::Callback,
                    out.Handle());
  p.m_SwapRedBlack = swap;
  p.m_DupRed = dup;
  p.m_UseLocPos = loc_pos;
  for (const Bytes& l : page.lines) p.OutputLine(l.data(), true);
  p.FlushLines(true);
  return DecodeBands(out.All(), Geometry360(24)).Summary();
}

TEST(Ink3Band, ConstructionClearsTheColourFlags) {
  PageProcessInk3 p(360, 360, 360, 360, 100, 0, 24, nullptr, nullptr);
  EXPECT_FALSE(p.m_SwapRedBlack);
  EXPECT_FALSE(p.m_DupRed);
  EXPECT_TRUE(p.m_IsLastPage);
  EXPECT_FALSE(p.m_NoUseEject);
  EXPECT_FALSE(p.m_UseLocPos);
}

TEST(Ink3Band, PassOrder) {
  // Red only: black is selected but sends nothing.
  EXPECT_EQ(Band(100, 24, false, false, false, {}, {{0, 4}}),
            "COL(0) COL(1) GFX(m2,n5,x0,y0) CR FEED(24)");
  EXPECT_EQ(Band(100, 24, false, false, false, {{0, 9}}, {{1, 4}}),
            "COL(0) GFX(m2,n10,x0,y0) CR COL(1) GFX(m2,n5,x0,y0) CR FEED(24)");
  // Duplicated red: a zero feed between the two red passes, one band feed.
  EXPECT_EQ(Band(100, 24, false, true, false, {{0, 9}}, {{1, 4}}),
            "COL(0) GFX(m2,n10,x0,y0) CR COL(1) GFX(m2,n5,x0,y0) CR FEED(0) COL(1) "
            "GFX(m2,n5,x0,y0) CR FEED(24)");
  // Swapped: the second half is colour 0, the first half colour 1.
  EXPECT_EQ(Band(100, 24, true, false, false, {{0, 9}}, {{1, 4}}),
            "COL(0) GFX(m2,n5,x0,y0) CR COL(1) GFX(m2,n10,x0,y0) CR FEED(24)");
  EXPECT_EQ(Band(100, 24, true, true, false, {{0, 9}}, {}),
            "COL(0) COL(1) GFX(m2,n10,x0,y0) CR FEED(0) COL(1) GFX(m2,n10,x0,y0) CR FEED(24)");
  // A blank band still selects every colour and feeds; a partial band feeds
  // by its own lines.
  EXPECT_EQ(Band(100, 24, false, true, false, {}, {}), "COL(0) COL(1) FEED(0) COL(1) FEED(24)");
  EXPECT_EQ(Band(100, 7, false, false, false, {}, {}), "COL(0) COL(1) FEED(7)");
}

TEST(Ink3Band, PositionsCountFromEachPlanesOwnStart) {
  EXPECT_EQ(Band(200, 24, false, false, true, {{0, 10}}, {{5, 50}, {5, 150}}),
            "COL(0) POS(10) GFX(m2,n1,x10,y0) CR COL(1) POS(50) GFX(m2,n1,x50,y0) POS(150) "
            "GFX(m2,n1,x150,y0) CR FEED(24)");
}

TEST(Ink3Band, LeftMarginUsesHalfTheLine) {
  RecordingWriter out;
  PageProcessInk3 p(360, 360, 360, 360, 2000, 0, 24, &RecordingWriter::Callback, out.Handle());
  p.StartPage();
  // (3060 - 1000) / 2 = 1030 = 0x406.
  EXPECT_EQ(ToHex(out.All()), "1B 26 6C 4C 00 1B 26 61 4C 06 04");
}

TEST(Ink3Band, BandOutputRestoresWidthAndBuffer) {
  PageProcessInk3 p(360, 360, 360, 360, 64, 0, 24, nullptr, nullptr);
  uint8_t* const buf = p.m_pBandBuf;
  const Bytes line(8, 0x55);
  p.OutputLine(line.data(), true);
  p.OutputBand(true);
  EXPECT_EQ(p.m_Width, 64u);
  EXPECT_EQ(p.m_pBandBuf, buf);
  EXPECT_EQ(p.m_VBit, 0x40);
}

// Records which plane the band output looks at when it feeds.
class FeedSpy : public PageProcessInk3 {
 public:
  using PageProcessInk3::PageProcessInk3;
  std::vector<std::pair<uint32_t, const uint8_t*>> at_feed;  // m_Width, m_pBandBuf
  void OutputFeedGfx(uint32_t Length) override {
    at_feed.push_back({m_Width, m_pBandBuf});
    PageProcessInk3::OutputFeedGfx(Length);
  }
};

TEST(Ink3Band, TheBandFeedComesFromTheColourOnePass) {
  for (bool swap : {false, true}) {
    for (bool dup : {false, true}) {
      RecordingWriter out;
      FeedSpy p(360, 360, 360, 360, 64, 0, 24, &RecordingWriter::Callback, out.Handle());
      p.m_SwapRedBlack = swap;
      p.m_DupRed = dup;
      uint8_t* const buf = p.m_pBandBuf;
      const Bytes line(8, 0x11);
      for (int i = 0; i < 24; ++i) p.OutputLine(line.data(), true);
      // One feed per band, while the colour-1 plane is selected.
      ASSERT_EQ(p.at_feed.size(), 1u);
      EXPECT_EQ(p.at_feed[0].first, 32u);
      EXPECT_EQ(p.at_feed[0].second, swap ? buf : buf + 32 * 3);
      EXPECT_EQ(p.m_Width, 64u);
      EXPECT_EQ(p.m_pBandBuf, buf);
      // Each pass is one call per command: colour, header, data, CR.
      std::vector<std::string> calls;
      for (const Bytes& c : out.Calls()) calls.push_back(c.size() > 8 ? "data" : ToHex(c));
      std::vector<std::string> want = {"1B 72 00", "1B 2A 02 20 00", "data", "0D"};
      if (dup) {
        for (const char* c : {"1B 72 01", "1B 2A 02 20 00", "data", "0D", "1B 4A 00"}) {
          want.push_back(c);
        }
      }
      for (const char* c : {"1B 72 01", "1B 2A 02 20 00", "data", "0D", "1B 4A 18"}) {
        want.push_back(c);
      }
      EXPECT_EQ(calls, want) << swap << dup;
    }
  }
}

TEST(Ink3Band, DecodedPlanesEqualTheHalvesOfTheLines) {
  std::mt19937 rng(3);
  for (uint32_t band : {24u, 180u, 1u}) {
    for (int variant = 0; variant < 8; ++variant) {
      const bool swap = variant & 1, dup = variant & 2, loc_pos = variant & 4;
      const uint32_t plane = 500;
      const uint32_t height = band * 2 + 5;
      TestPage black(plane, height), red(plane, height);
      black.Randomize(rng, 0.05);
      red.Fill(0, height, 100, 140);
      red.Fill(height / 2, height, 300, 301);
      const TestPage page = TwoPlanes(black, red);
      RecordingWriter out;
      PageProcessInk3 p(360, 360, 360, 360, page.width, 0, static_cast<uint16_t>(band),
                        &RecordingWriter::Callback, out.Handle());
      p.m_SwapRedBlack = swap;
      p.m_DupRed = dup;
      p.m_UseLocPos = loc_pos;
      p.StartPage();
      for (const Bytes& l : page.lines) p.OutputLine(l.data(), true);
      p.EndPage();

      const std::string what = "band " + std::to_string(band) + " variant " +
                               std::to_string(variant);
      const DecodedBands d = DecodeBands(out.All(), Geometry360(band));
      EXPECT_TRUE(d.problems.empty()) << what;
      ASSERT_EQ(d.pages.size(), 1u) << what;
      const TestPage& colour0 = swap ? red : black;
      const TestPage& colour1 = swap ? black : red;
      EXPECT_EQ(CompareDots(colour0, 0, plane, d.pages[0].planes[0]), "") << what;
      EXPECT_EQ(CompareDots(colour1, 0, plane, d.pages[0].planes[1]), "") << what;
      // The duplicated pass prints every colour-1 dot exactly twice.
      uint64_t doubled1 = 0;
      for (const DoubleDot& dd : d.double_dots) {
        EXPECT_EQ(dd.colour, 1) << what;
        ++doubled1;
      }
      EXPECT_EQ(doubled1, dup ? colour1.Count() : 0u) << what;
      EXPECT_EQ(d.pages[0].fed_units, height) << what;
    }
  }
}

}  // namespace
}  // namespace quill_test
