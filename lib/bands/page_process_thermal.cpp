#include "bands/page_process_thermal.h"

#include <algorithm>

#include "bands/bit_image_commands.h"
#include "support/log.h"

namespace {

constexpr uint16_t kThermalDpi = 200;     // units and resolution, both axes
constexpr uint16_t kRows24Dot = 24;       // rows of a 24-dot bit image
constexpr uint16_t kRows8Dot = 8;         // rows of an 8-dot bit image
constexpr uint8_t kMaxPaperType = 4;      // paper types 0..4
constexpr uint8_t kFirstLabelType = 2;    // types from here on are label paper
constexpr uint32_t kMaxColumns = 0xFFFF;  // 16-bit column counts

// Margin derivation: pages up to this width are moved left by the allowance
// (the mechanism's own offset) when the centred margin leaves room for it.
constexpr uint32_t kNarrowPageWidth = 816;
constexpr uint32_t kMarginAllowance = 24;

// ESC * modes, indexed by [vertical 24-dot][horizontal double density].
constexpr uint8_t kBitImageModes[2][2] = {{0, 1}, {32, 33}};

// GS W nL nH: printable area width in dots.
bit_image::Command GsPrintWidth(uint32_t dots) {
  bit_image::Command c{0x1D, 0x57};
  PutLE16(c, dots);
  return c;
}

// GS L nL nH: left margin in dots.
bit_image::Command GsLeftMargin(uint32_t dots) {
  bit_image::Command c{0x1D, 0x4C};
  PutLE16(c, dots);
  return c;
}

// Label set-up: paper type and gap between labels.
bit_image::Command LabelStart(uint8_t paper_type, uint8_t gap) {
  return {0x1B, 0x1D, 0x1E, 0x04, 0x31, paper_type, 0xB0, gap, 0x1B, 0x1D, 0x1F};
}

// Label end: advance to the next label.
bit_image::Command LabelEnd() { return {0x1B, 0x1D, 0x1E, 0x04, 0x32, 0x00, 0xC8, 0x1B, 0x1D, 0x1F}; }

}  // namespace

PageProcessThermal::PageProcessThermal(bool HorzDoubleDensity, bool VertDoubleDensity,
                                       uint32_t Width, uint32_t PageLength,
                                       write_callback WriteCallback, void* WriteHandle)
    : PageProcessInk1(kThermalDpi, kThermalDpi, kThermalDpi, kThermalDpi, Width, PageLength,
                      VertDoubleDensity ? kRows24Dot : kRows8Dot, WriteCallback, WriteHandle),
      m_HorzDoubleDensity(HorzDoubleDensity),
      m_VertDoubleDensity(VertDoubleDensity) {
  m_NoUseEject = true;
  m_UseLocPos = true;
}

void PageProcessThermal::SetMaxWidth(uint16_t Pixels) { m_MaxWidth = Pixels; }

void PageProcessThermal::SetLabel(uint8_t Type, uint8_t Gap) {
  if (Type <= kMaxPaperType) m_PaperType = Type;
  m_Gap = Gap;
}

uint8_t PageProcessThermal::BitImageMode() const {
  return kBitImageModes[m_VertDoubleDensity ? 1 : 0][m_HorzDoubleDensity ? 1 : 0];
}

void PageProcessThermal::StartPage() {
  m_CurScanLine = 0;
  const bit_image::Command init = bit_image::Initialize();
  Write(init.data(), init.size());

  if (m_PaperType >= kFirstLabelType) {
    quill_log::Debug("paper type: %u; gap: %c", m_PaperType, m_Gap);
    const bit_image::Command label = LabelStart(m_PaperType, m_Gap);
    Write(label.data(), label.size());
  }

  if (m_MaxWidth != 0) {
    quill_log::Debug("max width: %u", m_MaxWidth);
    const bit_image::Command width = GsPrintWidth(m_Width);
    Write(width.data(), width.size());
  }

  if (m_LeftMargin == 0 && m_MaxWidth == 0) return;
  if (m_LeftMargin == 0) {
    // A page wider than the mechanism has no centring margin; the unsigned
    // difference would wrap into a huge margin that pushes the page off the
    // paper. Print from the left edge instead (ESC @ has reset the margin).
    if (m_MaxWidth < m_Width) {
      quill_log::Warning("page width %u exceeds the printable width %u; no left margin",
                         m_Width, m_MaxWidth);
      return;
    }
    uint32_t margin = (m_MaxWidth - m_Width) >> 1;
    if (m_Width <= kNarrowPageWidth && margin >= kMarginAllowance) margin -= kMarginAllowance;
    m_LeftMargin = margin;
  }
  quill_log::Debug("left margin: %u", m_LeftMargin);
  const bit_image::Command left = GsLeftMargin(m_LeftMargin);
  Write(left.data(), left.size());
}

void PageProcessThermal::EndPage() {
  // Lines handed in but not yet sent would otherwise be lost; after the
  // document processor's own flush this sends nothing.
  FlushLines(true);
  quill_log::Debug("page content height=%u/%u[%u|%u]", m_CurScanLine, m_PageLength, m_YRes,
                   m_YUnit);
  if (m_PageLength != 0 && m_CurScanLine < m_PageLength) {
    quill_log::Debug("feed to bottom");
    OutputFeed(m_PageLength - m_CurScanLine);
  }
  if (m_PaperType >= kFirstLabelType) {
    const bit_image::Command end = LabelEnd();
    Write(end.data(), end.size());
  }
}

void PageProcessThermal::OutputFeedGfx(uint32_t Length) { OutputFeed(Length); }

void PageProcessThermal::OutputBand(bool AutoFeed) {
  uint32_t content_width = CalcContentWidth(m_pBandBuf, m_Width, m_BandHeightByte);
  quill_log::Debug("OutputBand:ContentWidth=%u", content_width);
  if (content_width > kMaxColumns) {
    // Column counts are 16-bit: cut the band rather than send a wrapped count.
    quill_log::Warning("band of %u columns cut to %u columns", content_width, kMaxColumns);
    content_width = CalcContentWidth(m_pBandBuf, kMaxColumns, m_BandHeightByte);
  }
  if (content_width != 0) {
    if (m_UseLocPos) {
      SendSegments(content_width);
    } else {
      SendColumns(0, content_width, false);
    }
    const bit_image::Command cr = bit_image::CarriageReturn();
    Write(cr.data(), cr.size());
  }
  if (AutoFeed) OutputFeedGfx(BandLines());
}

void PageProcessThermal::SendColumns(uint32_t first, uint32_t count, bool positioned) {
  if (positioned) {
    // Units and resolution are equal here, so positions fit wherever the
    // column counts do.
    const uint32_t position = m_XRes == 0 ? 0 : m_XUnit * first / m_XRes;
    const bit_image::Command pos = bit_image::HorizontalPosition(position);
    Write(pos.data(), pos.size());
  }
  const bit_image::Command header = bit_image::BitImageHeader(BitImageMode(), count);
  Write(header.data(), header.size());
  Write(m_pBandBuf + static_cast<size_t>(first) * m_BandHeightByte,
        static_cast<size_t>(count) * m_BandHeightByte);
}

// A segment ends only at a blank column reached at least `min` columns
// after its start; shorter blank stretches inside it go out as data, longer
// ones between segments are skipped by the next ESC $. The last content
// column always closes the last segment.
void PageProcessThermal::SendSegments(uint32_t content_width) {
  const uint32_t min_len = std::max<uint32_t>(m_XRes / 10, 1);
  const uint8_t* band = m_pBandBuf;
  const uint16_t bytes = m_BandHeightByte;
  const uint32_t last = content_width - 1;  // always inked

  uint32_t start = bit_image::NextInkedColumn(band, bytes, 0, content_width);
  for (;;) {
    if (start == last) {
      SendColumns(start, 1, true);
      return;
    }
    const uint32_t blank = bit_image::NextBlankColumn(band, bytes, start + min_len, content_width);
    if (blank >= content_width) {
      SendColumns(start, content_width - start, true);
      return;
    }
    SendColumns(start, blank - start, true);
    start = bit_image::NextInkedColumn(band, bytes, blank + 1, content_width);
  }
}
