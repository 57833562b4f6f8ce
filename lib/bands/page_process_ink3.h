// page_process_ink3.h - band generator of serial-head inkjets with black and
// red ink.
//
// Every line holds two planes side by side: the first m_Width / 2 pixels are
// the black plane, the rest the red plane. Bands are collected as for one
// ink and sent once per colour, each pass preceded by its colour selection.
#ifndef QUILL_LIB_BANDS_PAGE_PROCESS_INK3_H_
#define QUILL_LIB_BANDS_PAGE_PROCESS_INK3_H_

#include "bands/page_process_ink1.h"

class PageProcessInk3 : public PageProcessInk1 {
 public:
  // Width is the two-plane width (twice the plane width, which is even);
  // both flags start cleared.
  PageProcessInk3(uint16_t XUnit, uint16_t YUnit, uint16_t XRes, uint16_t YRes, uint32_t Width,
                  uint32_t PageLength, uint16_t HeadHeight, write_callback WriteCallback,
                  void* WriteHandle);

  // Colour 0 (black) pass, the optional duplicated colour 1 pass followed
  // by a zero feed, the colour 1 (red) pass, then one feed for the band
  // (with AutoFeed) by the lines it holds. Each pass is 1B 72 c and the
  // one-ink band output of its plane, positions counted from the plane's
  // own column 0; a blank plane sends only its colour selection. m_Width
  // and m_pBandBuf point at the plane during a pass and are restored.
  void OutputBand(bool AutoFeed) override;

  bool m_SwapRedBlack = false;  // colour 0 from the second half, colour 1 from the first
  bool m_DupRed = false;        // print the colour 1 pass twice

 protected:
  // One plane: m_Width / 2.
  uint32_t PrintedWidth() const override;

 private:
  // Selects `colour` and sends `plane` (m_Width already halved).
  void SendPass(uint8_t colour, uint8_t* plane, bool AutoFeed);
};

#endif  // QUILL_LIB_BANDS_PAGE_PROCESS_INK3_H_
