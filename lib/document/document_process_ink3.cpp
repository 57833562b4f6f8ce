#include "document/document_process_ink3.h"

#include "bands/page_process_ink3.h"
#include "document/page_transform.h"
#include "options/option_reader.h"
#include "options/str_utils.h"
#include "support/log.h"

DocumentProcessInk3::DocumentProcessInk3(const CONV_PARAM2* param) : DocumentProcessInk1(param) {
  quill_log::Debug("DocumentProcessInk3");
  DocumentProcessInk3::Update(param, false);
}

void DocumentProcessInk3::Update(const CONV_PARAM2* param, bool include_parent) {
  DocumentProcessInk1::Update(param, include_parent);
  if (param->options == nullptr) return;
  StringlizeParamter opts(param->options);
  option_reader::ReadBool(opts, "dup_red", m_DupRed);
}

void DocumentProcessInk3::SaveBackupPage(const RASTER_INFO* raster, bool deflate) {
  if (raster == nullptr || !RasterIsWalkable(*raster)) return;
  FiBitmap planes;
  RASTER_INFO separated{};
  if (!SeparateRedBlack(*raster, planes, separated)) return;
  DocumentProcessInk1::SaveBackupPage(&separated, deflate);
}

std::shared_ptr<PageProcessInk1> DocumentProcessInk3::CreatePageProcessor(const RASTER_INFO& mono,
                                                                          bool /*last_page*/,
                                                                          bool back_side) {
  auto pp = std::make_shared<PageProcessInk3>(m_ConvParam.x_unit, m_ConvParam.y_unit, mono.x_res,
                                              mono.y_res, mono.width, m_ConvParam.page_length,
                                              m_ConvParam.num_pins, m_ConvParam.wr_cb,
                                              m_ConvParam.wr_hdl);
  pp->m_SwapRedBlack = m_DocAttr.m_Duplex == DUPLEX_VERTICAL && back_side;
  pp->m_DupRed = m_DupRed;
  return pp;
}
