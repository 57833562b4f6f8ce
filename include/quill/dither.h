/*
 * dither.h - the halftoners of libquillcore.
 *
 * Every halftoner takes a FreeImage bitmap and returns a NEW one-bit bitmap
 * of the same size, owned by the caller and released with FreeImage_Unload.
 * Result bitmaps: palette entry 0 black, entry 1 white (a set bit is paper),
 * pixels packed most significant bit first, trailing bits of a row 0.
 * Grey convention of the inputs: 0 is black, 255 white.
 *
 * Functions with C linkage, exported from libquillcore.
 */
#ifndef QUILL_DITHER_H_
#define QUILL_DITHER_H_

#include <stdint.h>
#include <stdio.h>

#include <FreeImage.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char uchar;

/* Adaptive-threshold error diffusion, serpentine scan. `function` selects
   the kernel: 0 Stucki, 1 Sierra, 2 Jarvis-Judice-Ninke. Requires an input
   of 8 bits per pixel or more (deeper inputs are converted to grey) and at
   least 5 pixels wide for the kernel pass. A minimum-is-white input of 8
   bits or less is inverted IN PLACE first. Deterministic: the generator
   restarts at 0 on every call. */
FIBITMAP* STUCKI_Sierra_Jarvis_bidir(FIBITMAP* dib, int function);

/* As STUCKI_Sierra_Jarvis_bidir, every line left to right. */
FIBITMAP* STUCKI_Sierra_Jarvis(FIBITMAP* dib, int function);

/* One-directional Floyd-Steinberg-style error diffusion. */
FIBITMAP* FloydSteinberg(FIBITMAP* dib);

/* Random 8 x 8 pattern dither (seeded from the clock: differs from run to
   run). Returns a clone of a one-bit input, null when the result cannot be
   allocated. */
FIBITMAP* my_dither(FIBITMAP* dib);

/* Ordered (screen) dither of 8-bit grey pixels psr[y * pitch + x] with one
   of four clustered-dot tiles: idx 0 136x136 at 105 deg, 1 140x140 at 72
   deg, 2 130x130 at 0 deg, anything else 128x128 at 45 deg. */
FIBITMAP* ordered_dither(int idx, const uint8_t* psr, uint32_t width, uint32_t height,
                         uint32_t pitch);

/* ordered_dither with the 128 x 128 tile on a grey copy of dib_src. */
FIBITMAP* ordered_dither_single(FIBITMAP* dib_src);

/* Interleaves `planes` byte lines of `xs` pixels into `fo`:
   fo[x * planes + j] = obufs[j][x]. image_ctx is ignored. */
void write_pam_line(uchar** obufs, int xs, uchar* fo, int planes, void* image_ctx);

/* Packs obufs[0] into (xs + 7) / 8 bytes of `fo`: bit set where the byte is
   nonzero, MSB first. */
void write_pam_line_1bit(uchar** obufs, int xs, uchar* fo, int planes, void* image_ctx);

/* Even-toned screening of a bitmap (converted to 8-bit grey first). */
FIBITMAP* ets_dither(FIBITMAP* src_dib);

/* Even-toned screening of an interleaved 8-bit image of `channel` planes
   into packed one-bit rows of dst_pitch bytes. Returns 0. */
int ETS_dither_main(const uint8_t* pin, uint8_t* pout, int width, int height, uint8_t channel,
                    int src_pitch, int dst_pitch);

#ifdef __cplusplus
}
#endif

#endif /* QUILL_DITHER_H_ */
