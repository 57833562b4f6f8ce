// dot_band.cpp - raster rows to bit-image bands or raster lines.
#include "dot_band.h"

#include <algorithm>
#include <cstring>

#include "dot_commands.h"
#include "dot_output.h"

namespace quilldot {
namespace {

constexpr unsigned kMaxFeedStep = 240;      // largest ESC J of a merged feed
constexpr long kMaxRelativeMove = 32767;    // ESC ( v takes a signed 16-bit value
constexpr unsigned kUnits3600 = 3600;       // raster steps are 1/3600 inch
constexpr int kThinningStep = 5;            // ystep of 720 dpi
constexpr uint8_t kPackBitsCompression = 1;

// Calls dot(x) for every dot of the row in Planes[0]: set bits (most
// significant first) of a 1-bit row, non-zero bytes otherwise.
template <typename DotFn>
void ForEachDot(const CUPS_PAGE_HEADER* header, const uint8_t* row, DotFn dot) {
  const unsigned width = header->cupsWidth;
  if (header->cupsBitsPerColor == 1) {
    const unsigned nbytes = (width + 7) / 8;
    for (unsigned i = 0; i < nbytes; ++i) {
      const uint8_t b = row[i];
      if (!b) continue;
      const unsigned x0 = i * 8;
      for (unsigned k = 0; k < 8 && x0 + k < width; ++k)
        if (b & (0x80 >> k)) dot(x0 + k);
    }
  } else {
    for (unsigned x = 0; x < width; ++x)
      if (row[x]) dot(x);
  }
}

bool AllZero(const uint8_t* p, size_t len) {
  return std::all_of(p, p + len, [](uint8_t b) { return b == 0; });
}

// Copies the filled byte of every column into byte `offset` of the band.
void StoreGroup(const CUPS_PAGE_HEADER* header, int offset) {
  const unsigned width = header->cupsWidth;
  uint8_t* band = LineBuffers[0];
  for (unsigned x = 0; x < width; ++x) band[x * DotBytes + offset] = CompBuffer[x];
}

// Interleaved: the even-row byte and the odd-row byte of every column go to
// byte `offset` of that column in the even and the odd half.
void StoreInterleavedPair(const CUPS_PAGE_HEADER* header, int offset) {
  const unsigned width = header->cupsWidth;
  const int half = DotBytes / 2;
  for (unsigned x = 0; x < width; ++x) {
    LineBuffers[0][x * half + offset] = CompBuffer[x];
    LineBuffers[1][x * half + offset] = CompBuffer[x + width];
  }
}

void ClearCompBuffer() { std::fill(CompBuffer.begin(), CompBuffer.end(), 0); }

void CollectRow(const CUPS_PAGE_HEADER* header) {
  uint8_t* comp = CompBuffer.data();
  const uint8_t bit = static_cast<uint8_t>(DotBit);
  ForEachDot(header, Planes[0], [&](unsigned x) { comp[x] |= bit; });
  if (DotBit == 1) {
    StoreGroup(header, EvenOffset);
    if (++EvenOffset == DotBytes) {
      OutputRows(header, 0);
      EvenOffset = 0;
    }
    ClearCompBuffer();
    DotBit = 128;
    GroupRow = 0;
    ++LineCount;
  } else {
    DotBit >>= 1;
    ++GroupRow;
  }
}

// Sixteen rows fill two bytes per column: even rows the first, odd rows the
// second, top row in bit 7 (bits 128,128,64,64,... then 8,8,4,4,...).
void CollectInterleavedRow(const CUPS_PAGE_HEADER* header) {
  const int row16 = (EvenOffset & 1) * 8 + GroupRow;
  uint8_t* comp = CompBuffer.data() + (row16 & 1) * header->cupsWidth;
  const uint8_t bit = static_cast<uint8_t>(DotBit);
  ForEachDot(header, Planes[0], [&](unsigned x) { comp[x] |= bit; });
  if (++GroupRow == 8) {
    GroupRow = 0;
    if (EvenOffset & 1) {
      StoreInterleavedPair(header, EvenOffset / 2);
      ClearCompBuffer();
    }
    ++LineCount;
    if (++EvenOffset == DotBytes) {
      OutputRows(header, 0);
      EvenOffset = 0;
    }
  }
  const int next16 = (EvenOffset & 1) * 8 + GroupRow;
  DotBit = 128 >> (next16 / 2);
}

void OutputRasterRow(const CUPS_PAGE_HEADER* header) {
  const int bytes = static_cast<int>(header->cupsBytesPerLine) / NumPlanes;
  const int ystep = static_cast<int>(kUnits3600 / header->HWResolution[1]);
  const int xstep = static_cast<int>(kUnits3600 / header->HWResolution[0]);
  for (int plane = 0; plane < NumPlanes; ++plane) {
    if (AllZero(Planes[plane], bytes)) continue;
    while (Feed > 0) {
      const long step = std::min(Feed, kMaxRelativeMove);
      Emit(EscRelativeVertical(static_cast<unsigned>(step)));
      Feed -= step;
    }
    CompressData(Planes[plane], bytes, plane, static_cast<int>(header->cupsCompression), xstep,
                 ystep);
  }
  ++Feed;
}

void FeedBlankBands(const CUPS_PAGE_HEADER* header) {
  const unsigned long long per_band = header->cupsRowStep && header->cupsRowFeed
                                          ? header->cupsRowStep + 0ULL + header->cupsRowFeed
                                          : header->cupsRowCount;
  unsigned long long feed = per_band * static_cast<unsigned long long>(BlankRowCnt);
  while (feed > kMaxFeedStep) {
    Emit(EscFeed(kMaxFeedStep));
    feed -= kMaxFeedStep;
  }
  Emit(EscFeed(static_cast<uint8_t>(feed)));
  BlankRowCnt = 0;
}

// Columns of a band up to the last one with ink (0 when blank);
// column_bytes bytes per column.
unsigned InkColumns(const uint8_t* band, unsigned width, unsigned column_bytes) {
  for (unsigned c = width; c > 0; --c)
    if (!AllZero(band + static_cast<size_t>(c - 1) * column_bytes, column_bytes)) return c;
  return 0;
}

// One pass of an interleaved band: the half is sent up to the end of the
// rightmost two-column window that holds ink, i.e. one column past the last
// inked column (never past the band).
void OutputInterleavedHalf(const CUPS_PAGE_HEADER* header, const uint8_t* half_band) {
  const unsigned width = header->cupsWidth;
  const unsigned half = static_cast<unsigned>(DotBytes / 2);
  const unsigned ink = InkColumns(half_band, width, half);
  if (!ink) return;
  const unsigned columns = std::min(ink + 1, width);
  OutputSection(header, 0, half_band, columns * half);
}

// Model 10: the band is walked in chunks of DotColumns columns; runs of
// chunks with ink become sections at their start column.
void OutputChunkedSections(const CUPS_PAGE_HEADER* header, const uint8_t* band) {
  const unsigned width = header->cupsWidth;
  const unsigned chunk = DotColumns > 0 ? static_cast<unsigned>(DotColumns) : width;
  bool pending = false;
  unsigned start = 0;
  for (unsigned col = 0; col < width; col += chunk) {
    const unsigned cols = std::min(chunk, width - col);
    const bool ink = !AllZero(band + static_cast<size_t>(col) * DotBytes,
                              static_cast<size_t>(cols) * DotBytes);
    if (ink) {
      if (!pending) start = col;
      pending = true;
    } else if (pending) {
      OutputSection(header, static_cast<int>(start), band + static_cast<size_t>(start) * DotBytes,
                    (col - start) * DotBytes);
      pending = false;
    }
  }
  if (pending)
    OutputSection(header, static_cast<int>(start), band + static_cast<size_t>(start) * DotBytes,
                  (width - start) * DotBytes);
}

}  // namespace

void OutputLine(const CUPS_PAGE_HEADER* header) {
  if (DotBytes == 0)
    OutputRasterRow(header);
  else if (Interleaved)
    CollectInterleavedRow(header);
  else
    CollectRow(header);
}

void OutputRows(const CUPS_PAGE_HEADER* header, int row) {
  const unsigned width = header->cupsWidth;
  const size_t len = static_cast<size_t>(DotBytes) * width;
  // row is always 0: the whole band buffer.
  uint8_t* band = BandBuffer.data();
  if (AllZero(band, len)) {
    ++BlankRowCnt;
    return;
  }
  if (BlankRowCnt > 0) FeedBlankBands(header);

  if (Model == kModelBands || Model == kModelBracketed) {
    if (!Interleaved) {
      const unsigned columns = InkColumns(band, width, static_cast<unsigned>(DotBytes));
      if (columns) OutputSection(header, 0, band, columns * DotBytes);
    } else {
      OutputInterleavedHalf(header, LineBuffers[0]);
      Emit(EscFeed(static_cast<uint8_t>(header->cupsRowStep)));
      OutputInterleavedHalf(header, LineBuffers[1]);
    }
  } else {
    OutputChunkedSections(header, band);
  }

  if (header->cupsRowFeed)
    Emit(EscFeed(static_cast<uint8_t>(header->cupsRowFeed)));
  else if (header->cupsRowCount)
    Emit(EscFeed(static_cast<uint8_t>(header->cupsRowCount)));
  else
    Emit(LineFeed());

  FlushOutput();
  std::memset(band, 0, len);
}

void OutputSection(const CUPS_PAGE_HEADER* header, int pos, const uint8_t* buf, uint32_t len) {
  Emit(pos != 0 ? EscAbsoluteColumn(static_cast<unsigned>(pos)) : CarriageReturn());
  const unsigned columns = Interleaved ? 2 * len / DotBytes : len / DotBytes;
  Emit(EscBitImage(header->HWResolution[0], columns, buf, len));
}

void FlushHeldRows(const CUPS_PAGE_HEADER* header) {
  if (DotBytes == 0 || (GroupRow == 0 && EvenOffset == 0)) return;
  if (Interleaved)
    StoreInterleavedPair(header, EvenOffset / 2);
  else if (GroupRow > 0)
    StoreGroup(header, EvenOffset);
  ClearCompBuffer();
  OutputRows(header, 0);
  DotBit = 128;
  GroupRow = 0;
  EvenOffset = 0;
}

// The worst case is a one-byte literal before every run of two (4 bytes for
// 3), plus the last byte of the line as a literal of its own.
size_t PackBitsBound(size_t len) { return len + (len + 2) / 3 + 2; }

size_t PackBits(const uint8_t* line, size_t len, uint8_t* out) {
  const uint8_t* p = line;
  const uint8_t* end = line + len;
  uint8_t* o = out;
  while (p < end) {
    if (p + 1 >= end) {
      // The last byte of the line on its own.
      *o++ = 0x00;
      *o++ = *p++;
    } else if (p[0] == p[1]) {
      // A run: p stops on its last byte.
      ++p;
      int count = 2;
      while (p < end - 1 && p[0] == p[1] && count < 127) {
        ++p;
        ++count;
      }
      *o++ = static_cast<uint8_t>(1 - count);
      *o++ = *p++;
    } else {
      // A literal stretch: ends before two equal bytes, never takes the
      // last byte of the line.
      const uint8_t* start = p++;
      int count = 1;
      while (p < end - 1 && p[0] != p[1] && count < 127) {
        ++p;
        ++count;
      }
      *o++ = static_cast<uint8_t>(count - 1);
      std::memcpy(o, start, static_cast<size_t>(count));
      o += count;
    }
  }
  return static_cast<size_t>(o - out);
}

void ThinDots(uint8_t* line, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    const uint8_t original = line[i];
    uint8_t b = original;
    if (b > 191) b &= static_cast<uint8_t>(~0x40);
    for (int hi = 6; hi >= 2; --hi) {
      const uint8_t hi_bit = static_cast<uint8_t>(1u << hi);
      const uint8_t lo_bit = static_cast<uint8_t>(1u << (hi - 1));
      if ((b & hi_bit) && (b & lo_bit)) b &= static_cast<uint8_t>(~lo_bit);
    }
    if ((b & 0x03) == 0x03)
      b &= static_cast<uint8_t>(~0x01);
    else if ((original & 0x01) && i + 1 < len && (line[i + 1] & 0x80))
      line[i + 1] &= static_cast<uint8_t>(~0x80);
    line[i] = b;
  }
}

void CompressData(unsigned char* line, int length, int plane, int type, int xstep, int ystep) {
  const size_t n = static_cast<size_t>(length);
  if (ystep == kThinningStep) ThinDots(line, n);
  const uint8_t* data = line;
  size_t data_len = n;
  if (type == kPackBitsCompression) {
    data_len = PackBits(line, n, CompBuffer.data());
    data = CompBuffer.data();
  }
  Emit(CarriageReturn());
  if (Model > kLastEscDotModel) {
    Emit(EscRasterLine(ctable[plane], static_cast<uint8_t>(type), static_cast<unsigned>(length),
                       data, data_len));
  } else {
    if (NumPlanes > 1) {
      if (plane >= 4)
        Emit(EscSelectColourExtended(ctable[plane] & 15));
      else
        Emit(EscSelectColour(NumPlanes == 3 ? ctable[plane + 1] : ctable[plane]));
    }
    Emit(EscRasterGraphics(static_cast<uint8_t>(type), static_cast<uint8_t>(ystep),
                           static_cast<uint8_t>(xstep), 8u * static_cast<unsigned>(length), data,
                           data_len));
  }
  FlushOutput();
}

}  // namespace quilldot
