// PageProcessDot24: pages at 180 and 360 dpi, single and dual colour, are
// compared with a plain reference model of the stream and decoded back into
// dots that must equal the page; interlacing, gap bridging, density bytes
// and the page frame are checked on their own.
#include <gtest/gtest.h>

#include "bands/page_process_dot24.h"
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

// 24 pins of one pass: pin p is page row y0 + p * pitch, columns
// [x0, x0 + width).
Bytes PackPass(const BitPage& page, uint32_t y0, uint32_t pitch, uint32_t x0, uint32_t width) {
  Bytes pass(static_cast<size_t>(width) * 3, 0);
  for (uint32_t c = 0; c < width; ++c) {
    for (uint32_t p = 0; p < 24; ++p) {
      const uint32_t y = y0 + p * pitch;
      if (y < page.height && page.Get(x0 + c, y)) {
        pass[static_cast<size_t>(c) * 3 + p / 8] |= static_cast<uint8_t>(0x80u >> (p % 8));
      }
    }
  }
  return pass;
}

// Pieces as blank stretches: a stretch of at most 9 blank columns between
// two inked columns is sent as data, longer stretches are skipped.
std::vector<PIECE> RefPieces(const Bytes& pass, uint32_t cw) {
  std::vector<bool> sent(cw, false);
  int64_t last_inked = -1;
  for (uint32_t c = 0; c < cw; ++c) {
    if (!PlainColumnInked(pass, 3, c)) continue;
    sent[c] = true;
    if (last_inked >= 0 && c - last_inked - 1 <= 9) {
      for (uint32_t b = static_cast<uint32_t>(last_inked) + 1; b < c; ++b) sent[b] = true;
    }
    last_inked = c;
  }
  std::vector<PIECE> pieces;
  for (uint32_t c = 0; c < cw;) {
    uint32_t e = c;
    while (e < cw && sent[e] == sent[c]) ++e;
    pieces.push_back(PIECE{c, e - c, sent[c]});
    c = e;
  }
  return pieces;
}

Bytes RefPass(const Bytes& pass, uint8_t mode, bool locpos, uint32_t x_res) {
  Bytes out;
  const uint32_t cw = PlainContentWidth(pass, 3);
  if (cw == 0) return out;
  if (!locpos) {
    Append(out, BitImageHeader(mode, cw));
    Append(out, Columns(pass, 3, 0, cw));
  } else {
    for (const PIECE& piece : RefPieces(pass, cw)) {
      if (!piece.dirty) continue;
      Append(out, Position(360 * piece.start / x_res));
      Append(out, BitImageHeader(mode, piece.len));
      Append(out, Columns(pass, 3, piece.start, piece.len));
    }
  }
  out.push_back(0x0D);
  return out;
}

struct Dot24Case {
  uint16_t x_res;
  uint16_t y_res;
  bool dual;
  bool locpos;
};

// The page as DrivePage runs it with FlushLines(false) and no page length.
Bytes RefDot24Page(const BitPage& page, uint32_t top, const Dot24Case& dc) {
  const uint8_t mode = dc.x_res == 360 ? 40 : 39;
  const uint32_t plane = dc.dual ? page.width / 2 : page.width;
  const uint32_t planes = dc.dual ? 2 : 1;
  auto passes = [&](uint32_t y0, uint32_t pitch) {
    Bytes out;
    for (uint32_t k = 0; k < planes; ++k) {
      if (dc.dual) Append(out, {0x1B, 0x72, static_cast<uint8_t>(k)});
      Append(out, RefPass(PackPass(page, y0, pitch, k * plane, plane), mode, dc.locpos, dc.x_res));
    }
    return out;
  };
  Bytes out;
  if (dc.y_res < 360) {
    Append(out, FeedBytes(top));
    for (uint32_t y = top; y < page.height; y += 24) {
      Append(out, passes(y, 1));
      if (page.height - y >= 24) Append(out, FeedBytes(24));  // the last partial band: no feed
    }
  } else {
    Append(out, FeedBytes(top / 2));
    for (uint32_t y = top; y < page.height; y += 48) {
      Append(out, passes(y, 2));
      Append(out, FeedBytes(1));
      Append(out, passes(y + 1, 2));
      Append(out, FeedBytes(23));  // every band, also the last partial one
    }
  }
  return out;
}

class Dot24RoundTrip : public ::testing::TestWithParam<Dot24Case> {};

TEST_P(Dot24RoundTrip, DecodedDotsEqualThePageAndTheReferenceStream) {
  const Dot24Case dc = GetParam();
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    // Dual-colour lines are two planes of equal (even) width.
    const uint32_t width = dc.dual ? 2 * (60 + seed * 53) : 90 + seed * 71;
    const uint32_t height = 50 + seed * 37;
    const uint32_t top = 2 * (seed % 3) * 3;  // even: 360-dpi feeds are whole 180ths
    BitPage page = RandomPage(width, height, seed * 11);
    for (uint32_t y = 0; y < top; ++y) {
      for (uint32_t x = 0; x < width; ++x) page.Set(x, y, false);
    }
    page.Set(0, top);  // the first band's first pass has ink (the decoder's band origin)

    RecordingWriter w;
    PageProcessDot24 proc(dc.x_res, dc.y_res, width, 0, RecordingWriter::Callback, w.Handle());
    proc.m_DualColor = dc.dual;
    proc.m_UseLocPos = dc.locpos;
    DrivePage(proc, page, top, false);

    const Bytes stream = w.All();
    EXPECT_EQ(ToHex(RefDot24Page(page, top, dc)), ToHex(stream)) << "seed " << seed;

    const quillpreview::BitImageStream parsed = quillpreview::ParseBitImageStream(stream);
    ASSERT_EQ("", parsed.error);
    quillpreview::DotGeometry geometry;
    geometry.x_unit = 360;
    geometry.x_res = dc.x_res;
    geometry.interlaced = dc.y_res >= 360;
    const uint32_t plane = dc.dual ? width / 2 : width;
    const quillpreview::DotPage dots = quillpreview::RebuildDots(parsed, geometry, 0, plane,
                                                             height + 48, dc.dual ? 2 : 1);
    EXPECT_EQ("", quillpreview::CompareDots(dots, 0, page)) << "seed " << seed;
    if (dc.dual) {
      EXPECT_EQ("", quillpreview::CompareDots(dots, 1, page, 0, plane)) << "seed " << seed;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Resolutions, Dot24RoundTrip,
    ::testing::Values(Dot24Case{180, 180, false, false}, Dot24Case{180, 180, false, true},
                      Dot24Case{360, 180, false, true}, Dot24Case{180, 180, true, false},
                      Dot24Case{180, 180, true, true}, Dot24Case{360, 360, false, false},
                      Dot24Case{360, 360, false, true}, Dot24Case{180, 360, false, true},
                      Dot24Case{360, 360, true, false}, Dot24Case{360, 360, true, true}));

TEST(Dot24Page, BandGeometryFollowsTheVerticalResolution) {
  PageProcessDot24 low(180, 180, 100, 0, nullptr, nullptr);
  EXPECT_EQ(24, low.m_BandHeight);
  EXPECT_EQ(3, low.m_BandHeightByte);
  EXPECT_EQ(300u, low.m_BandBufSize);
  EXPECT_EQ(24, low.m_FeedStride);
  EXPECT_EQ(360, low.m_XUnit);
  EXPECT_EQ(360, low.m_YUnit);
  EXPECT_FALSE(low.m_UseLocPos);
  EXPECT_FALSE(low.m_DualColor);
  PageProcessDot24 high(360, 360, 100, 0, nullptr, nullptr);
  EXPECT_EQ(48, high.m_BandHeight);
  EXPECT_EQ(6, high.m_BandHeightByte);
  EXPECT_EQ(600u, high.m_BandBufSize);
}

TEST(Dot24Page, DensityByteByUnitRatios) {
  auto mode = [](uint16_t x_res, uint16_t y_res) {
    return PageProcessDot24(x_res, y_res, 8, 0, nullptr, nullptr).BitImageMode();
  };
  EXPECT_EQ(39, mode(180, 180));  // h = 2
  EXPECT_EQ(40, mode(360, 180));  // h = 1
  EXPECT_EQ(40, mode(360, 360));
  EXPECT_EQ(33, mode(120, 180));
  EXPECT_EQ(38, mode(90, 180));
  EXPECT_EQ(32, mode(60, 180));
  EXPECT_EQ(39, mode(720, 180));  // h = 0
  EXPECT_EQ(0, mode(60, 60));     // v = 6, h = 6
  EXPECT_EQ(2, mode(180, 60));    // v = 6, any other h
  EXPECT_EQ(39, mode(0, 0));      // no resolution: no division fault
}

TEST(Dot24Page, StartPageSetsUnitAndPageLength) {
  RecordingWriter w;
  PageProcessDot24 p(180, 180, 8, 3960, RecordingWriter::Callback, w.Handle());
  p.m_CurScanLine = 77;
  p.StartPage();
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 28 55 01 00 0A 00 1B 28 43 02 00 78 0F")}), w.Calls());
  EXPECT_EQ(0u, p.m_CurScanLine);

  RecordingWriter w0;
  PageProcessDot24 q(180, 180, 8, 0, RecordingWriter::Callback, w0.Handle());
  q.m_CurScanLine = 77;
  q.StartPage();
  EXPECT_TRUE(w0.Calls().empty());  // no ESC ( U / ESC ( C for page length 0
  EXPECT_EQ(0u, q.m_CurScanLine);
}

TEST(Dot24Page, FeedGfxHalvesRowsAt360Dpi) {
  RecordingWriter w;
  PageProcessDot24 low(180, 180, 8, 0, RecordingWriter::Callback, w.Handle());
  low.OutputFeedGfx(30);
  PageProcessDot24 high(360, 360, 8, 0, RecordingWriter::Callback, w.Handle());
  high.OutputFeedGfx(31);
  EXPECT_EQ(HexBytes("1B 4A 1E 1B 4A 0F"), w.All());
}

TEST(Dot24Page, InterlaceSplitsEvenAndOddRows) {
  // Plain form: out1 takes bits 7, 5, 3, 1 of u then of w; out2 bits 6, 4, 2, 0.
  std::mt19937 rng(5);
  Bytes in(64);
  for (uint8_t& b : in) b = static_cast<uint8_t>(rng());
  Bytes a(32), b(32);
  interlace_buffer(in.data(), 32, a.data(), b.data());
  for (size_t i = 0; i < 32; ++i) {
    uint8_t ea = 0, eb = 0;
    for (int k = 0; k < 4; ++k) {
      ea |= static_cast<uint8_t>(((in[2 * i] >> (7 - 2 * k)) & 1) << (7 - k));
      ea |= static_cast<uint8_t>(((in[2 * i + 1] >> (7 - 2 * k)) & 1) << (3 - k));
      eb |= static_cast<uint8_t>(((in[2 * i] >> (6 - 2 * k)) & 1) << (7 - k));
      eb |= static_cast<uint8_t>(((in[2 * i + 1] >> (6 - 2 * k)) & 1) << (3 - k));
    }
    ASSERT_EQ(ea, a[i]) << i;
    ASSERT_EQ(eb, b[i]) << i;
  }
  const uint8_t even_only[2] = {0xAA, 0x00};
  uint8_t first = 0;
  interlace_buffer(even_only, 1, &first, nullptr);  // a null output is skipped
  EXPECT_EQ(0xF0, first);
  const uint8_t u[2] = {0x55, 0x55};
  uint8_t o = 0;
  interlace_buffer(u, 1, nullptr, &o);
  EXPECT_EQ(0xFF, o);
}

// One 24-row band of 60 columns at 180 dpi with ink in the given columns,
// positioned output.
std::vector<Bytes> PieceCalls(std::vector<uint32_t> columns) {
  BitPage page(60, 24);
  for (uint32_t c : columns) page.Set(c, 12);
  RecordingWriter w;
  PageProcessDot24 p(180, 180, 60, 0, RecordingWriter::Callback, w.Handle());
  p.m_UseLocPos = true;
  for (uint32_t y = 0; y < 24; ++y) p.OutputLine(page.Row(y), false);
  return w.Calls();
}

TEST(Dot24Page, GapsOfNineColumnsAreBridgedAndOfTenSkipped) {
  std::vector<Bytes> calls = PieceCalls({5, 15});  // 9 blank columns between
  ASSERT_EQ(4u, calls.size());
  EXPECT_EQ(HexBytes("1B 24 0A 00"), calls[0]);  // 5 * 360 / 180
  EXPECT_EQ(HexBytes("1B 2A 27 0B 00"), calls[1]);
  EXPECT_EQ(33u, calls[2].size());
  EXPECT_EQ(HexBytes("0D"), calls[3]);

  calls = PieceCalls({5, 16});  // 10 blank columns between
  ASSERT_EQ(7u, calls.size());
  EXPECT_EQ(HexBytes("1B 24 0A 00"), calls[0]);
  EXPECT_EQ(HexBytes("1B 2A 27 01 00"), calls[1]);
  EXPECT_EQ(HexBytes("00 08 00"), calls[2]);
  EXPECT_EQ(HexBytes("1B 24 20 00"), calls[3]);
  EXPECT_EQ(HexBytes("1B 2A 27 01 00"), calls[4]);

  calls = PieceCalls({0});  // a single column: one dirty piece of one column
  ASSERT_EQ(4u, calls.size());
  EXPECT_EQ(HexBytes("1B 24 00 00"), calls[0]);
  EXPECT_EQ(HexBytes("1B 2A 27 01 00"), calls[1]);
}

TEST(Dot24Page, PiecesMatchThePlainForm) {
  std::mt19937 rng(9);
  for (int round = 0; round < 200; ++round) {
    const uint32_t width = 1 + rng() % 120;
    Bytes pass(static_cast<size_t>(width) * 3, 0);
    const double density = (rng() % 100) / 400.0;
    for (uint32_t c = 0; c < width; ++c) {
      if ((rng() % 1000) / 1000.0 < density) pass[c * 3 + rng() % 3] = 0x10;
    }
    const uint32_t cw = PlainContentWidth(pass, 3);
    const std::vector<PIECE> got = SplitPieces(pass.data(), cw, 3);
    const std::vector<PIECE> want = RefPieces(pass, cw);
    ASSERT_EQ(want.size(), got.size()) << "round " << round;
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(want[i].start, got[i].start);
      EXPECT_EQ(want[i].len, got[i].len);
      EXPECT_EQ(want[i].dirty, got[i].dirty);
    }
  }
}

TEST(Dot24Page, BlankPassSendsNothingButItsFeed) {
  RecordingWriter w;
  PageProcessDot24 p(180, 180, 16, 0, RecordingWriter::Callback, w.Handle());
  const Bytes blank(2, 0);
  for (int y = 0; y < 24; ++y) p.OutputLine(blank.data(), true);
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 4A 18")}), w.Calls());
}

TEST(Dot24Page, InterlacedBandIsTwoPassesAndAWholeBandFeed) {
  // 2 columns, 48 rows: column 0 has row 0 (even pass) and row 47 (odd
  // pass), column 1 row 1 (odd pass).
  BitPage page(2, 48);
  page.Set(0, 0);
  page.Set(0, 47);
  page.Set(1, 1);
  RecordingWriter w;
  PageProcessDot24 p(360, 360, 2, 0, RecordingWriter::Callback, w.Handle());
  for (uint32_t y = 0; y < 48; ++y) p.OutputLine(page.Row(y), true);
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 2A 28 01 00"), HexBytes("80 00 00"), HexBytes("0D"),
                                HexBytes("1B 4A 01"), HexBytes("1B 2A 28 02 00"),
                                HexBytes("00 00 01 80 00 00"), HexBytes("0D"),
                                HexBytes("1B 4A 17")}),
            w.Calls());
}

TEST(Dot24Page, DualColourPassesSelectTheRibbon) {
  // Two planes of 4 columns; black dot in column 1, second colour in plane
  // column 2.
  BitPage page(8, 24);
  page.Set(1, 0);
  page.Set(4 + 2, 23);
  RecordingWriter w;
  PageProcessDot24 p(180, 180, 8, 0, RecordingWriter::Callback, w.Handle());
  p.m_DualColor = true;
  for (uint32_t y = 0; y < 24; ++y) p.OutputLine(page.Row(y), true);
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 72 00"), HexBytes("1B 2A 27 02 00"),
                                HexBytes("00 00 00 80 00 00"), HexBytes("0D"), HexBytes("1B 72 01"),
                                HexBytes("1B 2A 27 03 00"), HexBytes("00 00 00 00 00 00 00 00 01"),
                                HexBytes("0D"), HexBytes("1B 4A 18")}),
            w.Calls());
  // The fields borrowed by the band routine are back.
  EXPECT_EQ(8u, p.m_Width);
  EXPECT_EQ(3, p.m_BandHeightByte);
}

TEST(Dot24Page, DualColourInterlacedBandRunsBothColoursPerPass) {
  // Two planes of 4 columns, 48 rows at 360 dpi: a black dot in column 1,
  // row 0 (first pass), a second-colour dot in plane column 2, row 1
  // (second pass). A pass of a colour without ink sends nothing, but its
  // ESC r is still sent.
  BitPage page(8, 48);
  page.Set(1, 0);
  page.Set(4 + 2, 1);
  for (bool auto_feed : {true, false}) {
    RecordingWriter w;
    PageProcessDot24 p(360, 360, 8, 0, RecordingWriter::Callback, w.Handle());
    p.m_DualColor = true;
    for (uint32_t y = 0; y < 48; ++y) p.OutputLine(page.Row(y), auto_feed);
    EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 72 00"), HexBytes("1B 2A 28 02 00"),
                                  HexBytes("00 00 00 80 00 00"), HexBytes("0D"),
                                  HexBytes("1B 72 01"), HexBytes("1B 4A 01"), HexBytes("1B 72 00"),
                                  HexBytes("1B 72 01"), HexBytes("1B 2A 28 03 00"),
                                  HexBytes("00 00 00 00 00 00 80 00 00"), HexBytes("0D"),
                                  HexBytes("1B 4A 17")}),
              w.Calls())
        << "AutoFeed " << auto_feed;
    EXPECT_EQ(8u, p.m_Width);
    EXPECT_EQ(6, p.m_BandHeightByte);
    EXPECT_EQ(24u, p.m_CurScanLine);
  }
}

TEST(Dot24Page, PageLengthBeyondSixteenBitsSendsItsLowBytes) {
  RecordingWriter w;
  PageProcessDot24 p(180, 180, 8, 70000, RecordingWriter::Callback, w.Handle());
  p.StartPage();
  EXPECT_EQ((std::vector<Bytes>{HexBytes("1B 28 55 01 00 0A 00 1B 28 43 02 00 70 11")}), w.Calls());
}

TEST(Dot24Page, BandRecordsItsContentWidth) {
  quill_test::LogCapture log;
  BitPage page(10, 24);
  page.Set(6, 3);
  RecordingWriter w;
  PageProcessDot24 p(180, 180, 10, 0, RecordingWriter::Callback, w.Handle());
  for (uint32_t y = 0; y < 24; ++y) p.OutputLine(page.Row(y), true);
  EXPECT_EQ(1, log.Count(spdlog::level::debug, "OutputBand:ContentWidth=7"));
}

TEST(Dot24Page, ResolutionChangedAfterConstructionKeepsTheBandItWasBuiltFor) {
  // The band is 24 rows (built for 180 dpi); a later 360-dpi resolution
  // cannot split it into interlaced passes and must not read past it.
  BitPage page(40, 24);
  for (uint32_t y = 0; y < 24; ++y) page.Set(39, y);
  RecordingWriter w;
  PageProcessDot24 p(180, 180, 40, 0, RecordingWriter::Callback, w.Handle());
  p.m_YRes = 360;
  for (uint32_t y = 0; y < 24; ++y) p.OutputLine(page.Row(y), true);
  const std::vector<Bytes>& calls = w.Calls();
  ASSERT_EQ(4u, calls.size());
  EXPECT_EQ(HexBytes("1B 2A 27 28 00"), calls[0]);
  EXPECT_EQ(120u, calls[1].size());
  EXPECT_EQ(HexBytes("1B 4A 0C"), calls[3]);
}

TEST(Dot24Page, LastPartialBandOfEachFamily) {
  BitPage page(4, 30);
  page.Set(0, 29);
  // 180 dpi: the last 6 rows go out without a feed of their own.
  RecordingWriter w;
  PageProcessDot24 low(180, 180, 4, 0, RecordingWriter::Callback, w.Handle());
  DrivePage(low, page, 0, false);
  EXPECT_EQ(HexBytes("1B 4A 00 1B 4A 18 1B 2A 27 01 00 04 00 00 0D"), w.All());
  // 360 dpi: the partial band still advances by the whole band.
  RecordingWriter w2;
  PageProcessDot24 high(360, 360, 4, 0, RecordingWriter::Callback, w2.Handle());
  DrivePage(high, page, 0, false);
  EXPECT_EQ(HexBytes("1B 4A 00 1B 4A 01 1B 2A 28 01 00 00 02 00 0D 1B 4A 17"), w2.All());
}

TEST(Dot24Page, EndPageEjectsOrFeedsToThePageLength) {
  RecordingWriter w;
  PageProcessDot24 p(180, 180, 4, 100, RecordingWriter::Callback, w.Handle());
  p.StartPage();
  p.OutputFeed(40);
  w.Clear();
  p.EndPage();
  EXPECT_EQ(HexBytes("0C"), w.All());
  RecordingWriter w2;
  PageProcessDot24 q(180, 180, 4, 100, RecordingWriter::Callback, w2.Handle());
  q.m_NoUseEject = true;
  q.StartPage();
  q.OutputFeed(40);
  w2.Clear();
  q.EndPage();
  EXPECT_EQ(HexBytes("1B 4A 3C"), w2.All());
}

}  // namespace
