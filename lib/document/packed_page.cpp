#include "document/packed_page.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include <FreeImage.h>
#include <zlib.h>

#include "support/log.h"

namespace {

// Pixel bytes of a page, or 0 when the size does not fit the 32-bit lengths
// of the compressor.
uint64_t PixelBytes(const RASTER_INFO& r) {
  uint64_t pitch = static_cast<uint64_t>(r.pitch < 0 ? -static_cast<int64_t>(r.pitch) : r.pitch);
  return pitch * r.height;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

PackedPage::PackedPage() : m_PackedRaster{}, m_PackedSize(0) {}

PackedPage::~PackedPage() { std::free(m_PackedRaster.img_p); }

PackedPage* PackedPage::Create(const RASTER_INFO* raster, bool deflate) {
  if (raster == nullptr) return nullptr;
  auto page = std::make_unique<PackedPage>();
  page->m_PackedRaster = *raster;
  page->m_PackedRaster.img_p = nullptr;
  const uint64_t n = PixelBytes(*raster);
  if (n > 0xFFFFFFFFu) return nullptr;

  if (deflate) {
    uLong bound = compressBound(static_cast<uLong>(n));
    std::unique_ptr<Bytef, FreeDeleter> tmp(static_cast<Bytef*>(std::calloc(bound ? bound : 1, 1)));
    uLongf out_len = bound;
    if (tmp && compress2(tmp.get(), &out_len, raster->img_p, static_cast<uLong>(n), 1) == Z_OK) {
      page->m_PackedSize = static_cast<uint32_t>(out_len);
      quill_log::Debug("page compressed to %u", page->m_PackedSize);
      page->m_PackedRaster.img_p = static_cast<uint8_t*>(std::malloc(out_len ? out_len : 1));
      if (page->m_PackedRaster.img_p == nullptr) return nullptr;
      std::memcpy(page->m_PackedRaster.img_p, tmp.get(), out_len);
    } else {
      quill_log::Warning("failed to compress page, use original");
      page->m_PackedSize = 0;
    }
  }
  if (page->m_PackedSize == 0) {
    quill_log::Debug("store page without compressing [%llu]", static_cast<unsigned long long>(n));
    page->m_PackedRaster.img_p = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (page->m_PackedRaster.img_p == nullptr) return nullptr;
    if (n) std::memcpy(page->m_PackedRaster.img_p, raster->img_p, n);
  }
  return page.release();
}

RASTER_INFO* PackedPage::Get() {
  auto* out = static_cast<RASTER_INFO*>(std::malloc(sizeof(RASTER_INFO)));
  if (out == nullptr) return nullptr;
  *out = m_PackedRaster;
  if (m_PackedSize == 0) return out;

  const uint64_t n = PixelBytes(m_PackedRaster);
  auto* pixels = static_cast<uint8_t*>(std::malloc(n ? n : 1));
  if (pixels == nullptr) {
    std::free(out);
    return nullptr;
  }
  DWORD got = FreeImage_ZLibUncompress(pixels, static_cast<DWORD>(n), m_PackedRaster.img_p, m_PackedSize);
  if (got != n) {
    quill_log::Warning("failed to uncompress stored page");
    std::free(pixels);
    std::free(out);
    return nullptr;
  }
  out->img_p = pixels;
  return out;
}
