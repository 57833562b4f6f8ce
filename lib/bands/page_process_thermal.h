// page_process_thermal.h - band generator of 200-dpi thermal receipt and
// label printers that take ESC/POS-style commands.
//
// Lines are collected into 24-row bands by the PageProcessInk1 machinery
// (column-major, 3 bytes per column, bit 7 = top row of each byte) and sent
// as ESC * bit images, optionally cut into segments placed with ESC $. The
// page starts with ESC @, the optional label set-up, the printable width
// (GS W) and the left margin (GS L); it ends with a feed to the page length
// and, on label paper, the label-end command. Units and resolutions are
// 200 x 200, so graphic rows and feed units are the same.
#ifndef QUILL_LIB_BANDS_PAGE_PROCESS_THERMAL_H_
#define QUILL_LIB_BANDS_PAGE_PROCESS_THERMAL_H_

#include <cstdint>

#include "bands/page_process_ink1.h"

class PageProcessThermal : public PageProcessInk1 {
 public:
  // HorzDoubleDensity selects double horizontal density (ESC * mode 33 or
  // 1), VertDoubleDensity the 24-dot modes (33 or 32) instead of the 8-dot
  // modes (1 or 0). In the 8-dot modes the printer reads one byte per
  // column, so a band then holds 8 rows (1 byte per column) instead of 24.
  // Width is the page width in dots, PageLength the page length in dots
  // (0: no fixed length). m_NoUseEject and m_UseLocPos start true.
  PageProcessThermal(bool HorzDoubleDensity, bool VertDoubleDensity, uint32_t Width,
                     uint32_t PageLength, write_callback WriteCallback, void* WriteHandle);

  // ESC @; label set-up when m_PaperType > 1; GS W when m_MaxWidth is set;
  // GS L with m_LeftMargin, derived from m_MaxWidth when 0 (and stored).
  void StartPage() override;
  // Sends any lines still held (with their feed), feeds to the page length
  // when it is set and not yet reached, and ends the label on label paper.
  // No form feed.
  void EndPage() override;
  // Rows and feed units are both 1/200 inch: OutputFeed(Length).
  void OutputFeedGfx(uint32_t Length) override;
  // Sends the band's content as ESC * (whole, or in ESC $-placed segments
  // when m_UseLocPos), a CR after any content, then with AutoFeed a feed by
  // the rows the band holds.
  void OutputBand(bool AutoFeed) override;

  // m_MaxWidth = Pixels.
  void SetMaxWidth(uint16_t Pixels);
  // m_PaperType = Type when Type <= 4 (larger values keep it); m_Gap = Gap.
  void SetLabel(uint8_t Type, uint8_t Gap);

  // The ESC * mode byte of this object's density flags.
  uint8_t BitImageMode() const;

  bool m_HorzDoubleDensity;   // double horizontal density
  bool m_VertDoubleDensity;   // 24-dot instead of 8-dot bit images
  uint32_t m_LeftMargin = 0;  // left margin in dots; 0: derive from m_MaxWidth
  uint32_t m_MaxWidth = 0;    // printable width of the mechanism in dots; 0: not set
  uint8_t m_PaperType = 1;    // 0..4; above 1 selects label handling
  uint8_t m_Gap = 0;          // gap between labels, passed to the printer

 private:
  // Sends columns [first, first + count) as ESC $ (when positioned) and
  // ESC * with its data.
  void SendColumns(uint32_t first, uint32_t count, bool positioned);
  // The segment scan of positioned output over columns [0, content_width).
  void SendSegments(uint32_t content_width);
};

#endif  // QUILL_LIB_BANDS_PAGE_PROCESS_THERMAL_H_
