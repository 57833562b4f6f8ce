// fi_bitmap.h - RAII owner for FreeImage bitmaps.
#ifndef QUILL_LIB_SUPPORT_FI_BITMAP_H_
#define QUILL_LIB_SUPPORT_FI_BITMAP_H_

#include <memory>

#include <FreeImage.h>

struct FiBitmapDeleter {
  void operator()(FIBITMAP* dib) const {
    if (dib != nullptr) FreeImage_Unload(dib);
  }
};

// Owns one FIBITMAP and unloads it when it goes out of scope. Use release()
// to hand a bitmap to a caller that frees it with FreeImage_Unload.
using FiBitmap = std::unique_ptr<FIBITMAP, FiBitmapDeleter>;

#endif  // QUILL_LIB_SUPPORT_FI_BITMAP_H_
