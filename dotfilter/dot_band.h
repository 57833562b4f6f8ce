// dot_band.h - raster rows to bit-image bands or raster lines.
//
// Band mode (DotBytes != 0; models 0, 1 and 10): rows are collected into a
// band of DotBytes * 8 rows, stored column by column, and each band goes out
// as ESC * bit images (two interleaved passes when Interleaved), with blank
// bands merged into one paper feed. Raster mode (DotBytes == 0): each row of
// each colour plane goes out as one ESC . or ESC i raster line, optionally
// PackBits-compressed, with relative moves over blank rows.
//
// All functions work on the page state of dot_state.h, which StartPage
// prepares for the header passed here.
#ifndef QUILL_DOTFILTER_DOT_BAND_H_
#define QUILL_DOTFILTER_DOT_BAND_H_

#include <cstddef>
#include <cstdint>

#include "dot_state.h"

namespace quilldot {

// Consumes the row held in Planes (one raster row of header's page).
void OutputLine(const CUPS_PAGE_HEADER* header);

// Sends the collected band (row is 0: the band buffer), or counts it as a
// blank band to be fed before the next printed one.
void OutputRows(const CUPS_PAGE_HEADER* header, int row);

// One bit-image command for len bytes of band data starting at column pos:
// ESC $ pos (or CR at column 0), then ESC * with the density of the
// horizontal resolution and the column count.
void OutputSection(const CUPS_PAGE_HEADER* header, int pos, const uint8_t* buf, uint32_t len);

// One raster line of plane `plane`: dot thinning at ystep 5 (720 dpi),
// PackBits when type is 1, then CR and ESC i (models above 3) or the colour
// selection and ESC . (other models), and the data. line is modified in
// place by the thinning; length is its size in bytes.
void CompressData(unsigned char* line, int length, int plane, int type, int xstep, int ystep);

// At the end of a page: prints the rows still held in an incomplete band as
// if the missing rows were blank. Pending blank bands are not fed.
void FlushHeldRows(const CUPS_PAGE_HEADER* header);

// TIFF PackBits of len bytes into out, which must hold PackBitsBound(len)
// bytes. Runs of 2..127 equal bytes become (1 - n, byte); literal stretches
// of up to 127 bytes become (n - 1, bytes); the last byte of the line, when
// it does not end a run, is a one-byte literal of its own. Returns the
// number of bytes written.
size_t PackBits(const uint8_t* line, size_t len, uint8_t* out);
// Largest output of PackBits for len input bytes.
size_t PackBitsBound(size_t len);

// Removes horizontally adjacent dots for 720-dpi printing: scanning the
// line from the left (most significant bit first), a dot whose left
// neighbour is still set is cleared.
void ThinDots(uint8_t* line, size_t len);

}  // namespace quilldot

#endif  // QUILL_DOTFILTER_DOT_BAND_H_
