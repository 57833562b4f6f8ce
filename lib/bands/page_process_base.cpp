#include "bands/page_process_base.h"

PageProcessBase::PageProcessBase(uint16_t XUnit, uint16_t YUnit, uint16_t XRes, uint16_t YRes,
                                 write_callback WriteCallback, void* WriteHandle)
    : m_XUnit(XUnit),
      m_YUnit(YUnit),
      m_XRes(XRes),
      m_YRes(YRes),
      wr_cb(WriteCallback),
      wr_hdl(WriteHandle) {}

namespace {

// A zero unit or resolution from a host must not end its process with a
// division fault; such a mapping yields 0.
uint32_t ScaleDiv(uint32_t num, uint32_t value, uint32_t den) {
  return den == 0 ? 0 : num * value / den;
}

}  // namespace

uint32_t PageProcessBase::MapGfxToUnitX(uint16_t x) const { return ScaleDiv(m_XUnit, x, m_XRes); }

uint32_t PageProcessBase::MapGfxToUnitY(uint32_t y) const { return ScaleDiv(m_YUnit, y, m_YRes); }

uint32_t PageProcessBase::MapUnitYToGfx(uint16_t u) const { return ScaleDiv(m_YRes, u, m_YUnit); }

void PageProcessBase::Write(const void* data, size_t len) const {
  if (wr_cb != nullptr) wr_cb(wr_hdl, data, static_cast<unsigned int>(len));
}
