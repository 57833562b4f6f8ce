#include "bands/page_process_ink3.h"

namespace {

// 1B 72 c: selects the colour of the following graphics, 00 black, 01 red.
struct ColourCommand {
  uint8_t bytes[3];
};
ColourCommand EscColour(uint8_t colour) { return ColourCommand{{0x1B, 0x72, colour}}; }

// 1B 4A 00: the zero feed that separates the two passes of a duplicated red.
constexpr uint8_t kZeroFeed[] = {0x1B, 0x4A, 0x00};

constexpr uint8_t kBlack = 0;
constexpr uint8_t kRed = 1;

}  // namespace

PageProcessInk3::PageProcessInk3(uint16_t XUnit, uint16_t YUnit, uint16_t XRes, uint16_t YRes,
                                 uint32_t Width, uint32_t PageLength, uint16_t HeadHeight,
                                 write_callback WriteCallback, void* WriteHandle)
    : PageProcessInk1(XUnit, YUnit, XRes, YRes, Width, PageLength, HeadHeight, WriteCallback,
                      WriteHandle),
      m_SwapRedBlack(false),
      m_DupRed(false) {}

void PageProcessInk3::SendPass(uint8_t colour, uint8_t* plane, bool AutoFeed) {
  const ColourCommand c = EscColour(colour);
  Write(c.bytes, sizeof c.bytes);
  m_pBandBuf = plane;
  OutputBandInk1(AutoFeed);
}

uint32_t PageProcessInk3::PrintedWidth() const { return m_Width / 2; }

void PageProcessInk3::OutputBand(bool AutoFeed) {
  const uint32_t saved_width = m_Width;
  uint8_t* const saved_buf = m_pBandBuf;
  const uint32_t half = m_Width / 2;
  uint8_t* const first = m_pBandBuf;
  uint8_t* const second = m_pBandBuf + uint64_t{half} * m_BandHeightByte;
  m_Width = half;
  uint8_t* const colour0 = m_SwapRedBlack ? second : first;
  uint8_t* const colour1 = m_SwapRedBlack ? first : second;

  SendPass(kBlack, colour0, false);
  if (m_DupRed) {
    SendPass(kRed, colour1, false);
    Write(kZeroFeed, sizeof kZeroFeed);
  }
  SendPass(kRed, colour1, AutoFeed);

  m_Width = saved_width;
  m_pBandBuf = saved_buf;
}
