#include "document/shingling.h"

#include <algorithm>
#include <vector>

#include "bands/page_process_base.h"
#include "support/log.h"

namespace {

constexpr uint8_t kHintStart[] = {0x1B, 0x1D, 0x1E, 0x13, 0x01};
constexpr uint8_t kHintEnd[] = {0x1B, 0x1D, 0x1F};

class Shingler {
 public:
  Shingler(PageProcessInk1& pp, const RASTER_INFO& page, ContentRange range,
           const std::deque<Section>& sections, const ShinglingJob& job)
      : pp_(pp), page_(page), range_(range), sections_(sections), job_(job),
        line_bytes_((static_cast<size_t>(page.width) + 7) / 8), line_(line_bytes_) {}

  void Run(uint16_t mode) {
    switch (mode) {
      case SHINGLING_NONE: RunNone(); break;
      case SHINGLING_LINE: RunLine(); break;
      case SHINGLING_HALF_BAND: RunHalfBand(); break;
      case SHINGLING_QUARTER_BAND: RunQuarterBand(); break;
      case SHINGLING_HALF_BAND_DYNA: RunDynamic(false); break;
      case SHINGLING_QUARTER_BAND_DYNA: RunDynamic(true); break;
      default: RunNone(); break;
    }
  }

 private:
  const uint8_t* Row(uint32_t y) const {
    return page_.img_p + static_cast<size_t>(y) * static_cast<size_t>(page_.pitch);
  }
  uint32_t Height() const { return page_.height; }
  uint32_t Band() const { return job_.band_height; }

  // Once the job is cancelled the passes run on without sending anything,
  // which costs a loop over the remaining rows and no more.
  bool Stopped() const { return job_.cancel != nullptr && job_.cancel->stopped(); }
  // Counts one line against the cancellation; true when it must not be sent.
  bool StopAtLine() { return job_.cancel != nullptr && job_.cancel->Stop(); }

  void Line(const uint8_t* row, bool auto_feed) {
    if (!StopAtLine()) pp_.OutputLine(row, auto_feed);
  }
  void Flush(bool auto_feed) {
    if (!Stopped()) pp_.FlushLines(auto_feed);
  }
  void Feed(uint32_t units) {
    if (!Stopped()) pp_.OutputFeed(units);
  }
  void FeedGfx(uint32_t rows) {
    if (!Stopped()) pp_.OutputFeedGfx(rows);
  }
  void Direction(int dir) {
    if (!Stopped()) pp_.OutputDirection(dir);
  }

  void Hint(uint32_t rows, uint8_t mask) {
    if (job_.band_hint && !Stopped()) WriteBandHint(job_, pp_, rows, mask);
  }

  // Sends row r ANDed with `mask` as one line of a pass.
  void SendLine(uint32_t r, uint8_t mask) {
    if (StopAtLine()) return;
    const uint8_t* src = Row(r);
    uint8_t* dst = line_.data();
    for (size_t i = 0; i < line_bytes_; ++i) dst[i] = static_cast<uint8_t>(src[i] & mask);
    pp_.OutputLine(dst, false);  // counted above
  }

  // Sends rows [y, y + n) through the band, each ANDed with mask_of(row),
  // then flushes the pass without feeding.
  template <typename MaskOf>
  void SendMasked(uint32_t y, uint32_t n, MaskOf mask_of) {
    for (uint32_t r = y; r < y + n; ++r) SendLine(r, mask_of(r));
    Flush(false);
  }

  // Every row of [s, e) as it is, the band feeding itself.
  void UnmaskedSection(uint32_t s, uint32_t e, uint8_t hint_mask) {
    Hint(e - s, hint_mask);
    for (uint32_t y = s; y < e; ++y) Line(Row(y), true);
  }

  void RunNone() {
    pp_.StartPage();
    FeedGfx(range_.top);
    if (job_.prefer_unidir) Direction(1);
    for (size_t i = 0; i < sections_.size(); ++i) {
      const auto [s, e] = sections_[i];
      quill_log::Debug("<0>%u-%u[%u]", s, e, e - s);
      UnmaskedSection(s, e, 0xFF);
      if (i + 1 == sections_.size()) {
        Flush(false);
      } else {
        Flush(true);
        FeedGfx(sections_[i + 1].first - e);
      }
    }
    pp_.EndPage();
  }

  // Passes of band_height rows advancing by band_height - 1 from the top of
  // the content to the last row of the raster, after a first pass of half a
  // band at the same place. Each pass has a parity `odd`: 0 for the first
  // pass, 1 for the second, then kept across an odd advance and flipped
  // across an even one; row r of a pass with parity odd keeps
  // kHalfBandMasks[2 * odd + r % 2]. Rows that two passes share (the first
  // half band, and the one row where consecutive passes overlap) are split
  // between them: the later pass takes the complement of what the earlier
  // one printed (for the overlap row after an odd advance the parity rule
  // alone would print the same half twice and drop the other). A row only
  // one pass covers is printed whole by it.
  void RunLine() {
    pp_.StartPage();
    FeedGfx(range_.top);
    if (job_.prefer_unidir) Direction(1);
    const uint32_t half = Band() / 2;
    const uint32_t advance = Band() - 1;
    unsigned odd = 0;
    bool first = true;
    uint32_t y = range_.top;
    uint32_t shared_end = y;   // rows [y, shared_end) were printed in part by the previous pass
    unsigned shared_odd = 0;   // the parity the previous pass printed them with
    while (y < Height()) {
      const uint32_t n = std::min(first ? half : Band(), Height() - y);
      quill_log::Debug("<1>%u-%u[%u],odd=%u", y, y + n, n, odd);
      // First row this pass shares with the next one.
      uint32_t next_start = y + n;
      if (first) {
        next_start = y;
      } else if (Height() - y > half && y + advance < Height()) {
        next_start = y + advance;
      }
      for (uint32_t r = y; r < y + n; ++r) {
        if (r < shared_end) {
          SendLine(r, kHalfBandMasks[2 * (shared_odd ^ 1u) + r % 2]);
        } else if (r >= next_start) {
          SendLine(r, kHalfBandMasks[2 * odd + r % 2]);
        } else {
          Line(Row(r), false);
        }
      }
      Flush(false);
      shared_end = y + n;
      shared_odd = odd;
      if (first) {
        Feed(0);
        odd ^= 1u;
        first = false;
      } else if (Height() - y > half) {
        FeedGfx(advance);
        y += advance;
        if (advance % 2 == 0) odd ^= 1u;
      } else {
        y = Height();
      }
    }
    pp_.EndPage();
  }

  // Half-band passes from y while y < loop_end, the pass height and the
  // advance limited by `limit`. Passes cover 2 * (band_height / 2) rows, so
  // every row lies in exactly two passes of opposite parity. Returns the row
  // at the head when the passes end.
  uint32_t HalfBandPasses(uint32_t y, uint32_t loop_end, uint32_t limit) {
    const uint32_t half = Band() / 2;
    const uint32_t span = 2 * half;
    unsigned odd = 0;
    bool first = true;
    while (y < loop_end) {
      const uint32_t n = std::min(first ? half : span, limit - y);
      quill_log::Debug("<1>%u-%u[%u],odd=%u", y, y + n, n, odd);
      Hint(n, kHalfBandMasks[2 * odd + y % 2]);
      SendMasked(y, n, [&](uint32_t r) { return kHalfBandMasks[2 * odd + r % 2]; });
      odd ^= 1;
      if (first) {
        Feed(0);
        first = false;
      } else if (limit - y > half) {
        FeedGfx(half);
        y += half;
      } else {
        break;
      }
    }
    return y;
  }

  // Quarter-band passes with the mask table `masks` (see HalfBandPasses).
  // Three start-up passes of one, two and three quarters at the first row,
  // then passes of 4 * (band_height / 4) rows advancing by a quarter while
  // more than a quarter remains, so every row lies in four passes of
  // consecutive phases.
  uint32_t QuarterBandPasses(uint32_t y, uint32_t loop_end, uint32_t limit,
                             const std::array<uint8_t, 16>& masks) {
    const uint32_t quarter = Band() / 4;
    const uint32_t span = 4 * quarter;
    unsigned phase = 0;
    bool startup = true;
    while (y < loop_end) {
      const uint32_t n = std::min(startup ? (phase + 1) * quarter : span, limit - y);
      quill_log::Debug("<1>%u-%u[%u],phase=%u", y, y + n, n, phase);
      Hint(n, masks[4 * phase + y % 4]);
      SendMasked(y, n, [&](uint32_t r) { return masks[4 * phase + r % 4]; });
      phase = (phase + 1) % 4;
      if (startup) {
        Feed(0);
        if (phase == 3) startup = false;
      } else if (limit - y > quarter) {
        FeedGfx(quarter);
        y += quarter;
      } else {
        break;
      }
    }
    return y;
  }

  void RunHalfBand() {
    pp_.StartPage();
    FeedGfx(range_.top);
    if (job_.prefer_unidir) Direction(1);
    HalfBandPasses(range_.top, range_.bottom, Height());
    pp_.EndPage();
  }

  void RunQuarterBand() {
    pp_.StartPage();
    FeedGfx(range_.top);
    if (job_.prefer_unidir) Direction(1);
    QuarterBandPasses(range_.top, range_.bottom, Height(), kQuarterBandMasks);
    pp_.EndPage();
  }

  // Modes 3 and 5: sections no taller than a band are printed whole, taller
  // ones in passes inside the section.
  void RunDynamic(bool quarter) {
    pp_.StartPage();
    FeedGfx(range_.top);
    for (size_t i = 0; i < sections_.size(); ++i) {
      const auto [s, e] = sections_[i];
      const bool last = i + 1 == sections_.size();
      if (e - s <= Band()) {
        quill_log::Debug("<0>%u-%u[%u]", s, e, e - s);
        if (job_.prefer_unidir) Direction(0);
        UnmaskedSection(s, e, quarter ? 0x00 : 0xFF);
        if (last) {
          Flush(false);
        } else {
          Flush(true);
          FeedGfx(sections_[i + 1].first - e);
        }
        continue;
      }
      if (job_.prefer_unidir) Direction(1);
      const uint32_t y = quarter ? QuarterBandPasses(s, e, e, kDiagonalMasks)
                                 : HalfBandPasses(s, e, e);
      if (!last) {
        FeedGfx(e - y);
        FeedGfx(sections_[i + 1].first - e);
      }
    }
    pp_.EndPage();
  }

  PageProcessInk1& pp_;
  const RASTER_INFO& page_;
  ContentRange range_;
  const std::deque<Section>& sections_;
  const ShinglingJob& job_;
  size_t line_bytes_;          // bytes of one line handed to the band
  std::vector<uint8_t> line_;  // one masked line
};

}  // namespace

void WriteBandHint(const ShinglingJob& job, const PageProcessInk1& pp, uint32_t rows, uint8_t mask) {
  if (job.wr_cb == nullptr) return;
  std::vector<uint8_t> height;
  PutLE16(height, pp.MapGfxToUnitY(rows));
  job.wr_cb(job.wr_hdl, kHintStart, sizeof kHintStart);
  job.wr_cb(job.wr_hdl, height.data(), static_cast<unsigned>(height.size()));
  job.wr_cb(job.wr_hdl, &mask, 1);
  job.wr_cb(job.wr_hdl, kHintEnd, sizeof kHintEnd);
}

void RunShingling(PageProcessInk1& pp, const RASTER_INFO& page, ContentRange range,
                  const std::deque<Section>& sections, const ShinglingJob& job) {
  uint16_t mode = job.mode;
  if (mode > SHINGLING_QUARTER_BAND_DYNA) {
    quill_log::Warning("unknown shingling mode %u, printing without shingling", mode);
    mode = SHINGLING_NONE;
  }
  const bool quarter_mode = mode == SHINGLING_QUARTER_BAND || mode == SHINGLING_QUARTER_BAND_DYNA;
  const uint32_t needed = quarter_mode ? 4 : 2;
  if (mode != SHINGLING_NONE && job.band_height < needed) {
    quill_log::Info("band of %u rows is too short for shingling mode %u, printing without shingling",
                    job.band_height, mode);
    mode = SHINGLING_NONE;
  }
  Shingler(pp, page, range, sections, job).Run(mode);
}
