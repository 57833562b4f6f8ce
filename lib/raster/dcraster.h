/*
 * dcraster.h (internal) - building blocks of the token-deflate encoder.
 *
 * The public interface is include/quill/dcraster.h. The helpers here are
 * the per-format pieces the encoder selects at its first row; they are
 * declared for the unit tests and the benchmark, not exported.
 *
 * Planes: `planes[i]` points to the row of plane i, one byte per pixel; the
 * colour planes come first (K; R G B; C M Y K), the object plane last.
 */
#ifndef QUILL_LIB_RASTER_DCRASTER_H_
#define QUILL_LIB_RASTER_DCRASTER_H_

#include "quill/dcraster.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char BYTE;

/* Size of the deflate output buffer: the largest callback delivery of the
   compressed stream. */
enum { DCRASTER_ZBUF_SIZE = 32768 };

/* Run helpers over planes 0 .. n-1: the number of consecutive pixels from
   `start`, before `end`, whose every compared plane equals its value at
   `start`; at least 1 (also when start + 1 >= end).
   Requires: 0 <= start < end, every compared plane has `end` bytes. */
int _dcraster_runLength1(BYTE** planes, int start, int end);
int _dcraster_runLength2(BYTE** planes, int start, int end);
int _dcraster_runLength3(BYTE** planes, int start, int end);
int _dcraster_runLength4(BYTE** planes, int start, int end);

/* Literal copiers: write `count` pixels from `start` into `dst` in the
   format's literal layout and return the bytes written (count * planes).
   "inv" variants complement every colour byte; the object plane is copied
   as it is. Planar layouts write each plane's run of bytes in turn; the
   interleaved ones write R G B triples pixel by pixel (then the object
   bytes). Requires: dst has room for the result. */
int _dcraster_literalCopy_K(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_Kinv(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_KO(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_KOinv(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_pRGB(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_pRGBinv(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_iRGB(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_iRGBinv(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_pRGBO(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_pRGBOinv(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_iRGBO(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_iRGBOinv(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_pCMYK(BYTE* dst, BYTE** planes, int start, int count);
int _dcraster_literalCopy_pCMYKinv(BYTE* dst, BYTE** planes, int start, int count);

/* Starts the stream: opens the deflate state at the record's level, selects
   the format (run helper, literal copier, inversion and blank values) and
   sends the header lines. Returns 0, or 1 (nothing sent) when zlib could not
   open the stream. Requires: no row encoded yet. */
int _dcraster_begin(DCRASTER_t* dcr);

/* Encodes one row of planes into dcr->token_buf and returns the token
   bytes. Requires: the format has been selected by _dcraster_begin. */
int _dcraster_tokenize(DCRASTER_t* dcr, BYTE** planes);

/* Compresses `len` token bytes of the current row (finishing the stream on
   the last row), delivers the output and advances currentLine. */
void _dcraster_compress_row(DCRASTER_t* dcr, BYTE* tokens, int len);

#ifdef __cplusplus
}
#endif

#endif /* QUILL_LIB_RASTER_DCRASTER_H_ */
