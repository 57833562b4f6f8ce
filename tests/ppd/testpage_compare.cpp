// testpage_compare - compares what a printer stream prints with the same
// page rendered by Ghostscript, ink coverage per 1 cm cell.
//
//   testpage_compare --prn FILE --ref FILE.pnm --sheet WxH [options]
//   testpage_compare --prn FILE --ref FILE.ras [options]   (sheet: the raster's)
//
// The stream is decoded by the preview library (the code of quillpreview),
// the reference is a PNM file (P4 one bit, P5 grey, P6 colour) that
// Ghostscript rendered at the printer's resolution, a JPEG file (a name
// ending in .jpg: the picture a job sent, read as P6), or (a name ending in
// .ras) the one-bit CUPS raster page Ghostscript made for the printer's
// filter (gstoraster). Both are placed on the
// sheet of W x H dots: the reference's pixel (0, 0) at --ref-at X,Y, the
// preview's at --at X,Y (default 0,0). Reference ink outside the
// imageable area --clip X0,Y0,X1,Y1 (dots, X1 and Y1 excluded) is dropped:
// the printer cannot put it there, and no PPD lets the chain try.
//
// How the reference becomes ink, per plane of the printer:
//   --tone dots   P4 or raster: a black pixel is full ink. (quilldot prints
//                 the one-bit raster gstoraster makes, screened by
//                 Ghostscript: every dot of it, and only those, must come
//                 out.)
//   --tone grey   P5: ink = 1 - grey / 255.
//   --tone gamma  P6: grey = Rec. 709 luma of the colour after --gamma G
//                 (out = 255 (in / 255) ^ (1 / G); default 2.2, what
//                 quillfilter asks for on the inkjets, 1 for the 24-pin
//                 printer, whose options have no gamma), ink = 1 - grey / 255,
//                 as the even-toned screen keeps a flat tone's mean; with
//                 --planes black,red a pixel of red hue (below 15 or above
//                 330 degrees, value above 0.6, saturation above 0.2) is ink
//                 of the red plane, every other one of the black plane;
//                 with --planes cyan,magenta,yellow (a colour printer) each
//                 of the colour's components after --gamma is the ink of
//                 its complement: cyan = 1 - red / 255, and so on.
// Every plane's ink fraction is compared per cell of 1 cm x 1 cm (the last
// row and column of cells are what is left of the sheet); a cell fails when
// |ours - reference| > tolerance = 1 / cell width + 1 / cell height + 0.005
// (cell sizes in dots): one row and one column of ink misplaced across a
// cell (rounding of the page's placement and scaling) plus the noise of
// screening a cell of flat tone. The program prints one line
//   plane ours% ref% worst-cell-diff at (col,row) tolerance
// per plane and exits 0 when no cell fails, 1 when one does, 2 on a usage
// or input error.
//
// --plant FAULT changes the decoded page before the comparison, to show
// that the comparison sees the fault: shift (2 mm to the right and down),
// mirror (left to right), half (the lower half of what is printed lost: the
// rows below the middle between the first and the last row of ink), scale
// (0.97 about the page's top-left corner), swap (black and red exchanged).
#include <FreeImage.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include "preview/stream_preview.h"

namespace {

struct Plane {                 // ink of one colour on the whole sheet
  std::vector<uint8_t> ink;    // 0..255 per dot, row after row
};

struct Pnm {
  int kind = 0;                // 4, 5 or 6
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> data;   // P4: packed rows, P5: grey, P6: RGB
};

bool ReadPnm(const std::string& path, Pnm* pnm, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) { *error = "cannot open " + path; return false; }
  std::string magic;
  in >> magic;
  if (magic != "P4" && magic != "P5" && magic != "P6") { *error = path + ": not P4, P5 or P6"; return false; }
  pnm->kind = magic[1] - '0';
  auto number = [&in]() {
    in >> std::ws;
    while (in.peek() == '#') { std::string line; std::getline(in, line); in >> std::ws; }
    uint32_t v = 0;
    in >> v;
    return v;
  };
  pnm->width = number();
  pnm->height = number();
  if (pnm->kind != 4 && number() != 255) { *error = path + ": not 8 bits per sample"; return false; }
  in.get();
  size_t row = pnm->kind == 4 ? (pnm->width + 7) / 8 : pnm->width * (pnm->kind == 6 ? 3 : 1);
  pnm->data.resize(row * pnm->height);
  in.read(reinterpret_cast<char*>(pnm->data.data()), static_cast<std::streamsize>(pnm->data.size()));
  if (!in) { *error = path + ": short file"; return false; }
  return true;
}

// A JPEG file (the picture a job sent) as a P6 image, decoded by FreeImage
// (libjpeg, as the printer application decodes it).
bool ReadJpeg(const std::string& path, Pnm* pnm, std::string* error) {
  struct Unload {
    void operator()(FIBITMAP* b) const { FreeImage_Unload(b); }
  };
  std::unique_ptr<FIBITMAP, Unload> image(FreeImage_Load(FIF_JPEG, path.c_str(), JPEG_ACCURATE));
  if (!image) { *error = "cannot read the JPEG file " + path; return false; }
  std::unique_ptr<FIBITMAP, Unload> rgb(FreeImage_ConvertTo24Bits(image.get()));
  if (!rgb) { *error = path + ": cannot convert to RGB"; return false; }
  pnm->kind = 6;
  pnm->width = FreeImage_GetWidth(rgb.get());
  pnm->height = FreeImage_GetHeight(rgb.get());
  pnm->data.resize(static_cast<size_t>(pnm->width) * pnm->height * 3);
  for (uint32_t y = 0; y < pnm->height; ++y) {
    const BYTE* src = FreeImage_GetScanLine(rgb.get(), static_cast<int>(pnm->height - 1 - y));
    uint8_t* dst = &pnm->data[static_cast<size_t>(y) * pnm->width * 3];
    for (uint32_t x = 0; x < pnm->width; ++x, src += 3, dst += 3) {
      dst[0] = src[FI_RGBA_RED];
      dst[1] = src[FI_RGBA_GREEN];
      dst[2] = src[FI_RGBA_BLUE];
    }
  }
  return true;
}

// The first page of a CUPS raster file of one bit per pixel as a P4 image
// (1 = ink: a set bit of a K raster, a clear bit of a W raster).
bool ReadRaster(const std::string& path, Pnm* pnm, uint32_t res[2], std::string* error) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) { *error = "cannot open " + path; return false; }
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t h;
  bool ok = ras != nullptr && cupsRasterReadHeader2(ras, &h) != 0;
  if (ok && (h.cupsBitsPerPixel != 1 || h.cupsBytesPerLine != (h.cupsWidth + 7) / 8)) {
    *error = path + ": not one bit per pixel";
    ok = false;
  } else if (ok) {
    pnm->kind = 4;
    res[0] = h.HWResolution[0];
    res[1] = h.HWResolution[1];
    pnm->width = h.cupsWidth;
    pnm->height = h.cupsHeight;
    pnm->data.assign(static_cast<size_t>(h.cupsBytesPerLine) * h.cupsHeight, 0);
    const bool white = h.cupsColorSpace == CUPS_CSPACE_W || h.cupsColorSpace == CUPS_CSPACE_SW;
    for (uint32_t y = 0; y < h.cupsHeight && ok; ++y) {
      uint8_t* row = &pnm->data[static_cast<size_t>(y) * h.cupsBytesPerLine];
      ok = cupsRasterReadPixels(ras, row, h.cupsBytesPerLine) == h.cupsBytesPerLine;
      if (white)
        for (uint32_t i = 0; i < h.cupsBytesPerLine; ++i) row[i] = static_cast<uint8_t>(~row[i]);
    }
    if (!ok) *error = path + ": short raster";
  } else {
    *error = path + ": no raster page";
  }
  if (ras != nullptr) cupsRasterClose(ras);
  close(fd);
  return ok;
}

bool ParsePair(const std::string& s, char sep, long* a, long* b) {
  return std::sscanf(s.c_str(), sep == 'x' ? "%ldx%ld" : "%ld,%ld", a, b) == 2;
}

// 255 (v / 255) ^ (1 / gamma), rounded, for every v.
std::vector<uint8_t> GammaTable(double gamma) {
  std::vector<uint8_t> t(256);
  for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(std::lround(255.0 * std::pow(i / 255.0, 1 / gamma)));
  return t;
}

bool RedHue(int r, int g, int b) {
  int mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
  if (mx == mn) return false;
  double diff = mx - mn, s = diff / mx, v = mx / 255.0, h;
  if (r == mx) h = (g - b) * 60.0 / diff;
  else if (g == mx) h = (b - r) * 60.0 / diff + 120;
  else h = (r - g) * 60.0 / diff + 240;
  if (h < 0) h += 360;
  return (h < 15 || h > 330) && v > 0.6 && s > 0.2;
}

int Usage(const std::string& what) {
  std::fprintf(stderr, "testpage_compare: %s\n", what.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string prn, ref, tone = "gamma", planes_arg = "black", plant, dump;
  double gamma = 2.2;
  long sheet_w = 0, sheet_h = 0, at_x = 0, at_y = 0, ref_x = 0, ref_y = 0;
  long clip[4] = {0, 0, -1, -1};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--prn") prn = value();
    else if (a == "--ref") ref = value();
    else if (a == "--tone") tone = value();
    else if (a == "--gamma") gamma = std::atof(value().c_str());
    else if (a == "--planes") planes_arg = value();
    else if (a == "--plant") plant = value();
    else if (a == "--dump") dump = value();
    else if (a == "--sheet") { if (!ParsePair(value(), 'x', &sheet_w, &sheet_h)) return Usage("bad --sheet"); }
    else if (a == "--at") { if (!ParsePair(value(), ',', &at_x, &at_y)) return Usage("bad --at"); }
    else if (a == "--ref-at") { if (!ParsePair(value(), ',', &ref_x, &ref_y)) return Usage("bad --ref-at"); }
    else if (a == "--clip") {
      if (std::sscanf(value().c_str(), "%ld,%ld,%ld,%ld", &clip[0], &clip[1], &clip[2], &clip[3]) != 4)
        return Usage("bad --clip");
    } else return Usage("unknown argument " + a);
  }
  if (prn.empty() || ref.empty()) return Usage("needs --prn and --ref");
  // The reference, as ink on the sheet.
  Pnm pnm;
  std::string error;
  const bool raster = ref.size() > 4 && ref.compare(ref.size() - 4, 4, ".ras") == 0;
  uint32_t raster_res[2] = {0, 0};
  const bool jpeg = ref.size() > 4 && ref.compare(ref.size() - 4, 4, ".jpg") == 0;
  if (!(raster ? ReadRaster(ref, &pnm, raster_res, &error)
               : jpeg ? ReadJpeg(ref, &pnm, &error) : ReadPnm(ref, &pnm, &error)))
    return Usage(error);
  if (raster && sheet_w == 0) {  // the raster is the whole sheet
    sheet_w = pnm.width;
    sheet_h = pnm.height;
  }
  if (sheet_w <= 0 || sheet_h <= 0) return Usage("needs --sheet");
  if (clip[2] < 0) { clip[2] = sheet_w; clip[3] = sheet_h; }
  const bool two = planes_arg == "black,red";
  const bool cmy = planes_arg == "cyan,magenta,yellow";
  if (!two && !cmy && planes_arg != "black")
    return Usage("--planes is black, black,red or cyan,magenta,yellow");
  const size_t nplanes = cmy ? 3 : two ? 2 : 1;
  const size_t area = static_cast<size_t>(sheet_w) * static_cast<size_t>(sheet_h);

  // Ours: the stream through the preview library, placed on the sheet.
  std::ifstream in(prn, std::ios::binary);
  if (!in) return Usage("cannot open " + prn);
  quillpreview::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  quillpreview::PreviewResult result = quillpreview::PreviewStream(bytes, {});
  if (result.failed || result.pages.size() != 1) {
    std::fprintf(stderr, "testpage_compare: %s: %zu page(s)%s%s\n", prn.c_str(), result.pages.size(),
                 result.failed ? ", " : "", result.error.c_str());
    return 1;
  }
  const quillpreview::PreviewPage& page = result.pages[0];
  if (raster && (raster_res[0] != page.x_res || raster_res[1] != page.y_res)) {
    std::fprintf(stderr, "testpage_compare: %s prints at %ux%u dpi, its raster is %ux%u dpi\n", prn.c_str(),
                 page.x_res, page.y_res, raster_res[0], raster_res[1]);
    return 1;
  }
  std::vector<Plane> ours(nplanes, Plane{std::vector<uint8_t>(area, 0)});
  for (size_t p = 0; p < page.planes.size(); ++p) {
    const std::string& name = page.planes[p].name;
    size_t to = name == "red" || name == "magenta" ? 1 : name == "yellow" ? 2 : 0;
    if (to >= nplanes) {
      std::fprintf(stderr, "testpage_compare: %s has ink %s, expected %s only\n", prn.c_str(),
                   page.planes[p].name.c_str(), planes_arg.c_str());
      return 1;
    }
    for (uint32_t y = 0; y < page.height; ++y) {
      long sy = at_y + y;
      if (sy < 0 || sy >= sheet_h) continue;
      for (uint32_t x = 0; x < page.width; ++x) {
        long sx = at_x + x;
        uint8_t v = page.Ink(p, x, y);
        if (v && sx >= 0 && sx < sheet_w) {
          uint8_t& d = ours[to].ink[static_cast<size_t>(sy) * sheet_w + sx];
          d = std::max(d, v);
        }
      }
    }
  }

  // Planted faults, on our side.
  const long mm2_x = std::lround(2 / 25.4 * page.x_res), mm2_y = std::lround(2 / 25.4 * page.y_res);
  long first_row = sheet_h, last_row = -1;  // the rows with ink, on any plane
  for (const Plane& pl : ours) {
    for (long y = 0; y < sheet_h; ++y) {
      for (long x = 0; x < sheet_w; ++x) {
        if (pl.ink[static_cast<size_t>(y) * sheet_w + x]) {
          first_row = std::min(first_row, y);
          last_row = std::max(last_row, y);
          break;
        }
      }
    }
  }
  const long half_row = (first_row + last_row + 1) / 2;
  for (size_t p = 0; p < nplanes && !plant.empty(); ++p) {
    std::vector<uint8_t> src = ours[p].ink, &dst = ours[p].ink;
    for (long y = 0; y < sheet_h; ++y) {
      for (long x = 0; x < sheet_w; ++x) {
        long fx = x, fy = y;
        if (plant == "shift") { fx = x - mm2_x; fy = y - mm2_y; }
        else if (plant == "mirror") fx = sheet_w - 1 - x;
        else if (plant == "scale") { fx = std::lround(x / 0.97); fy = std::lround(y / 0.97); }
        bool inside = fx >= 0 && fy >= 0 && fx < sheet_w && fy < sheet_h;
        if (plant == "half" && y >= half_row) inside = false;
        dst[static_cast<size_t>(y) * sheet_w + x] = inside ? src[static_cast<size_t>(fy) * sheet_w + fx] : 0;
      }
    }
  }
  if (plant == "swap") {
    if (!two) return Usage("--plant swap needs two planes");
    std::swap(ours[0], ours[1]);
  } else if (!plant.empty() && plant != "shift" && plant != "mirror" && plant != "half" && plant != "scale") {
    return Usage("unknown fault " + plant);
  }

  if ((tone == "dots") != (pnm.kind == 4) || (tone == "gamma" && pnm.kind != 6) ||
      (tone == "grey") != (pnm.kind == 5))
    return Usage("--tone dots takes a P4 file, grey a P5 file, gamma a P6 file");
  if (!(gamma > 0)) return Usage("bad --gamma");
  const std::vector<uint8_t> g = GammaTable(gamma);
  std::vector<Plane> want(nplanes, Plane{std::vector<uint8_t>(area, 0)});
  for (uint32_t y = 0; y < pnm.height; ++y) {
    long sy = ref_y + y;
    if (sy < clip[1] || sy >= clip[3]) continue;
    for (uint32_t x = 0; x < pnm.width; ++x) {
      long sx = ref_x + x;
      if (sx < clip[0] || sx >= clip[2]) continue;
      size_t at = static_cast<size_t>(sy) * sheet_w + sx;
      if (pnm.kind == 4) {
        size_t row = (pnm.width + 7) / 8;
        if (pnm.data[y * row + x / 8] & (0x80 >> (x % 8))) want[0].ink[at] = 255;
        continue;
      }
      if (pnm.kind == 5) {
        want[0].ink[at] = static_cast<uint8_t>(255 - pnm.data[static_cast<size_t>(y) * pnm.width + x]);
        continue;
      }
      const uint8_t* px = &pnm.data[(static_cast<size_t>(y) * pnm.width + x) * 3];
      if (cmy) {
        for (int c = 0; c < 3; ++c) want[c].ink[at] = static_cast<uint8_t>(255 - g[px[c]]);
        continue;
      }
      double grey = 0.2126 * g[px[0]] + 0.7152 * g[px[1]] + 0.0722 * g[px[2]];
      auto ink = static_cast<uint8_t>(255 - std::min(255L, std::lround(grey)));
      want[two && RedHue(px[0], px[1], px[2]) ? 1 : 0].ink[at] = ink;
    }
  }

  // --dump PREFIX: PREFIX-ours.pgm and PREFIX-ref.pgm, every plane's ink
  // together, one pixel per 4 x 4 dots, for looking at a failure.
  if (!dump.empty()) {
    for (int which = 0; which < 2; ++which) {
      const std::vector<Plane>& planes = which ? want : ours;
      std::ofstream out(dump + (which ? "-ref.pgm" : "-ours.pgm"), std::ios::binary);
      long w = sheet_w / 4, h = sheet_h / 4;
      out << "P5\n" << w << " " << h << "\n255\n";
      for (long y = 0; y < h; ++y) {
        for (long x = 0; x < w; ++x) {
          double sum = 0;
          for (const Plane& pl : planes)
            for (long yy = 0; yy < 4; ++yy)
              for (long xx = 0; xx < 4; ++xx) sum += pl.ink[static_cast<size_t>(4 * y + yy) * sheet_w + 4 * x + xx];
          out.put(static_cast<char>(255 - std::min(255L, std::lround(sum / 16))));
        }
      }
    }
  }

  // Cells of 1 cm.
  const long cw = std::lround(page.x_res / 2.54), ch = std::lround(page.y_res / 2.54);
  const double tolerance = 1.0 / cw + 1.0 / ch + 0.005;
  bool ok = true;
  for (size_t p = 0; p < nplanes; ++p) {
    double worst = 0, total_ours = 0, total_want = 0;
    long worst_c = 0, worst_r = 0;
    for (long r = 0; r * ch < sheet_h; ++r) {
      for (long c = 0; c * cw < sheet_w; ++c) {
        double so = 0, sw = 0;
        long y1 = std::min(sheet_h, (r + 1) * ch), x1 = std::min(sheet_w, (c + 1) * cw);
        for (long y = r * ch; y < y1; ++y) {
          for (long x = c * cw; x < x1; ++x) {
            so += ours[p].ink[static_cast<size_t>(y) * sheet_w + x];
            sw += want[p].ink[static_cast<size_t>(y) * sheet_w + x];
          }
        }
        total_ours += so;
        total_want += sw;
        double n = 255.0 * (y1 - r * ch) * (x1 - c * cw);
        double d = std::fabs(so - sw) / n;
        if (d > worst) { worst = d; worst_c = c; worst_r = r; }
      }
    }
    double n = 255.0 * static_cast<double>(area);
    std::printf("%-5s ours %.3f%% ref %.3f%% worst cell %.4f at (%ld,%ld) tolerance %.4f %s\n",
                cmy ? (p == 0 ? "cyan" : p == 1 ? "magenta" : "yellow") : p == 0 ? "black" : "red", 100 * total_ours / n, 100 * total_want / n, worst, worst_c, worst_r,
                tolerance, worst > tolerance ? "FAIL" : "ok");
    if (worst > tolerance) ok = false;
  }
  return ok ? 0 : 1;
}
