// The product's eight-rows-at-a-time packing against the plain bit-by-bit
// packing: both run the same random sequence of lines, flushes, feeds and
// direct band outputs, and must write the same calls with the same bytes.
#include <gtest/gtest.h>

#include <random>

#include "band_test_util.h"
#include "page_process_ink1.h"
#include "page_process_ink3.h"
#include "support/band_reference.h"
#include "support/recording_writer.h"

namespace quill_test {
namespace {

struct Config {
  uint32_t width;
  uint16_t head;  // head height in units of 1/360 inch = band lines at 360 dpi
  double density;
  bool loc_pos;
};

std::string Name(const Config& c) {
  return "width " + std::to_string(c.width) + " band " + std::to_string(c.head) + " density " +
         std::to_string(c.density) + (c.loc_pos ? " positioned" : "");
}

// One random session; `ops` is a seed-driven script shared by both runs.
void RunSession(PageProcessInk1& p, const Config& c, uint32_t seed, std::vector<uint8_t>* state) {
  std::mt19937 rng(seed);
  std::bernoulli_distribution dot(c.density);
  std::uniform_int_distribution<int> op(0, 99);
  p.m_UseLocPos = c.loc_pos;
  p.StartPage();
  Bytes line((c.width + 7) / 8);
  for (int step = 0; step < 400; ++step) {
    const int o = op(rng);
    if (o < 80) {
      // The same buffer is rewritten for every line, as a pipeline does.
      std::fill(line.begin(), line.end(), 0);
      for (uint32_t x = 0; x < c.width; ++x) {
        if (dot(rng)) line[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      }
      // Bits beyond the width must be ignored.
      if (c.width % 8 != 0) line.back() |= static_cast<uint8_t>(0xFF >> (c.width % 8));
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
    state->push_back(p.m_VByte);
    state->push_back(p.m_VBit);
  }
  p.PackPendingLines();
  state->insert(state->end(), p.m_pBandBuf, p.m_pBandBuf + p.m_BandBufSize);
  p.EndPage();
}

template <typename Product>
void Compare(const Config& c, uint32_t seed) {
  RecordingWriter fast_out, plain_out;
  std::vector<uint8_t> fast_state, plain_state;
  {
    Product fast(360, 360, 360, 360, c.width, 5000, c.head, &RecordingWriter::Callback,
                 fast_out.Handle());
    RunSession(fast, c, seed, &fast_state);
  }
  {
    ReferenceLines<Product> plain(360, 360, 360, 360, c.width, 5000, c.head,
                                  &RecordingWriter::Callback, plain_out.Handle());
    RunSession(plain, c, seed, &plain_state);
  }
  ASSERT_EQ(fast_out.Calls().size(), plain_out.Calls().size()) << Name(c);
  for (size_t i = 0; i < fast_out.Calls().size(); ++i) {
    ASSERT_EQ(fast_out.Calls()[i], plain_out.Calls()[i]) << Name(c) << " call " << i;
  }
  EXPECT_EQ(fast_state, plain_state) << Name(c);
}

TEST(BandPacking, MatchesBitByBitPackingOnRandomSessions) {
  uint32_t seed = 1;
  for (uint32_t width : {1u, 7u, 8u, 9u, 100u, 127u, 128u, 129u, 136u, 255u, 1000u, 2049u}) {
    for (uint16_t head : {1, 3, 8, 9, 24, 128, 180}) {
      for (double density : {0.0, 0.02, 0.3, 0.95}) {
        Compare<PageProcessInk1>({width, head, density, (seed % 3) == 0}, seed);
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
        Compare<PageProcessInk3>({width, head, 0.05, loc_pos}, seed++);
      }
    }
  }
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
