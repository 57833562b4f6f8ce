// packed_page.h - a stored copy of a page raster, zlib-compressed or raw.
#ifndef QUILL_LIB_DOCUMENT_PACKED_PAGE_H_
#define QUILL_LIB_DOCUMENT_PACKED_PAGE_H_

#include <cstdint>

#include "quill/libquill.h"

class PackedPage {
 public:
  PackedPage();  // all zero
  virtual ~PackedPage();  // frees the stored bytes

  PackedPage(const PackedPage&) = delete;
  PackedPage& operator=(const PackedPage&) = delete;

  // Copies the page: pitch * height pixel bytes (|pitch| for a negative
  // pitch), compressed with zlib level 1 when `deflate` and compression
  // succeeds, raw otherwise. Returns null for a null raster or when the
  // copy cannot be allocated; the caller owns the result.
  static PackedPage* Create(const RASTER_INFO* raster, bool deflate);

  // A new RASTER_INFO (malloc; the caller frees it) equal to the stored
  // description. For a compressed page its img_p is a new buffer of the
  // page's pixel size holding the decompressed pixels, also freed by the
  // caller; for a raw page img_p is the stored buffer, still owned by this
  // object. Returns null when memory runs out or decompression fails.
  RASTER_INFO* Get();

  RASTER_INFO m_PackedRaster;  // the description; img_p points to the stored bytes
  uint32_t m_PackedSize;       // size of the zlib stream; 0: stored uncompressed
};

#endif  // QUILL_LIB_DOCUMENT_PACKED_PAGE_H_
