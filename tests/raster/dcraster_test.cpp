// Token-deflate encoder: every format round-trips through the decoder,
// token boundaries follow the 4-pixel grid rules, the compressed bytes equal
// those of a plain reference encoding fed to zlib row by row, and the
// record's life cycle (creation checks, blank rows, completion on delete)
// holds.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "preview/dcraster_decoder.h"
#include "raster/dcraster.h"

namespace {

using quillpreview::DcrBytes;
using quillpreview::DcrCollector;
using quillpreview::DcrImage;
using quillpreview::DcrToken;

// ---------------------------------------------------------------------------
// Reference: the row encoding written pixel by pixel, one grid step at a time.

struct RefFormat {
  int colours;          // colour planes
  bool object;          // object plane after them
  bool interleaved;     // RGB literals as triples
  bool invert_colours;  // colour bytes complemented in literals
  uint8_t colour_blank; // blank value of a colour plane
  uint8_t object_blank; // blank value of the object plane
  int Channels() const { return colours + (object ? 1 : 0); }
};

using Planes = std::vector<DcrBytes>;  // one row, planes[p][x]

int RefRun(const Planes& row, int start, int end) {
  int n = 1;
  while (start + n < end) {
    bool same = true;
    for (const DcrBytes& p : row) same = same && p[start + n] == p[start];
    if (!same) break;
    ++n;
  }
  return n;
}

void Put16(DcrBytes& out, int v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

DcrBytes RefRow(const RefFormat& f, const Planes& row) {
  const int width = static_cast<int>(row[0].size());
  const uint8_t mask = f.invert_colours ? 0xFF : 0x00;
  DcrBytes out;
  int x = 0;
  while (x < width) {
    const int run = RefRun(row, x, width) / 4 * 4;
    if (run >= 32) {
      bool blank = true;
      for (int c = 0; c < f.Channels(); ++c) {
        blank = blank && row[c][x] == (c < f.colours ? f.colour_blank : f.object_blank);
      }
      Put16(out, run);
      Put16(out, blank ? 1 : 2);
      if (!blank) {
        for (int c = 0; c < 4; ++c) {
          out.push_back(c >= f.Channels() ? 0 : c < f.colours ? row[c][x] ^ mask : row[c][x]);
        }
      }
      x += run;
      continue;
    }
    int j = std::min(x + 32, width);
    while (j < width && RefRun(row, j, width) <= 32) j += 4;
    const int count = (j - x) / 4 * 4;
    Put16(out, count);
    Put16(out, 0);
    if (f.interleaved) {
      for (int i = x; i < x + count; ++i) {
        for (int c = 0; c < 3; ++c) out.push_back(row[c][i] ^ mask);
      }
      if (f.object) {
        for (int i = x; i < x + count; ++i) out.push_back(row[3][i]);
      }
    } else {
      for (int c = 0; c < f.Channels(); ++c) {
        for (int i = x; i < x + count; ++i) out.push_back(c < f.colours ? row[c][i] ^ mask : row[c][i]);
      }
    }
    x += count;
  }
  return out;
}

// zlib at `level` fed one row of tokens per call, the last with Z_FINISH.
DcrBytes RefDeflate(const std::vector<DcrBytes>& rows, int level) {
  z_stream zs{};
  EXPECT_EQ(deflateInit(&zs, level), Z_OK);
  DcrBytes out;
  uint8_t buf[32768];
  for (size_t i = 0; i < rows.size(); ++i) {
    zs.next_in = const_cast<Bytef*>(rows[i].data());
    zs.avail_in = static_cast<uInt>(rows[i].size());
    const int flush = i + 1 == rows.size() ? Z_FINISH : Z_NO_FLUSH;
    do {
      zs.next_out = buf;
      zs.avail_out = sizeof buf;
      deflate(&zs, flush);
      out.insert(out.end(), buf, buf + (sizeof buf - zs.avail_out));
    } while (zs.avail_out == 0);
  }
  deflateEnd(&zs);
  return out;
}

// ---------------------------------------------------------------------------
// Encoder harness

struct FormatCase {
  const char* name;             // expected "ImageFormat" value
  DCRASTER_COLORSPACE_t space;
  bool object;
  bool planar;
  bool white_is_0;
};

RefFormat RefFor(const FormatCase& fc, uint8_t code) {
  const bool cmyk = fc.space == DCRASTER_COLORSPACE_cmyk;
  const int colours = fc.space == DCRASTER_COLORSPACE_grayscale ? 1 : cmyk ? 4 : 3;
  const bool interleaved = fc.space == DCRASTER_COLORSPACE_rgb && !fc.planar;
  return RefFormat{colours, fc.object, interleaved, cmyk ? !fc.white_is_0 : fc.white_is_0,
                   static_cast<uint8_t>(cmyk ? 0x00 : 0xFF), code};
}

int AddRow(DCRASTER_t* dcr, Planes& row, DCRASTER_COLORSPACE_t space, bool object) {
  auto plane = [&](size_t i) { return i < row.size() ? row[i].data() : nullptr; };
  switch (space) {
    case DCRASTER_COLORSPACE_grayscale:
      return dcraster_grayscale_add(dcr, plane(0), object ? plane(1) : nullptr);
    case DCRASTER_COLORSPACE_rgb:
      return dcraster_rgb_add(dcr, plane(0), plane(1), plane(2), object ? plane(3) : nullptr);
    default:
      return dcraster_cmyk_add(dcr, plane(0), plane(1), plane(2), plane(3), nullptr);
  }
}

struct Encoded {
  DcrCollector out;
  DcrImage image;
};

// Encodes `rows` with the case's settings and decodes the result.
void Encode(const FormatCase& fc, const std::vector<Planes>& rows, uint8_t code, int level,
            Encoded* enc) {
  const int width = static_cast<int>(rows[0][0].size());
  DCRASTER_t* dcr = dcraster_create_with_context(
      width, static_cast<int>(rows.size()), fc.space, DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
      fc.object ? DCRASTER_OBJECTTYPE_enable : DCRASTER_OBJECTTYPE_disable, code,
      DcrCollector::Callback, &enc->out);
  ASSERT_NE(dcr, nullptr);
  dcr->planar = fc.planar ? 1 : 0;
  dcr->whiteIs0 = fc.white_is_0 ? 1 : 0;
  dcr->deflateEffort = level;
  for (const Planes& r : rows) {
    Planes copy = r;
    ASSERT_EQ(AddRow(dcr, copy, fc.space, fc.object), 0);
  }
  EXPECT_EQ(dcraster_delete(dcr), 0);
  std::string error;
  ASSERT_TRUE(quillpreview::DecodeDcRaster(enc->out.All(), &enc->image, &error, code)) << error;
  ASSERT_TRUE(quillpreview::CheckDcRasterCalls(enc->out.Calls(), &error)) << error;
}

// Rows of runs of random length (blank, coloured, occasionally single
// pixels) mixed with noise, so every token kind and boundary shows up.
std::vector<Planes> MixedImage(int width, int height, int channels, const RefFormat& f,
                               unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Planes> rows;
  for (int y = 0; y < height; ++y) {
    Planes row(static_cast<size_t>(channels), DcrBytes(static_cast<size_t>(width)));
    int x = 0;
    while (x < width) {
      const int len = std::min(width - x, static_cast<int>(rng() % 90) + 1);
      const unsigned kind = rng() % 4;
      std::vector<uint8_t> value(static_cast<size_t>(channels));
      for (int c = 0; c < channels; ++c) {
        value[c] = kind == 0 ? (c < f.colours ? f.colour_blank : f.object_blank)
                             : static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
      }
      for (int i = x; i < x + len; ++i) {
        for (int c = 0; c < channels; ++c) {
          row[c][i] = kind == 3 ? static_cast<uint8_t>(rng() % 3) : value[c];
        }
      }
      x += len;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

const FormatCase kFormatCases[] = {
    {"K", DCRASTER_COLORSPACE_grayscale, false, true, true},
    {"K", DCRASTER_COLORSPACE_grayscale, false, false, false},
    {"K+O", DCRASTER_COLORSPACE_grayscale, true, true, true},
    {"K+O", DCRASTER_COLORSPACE_grayscale, true, true, false},
    {"pRGB", DCRASTER_COLORSPACE_rgb, false, true, true},
    {"pRGB", DCRASTER_COLORSPACE_rgb, false, true, false},
    {"iRGB", DCRASTER_COLORSPACE_rgb, false, false, true},
    {"iRGB", DCRASTER_COLORSPACE_rgb, false, false, false},
    {"pRGB+O", DCRASTER_COLORSPACE_rgb, true, true, true},
    {"pRGB+O", DCRASTER_COLORSPACE_rgb, true, true, false},
    {"iRGB+O", DCRASTER_COLORSPACE_rgb, true, false, true},
    {"iRGB+O", DCRASTER_COLORSPACE_rgb, true, false, false},
    {"pCMYK", DCRASTER_COLORSPACE_cmyk, false, true, true},
    {"pCMYK", DCRASTER_COLORSPACE_cmyk, false, false, false},
};

class DcRasterFormatTest : public ::testing::TestWithParam<FormatCase> {};

// Every format: the decoded image equals the input, the header names the
// format and the inversion, each row's tokens equal the plain reference and
// the compressed bytes equal zlib fed the reference tokens row by row.
TEST_P(DcRasterFormatTest, RoundTripsAndMatchesReferenceBytes) {
  const FormatCase& fc = GetParam();
  const uint8_t code = 0x5A;
  const RefFormat ref = RefFor(fc, code);
  const std::vector<Planes> rows = MixedImage(516, 24, ref.Channels(), ref, 7);
  Encoded enc;
  Encode(fc, rows, code, 6, &enc);
  if (HasFatalFailure()) return;
  const DcrImage& img = enc.image;

  EXPECT_EQ(img.format, fc.name);
  EXPECT_EQ(img.white_is_0, fc.white_is_0);
  ASSERT_EQ(img.Channels(), ref.Channels());
  std::vector<DcrBytes> ref_rows;
  for (int y = 0; y < 24; ++y) {
    for (int c = 0; c < ref.Channels(); ++c) {
      for (int x = 0; x < 516; ++x) {
        ASSERT_EQ(img.At(c, x, y), rows[y][c][x]) << "plane " << c << " x " << x << " y " << y;
      }
    }
    ref_rows.push_back(RefRow(ref, rows[y]));
  }
  DcrBytes ref_tokens;
  for (const DcrBytes& r : ref_rows) ref_tokens.insert(ref_tokens.end(), r.begin(), r.end());
  EXPECT_EQ(img.tokens, ref_tokens);

  const DcrBytes all = enc.out.All();
  const DcrBytes zlib(all.end() - 9 - static_cast<long>(img.zlib_size), all.end() - 9);
  EXPECT_EQ(zlib, RefDeflate(ref_rows, 6));

  // Every token kind occurs, so the comparison above covers them all.
  bool seen[3] = {false, false, false};
  for (const auto& row : img.rows) {
    for (const DcrToken& t : row) seen[t.type] = true;
  }
  EXPECT_TRUE(seen[0] && seen[1] && seen[2]);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, DcRasterFormatTest, ::testing::ValuesIn(kFormatCases),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                           std::string n = info.param.name;
                           std::replace(n.begin(), n.end(), '+', 'O');
                           return n + (info.param.white_is_0 ? "_white0" : "_white1");
                         });

// ---------------------------------------------------------------------------
// Single grey rows

std::vector<DcrToken> GreyRowTokens(const DcrBytes& row, int level = 9) {
  Encoded enc;
  Encode(FormatCase{"K", DCRASTER_COLORSPACE_grayscale, false, true, true}, {Planes{row}}, 0, level,
         &enc);
  return enc.image.rows.empty() ? std::vector<DcrToken>{} : enc.image.rows[0];
}

DcrBytes Varying(int n, uint8_t start) {
  DcrBytes v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(start + i);
  return v;
}

TEST(DcRasterGrey, HeaderOfSmallImageIsOneCallPerLine) {
  DcrCollector out;
  DCRASTER_t* dcr = dcraster_create_with_context(8, 2, DCRASTER_COLORSPACE_grayscale,
                                                 DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                 DCRASTER_OBJECTTYPE_disable, 0,
                                                 DcrCollector::Callback, &out);
  ASSERT_NE(dcr, nullptr);
  EXPECT_TRUE(out.Calls().empty()) << "creation writes nothing";
  DcrBytes row = Varying(8, 1);
  ASSERT_EQ(dcraster_grayscale_add(dcr, row.data(), nullptr), 0);
  ASSERT_EQ(dcraster_grayscale_add(dcr, row.data(), nullptr), 0);
  dcraster_delete(dcr);

  const std::vector<std::string> header = {"DCRASTER v1.0\n", "ImageSize 8 2\n", "ImageFormat K\n",
                                           "WhiteIs000\n",    "Deflate\n",       "ImageBegin\n"};
  ASSERT_GE(out.Calls().size(), header.size() + 2);
  for (size_t i = 0; i < header.size(); ++i) {
    EXPECT_EQ(std::string(out.Calls()[i].begin(), out.Calls()[i].end()), header[i]);
  }
  const DcrBytes& last = out.Calls().back();
  EXPECT_EQ(std::string(last.begin(), last.end()), "ImageEnd\n");
  // The zlib stream in between starts with the header of level 9.
  EXPECT_EQ(out.Calls()[header.size()][0], 0x78);
  EXPECT_EQ(out.Calls()[header.size()][1], 0xDA);
}

TEST(DcRasterGrey, UniformRowsAreSingleRunTokens) {
  auto white = GreyRowTokens(DcrBytes(64, 0xFF));
  ASSERT_EQ(white.size(), 1u);
  EXPECT_EQ(white[0].count, 64);
  EXPECT_EQ(white[0].type, 1);

  auto black = GreyRowTokens(DcrBytes(64, 0x00));
  ASSERT_EQ(black.size(), 1u);
  EXPECT_EQ(black[0].count, 64);
  EXPECT_EQ(black[0].type, 2);
  EXPECT_EQ(black[0].value, (std::array<uint8_t, 4>{0xFF, 0, 0, 0}));
}

TEST(DcRasterGrey, RunThenLiteralOnTheGrid) {
  // 36 equal pixels then 28 varying: a run of 36, a literal of 28.
  DcrBytes row(36, 0x40);
  DcrBytes tail = Varying(28, 1);
  row.insert(row.end(), tail.begin(), tail.end());
  auto t = GreyRowTokens(row);
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].count, 36);
  EXPECT_EQ(t[0].type, 2);
  EXPECT_EQ(t[0].value[0], 0x40 ^ 0xFF);
  EXPECT_EQ(t[1].count, 28);
  EXPECT_EQ(t[1].type, 0);
  DcrBytes inverted;
  for (uint8_t v : tail) inverted.push_back(static_cast<uint8_t>(~v));
  EXPECT_EQ(t[1].literal, inverted);

  // 34 equal pixels: the run is cut to 32 and the two left over start the
  // literal of the rest.
  DcrBytes row34(34, 0x40);
  DcrBytes rest = Varying(30, 1);
  row34.insert(row34.end(), rest.begin(), rest.end());
  auto u = GreyRowTokens(row34);
  ASSERT_EQ(u.size(), 2u);
  EXPECT_EQ(u[0].count, 32);
  EXPECT_EQ(u[0].type, 2);
  EXPECT_EQ(u[1].count, 32);
  EXPECT_EQ(u[1].type, 0);
}

TEST(DcRasterGrey, LiteralKeepsShortRunsAndEndsBeforeLongOnes) {
  // 40 varying pixels, then a run of exactly 32 on the grid, then 8 varying,
  // then a run of 33 starting on the grid: the 32-run stays inside the
  // literal, the 33-run (cut to 32) ends it.
  DcrBytes row = Varying(40, 1);
  row.insert(row.end(), 32, 0x80);
  DcrBytes mid = Varying(8, 100);
  row.insert(row.end(), mid.begin(), mid.end());
  row.insert(row.end(), 33, 0x90);
  row.insert(row.end(), 3, 0x11);  // width 116
  auto t = GreyRowTokens(row);
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].type, 0);
  EXPECT_EQ(t[0].count, 80);
  EXPECT_EQ(t[1].type, 2);
  EXPECT_EQ(t[1].count, 32);
  EXPECT_EQ(t[2].type, 0);
  EXPECT_EQ(t[2].count, 4);

  // A long run that starts off the grid inside the first 32 pixels of a
  // literal is found from the next grid position after x + 32 only.
  DcrBytes row2 = Varying(10, 1);
  row2.insert(row2.end(), 70, 0x33);  // pixels 10..79
  auto u = GreyRowTokens(row2);
  ASSERT_EQ(u.size(), 2u);
  EXPECT_EQ(u[0].count, 32);
  EXPECT_EQ(u[0].type, 0);
  EXPECT_EQ(u[1].count, 48);
  EXPECT_EQ(u[1].type, 2);
}

TEST(DcRasterGrey, NarrowRowsAreOneLiteral) {
  auto t = GreyRowTokens(DcrBytes{1, 2, 3, 4});
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0].count, 4);
  EXPECT_EQ(t[0].type, 0);
  // Equal pixels below 32 are no run either.
  auto u = GreyRowTokens(DcrBytes(28, 0x00));
  ASSERT_EQ(u.size(), 1u);
  EXPECT_EQ(u[0].type, 0);
}

// ---------------------------------------------------------------------------
// Blank runs against colour runs

TEST(DcRasterRuns, BlankIsJudgedOnInputValuesOfEveryPlane) {
  const int w = 64;
  struct Case {
    FormatCase fc;
    std::vector<uint8_t> pixel;  // one value per plane
    int type;                    // expected run type
    std::array<uint8_t, 4> value;
  };
  const std::vector<Case> cases = {
      {{"pRGB", DCRASTER_COLORSPACE_rgb, false, true, true}, {0xFF, 0xFF, 0xFF}, 1, {}},
      {{"pRGB", DCRASTER_COLORSPACE_rgb, false, true, true}, {0xFF, 0xFF, 0xFE}, 2, {0, 0, 1, 0}},
      {{"pRGB", DCRASTER_COLORSPACE_rgb, false, true, false}, {0xFF, 0xFF, 0xFF}, 1, {}},
      {{"pRGB", DCRASTER_COLORSPACE_rgb, false, true, false}, {0x00, 0x10, 0x20}, 2, {0, 0x10, 0x20, 0}},
      {{"pCMYK", DCRASTER_COLORSPACE_cmyk, false, true, true}, {0, 0, 0, 0}, 1, {}},
      {{"pCMYK", DCRASTER_COLORSPACE_cmyk, false, true, true}, {0, 0, 0, 0xFF}, 2, {0, 0, 0, 0xFF}},
      {{"pCMYK", DCRASTER_COLORSPACE_cmyk, false, true, false}, {1, 2, 3, 4}, 2, {0xFE, 0xFD, 0xFC, 0xFB}},
      {{"K+O", DCRASTER_COLORSPACE_grayscale, true, true, true}, {0xFF, 0x07}, 1, {}},
      {{"K+O", DCRASTER_COLORSPACE_grayscale, true, true, true}, {0xFF, 0x08}, 2, {0, 0x08, 0, 0}},
      {{"iRGB+O", DCRASTER_COLORSPACE_rgb, true, false, true}, {0xFF, 0xFF, 0xFF, 0x07}, 1, {}},
      {{"iRGB+O", DCRASTER_COLORSPACE_rgb, true, false, true}, {0x00, 0xFF, 0xFF, 0x09}, 2, {0xFF, 0, 0, 0x09}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fc.name) + (c.fc.white_is_0 ? " white0" : ""));
    Planes row;
    for (uint8_t v : c.pixel) row.push_back(DcrBytes(w, v));
    Encoded enc;
    Encode(c.fc, {row}, 0x07, 9, &enc);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(enc.image.rows[0].size(), 1u);
    EXPECT_EQ(enc.image.rows[0][0].type, c.type);
    if (c.type == 2) {
      EXPECT_EQ(enc.image.rows[0][0].value, c.value);
    }
  }
}

TEST(DcRasterRuns, InterleavedLiteralsAreComplementedTriples) {
  Planes row = {DcrBytes{1, 2, 3, 4}, DcrBytes{5, 6, 7, 8}, DcrBytes{9, 10, 11, 12}};
  Encoded enc;
  Encode(FormatCase{"iRGB", DCRASTER_COLORSPACE_rgb, false, false, true}, {row}, 0, 9, &enc);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(enc.image.header[2], "ImageFormat iRGB");
  ASSERT_EQ(enc.image.rows[0].size(), 1u);
  const DcrBytes want = {0xFE, 0xFA, 0xF6, 0xFD, 0xF9, 0xF5, 0xFC, 0xF8, 0xF4, 0xFB, 0xF7, 0xF3};
  EXPECT_EQ(enc.image.rows[0][0].literal, want);
}

// ---------------------------------------------------------------------------
// Streaming and delivery sizes

TEST(DcRasterStream, DeliveriesNeverExceed32KiBAndArriveWhileRowsAreAdded) {
  // Rows of 196 KB of noise: one deflate call fills the buffer several times.
  const int w = DCRASTER_MAX_WIDTH, h = 4;
  std::mt19937 rng(3);
  DcrCollector out;
  DCRASTER_t* dcr = dcraster_create_with_context(w, h, DCRASTER_COLORSPACE_rgb,
                                                 DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                 DCRASTER_OBJECTTYPE_disable, 0,
                                                 DcrCollector::Callback, &out);
  ASSERT_NE(dcr, nullptr);
  dcr->deflateEffort = 1;
  Planes row(3, DcrBytes(w));
  size_t calls_before_last_row = 0;
  for (int y = 0; y < h; ++y) {
    for (DcrBytes& p : row) {
      for (uint8_t& v : p) v = static_cast<uint8_t>(rng());
    }
    if (y == h - 1) calls_before_last_row = out.Calls().size();
    ASSERT_EQ(dcraster_rgb_add(dcr, row[0].data(), row[1].data(), row[2].data(), nullptr), 0);
  }
  dcraster_delete(dcr);
  std::string error;
  ASSERT_TRUE(quillpreview::CheckDcRasterCalls(out.Calls(), &error)) << error;
  // Output streams out while rows come in, in full 32 KiB pieces.
  EXPECT_GT(calls_before_last_row, 6u + 10u);
  size_t full = 0;
  for (const DcrBytes& c : out.Calls()) full += c.size() == 32768 ? 1 : 0;
  EXPECT_GT(full, 10u);
  DcrImage img;
  ASSERT_TRUE(quillpreview::DecodeDcRaster(out.All(), &img, &error)) << error;
}

TEST(DcRasterStream, TwoEncodersWithContextsKeepTheirOwnOutput) {
  DcrCollector a, b;
  DCRASTER_t* ea = dcraster_create_with_context(8, 2, DCRASTER_COLORSPACE_grayscale,
                                                DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                DCRASTER_OBJECTTYPE_disable, 0, DcrCollector::Callback, &a);
  DCRASTER_t* eb = dcraster_create_with_context(12, 1, DCRASTER_COLORSPACE_grayscale,
                                                DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                DCRASTER_OBJECTTYPE_disable, 0, DcrCollector::Callback, &b);
  DcrBytes ra(8, 0x10), rb(12, 0x20);
  dcraster_grayscale_add(ea, ra.data(), nullptr);
  dcraster_grayscale_add(eb, rb.data(), nullptr);
  dcraster_grayscale_add(ea, ra.data(), nullptr);
  dcraster_delete(eb);
  dcraster_delete(ea);
  DcrImage ia, ib;
  std::string error;
  ASSERT_TRUE(quillpreview::DecodeDcRaster(a.All(), &ia, &error)) << error;
  ASSERT_TRUE(quillpreview::DecodeDcRaster(b.All(), &ib, &error)) << error;
  EXPECT_EQ(ia.width, 8);
  EXPECT_EQ(ia.At(0, 7, 1), 0x10);
  EXPECT_EQ(ib.width, 12);
  EXPECT_EQ(ib.At(0, 11, 0), 0x20);
}

// ---------------------------------------------------------------------------
// Life cycle

TEST(DcRasterLifecycle, CreationRefusesInvalidArguments) {
  auto create = [](int w, int h, int space, int format, int object, DCRASTER_CALLBACK cb) {
    return dcraster_create(w, h, static_cast<DCRASTER_COLORSPACE_t>(space),
                           static_cast<DCRASTER_COMPRESSIONFORMAT_t>(format),
                           static_cast<DCRASTER_OBJECTTYPE_t>(object), 0, cb);
  };
  DCRASTER_CALLBACK cb = DcrCollector::GlobalCallback;
  EXPECT_EQ(create(10, 1, 0, 0, 0, cb), nullptr);     // not a multiple of 4
  EXPECT_EQ(create(0, 1, 0, 0, 0, cb), nullptr);
  EXPECT_EQ(create(-4, 1, 0, 0, 0, cb), nullptr);
  EXPECT_EQ(create(8, 0, 0, 0, 0, cb), nullptr);
  EXPECT_EQ(create(65536, 1, 0, 0, 0, cb), nullptr);  // count would overflow 16 bits
  EXPECT_EQ(create(65536 + 65532, 1, 0, 0, 0, cb), nullptr);
  // Taller than a 2 m sheet at 2880 dpi: deleting it would pad that many rows.
  EXPECT_EQ(create(8, DCRASTER_MAX_HEIGHT + 1, 0, 0, 0, cb), nullptr);
  EXPECT_EQ(create(8, 0x7FFFFFFF, 0, 0, 0, cb), nullptr);
  EXPECT_EQ(create(8, 1, 3, 0, 0, cb), nullptr);
  EXPECT_EQ(create(8, 1, -1, 0, 0, cb), nullptr);
  EXPECT_EQ(create(8, 1, 0, 1, 0, cb), nullptr);
  EXPECT_EQ(create(8, 1, 0, 0, 2, cb), nullptr);
  EXPECT_EQ(create(8, 1, DCRASTER_COLORSPACE_cmyk, 0, DCRASTER_OBJECTTYPE_enable, cb), nullptr);
  EXPECT_EQ(create(8, 1, 0, 0, 0, nullptr), nullptr);
  EXPECT_EQ(dcraster_create_with_context(8, 1, DCRASTER_COLORSPACE_grayscale,
                                         DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                         DCRASTER_OBJECTTYPE_disable, 0, nullptr, nullptr),
            nullptr);

  DCRASTER_t* ok = create(8, 1, DCRASTER_COLORSPACE_cmyk, 0, 0, cb);
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->planar, 1);
  EXPECT_EQ(ok->deflateEffort, 9);
  EXPECT_EQ(ok->whiteIs0, 1);
  EXPECT_EQ(ok->currentLine, 0);
  EXPECT_EQ(ok->nChannels, 4);
  EXPECT_EQ(ok->widthAlign4, 8);
  DcrCollector sink;
  DcrCollector::SetCurrent(&sink);
  dcraster_delete(ok);
  DcrCollector::SetCurrent(nullptr);
}

TEST(DcRasterLifecycle, WidestRowRunsToTheFullCount) {
  DcrCollector out;
  DCRASTER_t* dcr = dcraster_create_with_context(DCRASTER_MAX_WIDTH, 1, DCRASTER_COLORSPACE_grayscale,
                                                 DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                 DCRASTER_OBJECTTYPE_disable, 0,
                                                 DcrCollector::Callback, &out);
  ASSERT_NE(dcr, nullptr);
  DcrBytes row(DCRASTER_MAX_WIDTH, 0x00);
  ASSERT_EQ(dcraster_grayscale_add(dcr, row.data(), nullptr), 0);
  dcraster_delete(dcr);
  DcrImage img;
  std::string error;
  ASSERT_TRUE(quillpreview::DecodeDcRaster(out.All(), &img, &error)) << error;
  ASSERT_EQ(img.rows[0].size(), 1u);
  EXPECT_EQ(img.rows[0][0].count, 65532);
}

TEST(DcRasterLifecycle, DeleteRightAfterCreateWritesACompleteBlankImage) {
  DcrCollector out;
  DcrCollector::SetCurrent(&out);
  DCRASTER_t* dcr = dcraster_create(16, 3, DCRASTER_COLORSPACE_grayscale,
                                    DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                    DCRASTER_OBJECTTYPE_disable, 0, DcrCollector::GlobalCallback);
  ASSERT_NE(dcr, nullptr);
  EXPECT_EQ(dcraster_blank_add(dcr, 0), 0);
  EXPECT_TRUE(out.Calls().empty()) << "no rows asked: nothing written yet";
  dcraster_delete(dcr);
  DcrCollector::SetCurrent(nullptr);

  DcrImage img;
  std::string error;
  ASSERT_TRUE(quillpreview::CheckDcRasterCalls(out.Calls(), &error)) << error;
  ASSERT_TRUE(quillpreview::DecodeDcRaster(out.All(), &img, &error)) << error;
  EXPECT_EQ(img.header[1], "ImageSize 16 3");
  ASSERT_EQ(img.rows.size(), 3u);
  for (const auto& row : img.rows) {
    ASSERT_EQ(row.size(), 1u);
    EXPECT_EQ(row[0].count, 16);
    EXPECT_EQ(row[0].type, 1);
  }
  EXPECT_EQ(img.tokens, (DcrBytes{16, 0, 1, 0, 16, 0, 1, 0, 16, 0, 1, 0}));

  // Any count but 0 starts the object, a negative one without adding rows.
  DcrCollector started;
  DCRASTER_t* neg = dcraster_create_with_context(8, 2, DCRASTER_COLORSPACE_grayscale,
                                                 DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                 DCRASTER_OBJECTTYPE_disable, 0,
                                                 DcrCollector::Callback, &started);
  ASSERT_NE(neg, nullptr);
  EXPECT_EQ(dcraster_blank_add(neg, -3), 0);
  ASSERT_EQ(started.Calls().size(), 6u);
  EXPECT_EQ(std::string(started.Calls()[5].begin(), started.Calls()[5].end()), "ImageBegin\n");
  EXPECT_EQ(neg->currentLine, 0);
  dcraster_delete(neg);
  ASSERT_TRUE(quillpreview::DecodeDcRaster(started.All(), &img, &error)) << error;
  EXPECT_EQ(img.rows.size(), 2u);
}

TEST(DcRasterLifecycle, BlankRowsAndMissingRowsFillTheImage) {
  DcrCollector out;
  DCRASTER_t* dcr = dcraster_create_with_context(8, 5, DCRASTER_COLORSPACE_rgb,
                                                 DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                 DCRASTER_OBJECTTYPE_enable, 0x42,
                                                 DcrCollector::Callback, &out);
  ASSERT_NE(dcr, nullptr);
  DcrBytes r(8, 0x01), g(8, 0x02), b(8, 0x03), o(8, 0x04);
  EXPECT_EQ(dcraster_blank_add(dcr, 2), 0);
  EXPECT_EQ(dcr->currentLine, 2);
  EXPECT_EQ(dcraster_rgb_add(dcr, r.data(), g.data(), b.data(), nullptr), 1) << "object plane missing";
  EXPECT_EQ(dcraster_rgb_add(dcr, r.data(), g.data(), b.data(), o.data()), 0);
  dcraster_delete(dcr);  // rows 3 and 4 become blank
  DcrImage img;
  std::string error;
  ASSERT_TRUE(quillpreview::DecodeDcRaster(out.All(), &img, &error, 0x42)) << error;
  EXPECT_EQ(img.format, "pRGB+O");
  for (int y = 0; y < 5; ++y) {
    const bool data_row = y == 2;
    EXPECT_EQ(img.At(0, 3, y), data_row ? 0x01 : 0xFF) << y;
    EXPECT_EQ(img.At(3, 3, y), data_row ? 0x04 : 0x42) << y;
  }
}

TEST(DcRasterLifecycle, RowsOfTheWrongKindOrBeyondTheHeightAreRefused) {
  DcrCollector out;
  DCRASTER_t* dcr = dcraster_create_with_context(8, 1, DCRASTER_COLORSPACE_grayscale,
                                                 DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                 DCRASTER_OBJECTTYPE_disable, 0,
                                                 DcrCollector::Callback, &out);
  DcrBytes row(8, 0x00);
  EXPECT_EQ(dcraster_rgb_add(dcr, row.data(), row.data(), row.data(), nullptr), 1);
  EXPECT_EQ(dcraster_cmyk_add(dcr, row.data(), row.data(), row.data(), row.data(), nullptr), 1);
  EXPECT_EQ(dcraster_grayscale_add(dcr, nullptr, nullptr), 1);
  EXPECT_TRUE(out.Calls().empty());
  EXPECT_EQ(dcraster_grayscale_add(dcr, row.data(), nullptr), 0);
  const size_t after_last = out.Calls().size();
  EXPECT_EQ(dcraster_grayscale_add(dcr, row.data(), nullptr), 1) << "image already complete";
  EXPECT_EQ(dcraster_blank_add(dcr, 3), 0);
  EXPECT_EQ(out.Calls().size(), after_last);
  EXPECT_EQ(dcr->currentLine, 1);
  dcraster_delete(dcr);
  DcrImage img;
  std::string error;
  ASSERT_TRUE(quillpreview::DecodeDcRaster(out.All(), &img, &error)) << error;

  EXPECT_EQ(dcraster_grayscale_add(nullptr, row.data(), nullptr), 1);
  EXPECT_EQ(dcraster_delete(nullptr), 0);
}

TEST(DcRasterLifecycle, SettingsApplyUntilTheFirstRowOnly) {
  DcrCollector out;
  DCRASTER_t* dcr = dcraster_create_with_context(8, 2, DCRASTER_COLORSPACE_rgb,
                                                 DCRASTER_COMPRESSIONFORMAT_tokenDeflate,
                                                 DCRASTER_OBJECTTYPE_disable, 0,
                                                 DcrCollector::Callback, &out);
  dcr->planar = 0;
  dcr->whiteIs0 = 0;
  dcr->deflateEffort = 42;  // outside zlib's range: clamped, the object stays whole
  DcrBytes r = {1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_EQ(dcraster_rgb_add(dcr, r.data(), r.data(), r.data(), nullptr), 0);
  dcr->planar = 1;
  dcr->whiteIs0 = 1;
  ASSERT_EQ(dcraster_rgb_add(dcr, r.data(), r.data(), r.data(), nullptr), 0);
  dcraster_delete(dcr);
  DcrImage img;
  std::string error;
  ASSERT_TRUE(quillpreview::DecodeDcRaster(out.All(), &img, &error)) << error;
  EXPECT_EQ(img.format, "iRGB");
  EXPECT_FALSE(img.white_is_0);
  EXPECT_EQ(img.rows[1][0].literal, img.rows[0][0].literal);
  EXPECT_EQ(img.rows[0][0].literal[0], 1);
  EXPECT_EQ(img.rows[0][0].literal[3], 2);
}

// ---------------------------------------------------------------------------
// Helpers in isolation

TEST(DcRasterHelpers, RunHelpersStopAtTheFirstDifferenceInAnyPlane) {
  DcrBytes a(100, 7), b(100, 7), c(100, 7), d(100, 7);
  b[61] = 8;
  d[45] = 9;
  BYTE* planes[4] = {a.data(), b.data(), c.data(), d.data()};
  EXPECT_EQ(_dcraster_runLength1(planes, 0, 100), 100);
  EXPECT_EQ(_dcraster_runLength2(planes, 0, 100), 61);
  EXPECT_EQ(_dcraster_runLength3(planes, 3, 100), 58);
  EXPECT_EQ(_dcraster_runLength4(planes, 3, 100), 42);
  EXPECT_EQ(_dcraster_runLength4(planes, 45, 100), 1);
  EXPECT_EQ(_dcraster_runLength1(planes, 99, 100), 1);
  EXPECT_EQ(_dcraster_runLength1(planes, 10, 20), 10);
  // Random rows against the plain count, across word boundaries.
  std::mt19937 rng(5);
  for (int trial = 0; trial < 2000; ++trial) {
    DcrBytes p(64);
    for (uint8_t& v : p) v = rng() % 5 == 0 ? 1 : 0;
    BYTE* one[1] = {p.data()};
    const int start = static_cast<int>(rng() % 64);
    int want = 1;
    while (start + want < 64 && p[start + want] == p[start]) ++want;
    ASSERT_EQ(_dcraster_runLength1(one, start, 64), want);
  }
}

}  // namespace
