// The document level below the C interface: option loading and its records,
// document attributes, collation at document start, stored pages and their
// records, and the diagnostic image dumps.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <FreeImage.h>
#include <zlib.h>

#include "common/log_capture.h"
#include "common/recording_writer.h"
#include "document/document_process_ink1.h"
#include "document/packed_page.h"
#include "document/page_dump.h"
#include "quill/libquill.h"
#include "support/fi_bitmap.h"

namespace {

using quill_test::LogCapture;
using quill_test::RecordingWriter;

CONV_PARAM2 Param(RecordingWriter& writer, const char* options) {
  CONV_PARAM2 cp{};
  cp.x_unit = 360;
  cp.y_unit = 360;
  cp.num_pins = 24;
  cp.wr_cb = RecordingWriter::Callback;
  cp.wr_hdl = writer.Handle();
  cp.options = options;
  return cp;
}

// Messages of the debug records, in order.
std::vector<std::string> DebugMessages(const LogCapture& log) {
  std::vector<std::string> out;
  for (const auto& r : log.Records()) {
    if (r.level == spdlog::level::debug) out.push_back(r.message);
  }
  return out;
}

// Index of `message` in `messages`, or -1.
int IndexOf(const std::vector<std::string>& messages, const std::string& message) {
  for (size_t i = 0; i < messages.size(); ++i) {
    if (messages[i] == message) return static_cast<int>(i);
  }
  return -1;
}

// A grey raster of w x h pixels with a pitch padded to 4 bytes.
struct GreyPage {
  GreyPage(uint32_t w, uint32_t h) : width(w), height(h), pitch((w + 3) / 4 * 4), pixels(pitch * h, 255) {}
  RASTER_INFO Raster() {
    RASTER_INFO r{};
    r.img_p = pixels.data();
    r.width = width;
    r.height = height;
    r.pitch = static_cast<int32_t>(pitch);
    r.x_res = 300;
    r.y_res = 150;
    r.bpp = 8;
    return r;
  }
  uint32_t width, height, pitch;
  std::vector<uint8_t> pixels;
};

TEST(LoadOptions, RecordsTheStringAndItsParsedFormInOrder) {
  RecordingWriter writer;
  LogCapture log;
  CONV_PARAM2 cp = Param(writer, "scale=50:copies=2:b=x=y:copies=9");
  DocumentProcessInk1 doc(&cp);
  const std::vector<std::string> debug = DebugMessages(log);
  const int parsing = IndexOf(debug, "parsing options: scale=50:copies=2:b=x=y:copies=9");
  const int parsed = IndexOf(debug, "parsed: b=x=y:copies=2:scale=50");
  const int name = IndexOf(debug, "DocumentProcessInk1");
  ASSERT_GE(parsing, 0);
  EXPECT_GT(parsed, parsing);
  EXPECT_GT(name, parsed) << "the class record follows the base options";
  EXPECT_EQ(doc.m_DocAttr.m_Copies, 2);
  EXPECT_EQ(doc.m_DocAttr.m_Scale, 50);

  log.Clear();
  CONV_PARAM2 none = Param(writer, nullptr);
  doc.Update(&none, true);
  EXPECT_EQ(log.Count(spdlog::level::debug, "parsing options: (null)"), 1);
  EXPECT_FALSE(log.Contains("parsed: "));
  EXPECT_EQ(doc.m_DocAttr.m_Copies, 1);
  EXPECT_EQ(doc.m_DocAttr.m_Scale, 100);
  EXPECT_EQ(doc.m_DocAttr.m_ExtraOptions, "scale=50:copies=2:b=x=y:copies=9");
}

TEST(LoadOptions, EmptyStringResetsAttributesButKeepsTheLastOptionString) {
  RecordingWriter writer;
  CONV_PARAM2 cp = Param(writer, "copies=3:duplex=258:collate=1:nup=4:gamma=0.5:dump_name=d%u.png");
  DocumentProcessInk1 doc(&cp);
  EXPECT_EQ(doc.m_DocAttr.m_Duplex, 2) << "stored as 8 bits";
  EXPECT_TRUE(doc.m_DocAttr.m_Collate);
  EXPECT_EQ(doc.m_DocAttr.m_Nup, 4);
  EXPECT_EQ(doc.m_DocAttr.m_Gamma, 0.5);

  CONV_PARAM2 empty = Param(writer, "");
  doc.Update(&empty, true);
  EXPECT_EQ(doc.m_DocAttr.m_Duplex, 0);
  EXPECT_FALSE(doc.m_DocAttr.m_Collate);
  EXPECT_EQ(doc.m_DocAttr.m_Nup, 1);
  EXPECT_EQ(doc.m_DocAttr.m_Copies, 1);
  EXPECT_EQ(doc.m_DocAttr.m_Gamma, 1.0);
  EXPECT_EQ(doc.m_DocAttr.m_ExtraOptions, "copies=3:duplex=258:collate=1:nup=4:gamma=0.5:dump_name=d%u.png");
  EXPECT_EQ(doc.m_DumpImageName, "d%u.png");
}

TEST(DocumentAttributes, FromStringReadsOnlyTheSixScalars) {
  DocumentAttributes attr;
  attr.FromString("copies=0:scale=7:duplex=1:icc=/x:reverse_order=1:gamma=2.2");
  EXPECT_EQ(attr.m_Copies, 0);
  EXPECT_EQ(attr.m_Scale, 7);
  EXPECT_EQ(attr.m_Duplex, 1);
  EXPECT_EQ(attr.m_Gamma, static_cast<double>(2.2f));
  EXPECT_FALSE(attr.m_Collate);
  attr.Reset();
  EXPECT_EQ(attr.m_Copies, 1);
  EXPECT_EQ(attr.m_Scale, 100);
  EXPECT_EQ(attr.m_Duplex, 0);
  EXPECT_EQ(attr.m_Gamma, 1.0);
}

TEST(StartDoc, ClearsCollationForOneCopyUnlessReverseOrder) {
  RecordingWriter writer;
  CONV_PARAM2 cp = Param(writer, "copies=1");
  DocumentProcessInk1 doc(&cp);
  doc.m_DocAttr.m_Collate = true;  // set behind the option loading's back
  LogCapture log;
  doc.StartDoc();
  EXPECT_FALSE(doc.m_DocAttr.m_Collate);
  EXPECT_EQ(log.Count(spdlog::level::debug, "collating is meaningless with one copy, disable it"), 1);

  CONV_PARAM2 reverse = Param(writer, "copies=1:reverse_order=1");
  DocumentProcessInk1 kept(&reverse);
  log.Clear();
  kept.StartDoc();
  EXPECT_TRUE(kept.m_DocAttr.m_Collate);
  EXPECT_FALSE(log.Contains("collating is meaningless"));
}

TEST(EndDoc, Ink1RecordsEveryEndButWritesOnlyOnce) {
  RecordingWriter writer;
  CONV_PARAM2 cp = Param(writer, "end_doc=0C1B40");
  DocumentProcessInk1 doc(&cp);
  LogCapture log;
  doc.EndDoc();  // not started: nothing written
  EXPECT_TRUE(writer.Calls().empty());
  doc.StartDoc();
  doc.EndDoc();
  doc.EndDoc();
  EXPECT_EQ(log.Count(spdlog::level::debug, "end doc"), 3);
  ASSERT_EQ(writer.Calls().size(), 2u);
  EXPECT_EQ(quill_test::ToHex(writer.Calls()[1]), "0C 1B 40") << "the end bytes are one write";
}

TEST(PackedPage, RecordsTellHowThePageWasStored) {
  GreyPage page(30, 7);  // pitch 32: 224 bytes
  for (uint32_t x = 0; x < 30; ++x) page.pixels[3 * page.pitch + x] = static_cast<uint8_t>(x);
  RASTER_INFO ri = page.Raster();
  LogCapture log;
  std::unique_ptr<PackedPage> raw(PackedPage::Create(&ri, false));
  ASSERT_TRUE(raw);
  EXPECT_EQ(log.Count(spdlog::level::debug, "store page without compressing [224]"), 1);
  EXPECT_EQ(raw->m_PackedSize, 0u);
  EXPECT_NE(raw->m_PackedRaster.img_p, page.pixels.data()) << "a copy, not the caller's pixels";

  // The compressed size is that of zlib level 1 over the pixel bytes.
  uLongf expected = compressBound(224);
  std::vector<Bytef> z(expected);
  ASSERT_EQ(compress2(z.data(), &expected, page.pixels.data(), 224, 1), Z_OK);
  log.Clear();
  std::unique_ptr<PackedPage> packed(PackedPage::Create(&ri, true));
  ASSERT_TRUE(packed);
  EXPECT_EQ(packed->m_PackedSize, expected);
  EXPECT_EQ(log.Count(spdlog::level::debug, "page compressed to " + std::to_string(expected)), 1);
  EXPECT_FALSE(log.Contains("store page without compressing"));
  EXPECT_EQ(std::vector<uint8_t>(packed->m_PackedRaster.img_p, packed->m_PackedRaster.img_p + expected),
            std::vector<uint8_t>(z.begin(), z.begin() + expected));

  RASTER_INFO* got = packed->Get();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->width, 30u);
  EXPECT_EQ(got->x_res, 300);
  EXPECT_EQ(std::vector<uint8_t>(got->img_p, got->img_p + 224), page.pixels);
  std::free(got->img_p);
  std::free(got);

  PackedPage empty;
  EXPECT_EQ(empty.m_PackedSize, 0u);
  EXPECT_EQ(empty.m_PackedRaster.img_p, nullptr);
}

TEST(SaveBackupPage, RecordsThePageCountAndDumpsWhenAsked) {
  const std::string name = "/tmp/quill-backup-" + std::to_string(getpid()) + "-%u.png";
  const std::string options = "dump_name=" + name;
  RecordingWriter writer;
  CONV_PARAM2 cp = Param(writer, options.c_str());
  DocumentProcessInk1 doc(&cp);
  doc.m_PageCount = 4;
  GreyPage page(8, 8);
  RASTER_INFO ri = page.Raster();
  LogCapture log;
  doc.SaveBackupPage(&ri, false);
  const std::string path = "/tmp/quill-backup-" + std::to_string(getpid()) + "-4.png";
  const std::vector<std::string> debug = DebugMessages(log);
  const int saving = IndexOf(debug, "saving page 4");
  const int dumping = IndexOf(debug, "dumping image to " + path);
  const int storing = IndexOf(debug, "store page without compressing [64]");
  ASSERT_GE(saving, 0);
  EXPECT_GT(dumping, saving);
  EXPECT_GT(storing, dumping);
  ASSERT_EQ(doc.m_BackupPages.size(), 1u);
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
  std::remove(path.c_str());
}

TEST(DumpRaster, StoresTheResolutionInDotsPerMetreRoundedUp) {
  const std::string stem = "quill-dpm-" + std::to_string(getpid());
  const std::string options = "dump_name=" + stem + "-%03lu.png";
  RecordingWriter writer;
  CONV_PARAM2 cp = Param(writer, options.c_str());
  DocumentProcessInk1 doc(&cp);
  doc.m_PageCount = 7;
  GreyPage page(5, 3);
  page.pixels[1 * page.pitch + 2] = 0;
  RASTER_INFO ri = page.Raster();  // 300 x 150 dpi
  doc.DumpRaster(&ri);
  const std::string path = "/tmp/" + stem + "-007.png";
  FiBitmap png(FreeImage_Load(FIF_PNG, path.c_str(), 0));
  ASSERT_TRUE(png);
  EXPECT_EQ(FreeImage_GetDotsPerMeterX(png.get()), 11812u);  // ceil(11811.02)
  EXPECT_EQ(FreeImage_GetDotsPerMeterY(png.get()), 5906u);   // ceil(5905.51)
  BYTE v = 0;
  ASSERT_TRUE(FreeImage_GetPixelIndex(png.get(), 2, 3 - 1 - 1, &v));  // rows bottom-up
  EXPECT_EQ(v, 0);
  ASSERT_TRUE(FreeImage_GetPixelIndex(png.get(), 1, 3 - 1 - 1, &v));
  EXPECT_EQ(v, 255);
  std::remove(path.c_str());

  // A page that cannot be wrapped is skipped without a record.
  LogCapture log;
  RASTER_INFO none = ri;
  none.img_p = nullptr;
  doc.DumpRaster(&none);
  EXPECT_FALSE(log.Contains("dumping image to"));
}

TEST(FormatDumpName, LengthModifiersAreHonouredAndOthersPrintedLiterally) {
  EXPECT_EQ(FormatDumpName("p%lu.png", 3), "p3.png");
  EXPECT_EQ(FormatDumpName("p%zu-%llu.png", 12), "p12-%llu.png");
  EXPECT_EQ(FormatDumpName("p%hhx.png", 255), "pff.png");
  EXPECT_EQ(FormatDumpName("p%Lu%u.png", 5), "p%Lu5.png");
  EXPECT_EQ(FormatDumpName("p%lllu.png", 5), "p%lllu.png");
  EXPECT_EQ(FormatDumpName("%-4d|", 42), "42  |");
}

TEST(SaveTempImage, WritesAnUprightTiffAndLeavesTheImageAlone) {
  const std::string tag = "quill-temp-" + std::to_string(getpid());
  FiBitmap dib(FreeImage_Allocate(4, 3, 8));
  ASSERT_TRUE(dib);
  RGBQUAD* pal = FreeImage_GetPalette(dib.get());
  for (int i = 0; i < 256; ++i) pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = static_cast<BYTE>(i);
  for (int y = 0; y < 3; ++y) std::fill_n(FreeImage_GetScanLine(dib.get(), y), 4, BYTE{255});
  FreeImage_GetScanLine(dib.get(), 0)[1] = 0;  // the page's top row, as the pipeline wraps pages
  LogCapture log;
  save_temp_image(dib.get(), tag.c_str());
  const std::string path = "/tmp/" + tag + ".tif";
  EXPECT_TRUE(log.Contains(path));
  EXPECT_EQ(FreeImage_GetScanLine(dib.get(), 0)[1], 0) << "the caller's image is unchanged";

  FiBitmap tif(FreeImage_Load(FIF_TIFF, path.c_str(), 0));
  ASSERT_TRUE(tif);
  // The top row of the file is the last scan line FreeImage loads.
  EXPECT_EQ(FreeImage_GetScanLine(tif.get(), 2)[1], 0);
  EXPECT_EQ(FreeImage_GetScanLine(tif.get(), 0)[1], 255);
  std::remove(path.c_str());
}

}  // namespace
