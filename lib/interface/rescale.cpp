// Scale-down of one-bit page images: bilinear scaling, Floyd-Steinberg
// halftoning back to one bit, and clearing of the margins that were blank in
// the source.

#include "interface/rescale.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <FreeImage.h>

#include "support/fi_bitmap.h"
#include "support/log.h"

namespace {

// Which debug files LIBQUILL_OUT asks for.
struct DebugFiles {
  bool original = false;  // '1': the source as wrapped
  bool rescaled = false;  // '2': after scaling, before halftoning
  bool halftone = false;  // '3': the halftoned result

  static DebugFiles FromEnvironment() {
    DebugFiles files;
    const char* env = std::getenv("LIBQUILL_OUT");
    if (env == nullptr) return files;
    files.original = std::strchr(env, '1') != nullptr;
    files.rescaled = std::strchr(env, '2') != nullptr;
    files.halftone = std::strchr(env, '3') != nullptr;
    return files;
  }
};

void SaveDebugPng(bool wanted, FIBITMAP* dib, const char* name) {
  if (wanted) FreeImage_Save(FIF_PNG, dib, name, PNG_DEFAULT);
}

// Rows of the source that hold dots: top = first such row, bottom = one past
// the last; both 0 for an empty source. Looks at the bytes that hold the
// row's pixels (whole bytes, as the source's rows are laid out).
struct VerticalRange {
  uint32_t top = 0;
  uint32_t bottom = 0;
};

VerticalRange FindContentRows(const unsigned char* src, uint32_t width, uint32_t height,
                              uint32_t pitch) {
  const uint32_t row_bytes = std::min((width + 7) / 8, pitch);
  auto has_dots = [&](uint32_t y) {
    const unsigned char* row = src + static_cast<size_t>(y) * pitch;
    return std::any_of(row, row + row_bytes, [](unsigned char b) { return b != 0; });
  };
  VerticalRange range;
  for (uint32_t y = height; y > 0; --y) {
    if (has_dots(y - 1)) {
      range.bottom = y;
      break;
    }
  }
  for (uint32_t y = 0; y < range.bottom; ++y) {
    if (has_dots(y)) {
      range.top = y;
      break;
    }
  }
  return range;
}

void ClearRows(unsigned char* image, uint32_t pitch, uint32_t rows, uint64_t first, uint64_t count) {
  if (first >= rows) return;
  count = std::min<uint64_t>(count, rows - first);
  std::memset(image + first * pitch, 0, static_cast<size_t>(count * pitch));
}

}  // namespace

unsigned char* rescale_image(unsigned char* src_p, uint32_t src_width, uint32_t src_height,
                             uint32_t src_pitch, uint32_t dst_width, uint32_t dst_height,
                             uint32_t* dst_pitch_p) {
  if (dst_width == 0 || dst_height == 0 || dst_width > INT_MAX || dst_height > INT_MAX) {
    quill_log::Warning("target size is invalid");
    return nullptr;
  }
  if (src_p == nullptr || dst_pitch_p == nullptr || src_width == 0 || src_height == 0 ||
      src_width > INT_MAX || src_height > INT_MAX || src_pitch > INT_MAX ||
      src_pitch < (src_width + 7) / 8) {
    quill_log::Warning("failed to load raw image");
    return nullptr;
  }

  const VerticalRange content = FindContentRows(src_p, src_width, src_height, src_pitch);
  quill_log::Info("[rescale] original vertical range: %u-%u", content.top, content.bottom);

  // Wrapped without copying; FreeImage only reads it.
  FiBitmap source(FreeImage_ConvertFromRawBitsEx(
      FALSE, src_p, FIT_BITMAP, static_cast<int>(src_width), static_cast<int>(src_height),
      static_cast<int>(src_pitch), 1, 0, 0, 0, TRUE));
  if (!source) {
    quill_log::Warning("failed to load raw image");
    return nullptr;
  }
  // Dots become the bright value, so scaling blends them towards white and
  // the halftone returns them as set bits.
  RGBQUAD* palette = FreeImage_GetPalette(source.get());
  palette[0].rgbBlue = palette[0].rgbGreen = palette[0].rgbRed = 0;
  palette[1].rgbBlue = palette[1].rgbGreen = palette[1].rgbRed = 255;

  const DebugFiles debug = DebugFiles::FromEnvironment();
  SaveDebugPng(debug.original, source.get(), "immediate_original.png");

  FiBitmap scaled(FreeImage_Rescale(source.get(), static_cast<int>(dst_width),
                                    static_cast<int>(dst_height), FILTER_BILINEAR));
  if (!scaled) {
    quill_log::Warning("failed to rescale image");
    return nullptr;
  }
  SaveDebugPng(debug.rescaled, scaled.get(), "immediate_rescaled.png");

  // Without a one-bit halftone the rows below would be grey bytes read as
  // dots, so a failed halftone fails the scale-down.
  FiBitmap result(FreeImage_Dither(scaled.get(), FID_FS));
  if (!result || FreeImage_GetBPP(result.get()) != 1) {
    quill_log::Warning("failed to halftone image");
    return nullptr;
  }
  scaled.reset();

  const uint32_t height = FreeImage_GetHeight(result.get());
  const uint32_t pitch = FreeImage_GetPitch(result.get());
  *dst_pitch_p = pitch;
  quill_log::Info("converted image: pitch=%u,height=%u", pitch, height);
  SaveDebugPng(debug.halftone, result.get(), "immediate_halftone.png");

  auto* image = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(pitch) * height, 1));
  if (image == nullptr) {
    quill_log::Warning("failed to allocate memory");
    return nullptr;
  }
  FreeImage_ConvertToRawBits(image, result.get(), static_cast<int>(pitch), 1, 0, 0, 0, TRUE);

  // Margins that were blank in the source stay blank in the result. Products
  // are taken in 64 bits so tall pages cannot overflow them.
  const uint64_t h = height;
  const uint64_t src_h = src_height;
  if (content.top > 0) ClearRows(image, pitch, height, 0, h * content.top / src_h);
  if (content.bottom > 0 && content.bottom < src_height) {
    const uint64_t first =
        static_cast<uint64_t>(static_cast<double>(content.bottom) * height / src_height + 0.5);
    ClearRows(image, pitch, height, first, (src_h - content.bottom) * h / src_h);
  }
  return image;
}
