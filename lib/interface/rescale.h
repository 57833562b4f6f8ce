// rescale.h - scale-down of one-bit page images.
//
// Used by the print-data stream conversion for its scale factors. The image
// is scaled with a bilinear filter, halftoned back to one bit with
// Floyd-Steinberg error diffusion, and the rows that were blank above and
// below the content of the source are cleared again in the result, so the
// filter's blur never leaves dots in empty margins.
#ifndef QUILL_LIB_INTERFACE_RESCALE_H_
#define QUILL_LIB_INTERFACE_RESCALE_H_

#include <cstdint>

// Scales the one-bit image at src_p (src_width x src_height pixels, rows of
// src_pitch bytes, most significant bit first, rows top-down, a set bit is a
// dot) to dst_width x dst_height pixels in the same format.
//
// Requires: src_p holds src_height rows of src_pitch bytes, and
// src_pitch * 8 >= src_width. The source is only read.
// Returns a new buffer of *dst_pitch_p * dst_height bytes from malloc (the
// caller releases it with free) and stores its row pitch in *dst_pitch_p;
// returns null, with a warning record, when a size is 0 or a step fails.
//
// Debug files: when the environment variable LIBQUILL_OUT is set, each
// digit it contains writes one PNG file into the current directory:
// '1' immediate_original.png (the source), '2' immediate_rescaled.png
// (scaled, before halftoning), '3' immediate_halftone.png (the result).
unsigned char* rescale_image(unsigned char* src_p, uint32_t src_width, uint32_t src_height,
                             uint32_t src_pitch, uint32_t dst_width, uint32_t dst_height,
                             uint32_t* dst_pitch_p);

#endif  // QUILL_LIB_INTERFACE_RESCALE_H_
