// The generated data tables: the four screen tiles and the noise matrix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <vector>

#include "halftone/ets.h"
#include "halftone/screens_data.h"

using quill_dither::ets_noise_matrix;

namespace {

struct TileFacts {
  const char* name;
  const uint8_t* cells;
  int size;
  int low;           // smallest threshold
  int distinct;      // number of distinct values
  int count255;      // cells holding 255 (-1: an ordinary share)
  int ax, ay;        // a lattice vector of the dot screen
  std::vector<int> first_row;
};

const std::vector<TileFacts>& Tiles() {
  static const std::vector<TileFacts> tiles = {
      {"136_105", SCREEN_DITHERED_136_105, 136, 7, 84, 435, -2, 8, {}},
      {"140_72", SCREEN_DITHERED_140_72, 140, 3, 120, -1, 2, 6, {}},
      {"130_0", SCREEN_DITHERED_130_0, 130, 5, 99, 338, 5, 0,
       {5, 76, 117, 66, 15, 13, 84, 125, 74, 23, 10, 82, 122, 71, 20, 8}},
      {"128_45", SCREEN_DITHERED_128_45, 128, 4, 96, -1, 4, 4,
       {230, 166, 94, 20, 17, 49, 216, 248, 232, 169, 97, 25, 12, 44, 211, 243}},
  };
  return tiles;
}

TEST(ScreenTiles, RangeFrequenciesAndQuotedRows) {
  for (const TileFacts& t : Tiles()) {
    const int n = t.size * t.size;
    std::map<int, int> hist;
    for (int i = 0; i < n; ++i) hist[t.cells[i]]++;
    EXPECT_EQ(hist.begin()->first, t.low) << t.name;
    EXPECT_EQ(hist.rbegin()->first, 255) << t.name;
    EXPECT_EQ(static_cast<int>(hist.size()), t.distinct) << t.name;
    const int plain = t.count255 < 0 ? t.distinct : t.distinct - 1;
    const int rest = t.count255 < 0 ? n : n - t.count255;
    for (const auto& [value, count] : hist) {
      if (value == 255 && t.count255 >= 0) {
        EXPECT_EQ(count, t.count255) << t.name;
      } else {
        EXPECT_GE(count, rest / plain) << t.name << " value " << value;
        EXPECT_LE(count, (rest + plain - 1) / plain) << t.name << " value " << value;
      }
    }
    for (size_t x = 0; x < t.first_row.size(); ++x) EXPECT_EQ(t.cells[x], t.first_row[x]) << t.name << " " << x;
  }
}

// A clustered-dot screen repeats along its lattice vector: thresholds one
// dot apart are nearly equal, while arbitrary cells are not; and at mid grey
// the black cells form solid clusters.
TEST(ScreenTiles, ClusteredDotsOnTheStatedLattice) {
  for (const TileFacts& t : Tiles()) {
    const int s = t.size;
    auto at = [&](int x, int y) { return int(t.cells[((y % s + s) % s) * s + (x % s + s) % s]); };
    double along = 0, random = 0;
    for (int y = 0; y < s; ++y) {
      for (int x = 0; x < s; ++x) {
        along += std::abs(at(x, y) - at(x + t.ax, y + t.ay));
        random += std::abs(at(x, y) - at(x * 7 + 13, y * 5 + 29));
      }
    }
    EXPECT_LT(along, random * 0.15) << t.name;

    // Mean number of black 4-neighbours of a black cell at mid grey: about 2
    // for a random pattern, below 1 for a dispersed one.
    int black = 0, neighbours = 0;
    for (int y = 0; y < s; ++y) {
      for (int x = 0; x < s; ++x) {
        if (128 >= at(x, y)) continue;
        ++black;
        neighbours += (128 < at(x + 1, y)) + (128 < at(x - 1, y)) + (128 < at(x, y + 1)) + (128 < at(x, y - 1));
      }
    }
    EXPECT_GT(neighbours, black * 2.6) << t.name;
  }
}

// Ratio of the variance of b x b block means to what white noise of the
// same values would give; well below 1 means little low-frequency energy.
double BlockVarianceRatio(const std::vector<int>& m, int b) {
  double mean = 0, var = 0;
  for (int v : m) mean += v;
  mean /= m.size();
  for (int v : m) var += (v - mean) * (v - mean);
  var /= m.size();
  std::vector<double> means;
  for (int by = 0; by < 256; by += b) {
    for (int bx = 0; bx < 256; bx += b) {
      double s = 0;
      for (int y = 0; y < b; ++y) {
        for (int x = 0; x < b; ++x) s += m[(by + y) * 256 + bx + x];
      }
      means.push_back(s / (b * b));
    }
  }
  double mvar = 0;
  for (double v : means) mvar += (v - mean) * (v - mean);
  mvar /= means.size();
  return mvar / (var / (b * b));
}

// Correlation of horizontally and vertically neighbouring values.
double NeighbourCorrelation(const std::vector<int>& m) {
  double mean = std::accumulate(m.begin(), m.end(), 0.0) / m.size();
  double num = 0, den = 0;
  for (int y = 0; y < 256; ++y) {
    for (int x = 0; x < 256; ++x) {
      const double c = m[y * 256 + x] - mean;
      num += c * (m[y * 256 + (x + 1) % 256] - mean) + c * (m[((y + 1) % 256) * 256 + x] - mean);
      den += 2 * c * c;
    }
  }
  return num / den;
}

TEST(NoiseMatrix, ValuesAndQuotedRows) {
  std::map<int, int> hist;
  long sum = 0;
  for (int i = 0; i < 65536; ++i) {
    hist[ets_noise_matrix[i]]++;
    sum += ets_noise_matrix[i];
  }
  EXPECT_EQ(hist.begin()->first, -128);
  EXPECT_EQ(hist.rbegin()->first, 125);
  EXPECT_EQ(hist.size(), 242u);
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(hist[0], 1015);
  for (const auto& [value, count] : hist) {
    if (value != 0) {
      EXPECT_LT(count, 1015) << value;
    }
  }
  const int row0[] = {51, -28, 14, 31, 43, -58, -27, 45, -45, 38, 1, 2, -30, -1, 62, 42};
  const int row1[] = {3, -51, 38, -83, 28, -3, 20, -49};
  for (int x = 0; x < 16; ++x) EXPECT_EQ(ets_noise_matrix[x], row0[x]) << x;
  for (int x = 0; x < 8; ++x) EXPECT_EQ(ets_noise_matrix[256 + x], row1[x]) << x;
}

// Blue noise: hardly any low-frequency energy, neighbours anti-correlated.
// The same values in a scrambled order (white noise) serve as the yardstick.
TEST(NoiseMatrix, IsBlueNoise) {
  std::vector<int> m(ets_noise_matrix, ets_noise_matrix + 65536);
  std::vector<int> white(m);
  uint32_t s = 12345;
  for (int i = 65535; i > 0; --i) {
    s = s * 1664525u + 1013904223u;
    std::swap(white[i], white[(s >> 8) % (i + 1)]);
  }
  for (int b : {4, 8, 16}) {
    EXPECT_LT(BlockVarianceRatio(m, b), 0.3) << b;
    EXPECT_GT(BlockVarianceRatio(white, b), 0.7) << b;
  }
  EXPECT_LT(NeighbourCorrelation(m), -0.15);
  EXPECT_NEAR(NeighbourCorrelation(white), 0.0, 0.03);
}

}  // namespace
