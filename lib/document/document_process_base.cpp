#include "document/document_process_base.h"

#include <cstdio>

#include "document/packed_page.h"
#include "document/page_dump.h"
#include "options/option_reader.h"
#include "options/str_utils.h"
#include "support/log.h"

int DiscardingWrite(void* /*hdl*/, const void* /*data*/, unsigned int len) {
  return static_cast<int>(len);
}

// ---------------------------------------------------------------------------
// DocumentAttributes

void DocumentAttributes::Reset() {
  m_Duplex = DUPLEX_NONE;
  m_Collate = false;
  m_Nup = 1;
  m_Copies = 1;
  m_Scale = 100;
  m_Gamma = 1.0;
}

void DocumentAttributes::FromString(const char* options) {
  StringlizeParamter opts(options);
  option_reader::ReadInt(opts, "duplex", m_Duplex);
  option_reader::ReadBool(opts, "collate", m_Collate);
  option_reader::ReadInt(opts, "nup", m_Nup);
  option_reader::ReadInt(opts, "copies", m_Copies);
  option_reader::ReadInt(opts, "scale", m_Scale);
  option_reader::ReadDouble(opts, "gamma", m_Gamma);
}

const char* DocumentAttributes::ToString() {
  StringlizeParamter opts;
  opts.put("duplex", std::to_string(m_Duplex));
  opts.put("collate", m_Collate ? "1" : "0");
  opts.put("nup", std::to_string(m_Nup));
  opts.put("copies", std::to_string(m_Copies));
  opts.put("scale", std::to_string(m_Scale));
  char gamma[32];
  std::snprintf(gamma, sizeof gamma, "%g", m_Gamma);
  opts.put("gamma", gamma);
  m_InterString = opts.to_string();
  return m_InterString.c_str();
}

// ---------------------------------------------------------------------------
// DocumentProcessBase

DocumentProcessBase::DocumentProcessBase(const CONV_PARAM2* param) : m_ConvParam{} {
  m_DocAttr.Reset();
  // Explicitly the base operation: only the base options are loaded here;
  // each subclass constructor reads its own keys afterwards.
  DocumentProcessBase::Update(param, true);
}

DocumentProcessBase::~DocumentProcessBase() { std::fflush(stderr); }

void DocumentProcessBase::Update(const CONV_PARAM2* param, bool /*include_parent*/) {
  m_ConvParam = *param;
  if (m_ConvParam.wr_cb == nullptr) {
    m_ConvParam.wr_cb = DiscardingWrite;
    m_ConvParam.wr_hdl = nullptr;
  }
  LoadOptions(param->options);
}

void DocumentProcessBase::LoadOptions(const char* options) {
  m_DocAttr.Reset();
  quill_log::Debug("parsing options: %s", options != nullptr ? options : "(null)");
  if (options == nullptr) return;

  m_DocAttr.FromString(options);

  StringlizeParamter opts(options);
  if (quill_log::Enabled(quill_log::Severity::kDebug)) {
    quill_log::Debug("parsed: %s", opts.to_string().c_str());
  }
  option_reader::ReadText(opts, "dump_name", m_DumpImageName);
  option_reader::ReadHex(opts, "start_doc", m_CmdAtStartDoc);
  option_reader::ReadHex(opts, "end_doc", m_CmdAtEndDoc);
  option_reader::ReadHex(opts, "start_page", m_CmdAtStartPage);
  option_reader::ReadHex(opts, "end_page", m_CmdAtEndPage);
  option_reader::ReadText(opts, "icc", m_IccPath);
  option_reader::ReadBool(opts, "reverse_order", m_ReverseOrder);

  if (options[0] != '\0') m_DocAttr.m_ExtraOptions = options;
  if (m_DocAttr.m_Collate && m_DocAttr.m_Copies <= 1) m_DocAttr.m_Collate = false;
  // Reverse order keeps collation on even for a single copy.
  if (m_ReverseOrder) m_DocAttr.m_Collate = true;
}

void DocumentProcessBase::StartDoc() {
  m_HasStartDoc = true;
  m_HasEndDoc = false;
  OutputInitCommand();
  OutputDuplexCommand();
  if (!m_CmdAtStartDoc.empty()) WriteBytes(m_CmdAtStartDoc);
  if (!m_ReverseOrder && m_DocAttr.m_Collate && m_DocAttr.m_Copies <= 1) {
    quill_log::Debug("collating is meaningless with one copy, disable it");
    m_DocAttr.m_Collate = false;
  }
}

void DocumentProcessBase::EndDoc() {
  if (!m_HasStartDoc || m_HasEndDoc) return;
  if (!m_CmdAtEndDoc.empty()) WriteBytes(m_CmdAtEndDoc);
  OutputTermCommand();
  m_HasEndDoc = true;
}

void DocumentProcessBase::OutputInitCommand() {}

void DocumentProcessBase::OutputTermCommand() {}

void DocumentProcessBase::OutputDuplexCommand() {}

bool DocumentProcessBase::HasNotEnd() { return m_HasStartDoc && !m_HasEndDoc; }

void DocumentProcessBase::SaveBackupPage(const RASTER_INFO* raster, bool deflate) {
  quill_log::Debug("saving page %u", m_PageCount);
  if (!m_DumpImageName.empty()) DumpRaster(raster);
  std::shared_ptr<PackedPage> page(PackedPage::Create(raster, deflate));
  if (page) m_BackupPages.push_back(std::move(page));
}

void DocumentProcessBase::DumpRaster(const RASTER_INFO* raster) {
  DumpRasterToFile(raster, DumpPath(FormatDumpName(m_DumpImageName, m_PageCount)));
}

void DocumentProcessBase::WriteBytes(const void* data, size_t len) const {
  m_ConvParam.wr_cb(m_ConvParam.wr_hdl, data, static_cast<unsigned int>(len));
}

void DocumentProcessBase::WriteBytes(const std::vector<uint8_t>& bytes) const {
  WriteBytes(bytes.data(), bytes.size());
}
