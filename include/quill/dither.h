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
   the kernel: 0 Stucki, 1 Sierra, 2 Jarvis-Judice-Ninke. Inputs of other
   than 8 bits per pixel are converted to an 8-bit grey copy; an 8-bit
   minimum-is-white input is inverted IN PLACE first. Images narrower than 5
   pixels come from the one-dimensional edge and line passes alone.
   Deterministic: the generator restarts at 0 on every call. Returns null for
   a null input or a kernel other than 0, 1, 2. */
FIBITMAP* STUCKI_Sierra_Jarvis_bidir(FIBITMAP* dib, int function);

/* As STUCKI_Sierra_Jarvis_bidir, every line left to right. */
FIBITMAP* STUCKI_Sierra_Jarvis(FIBITMAP* dib, int function);

/* One-directional Floyd-Steinberg-style error diffusion. */
FIBITMAP* FloydSteinberg(FIBITMAP* dib);

/* Random 8 x 8 pattern dither (seeded from the clock with srand: differs
   from run to run and reseeds the process's rand()). A pixel of level
   L = grey >> 2 (0..63) takes a random pattern with round((63 - L) * 64 / 63)
   inked cells, so grey 255 stays white and grey 0 black. Inputs of 4, 8, 16
   (5-5-5 or 5-6-5), 24 and 32 bits per pixel; other depths print black.
   Returns a clone of a one-bit input, null for a null input or when the
   result cannot be allocated. */
FIBITMAP* my_dither(FIBITMAP* dib);

/* Ordered (screen) dither of 8-bit grey pixels psr[y * pitch + x] with one
   of four clustered-dot tiles: idx 0 136x136 at 105 deg, 1 140x140 at 72
   deg, 2 130x130 at 0 deg, anything else 128x128 at 45 deg. Grey 255 is
   always white, 0 always black. Row y of psr becomes scan line y. Returns
   null for a null psr or an empty image. */
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

/* ---- Even-toned screening (ETS) ------------------------------------------
   A Floyd-Steinberg error diffusion whose decision is biased by the distance
   to the nearest dot already printed and modulated by a fixed noise matrix.
   Intensities inside the engine are ink amounts in 16.16 fixed point
   (65536 = one full output level step). */

/* Input polarity. */
typedef enum {
  ETS_BLACK_IS_ZERO = 0, /* input 0 is black (full ink), 255 no ink */
  ETS_BLACK_IS_ONE = 1   /* input values are ink amounts */
} ETS_POLARITY;

/* How much ets_new writes to ETS_Params.dump_file. */
typedef enum {
  ETS_DUMP_MINIMAL = 0, /* header only */
  ETS_DUMP_PARAMS = 1,  /* + the ETS_Params record as it lies in memory */
  ETS_DUMP_LUTS = 2,    /* + 256 int32 lut entries per plane */
  ETS_DUMP_INPUT = 3,   /* (nothing further is written) */
  ETS_DUMP_ALL = 4
} ETS_DumpLevel;

typedef unsigned char ETS_SrcPixel;

/* Parameters, filled by the caller and read by ets_new only (the context
   keeps copies of what it needs; the caller may free them afterwards). */
typedef struct {
  int width;             /* pixels per line, > 0 */
  int n_planes;          /* number of planes, > 0 */
  int levels;            /* output levels per pixel, >= 2 (2 = on/off) */
  int** luts;            /* per plane 256 entries, input byte -> 8.24 value
                            (0..16777216); null: linear ramp */
  double distscale;      /* expected dot distance scale; 0 = from aspect */
  int aspect_x;          /* pixel aspect ratio, x part (> 0) */
  int aspect_y;          /* pixel aspect ratio, y part (> 0) */
  int* strengths;        /* per plane coupling strength in 1/256; null = 0 */
  int rand_scale;        /* subtracted from every noise shift */
  int* c1_scale;         /* per plane, subtracted from the distance scale
                            exponent; may be null */
  int ets_style;         /* how the distance bias enters the decision */
  int r_style;           /* noise: 0 none, 1 noise matrix, 2 generator */
  FILE* dump_file;       /* diagnostic dump; may be null. Closed by ets_free */
  ETS_DumpLevel dump_level;
  int** rand_scale_luts; /* per plane 256 noise amplitudes; may be null */
  ETS_POLARITY polarity;
} ETS_Params;

/* Per-plane state. All buffers are owned by the context. */
typedef struct _ETS_PlaneCtx {
  int width;
  uchar* dst_line;      /* not used */
  int* err_line;        /* error of the previous line, width ints */
  int* r_line;          /* distance state per column: squared distance */
  int* a_line;          /*   its increment along the line */
  int* b_line;          /*   its increment across lines */
  int* lut;             /* 256: input byte -> ink amount 0..65536 */
  int* dist_lut;        /* 256: expected squared dot distance, scaled */
  signed char* rs_lut;  /* 256: noise shift per input byte */
  int c1;               /* distance scale exponent */
  int tm_offset;        /* column offset into the noise matrix */
} ETS_PlaneCtx;

/* Screening context: made by ets_new, owned by its caller, released by
   ets_free. Carries the state of one image from line to line. */
typedef struct _ETS_Ctx {
  int width;
  int n_planes;
  int levels;
  ETS_PlaneCtx** plane_ctx; /* n_planes plane contexts */
  int aspect_x;
  int aspect_y;
  int* strengths;           /* private copy, n_planes ints */
  int elo;                  /* clamp range of the biased error */
  int ehi;
  int* c_line;              /* coupling line, width ints */
  int ets_style;
  int r_style;
  uint32_t seed1;           /* generator state (r_style 2) */
  uint32_t seed2;
  FILE* dump_file;
  ETS_DumpLevel dump_level;
  int y;                    /* lines screened so far */
  int tmwid;                /* noise matrix size (256 x 256) */
  int tmheight;
  const signed char* tmmat; /* noise matrix, static data */
} ETS_Ctx;

/* Builds a context from `params`. Returns null (and logs an error) when the
   parameters are unusable: null params, an aspect ratio without a known
   distance scale while distscale is 0 (the message "aspect ratio of X:Y not
   supported"), width or planes below 1, levels outside 2..256, an aspect
   part outside 1..64, a distance scale exponent c1 outside -14..16, or an
   allocation failure. The initial error line draws from rand(), so two
   contexts on the same input differ unless the caller reseeds with srand().
   When params->dump_file is set, a header (and by dump_level the parameter
   record and luts) is written to it and the context takes it over: ets_free
   closes it. Without a context (null result) the stream stays the
   caller's. */
ETS_Ctx* ets_new(const ETS_Params* params);

/* Screens one line of every plane and advances the context by one line.
   src[p] holds width input bytes of plane p; dest[p] receives width output
   values 0..levels-1. Call once per line, in order. A null context does
   nothing. */
void ets_line(ETS_Ctx* etc, uchar** dest, const ETS_SrcPixel* const* src);

/* Releases the context and everything it owns; closes dump_file. Null is
   accepted. */
void ets_free(ETS_Ctx* ctx);

/* Returns a block of at least `size` usable bytes at an address that is a
   multiple of 16 (`align` is not consulted), or null. Release it with
   ets_free_aligned only. */
void* ets_malloc_aligned(int size, int align);

/* Releases a block from ets_malloc_aligned; null is accepted. */
void ets_free_aligned(void* p);

/* Even-toned screening of an interleaved 8-bit image of `channel` planes
   (pin[y * src_pitch + x * channel + j], 0 = black) into rows of dst_pitch
   bytes at pout + y * dst_pitch: one plane gives packed one-bit rows (bit 1 =
   no ink, trailing bits 0), several planes give interleaved bytes (0 = ink,
   255 = none). Returns 0, or -1 when the screening context cannot be made
   (then pout is untouched). */
int ETS_dither_main(const uint8_t* pin, uint8_t* pout, int width, int height, uint8_t channel,
                    int src_pitch, int dst_pitch);

/* Even-toned screening of a bitmap (converted to 8-bit grey first). Returns
   a new one-bit bitmap (ink = bit 0), or null on failure or a null input. */
FIBITMAP* ets_dither(FIBITMAP* src_dib);

#ifdef __cplusplus
}
#endif

#endif /* QUILL_DITHER_H_ */
