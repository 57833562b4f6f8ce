#include "document/document_process_ink1.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "bands/page_process_ink1.h"
#include "document/mono_conversion.h"
#include "document/mono_stream.h"
#include "document/page_dump.h"
#include "document/page_transform.h"
#include "document/shingling.h"
#include "options/option_reader.h"
#include "options/str_utils.h"
#include "support/log.h"

namespace {

constexpr uint8_t kInit[] = {0x1B, 0x40};
constexpr uint8_t kMultiEmulation[] = {0x1B, 0x1D, 0x1E, 0x00, 0x0C, 0x04, 0x1B, 0x1D, 0x1F};
constexpr uint8_t kTimeStampStart[] = {0x1B, 0x1D, 0x1E, 0x10, 0x1D};
constexpr uint8_t kTimeStampEnd[] = {0x1B, 0x1D, 0x1F};

// A stamp below this (but not 0) means "the time of printing".
constexpr uint32_t kEarliestFixedStamp = 900000000;

// The most lines the band generator holds in one band.
constexpr uint32_t kMaxBandLines = 2040;

// 1B 26 6C 53 n: n = 02 long-edge (horizontal), 01 short-edge (vertical),
// 00 for any other nonzero mode.
uint8_t DuplexByte(uint8_t duplex) {
  switch (duplex) {
    case DUPLEX_HORIZONTAL: return 0x02;
    case DUPLEX_VERTICAL: return 0x01;
    default: return 0x00;
  }
}

// The debug level of the "DUMP_MONO" environment variable (0 when unset).
long DumpMonoLevel() {
  const char* v = std::getenv("DUMP_MONO");
  if (v == nullptr) return 0;
  return std::strtol(v, nullptr, 10);
}

// Bits after the last pixel of each one-bit row are cleared, so that a set
// bit anywhere in a row means ink.
void ClearPadding(RASTER_INFO& mono) {
  const uint32_t rem = mono.width % 8;
  if (rem == 0) return;
  const uint8_t keep = static_cast<uint8_t>(0xFF << (8 - rem));
  uint8_t* last = mono.img_p + mono.width / 8;
  for (uint32_t y = 0; y < mono.height; ++y, last += mono.pitch) *last &= keep;
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

// ---------------------------------------------------------------------------
// The page entry

int DocumentProcessInk1::ProcessPage(const RASTER_INFO* raster) {
  if (raster == nullptr) return -1;
  RASTER_INFO page = *raster;
  RotateRaster(page, m_Rotation, m_ConvParam, m_RotationBuffer);
  if (page.img_p != raster->img_p) {
    // A quarter turn repoints the caller's record at the rotated copy, which
    // this processor holds until its next quarter turn or its release, so
    // the caller sees the page as it was printed.
    auto* record = const_cast<RASTER_INFO*>(raster);
    record->img_p = page.img_p;
    record->width = page.width;
    record->height = page.height;
    record->pitch = page.pitch;
  }
  DoOffsetting(page, m_Offset);

  ++m_PageCount;
  const uint32_t copies = m_DocAttr.m_Copies;
  if (copies == 0) return 0;

  bool last_page = true;
  bool back_side = false;
  if (m_DocAttr.m_Duplex != DUPLEX_NONE) {
    back_side = m_PageCount % 2 == 0;
    last_page = back_side;
  }

  m_Cancel = CancelPoll(m_ConvParam.req_exit_cb, m_ConvParam.req_exit_cb_param);
  int result = 0;
  for (uint32_t i = 1; i <= copies; ++i) {
    if (m_Cancel.StopNow()) break;
    quill_log::Debug("page %u, %u/%u copies", m_PageCount - 1, i, copies);
    const uint64_t plane = uint64_t{page.width} + (page.width & 1);
    if (SeparatesRedBlack() && RasterIsWalkable(page) && m_DumpImageName.empty() &&
        StreamsMono(page.bpp) && plane <= INT_MAX / 4) {
      // The planes are made row by row while the page is screened; the
      // record handed on describes the separated page.
      quill_log::Debug("extends width %u for dual colors", page.width);
      RASTER_INFO separated = page;
      separated.width = static_cast<uint32_t>(2 * plane);
      separated.bpp = 24;
      separated.pitch = static_cast<int32_t>((6 * plane + 3) & ~uint64_t{3});
      m_PendingSeparation = PendingSeparation{&separated, &page};
      result = ProcessPageInternal(&separated, last_page, back_side);
      m_PendingSeparation = PendingSeparation{};
    } else if (SeparatesRedBlack() && RasterIsWalkable(page)) {
      // Two-colour pages: every copy is separated from the page anew (the
      // page's pixels are not changed by printing, so every copy is alike).
      FiBitmap planes;
      RASTER_INFO separated{};
      if (!SeparateRedBlack(page, planes, separated)) {
        result = -1;
        continue;
      }
      if (!m_DumpImageName.empty()) DumpRaster(&separated);
      result = ProcessPageInternal(&separated, last_page, back_side);
    } else {
      if (!m_DumpImageName.empty()) DumpRaster(&page);
      result = ProcessPageInternal(&page, last_page, back_side);
    }
  }
  if (m_Cancel.stopped()) {
    quill_log::Info("page %u cancelled", m_PageCount - 1);
    return -1;
  }
  return result;
}

bool DocumentProcessInk1::SeparateRedBlack(const RASTER_INFO& page, FiBitmap& image,
                                           RASTER_INFO& separated) {
  FiBitmap wrapped = WrapRaster(page);
  FIBITMAP* planes = nullptr;
  if (wrapped) ConvertToRedBlack(wrapped.get(), planes);
  image.reset(planes);
  if (!image) {
    quill_log::Warning("failed to separate red and black");
    return false;
  }
  separated = page;
  separated.width = FreeImage_GetWidth(planes);
  separated.pitch = static_cast<int32_t>(FreeImage_GetPitch(planes));
  separated.bpp = static_cast<uint8_t>(FreeImage_GetBPP(planes));
  separated.img_p = FreeImage_GetBits(planes);
  return true;
}

// ---------------------------------------------------------------------------
// One copy of one page

int DocumentProcessInk1::ProcessPageInternal(const RASTER_INFO* raster, bool last_page,
                                             bool back_side) {
  if (raster == nullptr) return -1;
  quill_log::Debug("%s: size=%ux%u, unit=%ux%u, resolution=%ux%u, pins=%u, bpp=%u, pitch=%d",
                   "ProcessPageInternal", raster->width, raster->height, m_ConvParam.x_unit,
                   m_ConvParam.y_unit, raster->x_res, raster->y_res, m_ConvParam.num_pins,
                   raster->bpp, raster->pitch);
  TimingCheckpoint("doc_proc", __LINE__);

  MonoPage page;
  const bool turn = m_DocAttr.m_Duplex == DUPLEX_VERTICAL && back_side;
  if (!PrepareMonoPage(*raster, turn, page)) return -1;
  const RASTER_INFO& mono = page.raster;

  const PageLayout layout = MeasurePage(mono, BandHeight(mono.y_res));

  if (m_TimeStamp != 0) output_timestamp();
  if (!m_CmdAtStartPage.empty()) WriteBytes(m_CmdAtStartPage);
  const uint64_t start = time_ms();

  std::shared_ptr<PageProcessInk1> pp = CreatePageProcessor(mono, last_page, back_side);
  pp->m_IsLastPage = last_page;
  pp->m_NoUseEject = m_NoUseEject;
  pp->m_UseLocPos = m_UseLocPos;

  quill_log::Debug("shingling: %u", m_ConvParam.shingling);
  ShinglingJob job;
  job.mode = m_ConvParam.shingling;
  job.band_height = pp->m_BandHeight;  // the generator's band, never 0
  job.prefer_unidir = m_PreferUnidir;
  job.band_hint = m_BandHint;
  job.wr_cb = m_ConvParam.wr_cb;
  job.wr_hdl = m_ConvParam.wr_hdl;
  job.cancel = &m_Cancel;
  RunShingling(*pp, mono, layout.range, layout.sections, job);

  quill_log::Info("conversion takes %llums", static_cast<unsigned long long>(time_ms() - start));
  if (!m_CmdAtEndPage.empty()) WriteBytes(m_CmdAtEndPage);
  return m_Cancel.stopped() ? -1 : 0;
}

bool DocumentProcessInk1::PrepareMonoPage(const RASTER_INFO& raster, bool turn, MonoPage& page) {
  if (raster.x_res == 0 || raster.y_res == 0) {
    quill_log::Warning("resolution is invalid");
    return false;
  }
  if (raster.width == 0 || raster.height == 0) {
    quill_log::Warning("raster size is invalid");
    return false;
  }
  if (raster.img_p == nullptr) {
    quill_log::Warning("raster has no pixels");
    return false;
  }
  if (raster.bpp != 1 && raster.bpp != 2 && raster.bpp != 4 && raster.bpp != 8 &&
      raster.bpp != 16 && raster.bpp != 24 && raster.bpp != 32) {
    quill_log::Warning("unsupported bpp: %u", raster.bpp);
    return false;
  }
  if (!RasterIsWalkable(raster)) {
    quill_log::Warning("raster pitch is invalid");
    return false;
  }

  RASTER_INFO converted{};
  if (ConvertColorToMono(&raster, &converted)) {
    page.own.reset(converted.img_p);
    page.raster = converted;
  } else if (m_Cancel.stopped()) {
    return false;  // cancelled while screening: nothing of the page was sent
  } else {
    page.raster = raster;
  }
  TimingCheckpoint("doc_proc", __LINE__);
  if (page.raster.bpp != 1) {
    quill_log::Warning("page could not be reduced to one bit per pixel");
    return false;
  }

  if (turn) {
    // Never turn the caller's pixels: every copy must see the same page.
    if (!page.own) {
      const size_t bytes = static_cast<size_t>(page.raster.pitch) * page.raster.height;
      page.own.reset(static_cast<uint8_t*>(std::malloc(bytes)));
      if (!page.own) {
        quill_log::Warning("no memory to turn the back side");
        return false;
      }
      std::memcpy(page.own.get(), page.raster.img_p, bytes);
      page.raster.img_p = page.own.get();
    }
    TurnRaster180(page.raster);
  }
  return true;
}

DocumentProcessInk1::PageLayout DocumentProcessInk1::MeasurePage(const RASTER_INFO& mono,
                                                                 uint32_t band_height) const {
  PageLayout layout;
  layout.row_ink = CountRowInk(mono);
  // Ratios as total * 100 / width / height, divided in that order.
  auto percent = [&mono](uint64_t dots) {
    return static_cast<double>(dots) * 100 / mono.width / mono.height;
  };
  if (SeparatesRedBlack()) {
    const InkTotals t = CountPlaneInk(mono, mono.width / 2);
    quill_log::Debug("ink covering ratio: %.2f%%[B],%.2f%%[R]", percent(t.black), percent(t.red));
  } else {
    uint64_t total = 0;
    for (uint32_t n : layout.row_ink) total += n;
    quill_log::Debug("ink covering ratio: %.2f%%", percent(total));
  }

  layout.range = FindContentRange(layout.row_ink);
  TimingCheckpoint("doc_proc", __LINE__);
  quill_log::Debug("content vertical range: %u-%u", layout.range.top, layout.range.bottom);

  layout.sections = FindSections(layout.row_ink, layout.range);
  for (const Section& s : layout.sections) {
    quill_log::Debug("vertical section: %u-%u[%u]", s.first, s.second, s.second - s.first);
  }
  quill_log::Debug("recalculate sections");
  MergeSections(layout.sections, band_height);
  for (const Section& s : layout.sections) {
    quill_log::Debug("vertical section: %u-%u[%u]", s.first, s.second, s.second - s.first);
  }
  TimingCheckpoint("doc_proc", __LINE__);
  return layout;
}

uint32_t DocumentProcessInk1::BandHeight(uint16_t y_res) const {
  if (m_ConvParam.y_unit == 0) return 1;
  const uint32_t lines = uint32_t{m_ConvParam.num_pins} * y_res / m_ConvParam.y_unit;
  // As the band generator holds it: at least one line, at most kMaxBandLines.
  return std::clamp<uint32_t>(lines, 1, kMaxBandLines);
}

std::shared_ptr<PageProcessInk1> DocumentProcessInk1::CreatePageProcessor(const RASTER_INFO& mono,
                                                                          bool /*last_page*/,
                                                                          bool /*back_side*/) {
  return std::make_shared<PageProcessInk1>(m_ConvParam.x_unit, m_ConvParam.y_unit, mono.x_res,
                                           mono.y_res, mono.width, m_ConvParam.page_length,
                                           m_ConvParam.num_pins, m_ConvParam.wr_cb,
                                           m_ConvParam.wr_hdl);
}

void DocumentProcessInk1::output_timestamp() {
  const uint32_t stamp = m_TimeStamp >= kEarliestFixedStamp
                             ? m_TimeStamp
                             : static_cast<uint32_t>(std::time(nullptr));
  quill_log::Debug("output timestamp %8.8XH", stamp);
  std::vector<uint8_t> record(kTimeStampStart, kTimeStampStart + sizeof kTimeStampStart);
  PutLE32(record, stamp);
  record.insert(record.end(), kTimeStampEnd, kTimeStampEnd + sizeof kTimeStampEnd);
  WriteBytes(record);
}

// ---------------------------------------------------------------------------
// Colour to one bit

bool DocumentProcessInk1::StreamsMono(uint8_t bpp) const {
  return StreamsDepth(bpp) && m_Dither == 2 && !(m_Threshold >= 1 && m_Threshold <= 254) &&
         m_IccPath.empty() && DumpMonoLevel() <= 0;
}

bool DocumentProcessInk1::ConvertColorToMono(const RASTER_INFO* src, RASTER_INFO* dst) {
  if (src == nullptr || dst == nullptr || src->bpp == 1) return false;
  const bool pending = src == m_PendingSeparation.placeholder;
  if (pending || (StreamsMono(src->bpp) && src->width <= INT_MAX / 4)) {
    // Row by row: the same records and the same bits as the steps below.
    const double gamma = m_DocAttr.m_Gamma;
    if (gamma > 0 && gamma != 1.0) quill_log::Debug("adjust gamma %g", gamma);
    TimingCheckpoint("doc_proc", __LINE__);
    quill_log::Debug("no ICC profile is specified");
    int32_t pitch = 0;
    uint8_t* pixels = StreamToMono(pending ? *m_PendingSeparation.page : *src, gamma, pending,
                                   &pitch, &m_Cancel);
    TimingCheckpoint("doc_proc", __LINE__);
    if (pixels == nullptr) {
      if (!m_Cancel.stopped()) quill_log::Warning("failed to reduce colors");
      return false;
    }
    quill_log::Info("invert palette after halftoning");
    TimingCheckpoint("doc_proc", __LINE__);
    *dst = *src;
    dst->bpp = 1;
    dst->pitch = pitch;
    dst->img_p = pixels;
    return true;
  }
  FiBitmap wrapped = WrapRaster(*src);
  if (!wrapped) {
    quill_log::Warning("failed to assemble to bitmap");
    return false;
  }
  const long dump_level = DumpMonoLevel();
  if (dump_level > 0) save_temp_image(wrapped.get(), "ConvertColorToMono-1");

  // Gamma goes into the grey copy, never into the caller's pixels.
  const double gamma = m_DocAttr.m_Gamma;
  if (gamma > 0 && gamma != 1.0) quill_log::Debug("adjust gamma %g", gamma);
  FiBitmap grey = GreyWithGamma(wrapped.get(), gamma);
  TimingCheckpoint("doc_proc", __LINE__);

  if (FreeImage_GetBPP(wrapped.get()) <= 8) {
    quill_log::Warning("color depth of source is not enough to do transform");
  } else if (m_IccPath.empty()) {
    quill_log::Debug("no ICC profile is specified");
  } else if (grey) {
    FiBitmap managed = TransformToProfile(grey.get(), m_IccPath);
    if (managed) grey = std::move(managed);
  }
  wrapped.reset();

  // The whole-page halftoners run uninterrupted; a cancel that comes
  // meanwhile is seen right after them, before anything is sent.
  FiBitmap result;
  if (grey && !m_Cancel.StopNow()) result = Halftone(grey.get(), m_Threshold, m_Dither);
  TimingCheckpoint("doc_proc", __LINE__);
  grey.reset();
  if (m_Cancel.StopNow()) return false;
  if (!result) {
    quill_log::Warning("failed to reduce colors");
    return false;
  }

  if (FreeImage_GetColorType(result.get()) == FIC_MINISBLACK) {
    quill_log::Info("invert palette after halftoning");
    InvertPixels(result.get());
    RGBQUAD* pal = FreeImage_GetPalette(result.get());
    pal[0].rgbRed = pal[0].rgbGreen = pal[0].rgbBlue = 255;
    pal[1].rgbRed = pal[1].rgbGreen = pal[1].rgbBlue = 0;
  }
  if (dump_level > 1) save_temp_image(result.get(), "ConvertColorToMono-2");
  TimingCheckpoint("doc_proc", __LINE__);

  const unsigned pitch = FreeImage_GetPitch(result.get());
  auto* pixels = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(pitch) * src->height, 1));
  if (pixels == nullptr) {
    quill_log::Warning("failed to reduce colors");
    return false;
  }
  *dst = *src;
  dst->bpp = 1;
  dst->pitch = static_cast<int32_t>(pitch);
  dst->img_p = pixels;
  FreeImage_ConvertToRawBits(pixels, result.get(), static_cast<int>(pitch), 1, 0, 0, 0, FALSE);
  ClearPadding(*dst);
  return true;
}
