// Whole Ink2 jobs through the C interface: pages, copies and duplex sides
// as the shared page entry produces them, decoded back into pages.

#include <gtest/gtest.h>

#include <string>

#include "bands/page_process_ink2.h"
#include "common/log_capture.h"
#include "common/recording_writer.h"
#include "common/test_raster.h"
#include "preview/dcraster_decoder.h"
#include "preview/ink2_stream.h"

namespace {

using quillpreview::Ink2Page;
using ink2_test::TestRaster;
using quill_test::Bytes;
using quillpreview::DcrImage;
using quill_test::RecordingWriter;
using quill_test::ToHex;

const Bytes kJobStart = quill_test::HexBytes("1B 45 1B 25 2D 31 32 33 34 35 58");
const Bytes kJobEnd = quill_test::HexBytes("1B 25 2D 31 32 33 34 35 58");

struct Job {
  RecordingWriter out;
  std::string options;
  CONV_PARAM2 param{};
  void* doc = nullptr;

  explicit Job(std::string opts) : options(std::move(opts)) {
    param.x_unit = 1440;
    param.y_unit = 720;
    param.num_pins = 180;
    param.wr_cb = RecordingWriter::Callback;
    param.wr_hdl = out.Handle();
    param.options = options.c_str();
    doc = DocProc_GetObject("DocumentProcessInk2", &param);
    DocProc_StartDoc2(doc, &param);
  }
  ~Job() { DocProc_Release(doc); }

  // Ends the job and returns its pages, checking the frame around them.
  std::vector<std::pair<Ink2Page, DcrImage>> Finish() {
    DocProc_EndDoc(doc);
    const Bytes all = out.All();
    std::vector<std::pair<Ink2Page, DcrImage>> pages;
    if (all.size() < kJobStart.size() + kJobEnd.size() ||
        !std::equal(kJobStart.begin(), kJobStart.end(), all.begin()) ||
        !std::equal(kJobEnd.begin(), kJobEnd.end(), all.end() - static_cast<long>(kJobEnd.size()))) {
      ADD_FAILURE() << "job frame missing: " << ToHex(all).substr(0, 80);
      return pages;
    }
    size_t pos = kJobStart.size();
    const size_t end = all.size() - kJobEnd.size();
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
};

// A page whose pixels tell their place: R = x, G = y, B = page number.
TestRaster NumberedPage(uint8_t number) {
  TestRaster r(24, 10, 24);
  for (uint32_t y = 0; y < 10; ++y) {
    for (uint32_t x = 0; x < 24; ++x) r.SetRgb(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y), number);
  }
  return r;
}

// True when the decoded page shows NumberedPage(number), turned or not.
bool Shows(const DcrImage& img, uint8_t number, bool turned) {
  for (uint32_t y = 0; y < 10; ++y) {
    for (uint32_t x = 0; x < 24; ++x) {
      const uint32_t sx = turned ? 23 - x : x, sy = turned ? 9 - y : y;
      if (img.At(0, x, y) != 255 - sx || img.At(1, x, y) != 255 - sy || img.At(2, x, y) != 255 - number) {
        return false;
      }
    }
  }
  return true;
}

TEST(Ink2Job, EvenPagesAreTurnedForShortEdgeDuplexOnly) {
  for (int duplex : {0, 1, 2}) {
    SCOPED_TRACE(duplex);
    Job job("duplex=" + std::to_string(duplex));
    for (uint8_t n = 1; n <= 4; ++n) {
      TestRaster page = NumberedPage(n);
      TestRaster given = page;
      ASSERT_EQ(DocProc_ProcessPage(job.doc, &page.info), 0);
      // The turn happens in the caller's pixels, before the page is encoded.
      const bool turned = duplex == 2 && n % 2 == 0;
      for (uint32_t y = 0; y < 10; ++y) {
        for (uint32_t x = 0; x < 24; ++x) {
          uint8_t r, g, b, r0, g0, b0;
          page.GetRgb(x, y, &r, &g, &b);
          given.GetRgb(turned ? 23 - x : x, turned ? 9 - y : y, &r0, &g0, &b0);
          ASSERT_TRUE(r == r0 && g == g0 && b == b0) << "page " << int{n} << " at " << x << "," << y;
        }
      }
    }
    auto pages = job.Finish();
    ASSERT_EQ(pages.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
      const bool back = i % 2 == 1;
      EXPECT_TRUE(Shows(pages[i].second, static_cast<uint8_t>(i + 1), duplex == 2 && back)) << "page " << i + 1;
      // With duplex, back sides close a sheet (flag 00), front sides not.
      EXPECT_EQ(pages[i].first.flag, duplex == 0 || back ? 0 : 1) << "page " << i + 1;
      EXPECT_EQ(pages[i].first.duplex, duplex == 1 ? 2 : duplex == 2 ? 1 : 0);
    }
  }
}

TEST(Ink2Job, CopiesOfABackSideAreAllTurned) {
  Job job("duplex=2:copies=2:collate=1");
  TestRaster front = NumberedPage(1), back = NumberedPage(2);
  ASSERT_EQ(DocProc_ProcessPage(job.doc, &front.info), 0);
  ASSERT_EQ(DocProc_ProcessPage(job.doc, &back.info), 0);
  auto pages = job.Finish();
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_TRUE(Shows(pages[0].second, 1, false));
  EXPECT_TRUE(Shows(pages[1].second, 1, false));
  EXPECT_TRUE(Shows(pages[2].second, 2, true));
  EXPECT_TRUE(Shows(pages[3].second, 2, true));
  for (const auto& p : pages) {
    EXPECT_EQ(p.first.copies, 2);
    EXPECT_EQ(p.first.collate, 1);
  }
}

// Write callback that notes, at every page-flag command, the first-page
// flag of the generator writing it (the newest live PageProcessInk2).
std::vector<int> g_first_flags;
int NoteFirstPage(void* handle, const void* data, unsigned int size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (size == 5 && bytes[0] == 0x1B && bytes[1] == 0x26 && bytes[2] == 0x6C && bytes[3] == 0x4C) {
    g_first_flags.push_back(PageProcessInk2::m_This == nullptr ? -1 : PageProcessInk2::m_This->m_IsFirstPage);
  }
  return RecordingWriter::Callback(handle, data, size);
}

TEST(Ink2Job, FirstPageFlagHoldsForEveryCopyOfTheFirstPageOnly) {
  g_first_flags.clear();
  RecordingWriter out;
  CONV_PARAM2 p{};
  p.x_unit = 1440;
  p.y_unit = 720;
  p.wr_cb = NoteFirstPage;
  p.wr_hdl = out.Handle();
  p.options = "copies=2";
  void* doc = DocProc_GetObject("DocumentProcessInk2", &p);
  DocProc_StartDoc2(doc, &p);
  TestRaster a = NumberedPage(1), b = NumberedPage(2), c = NumberedPage(3);
  DocProc_ProcessPage(doc, &a.info);
  DocProc_ProcessPage(doc, &b.info);
  DocProc_ProcessPage(doc, &c.info);
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  EXPECT_EQ(g_first_flags, (std::vector<int>{1, 1, 0, 0, 0, 0}));
}

TEST(Ink2Job, CopiesZeroSendsNoPageAndSettingsFollowUpdates) {
  {
    Job job("copies=0");
    TestRaster a = NumberedPage(1);
    EXPECT_EQ(DocProc_ProcessPage(job.doc, &a.info), 0);
    EXPECT_TRUE(job.Finish().empty());
  }
  // Options given with a page apply to it: grey and quality change, a new
  // "rotate" does not (Ink2 re-reads only the base keys and its own).
  Job job("quality=1");
  TestRaster a = NumberedPage(1), b = NumberedPage(2);
  DocProc_ProcessPage(job.doc, &a.info);
  const std::string opts = "grey=1:quality=3:rotate=180";
  CONV_PARAM2 p = job.param;
  p.options = opts.c_str();
  DocProc_ProcessPage2(job.doc, &p, &b.info);
  auto pages = job.Finish();
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].first.quality, 1);
  EXPECT_EQ(pages[0].first.grey, 0);
  EXPECT_EQ(pages[1].first.quality, 3);
  EXPECT_EQ(pages[1].first.grey, 1);
  EXPECT_EQ(pages[1].second.format, "K");
  // Not rotated: the top-left pixel is still (0, 0) of page 2.
  EXPECT_EQ(pages[1].second.At(0, 0, 0), 255 - ink2_test::RefLuma(0, 0, 2));
}

TEST(Ink2Job, TwoDocumentsInOneProcessKeepTheirPages) {
  Job one("grey=1");
  Job two("");
  TestRaster a = NumberedPage(1), b = NumberedPage(2);
  DocProc_ProcessPage(two.doc, &b.info);
  DocProc_ProcessPage(one.doc, &a.info);
  auto pages_one = one.Finish();
  auto pages_two = two.Finish();
  ASSERT_EQ(pages_one.size(), 1u);
  ASSERT_EQ(pages_two.size(), 1u);
  EXPECT_EQ(pages_one[0].second.format, "K");
  EXPECT_TRUE(Shows(pages_two[0].second, 2, false));
}

}  // namespace
