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
//
// Calling order: construct; set m_IsLastPage, m_NoUseEject, m_UseLocPos;
// StartPage(); any sequence of OutputLine, FlushLines, OutputFeed,
// OutputFeedGfx, OutputDirection; EndPage(); destroy. One object serves one
// page on one thread.
//
// Band buffer layout: column c occupies the m_BandHeightByte bytes starting
// at c * m_BandHeightByte; line k of the band is bit 7 - (k % 8) of byte
// k / 8 of every column; a set bit is a dot. m_VByte and m_VBit count the
// lines placed: 8 * m_VByte + the number of bits above m_VBit in its byte.
//
// Every line is merged into m_pBandBuf before OutputLine returns, so the
// buffer, m_VByte and m_VBit always describe exactly the lines given; a
// derived processor or a caller may read them at any point.
#ifndef QUILL_LIB_BANDS_PAGE_PROCESS_INK1_H_
#define QUILL_LIB_BANDS_PAGE_PROCESS_INK1_H_

#include <cstdint>
#include <memory>

#include "bands/page_process_base.h"

class PageProcessInk1 : public PageProcessBase {
 public:
  // The band holds MapUnitYToGfx(HeadHeight) = YRes * HeadHeight / YUnit
  // lines, kept within 1 .. 2040 (the range m_VByte can count; a head that
  // maps to no line at all prints one line per band). Width is the pixels
  // per line. The band buffer (Width * m_BandHeightByte bytes) is allocated
  // zeroed here and owned by the object; a buffer larger than 32 bits can
  // count throws std::bad_alloc, as a failed allocation does.
  PageProcessInk1(uint16_t XUnit, uint16_t YUnit, uint16_t XRes, uint16_t YRes, uint32_t Width,
                  uint32_t PageLength, uint16_t HeadHeight, write_callback WriteCallback,
                  void* WriteHandle);
  ~PageProcessInk1() override;

  // Page length (when 1..65535), page flag and centring left margin; resets
  // m_CurScanLine.
  void StartPage() override;
  // FlushLines(true), then a form feed or a feed to the page length when
  // the page length is known and not reached yet.
  void EndPage() override;

  // Adds one line: (m_Width + 7) / 8 bytes at pBuf, MSB first, set bit =
  // dot; bits beyond m_Width are ignored; the bytes are copied, so pBuf may
  // be reused when the call returns. A null pBuf adds a blank line. A full
  // band is sent (OutputBand(AutoFeed)) and emptied before returning.
  virtual void OutputLine(const void* pBuf, bool AutoFeed);
  // Sends a partly filled band (OutputBand(AutoFeed)) if it holds any line,
  // then empties it (Init()).
  virtual void FlushLines(bool AutoFeed);
  // Feeds by Length vertical command units: 1B 4A n commands of at most 255
  // units each (one 1B 4A 00 for 0). Adds Length to m_CurScanLine.
  virtual void OutputFeed(uint32_t Length);
  // Feeds by Length raster lines: OutputFeed(MapGfxToUnitY(Length)).
  virtual void OutputFeedGfx(uint32_t Length);
  // Empties the band: zeroes the buffer, m_VBit = 0x80, m_VByte = 0.
  virtual void Init();
  // 1B 55 d: d = 01 when Dir != 0 (unidirectional), else 00.
  virtual void OutputDirection(int Dir);
  // Sends the band as graphics (in positioned segments when m_UseLocPos)
  // and a carriage return when it has content, then, with AutoFeed, feeds
  // by the lines it holds. Does not empty the band.
  virtual void OutputBand(bool AutoFeed);

  // Columns up to and including the rightmost column with any nonzero byte
  // (0 for an empty band; Width when Width * BandHeightByte is 0). Reads
  // Width * BandHeightByte bytes at pBandBuf.
  static uint32_t CalcContentWidth(const uint8_t* pBandBuf, uint32_t Width,
                                   uint16_t BandHeightByte);

 protected:
  // Pixels of a line that are printed side by side across the carriage,
  // which StartPage centres: m_Width here. A processor whose lines hold
  // several planes one after the other returns one plane's width.
  virtual uint32_t PrintedWidth() const;
  // The band output of this class itself (what PageProcessInk1::OutputBand
  // does), for derived processors that send a band in several passes, each
  // with m_Width and m_pBandBuf pointing at its own plane of the buffer.
  void OutputBandInk1(bool AutoFeed);
  // Lines placed in the band so far, from m_VByte and m_VBit.
  uint32_t BandLines() const;
  // Changes the band to BandHeight lines (kept within 1 .. 2040) for the
  // current m_Width: sets m_BandHeight, m_BandHeightByte, m_BandBufSize,
  // replaces the owned buffer by a zeroed one and empties the band. Throws
  // std::bad_alloc like the constructor. A derived processor changes the
  // band geometry either with this, or by pointing m_pBandBuf at a zeroed
  // buffer of its own (with m_BandHeight, m_BandHeightByte and
  // m_BandBufSize to match) before the first line and pointing it back at
  // the owned buffer before ~PageProcessInk1; inside OutputBand it may
  // repoint m_pBandBuf temporarily and restore it.
  void SetBandHeight(uint32_t BandHeight);

 public:
  uint32_t m_Width;           // pixels per line and columns per band
  uint32_t m_PageLength;      // page length in vertical units; 0: unknown
  uint16_t m_FeedStride;      // head height in vertical units, as constructed
  uint16_t m_BandHeight;      // lines per band
  uint16_t m_BandHeightByte;  // bytes per band column: (m_BandHeight + 7) / 8
  uint8_t m_VBit;             // mask of the next line's bit in its column byte
  uint8_t m_VByte;            // index of the column byte that takes the next line
  uint8_t* m_pBandBuf;        // band buffer, m_BandBufSize bytes, owned (m_BandStore)
  uint32_t m_BandBufSize;     // m_Width * m_BandHeightByte
  uint32_t m_CurScanLine;     // vertical units fed since StartPage
  bool m_IsLastPage;          // last page of the document
  bool m_NoUseEject;          // end the page by feeding instead of a form feed
  bool m_UseLocPos;           // send bands in positioned segments

 private:
  // Sends columns first .. first + count - 1 of the current plane, preceded
  // by their horizontal position when `positioned`.
  void SendColumns(uint8_t mode, uint32_t first, uint32_t count, bool positioned);
  // Cuts the first `content` columns into segments separated by gaps of at
  // least m_XRes / 10 blank columns and sends each one positioned.
  void SendSegments(uint8_t mode, uint32_t content);
  // True when column c of the current plane has no dot.
  bool ColumnBlank(uint32_t c) const;

  std::unique_ptr<uint8_t[]> m_BandStore;  // owner of the band buffer
};

#endif  // QUILL_LIB_BANDS_PAGE_PROCESS_INK1_H_
