/*
 * libquill.h - the C interface of libquillcore.
 *
 * A host creates a document processor by class name, hands it one page
 * raster at a time and receives the printer command bytes through the write
 * callback of its conversion parameters. Every function here has C linkage
 * and works on plain records, so the header compiles as C99 and as C++17.
 *
 * Ownership, for every function below unless stated otherwise:
 *   - The caller owns RASTER_INFO records, their pixels, the CONV_PARAM2
 *     records and the option strings they point to.
 *   - A processor keeps a copy of the CONV_PARAM2 it was last given, but the
 *     copy holds the caller's `options` pointer: the option string must stay
 *     valid and unchanged until the next call that passes new parameters, or
 *     until DocProc_Release.
 *   - Pixels must stay valid for the duration of the call that receives them;
 *     no pointer to them is kept afterwards. Some page options change the
 *     caller's page during a page call: a half-turn rotation ("rotate=180")
 *     and an offset rewrite the pixels in place, and a quarter turn
 *     ("rotate=90"/"rotate=270") repoints the record's img_p, width, height
 *     and pitch at a rotated copy held by the processor (valid until its
 *     next quarter turn or DocProc_Release). A caller that reuses a raster
 *     with any of these configured fills it anew before the next call.
 *     Gamma, colour management and the turning of back sides work on the
 *     library's own copies.
 *   - The library owns the processor behind a handle until DocProc_Release.
 *
 * Threads: every call runs on the caller's thread, calls the write callback
 * synchronously and returns when done. One handle must not be used from two
 * threads at once.
 *
 * Logging: the library writes its records into the process's logger named
 * "quill" (spdlog registry) when the host has registered one, and drops them
 * otherwise. It never writes to stdout or stderr on its own.
 */
#ifndef QUILL_LIBQUILL_H_
#define QUILL_LIBQUILL_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Receives printer bytes: writes `len` bytes and returns the count written.
   Results are not examined by the library. */
typedef int (*write_callback)(void* hdl, const void* data, unsigned int len);

/* Cancellation query: returns nonzero when the job is to stop. */
typedef int (*request_exit_callback)(void* param);

/* Reads up to `len` bytes of input into `buf`; returns the count read, and
   0 or less at the end of the input. */
typedef int (*read_callback)(void* hdl, void* buf, unsigned int len);

/* One page of pixels, owned by the caller. */
typedef struct RASTER_INFO_T {
  uint8_t* img_p;         /* first byte of the top pixel row */
  uint32_t width;         /* pixels per row */
  uint32_t height;        /* rows */
  int32_t pitch;          /* bytes from one row to the next */
  uint16_t x_res;         /* dots per inch, horizontal */
  uint16_t y_res;         /* dots per inch, vertical */
  uint8_t bpp;            /* bits per pixel; 24/32-bit pixels are B, G, R */
  uint32_t palette[256];  /* for bpp <= 8: entry i = bytes B, G, R, reserved */
} RASTER_INFO;

/* Shingling (interleaved-pass) modes of CONV_PARAM2.shingling. */
enum {
  SHINGLING_NONE = 0,
  SHINGLING_LINE = 1,
  SHINGLING_HALF_BAND = 2,
  SHINGLING_HALF_BAND_DYNA = 3,
  SHINGLING_QUARTER_BAND = 4,
  SHINGLING_QUARTER_BAND_DYNA = 5
};

/* Duplex modes of the "duplex" option. */
enum {
  DUPLEX_NONE = 0,
  DUPLEX_HORIZONTAL = 1,
  DUPLEX_VERTICAL = 2
};

/* Conversion parameters, copied by the processor at every call that takes
   them. */
typedef struct CONV_PARAM2_T {
  uint16_t shingling;                /* SHINGLING_* */
  uint16_t x_unit;                   /* horizontal command units per inch */
  uint16_t y_unit;                   /* vertical command units per inch */
  uint16_t num_pins;                 /* head height in y_unit units */
  write_callback wr_cb;              /* printer output; null discards it */
  void* wr_hdl;                      /* first argument of wr_cb */
  request_exit_callback req_exit_cb; /* cancellation query */
  void* req_exit_cb_param;           /* argument of req_exit_cb */
  uint32_t page_length;              /* page length in y_unit units, 0: unknown */
  const char* options;               /* "key=value:key=value", may be null */
} CONV_PARAM2;

/* Parameters of the print-data stream conversion (process_print_data). The
   function writes `shingling` and `prefer_unidir` back when the stream asks
   for them. */
typedef struct CONV_PARAM_T {
  uint16_t shingling;                /* SHINGLING_*, set by a scale/method command */
  uint16_t x_unit;                   /* unit of the page head's width */
  uint16_t y_unit;                   /* unit of the page head's height and feeds */
  uint16_t num_pins;                 /* head height passed on */
  read_callback rd_cb;               /* source of the stream */
  void* rd_hdl;                      /* first argument of rd_cb */
  write_callback wr_cb;              /* sink of all output */
  void* wr_hdl;                      /* first argument of wr_cb */
  request_exit_callback req_exit_cb; /* cancellation query, may be null */
  void* req_exit_cb_param;           /* argument of req_exit_cb */
  uint32_t prefer_unidir : 1;        /* print unidirectionally */
  uint32_t time_stamp : 1;           /* ask for the time-stamp record */
} CONV_PARAM;

/* Bounds of the pages the library prints. No printer it drives takes a
   sheet with a side over 2 m or prints finer than 2880 dpi, and the largest
   sheet it supports (a 14.875 x 11 inch continuous form at 720 dpi, 24 bits
   per pixel: 85 million pixels, 254 MB) stays well inside the pixel and byte
   bounds, which only keep a corrupt or hostile size from making the library
   allocate and screen gigabytes. A raster handed to DocProc_ProcessPage(2),
   convert_raster_to_command or an image page, and a page head of
   process_print_data, is refused (a warning record "raster refused: ..." or
   "page head refused: ...", nothing printed, nothing allocated for it) when
   - x_res or y_res is above QUILL_MAX_RESOLUTION,
   - width is above quill_max_side_pixels(x_res) or height above
     quill_max_side_pixels(y_res) (for a non-zero resolution; a zero one is
     refused by the page operation itself),
   - width x height is above QUILL_MAX_PAGE_PIXELS, or
   - |pitch| x height is above QUILL_MAX_PAGE_BYTES.
   All products are taken in 64 bits. */
enum {
  QUILL_MAX_RESOLUTION = 2880,      /* dots per inch, each direction */
  QUILL_MAX_SIDE_MM = 2000,         /* longest side of a printable sheet */
  QUILL_MAX_PAGE_PIXELS = 1 << 30,  /* width x height */
  QUILL_MAX_PAGE_BYTES = 1 << 30    /* |pitch| x height */
};

/* Pixels along a side of QUILL_MAX_SIDE_MM at `dpi` dots per inch:
   floor(2000 mm x dpi / 25.4 mm); 226771 at 2880 dpi. */
static inline uint32_t quill_max_side_pixels(uint32_t dpi) {
  return (uint32_t)((uint64_t)dpi * (QUILL_MAX_SIDE_MM * 10u) / 254u);
}

/* Creates the document processor named by `name`: one of
   "DocumentProcessInk1", "DocumentProcessInk2", "DocumentProcessInk3",
   "DocumentProcessThermal", "DocumentProcessDot24" (exact, case-sensitive).
   Requires: param != NULL. Returns the handle, or NULL for any other name.
   The caller releases the handle with DocProc_Release. */
void* DocProc_GetObject(const char* name, const CONV_PARAM2* param);

/* Destroys the processor. A NULL handle only logs "invalid object". */
void DocProc_Release(void* obj);

/* Applies new parameters: copies *param and re-reads the option string. */
void DocProc_Update(void* obj, const CONV_PARAM2* param);

/* Starts the document: writes the initialisation, duplex and configured
   start-of-document bytes. */
void DocProc_StartDoc(void* obj);

/* DocProc_Update(obj, param), then DocProc_StartDoc(obj). */
void DocProc_StartDoc2(void* obj, const CONV_PARAM2* param);

/* Converts one page (all its copies). Returns 0 on success, -1 when the
   raster is rejected (beyond the bounds above, or refused by the page
   operation) or the handle is NULL. */
int DocProc_ProcessPage(void* obj, const RASTER_INFO* raster);

/* DocProc_Update(obj, param), then DocProc_ProcessPage(obj, raster). */
int DocProc_ProcessPage2(void* obj, const CONV_PARAM2* param, const RASTER_INFO* raster);

/* Ends the document: writes the configured end bytes and the printer's
   termination sequence. Only the first EndDoc after a StartDoc writes. */
void DocProc_EndDoc(void* obj);

/* 1 when the document has been started and not yet ended, else 0 (also for
   a NULL handle). */
int DocProc_HasNotEnd(void* obj);

/* Loads the image file `img_path` and prints it as one page at the given
   resolution. When the processor's page length is 0 it becomes the
   picture's height. Returns the page result, or -1 when the handle is NULL
   or the file cannot be loaded. */
int DocProc_ProcessImagePage(void* obj, const char* img_path,
                             unsigned short x_res, unsigned short y_res);

/* As DocProc_ProcessImagePage, rotating the picture by `rotate` degrees
   first and leaving the page length as it is. */
int DocProc_ProcessImagePage2(void* obj, const char* img_path,
                              unsigned short x_res, unsigned short y_res,
                              double rotate);

/* Converts one raster into a complete one-page job (document start and end
   commands included) through a DocumentProcessInk1. Returns the page
   result. */
int convert_raster_to_command(const CONV_PARAM2* param, const RASTER_INFO* raster);

/* Converts a marked-up print-data stream read through param->rd_cb until it
   ends or cancellation is requested. Returns 0, or 1 when a page head, block
   head or block data was incomplete. */
int process_print_data(CONV_PARAM* param);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
#include <array>

/* Page geometry helpers, exported with C++ linkage. */

/* Rotates the page by `angle` degrees, clockwise as printed. 90 and 270 turn
   the pixels into a buffer of the library and repoint `raster` at it (new
   width, height and pitch; resolutions are kept) and set param.page_length
   to y_unit * new height / y_res; that buffer belongs to the calling thread
   and stays valid until the thread's next quarter turn through this
   function. 180 turns the caller's pixels in place. Other angles do
   nothing. A raster without pixels, with a zero size or a pitch shorter
   than a row is left alone. */
void DoRotation(RASTER_INFO& raster, int angle, CONV_PARAM2& param);

/* Moves the content of a 16-, 24- or 32-bit raster in place by offset[0]
   pixels to the right and offset[1] rows down (negative values: left, up);
   uncovered pixels become white (255). Rasters of 8 bits or less are left
   unchanged. */
void DoOffsetting(RASTER_INFO& raster, const std::array<int, 2>& offset);
#endif

#endif /* QUILL_LIBQUILL_H_ */
