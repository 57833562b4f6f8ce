#include "document/page_transform.h"

#include <algorithm>
#include <cstring>

#include "support/fi_bitmap.h"
#include "support/log.h"

namespace {

// Bit-reversed bytes, for mirroring one-bit rows a byte at a time.
constexpr std::array<uint8_t, 256> MakeReversedBytes() {
  std::array<uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v) {
    uint8_t r = 0;
    for (int b = 0; b < 8; ++b) {
      if (v & (1 << b)) r = static_cast<uint8_t>(r | (0x80 >> b));
    }
    t[v] = r;
  }
  return t;
}
constexpr std::array<uint8_t, 256> kReversedBytes = MakeReversedBytes();

bool IsSupportedDepth(uint8_t bpp) {
  switch (bpp) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32: return true;
    default: return false;
  }
}

uint8_t* RowAt(const RASTER_INFO& r, uint32_t y) {
  return r.img_p + static_cast<size_t>(y) * static_cast<size_t>(r.pitch);
}

// Mirrors the `width` pixels of a one-bit row; `tmp` holds the row's bytes.
void MirrorRow1(uint8_t* row, uint32_t width, uint8_t* tmp) {
  const size_t n = (static_cast<size_t>(width) + 7) / 8;
  for (size_t i = 0; i < n; ++i) tmp[i] = kReversedBytes[row[n - 1 - i]];
  // The reversed padding now leads the row: shift it out to the left.
  const unsigned s = static_cast<unsigned>(n * 8 - width);
  if (s == 0) {
    std::memcpy(row, tmp, n);
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    const unsigned next = i + 1 < n ? tmp[i + 1] : 0;
    row[i] = static_cast<uint8_t>((tmp[i] << s) | (next >> (8 - s)));
  }
}

// Mirrors a row of 2- or 4-bit pixels; `tmp` holds the row's bytes.
void MirrorRowPacked(uint8_t* row, uint32_t width, unsigned bpp, uint8_t* tmp) {
  const size_t n = (static_cast<size_t>(width) * bpp + 7) / 8;
  const unsigned per_byte = 8 / bpp;
  const unsigned mask = (1u << bpp) - 1;
  std::memset(tmp, 0, n);
  for (uint32_t x = 0; x < width; ++x) {
    const uint32_t src = width - 1 - x;
    const unsigned v = (row[src / per_byte] >> (8 - bpp * (src % per_byte + 1))) & mask;
    tmp[x / per_byte] = static_cast<uint8_t>(tmp[x / per_byte] | (v << (8 - bpp * (x % per_byte + 1))));
  }
  std::memcpy(row, tmp, n);
}

// Mirrors a row of whole-byte pixels of `b` bytes each.
void MirrorRowBytes(uint8_t* row, uint32_t width, unsigned b) {
  if (width < 2) return;
  uint8_t* lo = row;
  uint8_t* hi = row + static_cast<size_t>(width - 1) * b;
  uint8_t px[4];
  while (lo < hi) {
    std::memcpy(px, lo, b);
    std::memcpy(lo, hi, b);
    std::memcpy(hi, px, b);
    lo += b;
    hi -= b;
  }
}

void MirrorRow(uint8_t* row, const RASTER_INFO& r, uint8_t* tmp) {
  if (r.bpp == 1) {
    MirrorRow1(row, r.width, tmp);
  } else if (r.bpp < 8) {
    MirrorRowPacked(row, r.width, r.bpp, tmp);
  } else {
    MirrorRowBytes(row, r.width, r.bpp / 8u);
  }
}

void RotateQuarter(RASTER_INFO& raster, int angle, CONV_PARAM2& param, std::vector<uint8_t>& buffer) {
  FiBitmap src(FreeImage_ConvertFromRawBitsEx(FALSE, raster.img_p, FIT_BITMAP,
                                              static_cast<int>(raster.width),
                                              static_cast<int>(raster.height), raster.pitch,
                                              raster.bpp, 0, 0, 0, FALSE));
  FiBitmap turned(src ? FreeImage_Rotate(src.get(), angle, nullptr) : nullptr);
  if (!turned) {
    quill_log::Warning("failed to rotate page (bpp %u)", raster.bpp);
    return;
  }
  const uint32_t width = FreeImage_GetWidth(turned.get());
  const uint32_t height = FreeImage_GetHeight(turned.get());
  const uint32_t pitch = FreeImage_GetPitch(turned.get());
  buffer.resize(static_cast<size_t>(pitch) * height);
  for (uint32_t y = 0; y < height; ++y) {
    std::memcpy(buffer.data() + static_cast<size_t>(y) * pitch, FreeImage_GetScanLine(turned.get(), static_cast<int>(y)), pitch);
  }
  raster.img_p = buffer.data();
  raster.width = width;
  raster.height = height;
  raster.pitch = static_cast<int32_t>(pitch);
  param.page_length = static_cast<uint32_t>(static_cast<uint64_t>(param.y_unit) * height / raster.y_res);
}

// Moves `len` bytes of a row by `shift` bytes (positive: right) and whitens
// what is uncovered.
void ShiftRow(uint8_t* row, size_t len, int64_t shift) {
  if (shift == 0) return;
  const size_t s = static_cast<size_t>(shift < 0 ? -shift : shift);
  if (s >= len) {
    std::memset(row, 255, len);
  } else if (shift > 0) {
    std::memmove(row + s, row, len - s);
    std::memset(row, 255, s);
  } else {
    std::memmove(row, row + s, len - s);
    std::memset(row + len - s, 255, s);
  }
}

}  // namespace

uint64_t RasterRowBytes(const RASTER_INFO& raster) {
  return (static_cast<uint64_t>(raster.width) * raster.bpp + 7) / 8;
}

bool RasterIsWalkable(const RASTER_INFO& raster) {
  return raster.img_p != nullptr && raster.width != 0 && raster.height != 0 &&
         IsSupportedDepth(raster.bpp) && raster.pitch > 0 &&
         static_cast<uint64_t>(raster.pitch) >= RasterRowBytes(raster);
}

bool TurnRaster180(RASTER_INFO& raster) {
  if (!RasterIsWalkable(raster)) return false;
  const size_t row_bytes = static_cast<size_t>(RasterRowBytes(raster));
  std::vector<uint8_t> tmp(row_bytes);
  const uint32_t h = raster.height;
  for (uint32_t i = 0; i < h / 2; ++i) {
    uint8_t* a = RowAt(raster, i);
    uint8_t* b = RowAt(raster, h - 1 - i);
    MirrorRow(a, raster, tmp.data());
    MirrorRow(b, raster, tmp.data());
    std::swap_ranges(a, a + row_bytes, b);
  }
  if (h % 2 == 1) MirrorRow(RowAt(raster, h / 2), raster, tmp.data());
  return true;
}

void RotateRaster(RASTER_INFO& raster, int angle, CONV_PARAM2& param, std::vector<uint8_t>& buffer) {
  quill_log::Debug("rotate %d", angle);
  if (angle != 90 && angle != 180 && angle != 270) return;
  if (!RasterIsWalkable(raster) || raster.y_res == 0) {
    quill_log::Warning("cannot rotate an invalid raster");
    return;
  }
  if (angle == 180) {
    TurnRaster180(raster);
  } else {
    RotateQuarter(raster, angle, param, buffer);
  }
}

void DoRotation(RASTER_INFO& raster, int angle, CONV_PARAM2& param) {
  thread_local std::vector<uint8_t> buffer;
  RotateRaster(raster, angle, param, buffer);
}

void DoOffsetting(RASTER_INFO& raster, const std::array<int, 2>& offset) {
  const int x = offset[0];
  const int y = offset[1];
  if (x == 0 && y == 0) {
    quill_log::Debug("skip offset");
    return;
  }
  if (raster.bpp <= 8) {
    quill_log::Warning("unsupported bpp: %u", raster.bpp);
    return;
  }
  if (!RasterIsWalkable(raster)) {
    quill_log::Warning("cannot offset an invalid raster");
    return;
  }
  quill_log::Debug("tune offset %d,%d", x, y);
  const size_t b = raster.bpp / 8u;
  const size_t len = static_cast<size_t>(raster.width) * b;
  const int64_t h = raster.height;
  const int64_t shift = static_cast<int64_t>(x) * static_cast<int64_t>(b);

  auto move_row = [&](int64_t dst, int64_t src) {
    uint8_t* d = RowAt(raster, static_cast<uint32_t>(dst));
    if (dst != src) std::memcpy(d, RowAt(raster, static_cast<uint32_t>(src)), len);
    ShiftRow(d, len, shift);
  };
  auto whiten = [&](int64_t row) { std::memset(RowAt(raster, static_cast<uint32_t>(row)), 255, len); };

  if (y < 0) {
    const int64_t kept = std::max<int64_t>(h + y, 0);  // rows that receive content
    for (int64_t i = 0; i < kept; ++i) move_row(i, i - y);
    for (int64_t i = kept; i < h; ++i) whiten(i);
  } else {
    const int64_t first = std::min<int64_t>(y, h);  // rows above it become white
    for (int64_t i = h - 1; i >= first; --i) move_row(i, i - y);
    for (int64_t i = 0; i < first; ++i) whiten(i);
  }
}
