#include "doc_job.h"

#include <cstring>
#include <limits>
#include <utility>

namespace quill_host {
namespace {

constexpr const char* kStartDocLong = ":start_doc=1B1D1E000C041B1D1F1B7803";
constexpr const char* kStartDocShort = ":start_doc=1B1D1E000C041B1D1F";

}  // namespace

DocSettings SettingsForModel(int model, int color_mode) {
  DocSettings s;
  s.processor = ProcessorName(model, color_mode);
  s.options = BaseOptions(model, color_mode);
  s.shingling = model == 1 ? SHINGLING_NONE : SHINGLING_HALF_BAND_DYNA;
  s.serial_start_doc = model != 1;
  return s;
}

const char* ProcessorName(int model, int color_mode) {
  if (model == 1) return "DocumentProcessDot24";
  if (color_mode == 2) return "DocumentProcessInk3";
  return "DocumentProcessInk1";
}

std::string BaseOptions(int model, int color_mode) {
  if (model == 1) return "dither=2:dual_color=1";
  std::string options = "use_locpos=1:gamma=2.2:dither=2:band_hint=1";
  if (color_mode == 2) options += ":dup_red=1";
  return options;
}

void AppendStartDoc(std::string& options, unsigned y_res) {
  if (y_res > 399 || options.find("1B78") != std::string::npos) {
    options += kStartDocShort;
  } else {
    options += kStartDocLong;
  }
}

void AppendDuplex(std::string& options, bool duplex) {
  if (duplex && options.find("duplex=") == std::string::npos) options += ":duplex=1";
}

void UnitsForRowCount(unsigned row_count, uint16_t& x_unit, uint16_t& y_unit) {
  switch (row_count) {
    case 24:
      x_unit = y_unit = 360;
      break;
    case 896:
    case 1000:
      x_unit = y_unit = 1440;
      break;
    default:
      break;
  }
}

uint32_t PageLengthUnits(uint16_t y_unit, uint32_t height, unsigned y_res) {
  const uint64_t length = uint64_t{y_unit} * height / y_res;
  return length > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                       : static_cast<uint32_t>(length);
}

DocumentJob::DocumentJob(const DocApi& api, DocSettings settings, write_callback write,
                         void* write_hdl, request_exit_callback exit_cb, void* exit_param)
    : api_(api), settings_(std::move(settings)) {
  std::memset(&cp_, 0, sizeof cp_);
  cp_.shingling = settings_.shingling;
  cp_.wr_cb = write;
  cp_.wr_hdl = write_hdl;
  cp_.req_exit_cb = exit_cb;
  cp_.req_exit_cb_param = exit_param;
  doc_ = api_.get_object(settings_.processor.c_str(), &cp_);
}

DocumentJob::~DocumentJob() { Finish(); }

int DocumentJob::SendCopy(const cups_page_header2_t& header, PixelLayout layout,
                          const PageGeometry& geo, uint8_t* canvas) {
  std::string& options = settings_.options;
  if (settings_.serial_start_doc) AppendStartDoc(options, header.HWResolution[1]);
  AppendDuplex(options, StoredValue(header.Duplex) != 0);
  UnitsForRowCount(header.cupsRowCount, settings_.x_unit, settings_.y_unit);

  cp_.x_unit = settings_.x_unit;
  cp_.y_unit = settings_.y_unit;
  cp_.num_pins = static_cast<uint16_t>(header.cupsRowCount);
  cp_.page_length = PageLengthUnits(settings_.y_unit, geo.height, header.HWResolution[1]);
  cp_.options = options.c_str();

  RASTER_INFO ri;
  std::memset(&ri, 0, sizeof ri);
  ri.img_p = canvas;
  ri.width = geo.width;
  ri.height = geo.height;
  ri.pitch = static_cast<int32_t>(geo.pitch);
  ri.x_res = static_cast<uint16_t>(header.HWResolution[0]);
  ri.y_res = static_cast<uint16_t>(header.HWResolution[1]);
  ri.bpp = static_cast<uint8_t>(header.cupsBitsPerPixel);
  FillPalette(layout, ri.palette);

  if (!started_) api_.start_doc2(doc_, &cp_);
  started_ = true;
  return api_.process_page2(doc_, &cp_, &ri);
}

void DocumentJob::Finish() {
  if (finished_) return;
  finished_ = true;
  api_.end_doc(doc_);
  api_.release(doc_);
  doc_ = nullptr;
}

}  // namespace quill_host
