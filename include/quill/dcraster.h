/*
 * dcraster.h - the token-deflate raster encoder of libquillcore.
 *
 * Encodes an image, one row at a time, into a self-describing raster object:
 * text header lines (size, pixel format, inversion, compression), the rows as
 * run-length tokens compressed into one zlib stream, and an end line. Every
 * output byte leaves through the record's callback as soon as it exists, so
 * the encoder needs no image-sized buffer: its memory is one row of tokens
 * (nChannels * width + 8 bytes), one 32 KiB deflate output buffer and zlib's
 * own fixed state, whatever the height.
 *
 * Stream, in callback order (every header line is exactly one call):
 *   "DCRASTER v1.0\n", "ImageSize <w> <h>\n", "ImageFormat <fmt>\n",
 *   "WhiteIs000\n" (only when whiteIs0), "Deflate\n", "ImageBegin\n",
 *   the zlib stream in calls of at most 32768 bytes, "ImageEnd\n".
 *
 * Row tokens (the uncompressed zlib content): a 16-bit little-endian count
 * of pixels (a multiple of 4) and a 16-bit type, then
 *   type 0 literal:    count * nChannels bytes in the format's layout,
 *   type 1 blank run:  nothing (every plane equals its blank value),
 *   type 2 colour run: 4 bytes, plane 0..3 of the pixel XOR its inversion
 *                      mask (bytes beyond nChannels are 0).
 *
 * Functions with C linkage, exported from libquillcore. A record is used by
 * one thread at a time; records share nothing.
 */
#ifndef QUILL_DCRASTER_H_
#define QUILL_DCRASTER_H_

#include <zlib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum DCRASTER_COLORSPACE_T {
  DCRASTER_COLORSPACE_grayscale = 0,
  DCRASTER_COLORSPACE_rgb = 1,
  DCRASTER_COLORSPACE_cmyk = 2,
  DCRASTER_COLORSPACE_last = 3
} DCRASTER_COLORSPACE_t;

/* With DCRASTER_OBJECTTYPE_enable every row carries one more plane, the
   object plane, after the colour planes; it is never inverted. */
typedef enum DCRASTER_OBJECTTYPE_T {
  DCRASTER_OBJECTTYPE_disable = 0,
  DCRASTER_OBJECTTYPE_enable = 1,
  DCRASTER_OBJECTTYPE_last = 2
} DCRASTER_OBJECTTYPE_t;

typedef enum DCRASTER_COMPRESSIONFORMAT_T {
  DCRASTER_COMPRESSIONFORMAT_tokenDeflate = 0,
  DCRASTER_COMPRESSIONFORMAT_last = 1
} DCRASTER_COMPRESSIONFORMAT_t;

/* Receives `size` encoded bytes at `data`; the bytes are valid only during
   the call. */
typedef void (*DCRASTER_CALLBACK)(int size, unsigned char* data);

/* As DCRASTER_CALLBACK, with the context pointer given at creation. */
typedef void (*DCRASTER_CONTEXT_CALLBACK)(void* context, int size, unsigned char* data);

/* Widest row: the token count field is 16 bits and counts are multiples
   of 4. */
enum { DCRASTER_MAX_WIDTH = 65532 };

/* Tallest image: a 2 m sheet at 2880 dpi, the bounds of libquill.h
   (quill_max_side_pixels(QUILL_MAX_RESOLUTION)). dcraster_delete pads the
   missing rows of an image, so an absurd height would cost that many rows of
   work even when no row is ever added. */
enum { DCRASTER_MAX_HEIGHT = 226771 };

/* Encoder state. Created by dcraster_create, freed by dcraster_delete. The
   caller may set planar, deflateEffort and whiteIs0 between creation and
   the first row; everything else belongs to the encoder. */
typedef struct DCRASTER_T {
  int width;                     /* pixels per row, a multiple of 4 */
  int height;                    /* rows of the image */
  DCRASTER_COLORSPACE_t colorSpace;
  DCRASTER_COMPRESSIONFORMAT_t compressionFormat;  /* always tokenDeflate */
  DCRASTER_OBJECTTYPE_t objectType;
  unsigned char blankObjectTypeCode;  /* object-plane value of a blank pixel */
  DCRASTER_CALLBACK compressedDataCallback;  /* receives every output byte;
                                                null when created with a
                                                context callback */
  int planar;          /* RGB literals planar (nonzero, default) or interleaved */
  int deflateEffort;   /* zlib level, default 9; clamped into -1..9 */
  int whiteIs0;        /* selects the inversion and "WhiteIs000"; default 1 */
  int currentLine;     /* rows encoded so far; 0 until the header is sent */
  z_stream zstream;    /* one deflate stream for the whole image */
  unsigned char* z_out;         /* deflate output buffer, 32768 bytes */
  unsigned char* token_buf;     /* one row of tokens: nChannels * width + 8 bytes */
  int nChannels;       /* planes per row, object plane included */
  int widthAlign4;     /* pixels per row as encoded; equal to width */
  unsigned char colorBlank[5];  /* per-plane input value of a blank pixel */
  unsigned char invert[5];      /* per-plane XOR mask of colour-run values */
  /* Run helper of the format: pixels from start, before end, equal to the
     one at start in every compared plane (at least 1). */
  int (*fPtr_runLength)(unsigned char** planes, int start, int end);
  /* Literal copier of the format: writes count pixels from start in the
     literal layout; returns the bytes written. */
  int (*fPtr_literalCopy)(unsigned char* dst, unsigned char** planes, int start,
                          int count);
  DCRASTER_CONTEXT_CALLBACK contextCallback;  /* used instead of
                                                compressedDataCallback when
                                                not null */
  void* callbackContext;  /* first argument of contextCallback */
  int zstreamOpen;        /* deflate state initialised */
} DCRASTER_t;

/* Creates an encoder; writes nothing. Returns null, allocating nothing, when
   width <= 0, width is not a multiple of 4, width > DCRASTER_MAX_WIDTH,
   height <= 0, height > DCRASTER_MAX_HEIGHT, colorSpace or objectType is out of range, compressionFormat
   is not tokenDeflate, the callback is null, CMYK is combined with an object
   plane, or memory runs out. Defaults: planar 1, deflateEffort 9,
   whiteIs0 1. The caller frees the record with dcraster_delete. */
DCRASTER_t* dcraster_create(int width, int height, DCRASTER_COLORSPACE_t colorSpace,
                            DCRASTER_COMPRESSIONFORMAT_t compressionFormat,
                            DCRASTER_OBJECTTYPE_t objectType,
                            unsigned char blankObjectTypeCode,
                            DCRASTER_CALLBACK compressedDataCallback);

/* As dcraster_create, delivering the output to callback(context, ...), so
   that several encoders in one process each reach their own receiver. */
DCRASTER_t* dcraster_create_with_context(int width, int height,
                                         DCRASTER_COLORSPACE_t colorSpace,
                                         DCRASTER_COMPRESSIONFORMAT_t compressionFormat,
                                         DCRASTER_OBJECTTYPE_t objectType,
                                         unsigned char blankObjectTypeCode,
                                         DCRASTER_CONTEXT_CALLBACK callback, void* context);

/* Add one row. Every plane points to `width` bytes, one per pixel; `o` is
   the object plane, read only when the record has one. The first row sends
   the header. Return 0 when the row was encoded, 1 without doing anything
   when the record is null or of another colour space, a needed plane is
   null, all `height` rows were already added, or the deflate stream could
   not be opened. */
int dcraster_grayscale_add(DCRASTER_t* dcr, unsigned char* k, unsigned char* o);
int dcraster_rgb_add(DCRASTER_t* dcr, unsigned char* r, unsigned char* g, unsigned char* b,
                     unsigned char* o);
int dcraster_cmyk_add(DCRASTER_t* dcr, unsigned char* c, unsigned char* m, unsigned char* y,
                      unsigned char* k, unsigned char* o);

/* Adds n blank rows (at most up to `height` in all). Before the first row,
   any n but 0 sends the header (so a negative n only starts the object);
   n <= 0 adds no row. Returns 0 (1 for a null record). */
int dcraster_blank_add(DCRASTER_t* dcr, int n);

/* Completes the image (missing rows become blank rows, the header is sent
   if it was not), sends "ImageEnd\n" and frees the record. A null record is
   ignored. Returns 0. */
int dcraster_delete(DCRASTER_t* dcr);

#ifdef __cplusplus
}
#endif

#endif /* QUILL_DCRASTER_H_ */
