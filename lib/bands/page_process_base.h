// page_process_base.h - root of the page-processor tree.
//
// A page processor turns one page into printer command bytes and hands them
// to the job's write callback. PageProcessBase holds the two unit systems of
// a page (command units and the raster's graphics resolution) and the write
// callback; derived processors implement StartPage and EndPage.
#ifndef QUILL_LIB_BANDS_PAGE_PROCESS_BASE_H_
#define QUILL_LIB_BANDS_PAGE_PROCESS_BASE_H_

#include <cstddef>
#include <cstdint>

#include "quill/libquill.h"

class PageProcessBase {
 public:
  // Stores the six values. A null WriteCallback discards the output.
  PageProcessBase(uint16_t XUnit, uint16_t YUnit, uint16_t XRes, uint16_t YRes,
                  write_callback WriteCallback, void* WriteHandle);

  PageProcessBase(const PageProcessBase&) = delete;
  PageProcessBase& operator=(const PageProcessBase&) = delete;

  // Sends the page opening commands. Called once, before any other output.
  virtual void StartPage() = 0;
  // Ends the page. Called once, last.
  virtual void EndPage() = 0;
  virtual ~PageProcessBase() = default;

  // Unit mapping, unsigned 32-bit: the product first, then the truncated
  // quotient. A zero divisor maps to 0 instead of faulting.
  uint32_t MapGfxToUnitX(uint16_t x) const;   // m_XUnit * x / m_XRes
  uint32_t MapGfxToUnitY(uint32_t y) const;   // m_YUnit * y / m_YRes
  uint32_t MapUnitYToGfx(uint16_t u) const;   // m_YRes * u / m_YUnit

 protected:
  // Sends `len` bytes as one write-callback call (one command).
  void Write(const void* data, size_t len) const;

 public:
  uint16_t m_XUnit;       // horizontal command units per inch
  uint16_t m_YUnit;       // vertical command units per inch
  uint16_t m_XRes;        // horizontal raster resolution, dpi
  uint16_t m_YRes;        // vertical raster resolution, dpi
  write_callback wr_cb;   // receives every command byte
  void* wr_hdl;           // first argument of wr_cb
};

// Appends `v` as two bytes, low byte first.
template <typename Bytes>
void PutLE16(Bytes& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

// Appends `v` as four bytes, low byte first.
template <typename Bytes>
void PutLE32(Bytes& out, uint32_t v) {
  PutLE16(out, v & 0xFFFF);
  PutLE16(out, v >> 16);
}

#endif  // QUILL_LIB_BANDS_PAGE_PROCESS_BASE_H_
