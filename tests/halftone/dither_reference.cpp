// dither_reference.cpp - the halftoners written the plain way: one pixel at
// a time, straight from the description of each algorithm.
#include "dither_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "halftone/ets.h"

namespace dither_ref {

Grey RandomGrey(int width, int height, uint32_t seed) {
  Grey g(height, std::vector<int>(width));
  uint32_t s = seed * 2654435761u + 1;
  for (auto& row : g) {
    for (int& v : row) {
      s = s * 1664525u + 1013904223u;
      v = static_cast<int>(s >> 24);
    }
  }
  return g;
}

Grey FlatGrey(int width, int height, int value) {
  return Grey(height, std::vector<int>(width, value));
}

FIBITMAP* ToBitmap(const Grey& g) {
  const int h = static_cast<int>(g.size());
  const int w = static_cast<int>(g[0].size());
  FIBITMAP* dib = FreeImage_Allocate(w, h, 8);
  RGBQUAD* pal = FreeImage_GetPalette(dib);
  for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  for (int y = 0; y < h; ++y) {
    BYTE* line = FreeImage_GetScanLine(dib, y);
    for (int x = 0; x < w; ++x) line[x] = static_cast<BYTE>(g[y][x]);
  }
  return dib;
}

Mono FromMono(FIBITMAP* dib) {
  const int w = static_cast<int>(FreeImage_GetWidth(dib));
  const int h = static_cast<int>(FreeImage_GetHeight(dib));
  Mono m(h, std::vector<int>(w));
  for (int y = 0; y < h; ++y) {
    const BYTE* line = FreeImage_GetScanLine(dib, y);
    for (int x = 0; x < w; ++x) m[y][x] = (line[x / 8] >> (7 - x % 8)) & 1;
  }
  return m;
}

bool TrailingBitsClear(FIBITMAP* dib) {
  const int w = static_cast<int>(FreeImage_GetWidth(dib));
  const int h = static_cast<int>(FreeImage_GetHeight(dib));
  if (w % 8 == 0) return true;
  for (int y = 0; y < h; ++y) {
    const BYTE* line = FreeImage_GetScanLine(dib, y);
    if (line[w / 8] & (0xFF >> (w % 8))) return false;
  }
  return true;
}

namespace {

struct Lcg {
  int32_t seed = 0;
  int Threshold() {
    seed = static_cast<int32_t>(static_cast<uint32_t>(seed) * 1103515245u + 12345u);
    return static_cast<int>(static_cast<uint32_t>(seed >> 12) % 129) + 63;
  }
};

int EdgeErr(int v, int white) { return v + (127 - v) / 2 - 255 * white; }

// Weighted 3 x 3 neighbourhood, the current line standing in for a missing
// next line.
int Neighbourhood(const Grey& g, int x, int y) {
  static const int kW[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
  const int h = static_cast<int>(g.size());
  int n = 0;
  for (int dy = -1; dy <= 1; ++dy) {
    int yy = y + dy;
    if (yy >= h) yy = y;
    for (int dx = -1; dx <= 1; ++dx) n += kW[dy + 1][dx + 1] * g[yy][x + dx];
  }
  return n;
}

}  // namespace

Mono KernelDiffusion(const Grey& g, int function, bool serpentine) {
  static const int k2[3][5] = {{1, 2, 4, 2, 1}, {0, 2, 3, 2, 0}, {1, 3, 5, 3, 1}};
  static const int k1[3][5] = {{2, 4, 8, 4, 2}, {2, 4, 5, 4, 2}, {3, 5, 7, 5, 3}};
  static const int kc[3][2] = {{8, 4}, {5, 3}, {7, 5}};
  static const int kdiv[3] = {42, 32, 48};
  const int h = static_cast<int>(g.size());
  const int w = static_cast<int>(g[0].size());
  Mono out(h, std::vector<int>(w, 0));
  auto set = [&](int x, int y, int white) {
    if (serpentine) {
      out[y][x] = white;
    } else {
      out[y][x] |= white;
    }
  };
  Lcg rnd;
  for (int c : {0, 1, w - 1, w - 2}) {
    if (c < 0 || c >= w) continue;
    int acc = 0;
    for (int y = 0; y < h; ++y) {
      acc += g[y][c];
      const int white = acc > rnd.Threshold();
      if (white) acc -= 255;
      set(c, y, white);
    }
  }
  std::vector<std::vector<int>> err(h, std::vector<int>(w, 0));  // error of every pixel
  for (int y = 0; y < 2 && y < h; ++y) {
    int acc = 0;
    for (int x = 0; x < w; ++x) {
      acc += g[y][x];
      const int t = y == 0 ? rnd.Threshold() : 34;
      const int white = acc > t;
      if (white) acc -= 255;
      set(x, y, white);
      err[y][x] = EdgeErr(g[y][x], white);
    }
  }
  for (int y = 2; y < h; ++y) {
    const bool rtl = serpentine && (y % 2 == 1);
    for (int c : {0, 1, w - 2, w - 1}) {
      if (c >= 0 && c < w) err[y][c] = EdgeErr(g[y][c], out[y][c]);
    }
    if (w <= 4) continue;
    for (int i = 2; i <= w - 3; ++i) {
      const int x = rtl ? w - 1 - i : i;
      const int d = rtl ? -1 : 1;
      int sum = kc[function][0] * err[y][x - d] + kc[function][1] * err[y][x - 2 * d];
      for (int j = 0; j < 5; ++j) {
        sum += k2[function][j] * err[y - 2][x - 2 + j] + k1[function][j] * err[y - 1][x - 2 + j];
      }
      const int e = sum / kdiv[function];
      const int v = g[y][x];
      const int dd = (2 * v - g[y][x - 1] - g[y - 1][x]) / 2;
      const int t = static_cast<int>((Neighbourhood(g, x, y) >> 4) * 0.8 - dd) & 0xFF;
      const int white = t < v + e;
      err[y][x] = v + e - 255 * white;
      set(x, y, white);
    }
  }
  return out;
}

Mono FloydSteinberg(const Grey& g) {
  const int h = static_cast<int>(g.size());
  const int w = static_cast<int>(g[0].size());
  Mono out(h, std::vector<int>(w, 0));
  Lcg rnd;
  for (int c : {0, 1, 2, w - 1}) {
    if (c < 0 || c >= w) continue;
    int acc = 0;
    for (int y = 0; y < h; ++y) {
      acc += g[y][c];
      const int white = acc > rnd.Threshold();
      if (white) acc -= 255;
      out[y][c] |= white;
    }
  }
  std::vector<std::vector<int>> err(h, std::vector<int>(w, 0));
  int acc = 0;
  for (int x = 0; x < w; ++x) {
    acc += g[0][x];
    const int white = acc > rnd.Threshold();
    if (white) acc -= 255;
    out[0][x] |= white;
    err[0][x] = EdgeErr(g[0][x], white);
  }
  for (int y = 1; y < h; ++y) {
    for (int c = 0; c < 3 && c < w; ++c) err[y][c] = EdgeErr(g[y][c], out[y][c]);
    for (int x = 3; x <= w - 2; ++x) {
      const int e = (err[y - 1][x - 3] + err[y - 1][x - 2] + 2 * err[y - 1][x - 1] + 4 * err[y - 1][x] +
                     8 * err[y][x - 1]) /
                    16;
      const int v = g[y][x];
      int t = 127;
      if (y != h - 1) {
        const int dd = ((2 * v - g[y][x - 1] - g[y - 1][x]) / 2) & 0xFF;
        t = static_cast<int>((Neighbourhood(g, x, y) >> 4) * 0.8 - dd) & 0xFF;
      }
      const int white = v + e > t;
      err[y][x] = v + e - 255 * white;
      out[y][x] |= white;
    }
    err[y][w - 1] = EdgeErr(g[y][w - 1], out[y][w - 1]);
  }
  return out;
}

Mono Ordered(const Grey& g, const uint8_t* tile, int s) {
  const int h = static_cast<int>(g.size());
  const int w = static_cast<int>(g[0].size());
  Mono out(h, std::vector<int>(w, 0));
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int v = g[y][x];
      const int t = tile[(y % s) * s + x % s];
      out[y][x] = v == 255 || (v != 0 && v >= t);
    }
  }
  return out;
}

namespace {

int Log2i(int v) {
  int n = 0;
  for (; v > 1; v /= 2) ++n;
  return n;
}

int RefNoiseShift(int nl, int rs_base) {
  if (nl != 0 && ((nl >= 5761 && nl <= 8255) || (nl >= 10369 && nl <= 11519))) return rs_base - 1;
  if (nl != 0 && nl >= 20545 && nl <= 23103) return (nl >= 21185 && nl <= 22463) ? rs_base - 2 : rs_base - 1;
  if (nl == 65536) return rs_base;
  int l;
  if (nl <= 49152) {
    l = nl < 24576 ? std::abs(nl - 16384) : std::abs(nl - 32768);
  } else {
    l = std::abs(nl - ((nl + 16384) / 32768) * 32768);
  }
  if (l > 4095) return rs_base;
  if (l >= 2048) return rs_base - 1;
  if (l >= 1024) return rs_base - 2;
  return rs_base - 3;
}

}  // namespace

Mono EtsOnePlane(const Grey& g) {
  const int h = static_cast<int>(g.size());
  const int w = static_cast<int>(g[0].size());
  // Tables of the image driver: two levels, aspect 1:1, c1 = 1 + 6 - 1.
  const int c1 = Log2i(2) + 6 - 1;
  const int rlimit = 1 << (c1 + 14);
  const int rs_base = 19 + Log2i(2);
  int lut[256], dist[256], rs[256];
  for (int i = 0; i < 256; ++i) {
    const int in = static_cast<int>(i / 255.0 * 16777216.0);
    lut[i] = 65536 - (in >> 8);
    const int nl = lut[i];
    dist[i] = 0;
    if (nl != 0 && nl < 65536) {
      const double d = std::pow(2.0, 32 - c1) * 0.95 / nl;
      dist[i] = d < 1073741824.0 ? static_cast<int>(d) : 1 << 30;
    }
    rs[i] = RefNoiseShift(nl, rs_base);
  }
  std::vector<int> err_line(w), r_line(w, 0), a_line(w, 1), b_line(w, 1);
  for (int x = 0; x < w; ++x) err_line[x] = -((rand() % 32768) * 64) >> 8;
  Mono out(h, std::vector<int>(w));
  for (int y = 0; y < h; ++y) {
    const signed char* tm = quill_dither::ets_noise_matrix + (y % 256) * 256;
    std::vector<int> prev = err_line;  // errors of the line above
    int a = 1, b = 1, r = 0, left = 0;
    for (int x = 0; x < w; ++x) {
      const int s = g[y][x];
      const int e0 = lut[s];
      if (r + a < r_line[x]) {
        r += a;
        a += 2;
      } else {
        r = r_line[x];
        a = a_line[x];
        b = b_line[x];
      }
      const int above_left = x > 0 ? prev[x - 1] : 0;
      const int above = prev[x];
      const int above_right = x + 1 < w ? prev[x + 1] : 0;
      int stored = 0;
      int dot = 0;
      if (e0 != 0) {
        const int o = (7 * left + 3 * above_right + 5 * above + above_left) >> 4;
        int e = o;
        if (dist[s] != 0) {
          const int bias = (std::min(r, rlimit) << (16 - c1)) - dist[s];
          e = bias > 0 ? o + (bias >> 3) : o + bias;
        }
        e += tm[(x + 256) & 255] * (1 << (24 - rs[s]));
        e = std::max(-39321, std::min(39321, e));
        const int v = ((e + e0) * 256 + 0x800000) >> 24;
        if (v < 0) {
          stored = e0 + o;
        } else {
          dot = v >= 1;
          const int achieved = e0 - (((1 << 30) * dot) >> 14);
          stored = o + achieved;
          if (dot) {
            r = 0;
            a = 1;
            b = 1;
          }
        }
      }
      a_line[x] = a;
      b_line[x] = b;
      r_line[x] = r;
      err_line[x] = stored;
      left = stored;
      out[y][x] = dot ? 0 : 1;
    }
    int rv = 0, av = 1, bv = 1;
    for (int x = w - 1; x >= 0; --x) {
      if (rv + av + bv < r_line[x] + b_line[x]) {
        rv += av;
        av += 2;
      } else {
        rv = r_line[x];
        av = a_line[x];
        bv = b_line[x];
      }
      rv = std::min(rv, rlimit);
      a_line[x] = av;
      b_line[x] = bv + 2;
      r_line[x] = rv + bv;
    }
  }
  return out;
}

}  // namespace dither_ref
