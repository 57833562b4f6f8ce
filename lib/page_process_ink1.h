// page_process_ink1.h - band generator of serial-head inkjets with one ink.
//
// The document processor feeds the page one line of one-bit pixels at a
// time; lines are packed into a head band (column-major, the top line in the
// most significant bit of each column byte), each full band is sent as one
// graphics command and the paper is fed by the band height. The page is
// framed by page-length, page-flag and margin commands at the start and a
// form feed or bottom feed at the end.
//
// Also the base of PageProcessInk3 (two colours), PageProcessThermal and
// PageProcessDot24, which override some of the virtual operations.
#ifndef QUILL_LIB_PAGE_PROCESS_INK1_H_
#define QUILL_LIB_PAGE_PROCESS_INK1_H_

#include <cstdint>

#include "page_process_base.h"

class PageProcessInk1 : public PageProcessBase {
 public:
  // HeadHeight is the head height in vertical command units; the band holds
  // YRes * HeadHeight / YUnit lines. Width is the pixels per line. The band
  // buffer is allocated zeroed here and owned by the object.
  PageProcessInk1(uint16_t XUnit, uint16_t YUnit, uint16_t XRes, uint16_t YRes, uint32_t Width,
                  uint32_t PageLength, uint16_t HeadHeight, write_callback WriteCallback,
                  void* WriteHandle);
  ~PageProcessInk1() override;

  // Page length (when 1..65535), page flag and centring left margin.
  void StartPage() override;
  // Flushes the partial band with its feed, then a form feed or a feed to
  // the page length.
  void EndPage() override;

  // Adds one line ((m_Width + 7) / 8 bytes, MSB first, set bit = dot); a
  // full band is sent (OutputBand(AutoFeed)) and emptied.
  virtual void OutputLine(const void* pBuf, bool AutoFeed);
  // Sends a partly filled band if it holds any line, then empties it.
  virtual void FlushLines(bool AutoFeed);
  // Feeds by Length vertical command units (1B 4A n, at most 255 a command).
  virtual void OutputFeed(uint32_t Length);
  // Feeds by Length raster lines.
  virtual void OutputFeedGfx(uint32_t Length);
  // Empties the band.
  virtual void Init();
  // 1B 55 d: d = 01 when Dir != 0 (unidirectional), else 00.
  virtual void OutputDirection(int Dir);
  // Sends the band as graphics and a carriage return, then, with AutoFeed,
  // feeds by the lines it holds. Does not empty the band.
  virtual void OutputBand(bool AutoFeed);

  // Columns up to and including the rightmost column with any nonzero byte
  // (0 for an empty band; Width when Width * BandHeightByte is 0).
  static uint32_t CalcContentWidth(const uint8_t* pBandBuf, uint32_t Width,
                                   uint16_t BandHeightByte);

 protected:
  // The band output of this class itself, for derived processors that send
  // a band in several passes (each with its own plane of the buffer).
  void OutputBandInk1(bool AutoFeed);
  // Lines placed in the band so far.
  uint32_t BandLines() const;

 public:
  uint32_t m_Width;           // pixels per line and columns per band
  uint32_t m_PageLength;      // page length in vertical units; 0: unknown
  uint16_t m_FeedStride;      // head height in vertical units, as constructed
  uint16_t m_BandHeight;      // lines per band
  uint16_t m_BandHeightByte;  // bytes per band column: (m_BandHeight + 7) / 8
  uint8_t m_VBit;             // mask of the next line's bit in its column byte
  uint8_t m_VByte;            // index of the column byte that takes the next line
  uint8_t* m_pBandBuf;        // band buffer, m_BandBufSize bytes, owned
  uint32_t m_BandBufSize;     // m_Width * m_BandHeightByte
  uint32_t m_CurScanLine;     // vertical units fed since StartPage
  bool m_IsLastPage;          // last page of the document
  bool m_NoUseEject;          // end the page by feeding instead of a form feed
  bool m_UseLocPos;           // send bands in positioned segments
};

#endif  // QUILL_LIB_PAGE_PROCESS_INK1_H_
