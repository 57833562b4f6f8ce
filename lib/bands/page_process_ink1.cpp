#include "bands/page_process_ink1.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>

#include "support/log.h"

namespace {

// The most lines m_VByte (8 bits) and m_VBit can count in one band.
constexpr uint32_t kMaxBandLines = 2040;

// Largest single feed of the feed command.
constexpr uint32_t kMaxFeedStep = 255;

// Carriage width the left margin centres the image on, in tenths of an inch.
constexpr uint32_t kCarriageTenthsOfInch = 85;

// Bytes of one printer command, built on the stack.
struct Command {
  std::array<uint8_t, 8> bytes{};
  size_t size = 0;
  void push_back(uint8_t b) { bytes[size++] = b; }
};

Command Cmd(std::initializer_list<uint8_t> prefix) {
  Command c;
  for (uint8_t b : prefix) c.push_back(b);
  return c;
}

// 1B 28 43 02 00 nL nH: page length in vertical units.
Command EscPageLength(uint32_t units) {
  Command c = Cmd({0x1B, 0x28, 0x43, 0x02, 0x00});
  PutLE16(c, units);
  return c;
}

// 1B 26 6C 4C f: f = 00 for the last page of the document, 01 otherwise.
Command EscPageFlag(bool last) { return Cmd({0x1B, 0x26, 0x6C, 0x4C, last ? uint8_t{0} : uint8_t{1}}); }

// 1B 26 61 4C nL nH: left margin in horizontal units.
Command EscLeftMargin(uint32_t units) {
  Command c = Cmd({0x1B, 0x26, 0x61, 0x4C});
  PutLE16(c, units);
  return c;
}

// 1B 2A m nL nH: header of a band graphics command of n columns.
Command EscGraphics(uint8_t mode, uint32_t columns) {
  Command c = Cmd({0x1B, 0x2A, mode});
  PutLE16(c, columns);
  return c;
}

// 1B 24 nL nH: horizontal position in horizontal units.
Command EscPosition(uint32_t units) {
  Command c = Cmd({0x1B, 0x24});
  PutLE16(c, units);
  return c;
}

// 0D: carriage return.
Command CarriageReturn() { return Cmd({0x0D}); }

// 1B 4A n: feed by n vertical units.
Command EscFeed(uint8_t n) { return Cmd({0x1B, 0x4A, n}); }

// 1B 55 d: d = 01 unidirectional, 00 bidirectional.
Command EscDirection(bool unidirectional) {
  return Cmd({0x1B, 0x55, unidirectional ? uint8_t{1} : uint8_t{0}});
}

// 0C: form feed.
Command FormFeed() { return Cmd({0x0C}); }

// Graphics mode byte by the ratios ry = YUnit / YRes and rx = XUnit / XRes;
// the first matching row wins, kAnyRatio matches every ratio.
constexpr uint32_t kAnyRatio = std::numeric_limits<uint32_t>::max();
struct ModeRow {
  uint32_t ry;
  uint32_t rx;
  uint8_t mode;
};
constexpr ModeRow kGraphicsModes[] = {
    {1, 2, 3},         {1, kAnyRatio, 2},         {4, 2, 7},
    {4, 8, 5},         {4, kAnyRatio, 0},         {8, kAnyRatio, 6},
    {kAnyRatio, 4, 4}, {kAnyRatio, 8, 8},         {kAnyRatio, kAnyRatio, 1},
};

// Integer ratio; a zero resolution gives 0 (which matches no listed ratio)
// instead of a division fault.
uint32_t Ratio(uint32_t unit, uint32_t res) { return res == 0 ? 0 : unit / res; }

uint8_t GraphicsMode(uint32_t ry, uint32_t rx) {
  for (const ModeRow& row : kGraphicsModes) {
    if ((row.ry == kAnyRatio || row.ry == ry) && (row.rx == kAnyRatio || row.rx == rx)) return row.mode;
  }
  return 1;  // unreachable: the last row matches everything
}

uint32_t ClampBandLines(uint32_t lines) {
  if (lines == 0) {
    quill_log::Warning("head height maps to no raster line; printing one line per band");
    return 1;
  }
  if (lines > kMaxBandLines) {
    quill_log::Warning("band of %u lines reduced to %u lines", lines, kMaxBandLines);
    return kMaxBandLines;
  }
  return lines;
}

// Zeroed buffer of width * bytes_per_column bytes; sizes beyond 32 bits
// cannot be described by m_BandBufSize and fail like an allocation.
std::unique_ptr<uint8_t[]> AllocBand(uint32_t width, uint32_t bytes_per_column, uint32_t* size) {
  const uint64_t bytes = uint64_t{width} * bytes_per_column;
  if (bytes > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
  *size = static_cast<uint32_t>(bytes);
  return std::make_unique<uint8_t[]>(bytes == 0 ? 1 : bytes);
}

bool AllZero(const uint8_t* p, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w != 0) return false;
  }
  for (; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

// Eight line bytes as one word with the first byte (the leftmost columns)
// in the most significant position.
inline uint64_t LoadColumnsMsbFirst(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}

// ORs `vbit` into the column byte at `col` (stride `bhb` bytes) of every
// column whose bit is set in `bits`; column k of the word is bit 63 - k.
// Only the dots are visited; clearing the lowest one (bits & (bits - 1))
// keeps the loop's dependency chain one instruction long.
inline void MergeWord(uint64_t bits, uint8_t* col, size_t bhb, uint8_t vbit) {
  while (bits != 0) {
    col[static_cast<size_t>(63 - __builtin_ctzll(bits)) * bhb] |= vbit;
    bits &= bits - 1;
  }
}

// The merge step of OutputLine: ORs `vbit` into byte `vbyte` of every column
// c < width of `band` (column c at c * bhb) whose pixel is set in `line`
// (MSB first). Bits of the line beyond `width` are ignored.
void MergeLine(const uint8_t* line, uint32_t width, uint8_t* band, size_t bhb, uint32_t vbyte,
               uint8_t vbit) {
  uint8_t* const base = band + vbyte;
  const uint32_t full_bytes = width / 8;  // line bytes whose 8 columns all exist
  uint32_t p = 0;
  for (; p + 8 <= full_bytes; p += 8) {
    const uint64_t bits = LoadColumnsMsbFirst(line + p);
    if (bits != 0) MergeWord(bits, base + size_t{p} * 8 * bhb, bhb, vbit);
  }
  for (; p < full_bytes; ++p) {
    if (line[p] != 0) MergeWord(uint64_t{line[p]} << 56, base + size_t{p} * 8 * bhb, bhb, vbit);
  }
  if (width % 8 != 0) {
    const uint8_t last = static_cast<uint8_t>(line[p] & (0xFF00 >> (width % 8)));
    if (last != 0) MergeWord(uint64_t{last} << 56, base + size_t{p} * 8 * bhb, bhb, vbit);
  }
}

}  // namespace

PageProcessInk1::PageProcessInk1(uint16_t XUnit, uint16_t YUnit, uint16_t XRes, uint16_t YRes,
                                 uint32_t Width, uint32_t PageLength, uint16_t HeadHeight,
                                 write_callback WriteCallback, void* WriteHandle)
    : PageProcessBase(XUnit, YUnit, XRes, YRes, WriteCallback, WriteHandle),
      m_Width(Width),
      m_PageLength(PageLength),
      m_FeedStride(HeadHeight),
      m_BandHeight(0),
      m_BandHeightByte(0),
      m_VBit(0x80),
      m_VByte(0),
      m_pBandBuf(nullptr),
      m_BandBufSize(0),
      m_CurScanLine(0),
      m_IsLastPage(true),
      m_NoUseEject(false),
      m_UseLocPos(false) {
  SetBandHeight(MapUnitYToGfx(HeadHeight));
}

PageProcessInk1::~PageProcessInk1() = default;

void PageProcessInk1::SetBandHeight(uint32_t BandHeight) {
  const uint32_t lines = ClampBandLines(BandHeight);
  const uint32_t bytes_per_column = (lines + 7) / 8;
  uint32_t size = 0;
  std::unique_ptr<uint8_t[]> store = AllocBand(m_Width, bytes_per_column, &size);
  m_BandStore = std::move(store);
  m_pBandBuf = m_BandStore.get();
  m_BandBufSize = size;
  m_BandHeight = static_cast<uint16_t>(lines);
  m_BandHeightByte = static_cast<uint16_t>(bytes_per_column);
  m_VBit = 0x80;
  m_VByte = 0;
}

void PageProcessInk1::StartPage() {
  if (m_PageLength >= 1 && m_PageLength <= 0xFFFF) {
    const Command c = EscPageLength(m_PageLength);
    Write(c.bytes.data(), c.size);
  }
  if (m_IsLastPage) {
    quill_log::Debug("last page");
  } else {
    quill_log::Debug("middle page");
  }
  const Command flag = EscPageFlag(m_IsLastPage);
  Write(flag.bytes.data(), flag.size);
  m_CurScanLine = 0;

  // Centre the printed image (not the whole line, which may hold several
  // planes side by side) on the carriage.
  const uint64_t width = PrintedWidth();
  const int64_t carriage = int64_t{m_XUnit} * kCarriageTenthsOfInch / 10;
  const int64_t image = m_XRes == 0 ? 0 : static_cast<int64_t>(uint64_t{m_XUnit} * width / m_XRes);
  int64_t margin = (carriage - image) >> 1;
  if (margin < 0) margin = 0;
  // The command holds 16 bits; a larger margin (only with absurd units) is
  // sent as the largest one rather than wrapped around.
  if (margin > 0xFFFF) margin = 0xFFFF;
  quill_log::Debug("left margin: %d", static_cast<int>(margin));
  const Command c = EscLeftMargin(static_cast<uint32_t>(margin));
  Write(c.bytes.data(), c.size);
}

uint32_t PageProcessInk1::PrintedWidth() const { return m_Width; }

void PageProcessInk1::EndPage() {
  FlushLines(true);
  quill_log::Debug("page content height=%u/%u[%u|%u]", m_CurScanLine, m_PageLength,
                   unsigned{m_YRes}, unsigned{m_YUnit});
  if (m_PageLength == 0 || m_CurScanLine >= m_PageLength) return;
  if (m_NoUseEject) {
    quill_log::Debug("feed to bottom");
    OutputFeed(m_PageLength - m_CurScanLine);
  } else {
    quill_log::Debug("eject page");
    const Command c = FormFeed();
    Write(c.bytes.data(), c.size);
  }
}

void PageProcessInk1::OutputLine(const void* pBuf, bool AutoFeed) {
  if (pBuf != nullptr && m_pBandBuf != nullptr && m_VByte < m_BandHeightByte) {
    MergeLine(static_cast<const uint8_t*>(pBuf), m_Width, m_pBandBuf, m_BandHeightByte, m_VByte,
              m_VBit);
  }
  if (m_VBit == 0x01) {
    m_VBit = 0x80;
    ++m_VByte;
  } else {
    m_VBit = static_cast<uint8_t>(m_VBit >> 1);
  }
  const bool full = (m_BandHeight % 8 == 0)
                        ? m_VByte == m_BandHeightByte
                        : m_VByte == m_BandHeightByte - 1 && m_VBit == (0x80 >> (m_BandHeight % 8));
  if (full) {
    OutputBand(AutoFeed);
    m_VBit = 0x80;
    m_VByte = 0;
    if (m_pBandBuf != nullptr) std::memset(m_pBandBuf, 0, m_BandBufSize);
  }
}

void PageProcessInk1::FlushLines(bool AutoFeed) {
  if (m_VByte != 0 || m_VBit != 0x80) OutputBand(AutoFeed);
  Init();
}

void PageProcessInk1::Init() {
  if (m_pBandBuf != nullptr) std::memset(m_pBandBuf, 0, m_BandBufSize);
  m_VBit = 0x80;
  m_VByte = 0;
}

void PageProcessInk1::OutputFeed(uint32_t Length) {
  quill_log::Debug("feed %u", Length);
  if (Length == 0) {
    const Command c = EscFeed(0);
    Write(c.bytes.data(), c.size);
    return;
  }
  m_CurScanLine += Length;
  uint32_t rest = Length;
  while (rest > 0) {
    const uint32_t step = std::min(rest, kMaxFeedStep);
    const Command c = EscFeed(static_cast<uint8_t>(step));
    Write(c.bytes.data(), c.size);
    rest -= step;
  }
}

void PageProcessInk1::OutputFeedGfx(uint32_t Length) { OutputFeed(MapGfxToUnitY(Length)); }

void PageProcessInk1::OutputDirection(int Dir) {
  const Command c = EscDirection(Dir != 0);
  Write(c.bytes.data(), c.size);
}

void PageProcessInk1::OutputBand(bool AutoFeed) { OutputBandInk1(AutoFeed); }

uint32_t PageProcessInk1::BandLines() const {
  uint32_t above = 0;  // bits above m_VBit in its byte
  for (uint8_t bit = m_VBit; bit != 0x80 && bit != 0; bit = static_cast<uint8_t>(bit << 1)) ++above;
  return 8u * m_VByte + above;
}

uint32_t PageProcessInk1::CalcContentWidth(const uint8_t* pBandBuf, uint32_t Width,
                                           uint16_t BandHeightByte) {
  const uint64_t size = uint64_t{Width} * BandHeightByte;
  if (size == 0) return Width;
  // Scan backwards for the last nonzero byte, a word at a time.
  uint64_t end = size;
  while (end >= 8) {
    uint64_t w;
    std::memcpy(&w, pBandBuf + end - 8, 8);
    if (w != 0) break;
    end -= 8;
  }
  while (end > 0 && pBandBuf[end - 1] == 0) --end;
  if (end == 0) return 0;
  return static_cast<uint32_t>((end - 1) / BandHeightByte + 1);
}

bool PageProcessInk1::ColumnBlank(uint32_t c) const {
  return AllZero(m_pBandBuf + uint64_t{c} * m_BandHeightByte, m_BandHeightByte);
}

void PageProcessInk1::SendColumns(uint8_t mode, uint32_t first, uint32_t count, bool positioned) {
  if (positioned) {
    const uint32_t units = MapGfxToUnitX(static_cast<uint16_t>(first));
    if (units > 0xFFFF) {
      // Only reachable with command units far finer than the raster.
      quill_log::Warning("band segment at column %u lies beyond the position range", first);
      return;
    }
    const Command pos = EscPosition(units);
    Write(pos.bytes.data(), pos.size);
  }
  const Command head = EscGraphics(mode, count);
  Write(head.bytes.data(), head.size);
  Write(m_pBandBuf + uint64_t{first} * m_BandHeightByte, size_t{count} * m_BandHeightByte);
}

void PageProcessInk1::SendSegments(uint8_t mode, uint32_t content) {
  const uint32_t gap = m_XRes / 10;  // blank columns that split a segment
  uint32_t c = 0;
  for (;;) {
    while (c < content && ColumnBlank(c)) ++c;  // column content - 1 has a dot
    if (c >= content) return;
    const uint32_t start = c;
    if (start == content - 1) {
      SendColumns(mode, start, 1, true);
      return;
    }
    uint32_t i = start + 1;
    for (;;) {
      // Blank columns from i on, counted up to the gap size.
      uint32_t run = 0;
      while (run < gap && i + run < content && ColumnBlank(i + run)) ++run;
      if (content - i >= gap && run >= gap) {
        SendColumns(mode, start, i - start, true);
        c = i + gap;
        break;
      }
      if (i == content - 1) {
        SendColumns(mode, start, content - start, true);
        return;
      }
      // The blank columns i .. i + run - 1 are followed by a dot before
      // the end: no gap can start inside them.
      i += std::max<uint32_t>(run, 1);
    }
  }
}

void PageProcessInk1::OutputBandInk1(bool AutoFeed) {
  uint32_t content = CalcContentWidth(m_pBandBuf, m_Width, m_BandHeightByte);
  if (content > 0xFFFF) {
    // Column counts and positions are 16-bit: a band wider than that cannot
    // be described, so it is cut rather than sent with a wrapped count.
    quill_log::Warning("band of %u columns cut to %u columns", content, 0xFFFFu);
    content = CalcContentWidth(m_pBandBuf, 0xFFFF, m_BandHeightByte);
  }
  if (content > 0) {
    const uint8_t mode = GraphicsMode(Ratio(m_YUnit, m_YRes), Ratio(m_XUnit, m_XRes));
    if (m_UseLocPos) {
      SendSegments(mode, content);
    } else {
      SendColumns(mode, 0, content, false);
    }
    const Command cr = CarriageReturn();
    Write(cr.bytes.data(), cr.size);
  }
  if (AutoFeed) OutputFeedGfx(BandLines());
}
