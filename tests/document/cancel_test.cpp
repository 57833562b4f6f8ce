// Cancelling a job in the middle of a page: the request-exit callback is
// asked every few rows while the page is screened and printed, the page ends
// where it is (what was printed is exactly the top of the page, the sheet is
// ejected), no further copy follows, and the document still ends with the
// same commands as an uncancelled one.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/recording_writer.h"
#include "doc_proc_util.h"
#include "quill/libquill.h"
#include "support/cancel.h"

namespace {

using doc_proc_test::ColourPage;
using doc_proc_test::JobParam;
using doc_proc_test::OneBitPage;
using quill_test::Bytes;
using quill_test::RecordingWriter;

// A request-exit callback that asks to stop from its `stop_at`-th question on.
struct Canceller {
  int asked = 0;
  int stop_at = 0;  // 0: never
  static int Ask(void* self) {
    auto* c = static_cast<Canceller*>(self);
    ++c->asked;
    return c->stop_at != 0 && c->asked >= c->stop_at ? 1 : 0;
  }
};

// The bytes of one job, split where the document end begins.
struct Job {
  Bytes page;     // document start and the page
  Bytes end_doc;  // what DocProc_EndDoc wrote
  int result = 0;
};

// The page length (600/360 inch) is longer than the test pages, so that a
// page ends with its form feed.
Job RunJob(const char* cls, const char* options, uint16_t shingling, RASTER_INFO ri,
           Canceller* cancel) {
  RecordingWriter out;
  CONV_PARAM2 cp = JobParam(out, options, shingling, 24, 600);
  if (cancel != nullptr) {
    cp.req_exit_cb = Canceller::Ask;
    cp.req_exit_cb_param = cancel;
  }
  void* doc = DocProc_GetObject(cls, &cp);
  DocProc_StartDoc2(doc, &cp);
  Job job;
  job.result = DocProc_ProcessPage2(doc, &cp, &ri);
  job.page = out.All();
  DocProc_EndDoc(doc);
  const Bytes all = out.All();
  job.end_doc.assign(all.begin() + static_cast<std::ptrdiff_t>(job.page.size()), all.end());
  DocProc_Release(doc);
  return job;
}

// A one-bit page with ink on every row, so that any row the head printed
// or skipped shows.
OneBitPage InkedPage() {
  OneBitPage page(200, 480);
  page.Scatter(0, 480, 0.3, 7);
  return page;
}

TEST(CancelPoll, AsksOnTheFirstRowThenEveryFewRowsAndStaysStopped) {
  Canceller c;
  c.stop_at = 3;
  CancelPoll poll(Canceller::Ask, &c, 4);
  int rows = 0;
  while (!poll.Stop()) ++rows;
  // Questions at rows 0, 4 and 8: the third one stops, at row 8.
  EXPECT_EQ(rows, 8);
  EXPECT_EQ(c.asked, 3);
  EXPECT_TRUE(poll.Stop());
  EXPECT_TRUE(poll.StopNow());
  EXPECT_EQ(c.asked, 3);  // never asked again once stopped
  CancelPoll none(nullptr, nullptr);
  EXPECT_FALSE(none.Stop());
  EXPECT_FALSE(none.StopNow());
}

// In every shingling mode, a cancel in the middle of the bands prints a part
// of the page and nothing else: every printed dot is a dot of the page, the
// page is left with its form feed, and the document ends as usual.
TEST(CancelInk1, MidPageStopsTheBandsInEveryShinglingMode) {
  OneBitPage page = InkedPage();
  for (uint16_t mode = SHINGLING_NONE; mode <= SHINGLING_QUARTER_BAND_DYNA; ++mode) {
    SCOPED_TRACE("shingling " + std::to_string(mode));
    const Job full = RunJob("DocumentProcessInk1", "", mode, page.Raster(), nullptr);
    Canceller c;
    c.stop_at = 12;  // one question before the copy, then one per 8 lines
    const Job cut = RunJob("DocumentProcessInk1", "", mode, page.Raster(), &c);
    EXPECT_EQ(cut.result, -1);
    EXPECT_EQ(c.asked, 12);
    EXPECT_EQ(cut.end_doc, full.end_doc);
    ASSERT_LT(cut.page.size(), full.page.size());

    quillpreview::BandGeometry g;
    const quillpreview::DecodedBands bands = quillpreview::DecodeBands(cut.page, g);
    EXPECT_TRUE(bands.problems.empty()) << bands.problems.front();
    ASSERT_EQ(bands.pages.size(), 1u);
    EXPECT_EQ(bands.Of(quillpreview::BandCmd::kFormFeed).size(), 1u);  // the sheet is ejected
    const quillpreview::DotPlane& dots = bands.pages[0].planes[0];
    EXPECT_GT(dots.Count(), 0u);
    EXPECT_LT(dots.Count(), page.Count() / 2);
    uint64_t foreign = 0;
    for (uint32_t r = 0; r < dots.Rows(); ++r)
      for (uint32_t col = 0; col < dots.Width(); ++col)
        if (dots.Dot(r, col) && (r >= page.height() || !page.Get(r, col))) ++foreign;
    EXPECT_EQ(foreign, 0u);
    if (mode == SHINGLING_NONE) {
      // Without shingling the printed part is whole rows from the top.
      const uint32_t printed = dots.Rows();
      for (uint32_t r = 0; r + 24 < printed; ++r)
        for (uint32_t col = 0; col < page.width(); ++col)
          ASSERT_EQ(dots.Dot(r, col), page.Get(r, col)) << r << "," << col;
    }
  }
}

// A cancel while the page is being screened sends nothing of the page: the
// job is its document start and end alone.
TEST(CancelInk1, DuringScreeningNothingOfThePageIsSent) {
  ColourPage page(300, 400);
  page.Rect(0, 0, 400, 300, 90, 90, 90);
  for (const char* cls : {"DocumentProcessInk1", "DocumentProcessInk3"}) {
    SCOPED_TRACE(cls);
    RecordingWriter none;  // the same job without its page
    CONV_PARAM2 cp = JobParam(none, "dither=2:gamma=2.2", SHINGLING_HALF_BAND_DYNA, 24, 600);
    void* doc = DocProc_GetObject(cls, &cp);
    DocProc_StartDoc2(doc, &cp);
    DocProc_EndDoc(doc);
    DocProc_Release(doc);

    Canceller c;
    c.stop_at = 4;
    const Job cut = RunJob(cls, "dither=2:gamma=2.2", SHINGLING_HALF_BAND_DYNA, page.Raster(), &c);
    EXPECT_EQ(cut.result, -1);
    EXPECT_EQ(c.asked, 4);
    Bytes whole = cut.page;
    whole.insert(whole.end(), cut.end_doc.begin(), cut.end_doc.end());
    EXPECT_EQ(whole, none.All());
  }
}

// Copies after a cancel are not printed; the callback is asked before each.
TEST(CancelInk1, NoCopyAfterTheCancel) {
  OneBitPage page = InkedPage();
  const Job one = RunJob("DocumentProcessInk1", "", SHINGLING_NONE, page.Raster(), nullptr);
  Canceller c;
  // Copy 1: a question before it and one per 8 of its 480 lines; copy 2
  // is refused at its first question.
  c.stop_at = 1 + 480 / 8 + 1;
  const Job cut = RunJob("DocumentProcessInk1", "copies=3", SHINGLING_NONE, page.Raster(), &c);
  EXPECT_EQ(cut.result, -1);
  EXPECT_EQ(cut.page, one.page);
  EXPECT_EQ(cut.end_doc, one.end_doc);
}

// The thermal and 24-pin processors stop their rows the same way.
TEST(CancelTrad, ThermalAndDot24StopMidPage) {
  OneBitPage page = InkedPage();
  for (const char* cls : {"DocumentProcessThermal", "DocumentProcessDot24"}) {
    SCOPED_TRACE(cls);
    const Job full = RunJob(cls, "", SHINGLING_NONE, page.Raster(200), nullptr);
    Canceller c;
    c.stop_at = 10;
    const Job cut = RunJob(cls, "", SHINGLING_NONE, page.Raster(200), &c);
    EXPECT_EQ(cut.result, -1);
    EXPECT_EQ(c.asked, 10);
    EXPECT_EQ(cut.end_doc, full.end_doc);
    EXPECT_LT(cut.page.size(), full.page.size() / 2);
    EXPECT_GT(cut.page.size(), full.page.size() / 20);
  }
}

}  // namespace
