// mono_conversion.h - the image steps of the ink page pipeline: a page of
// any depth to one bit per pixel (gamma, ICC colour management, threshold or
// halftoning), and the separation of a colour page into a black and a red
// plane for the two-colour printers.
//
// Images are FreeImage bitmaps. A raster is wrapped without copying so that
// FreeImage scanline y is raster row y (row 0 first in memory); results keep
// that orientation. No function here changes the pixels of a wrapped raster.
#ifndef QUILL_LIB_DOCUMENT_MONO_CONVERSION_H_
#define QUILL_LIB_DOCUMENT_MONO_CONVERSION_H_

#include <cstdint>
#include <string>

#include <lcms2.h>

#include "quill/libquill.h"
#include "support/fi_bitmap.h"

// Wraps the raster's pixels (not copied; they must outlive the result) as a
// bitmap of the raster's depth and pitch; for depths up to 8 the raster's
// 2^bpp palette entries are copied into the bitmap's own palette. A palette
// whose entries are all zero counts as not given: values are then read as
// grey (0 black), one-bit pixels as ink (1 black), the conventions of
// grey pages and of the page processors. Returns null when FreeImage
// refuses the geometry.
FiBitmap WrapRaster(const RASTER_INFO& raster);

// The grey conversion FreeImage_ConvertToGreyscale applies to 24- and 32-bit
// pixels (Rec. 709 luma in single precision, rounded), with a gamma table in
// front of each channel: three per-channel products summed in that order,
// which gives FreeImage's bytes.
struct GreyWeights {
  explicit GreyWeights(const uint8_t lut[256]);
  // The grey of one pixel.
  uint8_t Grey(uint8_t blue, uint8_t green, uint8_t red) const {
    return static_cast<uint8_t>(this->red[red] + this->green[green] + this->blue[blue] + 0.5F);
  }
  float red[256], green[256], blue[256];
  uint8_t paper;  // the grey of white (255, 255, 255)
};

// Converts one row of `width` pixels of `step` bytes (3 or 4: blue, green,
// red first) into `width` grey bytes.
void GreyRow(const uint8_t* src, unsigned step, unsigned width, const GreyWeights& weights, uint8_t* dst);

// The 256-entry table FreeImage_AdjustGamma applies for `gamma` (> 0).
void GammaTable(double gamma, uint8_t table[256]);

// A new 8-bit grey image (0 black, 255 white) of `dib` with `gamma` applied
// exactly as FreeImage_AdjustGamma on the colour image followed by
// FreeImage_ConvertToGreyscale would give, but without touching the pixels
// of `dib` (for palette images only the palette of `dib` is adjusted, which
// a wrapper owns itself). Gamma is applied when gamma > 0 and gamma != 1.
// Returns null when memory runs out.
FiBitmap GreyWithGamma(FIBITMAP* dib, double gamma);

// Colour management of a grey page: a new grey image holding `grey` (8 bits,
// read as grey of gamma 2.2 with a D50 white point) transformed into the
// device grey of the ICC output profile at `icc_path`, with the intent that
// preserves black (falling back to perceptual when the profile does not
// support it). Returns null with the warning "failed to load ICC profile"
// when the profile cannot be opened; returns a copy of `grey` with the
// warning "failed to create transform" when no transform is possible (for
// example a profile that is not a grey profile).
FiBitmap TransformToProfile(FIBITMAP* grey, const std::string& icc_path);

// Little CMS error handler: a debug record "[LCMS][<code>]<text>".
void cms_log(cmsContext context, cmsUInt32Number code, const char* text);

// Halftones an 8-bit grey image into a new one-bit image: a threshold of 1
// to 254 cuts at that level; otherwise `dither` chooses 1 error diffusion
// (STUCKI_Sierra_Jarvis_bidir), 2 even-toned screening, 3 ordered dither and
// anything else Floyd-Steinberg. The result's palette is whatever the method
// gives (normally entry 0 black). Null on failure.
FiBitmap Halftone(FIBITMAP* grey, uint8_t threshold, uint8_t dither);

// Inverts the pixels of `dib` as FreeImage_Invert does (for a one-bit image
// that is not a palette image: every byte of each line's
// FreeImage_GetLine bytes complemented; the palette is left alone), but
// without FreeImage's per-byte calls for one-bit images. Other images go to
// FreeImage_Invert.
void InvertPixels(FIBITMAP* dib);

// True when the colour (blue, green, red) prints in red on a two-colour
// printer: a hue below 15 or above 330 degrees, a value above 0.6 and a
// saturation above 0.2 (grey never is).
bool IsRedPixel(uint8_t blue, uint8_t green, uint8_t red);

// Separates `src` (any depth FreeImage can read) into a new 24-bit image
// twice as wide: black plane at x, red plane at W' + x, where W' is the width
// rounded up to even. A red pixel goes into the red plane and leaves white
// in the black plane, every other pixel the reverse; the extra column of an
// odd width is white in both planes. `dst` receives the new image (the
// caller releases it with FreeImage_Unload), or null when `src` is null or
// the image cannot be made. Returns 0.
int ConvertToRedBlack(FIBITMAP* src, FIBITMAP*& dst);

// One row of the grey image that ConvertToRedBlack followed by GreyRow (of
// the separated 24-bit image) would give, made straight from one row of
// `width` source pixels of `step` bytes (3 or 4): 2 x W' grey bytes, the
// black plane then the red plane (W' = width rounded up to even), paper grey
// where a plane has no pixel.
void SeparatedGreyRow(const uint8_t* src, unsigned step, unsigned width, const GreyWeights& weights,
                      uint8_t* dst);

#endif  // QUILL_LIB_DOCUMENT_MONO_CONVERSION_H_
