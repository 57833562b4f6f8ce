// dither_reference.h - plain, pixel-by-pixel models of the halftoners, used
// as oracles for the optimised library code, and small bitmap helpers.
#ifndef QUILL_TESTS_HALFTONE_DITHER_REFERENCE_H_
#define QUILL_TESTS_HALFTONE_DITHER_REFERENCE_H_

#include <cstdint>
#include <vector>

#include <FreeImage.h>

namespace dither_ref {

// Grey image indexed [scan line][x]; 0 black, 255 white.
using Grey = std::vector<std::vector<int>>;
// Two-level image indexed [scan line][x]; 1 white (paper), 0 black.
using Mono = std::vector<std::vector<int>>;

// Uniformly random grey image from a fixed seed.
Grey RandomGrey(int width, int height, uint32_t seed);
// Every pixel `value`.
Grey FlatGrey(int width, int height, int value);

// New 8-bit linear-grey bitmap holding `g` (caller unloads).
FIBITMAP* ToBitmap(const Grey& g);
// Reads a one-bit bitmap into 0/1 values.
Mono FromMono(FIBITMAP* dib);
// True when every bit after the last pixel of every row is 0.
bool TrailingBitsClear(FIBITMAP* dib);

// The kernel functions: `serpentine` selects STUCKI_Sierra_Jarvis_bidir,
// otherwise STUCKI_Sierra_Jarvis.
Mono KernelDiffusion(const Grey& g, int function, bool serpentine);
// FloydSteinberg.
Mono FloydSteinberg(const Grey& g);
// ordered_dither over tile `tile` of size s.
Mono Ordered(const Grey& g, const uint8_t* tile, int s);
// ETS_dither_main with one plane; the initial error line draws from rand(),
// so seed it exactly as before the library call.
Mono EtsOnePlane(const Grey& g);

}  // namespace dither_ref

#endif  // QUILL_TESTS_HALFTONE_DITHER_REFERENCE_H_
