// The product's word-at-a-time line merging against the plain bit-by-bit
// packing: both run the same random sequence of lines, flushes, feeds and
// direct band outputs, and must write the same calls with the same bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <utility>

#include "band_test_util.h"
#include "bands/page_process_dot24.h"
#include "bands/page_process_ink1.h"
#include "bands/page_process_ink3.h"
#include "bands/page_process_thermal.h"
#include "common/band_reference.h"
#include "common/recording_writer.h"

namespace quill_test {
namespace {

struct Config {
  uint32_t width;
  uint16_t head;  // head height in units of 1/360 inch = band lines at 360 dpi (ink only)
  double density;
  bool loc_pos;
};

std::string Name(const Config& c) {
  return "width " + std::to_string(c.width) + " band " + std::to_string(c.head) + " density " +
         std::to_string(c.density) + (c.loc_pos ? " positioned" : "");
}

// Names a processor type for the factories below.
template <typename T>
struct Tag {
  using type = T;
};

// A fingerprint of n bytes, eight at a time.
uint64_t Hash(const uint8_t* p, size_t n) {
  uint64_t h = 1469598103934665603ULL;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    h = (h ^ w) * 1099511628211ULL;
    h ^= h >> 29;
  }
  for (; i < n; ++i) h = (h ^ p[i]) * 1099511628211ULL;
  return h;
}

// Records what a derived processor sees of the band whenever it is asked to
// send or empty it: the buffer, the line counters and the width.
template <typename Base>
class BandWatcher : public Base {
 public:
  template <typename... Args>
  explicit BandWatcher(Args&&... args) : Base(std::forward<Args>(args)...) {}
  std::vector<uint64_t> seen;

  void OutputBand(bool AutoFeed) override {
    Record();
    Base::OutputBand(AutoFeed);
    Record();
  }
  void Init() override {
    Record();
    Base::Init();
  }

 private:
  void Record() {
    seen.push_back(Hash(this->m_pBandBuf, this->m_BandBufSize));
    seen.push_back(uint64_t{this->m_VByte} << 8 | this->m_VBit);
    seen.push_back(this->m_Width);
  }
};

// One random session of calls driven by `seed`. After every call the band
// buffer and the line counters are recorded into `state`: they must be what
// the plain form holds at that point, not only at the end.
void RunSession(PageProcessInk1& p, const Config& c, uint32_t seed, std::vector<uint64_t>* state) {
  std::mt19937 rng(seed);
  // A dot when a draw falls below the density's share of the range.
  const uint32_t dot_below = static_cast<uint32_t>(c.density * 4294967295.0);
  std::uniform_int_distribution<int> op(0, 99);
  p.m_UseLocPos = c.loc_pos;
  p.StartPage();
  Bytes line((p.m_Width + 7) / 8);
  for (int step = 0; step < 400; ++step) {
    const int o = op(rng);
    if (o < 80) {
      // The same buffer is rewritten for every line, as a pipeline does.
      std::fill(line.begin(), line.end(), 0);
      for (uint32_t x = 0; x < p.m_Width; ++x) {
        if (rng() < dot_below) line[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
      // Bits beyond the width must be ignored.
      if (p.m_Width % 8 != 0) line.back() |= static_cast<uint8_t>(0xFF >> (p.m_Width % 8));
      p.OutputLine(line.data(), o % 7 != 0);
    } else if (o < 83) {
      p.OutputLine(nullptr, true);
    } else if (o < 87) {
      p.FlushLines(o % 2 == 0);
    } else if (o < 90) {
      p.OutputFeedGfx(static_cast<uint32_t>(o));
    } else if (o < 92) {
      p.OutputFeed(static_cast<uint32_t>(o * 3));
    } else if (o < 94) {
      p.OutputDirection(o % 2);
    } else if (o < 98) {
      // A band sent without being emptied: later lines continue in the
      // middle of a column byte.
      p.OutputBand(o % 2 == 0);
    } else {
      p.Init();
    }
    state->push_back(uint64_t{p.m_VByte} << 8 | p.m_VBit);
    state->push_back(Hash(p.m_pBandBuf, p.m_BandBufSize));
    state->push_back(p.m_CurScanLine);
  }
  p.EndPage();
}

// Runs the same session on the product and on its plain-packing twin and
// compares every write call and every recorded state.
template <typename Product, typename Make>
void Compare(const std::string& what, const Config& c, uint32_t seed, Make make) {
  RecordingWriter fast_out, plain_out;
  std::vector<uint64_t> fast_state, plain_state;
  std::vector<uint64_t> fast_seen, plain_seen;
  {
    auto fast = make(Tag<BandWatcher<Product>>{}, fast_out);
    RunSession(*fast, c, seed, &fast_state);
    fast_seen = fast->seen;
  }
  {
    auto plain = make(Tag<ReferenceLines<BandWatcher<Product>>>{}, plain_out);
    RunSession(*plain, c, seed, &plain_state);
    plain_seen = plain->seen;
  }
  ASSERT_EQ(fast_out.Calls().size(), plain_out.Calls().size()) << what << " " << Name(c);
  for (size_t i = 0; i < fast_out.Calls().size(); ++i) {
    ASSERT_EQ(fast_out.Calls()[i], plain_out.Calls()[i]) << what << " " << Name(c) << " call " << i;
  }
  EXPECT_EQ(fast_state, plain_state) << what << " " << Name(c);
  EXPECT_EQ(fast_seen, plain_seen) << what << " " << Name(c);
}

template <typename Product>
void CompareInk(const Config& c, uint32_t seed) {
  auto make = [&c](auto tag, RecordingWriter& out) {
    using P = typename decltype(tag)::type;
    return std::make_unique<P>(360, 360, 360, 360, c.width, 5000, c.head,
                               &RecordingWriter::Callback, out.Handle());
  };
  Compare<Product>("ink", c, seed, make);
}

TEST(BandPacking, MatchesBitByBitPackingOnRandomSessions) {
  uint32_t seed = 1;
  for (uint32_t width : {1u, 7u, 8u, 9u, 100u, 127u, 128u, 129u, 136u, 255u, 1000u, 2049u}) {
    for (uint16_t head : {1, 3, 8, 9, 24, 128, 180}) {
      for (double density : {0.0, 0.02, 0.3, 0.95}) {
        CompareInk<PageProcessInk1>({width, head, density, (seed % 3) == 0}, seed);
        ++seed;
      }
    }
  }
}

TEST(BandPacking, TwoColourMatchesBitByBitPacking) {
  uint32_t seed = 1000;
  for (uint32_t width : {2u, 16u, 258u, 1000u, 2976u}) {
    for (uint16_t head : {1, 24, 180}) {
      for (bool loc_pos : {false, true}) {
        CompareInk<PageProcessInk3>({width, head, 0.05, loc_pos}, seed++);
      }
    }
  }
}

// The thermal and 24-pin processors reuse the line collection with band
// outputs of their own, which read the buffer directly.
TEST(BandPacking, DerivedBandOutputsSeeEveryLine) {
  uint32_t seed = 2000;
  for (uint32_t width : {8u, 203u, 576u}) {
    for (bool loc_pos : {false, true}) {
      for (bool vertical_double : {false, true}) {
        const Config c{width, 0, 0.1, loc_pos};
        auto make = [&](auto tag, RecordingWriter& out) {
          using P = typename decltype(tag)::type;
          return std::make_unique<P>(true, vertical_double, width, 3000,
                                     &RecordingWriter::Callback, out.Handle());
        };
        Compare<PageProcessThermal>("thermal", c, seed++, make);
      }
      for (uint16_t y_res : {180, 360}) {
        const Config c{width * 2, 0, 0.1, loc_pos};
        auto make = [&](auto tag, RecordingWriter& out) {
          using P = typename decltype(tag)::type;
          auto p = std::make_unique<P>(uint16_t{180}, y_res, width * 2, 3000,
                                       &RecordingWriter::Callback, out.Handle());
          p->m_DualColor = (width % 2) == 0;
          return p;
        };
        Compare<PageProcessDot24>("dot24", c, seed++, make);
      }
    }
  }
}

// The buffer is readable between calls: the first lines of a band are in
// it as soon as OutputLine returns.
TEST(BandPacking, BufferHoldsEveryLineAsSoonAsItIsGiven) {
  PageProcessInk1 p(360, 360, 360, 360, 20, 0, 24, nullptr, nullptr);
  const Bytes a = {0xC0, 0x00, 0x10};  // columns 0, 1, 19
  const Bytes b = {0x40, 0x00, 0x00};  // column 1
  p.OutputLine(a.data(), true);
  EXPECT_EQ(p.m_pBandBuf[0], 0x80);
  EXPECT_EQ(p.m_pBandBuf[1 * 3], 0x80);
  EXPECT_EQ(p.m_pBandBuf[19 * 3], 0x80);
  for (int i = 0; i < 8; ++i) p.OutputLine(b.data(), true);
  EXPECT_EQ(p.m_VByte, 1);
  EXPECT_EQ(p.m_VBit, 0x40);
  EXPECT_EQ(p.m_pBandBuf[1 * 3], 0xFF);
  EXPECT_EQ(p.m_pBandBuf[1 * 3 + 1], 0x80);
  EXPECT_EQ(p.m_pBandBuf[0], 0x80);
  EXPECT_EQ(p.m_pBandBuf[1], 0x00);
}

// Whole random pages through the plain calling order of the pipeline.
TEST(BandPacking, RandomPagesGiveIdenticalBytes) {
  std::mt19937 rng(7);
  for (double density : {0.001, 0.1, 0.5}) {
    TestPage page(2976, 300);
    page.Randomize(rng, density);
    RecordingWriter fast_out, plain_out;
    PageProcessInk1 fast(360, 360, 360, 360, page.width, 0, 180, &RecordingWriter::Callback,
                         fast_out.Handle());
    ReferenceLines<PageProcessInk1> plain(360, 360, 360, 360, page.width, 0, 180,
                                          &RecordingWriter::Callback, plain_out.Handle());
    for (PageProcessInk1* p : {static_cast<PageProcessInk1*>(&fast),
                               static_cast<PageProcessInk1*>(&plain)}) {
      p->StartPage();
      for (const Bytes& l : page.lines) p->OutputLine(l.data(), true);
      p->EndPage();
    }
    EXPECT_EQ(fast_out.Calls(), plain_out.Calls()) << "density " << density;
  }
}

}  // namespace
}  // namespace quill_test
