// page_process_dot24.h - band generator of 24-pin dot-matrix printers that
// take ESC/P-style bit-image commands.
//
// Command units are 1/360 inch both ways. Below 360 dpi vertically a band is
// 24 rows (3 bytes per column) and goes out as one pass of the head; at 360
// dpi and above a band is 48 rows (6 bytes per column) and goes out as two
// interlaced 24-pin passes: the even rows, a feed of 2 rows, the odd rows,
// a feed of the remaining 46 rows. In dual-colour mode the lines hold two
// planes side by side (black first, then the second ribbon colour, each
// m_Width / 2 columns) and every pass is printed once per colour, each
// preceded by ESC r. Feeds go through OutputFeed in units of two 360-dpi
// rows (one 180-dpi row).
#ifndef QUILL_LIB_BANDS_PAGE_PROCESS_DOT24_H_
#define QUILL_LIB_BANDS_PAGE_PROCESS_DOT24_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bands/page_process_ink1.h"

// One run of columns of a pass with the same inked state.
struct PIECE {
  uint32_t start;  // first column
  uint32_t len;    // number of columns
  bool dirty;      // the run is sent (inked, or a bridged gap)
};

// Splits columns [0, content_width) of a band (column_bytes bytes a column)
// into pieces for positioned output. A column is inked when any of its bytes
// is nonzero; gaps of at most 9 blank columns between inked columns are
// bridged (sent as data), so only gaps of 10 or more become blank pieces.
// Returns the maximal runs of equal state, left to right.
std::vector<PIECE> SplitPieces(const uint8_t* band, uint32_t content_width,
                               uint16_t column_bytes);

// Splits 16-row column slices into the two passes of an interlaced band: for
// each i < out_len, the input bytes u = in_buf[2i] and w = in_buf[2i + 1]
// give out_buf1[i] = u7 u5 u3 u1 w7 w5 w3 w1 (even rows) and out_buf2[i] =
// u6 u4 u2 u0 w6 w4 w2 w0 (odd rows). Requires: in_buf holds 2 * out_len
// bytes; each non-null output buffer holds out_len bytes. A null output
// buffer is skipped.
void interlace_buffer(const uint8_t* in_buf, size_t out_len, uint8_t* out_buf1,
                      uint8_t* out_buf2);

class PageProcessDot24 : public PageProcessInk1 {
 public:
  // Units 360 x 360, the raster's resolutions, Width columns a line (the
  // doubled width in dual-colour mode), PageLength in 1/360 inch (0: not
  // set). Band geometry by YRes: 24 rows below 360, 48 rows from 360 on.
  // m_UseLocPos and m_DualColor start false; the owner may set them before
  // StartPage.
  PageProcessDot24(uint16_t XRes, uint16_t YRes, uint32_t Width, uint32_t PageLength,
                   write_callback WriteCallback, void* WriteHandle);

  // ESC ( U 10 and ESC ( C with the page length when it is set; resets
  // m_CurScanLine.
  void StartPage() override;
  // Rows to feed units: Length below 360 dpi, Length / 2 from 360 on.
  void OutputFeedGfx(uint32_t Length) override;
  // Prints the collected band: one pass, two interlaced passes, and each of
  // them per colour in dual-colour mode. The interlaced forms always advance
  // by the whole band (2 + 46 rows) and ignore AutoFeed.
  void OutputBand(bool AutoFeed) override;
  // One 24-pin pass from the current m_pBandBuf, m_Width and
  // m_BandHeightByte: ESC * (whole, or as ESC $-placed pieces when
  // m_UseLocPos), a CR after any content, then with AutoFeed a feed by the
  // rows the band holds.
  virtual void OutputBand2(bool AutoFeed);

  // The ESC * density byte for the current units and resolutions.
  uint8_t BitImageMode() const;

  bool m_DualColor = false;  // lines hold a black and a second-colour plane

 private:
  // Writes ESC r n.
  void SelectColor(uint8_t color);
  // Sends columns [first, first + count) of the current pass; a position
  // beyond 16 bits is not sent (warning).
  void SendColumns(uint32_t first, uint32_t count, bool positioned);
  void OutputInterlaced(bool dual);

  std::vector<uint8_t> m_PassA;      // even rows of an interlaced band, 3 bytes a column
  std::vector<uint8_t> m_PassB;      // odd rows of an interlaced band, 3 bytes a column
};

#endif  // QUILL_LIB_BANDS_PAGE_PROCESS_DOT24_H_
