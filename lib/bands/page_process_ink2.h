// page_process_ink2.h - page generator of inkjets that take a page language.
//
// Every page is a block of binary page-setup commands (page flag, duplex,
// resolution, size, compression, quality, grey mode, copies, data length)
// followed by the page image as one token-deflate raster object, cut into
// text-framed data blocks "RasterObject.Data#<n>=<n bytes>;" of at most
// 32768 bytes, and a form feed. The raster is taken as the host gave it
// (1, 4, 8, 24 or 32 bits per pixel): grey mode sends one ink plane
// (255 - luma), colour mode three planes (255 - R, G, B) with the encoder's
// defaults otherwise.
//
// One object serves one page: construct, assign the settings, StartPage,
// SendPage(raster), EndPage, destroy. The encoder's output reaches the
// object that started it through the encoder's context pointer, so any
// number of generators may live in one process; each encodes one page at a
// time, on the caller's thread. m_This and the context-free CompressCallback
// remain for hosts that drive an encoder of their own into the most
// recently constructed generator.
#ifndef QUILL_LIB_BANDS_PAGE_PROCESS_INK2_H_
#define QUILL_LIB_BANDS_PAGE_PROCESS_INK2_H_

#include <cstdint>
#include <sstream>
#include <string>

#include "bands/page_process_base.h"

// Print-quality codes of the page language, sent as they are.
enum Ink2Quality : uint8_t {
  QUALITY_DRAFT = 0,
  QUALITY_NORMAL1 = 1,
  QUALITY_NORMAL2 = 2,
  QUALITY_HIGH = 3,
};

class PageProcessInk2 : public PageProcessBase {
 public:
  // Largest data block of the raster object.
  static constexpr uint32_t kBlockSize = 32768;

  // XRes and YRes are the page raster's resolution; Width and Height its
  // size in pixels, sent in the width and height commands (low 16 bits).
  // A null WriteCallback discards the output.
  // Makes the new object m_This.
  PageProcessInk2(uint16_t XUnit, uint16_t YUnit, uint16_t XRes, uint16_t YRes, uint32_t Width,
                  uint32_t Height, write_callback WriteCallback, void* WriteHandle);
  // Clears m_This when it is this object, so it never points at a dead one.
  ~PageProcessInk2() override;

  // Sends nothing: the page commands go with the page data.
  void StartPage() override;
  // Form feed, 1B 0C.
  void EndPage() override;

  // Sends the page commands with a data length of header_len + body_len +
  // footer_len, then each nonempty range as one write. Pointers may be null
  // when their length is 0. Returns -1 (the ranges are no raster page).
  virtual int SendPage(const uint8_t* header, uint32_t header_len, const uint8_t* body,
                       uint32_t body_len, const uint8_t* footer, uint32_t footer_len);
  // Sends the page commands (data length 0) and the page as a raster object
  // in data blocks. In colour mode with m_RedBlack, a raster of 24 or 32
  // bits is first rewritten in place (every pixel that is not red becomes
  // grey); shallower rasters are converted on the fly and left as they are.
  // Nothing else is written to the caller's pixels; with m_Turn180 the page
  // is read turned by 180 degrees. Returns 0, also when the encoder cannot
  // be created (warning "failed to create dcraster", nothing sent); -1
  // without output for a null raster, missing pixels or a pitch shorter
  // than a row.
  virtual int SendPage(const RASTER_INFO* raster);

  // The encoder's output callback of SendPage: appends to the
  // m_CompressBuffer of the PageProcessInk2 passed as context.
  static void CompressCallback(void* context, int size, unsigned char* data);
  // Context-free form for dcraster_create: appends to m_This's buffer
  // (nothing when there is no live generator).
  static void CompressCallback(int size, unsigned char* data);
  // Sends the collected raster object in data blocks: every full block in
  // one write, then (unless no_flush) the remainder as one last block, also
  // when it is empty, and empties the buffer. With no_flush the unsent
  // remainder stays buffered for a later call.
  void DoBufferedOutput(bool no_flush);

  uint32_t m_Width;              // page width in pixels, as constructed
  uint32_t m_Height;             // page height in pixels, as constructed
  bool m_IsLastPage = true;      // last page of the document (page flag 00)
  uint8_t m_Quality = QUALITY_DRAFT;  // Ink2Quality code
  bool m_UseGrey = false;        // one grey plane instead of three colour planes
  static PageProcessInk2* m_This;  // most recently constructed live generator
  std::ostringstream m_CompressBuffer;  // the encoded raster object of the current page
  bool m_IsFirstPage = false;    // first page of the document; for the caller only
  bool m_Collate = false;        // collated copies
  uint16_t m_Copies = 0;         // copies the printer makes of the page
  uint8_t m_Duplex = 0;          // DUPLEX_NONE, DUPLEX_HORIZONTAL, DUPLEX_VERTICAL
  bool m_RedBlack = false;       // colour mode: keep red, make every other colour grey
  bool m_Turn180 = false;        // read the raster turned by 180 degrees (back sides
                                 // whose pixels cannot be turned in place)
};

// The red test of the red/black mode, on 8-bit R, G, B: hue below 15 or
// above 330 degrees, value above 0.6 and saturation above 0.2.
bool Ink2IsRed(uint8_t r, uint8_t g, uint8_t b);

// True when every row of the raster can be read: pixels present and the
// pitch at least as long as a row of pixels. Logs a warning otherwise.
bool Ink2RasterReadable(const RASTER_INFO& raster);

// Integer luma with weights 0.299, 0.587, 0.114 in 20-bit fixed point.
inline uint8_t Ink2Luma(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint8_t>((r * 313524u + g * 615514u + b * 119538u) >> 20);
}

#endif  // QUILL_LIB_BANDS_PAGE_PROCESS_INK2_H_
