#include "document_process_ink1.h"

#include "log.h"
#include "option_reader.h"
#include "str_utils.h"

namespace {

constexpr uint8_t kInit[] = {0x1B, 0x40};
constexpr uint8_t kMultiEmulation[] = {0x1B, 0x1D, 0x1E, 0x00, 0x0C, 0x04, 0x1B, 0x1D, 0x1F};

// 1B 26 6C 53 n: n = 02 long-edge (horizontal), 01 short-edge (vertical),
// 00 for any other nonzero mode.
uint8_t DuplexByte(uint8_t duplex) {
  switch (duplex) {
    case DUPLEX_HORIZONTAL: return 0x02;
    case DUPLEX_VERTICAL: return 0x01;
    default: return 0x00;
  }
}

}  // namespace

DocumentProcessInk1::DocumentProcessInk1(const CONV_PARAM2* param) : DocumentProcessBase(param) {
  quill_log::Debug("DocumentProcessInk1");
  DocumentProcessInk1::Update(param, false);
}

void DocumentProcessInk1::Update(const CONV_PARAM2* param, bool include_parent) {
  if (include_parent) DocumentProcessBase::Update(param, true);
  if (param->options == nullptr) return;
  StringlizeParamter opts(param->options);
  option_reader::ReadBool(opts, "nouse_eject", m_NoUseEject);
  option_reader::ReadInt(opts, "time_stamp", m_TimeStamp);
  option_reader::ReadBool(opts, "prefer_unidir", m_PreferUnidir);
  option_reader::ReadInt(opts, "threshold", m_Threshold);
  option_reader::ReadBool(opts, "use_locpos", m_UseLocPos);
  option_reader::ReadBool(opts, "band_hint", m_BandHint);
  option_reader::ReadInt(opts, "dither", m_Dither);
  option_reader::ReadBool(opts, "multi_emul", m_MultiEmul);
  option_reader::ReadInt(opts, "rotate", m_Rotation);
  option_reader::ReadPair(opts, "offset", m_Offset);
}

void DocumentProcessInk1::StartDoc() { DocumentProcessBase::StartDoc(); }

void DocumentProcessInk1::EndDoc() {
  quill_log::Debug("end doc");
  DocumentProcessBase::EndDoc();
}

void DocumentProcessInk1::OutputInitCommand() {
  WriteBytes(kInit, sizeof kInit);
  if (m_MultiEmul) WriteBytes(kMultiEmulation, sizeof kMultiEmulation);
}

void DocumentProcessInk1::OutputDuplexCommand() {
  if (m_DocAttr.m_Duplex == DUPLEX_NONE) return;
  const uint8_t cmd[] = {0x1B, 0x26, 0x6C, 0x53, DuplexByte(m_DocAttr.m_Duplex)};
  WriteBytes(cmd, sizeof cmd);
}

int DocumentProcessInk1::ProcessPage(const RASTER_INFO* raster) {
  if (raster == nullptr) return -1;
  ++m_PageCount;
  quill_log::Debug("page %u received", m_PageCount);
  return 0;
}

int DocumentProcessInk1::ProcessPageInternal(const RASTER_INFO* /*raster*/, bool /*last_page*/,
                                             bool /*back_side*/) {
  return 0;
}

bool DocumentProcessInk1::ConvertColorToMono(const RASTER_INFO* /*src*/, RASTER_INFO* /*dst*/) {
  return false;
}
