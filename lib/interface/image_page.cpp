// The exported image-file pages: an image file is loaded, turned into a page
// raster and printed through an existing document-processor handle.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>

#include <FreeImagePlus.h>

#include "document/document_process_base.h"
#include "interface/page_bounds.h"
#include "quill/libquill.h"
#include "support/log.h"

namespace {

// Runs `fn`, turning any exception into an error record and -1: no exception
// may cross the C boundary into the host.
template <typename Fn>
int Guarded(const char* what, Fn fn) {
  try {
    return fn();
  } catch (const std::exception& e) {
    quill_log::Error("%s failed: %s", what, e.what());
  } catch (...) {
    quill_log::Error("%s failed", what);
  }
  return -1;
}

// Brings a loaded image to a depth the page pipeline prints: one-bit, 8-bit
// palette or grey, 24- and 32-bit colour are kept as they are; 4-bit
// palettes, 16-bit colour and 16-bit-per-channel images are converted
// (grey to 8 bits, colour to 24 bits, colour with alpha to 32 bits).
// Returns false when the image has no such form (floating-point or complex
// pixels, for instance).
bool ToPrintableDepth(fipImage& image) {
  switch (image.getImageType()) {
    case FIT_BITMAP:
      switch (image.getBitsPerPixel()) {
        case 1:
        case 8:
        case 24:
        case 32:
          return true;
        case 4:
          return image.convertTo8Bits() != FALSE;
        default:
          return image.convertTo24Bits() != FALSE;
      }
    case FIT_UINT16:
      return image.convertTo8Bits() != FALSE;
    case FIT_RGB16:
      return image.convertTo24Bits() != FALSE;
    case FIT_RGBA16:
      return image.convertTo32Bits() != FALSE;
    default:
      return false;
  }
}

// Transparent parts of a picture are paper: every pixel or palette colour
// that is not opaque is blended onto white by its alpha, so that a
// transparent background does not print as the colour hidden behind it.
// Opaque pictures, and 32-bit pictures without an alpha channel or whose
// fourth byte is 0 everywhere (unused, as some BMP writers leave it), are
// left untouched.
uint8_t OntoWhite(uint8_t value, uint8_t alpha) {
  return static_cast<uint8_t>((value * alpha + 255 * (255 - alpha) + 127) / 255);
}

void FlattenTransparency(fipImage& image) {
  if (!image.isTransparent()) return;
  const unsigned bpp = image.getBitsPerPixel();
  if (bpp == 32) {
    bool any_alpha = false;
    for (unsigned y = 0; y < image.getHeight() && !any_alpha; ++y) {
      const BYTE* px = image.getScanLine(y);
      for (unsigned x = 0; x < image.getWidth(); ++x, px += 4) {
        if (px[FI_RGBA_ALPHA] != 0) {
          any_alpha = true;
          break;
        }
      }
    }
    if (!any_alpha) return;
    for (unsigned y = 0; y < image.getHeight(); ++y) {
      BYTE* px = image.getScanLine(y);
      for (unsigned x = 0; x < image.getWidth(); ++x, px += 4) {
        const uint8_t alpha = px[FI_RGBA_ALPHA];
        if (alpha == 255) continue;
        px[FI_RGBA_BLUE] = OntoWhite(px[FI_RGBA_BLUE], alpha);
        px[FI_RGBA_GREEN] = OntoWhite(px[FI_RGBA_GREEN], alpha);
        px[FI_RGBA_RED] = OntoWhite(px[FI_RGBA_RED], alpha);
        px[FI_RGBA_ALPHA] = 255;
      }
    }
    return;
  }
  RGBQUAD* palette = image.getPalette();
  const BYTE* table = image.getTransparencyTable();
  if (bpp > 8 || palette == nullptr || table == nullptr) return;
  const unsigned entries = std::min(image.getTransparencyCount(), image.getColorsUsed());
  for (unsigned i = 0; i < entries; ++i) {
    palette[i].rgbBlue = OntoWhite(palette[i].rgbBlue, table[i]);
    palette[i].rgbGreen = OntoWhite(palette[i].rgbGreen, table[i]);
    palette[i].rgbRed = OntoWhite(palette[i].rgbRed, table[i]);
  }
}

// False, with the warning "image refused: ...", when the file's header
// already claims a picture beyond the page bounds at the larger of the two
// resolutions (the picture may still be turned), so that its pixels are
// never decoded. Formats whose header cannot be read alone pass here and
// meet the exact bounds when the page is printed.
bool HeaderWithinBounds(const char* path, unsigned short x_res, unsigned short y_res) {
  fipImage header(FIT_BITMAP);
  if (!header.load(path, FIF_LOAD_NOPIXELS) || !header.isValid()) return true;
  const uint32_t res = std::max(x_res, y_res);
  const uint64_t row_bytes = (uint64_t{header.getWidth()} * header.getBitsPerPixel() + 7) / 8;
  const char* problem =
      quill_bounds::PageProblem(header.getWidth(), header.getHeight(), row_bytes, res, res);
  if (problem == nullptr) return true;
  quill_log::Warning("image refused: %s (%ux%u pixels of %u bits)", problem, header.getWidth(),
                     header.getHeight(), header.getBitsPerPixel());
  return false;
}

// Loads `path`; true when a printable image was loaded. `warn_missing`
// selects whether an unreadable file is reported.
bool LoadPrintable(fipImage& image, const char* path, bool warn_missing, unsigned short x_res,
                   unsigned short y_res) {
  if (path != nullptr && !HeaderWithinBounds(path, x_res, y_res)) return false;
  if (path == nullptr || !image.load(path) || !image.isValid()) {
    if (warn_missing) quill_log::Warning("failed to load image");
    return false;
  }
  const unsigned bpp = image.getBitsPerPixel();
  const int type = static_cast<int>(image.getImageType());
  if (!ToPrintableDepth(image)) {
    quill_log::Warning("unsupported image depth: %u bits per pixel (type %d)", bpp, type);
    return false;
  }
  FlattenTransparency(image);
  return true;
}

// Whether a palette colour is dark enough to be ink: its grey value, by the
// weights the mono conversion of deeper pages uses, is below the middle.
bool IsInk(const RGBQUAD& c) {
  const float grey = 0.2126F * c.rgbRed + 0.7152F * c.rgbGreen + 0.0722F * c.rgbBlue + 0.5F;
  return grey < 128.0F;
}

// One-bit pages go to the band output as they are, where a set bit is a dot.
// Rewrites the image's bits so that a set bit is a pixel whose palette
// colour is dark, whatever order the file's palette has, and clears the
// padding behind the last pixel of every row.
void NormaliseOneBit(fipImage& image) {
  const RGBQUAD* palette = image.getPalette();
  const bool ink0 = palette != nullptr ? IsInk(palette[0]) : false;
  const bool ink1 = palette != nullptr ? IsInk(palette[1]) : true;
  const unsigned width = image.getWidth();
  const unsigned full_bytes = width / 8;
  const unsigned tail_bits = width % 8;
  const unsigned row_bytes = image.getScanWidth();
  auto map = [ink0, ink1](BYTE b) -> BYTE {
    if (ink0 == ink1) return ink0 ? 0xFF : 0x00;
    return ink1 ? b : static_cast<BYTE>(~b);
  };
  for (unsigned y = 0; y < image.getHeight(); ++y) {
    BYTE* row = image.getScanLine(y);
    if (ink0 || !ink1) std::transform(row, row + row_bytes, row, map);
    const unsigned first_padding = full_bytes + (tail_bits != 0 ? 1 : 0);
    if (tail_bits != 0) row[full_bytes] &= static_cast<BYTE>(0xFF00 >> tail_bits);
    if (first_padding < row_bytes) std::memset(row + first_padding, 0, row_bytes - first_padding);
  }
}

// The page raster of a loaded, top-down image: the image's pixels and size,
// the caller's resolutions, and the image's colours. One-bit images are
// normalised to "set bit is ink" first and described as white-on-black
// palette entries 0 white, 1 black; deeper palette images carry their own
// palette so the mono conversion sees the colours the picture has.
RASTER_INFO RasterOf(fipImage& image, unsigned short x_res, unsigned short y_res) {
  RASTER_INFO raster{};
  const unsigned bpp = image.getBitsPerPixel();
  if (bpp == 1) {
    NormaliseOneBit(image);
    raster.palette[0] = 0x00FFFFFF;  // B, G, R = 255: paper
    raster.palette[1] = 0x00000000;  // ink
  } else if (bpp <= 8 && image.getPalette() != nullptr) {
    const size_t entries = std::min<size_t>(image.getColorsUsed(), 256);
    std::memcpy(raster.palette, image.getPalette(), entries * sizeof(RGBQUAD));
  }
  raster.img_p = image.accessPixels();
  raster.width = image.getWidth();
  raster.height = image.getHeight();
  raster.pitch = static_cast<int32_t>(image.getScanWidth());
  raster.x_res = x_res;
  raster.y_res = y_res;
  raster.bpp = static_cast<uint8_t>(bpp);
  return raster;
}

}  // namespace

extern "C" {

int DocProc_ProcessImagePage(void* obj, const char* img_path, unsigned short x_res,
                             unsigned short y_res) {
  if (obj == nullptr) {
    quill_log::Warning("invalid object");
    return -1;
  }
  return Guarded("DocProc_ProcessImagePage", [&] {
    fipImage image(FIT_BITMAP);
    if (!LoadPrintable(image, img_path, true, x_res, y_res)) return -1;
    image.flipVertical();  // FreeImage keeps rows bottom-up
    // Not const: a quarter turn repoints the record at the turned copy.
    RASTER_INFO raster = RasterOf(image, x_res, y_res);

    // The page becomes as long as the picture unless a length was given.
    CONV_PARAM2& param = static_cast<DocumentProcessBase*>(obj)->m_ConvParam;
    if (param.page_length == 0 && y_res != 0) {
      const uint64_t length = static_cast<uint64_t>(param.y_unit) * raster.height / y_res;
      param.page_length = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
    }
    return DocProc_ProcessPage(obj, &raster);
  });
}

int DocProc_ProcessImagePage2(void* obj, const char* img_path, unsigned short x_res,
                              unsigned short y_res, double rotate) {
  if (obj == nullptr) {
    quill_log::Warning("invalid object");
    return -1;
  }
  return Guarded("DocProc_ProcessImagePage2", [&] {
    fipImage image(FIT_BITMAP);
    if (!LoadPrintable(image, img_path, false, x_res, y_res)) return -1;
    if (rotate != 0 && !image.rotate(rotate)) {
      // One-bit pictures turn only by multiples of 90 degrees.
      quill_log::Warning("failed to rotate image by %g degrees", rotate);
      return -1;
    }
    image.flipVertical();
    RASTER_INFO raster = RasterOf(image, x_res, y_res);
    return DocProc_ProcessPage(obj, &raster);
  });
}

}  // extern "C"
