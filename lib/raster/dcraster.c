/*
 * dcraster.c - token-deflate raster encoder.
 *
 * Each row becomes a sequence of run and literal tokens on a 4-pixel grid;
 * the tokens of all rows form one zlib stream that leaves through the
 * callback in pieces of at most 32 KiB as deflate produces them.
 */
#include "raster/dcraster.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
  kTokenLiteral = 0,
  kTokenBlankRun = 1,
  kTokenColourRun = 2,
  kTokenHeadSize = 4,     /* count and type, 16 bits each */
  kRunValueSize = 4,      /* plane values of a colour run */
  kMinRun = 32,           /* shortest run that is not folded into a literal */
  kTokenSlack = 8,        /* token bytes beyond nChannels * width */
  kMaxPlanes = 5
};

/* ------------------------------------------------------------------------ */
/* Run helpers */

/* One past the last pixel, before `end`, of the run of equal bytes starting
   at `start` in one plane. Whole 8-byte words are compared while they match
   (the bytes found are the same as a byte-by-byte scan). */
static int PlaneRunEnd(const BYTE* p, int start, int end) {
  const BYTE v = p[start];
  const uint64_t pattern = UINT64_C(0x0101010101010101) * v;
  int i = start + 1;
  while (i + 8 <= end) {
    uint64_t word;
    memcpy(&word, p + i, sizeof word);
    if (word != pattern) break;
    i += 8;
  }
  while (i < end && p[i] == v) ++i;
  return i;
}

int _dcraster_runLength1(BYTE** planes, int start, int end) {
  return PlaneRunEnd(planes[0], start, end) - start;
}

int _dcraster_runLength2(BYTE** planes, int start, int end) {
  int e = PlaneRunEnd(planes[0], start, end);
  e = PlaneRunEnd(planes[1], start, e);
  return e - start;
}

int _dcraster_runLength3(BYTE** planes, int start, int end) {
  int e = PlaneRunEnd(planes[0], start, end);
  e = PlaneRunEnd(planes[1], start, e);
  e = PlaneRunEnd(planes[2], start, e);
  return e - start;
}

int _dcraster_runLength4(BYTE** planes, int start, int end) {
  int e = PlaneRunEnd(planes[0], start, end);
  e = PlaneRunEnd(planes[1], start, e);
  e = PlaneRunEnd(planes[2], start, e);
  e = PlaneRunEnd(planes[3], start, e);
  return e - start;
}

/* ------------------------------------------------------------------------ */
/* Literal copiers */

static BYTE* CopyPlane(BYTE* dst, const BYTE* src, int count) {
  memcpy(dst, src, (size_t)count);
  return dst + count;
}

static BYTE* CopyPlaneInv(BYTE* dst, const BYTE* src, int count) {
  int i;
  for (i = 0; i < count; ++i) dst[i] = (BYTE)~src[i];
  return dst + count;
}

static BYTE* CopyTriples(BYTE* dst, BYTE** planes, int start, int count, BYTE mask) {
  const BYTE* r = planes[0] + start;
  const BYTE* g = planes[1] + start;
  const BYTE* b = planes[2] + start;
  int i;
  for (i = 0; i < count; ++i) {
    dst[0] = (BYTE)(r[i] ^ mask);
    dst[1] = (BYTE)(g[i] ^ mask);
    dst[2] = (BYTE)(b[i] ^ mask);
    dst += 3;
  }
  return dst;
}

/* `colours` planes copied (complemented when `inv`), then, when `object`
   is nonzero, the plane after them as it is. */
static int CopyPlanar(BYTE* dst, BYTE** planes, int start, int count, int colours, int inv,
                      int object) {
  BYTE* out = dst;
  int i;
  for (i = 0; i < colours; ++i) {
    out = inv ? CopyPlaneInv(out, planes[i] + start, count) : CopyPlane(out, planes[i] + start, count);
  }
  if (object) out = CopyPlane(out, planes[colours] + start, count);
  return (int)(out - dst);
}

static int CopyInterleaved(BYTE* dst, BYTE** planes, int start, int count, int inv, int object) {
  BYTE* out = CopyTriples(dst, planes, start, count, inv ? 0xFF : 0x00);
  if (object) out = CopyPlane(out, planes[3] + start, count);
  return (int)(out - dst);
}

int _dcraster_literalCopy_K(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyPlanar(dst, planes, start, count, 1, 0, 0);
}
int _dcraster_literalCopy_Kinv(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyPlanar(dst, planes, start, count, 1, 1, 0);
}
int _dcraster_literalCopy_KO(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyPlanar(dst, planes, start, count, 1, 0, 1);
}
int _dcraster_literalCopy_KOinv(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyPlanar(dst, planes, start, count, 1, 1, 1);
}
int _dcraster_literalCopy_pRGB(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyPlanar(dst, planes, start, count, 3, 0, 0);
}
int _dcraster_literalCopy_pRGBinv(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyPlanar(dst, planes, start, count, 3, 1, 0);
}
int _dcraster_literalCopy_iRGB(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyInterleaved(dst, planes, start, count, 0, 0);
}
int _dcraster_literalCopy_iRGBinv(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyInterleaved(dst, planes, start, count, 1, 0);
}
int _dcraster_literalCopy_pRGBO(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyPlanar(dst, planes, start, count, 3, 0, 1);
}
int _dcraster_literalCopy_pRGBOinv(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyPlanar(dst, planes, start, count, 3, 1, 1);
}
int _dcraster_literalCopy_iRGBO(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyInterleaved(dst, planes, start, count, 0, 1);
}
int _dcraster_literalCopy_iRGBOinv(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyInterleaved(dst, planes, start, count, 1, 1);
}
int _dcraster_literalCopy_pCMYK(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyPlanar(dst, planes, start, count, 4, 0, 0);
}
int _dcraster_literalCopy_pCMYKinv(BYTE* dst, BYTE** planes, int start, int count) {
  return CopyPlanar(dst, planes, start, count, 4, 1, 0);
}

/* ------------------------------------------------------------------------ */
/* Formats */

typedef int (*RunHelper)(BYTE** planes, int start, int end);
typedef int (*LiteralCopier)(BYTE* dst, BYTE** planes, int start, int count);

/* One pixel format of the stream. Grey and RGB colour bytes are inverted
   when whiteIs0 is set, CMYK ones when it is clear; the object plane never
   is, and its blank value is the record's blankObjectTypeCode. */
typedef struct DcrFormat {
  const char* line;            /* "ImageFormat ...\n" */
  int colours;                 /* colour planes */
  int object;                  /* object plane after them */
  RunHelper run;
  LiteralCopier copyWhiteIs0;  /* copier when whiteIs0 != 0 */
  LiteralCopier copyOther;     /* copier when whiteIs0 == 0 */
  BYTE invertWhiteIs0;         /* colour-plane XOR mask when whiteIs0 != 0 */
  BYTE colourBlank;            /* input value of a blank colour plane */
} DcrFormat;

enum { kFormatK, kFormatKO, kFormatPRGB, kFormatIRGB, kFormatPRGBO, kFormatIRGBO, kFormatPCMYK };

static const DcrFormat kFormats[] = {
    {"ImageFormat K\n", 1, 0, _dcraster_runLength1, _dcraster_literalCopy_Kinv,
     _dcraster_literalCopy_K, 0xFF, 0xFF},
    {"ImageFormat K+O\n", 1, 1, _dcraster_runLength2, _dcraster_literalCopy_KOinv,
     _dcraster_literalCopy_KO, 0xFF, 0xFF},
    {"ImageFormat pRGB\n", 3, 0, _dcraster_runLength3, _dcraster_literalCopy_pRGBinv,
     _dcraster_literalCopy_pRGB, 0xFF, 0xFF},
    {"ImageFormat iRGB\n", 3, 0, _dcraster_runLength3, _dcraster_literalCopy_iRGBinv,
     _dcraster_literalCopy_iRGB, 0xFF, 0xFF},
    {"ImageFormat pRGB+O\n", 3, 1, _dcraster_runLength4, _dcraster_literalCopy_pRGBOinv,
     _dcraster_literalCopy_pRGBO, 0xFF, 0xFF},
    {"ImageFormat iRGB+O\n", 3, 1, _dcraster_runLength4, _dcraster_literalCopy_iRGBOinv,
     _dcraster_literalCopy_iRGBO, 0xFF, 0xFF},
    {"ImageFormat pCMYK\n", 4, 0, _dcraster_runLength4, _dcraster_literalCopy_pCMYK,
     _dcraster_literalCopy_pCMYKinv, 0x00, 0x00},
};

static const DcrFormat* SelectFormat(const DCRASTER_t* dcr) {
  const int object = dcr->objectType == DCRASTER_OBJECTTYPE_enable;
  switch (dcr->colorSpace) {
    case DCRASTER_COLORSPACE_grayscale:
      return &kFormats[object ? kFormatKO : kFormatK];
    case DCRASTER_COLORSPACE_rgb:
      if (dcr->planar) return &kFormats[object ? kFormatPRGBO : kFormatPRGB];
      return &kFormats[object ? kFormatIRGBO : kFormatIRGB];
    default:
      return &kFormats[kFormatPCMYK];
  }
}

/* ------------------------------------------------------------------------ */
/* Output */

static void Deliver(DCRASTER_t* dcr, const void* data, int size) {
  if (dcr->contextCallback != NULL) {
    dcr->contextCallback(dcr->callbackContext, size, (unsigned char*)data);
  } else {
    dcr->compressedDataCallback(size, (unsigned char*)data);
  }
}

static void DeliverText(DCRASTER_t* dcr, const char* text) {
  Deliver(dcr, text, (int)strlen(text));
}

static void PutLE16(BYTE* out, unsigned v) {
  out[0] = (BYTE)(v & 0xFF);
  out[1] = (BYTE)((v >> 8) & 0xFF);
}

/* Writes a token head; returns the position after it. */
static BYTE* PutTokenHead(BYTE* out, int count, int type) {
  PutLE16(out, (unsigned)count);
  PutLE16(out + 2, (unsigned)type);
  return out + kTokenHeadSize;
}

/* zlib accepts levels -1 (its default) to 9; anything else would leave the
   object without a stream. */
static int ClampLevel(int level) {
  if (level < Z_DEFAULT_COMPRESSION) return Z_DEFAULT_COMPRESSION;
  if (level > Z_BEST_COMPRESSION) return Z_BEST_COMPRESSION;
  return level;
}

int _dcraster_begin(DCRASTER_t* dcr) {
  const DcrFormat* fmt = SelectFormat(dcr);
  char size_line[64];
  int i;

  memset(&dcr->zstream, 0, sizeof dcr->zstream);
  if (deflateInit(&dcr->zstream, ClampLevel(dcr->deflateEffort)) != Z_OK) return 1;
  dcr->zstreamOpen = 1;

  dcr->fPtr_runLength = fmt->run;
  dcr->fPtr_literalCopy = dcr->whiteIs0 ? fmt->copyWhiteIs0 : fmt->copyOther;
  memset(dcr->invert, 0, sizeof dcr->invert);
  memset(dcr->colorBlank, 0, sizeof dcr->colorBlank);
  for (i = 0; i < fmt->colours; ++i) {
    dcr->invert[i] = dcr->whiteIs0 ? fmt->invertWhiteIs0 : (BYTE)~fmt->invertWhiteIs0;
    dcr->colorBlank[i] = fmt->colourBlank;
  }
  if (fmt->object) dcr->colorBlank[fmt->colours] = dcr->blankObjectTypeCode;

  DeliverText(dcr, "DCRASTER v1.0\n");
  snprintf(size_line, sizeof size_line, "ImageSize %d %d\n", dcr->width, dcr->height);
  DeliverText(dcr, size_line);
  DeliverText(dcr, fmt->line);
  if (dcr->whiteIs0) DeliverText(dcr, "WhiteIs000\n");
  DeliverText(dcr, "Deflate\n");
  DeliverText(dcr, "ImageBegin\n");
  return 0;
}

/* ------------------------------------------------------------------------ */
/* Rows */

static int IsBlankPixel(const DCRASTER_t* dcr, BYTE** planes, int x) {
  int i;
  for (i = 0; i < dcr->nChannels; ++i) {
    if (planes[i][x] != dcr->colorBlank[i]) return 0;
  }
  return 1;
}

static BYTE* PutRun(const DCRASTER_t* dcr, BYTE* out, BYTE** planes, int x, int count) {
  int i;
  if (IsBlankPixel(dcr, planes, x)) return PutTokenHead(out, count, kTokenBlankRun);
  out = PutTokenHead(out, count, kTokenColourRun);
  for (i = 0; i < kRunValueSize; ++i) {
    out[i] = i < dcr->nChannels ? (BYTE)(planes[i][x] ^ dcr->invert[i]) : 0;
  }
  return out + kRunValueSize;
}

int _dcraster_tokenize(DCRASTER_t* dcr, BYTE** planes) {
  const int width = dcr->width;
  const RunHelper run_length = dcr->fPtr_runLength;
  BYTE* out = dcr->token_buf;
  int x = 0;
  int run = -1; /* run length at x when already known */

  while (x < width) {
    int run_count;
    int j;
    if (run < 0) run = run_length(planes, x, width);
    run_count = run & ~3;
    if (run_count >= kMinRun) {
      out = PutRun(dcr, out, planes, x, run_count);
      x += run_count;
      run = -1;
      continue;
    }
    /* A literal reaches to the first 4-grid position from x + 32 at which a
       run longer than 32 pixels starts. Positions inside a short run found
       at j start shorter runs still, so the search steps over the whole
       run (rounded up to the grid) instead of one grid step at a time. */
    j = x + kMinRun < width ? x + kMinRun : width;
    run = -1;
    while (j < width) {
      const int rj = run_length(planes, j, width);
      if (rj > kMinRun) {
        run = rj;
        break;
      }
      j += (rj + 3) & ~3;
    }
    out = PutTokenHead(out, j - x, kTokenLiteral);
    out += dcr->fPtr_literalCopy(out, planes, x, j - x);
    x = j;
  }
  return (int)(out - dcr->token_buf);
}

void _dcraster_compress_row(DCRASTER_t* dcr, BYTE* tokens, int len) {
  z_stream* zs = &dcr->zstream;
  const int flush = dcr->currentLine == dcr->height - 1 ? Z_FINISH : Z_NO_FLUSH;
  zs->next_in = tokens;
  zs->avail_in = (uInt)len;
  for (;;) {
    int produced;
    zs->next_out = dcr->z_out;
    zs->avail_out = DCRASTER_ZBUF_SIZE;
    deflate(zs, flush);
    produced = DCRASTER_ZBUF_SIZE - (int)zs->avail_out;
    if (produced > 0) Deliver(dcr, dcr->z_out, produced);
    if (produced == 0 || zs->avail_out != 0) break;
  }
  dcr->currentLine++;
}

/* Encodes one row of planes; 1 when the image is complete or the stream
   cannot be opened. */
static int AddRow(DCRASTER_t* dcr, BYTE** planes) {
  int len;
  if (dcr->currentLine >= dcr->height) return 1;
  if (!dcr->zstreamOpen && _dcraster_begin(dcr) != 0) return 1;
  len = _dcraster_tokenize(dcr, planes);
  _dcraster_compress_row(dcr, dcr->token_buf, len);
  return 0;
}

/* ------------------------------------------------------------------------ */
/* Interface */

static DCRASTER_t* Create(int width, int height, DCRASTER_COLORSPACE_t colorSpace,
                          DCRASTER_COMPRESSIONFORMAT_t compressionFormat,
                          DCRASTER_OBJECTTYPE_t objectType, unsigned char blankObjectTypeCode) {
  DCRASTER_t* dcr;
  int channels;
  if (width <= 0 || height <= 0 || width % 4 != 0 || width > DCRASTER_MAX_WIDTH) return NULL;
  if (height > DCRASTER_MAX_HEIGHT) return NULL;
  if ((int)colorSpace < 0 || colorSpace >= DCRASTER_COLORSPACE_last) return NULL;
  if (compressionFormat != DCRASTER_COMPRESSIONFORMAT_tokenDeflate) return NULL;
  if ((int)objectType < 0 || objectType >= DCRASTER_OBJECTTYPE_last) return NULL;
  if (colorSpace == DCRASTER_COLORSPACE_cmyk && objectType == DCRASTER_OBJECTTYPE_enable) {
    return NULL;
  }

  channels = colorSpace == DCRASTER_COLORSPACE_grayscale ? 1
             : colorSpace == DCRASTER_COLORSPACE_rgb     ? 3
                                                         : 4;
  if (objectType == DCRASTER_OBJECTTYPE_enable) ++channels;

  dcr = (DCRASTER_t*)calloc(1, sizeof *dcr);
  if (dcr == NULL) return NULL;
  dcr->z_out = (BYTE*)malloc(DCRASTER_ZBUF_SIZE);
  dcr->token_buf = (BYTE*)malloc((size_t)channels * (size_t)width + kTokenSlack);
  if (dcr->z_out == NULL || dcr->token_buf == NULL) {
    free(dcr->z_out);
    free(dcr->token_buf);
    free(dcr);
    return NULL;
  }
  dcr->width = width;
  dcr->height = height;
  dcr->colorSpace = colorSpace;
  dcr->compressionFormat = compressionFormat;
  dcr->objectType = objectType;
  dcr->blankObjectTypeCode = blankObjectTypeCode;
  dcr->planar = 1;
  dcr->deflateEffort = 9;
  dcr->whiteIs0 = 1;
  dcr->currentLine = 0;
  dcr->nChannels = channels;
  dcr->widthAlign4 = width;
  return dcr;
}

DCRASTER_t* dcraster_create(int width, int height, DCRASTER_COLORSPACE_t colorSpace,
                            DCRASTER_COMPRESSIONFORMAT_t compressionFormat,
                            DCRASTER_OBJECTTYPE_t objectType, unsigned char blankObjectTypeCode,
                            DCRASTER_CALLBACK compressedDataCallback) {
  DCRASTER_t* dcr;
  if (compressedDataCallback == NULL) return NULL;
  dcr = Create(width, height, colorSpace, compressionFormat, objectType, blankObjectTypeCode);
  if (dcr != NULL) dcr->compressedDataCallback = compressedDataCallback;
  return dcr;
}

DCRASTER_t* dcraster_create_with_context(int width, int height,
                                         DCRASTER_COLORSPACE_t colorSpace,
                                         DCRASTER_COMPRESSIONFORMAT_t compressionFormat,
                                         DCRASTER_OBJECTTYPE_t objectType,
                                         unsigned char blankObjectTypeCode,
                                         DCRASTER_CONTEXT_CALLBACK callback, void* context) {
  DCRASTER_t* dcr;
  if (callback == NULL) return NULL;
  dcr = Create(width, height, colorSpace, compressionFormat, objectType, blankObjectTypeCode);
  if (dcr != NULL) {
    dcr->contextCallback = callback;
    dcr->callbackContext = context;
  }
  return dcr;
}

static int HasObjectPlane(const DCRASTER_t* dcr) {
  return dcr->objectType == DCRASTER_OBJECTTYPE_enable;
}

int dcraster_grayscale_add(DCRASTER_t* dcr, unsigned char* k, unsigned char* o) {
  BYTE* planes[kMaxPlanes] = {k, o};
  if (dcr == NULL || dcr->colorSpace != DCRASTER_COLORSPACE_grayscale || k == NULL) return 1;
  if (HasObjectPlane(dcr) && o == NULL) return 1;
  return AddRow(dcr, planes);
}

int dcraster_rgb_add(DCRASTER_t* dcr, unsigned char* r, unsigned char* g, unsigned char* b,
                     unsigned char* o) {
  BYTE* planes[kMaxPlanes] = {r, g, b, o};
  if (dcr == NULL || dcr->colorSpace != DCRASTER_COLORSPACE_rgb) return 1;
  if (r == NULL || g == NULL || b == NULL) return 1;
  if (HasObjectPlane(dcr) && o == NULL) return 1;
  return AddRow(dcr, planes);
}

int dcraster_cmyk_add(DCRASTER_t* dcr, unsigned char* c, unsigned char* m, unsigned char* y,
                      unsigned char* k, unsigned char* o) {
  BYTE* planes[kMaxPlanes] = {c, m, y, k, o};
  if (dcr == NULL || dcr->colorSpace != DCRASTER_COLORSPACE_cmyk) return 1;
  if (c == NULL || m == NULL || y == NULL || k == NULL) return 1;
  return AddRow(dcr, planes);
}

int dcraster_blank_add(DCRASTER_t* dcr, int n) {
  BYTE token[kTokenHeadSize];
  int i;
  if (dcr == NULL) return 1;
  /* Before the first row only a count of 0 leaves the object unstarted. */
  if (!dcr->zstreamOpen && (n == 0 || _dcraster_begin(dcr) != 0)) return 0;
  PutTokenHead(token, dcr->width, kTokenBlankRun);
  for (i = 0; i < n && dcr->currentLine < dcr->height; ++i) {
    _dcraster_compress_row(dcr, token, kTokenHeadSize);
  }
  return 0;
}

int dcraster_delete(DCRASTER_t* dcr) {
  if (dcr == NULL) return 0;
  if (dcr->height - dcr->currentLine > 0) dcraster_blank_add(dcr, dcr->height - dcr->currentLine);
  if (dcr->zstreamOpen) {
    deflateEnd(&dcr->zstream);
    dcr->zstreamOpen = 0;
    DeliverText(dcr, "ImageEnd\n");
  }
  free(dcr->z_out);
  free(dcr->token_buf);
  free(dcr);
  return 0;
}
