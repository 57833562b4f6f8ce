#include "document/page_dump.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "support/fi_bitmap.h"
#include "support/log.h"

namespace {

constexpr size_t kMaxDumpName = 1023;  // the name buffer holds 1024 bytes with its end
constexpr size_t kMaxFieldDigits = 2;  // widths and precisions up to 99

bool IsFlag(char c) { return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string FormatDumpName(const std::string& format, uint32_t count) {
  std::string out;
  bool used = false;
  size_t i = 0;
  while (i < format.size() && out.size() < kMaxDumpName) {
    char c = format[i];
    if (c != '%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    // Parse %[flags][width][.precision]conversion. Widths and precisions
    // beyond kMaxFieldDigits digits are not honoured: the number is at most
    // ten digits, and a huge field would only stall the formatting.
    size_t j = i + 1;
    while (j < format.size() && IsFlag(format[j])) ++j;
    size_t digits = 0;
    while (j < format.size() && IsDigit(format[j])) ++j, ++digits;
    size_t precision_digits = 0;
    if (j < format.size() && format[j] == '.') {
      ++j;
      while (j < format.size() && IsDigit(format[j])) ++j, ++precision_digits;
    }
    // A length modifier ("%lu", "%zu", ...) is honoured with an argument
    // of its width.
    const size_t modifier_start = j;
    while (j < format.size() && j - modifier_start < 2 && std::strchr("hlzjt", format[j]) != nullptr) ++j;
    const std::string modifier = format.substr(modifier_start, j - modifier_start);
    const bool known_modifier = modifier.empty() || modifier == "h" || modifier == "hh" ||
                                modifier == "l" || modifier == "ll" || modifier == "z" ||
                                modifier == "j" || modifier == "t";
    const bool integer_conv = j < format.size() && std::strchr("udixXo", format[j]) != nullptr;
    if (!used && integer_conv && known_modifier && digits <= kMaxFieldDigits &&
        precision_digits <= kMaxFieldDigits) {
      std::string spec = format.substr(i, modifier_start - i);
      const char conv = format[j];
      spec += (conv == 'd' || conv == 'i') ? 'u' : conv;  // the count is unsigned
      char buf[128];  // a 99-wide field fits
      const int n = std::snprintf(buf, sizeof buf, spec.c_str(), static_cast<unsigned>(count));
      if (n > 0) out.append(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
      used = true;
      i = j + 1;
    } else {
      out += c;  // not honoured: printed literally
      ++i;
    }
  }
  if (out.size() > kMaxDumpName) out.resize(kMaxDumpName);
  return out;
}

std::string DumpPath(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  return "/tmp/" + name;
}

void DumpRasterToFile(const RASTER_INFO* raster, const std::string& path) {
  if (raster == nullptr || raster->img_p == nullptr) return;
  FiBitmap dib(FreeImage_ConvertFromRawBits(raster->img_p, static_cast<int>(raster->width),
                                            static_cast<int>(raster->height), raster->pitch,
                                            raster->bpp, 0, 0, 0, TRUE));
  if (!dib) return;
  if (raster->bpp == 1) {
    RGBQUAD* pal = FreeImage_GetPalette(dib.get());
    if (pal != nullptr) {
      pal[0].rgbRed = pal[0].rgbGreen = pal[0].rgbBlue = 255;
      pal[1].rgbRed = pal[1].rgbGreen = pal[1].rgbBlue = 0;
    }
  }
  FreeImage_SetDotsPerMeterX(dib.get(), static_cast<unsigned>(std::ceil(raster->x_res * 1000 / 25.4)));
  FreeImage_SetDotsPerMeterY(dib.get(), static_cast<unsigned>(std::ceil(raster->y_res * 1000 / 25.4)));
  quill_log::Debug("dumping image to %s", path.c_str());
  FREE_IMAGE_FORMAT fif = FreeImage_GetFIFFromFilename(path.c_str());
  int flags = 0;
  if (fif == FIF_PNG) flags = PNG_Z_BEST_SPEED;
  if (fif == FIF_TIFF) flags = TIFF_DEFLATE;
  FreeImage_Save(fif, dib.get(), path.c_str(), flags);
}

void save_temp_image(FIBITMAP* dib, const char* tag) {
  std::string path = std::string("/tmp/") + tag + ".tif";
  quill_log::Debug("%s", path.c_str());
  FiBitmap copy(FreeImage_Copy(dib, 0, 0, static_cast<int>(FreeImage_GetWidth(dib)),
                               static_cast<int>(FreeImage_GetHeight(dib))));
  if (!copy) return;
  FreeImage_FlipVertical(copy.get());
  FreeImage_Save(FIF_TIFF, copy.get(), path.c_str(), TIFF_DEFLATE);
}
