// The print-data stream conversion: command matching and pass-through, page
// assembly from blocks and feeds, scale/method and direction commands with
// their write-back, incomplete and hostile input. Converted pages are
// checked against the job that convert_raster_to_command makes of the page
// the stream describes (a model of the stream's semantics).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/hosts_fixtures.h"
#include "common/log_capture.h"
#include "common/recording_writer.h"
#include "interface/rescale.h"
#include "quill/libquill.h"

namespace {

using hosts_test::Bytes;
using hosts_test::Dots;
using hosts_test::MemoryReader;
using hosts_test::PackRows;
using hosts_test::StreamBuilder;
using quill_test::HexBytes;
using quill_test::LogCapture;
using quill_test::RecordingWriter;
using quill_test::ToHex;

// Rows of `dots` as block rows of `width_bytes` bytes each.
std::vector<Bytes> BlockRows(const Dots& dots, uint16_t width_bytes) {
  const Bytes packed = PackRows(dots, width_bytes);
  std::vector<Bytes> rows;
  for (uint32_t y = 0; y < dots.height; ++y) {
    rows.emplace_back(packed.begin() + y * width_bytes, packed.begin() + (y + 1) * width_bytes);
  }
  return rows;
}

class PrintDataTest : public ::testing::Test {
 protected:
  // Runs the stream with units x_unit_ / y_unit_; the caller's record stays
  // in param_ for write-back checks.
  int Run(const Bytes& stream, size_t chunk = 0) {
    reader_ = std::make_unique<MemoryReader>(stream, chunk);
    param_ = CONV_PARAM{};
    param_.shingling = shingling_;
    param_.x_unit = x_unit_;
    param_.y_unit = y_unit_;
    param_.num_pins = 24;
    param_.rd_cb = MemoryReader::Callback;
    param_.rd_hdl = reader_->Handle();
    param_.wr_cb = RecordingWriter::Callback;
    param_.wr_hdl = writer_.Handle();
    param_.req_exit_cb = cancel_cb_;
    param_.req_exit_cb_param = cancel_param_;
    return process_print_data(&param_);
  }

  // The job convert_raster_to_command makes of a one-bit page.
  Bytes Job(const uint8_t* rows, uint32_t width, uint32_t height, uint32_t pitch, uint16_t x_res,
            uint16_t y_res, uint16_t shingling = 0, bool unidir = false) {
    RecordingWriter w;
    const std::string options = std::string("prefer_unidir=") + (unidir ? "1" : "0") +
                                ":time_stamp=0";
    CONV_PARAM2 cp{};
    cp.shingling = shingling;
    cp.x_unit = x_unit_;
    cp.y_unit = y_unit_;
    cp.num_pins = 24;
    cp.wr_cb = RecordingWriter::Callback;
    cp.wr_hdl = w.Handle();
    cp.options = options.c_str();
    Bytes copy(rows, rows + static_cast<size_t>(pitch) * height);
    RASTER_INFO r{};
    r.img_p = copy.data();
    r.width = width;
    r.height = height;
    r.pitch = static_cast<int32_t>(pitch);
    r.x_res = x_res;
    r.y_res = y_res;
    r.bpp = 1;
    convert_raster_to_command(&cp, &r);
    return w.All();
  }
  Bytes Job(const Dots& page, uint32_t pitch, uint16_t x_res, uint16_t y_res,
            uint16_t shingling = 0, bool unidir = false) {
    const Bytes rows = PackRows(page, pitch);
    return Job(rows.data(), page.width, page.height, pitch, x_res, y_res, shingling, unidir);
  }

  static Bytes Plus(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

  std::vector<std::string> CallsAsHex() const {
    std::vector<std::string> out;
    for (const Bytes& call : writer_.Calls()) out.push_back(ToHex(call));
    return out;
  }

  uint16_t x_unit_ = 360;
  uint16_t y_unit_ = 360;
  uint16_t shingling_ = 0;
  request_exit_callback cancel_cb_ = nullptr;
  void* cancel_param_ = nullptr;
  std::unique_ptr<MemoryReader> reader_;
  CONV_PARAM param_{};
  RecordingWriter writer_;
};

using Calls = std::vector<std::string>;

TEST_F(PrintDataTest, PlainBytesPassThroughOneByOne) {
  Bytes plain;
  for (int b = 0; b < 256; ++b) {
    if (b != 'P' && b != 'B' && b != 'S' && b != 'D' && b != 0x1B) plain.push_back(uint8_t(b));
  }
  EXPECT_EQ(Run(plain), 0);
  EXPECT_EQ(writer_.All(), plain);
  ASSERT_EQ(writer_.Calls().size(), plain.size());
  for (const Bytes& call : writer_.Calls()) EXPECT_EQ(call.size(), 1u);
}

TEST_F(PrintDataTest, BrokenCommandWordsPassAsTheyWere) {
  EXPECT_EQ(Run(StreamBuilder().Text("PAX").bytes()), 0);
  EXPECT_EQ(CallsAsHex(), Calls{"50 41 58"});

  // The byte that breaks a word never starts a command of its own.
  writer_.Clear();
  EXPECT_EQ(Run(StreamBuilder().Text("PBLK").bytes()), 0);
  EXPECT_EQ(CallsAsHex(), (Calls{"50 42", "4C", "4B"}));

  writer_.Clear();
  EXPECT_EQ(Run(StreamBuilder().Text("BLxSCxDIxPAGx").bytes()), 0);
  EXPECT_EQ(CallsAsHex(), (Calls{"42 4C 78", "53 43 78", "44 49 78", "50 41 47 78"}));

  // A word cut off by the end of the stream is forwarded as far as it got.
  writer_.Clear();
  EXPECT_EQ(Run(StreamBuilder().Text("PAG").bytes()), 0);
  EXPECT_EQ(CallsAsHex(), Calls{"50 41 47"});
  writer_.Clear();
  EXPECT_EQ(Run(StreamBuilder().Text("SCL").bytes()), 0);
  EXPECT_EQ(CallsAsHex(), Calls{"53 43 4C"});
}

TEST_F(PrintDataTest, EscapesOutsideAPagePassAsOneWrite) {
  EXPECT_EQ(Run(HexBytes("1B 4A 30 1B 40 1B 1B 41")), 0);
  EXPECT_EQ(CallsAsHex(), (Calls{"1B 4A 30", "1B 40", "1B 1B", "41"}));
  writer_.Clear();
  EXPECT_EQ(Run(HexBytes("1B 4A")), 0);
  EXPECT_EQ(CallsAsHex(), Calls{"1B 4A"});
  writer_.Clear();
  EXPECT_EQ(Run(HexBytes("1B")), 0);
  EXPECT_EQ(CallsAsHex(), Calls{"1B"});
}

TEST_F(PrintDataTest, PageIsConvertedWhenPlainByteFollows) {
  const Dots dots = hosts_test::TestPicture(64, 40);
  const Bytes stream =
      StreamBuilder().Page(360, 360, 64, 60).Block(8, BlockRows(dots, 8)).Raw({0x0C}).bytes();
  EXPECT_EQ(Run(stream), 0);
  const Bytes job = Job(dots, 8, 360, 360);
  ASSERT_FALSE(job.empty());
  EXPECT_EQ(ToHex(Bytes(job.begin(), job.begin() + 2)), "1B 40");  // a complete job
  EXPECT_EQ(ToHex(writer_.All()), ToHex(Plus(job, {0x0C})));
  ASSERT_FALSE(writer_.Calls().empty());
  EXPECT_EQ(ToHex(writer_.Calls().back()), "0C");
}

TEST_F(PrintDataTest, StreamEndingInsideAPagePrintsNothing) {
  const Dots dots = hosts_test::TestPicture(64, 40);
  EXPECT_EQ(Run(StreamBuilder().Page(360, 360, 64, 60).Block(8, BlockRows(dots, 8)).bytes()), 0);
  EXPECT_TRUE(writer_.Calls().empty());
}

TEST_F(PrintDataTest, FeedInsideAPageMovesTheCurrentLine) {
  y_unit_ = 180;
  LogCapture log;
  Dots a(64, 1), b(64, 1);
  for (uint32_t x = 0; x < 64; x += 3) a.Set(x, 0);
  for (uint32_t x = 1; x < 64; x += 2) b.Set(x, 0);
  // 100 units of 1/180 inch at 360 dpi: 200 rows.
  const Bytes stream = StreamBuilder()
                           .Page(360, 360, 64, 100)
                           .Block(8, BlockRows(a, 8))
                           .Feed(0x30)
                           .Block(8, BlockRows(b, 8))
                           .Raw({0x0C})
                           .bytes();
  EXPECT_EQ(Run(stream), 0);
  EXPECT_TRUE(log.Contains("feed 48, new y is 97"));
  Dots page(64, 98);
  for (uint32_t x = 0; x < 64; ++x) {
    page.Set(x, 0, a.At(x, 0));
    page.Set(x, 97, b.At(x, 0));
  }
  EXPECT_EQ(ToHex(writer_.All()), ToHex(Plus(Job(page, 8, 360, 360), {0x0C})));
}

TEST_F(PrintDataTest, ScaleCommandHalvesThePageAndWritesShinglingBack) {
  LogCapture log;
  const Dots dots = hosts_test::TestPicture(64, 48);
  const Bytes stream = StreamBuilder()
                           .Scale(0x22, 0x03)
                           .Page(360, 360, 64, 48)
                           .Block(8, BlockRows(dots, 8))
                           .Raw({0x0C})
                           .bytes();
  EXPECT_EQ(Run(stream), 0);
  EXPECT_EQ(param_.shingling, 3);
  EXPECT_TRUE(log.Contains("rescale to 32x24,4"));

  Bytes rows = PackRows(dots, 8);
  uint32_t pitch = 0;
  unsigned char* small = rescale_image(rows.data(), 64, 48, 8, 32, 24, &pitch);
  ASSERT_NE(small, nullptr);
  const Bytes job = Job(small, 32, 24, pitch, 180, 180, 3);
  std::free(small);
  EXPECT_EQ(ToHex(writer_.All()), ToHex(Plus(job, {0x0C})));
}

TEST_F(PrintDataTest, MethodByteIsSignExtended) {
  EXPECT_EQ(Run(StreamBuilder().Scale(0x11, 0xFE).bytes()), 0);
  EXPECT_EQ(param_.shingling, 0xFFFE);
  EXPECT_TRUE(writer_.Calls().empty());
}

TEST_F(PrintDataTest, ScaleFactorZeroIsTreatedAsOne) {
  const Dots dots = hosts_test::TestPicture(64, 40);
  for (uint8_t factors : {uint8_t{0x01}, uint8_t{0x10}, uint8_t{0x00}}) {
    LogCapture log;
    writer_.Clear();
    const Bytes stream = StreamBuilder()
                             .Scale(factors, 0)
                             .Page(360, 360, 64, 40)
                             .Block(8, BlockRows(dots, 8))
                             .Raw({0x0C})
                             .bytes();
    EXPECT_EQ(Run(stream), 0);
    EXPECT_TRUE(log.Contains("scale factor 0 is invalid")) << int(factors);
    EXPECT_EQ(ToHex(writer_.All()), ToHex(Plus(Job(dots, 8, 360, 360), {0x0C})));
  }
}

TEST_F(PrintDataTest, DirectionCommandSetsUnidirectionalPrinting) {
  const Dots dots = hosts_test::TestPicture(64, 30);
  const Bytes stream = StreamBuilder()
                           .Direction()
                           .Page(360, 360, 64, 30)
                           .Block(8, BlockRows(dots, 8))
                           .Raw({0x0C})
                           .bytes();
  EXPECT_EQ(Run(stream), 0);
  EXPECT_EQ(param_.prefer_unidir, 1u);
  EXPECT_EQ(ToHex(writer_.All()), ToHex(Plus(Job(dots, 8, 360, 360, 0, true), {0x0C})));
}

TEST_F(PrintDataTest, SecondPageHeadIsIgnored) {
  LogCapture log;
  const Dots top = hosts_test::TestPicture(64, 20);
  const Dots bottom = hosts_test::TestPicture(64, 10);
  const Bytes stream = StreamBuilder()
                           .Page(360, 360, 64, 40)
                           .Block(8, BlockRows(top, 8))
                           .Page(720, 720, 128, 80)
                           .Block(8, BlockRows(bottom, 8))
                           .Raw({0x0C})
                           .bytes();
  EXPECT_EQ(Run(stream), 0);
  EXPECT_TRUE(log.Contains("redundant info, skip it"));
  Dots page(64, 30);
  for (uint32_t y = 0; y < 30; ++y) {
    for (uint32_t x = 0; x < 64; ++x) page.Set(x, y, y < 20 ? top.At(x, y) : bottom.At(x, y - 20));
  }
  EXPECT_EQ(ToHex(writer_.All()), ToHex(Plus(Job(page, 8, 360, 360), {0x0C})));
}

TEST_F(PrintDataTest, IncompleteHeadsAbandonTheStream) {
  {
    LogCapture log;
    Bytes stream = StreamBuilder().Text("PAGE").Raw(Bytes(11, 1)).bytes();
    EXPECT_EQ(Run(stream), 1);
    EXPECT_EQ(log.Count(spdlog::level::warn, "page head is incomplete"), 1);
    EXPECT_TRUE(writer_.Calls().empty());
  }
  {
    LogCapture log;
    Bytes stream = StreamBuilder().Page(360, 360, 64, 40).Text("BLK").Raw({8, 0, 1}).bytes();
    EXPECT_EQ(Run(stream), 1);
    EXPECT_EQ(log.Count(spdlog::level::warn, "block head is incomplete"), 1);
    EXPECT_TRUE(writer_.Calls().empty());
  }
  {
    // A head delivered in short pieces counts as incomplete: reads are not
    // retried. The rest of the stream is not looked at.
    Bytes stream = StreamBuilder().Page(360, 360, 64, 40).Text("X").bytes();
    EXPECT_EQ(Run(stream, 5), 1);
    EXPECT_TRUE(writer_.Calls().empty());
  }
}

TEST_F(PrintDataTest, IncompleteBlockDataReturnsOne) {
  LogCapture log;
  Bytes stream = StreamBuilder().Page(360, 360, 64, 40).Text("BLK").Raw({8, 0, 2, 0}).bytes();
  stream.insert(stream.end(), 12, 0xFF);  // one row and a half
  EXPECT_EQ(Run(stream), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "block data is incomplete"), 1);
  EXPECT_TRUE(writer_.Calls().empty());
}

TEST_F(PrintDataTest, AbsurdPageHeadsAreRefused) {
  x_unit_ = 1;
  y_unit_ = 1;
  {
    LogCapture log;
    // 65535 inches at 65535 dpi: far beyond any page image.
    Bytes stream = StreamBuilder().Page(65535, 65535, 65535, 65535).Text("BLKX").bytes();
    EXPECT_EQ(Run(stream), 1);
    EXPECT_TRUE(log.Contains("page head refused"));
    EXPECT_TRUE(writer_.Calls().empty());
  }
  {
    // A small page at 5760 dpi, and one 3 m long at 360 dpi: beyond what
    // any printer takes, though their images would fit in memory.
    LogCapture log;
    EXPECT_EQ(Run(StreamBuilder().Page(5760, 5760, 64, 64).Text("BLKX").bytes()), 1);
    EXPECT_EQ(log.Count(spdlog::level::warn,
                        "page head refused: resolution above 2880 dpi (368640x368640 pixels, "
                        "5760x5760 dpi)"),
              1);
    y_unit_ = 360;
    EXPECT_EQ(Run(StreamBuilder().Page(360, 360, 64, 42520).Text("BLKX").bytes()), 1);
    EXPECT_TRUE(log.Contains("page head refused: side longer than 2000 mm (23040x42520 pixels"));
    EXPECT_TRUE(writer_.Calls().empty());
    y_unit_ = 1;
  }
  x_unit_ = 0;
  {
    LogCapture log;
    EXPECT_EQ(Run(StreamBuilder().Page(360, 360, 64, 40).Text("X").bytes()), 1);
    EXPECT_TRUE(log.Contains("page head refused"));
    EXPECT_TRUE(writer_.Calls().empty());
  }
}

TEST_F(PrintDataTest, RowsOutsideThePageImageAreDropped) {
  // 16 x 4 pixels (pitch 2, image of 6 rows); blocks of 4-byte rows, more
  // rows than the image holds, and rows far below it after a long feed.
  Dots wide(32, 10);
  for (uint32_t y = 0; y < 10; ++y) {
    for (uint32_t x = 0; x < 32; ++x) wide.Set(x, y, (x + y) % 3 == 0);
  }
  const Bytes stream = StreamBuilder()
                           .Page(360, 360, 16, 4)
                           .Block(4, BlockRows(wide, 4))
                           .Feed(0xFF)
                           .Block(4, BlockRows(wide, 4))
                           .Raw({0x0C})
                           .bytes();
  EXPECT_EQ(Run(stream), 0);
  Dots page(16, 4);
  for (uint32_t y = 0; y < 4; ++y) {
    for (uint32_t x = 0; x < 16; ++x) page.Set(x, y, wide.At(x, y));
  }
  EXPECT_EQ(ToHex(writer_.All()), ToHex(Plus(Job(page, 2, 360, 360), {0x0C})));
}

// The rows printed end at the current line and at the page's height. The
// head's height field counts y_unit units; when the page image is finer
// than the unit, its pixel height is the limit instead (the field would cut
// the page short), and when it is coarser the field is the limit, spare
// rows below the page included.
TEST_F(PrintDataTest, PrintedRowsEndAtTheCurrentLineAndThePageHeight) {
  const Dots dots = hosts_test::TestPicture(64, 40);
  y_unit_ = 180;  // 20 units at 360 dpi: 40 rows
  EXPECT_EQ(Run(StreamBuilder().Page(360, 360, 128, 20).Block(8, BlockRows(dots, 8)).Raw({0x0C}).bytes()),
            0);
  EXPECT_EQ(ToHex(writer_.All()), ToHex(Plus(Job(dots, 16, 360, 360), {0x0C})));

  // 40 units of 1/360 inch at 180 dpi: 20 rows, an image of 30; all 30
  // rows placed are printed, as the field (40) allows.
  writer_.Clear();
  y_unit_ = 360;
  const Dots tall = hosts_test::TestPicture(64, 36);
  EXPECT_EQ(Run(StreamBuilder().Page(360, 180, 64, 40).Block(8, BlockRows(tall, 8)).Raw({0x0C}).bytes()),
            0);
  Dots kept(64, 30);
  for (uint32_t y = 0; y < 30; ++y) {
    for (uint32_t x = 0; x < 64; ++x) kept.Set(x, y, tall.At(x, y));
  }
  EXPECT_EQ(ToHex(writer_.All()), ToHex(Plus(Job(kept, 8, 360, 180), {0x0C})));

  // The current line ends the page when it is above the page's end.
  writer_.Clear();
  EXPECT_EQ(Run(StreamBuilder().Page(360, 360, 64, 100).Block(8, BlockRows(dots, 8)).Raw({0x0C}).bytes()),
            0);
  EXPECT_EQ(ToHex(writer_.All()), ToHex(Plus(Job(dots, 8, 360, 360), {0x0C})));
}

// The debug records of one stream, in the order they are written.
TEST_F(PrintDataTest, RecordsTellWhatTheStreamDid) {
  LogCapture log;
  const Dots dots = hosts_test::TestPicture(64, 2);
  const Bytes stream = StreamBuilder()
                           .Direction()
                           .Scale(0x11, 0x02)
                           .Page(360, 360, 64, 40)
                           .Block(8, BlockRows(dots, 8))
                           .Feed(10)
                           .Text("PAX")
                           .Raw({0x0C})
                           .bytes();
  EXPECT_EQ(Run(stream), 0);
  const std::vector<std::string> expected = {
      "prefer to unidirection=1",
      "scale=1,1;method=2",
      "got page head info: 64x40",
      "block start y: 0",
      "block end y: 2",
      "feed 10, new y is 12",
      "forward[3]: 504158",
      "forward: 0C",
      "paper size: 64x40 [360x360 dpi][0.2x0.1 inch]",
      "graphics size: 64x12",
  };
  size_t next = 0;
  for (const auto& r : log.Records()) {
    if (next < expected.size() && r.message == expected[next]) {
      EXPECT_EQ(r.level, spdlog::level::debug) << r.message;
      ++next;
    }
  }
  EXPECT_EQ(next, expected.size()) << "missing or out of order: " << expected[std::min(next, expected.size() - 1)];
  // The partial word went out while the page stayed open; the page was
  // converted with the direction and method the stream set.
  Dots page(64, 12);
  for (uint32_t y = 0; y < 2; ++y) {
    for (uint32_t x = 0; x < 64; ++x) page.Set(x, y, dots.At(x, y));
  }
  EXPECT_EQ(ToHex(writer_.All()),
            ToHex(Plus(Plus(HexBytes("50 41 58"), Job(page, 8, 360, 360, 2, true)), {0x0C})));

  // Scaled pages name their factors and the resolution they print at.
  log.Clear();
  const Dots big = hosts_test::TestPicture(64, 48);
  EXPECT_EQ(Run(StreamBuilder().Scale(0x24, 0).Page(360, 360, 64, 48).Block(8, BlockRows(big, 8)).Raw({0x0C}).bytes()),
            0);
  EXPECT_EQ(log.Count(spdlog::level::debug, "rescale factors: 2,4 [180x90 dpi]"), 1);
  EXPECT_EQ(log.Count(spdlog::level::debug, "rescale to 32x12,4"), 1);
  EXPECT_EQ(log.Count(spdlog::level::info, "converted image: pitch=4,height=12"), 1);
  EXPECT_EQ(log.Count(spdlog::level::info, "[rescale] original vertical range: 0-48"), 1);
}

int CancelAfterFive(void* param) { return ++*static_cast<int*>(param) > 5 ? 1 : 0; }

TEST_F(PrintDataTest, CancellationStopsTheStream) {
  int polls = 0;
  cancel_cb_ = CancelAfterFive;
  cancel_param_ = &polls;
  EXPECT_EQ(Run(HexBytes("01 02 03 04 05 06 07 08 09")), 0);
  EXPECT_EQ(ToHex(writer_.All()), "01 02 03 04 05");
  EXPECT_GT(reader_->Remaining(), 0u);
}

TEST_F(PrintDataTest, NullParametersAreRejected) {
  LogCapture log;
  EXPECT_EQ(process_print_data(nullptr), 1);
  CONV_PARAM no_reader{};
  EXPECT_EQ(process_print_data(&no_reader), 1);
  RASTER_INFO r{};
  EXPECT_EQ(convert_raster_to_command(nullptr, &r), -1);
  CONV_PARAM2 cp{};
  EXPECT_EQ(convert_raster_to_command(&cp, nullptr), -1);
}

TEST(ConvertRasterToCommand, IsTheDocumentInterfaceInOneCall) {
  const Dots dots = hosts_test::TestPicture(48, 30);
  Bytes rows = PackRows(dots, 8);
  RASTER_INFO r{};
  r.img_p = rows.data();
  r.width = 48;
  r.height = 30;
  r.pitch = 8;
  r.x_res = 360;
  r.y_res = 360;
  r.bpp = 1;
  RecordingWriter one_call, by_handle;
  CONV_PARAM2 cp{};
  cp.x_unit = cp.y_unit = 360;
  cp.num_pins = 24;
  cp.options = "start_doc=1B7801:end_doc=0C";
  cp.wr_cb = RecordingWriter::Callback;
  cp.wr_hdl = one_call.Handle();
  EXPECT_EQ(convert_raster_to_command(&cp, &r), 0);

  cp.wr_hdl = by_handle.Handle();
  void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  ASSERT_NE(doc, nullptr);
  DocProc_StartDoc2(doc, &cp);
  EXPECT_EQ(DocProc_ProcessPage(doc, &r), 0);
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  const Bytes job = one_call.All();
  EXPECT_EQ(ToHex(job), ToHex(by_handle.All()));
  ASSERT_GE(job.size(), 5u);
  EXPECT_EQ(ToHex(Bytes(job.begin(), job.begin() + 5)), "1B 40 1B 78 01");
  EXPECT_EQ(ToHex(one_call.Calls().back()), "0C");
}

}  // namespace
