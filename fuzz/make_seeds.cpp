// make_seeds - writes the seed corpora of the fuzz targets, one folder per
// target under the folder given as the only argument. Run at build time, so
// that no binary seed file lives in the source tree.
//
// Each seed is an input the target's decoder (see the fuzz_*.cpp file)
// reads as a typical job: print-data streams with pages, blocks, feeds and
// scale settings; every document processor with the option keys it knows;
// encoder runs in every format; small pictures in every format FreeImage
// reads that hosts send (PNG, BMP, PNM, TIFF) at 1 to 32 bits per pixel.
#include <FreeImage.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
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
  return 0;
}
