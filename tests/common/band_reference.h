// band_reference.h - the plain bit-by-bit line packing of the band
// generators, kept as the oracle of their word-at-a-time merging.
#ifndef QUILL_TESTS_COMMON_BAND_REFERENCE_H_
#define QUILL_TESTS_COMMON_BAND_REFERENCE_H_

#include <cstdint>
#include <cstring>
#include <utility>

namespace quill_test {

// ORs `vbit` into byte `vbyte` of every column c < width of `band` (column
// c at c * bytes_per_column) whose pixel is set in `line` (MSB first).
inline void ReferencePackLine(const uint8_t* line, uint32_t width, uint8_t* band,
                              uint32_t bytes_per_column, uint8_t vbyte, uint8_t vbit) {
  for (uint32_t c = 0; c < width; ++c) {
    if (line[c / 8] & (0x80 >> (c % 8))) band[size_t{c} * bytes_per_column + vbyte] |= vbit;
  }
}

// A band generator (PageProcessInk1 or a class derived from it) whose
// OutputLine is the plain form: every line is merged bit by bit as it
// comes, and a full band is sent and emptied. Everything else is the
// product's.
template <typename Processor>
class ReferenceLines : public Processor {
 public:
  template <typename... Args>
  explicit ReferenceLines(Args&&... args) : Processor(std::forward<Args>(args)...) {}

  void OutputLine(const void* pBuf, bool AutoFeed) override {
    if (pBuf != nullptr) {
      ReferencePackLine(static_cast<const uint8_t*>(pBuf), this->m_Width, this->m_pBandBuf,
                        this->m_BandHeightByte, this->m_VByte, this->m_VBit);
    }
    if (this->m_VBit == 0x01) {
      this->m_VBit = 0x80;
      ++this->m_VByte;
    } else {
      this->m_VBit = static_cast<uint8_t>(this->m_VBit >> 1);
    }
    const uint32_t height = this->m_BandHeight;
    const bool full = height % 8 == 0
                          ? this->m_VByte == this->m_BandHeightByte
                          : this->m_VByte == this->m_BandHeightByte - 1 &&
                                this->m_VBit == (0x80 >> (height % 8));
    if (full) {
      this->OutputBand(AutoFeed);
      this->m_VBit = 0x80;
      this->m_VByte = 0;
      std::memset(this->m_pBandBuf, 0, this->m_BandBufSize);
    }
  }
};

}  // namespace quill_test

#endif  // QUILL_TESTS_COMMON_BAND_REFERENCE_H_
