// Image files into DocProc_ProcessImagePage2: the input's first bytes pick
// the processor, the resolution and the rotation, the rest is the file
// (FreeImage tells the format from its content), written to the process's
// input file.
#include <cstddef>
#include <cstdint>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quill_fuzz::InstallNullLogger();
  quill_fuzz::Input in(data, size);
  const uint8_t pick = in.Byte();
  const uint8_t res = in.Byte();
  const std::string& path = quill_fuzz::InputPath("input.img");
  if (!quill_fuzz::WriteInput(path, in.rest(), in.rest_size())) return 0;

  uint64_t written = 0;
  quill_fuzz::Budget budget{4096};
  CONV_PARAM2 param{};
  param.shingling = SHINGLING_HALF_BAND_DYNA;
  param.x_unit = 360;
  param.y_unit = 360;
  param.num_pins = 24;
  param.wr_cb = quill_fuzz::CountingWrite;
  param.wr_hdl = &written;
  param.req_exit_cb = quill_fuzz::BudgetExit;
  param.req_exit_cb_param = &budget;
  param.options = (pick & 0x80) ? "dither=2:gamma=2.2" : "dither=1";
  void* doc = DocProc_GetObject(kClasses[pick % 5], &param);
  if (doc == nullptr) return 0;
  DocProc_StartDoc2(doc, &param);
  DocProc_ProcessImagePage2(doc, path.c_str(), kRes[res % 8], kRes[(res >> 3) % 8],
                            kAngles[(pick >> 3) % 8]);
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  return 0;
}
