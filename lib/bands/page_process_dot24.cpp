#include "bands/page_process_dot24.h"

#include <algorithm>

#include "bands/bit_image_commands.h"
#include "support/log.h"

namespace {

constexpr uint16_t kDot24Unit = 360;        // command units per inch, both axes
constexpr uint16_t kDot24HeadHeight = 24;   // head height in command units, as constructed
constexpr uint16_t kInterlaceDpi = 360;     // from this vertical resolution on, bands interlace
constexpr uint16_t kPassRows = 24;          // rows of one head pass
constexpr uint16_t kPassBytes = 3;          // bytes per column of one head pass
constexpr uint16_t kInterlacedRows = 48;    // rows of an interlaced band
constexpr uint32_t kInterlaceStepRows = 2;  // feed between the even and the odd pass
constexpr uint32_t kInterlaceRestRows = kInterlacedRows - kInterlaceStepRows;
constexpr uint32_t kMaxColumns = 0xFFFF;    // 16-bit column counts and positions
constexpr uint32_t kMaxBridgedGap = 9;      // blank columns sent as data between inked ones

constexpr uint8_t kBlack = 0;        // ESC r colour of the first plane
constexpr uint8_t kSecondColor = 1;  // ESC r colour of the second plane

// ESC * density by h = x unit / x resolution; the 60-dpi vertical modes
// (v = 6) are the 8-dot ones.
struct DensityEntry {
  uint32_t h;
  uint8_t mode;
};
constexpr DensityEntry kDensities[] = {{1, 40}, {3, 33}, {4, 38}, {6, 32}};
constexpr uint8_t kDefaultDensity = 39;
constexpr uint32_t kEightDotV = 6;
constexpr uint8_t kEightDotSingle = 0;  // h = 6
constexpr uint8_t kEightDotOther = 2;

// ESC ( U 01 00 0A (unit 10/3600 inch), a 00 byte, ESC ( C 02 00 nL nH.
bit_image::Command PageFormat(uint32_t page_length) {
  bit_image::Command c{0x1B, 0x28, 0x55, 0x01, 0x00, 0x0A, 0x00, 0x1B, 0x28, 0x43, 0x02, 0x00};
  PutLE16(c, page_length);
  return c;
}

// ESC r n: ribbon colour.
bit_image::Command SelectColorCommand(uint8_t color) { return {0x1B, 0x72, color}; }

uint32_t Ratio(uint32_t unit, uint32_t res) { return res == 0 ? 0 : unit / res; }

// Puts back the fields a band routine borrows, also on an early exit.
class BandFieldsGuard {
 public:
  explicit BandFieldsGuard(PageProcessDot24& p)
      : p_(p), width_(p.m_Width), buf_(p.m_pBandBuf), bytes_(p.m_BandHeightByte) {}
  ~BandFieldsGuard() {
    p_.m_Width = width_;
    p_.m_pBandBuf = buf_;
    p_.m_BandHeightByte = bytes_;
  }
  BandFieldsGuard(const BandFieldsGuard&) = delete;
  BandFieldsGuard& operator=(const BandFieldsGuard&) = delete;

 private:
  PageProcessDot24& p_;
  uint32_t width_;
  uint8_t* buf_;
  uint16_t bytes_;
};

}  // namespace

std::vector<PIECE> SplitPieces(const uint8_t* band, uint32_t content_width,
                               uint16_t column_bytes) {
  std::vector<uint8_t> inked(content_width);
  for (uint32_t c = 0; c < content_width; ++c) {
    inked[c] = bit_image::ColumnInked(band, column_bytes, c) ? 1 : 0;
  }

  // Bridge short gaps: an inked column followed by blanks looks for the
  // next inked column within kMaxBridgedGap + 1 columns.
  uint32_t j = 0;
  while (j < content_width) {
    if (inked[j] == 0 || j + 1 >= content_width || inked[j + 1] != 0) {
      ++j;
      continue;
    }
    const uint32_t limit = std::min(j + kMaxBridgedGap + 1, content_width - 1);
    uint32_t k = j + 2;
    while (k <= limit && inked[k] == 0) ++k;
    if (k <= limit) {
      std::fill(inked.begin() + j + 1, inked.begin() + k, 1);
      j = k;
    } else {
      j += kMaxBridgedGap + 2;
    }
  }

  std::vector<PIECE> pieces;
  uint32_t start = 0;
  while (start < content_width) {
    uint32_t end = start + 1;
    while (end < content_width && inked[end] == inked[start]) ++end;
    pieces.push_back(PIECE{start, end - start, inked[start] != 0});
    start = end;
  }
  return pieces;
}

void interlace_buffer(const uint8_t* in_buf, size_t out_len, uint8_t* out_buf1,
                      uint8_t* out_buf2) {
  // Gathers the bits of one parity: bits 7, 5, 3, 1 (or 6, 4, 2, 0) of a
  // byte into a nibble, top row first.
  auto even_nibble = [](uint8_t b) {
    return static_cast<uint8_t>(((b >> 4) & 0x08) | ((b >> 3) & 0x04) | ((b >> 2) & 0x02) |
                                ((b >> 1) & 0x01));
  };
  auto odd_nibble = [&](uint8_t b) { return even_nibble(static_cast<uint8_t>(b << 1)); };
  for (size_t i = 0; i < out_len; ++i) {
    const uint8_t u = in_buf[2 * i];
    const uint8_t w = in_buf[2 * i + 1];
    if (out_buf1 != nullptr) {
      out_buf1[i] = static_cast<uint8_t>((even_nibble(u) << 4) | even_nibble(w));
    }
    if (out_buf2 != nullptr) {
      out_buf2[i] = static_cast<uint8_t>((odd_nibble(u) << 4) | odd_nibble(w));
    }
  }
}

PageProcessDot24::PageProcessDot24(uint16_t XRes, uint16_t YRes, uint32_t Width,
                                   uint32_t PageLength, write_callback WriteCallback,
                                   void* WriteHandle)
    : PageProcessInk1(kDot24Unit, kDot24Unit, XRes, YRes, Width, PageLength, kDot24HeadHeight,
                      WriteCallback, WriteHandle) {
  m_UseLocPos = false;
  m_DualColor = false;
  const bool interlaced = YRes >= kInterlaceDpi;
  SetBandHeight(interlaced ? kInterlacedRows : kPassRows);
  if (interlaced) {
    m_PassA.assign(std::max<size_t>(m_BandBufSize / 2, 1), 0);
    m_PassB.assign(std::max<size_t>(m_BandBufSize / 2, 1), 0);
  }
}

uint8_t PageProcessDot24::BitImageMode() const {
  const uint32_t h = Ratio(m_XUnit, m_XRes);
  const uint32_t v = Ratio(m_YUnit, m_YRes);
  if (v == kEightDotV) return h == 6 ? kEightDotSingle : kEightDotOther;
  for (const DensityEntry& e : kDensities) {
    if (e.h == h) return e.mode;
  }
  return kDefaultDensity;
}

void PageProcessDot24::StartPage() {
  if (m_PageLength != 0) {
    const bit_image::Command format = PageFormat(m_PageLength);
    Write(format.data(), format.size());
  }
  m_CurScanLine = 0;
}

void PageProcessDot24::OutputFeedGfx(uint32_t Length) {
  OutputFeed(m_YRes < kInterlaceDpi ? Length : Length / 2);
}

void PageProcessDot24::SelectColor(uint8_t color) {
  const bit_image::Command c = SelectColorCommand(color);
  Write(c.data(), c.size());
}

void PageProcessDot24::OutputBand(bool AutoFeed) {
  // The band geometry was chosen from m_YRes by the constructor; a band that
  // is not 48 rows deep (m_YRes changed afterwards) cannot be split into two
  // 24-pin passes and goes out as it is.
  const bool interlaced = m_YRes >= kInterlaceDpi && m_BandHeightByte == 2 * kPassBytes;
  if (interlaced) {
    OutputInterlaced(m_DualColor);
    return;
  }
  if (!m_DualColor) {
    OutputBand2(AutoFeed);
    return;
  }
  BandFieldsGuard guard(*this);
  const uint32_t half = m_Width / 2;
  SelectColor(kBlack);
  m_Width = half;
  OutputBand2(false);
  SelectColor(kSecondColor);
  m_pBandBuf += static_cast<size_t>(m_BandHeightByte) * half;
  OutputBand2(AutoFeed);
}

void PageProcessDot24::OutputInterlaced(bool dual) {
  BandFieldsGuard guard(*this);
  m_BandHeightByte = kPassBytes;
  const size_t pass_len = m_BandBufSize / 2;
  if (m_PassA.size() < pass_len) m_PassA.assign(pass_len, 0);
  if (m_PassB.size() < pass_len) m_PassB.assign(pass_len, 0);
  interlace_buffer(m_pBandBuf, pass_len, m_PassA.data(), m_PassB.data());
  const uint32_t half = m_Width / 2;
  const size_t second_plane = static_cast<size_t>(kPassBytes) * half;

  // One pass, per colour when dual.
  auto pass = [&](uint8_t* data) {
    if (!dual) {
      m_pBandBuf = data;
      OutputBand2(false);
      return;
    }
    m_Width = half;
    SelectColor(kBlack);
    m_pBandBuf = data;
    OutputBand2(false);
    SelectColor(kSecondColor);
    m_pBandBuf = data + second_plane;
    OutputBand2(false);
  };
  pass(m_PassA.data());
  OutputFeedGfx(kInterlaceStepRows);
  pass(m_PassB.data());
  OutputFeedGfx(kInterlaceRestRows);
}

void PageProcessDot24::OutputBand2(bool AutoFeed) {
  uint32_t content_width = CalcContentWidth(m_pBandBuf, m_Width, m_BandHeightByte);
  quill_log::Debug("OutputBand:ContentWidth=%u", content_width);
  if (content_width > kMaxColumns) {
    // Column counts are 16-bit: cut the band rather than send a wrapped count.
    quill_log::Warning("band of %u columns cut to %u columns", content_width, kMaxColumns);
    content_width = CalcContentWidth(m_pBandBuf, kMaxColumns, m_BandHeightByte);
  }
  if (content_width != 0) {
    if (m_UseLocPos) {
      for (const PIECE& piece : SplitPieces(m_pBandBuf, content_width, m_BandHeightByte)) {
        if (piece.dirty) SendColumns(piece.start, piece.len, true);
      }
    } else {
      SendColumns(0, content_width, false);
    }
    const bit_image::Command cr = bit_image::CarriageReturn();
    Write(cr.data(), cr.size());
  }
  if (AutoFeed) OutputFeedGfx(BandLines());
}

void PageProcessDot24::SendColumns(uint32_t first, uint32_t count, bool positioned) {
  if (positioned) {
    const uint64_t position = m_XRes == 0 ? 0 : uint64_t{m_XUnit} * first / m_XRes;
    if (position > kMaxColumns) {
      quill_log::Warning("band piece at column %u lies beyond the position range", first);
      return;
    }
    const bit_image::Command pos = bit_image::HorizontalPosition(static_cast<uint32_t>(position));
    Write(pos.data(), pos.size());
  }
  const bit_image::Command header = bit_image::BitImageHeader(BitImageMode(), count);
  Write(header.data(), header.size());
  Write(m_pBandBuf + static_cast<size_t>(first) * m_BandHeightByte,
        static_cast<size_t>(count) * m_BandHeightByte);
}
