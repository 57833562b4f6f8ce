#include "document/document_process_thermal.h"

#include "bands/page_process_thermal.h"
#include "document/trad_page.h"
#include "options/option_reader.h"
#include "options/str_utils.h"
#include "support/log.h"

DocumentProcessThermal::DocumentProcessThermal(const CONV_PARAM2* param)
    : DocumentProcessInk1(param) {
  m_LeftMargin = 0;
  m_MaxWidth = 0;
  DocumentProcessThermal::Update(param, false);
}

void DocumentProcessThermal::Update(const CONV_PARAM2* param, bool include_parent) {
  if (include_parent) DocumentProcessInk1::Update(param, true);
  if (param->options == nullptr) return;
  StringlizeParamter opts(param->options);
  option_reader::ReadInt(opts, "left_margin", m_LeftMargin);
  option_reader::ReadInt(opts, "max_width", m_MaxWidth);
}

std::shared_ptr<PageProcessInk1> DocumentProcessThermal::CreatePageProcessor(
    const RASTER_INFO& mono, bool last_page, bool /*back_side*/) {
  auto pp = std::make_shared<PageProcessThermal>(true, true, mono.width, m_ConvParam.page_length,
                                                 m_ConvParam.wr_cb, m_ConvParam.wr_hdl);
  pp->m_LeftMargin = m_LeftMargin;
  pp->m_MaxWidth = m_MaxWidth;
  pp->m_IsLastPage = last_page;
  pp->m_NoUseEject = m_NoUseEject;
  pp->m_UseLocPos = m_UseLocPos;
  return pp;
}

int DocumentProcessThermal::ProcessPageInternal(const RASTER_INFO* raster, bool last_page,
                                                bool back_side) {
  if (raster == nullptr) return -1;
  quill_log::Debug("%s: size=%ux%u, unit=%ux%u, resolution=%ux%u, pins=%u, bpp=%u, pitch=%d",
                   "ProcessPageInternal", raster->width, raster->height, m_ConvParam.x_unit,
                   m_ConvParam.y_unit, raster->x_res, raster->y_res, m_ConvParam.num_pins,
                   raster->bpp, raster->pitch);
  MonoPage page;
  const bool turn = m_DocAttr.m_Duplex == DUPLEX_VERTICAL && back_side;
  if (!PrepareMonoPage(*raster, turn, page)) return -1;
  const RASTER_INFO& mono = page.raster;
  const ContentRange range = trad_page::MeasureContent(mono);

  if (m_TimeStamp != 0) output_timestamp();
  if (!m_CmdAtStartPage.empty()) WriteBytes(m_CmdAtStartPage);
  const uint64_t start = time_ms();

  const std::shared_ptr<PageProcessInk1> pp = CreatePageProcessor(mono, last_page, back_side);
  trad_page::CheckShingling(m_ConvParam.shingling);
  // The last partial band is fed by the rows it holds.
  trad_page::PrintRows(*pp, mono, range, m_PreferUnidir, true, &m_Cancel);

  quill_log::Info("conversion takes %llums", static_cast<unsigned long long>(time_ms() - start));
  if (!m_CmdAtEndPage.empty()) WriteBytes(m_CmdAtEndPage);
  return m_Cancel.stopped() ? -1 : 0;
}
