// Page dumps and stored pages.

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/log_capture.h"
#include "doc_proc_util.h"
#include "document/document_process_ink1.h"
#include "document/packed_page.h"
#include "document/page_dump.h"
#include "support/fi_bitmap.h"

namespace {

using doc_proc_test::ColourPage;
using doc_proc_test::JobParam;
using doc_proc_test::OneBitPage;
using quill_test::LogCapture;
using quill_test::RecordingWriter;

TEST(FormatDumpName, OnlyOneUnsignedConversionReceivesTheCount) {
  EXPECT_EQ(FormatDumpName("page%u.png", 1), "page1.png");
  EXPECT_EQ(FormatDumpName("page%05u.tif", 42), "page00042.tif");
  EXPECT_EQ(FormatDumpName("p%d-%u.png", 3), "p3-%u.png");
  EXPECT_EQ(FormatDumpName("%s%n%p%u", 7), "%s%n%p7");
  EXPECT_EQ(FormatDumpName("100%%-%x", 255), "100%-ff");
  EXPECT_EQ(FormatDumpName("same.png", 9), "same.png");
  EXPECT_EQ(FormatDumpName("end%", 9), "end%");
  EXPECT_EQ(FormatDumpName("%999999999u-%u", 1), "%999999999u-1") << "an oversized width is not honoured";
  EXPECT_EQ(FormatDumpName("%.100u", 1), "%.100u");
  EXPECT_LE(FormatDumpName(std::string(5000, 'a') + "%u", 1).size(), 1023u);
}

TEST(FormatDumpName, RelativeNamesGoToTmp) {
  EXPECT_EQ(DumpPath("a.png"), "/tmp/a.png");
  EXPECT_EQ(DumpPath("/var/x.png"), "/var/x.png");
}

TEST(DumpRaster, EveryCopyOfEveryPageIsDumpedUnderItsPageNumber) {
  const std::string stem = "quill-pipeline-dump-" + std::to_string(getpid()) + "-";
  const std::string options = "copies=2:dump_name=" + stem + "%u.png";
  OneBitPage page(20, 10);
  page.Set(1, 1);
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, options.c_str());
  DocumentProcessInk1 doc(&cp);
  LogCapture log;
  for (int i = 0; i < 2; ++i) {
    RASTER_INFO ri = page.Raster();
    doc.ProcessPage(&ri);
  }
  const std::string first = "/tmp/" + stem + "1.png", second = "/tmp/" + stem + "2.png";
  EXPECT_EQ(log.Count(spdlog::level::debug, "dumping image to " + first), 2);
  EXPECT_EQ(log.Count(spdlog::level::debug, "dumping image to " + second), 2);
  // The one-bit dump shows ink as black.
  FiBitmap png(FreeImage_Load(FIF_PNG, first.c_str(), 0));
  ASSERT_TRUE(png);
  ASSERT_EQ(FreeImage_GetBPP(png.get()), 1u);
  const RGBQUAD* pal = FreeImage_GetPalette(png.get());
  auto red_at = [&](unsigned x, unsigned y) {  // FreeImage rows go bottom-up
    BYTE index = 0;
    EXPECT_TRUE(FreeImage_GetPixelIndex(png.get(), x, 10 - 1 - y, &index));
    return pal[index].rgbRed;
  };
  EXPECT_EQ(red_at(1, 1), 0);
  EXPECT_EQ(red_at(2, 1), 255);
  EXPECT_EQ(red_at(1, 2), 255);
  std::remove(first.c_str());
  std::remove(second.c_str());
}

TEST(PackedPage, RawPagesHandBackTheirOwnBuffer) {
  ColourPage page(17, 9);
  page.Rect(2, 3, 5, 9, 10, 20, 30);
  RASTER_INFO ri = page.Raster();
  std::unique_ptr<PackedPage> packed(PackedPage::Create(&ri, false));
  ASSERT_TRUE(packed);
  EXPECT_EQ(packed->m_PackedSize, 0u);
  RASTER_INFO* got = packed->Get();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->img_p, packed->m_PackedRaster.img_p);
  EXPECT_EQ(got->width, 17u);
  EXPECT_EQ(std::vector<uint8_t>(got->img_p, got->img_p + size_t(got->pitch) * got->height), page.Pixels());
  std::free(got);
  EXPECT_EQ(PackedPage::Create(nullptr, true), nullptr);
}

TEST(PackedPage, CompressedPagesComeBackWhole) {
  ColourPage page(301, 77);
  page.Rect(10, 10, 60, 200, 0, 0, 0);
  RASTER_INFO ri = page.Raster();
  LogCapture log;
  std::unique_ptr<PackedPage> packed(PackedPage::Create(&ri, true));
  ASSERT_TRUE(packed);
  EXPECT_GT(packed->m_PackedSize, 0u);
  EXPECT_LT(packed->m_PackedSize, page.Pixels().size());
  EXPECT_TRUE(log.Contains("page compressed to "));
  RASTER_INFO* got = packed->Get();
  ASSERT_NE(got, nullptr);
  EXPECT_NE(got->img_p, packed->m_PackedRaster.img_p);
  EXPECT_EQ(std::vector<uint8_t>(got->img_p, got->img_p + size_t(got->pitch) * got->height), page.Pixels());
  std::free(got->img_p);
  std::free(got);
}

TEST(SaveBackupPage, AppendsACopyThatOutlivesTheCallersPixels) {
  OneBitPage page(16, 8);
  page.FillRows(2, 3);
  RecordingWriter writer;
  CONV_PARAM2 cp = JobParam(writer, "");
  DocumentProcessInk1 doc(&cp);
  RASTER_INFO ri = page.Raster();
  doc.SaveBackupPage(&ri, true);
  doc.SaveBackupPage(&ri, false);
  ASSERT_EQ(doc.m_BackupPages.size(), 2u);
  RASTER_INFO* got = doc.m_BackupPages[0]->Get();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->img_p[2 * 2], 0xFF);
  EXPECT_EQ(got->img_p[3 * 2], 0x00);
  std::free(got->img_p);
  std::free(got);
}

}  // namespace
