// mono_stream.h - the page to one bit in one pass, row by row, for the
// even-toned screen: grey conversion with gamma (and, for two-colour
// printers, the red/black separation), screening and bit packing of a row
// happen together, so that no page-sized grey, separated or halftoned copy
// is ever made. The result is the one-bit raster that ConvertColorToMono's
// plain route (ConvertToRedBlack, GreyWithGamma, ets_dither, inversion,
// FreeImage_ConvertToRawBits) gives for the same page, byte for byte; the
// tests hold that route as the oracle.
#ifndef QUILL_LIB_DOCUMENT_MONO_STREAM_H_
#define QUILL_LIB_DOCUMENT_MONO_STREAM_H_

#include <cstdint>

#include "quill/libquill.h"
#include "support/cancel.h"

// True when StreamToMono takes pages of this depth (24 and 32 bits: blue,
// green, red first).
bool StreamsDepth(uint8_t bpp);

// Screens `page` (RasterIsWalkable, StreamsDepth(page.bpp)) into a new
// one-bit raster: gamma `gamma` applied when > 0 and != 1 (as GammaTable),
// the grey of FreeImage_ConvertToGreyscale, the even-toned screen of
// ets_dither, a set bit for a dot, bits after a row's last pixel and the
// row's padding 0. With `red_black` the rows are those of ConvertToRedBlack's
// separation (black plane, then red plane, each the width rounded up to
// even), so the result is 2 x W' pixels wide. Returns the pixels (malloc;
// the caller releases them with free) and sets *pitch (bytes per row, a
// multiple of 4); null when memory runs out, or when `cancel` (may be null)
// asks to stop: it counts every row.
uint8_t* StreamToMono(const RASTER_INFO& page, double gamma, bool red_black, int32_t* pitch,
                      CancelPoll* cancel = nullptr);

#endif  // QUILL_LIB_DOCUMENT_MONO_STREAM_H_
