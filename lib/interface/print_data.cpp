// The one-call conversions: one raster into a complete job, and a marked-up
// print-data stream whose page images are converted in place while every
// other byte passes through to the printer.
//
// Stream markup (16-bit fields little-endian):
//   "PAGE" page_number x_res y_res width height dir   opens a page
//   "BLK"  width_bytes height, then height rows        places rows at the current line
//   "SCL"  factors method                              scale-down and shingling
//   "DIR"                                              unidirectional printing
//   1B 4A n                                            inside a page: feed n y_units
// Any other byte closes and converts the open page and is then passed on.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "document/document_process_ink1.h"
#include "interface/page_bounds.h"
#include "interface/rescale.h"
#include "quill/libquill.h"
#include "support/log.h"

namespace {

template <typename Fn>
int Guarded(const char* what, int failed, Fn fn) {
  try {
    return fn();
  } catch (const std::exception& e) {
    quill_log::Error("%s failed: %s", what, e.what());
  } catch (...) {
    quill_log::Error("%s failed", what);
  }
  return failed;
}

uint16_t GetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kFeedCode = 'J';  // 1B 4A n: feed n vertical units

// A page image larger than this is refused: no printer page comes near it,
// and a corrupted head must not exhaust the host's memory.
constexpr uint64_t kMaxPageImageBytes = uint64_t{1} << 30;

struct PageHead {
  static constexpr size_t kSize = 12;
  uint16_t page_number;  // not used
  uint16_t x_res;        // dpi of the page image
  uint16_t y_res;
  uint16_t width;        // in x_unit units
  uint16_t height;       // in y_unit units
  uint16_t dir;          // not used

  static PageHead From(const uint8_t* b) {
    return {GetLE16(b), GetLE16(b + 2), GetLE16(b + 4),
            GetLE16(b + 6), GetLE16(b + 8), GetLE16(b + 10)};
  }
};

struct BlockHead {
  static constexpr size_t kSize = 4;
  uint16_t width_bytes;  // bytes per row
  uint16_t height;       // rows

  static BlockHead From(const uint8_t* b) { return {GetLE16(b), GetLE16(b + 2)}; }
};

enum class Command { kPageHead, kBlock, kScale, kDirection };

struct CommandWord {
  const char* word;
  Command command;
};

constexpr CommandWord kCommandWords[] = {
    {"PAGE", Command::kPageHead},
    {"BLK", Command::kBlock},
    {"SCL", Command::kScale},
    {"DIR", Command::kDirection},
};

const CommandWord* CommandStartingWith(uint8_t byte) {
  for (const CommandWord& cw : kCommandWords) {
    if (static_cast<uint8_t>(cw.word[0]) == byte) return &cw;
  }
  return nullptr;
}

struct FreeDeleter {
  void operator()(unsigned char* p) const { std::free(p); }
};

// Converts one stream; one object per process_print_data call.
class PrintDataConverter {
 public:
  explicit PrintDataConverter(CONV_PARAM* param) : param_(param) {}

  // Runs until the stream ends, is cancelled or is abandoned; 0, or 1 when
  // a head or block was incomplete or a page head was refused.
  int Run();

 private:
  enum class Flow { kContinue, kFinish };

  bool ReadByte(uint8_t& byte);
  // True when exactly `len` bytes arrived.
  bool ReadExact(uint8_t* buf, size_t len);
  void Send(const uint8_t* data, size_t len);
  void ForwardPending();

  Flow MatchCommand(const CommandWord& cw);
  Flow RunPageHead();
  Flow RunBlock();
  Flow RunScale();
  void RunDirection();
  Flow RunEscape();
  void PassByte(uint8_t byte);

  bool OpenPage(const PageHead& head);
  void ConvertPage();
  void ClosePage();

  CONV_PARAM* param_;
  int result_ = 0;
  std::vector<uint8_t> pending_;  // bytes of a command word being matched
  uint32_t h_factor_ = 1;         // scale-down factors of later pages, never 0
  uint32_t v_factor_ = 1;
  uint32_t max_width_ = 0;        // widest block row so far in pixels, all pages
  std::vector<uint8_t> row_;      // one block row

  bool page_open_ = false;
  PageHead head_{};               // head of the open page
  std::vector<uint8_t> page_;     // open page image, one bit per pixel
  uint32_t page_width_ = 0;       // pixels
  uint32_t page_height_ = 0;      // pixels
  uint32_t pitch_ = 0;            // bytes per page image row
  uint32_t page_rows_ = 0;        // rows the page image holds (height and half a page spare)
  uint32_t line_ = 0;             // current line of the open page
};

bool PrintDataConverter::ReadByte(uint8_t& byte) { return param_->rd_cb(param_->rd_hdl, &byte, 1) > 0; }

bool PrintDataConverter::ReadExact(uint8_t* buf, size_t len) {
  if (len == 0) return true;
  const int got = param_->rd_cb(param_->rd_hdl, buf, static_cast<unsigned int>(len));
  return got > 0 && static_cast<size_t>(got) >= len;
}

void PrintDataConverter::Send(const uint8_t* data, size_t len) {
  if (param_->wr_cb != nullptr && len > 0) {
    param_->wr_cb(param_->wr_hdl, data, static_cast<unsigned int>(len));
  }
}

void PrintDataConverter::ForwardPending() {
  if (quill_log::Enabled(quill_log::Severity::kDebug)) {
    // Two upper-case digits per byte, nothing between them, as hex option
    // values are written.
    std::string hex;
    char two[3];
    for (uint8_t b : pending_) {
      std::snprintf(two, sizeof two, "%2.2X", b);
      hex += two;
    }
    quill_log::Debug("forward[%zu]: %s", pending_.size(), hex.c_str());
  }
  Send(pending_.data(), pending_.size());
  pending_.clear();
}

int PrintDataConverter::Run() {
  for (;;) {
    uint8_t byte = 0;
    if (!ReadByte(byte)) break;
    if (param_->req_exit_cb != nullptr && param_->req_exit_cb(param_->req_exit_cb_param) != 0) {
      break;
    }
    Flow flow = Flow::kContinue;
    if (const CommandWord* cw = CommandStartingWith(byte)) {
      pending_.assign(1, byte);
      flow = MatchCommand(*cw);
    } else if (byte == kEsc) {
      pending_.assign(1, byte);
      flow = RunEscape();
    } else {
      PassByte(byte);
    }
    if (flow == Flow::kFinish) break;
  }
  ClosePage();  // a page still open is dropped without output
  return result_;
}

// Reads the rest of the word; a byte that breaks it is forwarded with the
// bytes before it and never starts another command.
PrintDataConverter::Flow PrintDataConverter::MatchCommand(const CommandWord& cw) {
  for (const char* p = cw.word + 1; *p != '\0'; ++p) {
    uint8_t byte = 0;
    if (!ReadByte(byte)) {
      ForwardPending();
      return Flow::kFinish;
    }
    pending_.push_back(byte);
    if (byte != static_cast<uint8_t>(*p)) {
      ForwardPending();
      return Flow::kContinue;
    }
  }
  switch (cw.command) {
    case Command::kPageHead:
      pending_.clear();
      return RunPageHead();
    case Command::kBlock:
      pending_.clear();
      return RunBlock();
    case Command::kScale:
      return RunScale();  // keeps the word until its first parameter arrives
    case Command::kDirection:
      pending_.clear();
      RunDirection();
      return Flow::kContinue;
  }
  return Flow::kContinue;
}

PrintDataConverter::Flow PrintDataConverter::RunPageHead() {
  uint8_t raw[PageHead::kSize];
  if (!ReadExact(raw, sizeof raw)) {
    quill_log::Warning("page head is incomplete");
    result_ = 1;
    return Flow::kFinish;
  }
  if (page_open_) {
    quill_log::Debug("redundant info, skip it");
    return Flow::kContinue;
  }
  if (!OpenPage(PageHead::From(raw))) {
    result_ = 1;
    return Flow::kFinish;
  }
  return Flow::kContinue;
}

bool PrintDataConverter::OpenPage(const PageHead& head) {
  const CONV_PARAM& p = *param_;
  if (p.x_unit == 0 || p.y_unit == 0) {
    quill_log::Warning("page head refused: unit is 0 (x_unit=%u, y_unit=%u)", p.x_unit, p.y_unit);
    return false;
  }
  // Products of two 16-bit fields: at most 65535 * 65535, which fits 32
  // bits unsigned (the signed products of the head's format would not).
  const uint32_t width = static_cast<uint32_t>(uint64_t{head.width} * head.x_res / p.x_unit);
  const uint32_t height = static_cast<uint32_t>(uint64_t{head.height} * head.y_res / p.y_unit);
  const uint64_t pitch = (uint64_t{width} + 7) / 8;
  quill_log::Debug("got page head info: %ux%u", width, height);
  if (const char* problem = quill_bounds::PageProblem(width, height, pitch, head.x_res,
                                                      head.y_res)) {
    quill_log::Warning("page head refused: %s (%ux%u pixels, %ux%u dpi)", problem, width, height,
                       head.x_res, head.y_res);
    return false;
  }
  const uint64_t bytes = height * pitch * 3 / 2;  // half a page of spare rows
  if (bytes > kMaxPageImageBytes) {
    quill_log::Warning("page head refused: page of %ux%u pixels is too large", width, height);
    return false;
  }
  try {
    page_.assign(static_cast<size_t>(bytes), 0);
  } catch (const std::bad_alloc&) {
    quill_log::Warning("page head refused: failed to allocate memory");
    return false;
  }
  head_ = head;
  page_width_ = width;
  page_height_ = height;
  pitch_ = static_cast<uint32_t>(pitch);
  page_rows_ = pitch_ == 0 ? 0 : static_cast<uint32_t>(bytes / pitch);
  line_ = 0;
  page_open_ = true;
  return true;
}

PrintDataConverter::Flow PrintDataConverter::RunBlock() {
  uint8_t raw[BlockHead::kSize];
  if (!ReadExact(raw, sizeof raw)) {
    quill_log::Warning("block head is incomplete");
    result_ = 1;
    return Flow::kFinish;
  }
  const BlockHead block = BlockHead::From(raw);
  max_width_ = std::max<uint32_t>(max_width_, uint32_t{block.width_bytes} * 8);
  if (row_.size() < block.width_bytes) row_.resize(block.width_bytes);
  quill_log::Debug("block start y: %u", line_);
  const size_t stored = std::min<size_t>(block.width_bytes, pitch_);
  for (uint32_t r = 0; r < block.height; ++r) {
    if (!ReadExact(row_.data(), block.width_bytes)) {
      quill_log::Debug("block data is incomplete");
      result_ = 1;
      break;
    }
    // Only rows that lie inside the page image are kept.
    if (page_open_ && line_ < page_rows_) {
      std::copy_n(row_.begin(), stored, page_.begin() + static_cast<size_t>(line_) * pitch_);
    }
    if (line_ < UINT32_MAX) ++line_;
  }
  quill_log::Debug("block end y: %u", line_);
  return Flow::kContinue;
}

PrintDataConverter::Flow PrintDataConverter::RunScale() {
  uint8_t factors = 0;
  if (!ReadByte(factors)) {
    ForwardPending();
    return Flow::kFinish;
  }
  pending_.clear();
  h_factor_ = factors >> 4;
  v_factor_ = factors & 0x0F;
  // A factor of 0 would divide the page by zero; it means no scaling.
  if (h_factor_ == 0 || v_factor_ == 0) {
    quill_log::Warning("scale factor 0 is invalid, using 1 (scale=%u,%u)", h_factor_, v_factor_);
    if (h_factor_ == 0) h_factor_ = 1;
    if (v_factor_ == 0) v_factor_ = 1;
  }
  uint8_t method = 0;
  if (ReadByte(method)) {
    param_->shingling = static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(method)));
  }
  quill_log::Debug("scale=%u,%u;method=%u", h_factor_, v_factor_, param_->shingling);
  return Flow::kContinue;
}

void PrintDataConverter::RunDirection() {
  param_->prefer_unidir = 1;
  quill_log::Debug("prefer to unidirection=%u", 1U);
}

PrintDataConverter::Flow PrintDataConverter::RunEscape() {
  uint8_t code = 0;
  if (!ReadByte(code)) {
    ForwardPending();
    return Flow::kFinish;
  }
  pending_.push_back(code);
  if (code != kFeedCode) {
    ForwardPending();
    return Flow::kContinue;
  }
  uint8_t n = 0;
  if (!ReadByte(n)) {
    ForwardPending();
    return Flow::kFinish;
  }
  if (!page_open_) {
    pending_.push_back(n);
    ForwardPending();
    return Flow::kContinue;
  }
  pending_.clear();
  const uint64_t lines = param_->y_unit == 0 ? 0 : uint64_t{n} * head_.y_res / param_->y_unit;
  line_ = static_cast<uint32_t>(std::min<uint64_t>(line_ + lines, UINT32_MAX));
  quill_log::Debug("feed %u, new y is %u", n, line_);
  return Flow::kContinue;
}

void PrintDataConverter::PassByte(uint8_t byte) {
  quill_log::Debug("forward: %2.2X", byte);
  if (page_open_) ConvertPage();
  Send(&byte, 1);
  ClosePage();
}

void PrintDataConverter::ConvertPage() {
  // The rows printed end at the current line and at the head's `height`
  // field. That field counts y_unit units while lines count pixels; when
  // the page image is finer than the unit the field is fewer than the
  // page's rows and would cut the page short, so the page's height in
  // pixels is the limit then. Otherwise the field is the limit, spare rows
  // below the page included.
  const uint32_t head_limit = std::max<uint32_t>(head_.height, page_height_);
  const uint32_t h = std::min({line_, head_limit, page_rows_});
  const double inch_w = head_.x_res != 0 ? static_cast<double>(page_width_) / head_.x_res : 0.0;
  const double inch_h = head_.y_res != 0 ? static_cast<double>(page_height_) / head_.y_res : 0.0;
  quill_log::Debug("paper size: %ux%u [%ux%u dpi][%.1fx%.1f inch]", page_width_, page_height_,
                   head_.x_res, head_.y_res, inch_w, inch_h);
  quill_log::Debug("graphics size: %ux%u", max_width_, h);

  const std::string options = "prefer_unidir=" + std::to_string(param_->prefer_unidir ? 1 : 0) +
                              ":time_stamp=" + std::to_string(param_->time_stamp ? 1 : 0);
  CONV_PARAM2 cp{};
  cp.shingling = param_->shingling;
  cp.x_unit = param_->x_unit;
  cp.y_unit = param_->y_unit;
  cp.num_pins = param_->num_pins;
  cp.wr_cb = param_->wr_cb;
  cp.wr_hdl = param_->wr_hdl;
  cp.req_exit_cb = param_->req_exit_cb;
  cp.req_exit_cb_param = param_->req_exit_cb_param;
  cp.page_length = 0;
  cp.options = options.c_str();

  RASTER_INFO raster{};
  raster.img_p = page_.data();
  raster.width = std::min<uint64_t>(max_width_, uint64_t{pitch_} * 8);
  raster.height = h;
  raster.pitch = static_cast<int32_t>(pitch_);
  raster.x_res = head_.x_res;
  raster.y_res = head_.y_res;
  raster.bpp = 1;

  if (h_factor_ != 1 || v_factor_ != 1) {
    const uint32_t new_width = raster.width / h_factor_;
    const uint32_t new_height = h / v_factor_;
    quill_log::Debug("rescale factors: %d,%d [%ux%u dpi]", static_cast<int>(h_factor_),
                     static_cast<int>(v_factor_), head_.x_res / h_factor_, head_.y_res / v_factor_);
    quill_log::Debug("rescale to %ux%u,%u", new_width, new_height, (new_width + 7) / 8);
    uint32_t new_pitch = 0;
    std::unique_ptr<unsigned char, FreeDeleter> scaled(rescale_image(
        page_.data(), raster.width, h, pitch_, new_width, new_height, &new_pitch));
    if (scaled) {
      RASTER_INFO small = raster;
      small.img_p = scaled.get();
      small.width = new_width;
      small.height = new_height;
      small.pitch = static_cast<int32_t>(new_pitch);
      small.x_res = static_cast<uint16_t>(head_.x_res / h_factor_);
      small.y_res = static_cast<uint16_t>(head_.y_res / v_factor_);
      convert_raster_to_command(&cp, &small);
      return;
    }
  }
  convert_raster_to_command(&cp, &raster);
}

void PrintDataConverter::ClosePage() {
  page_open_ = false;
  page_.clear();
  page_.shrink_to_fit();
}

}  // namespace

extern "C" {

int convert_raster_to_command(const CONV_PARAM2* param, const RASTER_INFO* raster) {
  if (param == nullptr || raster == nullptr) {
    quill_log::Warning("invalid parameter");
    return -1;
  }
  if (!quill_bounds::RasterWithinBounds(*raster)) return -1;
  return Guarded("convert_raster_to_command", -1, [&] {
    DocumentProcessInk1 doc(param);
    doc.StartDoc();
    const int result = doc.ProcessPage(raster);
    doc.EndDoc();
    return result;
  });
}

int process_print_data(CONV_PARAM* param) {
  if (param == nullptr || param->rd_cb == nullptr) {
    quill_log::Warning("invalid parameter");
    return 1;
  }
  return Guarded("process_print_data", 1, [&] { return PrintDataConverter(param).Run(); });
}

}  // extern "C"
