// ordered_dither.cpp - ordered (screen) dither with the clustered-dot tiles,
// and the line writers of the even-toned screening.
//
// A pixel is white when v == 255, or v != 0 and v >= t. Every tile holds
// thresholds 1..255 only, so this is exactly v >= t: 255 passes every
// threshold and 0 none. The row loop compares 16 pixels at a time and packs
// the comparison bits most significant bit first.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "halftone/screens_data.h"
#include "quill/dither.h"
#include "support/fi_bitmap.h"

namespace {

struct Tile {
  const uint8_t* cells;
  uint32_t size;
};

Tile ChooseTile(int idx) {
  switch (idx) {
    case 0:
      return {SCREEN_DITHERED_136_105, 136};
    case 1:
      return {SCREEN_DITHERED_140_72, 140};
    case 2:
      return {SCREEN_DITHERED_130_0, 130};
    default:
      return {SCREEN_DITHERED_128_45, 128};
  }
}

// Bit-reversed bytes: the comparison masks come least significant bit first.
struct ReverseTable {
  uint8_t v[256];
  ReverseTable() {
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b) r |= ((i >> b) & 1) << (7 - b);
      v[i] = static_cast<uint8_t>(r);
    }
  }
};
const ReverseTable kReverse;

// Packs 8 pixels: bit 7 - i set when src[i] >= thr[i].
inline uint8_t Pack8(const uint8_t* src, const uint8_t* thr) {
  unsigned bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<unsigned>(src[i] >= thr[i]) << (7 - i);
  return static_cast<uint8_t>(bits);
}

// One row: out gets (width + 7) / 8 bytes, trailing bits 0.
void DitherRow(const uint8_t* src, const uint8_t* thr, uint32_t width, uint8_t* out) {
  uint32_t x = 0;
#if defined(__SSE2__)
  for (; x + 16 <= width; x += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(thr + x));
    const __m128i ge = _mm_cmpeq_epi8(_mm_max_epu8(v, t), v);
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(ge));
    out[x >> 3] = kReverse.v[mask & 0xFF];
    out[(x >> 3) + 1] = kReverse.v[mask >> 8];
  }
#endif
  for (; x + 8 <= width; x += 8) out[x >> 3] = Pack8(src + x, thr + x);
  if (x < width) {
    unsigned bits = 0;
    for (uint32_t i = 0; x + i < width; ++i) bits |= static_cast<unsigned>(src[x + i] >= thr[x + i]) << (7 - i);
    out[x >> 3] = static_cast<uint8_t>(bits);
  }
}

}  // namespace

extern "C" FIBITMAP* ordered_dither(int idx, const uint8_t* psr, uint32_t width, uint32_t height,
                                    uint32_t pitch) {
  if (psr == nullptr || width == 0 || height == 0) return nullptr;
  const Tile tile = ChooseTile(idx);
  FIBITMAP* result = FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 1);
  if (result == nullptr) return nullptr;
  RGBQUAD* pal = FreeImage_GetPalette(result);
  pal[0] = RGBQUAD{0, 0, 0, 0};
  pal[1] = RGBQUAD{255, 255, 255, 0};
  // The thresholds of one tile row repeated across the image width.
  std::vector<uint8_t> thr(width);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* trow = tile.cells + static_cast<size_t>(y % tile.size) * tile.size;
    for (uint32_t x = 0; x < width; x += tile.size) {
      std::memcpy(thr.data() + x, trow, std::min<uint32_t>(tile.size, width - x));
    }
    DitherRow(psr + static_cast<size_t>(y) * pitch, thr.data(), width, FreeImage_GetScanLine(result, y));
  }
  return result;
}

extern "C" FIBITMAP* ordered_dither_single(FIBITMAP* dib_src) {
  if (dib_src == nullptr) return nullptr;
  FiBitmap grey(FreeImage_ConvertToGreyscale(dib_src));
  if (!grey) return nullptr;
  return ordered_dither(3, FreeImage_GetBits(grey.get()), FreeImage_GetWidth(grey.get()),
                        FreeImage_GetHeight(grey.get()), FreeImage_GetPitch(grey.get()));
}

extern "C" void write_pam_line(uchar** obufs, int xs, uchar* fo, int planes, void* image_ctx) {
  for (int j = 0; j < planes; ++j) {
    const uchar* in = obufs[j];
    for (int x = 0; x < xs; ++x) fo[x * planes + j] = in[x];
  }
}

extern "C" void write_pam_line_1bit(uchar** obufs, int xs, uchar* fo, int planes, void* image_ctx) {
  const int bytes = (xs + 7) / 8;
  std::memset(fo, 0, static_cast<size_t>(bytes > 0 ? bytes : 0));
  const uchar* in = obufs[0];
  int x = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Eight bytes at a time: the high bit of every non-zero byte, moved down
  // to bit 0 of its byte, then gathered into one byte by a multiplication
  // whose partial products land on distinct bits (byte i -> bit 7 - i).
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  for (; x + 8 <= xs; x += 8) {
    uint64_t v;
    std::memcpy(&v, in + x, 8);
    const uint64_t nonzero = ((v | ((v & kLow7) + kLow7)) & kHigh) >> 7;
    fo[x >> 3] = static_cast<uchar>((nonzero * 0x8040201008040201ull) >> 56);
  }
#endif
  for (; x < xs; ++x) {
    if (in[x] != 0) fo[x >> 3] |= static_cast<uchar>(0x80u >> (x & 7));
  }
}
