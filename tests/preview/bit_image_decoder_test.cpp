// The bit-image decoder itself, on hand-written streams: it is the oracle
// of the thermal and 24-pin tests, so its head model is pinned down here.
#include <gtest/gtest.h>

#include "common/recording_writer.h"
#include "preview/bit_image_decoder.h"

namespace {

using quillpreview::BitImageStream;
using quillpreview::DotGeometry;
using quillpreview::DotPage;
using quill_test::HexBytes;
using quillpreview::ParseBitImageStream;
using quillpreview::RebuildDots;

TEST(BitImageDecoder, PlacesImagesByPositionCarriageReturnAndFeed) {
  const BitImageStream s = ParseBitImageStream(HexBytes(
      "1B 40"
      "1B 24 0A 00 1B 2A 21 02 00 80 00 00 00 00 01"  // columns 10, 11: pins 0 and 23
      "1B 2A 21 01 00 40 00 00"                        // column 12 follows on: pin 1
      "0D 1B 4A 18"
      "1B 2A 21 01 00 00 80 00"));                     // column 0, 24 rows down: pin 8
  ASSERT_EQ("", s.error);
  ASSERT_EQ(3u, s.images.size());
  EXPECT_EQ(1u, s.initializations);
  EXPECT_EQ(1u, s.carriage_returns);
  const DotPage d = RebuildDots(s, DotGeometry{}, 0, 16, 48);
  EXPECT_EQ("", d.error);
  EXPECT_EQ(4u, d.CountDots(0));
  EXPECT_TRUE(d.Dot(0, 10, 0));
  EXPECT_TRUE(d.Dot(0, 11, 23));
  EXPECT_TRUE(d.Dot(0, 12, 1));
  EXPECT_TRUE(d.Dot(0, 0, 32));
}

TEST(BitImageDecoder, EightDotModesReadOneBytePerColumn) {
  const BitImageStream s = ParseBitImageStream(HexBytes("1B 2A 01 02 00 80 01 1B 4A 08"));
  ASSERT_EQ("", s.error);
  const DotPage d = RebuildDots(s, DotGeometry{}, 0, 4, 8);
  EXPECT_TRUE(d.Dot(0, 0, 0));
  EXPECT_TRUE(d.Dot(0, 1, 7));
  EXPECT_EQ(8u, s.page_feed_units[0]);
}

TEST(BitImageDecoder, InterlacedPassesFillEvenAndOddRows) {
  DotGeometry g;
  g.x_unit = 360;
  g.x_res = 180;
  g.interlaced = true;
  // Even pass at 2 units (row 4), odd pass one unit lower, next band 24 units on.
  const BitImageStream s = ParseBitImageStream(HexBytes(
      "1B 4A 02 1B 2A 27 01 00 80 00 00 0D 1B 4A 01 1B 24 02 00 1B 2A 27 01 00 80 00 00 0D"
      "1B 4A 17 1B 2A 27 01 00 00 00 01"));
  ASSERT_EQ("", s.error);
  const DotPage d = RebuildDots(s, g, 0, 4, 120);
  EXPECT_EQ("", d.error);
  EXPECT_TRUE(d.Dot(0, 0, 4));
  EXPECT_TRUE(d.Dot(0, 1, 5));        // position 2/360 inch = column 1 at 180 dpi
  EXPECT_TRUE(d.Dot(0, 0, 52 + 46));  // band 2, pin 23
  EXPECT_EQ(3u, d.CountDots(0));

  const BitImageStream off = ParseBitImageStream(
      HexBytes("1B 2A 27 01 00 80 00 00 1B 4A 02 1B 2A 27 01 00 80 00 00"));
  EXPECT_NE("", RebuildDots(off, g, 0, 4, 120).error);
}

TEST(BitImageDecoder, ColoursAndPages) {
  const BitImageStream s = ParseBitImageStream(HexBytes(
      "1B 72 00 1B 2A 27 01 00 80 00 00 1B 72 01 1B 2A 27 01 00 40 00 00 0D 0C"
      "1B 28 55 01 00 0A 00 1B 28 43 02 00 78 0F 1B 2A 27 01 00 20 00 00"));
  ASSERT_EQ("", s.error);
  EXPECT_EQ(2u, s.pages);
  EXPECT_EQ((std::vector<uint32_t>{3960}), s.page_lengths);
  EXPECT_EQ((std::vector<uint32_t>{10}), s.units);
  DotGeometry g;
  g.x_unit = 360;
  g.x_res = 180;
  const DotPage p0 = RebuildDots(s, g, 0, 4, 24, 2);
  EXPECT_TRUE(p0.Dot(0, 0, 0));
  EXPECT_TRUE(p0.Dot(1, 1, 1));  // the second image follows on in column 1
  const DotPage p1 = RebuildDots(s, g, 1, 4, 24, 2);
  EXPECT_TRUE(p1.Dot(1, 0, 2));  // the ribbon colour outlasts the form feed
  EXPECT_EQ(1u, p1.CountDots(1));
  EXPECT_EQ(0u, p1.CountDots(0));
  // A colour beyond the planes asked for is an error, not a silent drop.
  EXPECT_NE("", RebuildDots(s, g, 0, 4, 24, 1).error);
}

TEST(BitImageDecoder, ReportsUnknownAndTruncatedCommands) {
  EXPECT_NE("", ParseBitImageStream(HexBytes("1B 40 41")).error);
  EXPECT_NE("", ParseBitImageStream(HexBytes("1B 2A 21 02 00 80 00")).error);
  EXPECT_NE("", ParseBitImageStream(HexBytes("1B 1D 1E 04 31")).error);
  const BitImageStream ext =
      ParseBitImageStream(HexBytes("1B 1D 1E 04 32 00 C8 1B 1D 1F 1D 57 40 02 1D 4C 08 00"));
  ASSERT_EQ("", ext.error);
  ASSERT_EQ(1u, ext.extensions.size());
  EXPECT_EQ(HexBytes("04 32 00 C8"), ext.extensions[0].payload);
  EXPECT_EQ((std::vector<uint32_t>{576}), ext.print_widths);
  EXPECT_EQ((std::vector<uint32_t>{8}), ext.left_margins);
}

TEST(BitImageDecoder, DotsOutsideThePageAreCounted) {
  const BitImageStream s = ParseBitImageStream(HexBytes("1B 24 05 00 1B 2A 21 01 00 FF FF FF"));
  const DotPage d = RebuildDots(s, DotGeometry{}, 0, 4, 24);
  EXPECT_EQ(24u, d.outside);
  EXPECT_NE("", quillpreview::CompareDots(d, 0, quillpreview::BitPage(4, 24)));
}

}  // namespace
