// page_transform.h - geometry steps of the page pipeline: quarter and half
// turns, the in-place offset and the back-side turn.
//
// Every function works on the pixels a RASTER_INFO describes: row y starts at
// img_p + y * pitch and holds `width` pixels of `bpp` bits, most significant
// bits first for depths below 8. The two exported functions are declared in
// quill/libquill.h as well; this header adds the library-internal helpers.
#ifndef QUILL_LIB_DOCUMENT_PAGE_TRANSFORM_H_
#define QUILL_LIB_DOCUMENT_PAGE_TRANSFORM_H_

#include <array>
#include <cstdint>
#include <vector>

#include "quill/libquill.h"

// Bytes that hold the `width` pixels of one row: (width * bpp + 7) / 8.
uint64_t RasterRowBytes(const RASTER_INFO& raster);

// True when the raster can be walked row by row: pixels present, width and
// height nonzero, a depth of 1, 2, 4, 8, 16, 24 or 32 bits and a positive
// pitch of at least RasterRowBytes. Every step below leaves a raster that
// fails this check alone.
bool RasterIsWalkable(const RASTER_INFO& raster);

// Rotation by `angle` degrees (clockwise as the page is printed).
//   90, 270: the page is turned into `buffer` (resized to pitch * height of
//            the result; owned by the caller, who keeps it alive as long as
//            the raster is used) and `raster` is repointed at it with the new
//            width, height and pitch; param.page_length becomes
//            y_unit * new height / y_res. Resolutions are not exchanged.
//            Depths FreeImage cannot turn (2, 4, 16) leave everything as it
//            was, with a warning.
//   180:     the pixels are turned in place (rows exchanged and mirrored).
//   other:   nothing.
// Logs "rotate <angle>" for every call.
void RotateRaster(RASTER_INFO& raster, int angle, CONV_PARAM2& param, std::vector<uint8_t>& buffer);

// Turns the pixels by 180 degrees in place: row i is exchanged with row
// height - 1 - i and every row is mirrored pixel by pixel, for every depth
// RasterIsWalkable accepts. Padding bits and bytes after the last pixel of a
// row are left as they were (sub-byte depths: set to 0). Returns false (and
// changes nothing) for a raster that is not walkable.
bool TurnRaster180(RASTER_INFO& raster);

// Exported. RotateRaster with a buffer of the calling thread: the rotated
// pixels stay valid until the same thread turns another page by a quarter
// turn through this function. Document processors use their own buffers.
void DoRotation(RASTER_INFO& raster, int angle, CONV_PARAM2& param);

// Exported. Moves the content by offset[0] pixels right and offset[1] rows
// down, in place; uncovered pixels become 255 (white). Offsets beyond the
// raster whiten the whole raster. Depths of 8 bits or less are not moved
// ("unsupported bpp" warning); (0, 0) does nothing.
void DoOffsetting(RASTER_INFO& raster, const std::array<int, 2>& offset);

#endif  // QUILL_LIB_DOCUMENT_PAGE_TRANSFORM_H_
