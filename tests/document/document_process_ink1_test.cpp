// The page entry of the ink document processors: copies, sheet sides,
// rotation, offset, page records, and the two-colour processor.

#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/log_capture.h"
#include "doc_proc_util.h"
#include "document/document_process_ink1.h"
#include "document/document_process_ink3.h"
#include "document/packed_page.h"

namespace {

using doc_proc_test::ColourPage;
using doc_proc_test::CompareDots;
using doc_proc_test::Decode;
using doc_proc_test::JobParam;
using doc_proc_test::OneBitPage;
using quillpreview::BandCmd;
using quill_test::Bytes;
using quillpreview::DecodedBands;
using quill_test::HexBytes;
using quill_test::LogCapture;
using quill_test::RecordingWriter;

// An asymmetric one-bit page: a block at the top left and a dot row lower.
OneBitPage Asymmetric(uint32_t w = 40, uint32_t h = 60) {
  OneBitPage p(w, h);
  for (uint32_t r = 2; r < 9; ++r)
    for (uint32_t c = 1; c < 6; ++c) p.Set(r, c);
  const uint32_t dots_row = h > 40 ? 40 : h * 2 / 3;
  for (uint32_t c = 0; c < w; c += 3) p.Set(dots_row, c);
  p.Set(h - 1, w - 1);
  return p;
}

// `page` turned by 180 degrees.
OneBitPage Turned(const OneBitPage& page) {
  OneBitPage t(page.width(), page.height());
  for (uint32_t r = 0; r < page.height(); ++r)
    for (uint32_t c = 0; c < page.width(); ++c)
      if (page.Get(r, c)) t.Set(page.height() - 1 - r, page.width() - 1 - c);
  return t;
}

// The bytes of each page: from its page-length (or, without one, its
// page-flag) command up to the next page's (or the end of the job).
std::vector<Bytes> PageBytes(const RecordingWriter& w) {
  std::vector<Bytes> pages;
  bool after_length = false;
  for (const Bytes& call : w.Calls()) {
    const bool length = call.size() == 7 && call[0] == 0x1B && call[1] == 0x28 && call[2] == 0x43;
    const bool flag = call.size() == 5 && call[0] == 0x1B && call[1] == 0x26 && call[2] == 0x6C &&
                      call[3] == 0x4C;
    if (length || (flag && !after_length)) pages.emplace_back();
    after_length = length;
    if (!pages.empty()) pages.back().insert(pages.back().end(), call.begin(), call.end());
  }
  return pages;
}

TEST(Copies, ThreeCopiesSendTheSamePageThreeTimes) {
  OneBitPage page = Asymmetric();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "copies=3", SHINGLING_NONE, 24, page.height());
  DocumentProcessInk1 doc(&cp);
  LogCapture log;
  RASTER_INFO ri = page.Raster();
  EXPECT_EQ(doc.ProcessPage(&ri), 0);
  const DecodedBands out = Decode(writer, 24);
  ASSERT_EQ(out.pages.size(), 3u);
  for (const auto& p : out.pages) EXPECT_EQ(CompareDots(p.planes[0], page), "");
  const auto pages = PageBytes(writer);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[1], pages[0]);
  EXPECT_EQ(pages[2], pages[0]);
  EXPECT_TRUE(log.Contains("page 0, 1/3 copies"));
  EXPECT_TRUE(log.Contains("page 0, 3/3 copies"));
  EXPECT_EQ(doc.m_PageCount, 1u);
}

TEST(Copies, ZeroCopiesSendNothingButCountThePage) {
  OneBitPage page = Asymmetric();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "copies=0");
  DocumentProcessInk1 doc(&cp);
  RASTER_INFO ri = page.Raster();
  EXPECT_EQ(doc.ProcessPage(&ri), 0);
  EXPECT_TRUE(writer.Calls().empty());
  EXPECT_EQ(doc.m_PageCount, 1u);
}

TEST(Duplex, OddPagesAreFrontsEvenPagesBacksAndLast) {
  OneBitPage page = Asymmetric();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "duplex=1", SHINGLING_NONE, 24, page.height());
  DocumentProcessInk1 doc(&cp);
  for (int i = 0; i < 2; ++i) {
    RASTER_INFO ri = page.Raster();
    doc.ProcessPage(&ri);
  }
  const auto flags = Decode(writer, 24).Of(BandCmd::kPageFlag);
  ASSERT_EQ(flags.size(), 2u);
  EXPECT_EQ(flags[0].value, 1u);  // front: more pages follow on the sheet
  EXPECT_EQ(flags[1].value, 0u);
  const DecodedBands out = Decode(writer, 24);
  EXPECT_EQ(CompareDots(out.pages[1].planes[0], page), "") << "duplex=1 does not turn back sides";
}

TEST(Duplex, VerticalBackSidesAreTurnedAndEveryCopyAlike) {
  OneBitPage page = Asymmetric();
  const std::vector<uint8_t> orig = page.Pixels();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "duplex=2:copies=3", SHINGLING_NONE, 24, page.height());
  DocumentProcessInk1 doc(&cp);
  for (int i = 0; i < 2; ++i) {
    RASTER_INFO ri = page.Raster();
    EXPECT_EQ(doc.ProcessPage(&ri), 0);
  }
  const DecodedBands out = Decode(writer, 24);
  ASSERT_EQ(out.pages.size(), 6u);
  const OneBitPage turned = Turned(page);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(CompareDots(out.pages[i].planes[0], page), "") << "front copy " << i;
  for (int i = 3; i < 6; ++i) EXPECT_EQ(CompareDots(out.pages[i].planes[0], turned), "") << "back copy " << i;
  EXPECT_EQ(page.Pixels(), orig) << "the caller's page is not turned";
}

TEST(Duplex, VerticalBackSideOfAColourPageIsTurned) {
  ColourPage page(30, 40);
  page.Rect(0, 0, 5, 5, 0, 0, 0);
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "duplex=2:threshold=128", SHINGLING_NONE, 24, 40);
  DocumentProcessInk1 doc(&cp);
  for (int i = 0; i < 2; ++i) {
    RASTER_INFO ri = page.Raster();
    doc.ProcessPage(&ri);
  }
  const DecodedBands out = Decode(writer, 24);
  ASSERT_EQ(out.pages.size(), 2u);
  EXPECT_TRUE(out.pages[0].planes[0].Dot(0, 0));
  EXPECT_TRUE(out.pages[1].planes[0].Dot(39, 29));
  EXPECT_FALSE(out.pages[1].planes[0].Dot(0, 0));
}

TEST(PageRotation, NinetyOnOneHundredByFiftyPrintsFiftyByOneHundred) {
  OneBitPage page(100, 50);
  page.Set(0, 0);    // top left -> top right
  page.Set(49, 99);  // bottom right -> bottom left
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "rotate=90", SHINGLING_NONE, 24, 50);
  DocumentProcessInk1 doc(&cp);
  RASTER_INFO ri = page.Raster();
  const RASTER_INFO before = ri;
  EXPECT_EQ(doc.ProcessPage(&ri), 0);
  // The caller's record now describes the turned copy the processor holds.
  EXPECT_NE(ri.img_p, before.img_p);
  EXPECT_EQ(ri.width, 50u);
  EXPECT_EQ(ri.height, 100u);
  EXPECT_GE(ri.pitch, 7);
  EXPECT_TRUE((ri.img_p[49 / 8] >> (7 - 49 % 8)) & 1) << "top left moved to the top right";
  EXPECT_EQ(doc.m_ConvParam.page_length, 100u);
  const DecodedBands out = Decode(writer, 24);
  ASSERT_EQ(out.pages.size(), 1u);
  const auto lengths = out.Of(BandCmd::kPageLength);
  ASSERT_EQ(lengths.size(), 1u);
  EXPECT_EQ(lengths[0].value, 100u);
  const auto& plane = out.pages[0].planes[0];
  EXPECT_TRUE(plane.Dot(0, 49));
  EXPECT_TRUE(plane.Dot(99, 0));
  EXPECT_EQ(plane.Count(), 2u);
  EXPECT_LE(plane.Width(), 50u);
}

TEST(PageRotation, TwoDocumentsKeepTheirOwnTurnedPages) {
  OneBitPage a = Asymmetric(40, 60), b = Asymmetric(24, 30);
  b.Set(0, 23);
  auto alone = [](OneBitPage& page) {
    RecordingWriter w;
    CONV_PARAM2 cp = JobParam(w, "rotate=270", SHINGLING_NONE, 24);
    DocumentProcessInk1 doc(&cp);
    RASTER_INFO ri = page.Raster();
    doc.ProcessPage(&ri);
    ri = page.Raster();
    doc.ProcessPage(&ri);
    return w.All();
  };
  const Bytes only_a = alone(a), only_b = alone(b);
  RecordingWriter wa, wb;
  CONV_PARAM2 ca = JobParam(wa, "rotate=270", SHINGLING_NONE, 24);
  CONV_PARAM2 cb = JobParam(wb, "rotate=270", SHINGLING_NONE, 24);
  void* da = DocProc_GetObject("DocumentProcessInk1", &ca);
  void* db = DocProc_GetObject("DocumentProcessInk1", &cb);
  // Each call gets a fresh record: a quarter turn repoints the one it is given.
  RASTER_INFO ra = a.Raster(), rb = b.Raster();
  DocProc_ProcessPage(da, &ra);
  DocProc_ProcessPage(db, &rb);
  const RASTER_INFO turned_a = ra;
  ra = a.Raster();
  rb = b.Raster();
  DocProc_ProcessPage(da, &ra);
  DocProc_ProcessPage(db, &rb);
  EXPECT_NE(turned_a.img_p, rb.img_p) << "each document holds its own turned page";
  DocProc_Release(da);
  DocProc_Release(db);
  EXPECT_EQ(wa.All(), only_a);
  EXPECT_EQ(wb.All(), only_b);
}

TEST(PageOffset, ZeroTenOnAColourPageMovesTheInkDown) {
  ColourPage page(20, 40);
  page.Rect(0, 0, 3, 20, 0, 0, 0);
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "offset=0,10:threshold=128", SHINGLING_NONE, 24, 40);
  DocumentProcessInk1 doc(&cp);
  RASTER_INFO ri = page.Raster();
  doc.ProcessPage(&ri);
  for (uint32_t r = 0; r < 10; ++r) EXPECT_EQ(page.At(r, 0)[0], 255) << "top rows whitened in place";
  const DecodedBands out = Decode(writer, 24);
  const auto& plane = out.pages.at(0).planes[0];
  for (uint32_t r = 0; r < 40; ++r) EXPECT_EQ(plane.Dot(r, 5), r >= 10 && r < 13) << r;
}

TEST(Gamma, EveryCopyAndEveryCallPrintsAlike) {
  ColourPage page(64, 48);
  for (uint32_t y = 0; y < 48; ++y)
    for (uint32_t x = 0; x < 64; ++x) page.Paint(y, x, static_cast<uint8_t>(x * 4), static_cast<uint8_t>(y * 5), 90);
  const std::vector<uint8_t> orig = page.Pixels();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "gamma=2.2:dither=1:copies=2", SHINGLING_NONE, 24, 48);
  void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  RASTER_INFO ri = page.Raster();
  DocProc_ProcessPage2(doc, &cp, &ri);
  DocProc_ProcessPage2(doc, &cp, &ri);  // the filter's way of making copies
  DocProc_Release(doc);
  EXPECT_EQ(page.Pixels(), orig);
  const auto pages = PageBytes(writer);
  ASSERT_EQ(pages.size(), 4u);
  for (const Bytes& p : pages) EXPECT_EQ(p, pages[0]);
}

TEST(PageRecords, TimeStampStartAndEndBytesFrameThePage) {
  OneBitPage page = Asymmetric();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "time_stamp=1000000000:start_page=A1A2:end_page=B1", SHINGLING_NONE, 24, 60);
  DocumentProcessInk1 doc(&cp);
  RASTER_INFO ri = page.Raster();
  doc.ProcessPage(&ri);
  const auto& calls = writer.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0], HexBytes("1B 1D 1E 10 1D 00 CA 9A 3B 1B 1D 1F"));
  EXPECT_EQ(calls[1], HexBytes("A1 A2"));
  EXPECT_EQ(calls.back(), HexBytes("B1"));
  EXPECT_EQ(calls[calls.size() - 2], HexBytes("0C"));
}

TEST(PageRecords, SmallStampMeansNow) {
  OneBitPage page = Asymmetric();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "time_stamp=1");
  DocumentProcessInk1 doc(&cp);
  RASTER_INFO ri = page.Raster();
  const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
  doc.ProcessPage(&ri);
  const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
  const Bytes& rec = writer.Calls().at(0);
  ASSERT_EQ(rec.size(), 12u);
  const uint32_t stamp = rec[5] | rec[6] << 8 | rec[7] << 16 | uint32_t(rec[8]) << 24;
  EXPECT_GE(stamp, before);
  EXPECT_LE(stamp, after);
}

TEST(PageRecords, ModeNoneBandHintPerSection) {
  OneBitPage page(16, 80);
  page.FillRows(4, 10);
  page.FillRows(50, 53);
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "band_hint=1", SHINGLING_NONE, 24, 80);
  DocumentProcessInk1 doc(&cp);
  RASTER_INFO ri = page.Raster();
  doc.ProcessPage(&ri);
  std::vector<Bytes> heights;
  const auto& calls = writer.Calls();
  for (size_t i = 0; i + 3 < calls.size(); ++i) {
    if (calls[i] != HexBytes("1B 1D 1E 13 01")) continue;
    heights.push_back(calls[i + 1]);
    EXPECT_EQ(calls[i + 2], HexBytes("FF"));
    EXPECT_EQ(calls[i + 3], HexBytes("1B 1D 1F"));
  }
  EXPECT_EQ(heights, (std::vector<Bytes>{HexBytes("06 00"), HexBytes("03 00")}));
}

TEST(Rejected, BrokenRastersPrintNothingAndReturnMinusOne) {
  OneBitPage page = Asymmetric();
  struct Case {
    const char* warning;
    void (*spoil)(RASTER_INFO&);
  };
  const Case cases[] = {
      {"resolution is invalid", [](RASTER_INFO& r) { r.y_res = 0; }},
      {"raster size is invalid", [](RASTER_INFO& r) { r.height = 0; }},
      {"raster pitch is invalid", [](RASTER_INFO& r) { r.pitch = 2; }},
      {"raster has no pixels", [](RASTER_INFO& r) { r.img_p = nullptr; }},
      {"unsupported bpp: 3", [](RASTER_INFO& r) { r.bpp = 3; }},
  };
  for (const Case& c : cases) {
    RecordingWriter writer;
    CONV_PARAM2 cp = JobParam(writer, "copies=2");
    DocumentProcessInk1 doc(&cp);
    RASTER_INFO ri = page.Raster();
    c.spoil(ri);
    LogCapture log;
    EXPECT_EQ(doc.ProcessPage(&ri), -1) << c.warning;
    EXPECT_EQ(log.Count(spdlog::level::warn, c.warning), 2) << c.warning;
    EXPECT_TRUE(writer.Calls().empty()) << c.warning;
  }
}

TEST(DumpName, ConversionsBeyondOneCountArePrintedLiterally) {
  char tmpl[] = "/tmp/quill-dump-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;
  const std::string options = "dump_name=" + dir + "/p%u%s%n.png";
  OneBitPage page = Asymmetric();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, options.c_str());
  DocumentProcessInk1 doc(&cp);
  RASTER_INFO ri = page.Raster();
  doc.ProcessPage(&ri);
  const std::string expected = dir + "/p1%s%n.png";
  EXPECT_TRUE(std::ifstream(expected).good());
  std::remove(expected.c_str());
  rmdir(dir.c_str());
}

// True when the records hold `expected` in this order (other records may
// come between them); `missing` names the first one not found.
bool InOrder(const LogCapture& log, const std::vector<std::pair<spdlog::level::level_enum, std::string>>& expected,
             std::string* missing) {
  size_t next = 0;
  for (const auto& rec : log.Records()) {
    if (next < expected.size() && rec.level == expected[next].first && rec.message == expected[next].second) ++next;
  }
  if (next < expected.size()) *missing = expected[next].second;
  return next == expected.size();
}

TEST(PageRecords, TheRecordsOfOnePageInOrder) {
  OneBitPage page = Asymmetric();  // 50 dots on 40 x 60
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "time_stamp=1000000000", SHINGLING_NONE, 24, 60);
  DocumentProcessInk1 doc(&cp);
  LogCapture log;
  RASTER_INFO ri = page.Raster();
  doc.ProcessPage(&ri);
  const auto debug = spdlog::level::debug;
  std::string missing;
  EXPECT_TRUE(InOrder(log, {{debug, "rotate 0"},
                            {debug, "skip offset"},
                            {debug, "page 0, 1/1 copies"},
                            {debug, "ProcessPageInternal: size=40x60, unit=360x360, resolution=360x360, "
                                    "pins=24, bpp=1, pitch=5"},
                            {debug, "ink covering ratio: 2.08%"},
                            {debug, "content vertical range: 2-60"},
                            {debug, "vertical section: 2-9[7]"},
                            {debug, "vertical section: 40-41[1]"},
                            {debug, "vertical section: 59-60[1]"},
                            {debug, "recalculate sections"},
                            {debug, "vertical section: 2-9[7]"},
                            {debug, "vertical section: 40-60[20]"},
                            {debug, "output timestamp 3B9ACA00H"},
                            {debug, "shingling: 0"},
                            {debug, "<0>2-9[7]"},
                            {debug, "<0>40-60[20]"}},
                      &missing))
      << missing;
  bool took = false;
  for (const auto& rec : log.Records()) {
    took |= rec.level == spdlog::level::info && rec.message.rfind("conversion takes ", 0) == 0 &&
            rec.message.size() > 19 && rec.message.compare(rec.message.size() - 2, 2, "ms") == 0;
  }
  EXPECT_TRUE(took);
}

TEST(PageRecords, StampOf900000000IsKeptAndOneBelowMeansNow) {
  OneBitPage page = Asymmetric();
  for (const char* options : {"time_stamp=900000000", "time_stamp=899999999"}) {
    RecordingWriter writer;
    CONV_PARAM2 cp = JobParam(writer, options);
    DocumentProcessInk1 doc(&cp);
    LogCapture log;
    RASTER_INFO ri = page.Raster();
    doc.ProcessPage(&ri);
    const Bytes& rec = writer.Calls().at(0);
    if (std::string(options) == "time_stamp=900000000") {
      EXPECT_EQ(rec, HexBytes("1B 1D 1E 10 1D 00 E9 A4 35 1B 1D 1F"));
      EXPECT_EQ(log.Count(spdlog::level::debug, "output timestamp 35A4E900H"), 1);
    } else {
      ASSERT_EQ(rec.size(), 12u);
      const uint32_t stamp = rec[5] | rec[6] << 8 | rec[7] << 16 | uint32_t(rec[8]) << 24;
      EXPECT_GT(stamp, 1500000000u) << "the time of printing";
    }
  }
}

TEST(PageRecords, InkIsCountedWithinTheRowWidthOnly) {
  OneBitPage page(10, 4);
  RASTER_INFO ri = page.Raster();
  ri.img_p[1 * 2 + 0] = 0xFF;  // row 1: ten pixels and six padding bits set
  ri.img_p[1 * 2 + 1] = 0xFF;
  ri.img_p[3 * 2 + 1] = 0x3F;  // row 3: padding bits only
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "", SHINGLING_NONE, 24, 4);
  DocumentProcessInk1 doc(&cp);
  LogCapture log;
  doc.ProcessPage(&ri);
  EXPECT_EQ(log.Count(spdlog::level::debug, "ink covering ratio: 25.00%"), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "content vertical range: 1-2"), 1);
}

TEST(PageRecords, RotationAndOffsetRecords) {
  ColourPage page(20, 30);
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "rotate=180:offset=3,-2:threshold=128", SHINGLING_NONE, 24, 30);
  DocumentProcessInk1 doc(&cp);
  LogCapture log;
  RASTER_INFO ri = page.Raster();
  doc.ProcessPage(&ri);
  std::string missing;
  EXPECT_TRUE(InOrder(log, {{spdlog::level::debug, "rotate 180"}, {spdlog::level::debug, "tune offset 3,-2"}},
                      &missing))
      << missing;
  OneBitPage mono(8, 8);
  RASTER_INFO one = mono.Raster();
  log.Clear();
  DoOffsetting(one, {1, 1});
  EXPECT_EQ(log.Count(spdlog::level::warn, "unsupported bpp: 1"), 1);
}

// ---------------------------------------------------------------------------
// Two colours

ColourPage RedBlackPage() {
  ColourPage page(30, 40);
  page.Rect(2, 2, 8, 10, 0, 0, 0);        // black block
  page.Rect(20, 15, 30, 28, 255, 0, 0);   // red block
  page.Rect(35, 0, 36, 30, 120, 0, 0);    // dark red line: black ink
  return page;
}

TEST(Ink3, AvailableByNameAndPrintsEachColourWithItsInk) {
  ColourPage page = RedBlackPage();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "threshold=128", SHINGLING_NONE, 24, 40);
  void* doc = DocProc_GetObject("DocumentProcessInk3", &cp);
  ASSERT_NE(doc, nullptr);
  LogCapture log;
  RASTER_INFO ri = page.Raster();
  EXPECT_EQ(DocProc_ProcessPage(doc, &ri), 0);
  DocProc_Release(doc);
  EXPECT_TRUE(log.Contains("ink covering ratio: "));
  EXPECT_TRUE(log.Contains("%[B],"));
  const DecodedBands out = Decode(writer, 24);
  ASSERT_EQ(out.pages.size(), 1u);
  EXPECT_TRUE(out.problems.empty());
  const auto& black = out.pages[0].planes[0];
  const auto& red = out.pages[0].planes[1];
  EXPECT_EQ(black.Count(), 6u * 8 + 30);
  EXPECT_EQ(red.Count(), 10u * 13);
  EXPECT_TRUE(black.Dot(2, 2));
  EXPECT_TRUE(black.Dot(35, 29));
  EXPECT_FALSE(black.Dot(20, 15));
  EXPECT_TRUE(red.Dot(20, 15));
  EXPECT_TRUE(red.Dot(29, 27));
  EXPECT_FALSE(red.Dot(2, 2));
  EXPECT_EQ(out.Of(BandCmd::kColour).size() % 2, 0u);
}

TEST(Ink3, EveryCopyIsSeparatedAndCountsBlackAndRedApart) {
  ColourPage page = RedBlackPage();  // 78 black and 130 red dots on 2 x 30 by 40
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "threshold=128:copies=2", SHINGLING_NONE, 24, 40);
  DocumentProcessInk3 doc(&cp);
  LogCapture log;
  RASTER_INFO ri = page.Raster();
  EXPECT_EQ(doc.ProcessPage(&ri), 0);
  const auto debug = spdlog::level::debug;
  const std::string internal =
      "ProcessPageInternal: size=60x40, unit=360x360, resolution=360x360, pins=24, bpp=24, pitch=180";
  std::string missing;
  EXPECT_TRUE(InOrder(log, {{debug, "page 0, 1/2 copies"},
                            {debug, "extends width 30 for dual colors"},
                            {debug, internal},
                            {spdlog::level::info, "invert palette after halftoning"},
                            {debug, "ink covering ratio: 3.25%[B],5.42%[R]"},
                            {debug, "page 0, 2/2 copies"},
                            {debug, "extends width 30 for dual colors"},
                            {debug, internal},
                            {debug, "ink covering ratio: 3.25%[B],5.42%[R]"}},
                      &missing))
      << missing;
  const auto pages = PageBytes(writer);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[1], pages[0]);
}

TEST(Ink3, VerticalDuplexBackSideKeepsTheColoursOfEachPlane) {
  ColourPage page = RedBlackPage();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "threshold=128:duplex=2:copies=2", SHINGLING_NONE, 24, 40);
  DocumentProcessInk3 doc(&cp);
  for (int i = 0; i < 2; ++i) {
    RASTER_INFO ri = page.Raster();
    doc.ProcessPage(&ri);
  }
  const DecodedBands out = Decode(writer, 24);
  ASSERT_EQ(out.pages.size(), 4u);
  for (int i = 2; i < 4; ++i) {
    const auto& black = out.pages[i].planes[0];
    const auto& red = out.pages[i].planes[1];
    // The turned page: the black block at the bottom right, the red block
    // at the top left (each plane is 30 columns wide).
    EXPECT_TRUE(black.Dot(39 - 2, 29 - 2)) << i;
    EXPECT_TRUE(red.Dot(39 - 20, 29 - 15)) << i;
    EXPECT_EQ(red.Count(), 10u * 13) << i;
    EXPECT_EQ(black.Count(), 6u * 8 + 30) << i;
  }
}

TEST(Ink3, OneBitPageWithoutPalettePrintsItsDotsBlack) {
  OneBitPage page = Asymmetric();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "threshold=128", SHINGLING_NONE, 24, page.height());
  DocumentProcessInk3 doc(&cp);
  RASTER_INFO ri = page.Raster();
  EXPECT_EQ(doc.ProcessPage(&ri), 0);
  const DecodedBands out = Decode(writer, 24);
  ASSERT_EQ(out.pages.size(), 1u);
  EXPECT_EQ(CompareDots(out.pages[0].planes[0], page), "");
  EXPECT_EQ(out.pages[0].planes[1].Count(), 0u);
}

TEST(Ink3, DupRedOptionAndStoredPagesAreDoubleWidth) {
  ColourPage page = RedBlackPage();
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "threshold=128:dup_red=1", SHINGLING_NONE, 24, 40);
  DocumentProcessInk3 doc(&cp);
  EXPECT_TRUE(doc.m_DupRed);
  RASTER_INFO ri = page.Raster();
  doc.SaveBackupPage(&ri, true);
  ASSERT_EQ(doc.m_BackupPages.size(), 1u);
  EXPECT_EQ(doc.m_BackupPages[0]->m_PackedRaster.width, 60u);
  EXPECT_EQ(doc.m_BackupPages[0]->m_PackedRaster.bpp, 24);
  EXPECT_EQ(doc.m_BackupPages[0]->m_PackedRaster.height, 40u);
  doc.ProcessPage(&ri);
  const DecodedBands out = Decode(writer, 24);
  EXPECT_EQ(out.pages.at(0).planes[1].Count(), 10u * 13);
  EXPECT_EQ(out.double_dots.size(), 10u * 13) << "the red pass is printed twice";
}

}  // namespace
