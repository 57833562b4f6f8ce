// The C interface at document level: handle lookup, null handles, document
// start and end bytes, option loading and its safety against malformed
// numbers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/log_capture.h"
#include "common/recording_writer.h"
#include "document/document_process_ink1.h"
#include "quill/libquill.h"

extern "C" int run_c_host(const char* options, unsigned char* out, unsigned int cap);

namespace {

using quill_test::Bytes;
using quill_test::HexBytes;
using quill_test::LogCapture;
using quill_test::RecordingWriter;
using quill_test::ToHex;

const char* const kMultiEmul = "1B 1D 1E 00 0C 04 1B 1D 1F";

class DocumentApiTest : public ::testing::Test {
 protected:
  CONV_PARAM2 Param(const char* options) {
    CONV_PARAM2 cp{};
    cp.x_unit = 360;
    cp.y_unit = 360;
    cp.num_pins = 24;
    cp.wr_cb = RecordingWriter::Callback;
    cp.wr_hdl = writer_.Handle();
    cp.options = options;
    return cp;
  }

  // Output of one empty document: StartDoc2 then EndDoc.
  Bytes EmptyJob(const char* options) {
    writer_.Clear();
    CONV_PARAM2 cp = Param(options);
    void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
    EXPECT_NE(doc, nullptr);
    DocProc_StartDoc2(doc, &cp);
    DocProc_EndDoc(doc);
    DocProc_Release(doc);
    return writer_.All();
  }

  RecordingWriter writer_;
};

TEST_F(DocumentApiTest, ClassNamesMatchExactly) {
  CONV_PARAM2 cp = Param(nullptr);
  void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  ASSERT_NE(doc, nullptr);
  DocProc_Release(doc);

  LogCapture log;
  for (const char* name : {"documentprocessink1", "DocumentProcessInk", "DocumentProcessInk1 ",
                           "", "DocumentProcessInk12", "DocumentProcessBase"}) {
    EXPECT_EQ(DocProc_GetObject(name, &cp), nullptr) << name;
  }
  EXPECT_EQ(DocProc_GetObject(nullptr, &cp), nullptr);
  EXPECT_TRUE(log.Records().empty());
}

TEST_F(DocumentApiTest, NullHandleWarnsAndReturnsTheFailureResults) {
  LogCapture log;
  CONV_PARAM2 cp = Param(nullptr);
  RASTER_INFO ri{};
  const std::string kInvalid = "invalid object";

  DocProc_Release(nullptr);
  DocProc_Update(nullptr, &cp);
  DocProc_StartDoc(nullptr);
  DocProc_StartDoc2(nullptr, &cp);
  DocProc_EndDoc(nullptr);
  EXPECT_EQ(log.Count(spdlog::level::warn, kInvalid), 5);

  log.Clear();
  EXPECT_EQ(DocProc_ProcessPage(nullptr, &ri), -1);
  EXPECT_EQ(log.Count(spdlog::level::warn, kInvalid), 1);

  log.Clear();
  EXPECT_EQ(DocProc_ProcessPage2(nullptr, &cp, &ri), -1);
  EXPECT_EQ(log.Count(spdlog::level::warn, kInvalid), 2);

  log.Clear();
  EXPECT_EQ(DocProc_HasNotEnd(nullptr), 0);
  EXPECT_EQ(log.Count(spdlog::level::warn, kInvalid), 1);
  EXPECT_EQ(log.Records().size(), 1u);
  EXPECT_TRUE(writer_.Calls().empty());
}

TEST_F(DocumentApiTest, HasNotEndFollowsTheDocumentState) {
  CONV_PARAM2 cp = Param(nullptr);
  void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(DocProc_HasNotEnd(doc), 0);
  DocProc_EndDoc(doc);  // before StartDoc: nothing
  EXPECT_TRUE(writer_.Calls().empty());
  EXPECT_EQ(DocProc_HasNotEnd(doc), 0);
  DocProc_StartDoc2(doc, &cp);
  EXPECT_EQ(DocProc_HasNotEnd(doc), 1);
  DocProc_EndDoc(doc);
  EXPECT_EQ(DocProc_HasNotEnd(doc), 0);
  DocProc_Release(doc);
}

TEST_F(DocumentApiTest, StartDocWritesInitDuplexAndConfiguredBytes) {
  EXPECT_EQ(ToHex(EmptyJob(nullptr)), "1B 40");
  EXPECT_EQ(ToHex(EmptyJob("duplex=0")), "1B 40");
  EXPECT_EQ(ToHex(EmptyJob("duplex=1")), "1B 40 1B 26 6C 53 02");
  EXPECT_EQ(ToHex(EmptyJob("duplex=2")), "1B 40 1B 26 6C 53 01");
  EXPECT_EQ(ToHex(EmptyJob("duplex=7")), "1B 40 1B 26 6C 53 00");
  EXPECT_EQ(ToHex(EmptyJob("multi_emul=1")), std::string("1B 40 ") + kMultiEmul);
  EXPECT_EQ(ToHex(EmptyJob("multi_emul=1:duplex=2:start_doc=1B7803:end_doc=0C")),
            std::string("1B 40 ") + kMultiEmul + " 1B 26 6C 53 01 1B 78 03 0C");

  // One write call per command.
  EmptyJob("multi_emul=1:duplex=1:start_doc=1B7803:end_doc=0C");
  ASSERT_EQ(writer_.Calls().size(), 5u);
  EXPECT_EQ(ToHex(writer_.Calls()[0]), "1B 40");
  EXPECT_EQ(ToHex(writer_.Calls()[1]), kMultiEmul);
  EXPECT_EQ(ToHex(writer_.Calls()[2]), "1B 26 6C 53 02");
  EXPECT_EQ(ToHex(writer_.Calls()[3]), "1B 78 03");
  EXPECT_EQ(ToHex(writer_.Calls()[4]), "0C");
}

TEST_F(DocumentApiTest, StartAndEndBytesOncePerStartAndEnd) {
  CONV_PARAM2 cp = Param("start_doc=AA:end_doc=BB");
  void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  DocProc_StartDoc2(doc, &cp);
  DocProc_EndDoc(doc);
  DocProc_EndDoc(doc);  // a second EndDoc writes nothing
  DocProc_StartDoc(doc);  // a document may be started again
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  EXPECT_EQ(ToHex(writer_.All()), "1B 40 AA BB 1B 40 AA BB");
}

TEST_F(DocumentApiTest, UpdateKeepsByteStringsAndResetsAttributes) {
  CONV_PARAM2 cp = Param("start_doc=AA:copies=3:collate=1:offset=5");
  DocumentProcessInk1 doc(&cp);
  EXPECT_EQ(doc.m_DocAttr.m_Copies, 3);
  EXPECT_TRUE(doc.m_DocAttr.m_Collate);
  EXPECT_EQ(doc.m_Offset, (std::array<int, 2>{5, 0}));

  CONV_PARAM2 later = Param("gamma=2.2:offset=");
  doc.Update(&later, true);
  EXPECT_EQ(doc.m_CmdAtStartDoc, HexBytes("AA"));
  EXPECT_EQ(doc.m_DocAttr.m_Copies, 1);
  EXPECT_FALSE(doc.m_DocAttr.m_Collate);
  EXPECT_EQ(doc.m_DocAttr.m_Gamma, static_cast<double>(2.2f));
  EXPECT_EQ(doc.m_Offset, (std::array<int, 2>{0, 0}));
  EXPECT_EQ(doc.m_DocAttr.m_ExtraOptions, "gamma=2.2:offset=");

  CONV_PARAM2 none = Param(nullptr);
  doc.Update(&none, true);
  EXPECT_EQ(doc.m_DocAttr.m_Gamma, 1.0);
  EXPECT_EQ(doc.m_CmdAtStartDoc, HexBytes("AA"));
}

TEST_F(DocumentApiTest, CollationRules) {
  CONV_PARAM2 one = Param("copies=1:collate=1");
  DocumentProcessInk1 a(&one);
  EXPECT_FALSE(a.m_DocAttr.m_Collate);

  CONV_PARAM2 reverse = Param("copies=1:collate=1:reverse_order=1");
  DocumentProcessInk1 b(&reverse);
  EXPECT_TRUE(b.m_DocAttr.m_Collate);
  b.StartDoc();
  EXPECT_TRUE(b.m_DocAttr.m_Collate);

  CONV_PARAM2 two = Param("copies=2:collate=1");
  DocumentProcessInk1 c(&two);
  EXPECT_TRUE(c.m_DocAttr.m_Collate);
}

TEST_F(DocumentApiTest, ReadsEveryInk1Key) {
  CONV_PARAM2 cp = Param(
      "nouse_eject=1:time_stamp=900000001:prefer_unidir=1:threshold=128:use_locpos=1:"
      "band_hint=1:dither=3:multi_emul=1:rotate=270:offset=-4,9:dump_name=p%u.png:icc=/x.icc:"
      "nup=2:scale=50:end_page=0C:start_page=1B");
  DocumentProcessInk1 doc(&cp);
  EXPECT_TRUE(doc.m_NoUseEject);
  EXPECT_EQ(doc.m_TimeStamp, 900000001u);
  EXPECT_TRUE(doc.m_PreferUnidir);
  EXPECT_EQ(doc.m_Threshold, 128);
  EXPECT_TRUE(doc.m_UseLocPos);
  EXPECT_TRUE(doc.m_BandHint);
  EXPECT_EQ(doc.m_Dither, 3);
  EXPECT_TRUE(doc.m_MultiEmul);
  EXPECT_EQ(doc.m_Rotation, 270);
  EXPECT_EQ(doc.m_Offset, (std::array<int, 2>{-4, 9}));
  EXPECT_EQ(doc.m_DumpImageName, "p%u.png");
  EXPECT_EQ(doc.m_IccPath, "/x.icc");
  EXPECT_EQ(doc.m_DocAttr.m_Nup, 2);
  EXPECT_EQ(doc.m_DocAttr.m_Scale, 50);
  EXPECT_EQ(doc.m_CmdAtEndPage, HexBytes("0C"));
  EXPECT_EQ(doc.m_CmdAtStartPage, HexBytes("1B"));
}

TEST_F(DocumentApiTest, MalformedNumbersWarnAndKeepTheValue) {
  LogCapture log;
  CONV_PARAM2 cp = Param("copies=abc:duplex=2:rotate=3000000000:gamma=x:threshold=7");
  void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  ASSERT_NE(doc, nullptr);
  auto* ink1 = static_cast<DocumentProcessInk1*>(doc);
  EXPECT_EQ(ink1->m_DocAttr.m_Copies, 1);
  EXPECT_EQ(ink1->m_DocAttr.m_Duplex, 2);
  EXPECT_EQ(ink1->m_DocAttr.m_Gamma, 1.0);
  EXPECT_EQ(ink1->m_Rotation, 0);
  EXPECT_EQ(ink1->m_Threshold, 7);

  int copies_warnings = 0;
  int rotate_warnings = 0;
  for (const auto& r : log.Records()) {
    if (r.level != spdlog::level::warn) continue;
    if (r.message.find("copies") != std::string::npos) ++copies_warnings;
    if (r.message.find("rotate") != std::string::npos) ++rotate_warnings;
  }
  EXPECT_EQ(copies_warnings, 1);
  EXPECT_EQ(rotate_warnings, 1);

  // A later update with a malformed value keeps the earlier good one.
  CONV_PARAM2 good = Param("rotate=90");
  DocProc_Update(doc, &good);
  CONV_PARAM2 bad = Param("rotate=ninety:offset=1,y");
  DocProc_StartDoc2(doc, &bad);
  EXPECT_EQ(ink1->m_Rotation, 90);
  DocProc_Release(doc);
}

TEST_F(DocumentApiTest, NullCallbackAndNullOptionsAreAccepted) {
  LogCapture log;
  CONV_PARAM2 cp = Param(nullptr);
  cp.wr_cb = nullptr;
  void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  ASSERT_NE(doc, nullptr);
  DocProc_StartDoc2(doc, &cp);
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  EXPECT_TRUE(writer_.Calls().empty());
  EXPECT_GE(log.Count(spdlog::level::debug, "parsing options: (null)"), 1);
}

// Sizes no printer takes are refused at the boundary, before the processor
// allocates, turns or screens anything: the pixel buffers below hold 64
// bytes, far less than the refused rasters claim, so any work on them would
// read past it. A raster exactly at a bound is printed.
TEST_F(DocumentApiTest, RastersBeyondTheBoundsAreRefusedBeforeAnyWork) {
  std::vector<uint8_t> pixels(64, 0);
  auto raster = [&](uint32_t w, uint32_t h, int32_t pitch, uint16_t res, uint8_t bpp) {
    RASTER_INFO r{};
    r.img_p = pixels.data();
    r.width = w;
    r.height = h;
    r.pitch = pitch;
    r.x_res = r.y_res = res;
    r.bpp = bpp;
    return r;
  };
  const uint32_t side72 = quill_max_side_pixels(72);
  ASSERT_EQ(side72, 5669u);  // 2000 mm at 72 dpi
  ASSERT_EQ(quill_max_side_pixels(QUILL_MAX_RESOLUTION), 226771u);
  struct Case {
    const char* what;
    RASTER_INFO r;
    const char* warning;
  };
  const Case cases[] = {
      {"one pixel wider than 2 m", raster(side72 + 1, 1, 709, 72, 1),
       "raster refused: side longer than 2000 mm (5670x1 pixels, pitch 709, 72x72 dpi)"},
      {"2881 dpi", raster(8, 8, 1, 2881, 1),
       "raster refused: resolution above 2880 dpi (8x8 pixels, pitch 1, 2881x2881 dpi)"},
      {"1.6 billion pixels", raster(40000, 40000, 5000, 2880, 1),
       "raster refused: more than 2^30 pixels (40000x40000 pixels, pitch 5000, 2880x2880 dpi)"},
      {"1.2 GB", raster(20000, 20000, 60000, 2880, 24),
       "raster refused: more than 1 GiB of pixels (20000x20000 pixels, pitch 60000, "
       "2880x2880 dpi)"},
      {"negative pitch counts by its size", raster(20000, 20000, -60000, 2880, 24),
       "raster refused: more than 1 GiB of pixels (20000x20000 pixels, pitch -60000, "
       "2880x2880 dpi)"},
  };
  CONV_PARAM2 cp = Param(nullptr);
  void* doc = DocProc_GetObject("DocumentProcessInk1", &cp);
  ASSERT_NE(doc, nullptr);
  DocProc_StartDoc2(doc, &cp);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writer_.Clear();
    {
      LogCapture log;
      RASTER_INFO r = c.r;
      EXPECT_EQ(DocProc_ProcessPage2(doc, &cp, &r), -1);
      EXPECT_EQ(log.Count(spdlog::level::warn, c.warning), 1);
    }
    {
      LogCapture log;
      EXPECT_EQ(convert_raster_to_command(&cp, &c.r), -1);
      EXPECT_EQ(log.Count(spdlog::level::warn, c.warning), 1);
    }
    EXPECT_TRUE(writer_.All().empty());
  }
  // At the bound: a one-bit row 2 m long at 72 dpi with one dot prints.
  std::vector<uint8_t> row((side72 + 7) / 8, 0);
  row[100] = 0x80;
  RASTER_INFO at = raster(side72, 1, static_cast<int32_t>(row.size()), 72, 1);
  at.img_p = row.data();
  writer_.Clear();
  EXPECT_EQ(DocProc_ProcessPage2(doc, &cp, &at), 0);
  EXPECT_FALSE(writer_.All().empty());
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
}

TEST_F(DocumentApiTest, PlainCHostDrivesTheInterface) {
  unsigned char out[64];
  int n = run_c_host("duplex=1:start_doc=1B7803", out, sizeof out);
  ASSERT_GE(n, 0);
  EXPECT_EQ(ToHex(Bytes(out, out + n)), "1B 40 1B 26 6C 53 02 1B 78 03");
}

}  // namespace
