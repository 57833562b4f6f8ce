#include "document/document_process_ink2.h"

#include "document/page_transform.h"
#include "options/option_reader.h"
#include "options/str_utils.h"
#include "support/log.h"

namespace {

constexpr uint8_t kReset[] = {0x1B, 0x45};
// "\e%-12345X": universal exit of the printer language.
constexpr uint8_t kUniversalExit[] = {0x1B, 0x25, 0x2D, 0x31, 0x32, 0x33, 0x34, 0x35, 0x58};

}  // namespace

DocumentProcessInk2::DocumentProcessInk2(const CONV_PARAM2* param) : DocumentProcessInk1(param) {
  quill_log::Debug("DocumentProcessInk2");
  DocumentProcessInk2::Update(param, false);
}

void DocumentProcessInk2::Update(const CONV_PARAM2* param, bool include_parent) {
  if (include_parent) DocumentProcessBase::Update(param, true);
  if (param->options == nullptr) return;
  StringlizeParamter opts(param->options);
  option_reader::ReadInt(opts, "quality", m_Quality);
  option_reader::ReadBool(opts, "grey", m_UseGrey);
  option_reader::ReadBool(opts, "red_black", m_RedBlack);
}

void DocumentProcessInk2::OutputInitCommand() {
  WriteBytes(kReset, sizeof kReset);
  WriteBytes(kUniversalExit, sizeof kUniversalExit);
}

void DocumentProcessInk2::OutputTermCommand() { WriteBytes(kUniversalExit, sizeof kUniversalExit); }

void DocumentProcessInk2::OutputDuplexCommand() {}

int DocumentProcessInk2::ProcessPageInternal(const RASTER_INFO* raster, bool last_page,
                                             bool back_side) {
  if (raster == nullptr) return -1;
  quill_log::Debug("%s: size=%ux%u, unit=%ux%u, resolution=%ux%u, pins=%u, bpp=%u, pitch=%d",
                   "ProcessPageInternal", raster->width, raster->height, m_ConvParam.x_unit,
                   m_ConvParam.y_unit, raster->x_res, raster->y_res, m_ConvParam.num_pins,
                   raster->bpp, raster->pitch);
  TimingCheckpoint("doc_proc", __LINE__);
  if (raster->x_res == 0 || raster->y_res == 0) {
    quill_log::Warning("resolution is invalid");
    return -1;
  }
  if (raster->width == 0 || raster->height == 0) {
    quill_log::Warning("raster size is invalid");
    return -1;
  }
  // A page that cannot be read must not reach the printer half-sent.
  if (!Ink2RasterReadable(*raster)) return -1;

  if (!m_CmdAtStartPage.empty()) WriteBytes(m_CmdAtStartPage);

  // Back sides of short-edge duplex are turned in place. Every copy of a
  // page arrives with the same pixels, so a page already turned for an
  // earlier copy is not turned back; pixels that cannot be turned in place
  // are read turned instead.
  bool read_turned = false;
  if (m_DocAttr.m_Duplex == DUPLEX_VERTICAL && back_side) {
    quill_log::Debug("flip page");
    if (m_TurnedPage != m_PageCount || m_TurnedPixels != raster->img_p) {
      RASTER_INFO turned = *raster;
      if (TurnRaster180(turned)) {
        m_TurnedPage = m_PageCount;
        m_TurnedPixels = raster->img_p;
      } else {
        read_turned = true;
      }
    }
  }

  int result;
  {
    PageProcessInk2 page(m_ConvParam.x_unit, m_ConvParam.y_unit, raster->x_res, raster->y_res,
                         raster->width, raster->height, m_ConvParam.wr_cb, m_ConvParam.wr_hdl);
    page.m_IsLastPage = last_page;
    page.m_IsFirstPage = m_PageCount <= 1;
    page.m_Quality = m_Quality;
    page.m_UseGrey = m_UseGrey;
    page.m_Collate = m_DocAttr.m_Collate;
    page.m_Copies = m_DocAttr.m_Copies;
    page.m_Duplex = m_DocAttr.m_Duplex;
    page.m_RedBlack = m_RedBlack;
    page.m_Turn180 = read_turned;

    page.StartPage();
    result = page.SendPage(raster);
    page.EndPage();
    TimingCheckpoint("doc_proc", __LINE__);
  }
  if (!m_CmdAtEndPage.empty()) WriteBytes(m_CmdAtEndPage);
  return result;
}
