// gen_dither_data.cpp - generates the halftoning data tables of libquillcore:
// the four clustered-dot threshold tiles of the ordered dither
// (lib/halftone/screens_data.cpp) and the 256 x 256 blue-noise matrix of the
// even-toned screening (lib/halftone/noise_matrix_data.cpp).
//
// Regenerate from the top of the source tree with
//
//   c++ -O2 -std=c++17 tools/gen_dither_data.cpp -o /tmp/gen_dither_data
//   /tmp/gen_dither_data lib/halftone
//
// The test "dither_generated_data_in_step" builds this program, runs it into
// the build directory and fails when its output differs from the files
// checked in under lib/halftone/.
//
// Everything here is integer arithmetic or rounded to integers before it is
// compared, so the output is the same on every run and machine.
//
// Screen tiles. A tile of S x S cells is one supercell of a periodic dot
// screen whose lattice is spanned by A = (a, b) and B = (-b, a) (integer
// vectors, so every dot is congruent and the tile repeats seamlessly). Each
// cell gets the fractional lattice coordinates (u, v) relative to its dot
// and the spot value cos 2 pi u + cos 2 pi v. Cells are ranked inside their
// dot by spot value (lowest first: those turn white first, at the dot's
// white corner), and the dots of the tile are put in a dispersed order
// (farthest point first on the torus). Global order = rank * dots + dot
// order, so every threshold level adds one cell to an evenly spread share
// of the dots. The global order is cut into equally large levels, levels
// are mapped to threshold values, and the last levels become 255 (cells that
// stay black below pure white). Finally the quoted first-row values are
// pinned by swapping values with cells of the same value elsewhere, which
// keeps the histogram unchanged.
//
// Noise matrix. Void-and-cluster ranking: starting from an empty torus,
// each step fills the emptiest place (lowest sum of a Gaussian of the cells
// already filled; ties go to a fixed pseudo-random order). The ranks are
// mapped monotonically onto a histogram with mean exactly 0, values
// -128..125 in 242 distinct values and 0 the most frequent, and the quoted
// starts of rows 0 and 1 are pinned by value swaps as above.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

struct TileSpec {
  const char* name;
  int size;                  // S
  int a, b;                  // lattice vector A = (a, b), B = (-b, a)
  int phase2_x, phase2_y;    // twice the position of a black dot centre
  int total_levels;          // levels if 255 had an ordinary share
  int plain_levels;          // levels below 255
  int low;                   // value of level 0
  int value_num, value_den;  // level k -> low + (k * num + round) / den
  int value_round;
  std::vector<int> first_row;
};

const double kPi = 3.14159265358979323846;

// Dispersed order of the dots: farthest point first (toroidal squared
// distance), ties to the lowest index.
std::vector<int> DispersedOrder(const std::vector<std::pair<int, int>>& centres, int s) {
  const int n = static_cast<int>(centres.size());
  std::vector<long> mind(n, 1L << 40);
  std::vector<bool> used(n, false);
  std::vector<int> order;
  int next = 0;
  for (int step = 0; step < n; ++step) {
    order.push_back(next);
    used[next] = true;
    for (int i = 0; i < n; ++i) {
      int dx = std::abs(centres[i].first - centres[next].first);
      int dy = std::abs(centres[i].second - centres[next].second);
      dx = std::min(dx, 2 * s - dx);
      dy = std::min(dy, 2 * s - dy);
      mind[i] = std::min(mind[i], static_cast<long>(dx) * dx + static_cast<long>(dy) * dy);
    }
    int best = -1;
    for (int i = 0; i < n; ++i) {
      if (!used[i] && (best < 0 || mind[i] > mind[best])) best = i;
    }
    next = best;
  }
  return order;
}

// Swaps values so that cells[p] == wanted[p] for the pinned cells, taking
// each wanted value from the unpinned cell holding it whose key is closest
// to the pinned cell's key (ties to the lowest index).
template <class T>
void PinValues(std::vector<T>& cells, const std::vector<int>& pinned, const std::vector<int>& wanted,
               const std::vector<long>& key) {
  std::vector<bool> is_pinned(cells.size(), false);
  for (int p : pinned) is_pinned[p] = true;
  for (size_t i = 0; i < pinned.size(); ++i) {
    const int p = pinned[i];
    if (cells[p] == wanted[i]) continue;
    long best = -1;
    for (size_t c = 0; c < cells.size(); ++c) {
      if (is_pinned[c] || cells[c] != wanted[i]) continue;
      if (best < 0 || std::labs(key[c] - key[p]) < std::labs(key[best] - key[p])) best = static_cast<long>(c);
    }
    if (best < 0) {
      std::fprintf(stderr, "value %d not available for pinning\n", wanted[i]);
      std::exit(1);
    }
    std::swap(cells[p], cells[best]);
  }
}

std::vector<int> MakeTile(const TileSpec& t) {
  const int s = t.size;
  const long norm = static_cast<long>(t.a) * t.a + static_cast<long>(t.b) * t.b;
  const long den = 2 * norm;  // coordinates below are doubled
  const int cells = s * s;
  std::vector<int> dot_of(cells);
  std::vector<long> spot(cells);  // rounded spot value, the within-dot key
  std::vector<long> tie(cells);   // secondary key: position inside the dot
  std::map<std::pair<int, int>, int> dot_index;
  std::vector<std::pair<int, int>> centres;
  for (int y = 0; y < s; ++y) {
    for (int x = 0; x < s; ++x) {
      const long dx = 2L * x - t.phase2_x;
      const long dy = 2L * y - t.phase2_y;
      const long mnum = dx * t.a + dy * t.b;   // 2 * (d . A)
      const long nnum = -dx * t.b + dy * t.a;  // 2 * (d . B)
      const long m = static_cast<long>(std::floor((static_cast<double>(mnum) + norm) / den));
      const long n = static_cast<long>(std::floor((static_cast<double>(nnum) + norm) / den));
      const long ur = mnum - m * den;  // u = ur / den, in [-1/2, 1/2)
      const long vr = nnum - n * den;
      // Centre of this dot (doubled), reduced into the tile.
      long cx = t.phase2_x + 2 * (m * t.a - n * t.b);
      long cy = t.phase2_y + 2 * (m * t.b + n * t.a);
      cx = ((cx % (2 * s)) + 2 * s) % (2 * s);
      cy = ((cy % (2 * s)) + 2 * s) % (2 * s);
      auto it = dot_index.find({static_cast<int>(cx), static_cast<int>(cy)});
      int d;
      if (it == dot_index.end()) {
        d = static_cast<int>(centres.size());
        dot_index[{static_cast<int>(cx), static_cast<int>(cy)}] = d;
        centres.push_back({static_cast<int>(cx), static_cast<int>(cy)});
      } else {
        d = it->second;
      }
      const int i = y * s + x;
      dot_of[i] = d;
      const double sv = std::cos(2 * kPi * ur / den) + std::cos(2 * kPi * vr / den);
      spot[i] = std::lround(sv * 1e9);
      tie[i] = (ur + den) * (4 * den) + (vr + den);
    }
  }
  const int dots = static_cast<int>(centres.size());
  if (static_cast<long>(dots) * norm != cells) {
    std::fprintf(stderr, "%s: lattice does not tile the supercell\n", t.name);
    std::exit(1);
  }
  // Rank inside the dot: all dots are congruent, so rank by (spot, position).
  std::vector<int> idx(cells);
  for (int i = 0; i < cells; ++i) idx[i] = i;
  std::sort(idx.begin(), idx.end(), [&](int p, int q) {
    if (spot[p] != spot[q]) return spot[p] < spot[q];
    if (tie[p] != tie[q]) return tie[p] < tie[q];
    return p < q;
  });
  std::vector<int> rank(cells);
  std::vector<int> filled(dots, 0);
  for (int i : idx) rank[i] = filled[dot_of[i]]++;
  const std::vector<int> order = DispersedOrder(centres, s);
  std::vector<int> dot_pos(dots);
  for (int k = 0; k < dots; ++k) dot_pos[order[k]] = k;

  std::vector<int> tile(cells);
  std::vector<long> key(cells);
  for (int i = 0; i < cells; ++i) {
    const long g = static_cast<long>(rank[i]) * dots + dot_pos[dot_of[i]];
    key[i] = g;
    const int level = static_cast<int>(g * t.total_levels / cells);
    tile[i] = level < t.plain_levels
                  ? t.low + static_cast<int>((static_cast<long>(level) * t.value_num + t.value_round) /
                                             t.value_den)
                  : 255;
  }
  // The quoted values must be threshold values: move the nearest value of
  // the ladder onto each one that is missing.
  std::vector<int> ladder;
  for (int k = 0; k < t.plain_levels; ++k) {
    ladder.push_back(t.low +
                     static_cast<int>((static_cast<long>(k) * t.value_num + t.value_round) / t.value_den));
  }
  std::map<int, int> remap;
  for (int q : t.first_row) {
    if (std::find(ladder.begin(), ladder.end(), q) != ladder.end()) continue;
    size_t best = 0;
    for (size_t k = 1; k < ladder.size(); ++k) {
      if (std::abs(ladder[k] - q) < std::abs(ladder[best] - q)) best = k;
    }
    remap[ladder[best]] = q;
    ladder[best] = q;
  }
  for (size_t k = 1; k < ladder.size(); ++k) {
    if (ladder[k] <= ladder[k - 1]) {
      std::fprintf(stderr, "%s: threshold ladder not increasing\n", t.name);
      std::exit(1);
    }
  }
  for (int& v : tile) {
    auto it = remap.find(v);
    if (it != remap.end()) v = it->second;
  }
  std::vector<int> pinned;
  for (size_t x = 0; x < t.first_row.size(); ++x) pinned.push_back(static_cast<int>(x));
  PinValues(tile, pinned, t.first_row, key);
  return tile;
}

// ---- noise matrix --------------------------------------------------------

constexpr int kN = 256;

std::vector<int> VoidAndClusterRanks() {
  const int cells = kN * kN;
  const int radius = 12;
  const double sigma = 1.5;
  std::vector<int64_t> kernel((2 * radius + 1) * (2 * radius + 1));
  for (int dy = -radius; dy <= radius; ++dy) {
    for (int dx = -radius; dx <= radius; ++dx) {
      kernel[(dy + radius) * (2 * radius + 1) + dx + radius] =
          std::llround(std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma)) * (1 << 24));
    }
  }
  // Fixed pseudo-random tie order.
  std::vector<uint32_t> tie(cells);
  uint32_t st = 0x2545F491u;
  for (int i = 0; i < cells; ++i) {
    st ^= st << 13;
    st ^= st >> 17;
    st ^= st << 5;
    tie[i] = st;
  }
  const int64_t kFull = INT64_MAX;
  std::vector<int64_t> energy(cells, 0);
  std::vector<int> row_best(kN);
  auto better = [&](int p, int q) {
    return energy[p] < energy[q] || (energy[p] == energy[q] && tie[p] < tie[q]);
  };
  auto scan_row = [&](int y) {
    int best = y * kN;
    for (int x = 1; x < kN; ++x) {
      if (better(y * kN + x, best)) best = y * kN + x;
    }
    row_best[y] = best;
  };
  for (int y = 0; y < kN; ++y) scan_row(y);
  std::vector<int> rank(cells);
  for (int r = 0; r < cells; ++r) {
    int best = row_best[0];
    for (int y = 1; y < kN; ++y) {
      if (better(row_best[y], best)) best = row_best[y];
    }
    rank[best] = r;
    const int bx = best % kN;
    const int by = best / kN;
    for (int dy = -radius; dy <= radius; ++dy) {
      const int yy = (by + dy + kN) % kN;
      for (int dx = -radius; dx <= radius; ++dx) {
        const int i = yy * kN + (bx + dx + kN) % kN;
        if (energy[i] != kFull) energy[i] += kernel[(dy + radius) * (2 * radius + 1) + dx + radius];
      }
    }
    energy[best] = kFull;
    for (int dy = -radius; dy <= radius; ++dy) scan_row((by + dy + kN) % kN);
  }
  return rank;
}

// The value histogram: -128, -125, -119..119 and 125, mean exactly 0.
std::vector<std::pair<int, int>> NoiseHistogram() {
  std::vector<std::pair<int, int>> h;
  h.push_back({-128, 125});
  h.push_back({-125, 242});
  for (int v = -119; v <= 119; ++v) h.push_back({v, v == 0 ? 1015 : 268});
  h.push_back({125, 370});
  return h;
}

std::vector<int> MakeNoise() {
  const std::vector<int> rank = VoidAndClusterRanks();
  std::vector<int> value_of_rank;
  for (const auto& [v, count] : NoiseHistogram()) value_of_rank.insert(value_of_rank.end(), count, v);
  if (value_of_rank.size() != static_cast<size_t>(kN * kN)) {
    std::fprintf(stderr, "noise histogram does not fill the matrix\n");
    std::exit(1);
  }
  std::vector<int> m(kN * kN);
  std::vector<long> key(kN * kN);
  for (int i = 0; i < kN * kN; ++i) {
    m[i] = value_of_rank[rank[i]];
    key[i] = rank[i];
  }
  const std::vector<int> row0 = {51, -28, 14, 31, 43, -58, -27, 45, -45, 38, 1, 2, -30, -1, 62, 42};
  const std::vector<int> row1 = {3, -51, 38, -83, 28, -3, 20, -49};
  std::vector<int> pinned, wanted;
  for (size_t x = 0; x < row0.size(); ++x) {
    pinned.push_back(static_cast<int>(x));
    wanted.push_back(row0[x]);
  }
  for (size_t x = 0; x < row1.size(); ++x) {
    pinned.push_back(kN + static_cast<int>(x));
    wanted.push_back(row1[x]);
  }
  PinValues(m, pinned, wanted, key);
  return m;
}

const char* kHeader =
    "// GENERATED by tools/gen_dither_data.cpp - do not edit.\n"
    "// Regenerate from the top of the source tree with\n"
    "//   c++ -O2 -std=c++17 tools/gen_dither_data.cpp -o /tmp/gen_dither_data\n"
    "//   /tmp/gen_dither_data lib/halftone\n";

void WriteArray(FILE* f, const char* decl, const std::vector<int>& v, int per_line) {
  std::fprintf(f, "%s = {\n", decl);
  for (size_t i = 0; i < v.size(); ++i) {
    if (i % per_line == 0) std::fputs("   ", f);
    std::fprintf(f, " %d,", v[i]);
    if (i % per_line == static_cast<size_t>(per_line) - 1 || i + 1 == v.size()) std::fputc('\n', f);
  }
  std::fputs("};\n", f);
}

FILE* OpenOut(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];

  const std::vector<TileSpec> tiles = {
      // 272 dots of 68 cells; 85 levels of 0.8 cells per dot, the last
      // 1.6 cells of every dot stay at 255.
      {"SCREEN_DITHERED_136_105", 136, -2, 8, 1, 1, 85, 83, 7, 248, 83, 0, {}},
      // 490 dots of 40 cells, 3 levels per cell.
      {"SCREEN_DITHERED_140_72", 140, 2, 6, 1, 1, 120, 119, 3, 252, 119, 0, {}},
      // 676 dots of 5 x 5 cells, 4 levels per cell; half a cell per dot
      // stays at 255.
      {"SCREEN_DITHERED_130_0", 130, 5, 0, 4, 4, 100, 98, 5, 250, 98, 49,
       {5, 76, 117, 66, 15, 13, 84, 125, 74, 23, 10, 82, 122, 71, 20, 8}},
      // 512 dots of 32 cells, 3 levels per cell.
      {"SCREEN_DITHERED_128_45", 128, 4, 4, -1, -1, 96, 95, 4, 8, 3, 0,
       {230, 166, 94, 20, 17, 49, 216, 248, 232, 169, 97, 25, 12, 44, 211, 243}},
  };
  FILE* f = OpenOut(dir + "/screens_data.cpp");
  std::fputs(kHeader, f);
  std::fputs("//\n// Clustered-dot threshold tiles of the ordered dither, row by row.\n"
             "#include \"halftone/screens_data.h\"\n\n",
             f);
  for (const TileSpec& t : tiles) {
    const std::vector<int> tile = MakeTile(t);
    const std::string decl = std::string("const uint8_t ") + t.name + "[" + std::to_string(t.size) +
                             " * " + std::to_string(t.size) + "]";
    WriteArray(f, decl.c_str(), tile, 16);
    std::fputc('\n', f);
  }
  std::fclose(f);

  f = OpenOut(dir + "/noise_matrix_data.cpp");
  std::fputs(kHeader, f);
  std::fputs("//\n// Blue-noise matrix of the even-toned screening, 256 x 256, row-major.\n"
             "#include \"halftone/ets.h\"\n\n",
             f);
  std::fputs("namespace quill_dither {\n\n", f);
  WriteArray(f, "const signed char ets_noise_matrix[256 * 256]", MakeNoise(), 16);
  std::fputs("\n}  // namespace quill_dither\n", f);
  std::fclose(f);
  return 0;
}
