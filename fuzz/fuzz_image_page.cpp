// Image files into DocProc_ProcessImagePage2: the input's first bytes pick
// the processor, the resolution and the rotation, the rest is the file
// (FreeImage tells the format from its content), written to the process's
// input file.
//
// The fuzzer looks for memory errors and undefined behaviour, not for how long
// a legitimately large page takes (bounded work for absurd pages has tests of
// its own): pictures whose page at the processors' 360 dpi would exceed a few
// million pixels are skipped by their header, so that one input cannot use up
// the run's time limit in the screening loops of a sanitizer build.
#include <FreeImage.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_common.h"
#include "fuzz_input_file.h"
#include "quill/libquill.h"

namespace {

constexpr const char* kClasses[] = {"DocumentProcessInk1", "DocumentProcessInk2",
                                    "DocumentProcessInk3", "DocumentProcessThermal",
                                    "DocumentProcessDot24"};
constexpr double kAngles[] = {0.0, 90.0, 180.0, 270.0, 45.0, -90.0, 30.5, 360.0};
constexpr uint16_t kRes[] = {72, 180, 200, 300, 360, 600, 720, 1440};
constexpr double kPi = 3.14159265358979323846;
constexpr unsigned kUnit = 360;                 // the processors' dots per inch
constexpr uint64_t kMaxPagePixels = 4u << 20;  // page pixels one input may ask for

struct BitmapFree {
  void operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }
};

// True when the picture's header gives a page of at most kMaxPagePixels at
// kUnit dpi once turned by `degrees` (a turn other than a quarter enlarges
// the picture to the box around the turned one). A file of no known format
// is let through: refusing it is the library's job. The few formats whose
// size FreeImage cannot read without decoding (GIF, SGI, ...) are skipped:
// their decoders are FreeImage's, not ours.
bool SmallEnough(const std::string& path, uint16_t x_res, uint16_t y_res, double degrees) {
  const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path.c_str(), 0);
  if (format == FIF_UNKNOWN) return true;
  if (!FreeImage_FIFSupportsNoPixels(format)) return false;
  std::unique_ptr<FIBITMAP, BitmapFree> header(
      FreeImage_Load(format, path.c_str(), FIF_LOAD_NOPIXELS));
  if (!header) return true;
  const double w = FreeImage_GetWidth(header.get());
  const double h = FreeImage_GetHeight(header.get());
  const double c = std::fabs(std::cos(degrees * kPi / 180.0));
  const double s = std::fabs(std::sin(degrees * kPi / 180.0));
  const double width = (w * c + h * s + 2.0) * kUnit / x_res;
  const double height = (w * s + h * c + 2.0) * kUnit / y_res;
  return width * height <= static_cast<double>(kMaxPagePixels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quill_fuzz::InstallNullLogger();
  quill_fuzz::Input in(data, size);
  const uint8_t pick = in.Byte();
  const uint8_t res = in.Byte();
  const std::string& path = quill_fuzz::InputPath("input.img");
  if (!quill_fuzz::WriteInput(path, in.rest(), in.rest_size())) return 0;
  const uint16_t x_res = kRes[res % 8];
  const uint16_t y_res = kRes[(res >> 3) % 8];
  const double degrees = kAngles[(pick >> 3) % 8];
  if (!SmallEnough(path, x_res, y_res, degrees)) return 0;

  uint64_t written = 0;
  quill_fuzz::Budget budget{4096};
  CONV_PARAM2 param{};
  param.shingling = SHINGLING_HALF_BAND_DYNA;
  param.x_unit = kUnit;
  param.y_unit = kUnit;
  param.num_pins = 24;
  param.wr_cb = quill_fuzz::CountingWrite;
  param.wr_hdl = &written;
  param.req_exit_cb = quill_fuzz::BudgetExit;
  param.req_exit_cb_param = &budget;
  param.options = (pick & 0x80) ? "dither=2:gamma=2.2" : "dither=1";
  void* doc = DocProc_GetObject(kClasses[pick % 5], &param);
  if (doc == nullptr) return 0;
  DocProc_StartDoc2(doc, &param);
  DocProc_ProcessImagePage2(doc, path.c_str(), x_res, y_res, degrees);
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  return 0;
}
