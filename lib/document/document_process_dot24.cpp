#include "document/document_process_dot24.h"

#include "bands/page_process_dot24.h"
#include "document/trad_page.h"
#include "options/option_reader.h"
#include "options/str_utils.h"
#include "support/fi_bitmap.h"
#include "support/log.h"

DocumentProcessDot24::DocumentProcessDot24(const CONV_PARAM2* param) : DocumentProcessInk1(param) {
  m_DualColor = false;
  DocumentProcessDot24::Update(param, false);
}

void DocumentProcessDot24::Update(const CONV_PARAM2* param, bool include_parent) {
  if (include_parent) DocumentProcessInk1::Update(param, true);
  if (param->options == nullptr) return;
  StringlizeParamter opts(param->options);
  option_reader::ReadBool(opts, "dual_color", m_DualColor);
}

void DocumentProcessDot24::SaveBackupPage(const RASTER_INFO* raster, bool deflate) {
  if (!m_DualColor || raster == nullptr) {
    DocumentProcessInk1::SaveBackupPage(raster, deflate);
    return;
  }
  // The stored record describes the separated image completely, its depth
  // included: keeping the source depth over 24-bit pixels would store a
  // page that no longer reads back.
  FiBitmap planes;
  RASTER_INFO separated{};
  if (!SeparateRedBlack(*raster, planes, separated)) return;
  DocumentProcessInk1::SaveBackupPage(&separated, deflate);
}

std::shared_ptr<PageProcessInk1> DocumentProcessDot24::CreatePageProcessor(const RASTER_INFO& mono,
                                                                           bool last_page,
                                                                           bool /*back_side*/) {
  auto pp = std::make_shared<PageProcessDot24>(mono.x_res, mono.y_res, mono.width,
                                               m_ConvParam.page_length, m_ConvParam.wr_cb,
                                               m_ConvParam.wr_hdl);
  pp->m_DualColor = m_DualColor;
  pp->m_IsLastPage = last_page;
  pp->m_NoUseEject = m_NoUseEject;
  pp->m_UseLocPos = m_UseLocPos;
  return pp;
}

int DocumentProcessDot24::ProcessPageInternal(const RASTER_INFO* raster, bool last_page,
                                              bool back_side) {
  if (raster == nullptr) return -1;
  quill_log::Debug("%s: size=%ux%u, unit=%ux%u, resolution=%ux%u, pins=%u, bpp=%u, pitch=%d",
                   "ProcessPageInternal", raster->width, raster->height, m_ConvParam.x_unit,
                   m_ConvParam.y_unit, raster->x_res, raster->y_res, m_ConvParam.num_pins,
                   raster->bpp, raster->pitch);
  MonoPage page;
  const bool turn = m_DocAttr.m_Duplex == DUPLEX_VERTICAL && back_side;
  if (!PrepareMonoPage(*raster, turn, page)) return -1;
  // Turning a two-plane page also moves each plane to the other half; put
  // them back so black stays on the black ribbon.
  if (turn && m_DualColor) trad_page::SwapPlanes(page.raster);
  const RASTER_INFO& mono = page.raster;
  const ContentRange range = trad_page::MeasureContent(mono);

  if (m_TimeStamp != 0) output_timestamp();
  if (!m_CmdAtStartPage.empty()) WriteBytes(m_CmdAtStartPage);
  const uint64_t start = time_ms();

  const std::shared_ptr<PageProcessInk1> pp = CreatePageProcessor(mono, last_page, back_side);
  trad_page::CheckShingling(m_ConvParam.shingling);
  // The last partial band goes out without a feed of its own.
  trad_page::PrintRows(*pp, mono, range, m_PreferUnidir, false, &m_Cancel);

  quill_log::Info("conversion takes %llums", static_cast<unsigned long long>(time_ms() - start));
  if (!m_CmdAtEndPage.empty()) WriteBytes(m_CmdAtEndPage);
  return m_Cancel.stopped() ? -1 : 0;
}
