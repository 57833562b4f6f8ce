// End to end through the band output: the printer bytes of image pages, of
// print-data stream pages and of quillconvert are decoded back into dots
// and compared with the picture that went in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/hosts_fixtures.h"
#include "common/recording_writer.h"
#include "interface/rescale.h"
#include "preview/band_decoder.h"
#include "quill/libquill.h"

namespace {

using hosts_test::Bytes;
using hosts_test::Dots;
using hosts_test::Layout;
using quillpreview::BandGeometry;
using quillpreview::DecodeBands;
using quillpreview::DecodedBands;
using quill_test::RecordingWriter;

BandGeometry Geometry(uint32_t unit_x, uint32_t unit_y, uint32_t res_x, uint32_t res_y,
                      uint32_t pins) {
  BandGeometry g;
  g.x_unit = unit_x;
  g.y_unit = unit_y;
  g.x_res = res_x;
  g.y_res = res_y;
  g.band_height = pins * res_y / unit_y;
  return g;
}

// The black dots of the only page of `job`, within width x height; dots
// outside that area and decoding problems fail the test.
Dots PrintedDots(const Bytes& job, const BandGeometry& g, uint32_t width, uint32_t height) {
  const DecodedBands decoded = DecodeBands(job, g);
  EXPECT_TRUE(decoded.problems.empty()) << decoded.problems.front();
  EXPECT_TRUE(decoded.double_dots.empty());
  EXPECT_EQ(decoded.pages.size(), 1u) << decoded.Summary();
  if (decoded.pages.empty()) return Dots();
  const quillpreview::DotPlane& plane = decoded.pages[0].planes[0];
  EXPECT_LE(plane.Width(), width);
  EXPECT_LE(plane.Rows(), height);
  EXPECT_EQ(decoded.pages[0].planes[1].Count(), 0u);
  Dots dots(width, height);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) dots.Set(x, y, plane.Dot(y, x));
  }
  return dots;
}

std::vector<Bytes> BlockRows(const Dots& dots, uint16_t width_bytes) {
  const Bytes packed = hosts_test::PackRows(dots, width_bytes);
  std::vector<Bytes> rows;
  for (uint32_t y = 0; y < dots.height; ++y) {
    rows.emplace_back(packed.begin() + y * width_bytes, packed.begin() + (y + 1) * width_bytes);
  }
  return rows;
}

Bytes RunStream(const Bytes& stream, uint16_t x_unit, uint16_t y_unit, uint16_t pins,
                CONV_PARAM* out = nullptr) {
  hosts_test::MemoryReader reader(stream);
  RecordingWriter w;
  CONV_PARAM p{};
  p.x_unit = x_unit;
  p.y_unit = y_unit;
  p.num_pins = pins;
  p.rd_cb = hosts_test::MemoryReader::Callback;
  p.rd_hdl = reader.Handle();
  p.wr_cb = RecordingWriter::Callback;
  p.wr_hdl = w.Handle();
  EXPECT_EQ(process_print_data(&p), 0);
  if (out != nullptr) *out = p;
  Bytes all = w.All();
  if (!all.empty() && all.back() == 0x0C) all.pop_back();  // the forwarded byte
  return all;
}

TEST(DecodedDots, UnscaledStreamPagePrintsTheBlocksPlaced) {
  // y_unit 180 at 360 dpi: a feed of 0x30 moves 96 rows.
  const Dots top = hosts_test::TestPicture(96, 40);
  const Dots bottom = hosts_test::TestPicture(96, 30);
  const Bytes stream = hosts_test::StreamBuilder()
                           .Page(360, 360, 96, 200)
                           .Block(12, BlockRows(top, 12))
                           .Feed(0x30)
                           .Block(12, BlockRows(bottom, 12))
                           .Raw({0x0C})
                           .bytes();
  const Bytes job = RunStream(stream, 360, 180, 12);
  Dots expected(96, 166);
  for (uint32_t y = 0; y < 40; ++y) {
    for (uint32_t x = 0; x < 96; ++x) expected.Set(x, y, top.At(x, y));
  }
  for (uint32_t y = 0; y < 30; ++y) {
    for (uint32_t x = 0; x < 96; ++x) expected.Set(x, 136 + y, bottom.At(x, y));
  }
  EXPECT_EQ(PrintedDots(job, Geometry(360, 180, 360, 360, 12), 96, 166), expected);
}

TEST(DecodedDots, ScaledStreamPagePrintsTheRescaledPicture) {
  const Dots picture = hosts_test::TestPicture(128, 96);
  const Bytes stream = hosts_test::StreamBuilder()
                           .Scale(0x22, 0x00)
                           .Page(360, 360, 128, 96)
                           .Block(16, BlockRows(picture, 16))
                           .Raw({0x0C})
                           .bytes();
  CONV_PARAM after{};
  const Bytes job = RunStream(stream, 180, 180, 24, &after);
  EXPECT_EQ(after.shingling, 0);

  Bytes rows = hosts_test::PackRows(picture, 16);
  uint32_t pitch = 0;
  std::unique_ptr<unsigned char, decltype(&std::free)> small(
      rescale_image(rows.data(), 128, 96, 16, 64, 48, &pitch), &std::free);
  ASSERT_NE(small, nullptr);
  const Dots expected = hosts_test::UnpackRows(small.get(), 64, 48, pitch);
  EXPECT_GT(expected.Count(), 0u);
  EXPECT_EQ(PrintedDots(job, Geometry(180, 180, 180, 180, 24), 64, 48), expected);
}

struct FileCase {
  Layout layout;
  FREE_IMAGE_FORMAT format;
  const char* name;
};

TEST(DecodedDots, ImagePagesPrintAsTheyLook) {
  const std::string dir = hosts_test::ScratchDir("decoded_images");
  const Dots picture = hosts_test::TestPicture(101, 77);
  const FileCase cases[] = {
      {Layout::kOneBitBlackOnWhite, FIF_PNG, "bw1.png"},
      {Layout::kOneBitWhiteOnBlack, FIF_PNG, "wb1.png"},
      {Layout::kGrey8, FIF_PNG, "grey8.png"},
      {Layout::kPalette8, FIF_PNG, "pal8.png"},
      {Layout::kRgb24, FIF_PNG, "rgb24.png"},
      {Layout::kOneBitWhiteOnBlack, FIF_BMP, "wb1.bmp"},
      {Layout::kPalette8, FIF_BMP, "pal8.bmp"},
      {Layout::kRgb24, FIF_BMP, "rgb24.bmp"},
      {Layout::kOneBitBlackOnWhite, FIF_TIFF, "bw1.tif"},
      {Layout::kGrey8, FIF_TIFF, "grey8.tif"},
      {Layout::kRgba32, FIF_TIFF, "rgba32.tif"},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir + "/" + c.name;
    ASSERT_TRUE(hosts_test::WriteImage(picture, c.layout, c.format, path));
    RecordingWriter w;
    CONV_PARAM2 cp{};
    cp.x_unit = cp.y_unit = 360;
    cp.num_pins = 24;
    cp.wr_cb = RecordingWriter::Callback;
    cp.wr_hdl = w.Handle();
    void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
    ASSERT_NE(doc, nullptr);
    DocProc_StartDoc2(doc, &cp);
    EXPECT_EQ(DocProc_ProcessImagePage(doc, path.c_str(), 360, 360), 0);
    DocProc_EndDoc(doc);
    DocProc_Release(doc);
    EXPECT_EQ(PrintedDots(w.All(), Geometry(360, 360, 360, 360, 24), 101, 77), picture);
  }
}

TEST(DecodedDots, QuarterTurnedImagePrintsTurned) {
  const std::string dir = hosts_test::ScratchDir("decoded_rotate");
  const Dots picture = hosts_test::TestPicture(60, 90);
  const std::string path = dir + "/p.png";
  ASSERT_TRUE(hosts_test::WriteImage(picture, Layout::kGrey8, FIF_PNG, path));
  RecordingWriter w;
  CONV_PARAM2 cp{};
  cp.x_unit = cp.y_unit = 360;
  cp.num_pins = 24;
  cp.wr_cb = RecordingWriter::Callback;
  cp.wr_hdl = w.Handle();
  void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  ASSERT_NE(doc, nullptr);
  DocProc_StartDoc2(doc, &cp);
  EXPECT_EQ(DocProc_ProcessImagePage2(doc, path.c_str(), 360, 360, 90), 0);
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  Dots turned(90, 60);  // counter-clockwise
  for (uint32_t y = 0; y < 60; ++y) {
    for (uint32_t x = 0; x < 90; ++x) turned.Set(x, y, picture.At(59 - y, x));
  }
  EXPECT_EQ(PrintedDots(w.All(), Geometry(360, 360, 360, 360, 24), 90, 60), turned);
}

}  // namespace
