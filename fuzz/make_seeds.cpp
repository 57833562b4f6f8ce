// make_seeds - writes the seed corpora of the fuzz targets, one folder per
// target under the folder given as the only argument. Run at build time, so
// that no binary seed file lives in the source tree.
//
// Each seed is an input the target's decoder (see the fuzz_*.cpp file)
// reads as a typical job: print-data streams with pages, blocks, feeds and
// scale settings; every document processor with the option keys it knows;
// encoder runs in every format; small pictures in every format FreeImage
// reads that hosts send (PNG, BMP, PNM, TIFF) at 1 to 32 bits per pixel;
// CUPS raster jobs of every PPD of both filters.
#include <FreeImage.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_root;  // output folder

void Put(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string dir = g_root + "/" + target;
  mkdir(g_root.c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  std::ofstream f(dir + "/" + name, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void Append(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }
void Append16(Bytes& b, unsigned v) {
  b.push_back(static_cast<uint8_t>(v & 0xFF));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

// --- print data: two parameter bytes, then the stream ---------------------

Bytes PageHead(unsigned x_res, unsigned y_res, unsigned width, unsigned height) {
  Bytes b;
  Append(b, "PAGE");
  for (unsigned v : {1u, x_res, y_res, width, height, 0u}) Append16(b, v);
  return b;
}

Bytes Block(unsigned width_bytes, unsigned rows, uint8_t seed) {
  Bytes b;
  Append(b, "BLK");
  Append16(b, width_bytes);
  Append16(b, rows);
  for (unsigned i = 0; i < width_bytes * rows; ++i)
    b.push_back(static_cast<uint8_t>((i * 37 + seed) & ((i / width_bytes) % 3 ? 0xFF : 0x81)));
  return b;
}

void PrintDataSeeds() {
  // units byte: x unit index 4 (360), y unit index 4 (360); head byte: 24 pins, shingling 3.
  const Bytes params = {0x44, 0x1A};
  auto seed = [&](const std::string& name, const std::vector<Bytes>& parts) {
    Bytes b = params;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    Put("print_data", name, b);
  };
  seed("plain", {Bytes{0x1B, 0x40, 'h', 'i', 0x0D, 0x0A}});
  seed("one-page", {PageHead(360, 360, 64, 48), Block(8, 24, 1), Bytes{0x0C}});
  seed("feeds", {PageHead(360, 360, 64, 96), Block(8, 8, 2), Bytes{0x1B, 0x4A, 0x30},
                 Block(8, 16, 3), Bytes{0x1B, 0x4A, 0x10}, Block(4, 8, 4), Bytes{0x0C}});
  seed("scaled", {Bytes{'S', 'C', 'L', 0x22, 0x03}, Bytes{'D', 'I', 'R'},
                  PageHead(720, 720, 64, 64), Block(16, 40, 5), Bytes{0x0C}});
  seed("two-pages", {PageHead(180, 180, 32, 32), Block(4, 16, 6), Bytes{0x0C},
                     PageHead(360, 180, 48, 24), Block(6, 12, 7), Bytes{0x1B, 0x40}});
  seed("partial-words", {Bytes{'P', 'A', 'X', 'P', 'B', 'S', 'C', 'D', 'I', 0x1B, 0x4A}});
  seed("short-head", {Bytes{'P', 'A', 'G', 'E', 1, 0, 0x68, 1}});
  seed("short-block", {PageHead(360, 360, 64, 48), Bytes{'B', 'L', 'K', 8, 0, 9, 0, 1, 2, 3}});
}

// --- document options: class, head, shingling, depth, width, height,
// --- page length, option string, 0, pixels --------------------------------

void DocOptionSeeds() {
  const char* common[] = {
      "",
      "dither=2:gamma=2.2",
      "dither=1:threshold=100",
      "dither=0:threshold=128",
      "dither=3:quality=3",
      "rotate=90:copies=2:collate=1",
      "rotate=180:offset=3,-2",
      "rotate=270:reverse_order=1",
      "duplex=1:copies=2",
      "duplex=2:collate=1:copies=3",
      "start_doc=1B40:end_doc=0C:start_page=1B2A:end_page=0D0A",
      "band_hint=1:time_stamp=1:use_locpos=1",
      "prefer_unidir=1:nouse_eject=1:multi_emul=1",
      "red_black=1:dup_red=1:grey=1",
      "max_width=576:left_margin=8",
      "dual_color=1",
      "nup=2:scale=50",
      "copies=abc:gamma=x:offset=,",
  };
  const uint8_t depths[] = {2, 1, 3, 4, 0};  // indexes of 8, 1(×), 24, 32, 1
  int n = 0;
  for (uint8_t cls = 0; cls < 5; ++cls) {
    for (const char* options : common) {
      Bytes b = {cls, static_cast<uint8_t>(n % 8), 3, depths[n % 5], 40, 30,
                 static_cast<uint8_t>(n % 2 ? 0 : 20)};
      Append(b, options);
      b.push_back(0);
      for (int i = 0; i < 64; ++i) b.push_back(static_cast<uint8_t>(i % 7 ? 0xFF : i * 4));
      Put("doc_options", "seed-" + std::to_string(n++), b);
    }
  }
}

// --- dcraster: width, height, colour space, object type, blank code, flags,
// --- operations -----------------------------------------------------------

void DcrasterSeeds() {
  int n = 0;
  for (uint8_t space = 0; space < 3; ++space) {
    for (uint8_t object = 0; object < 2; ++object) {
      Bytes b;
      Append16(b, 40 + 2);  // width 40
      Append16(b, 12 + 2);  // height 12
      b.push_back(space);
      b.push_back(object);
      b.push_back(0xFE);
      b.push_back(static_cast<uint8_t>(0x01 | 0x02 | (10 << 2)));
      for (int row = 0; row < 6; ++row) {
        b.push_back(static_cast<uint8_t>(row % 2 ? 3 : 40));
        for (int i = 0; i < 50; ++i) b.push_back(static_cast<uint8_t>(i * (row + 1) * 11));
      }
      b.push_back(0xC0 | 11);  // 3 blank rows
      Put("dcraster", "seed-" + std::to_string(n++), b);
    }
  }
}

// --- image pages: processor/rotation byte, resolution byte, the file ------

bool FillPicture(FIBITMAP* dib) {
  const unsigned h = FreeImage_GetHeight(dib);
  const unsigned bpp = FreeImage_GetBPP(dib);
  if (bpp <= 8) {
    RGBQUAD* pal = FreeImage_GetPalette(dib);
    const unsigned colours = 1u << bpp;
    for (unsigned i = 0; i < colours && pal; ++i) {
      const BYTE v = static_cast<BYTE>(255 * i / (colours - 1));
      pal[i].rgbRed = v;
      pal[i].rgbGreen = static_cast<BYTE>(255 - v);
      pal[i].rgbBlue = v;
    }
  }
  for (unsigned y = 0; y < h; ++y) {
    BYTE* line = FreeImage_GetScanLine(dib, static_cast<int>(y));
    for (unsigned i = 0; i < FreeImage_GetLine(dib); ++i)
      line[i] = static_cast<BYTE>((i * 29 + y * 71) ^ (y * i));
  }
  return true;
}

void ImageSeeds() {
  FreeImage_Initialise(FALSE);
  struct Kind {
    FREE_IMAGE_FORMAT fif;
    const char* name;
    unsigned bpp;
    int flags;
  };
  const Kind kinds[] = {
      {FIF_PNG, "png1", 1, 0},    {FIF_PNG, "png8", 8, 0},   {FIF_PNG, "png24", 24, 0},
      {FIF_PNG, "png32", 32, 0},  {FIF_BMP, "bmp1", 1, 0},   {FIF_BMP, "bmp4", 4, 0},
      {FIF_BMP, "bmp8", 8, BMP_SAVE_RLE}, {FIF_BMP, "bmp24", 24, 0},
      {FIF_PGM, "pgm8", 8, PNM_SAVE_RAW}, {FIF_PPM, "ppm24", 24, PNM_SAVE_RAW},
      {FIF_PBM, "pbm1", 1, PNM_SAVE_ASCII}, {FIF_TIFF, "tiff1", 1, TIFF_DEFAULT},
      {FIF_TIFF, "tiff8", 8, TIFF_DEFLATE}, {FIF_TIFF, "tiff24", 24, TIFF_LZW},
  };
  int n = 0;
  for (const Kind& k : kinds) {
    FIBITMAP* dib = FreeImage_Allocate(23, 17, static_cast<int>(k.bpp));
    if (dib == nullptr) continue;
    FillPicture(dib);
    if (k.fif == FIF_PGM || k.fif == FIF_PBM) {
      // Grey formats take a grey palette.
      RGBQUAD* pal = FreeImage_GetPalette(dib);
      for (unsigned i = 0, c = 1u << k.bpp; i < c; ++i)
        pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = static_cast<BYTE>(255 * i / (c - 1));
    }
    FIMEMORY* mem = FreeImage_OpenMemory();
    if (FreeImage_SaveToMemory(k.fif, dib, mem, k.flags)) {
      BYTE* data = nullptr;
      DWORD size = 0;
      FreeImage_AcquireMemory(mem, &data, &size);
      Bytes b = {static_cast<uint8_t>(n * 9), static_cast<uint8_t>(n * 13)};
      b.insert(b.end(), data, data + size);
      Put("image_page", k.name, b);
    }
    FreeImage_CloseMemory(mem);
    FreeImage_Unload(dib);
    ++n;
  }
  FreeImage_DeInitialise();
}


// --- CUPS raster jobs for the filters: one selector byte, then the stream

struct RasterShape {
  unsigned width, height, bpp, row_count, x_res, y_res;
  cups_cspace_t space;
  unsigned copies;
};

// A raster stream of `pages` pages of that shape (written by libcups, as
// gstoraster writes them), with a bar and a ramp so that each page has ink
// and paper.
Bytes RasterJob(const RasterShape& shape, int pages, bool compressed) {
  char path[] = "/tmp/quill-seed-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  cups_raster_t* ras =
      cupsRasterOpen(fd, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
  for (int p = 0; p < pages && ras; ++p) {
    cups_page_header2_t h;
    std::memset(&h, 0, sizeof h);
    h.HWResolution[0] = shape.x_res;
    h.HWResolution[1] = shape.y_res;
    h.PageSize[0] = shape.width * 72 / shape.x_res;
    h.PageSize[1] = shape.height * 72 / shape.y_res;
    h.cupsPageSize[0] = static_cast<float>(h.PageSize[0]);
    h.cupsPageSize[1] = static_cast<float>(h.PageSize[1]);
    h.ImagingBoundingBox[2] = h.PageSize[0];
    h.ImagingBoundingBox[3] = h.PageSize[1];
    h.cupsImagingBBox[2] = h.cupsPageSize[0];
    h.cupsImagingBBox[3] = h.cupsPageSize[1];
    h.NumCopies = shape.copies;
    h.cupsWidth = shape.width;
    h.cupsHeight = shape.height;
    h.cupsBitsPerPixel = shape.bpp;
    h.cupsBitsPerColor = shape.bpp <= 8 ? shape.bpp : 8;
    h.cupsNumColors = shape.bpp <= 8 ? 1 : shape.bpp / 8;
    h.cupsColorSpace = shape.space;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsBytesPerLine = (shape.width * shape.bpp + 7) / 8;
    h.cupsRowCount = shape.row_count;
    h.cupsBorderlessScalingFactor = 1.0f;
    if (shape.space == CUPS_CSPACE_KCMY) {
      // One bit per colour, the four colours one after the other in a row.
      h.cupsColorOrder = CUPS_ORDER_BANDED;
      h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
      h.cupsNumColors = 4;
      h.cupsBytesPerLine = 4 * ((shape.width + 7) / 8);
    }
    cupsRasterWriteHeader2(ras, &h);
    std::vector<uint8_t> row(h.cupsBytesPerLine);
    for (unsigned y = 0; y < shape.height; ++y) {
      for (unsigned i = 0; i < row.size(); ++i) {
        const bool bar = y % 16 < 5 && i % 11 < 7;
        row[i] = static_cast<uint8_t>(bar ? (shape.bpp == 1 ? 0xFF : 0x00)
                                          : (shape.bpp == 1 ? (i + y) % 3 : 0xFF - i % 64));
      }
      cupsRasterWritePixels(ras, row.data(), h.cupsBytesPerLine);
    }
  }
  if (ras) cupsRasterClose(ras);
  close(fd);
  std::ifstream f(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  unlink(path);
  return bytes;
}

void FilterSeeds() {
  // quillfilter: selector = PPD index (ink1, ink1s, ink1l, ink3, dot24).
  struct Job {
    uint8_t selector;
    RasterShape shape;
    int pages;
    const char* name;
  };
  const Job ink[] = {
      {0, {90, 60, 24, 896, 360, 360, CUPS_CSPACE_RGB, 1}, 1, "ink1-rgb"},
      {1, {90, 60, 8, 24, 360, 360, CUPS_CSPACE_SW, 2}, 2, "ink1s-grey-copies"},
      {2, {96, 40, 1, 1000, 720, 720, CUPS_CSPACE_K, 1}, 1, "ink1l-onebit"},
      {3, {80, 50, 24, 896, 360, 360, CUPS_CSPACE_RGB, 1}, 2, "ink3-rgb"},
      {4, {72, 48, 24, 24, 360, 180, CUPS_CSPACE_RGB, 1}, 1, "dot24-rgb"},
      {4, {72, 96, 24, 24, 360, 360, CUPS_CSPACE_RGB, 1}, 1, "dot24-360"},
  };
  // One seed: the selector byte, then the job's raster stream.
  auto put_job = [](const char* target, const Job& j, bool compressed) {
    Bytes b = {j.selector};
    const Bytes r = RasterJob(j.shape, j.pages, compressed);
    b.insert(b.end(), r.begin(), r.end());
    Put(target, j.name, b);
  };
  for (const Job& j : ink) put_job("quillfilter", j, true);
  // quilldot: selector low nibble = PPD index (dm24, dm360, dm9, rp80, rp58,
  // ij720), high nibble = job options index.
  const Job dot[] = {
      {0x00, {120, 48, 1, 24, 180, 180, CUPS_CSPACE_K, 1}, 1, "dm24"},
      {0x11, {96, 96, 1, 24, 360, 360, CUPS_CSPACE_K, 2}, 1, "dm360-copies"},
      {0x02, {64, 32, 1, 8, 120, 144, CUPS_CSPACE_K, 1}, 2, "dm9"},
      {0x13, {200, 40, 1, 24, 203, 203, CUPS_CSPACE_K, 1}, 1, "rp80-logo"},
      {0x24, {128, 30, 1, 24, 203, 203, CUPS_CSPACE_K, 1}, 1, "rp58-blackmark"},
      {0x05, {64, 20, 1, 1, 360, 360, CUPS_CSPACE_K, 1}, 1, "ij720-gray"},
      {0x35, {64, 20, 1, 1, 360, 360, CUPS_CSPACE_KCMY, 1}, 1, "ij720-kcmy"},
  };
  for (const Job& j : dot) put_job("quilldot", j, j.pages == 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds OUTPUT_FOLDER\n");
    return 2;
  }
  g_root = argv[1];
  PrintDataSeeds();
  DocOptionSeeds();
  DcrasterSeeds();
  ImageSeeds();
  FilterSeeds();
  return 0;
}
