// Option strings into every document processor: the input picks the class,
// the host's units, a small page (depth, size, pixels) and the option
// string; the target then runs the whole document as a host does:
// DocProc_GetObject, DocProc_StartDoc2, DocProc_ProcessPage2 (twice, so
// that stored pages, copies and back sides are reached), DocProc_EndDoc and
// DocProc_Release.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "quill/libquill.h"

namespace {

constexpr const char* kClasses[] = {"DocumentProcessInk1", "DocumentProcessInk2",
                                    "DocumentProcessInk3", "DocumentProcessThermal",
                                    "DocumentProcessDot24"};

// Unit and head combinations the hosts use (the filters' PPDs, the
// thermal printers' 200 dpi, the 24-pin printer's 180 and 360 dpi).
struct Head {
  uint16_t x_unit, y_unit, num_pins;
};
constexpr Head kHeads[] = {{360, 360, 24},   {1440, 1440, 896}, {1440, 1440, 1000},
                           {180, 180, 24},   {360, 180, 24},    {200, 200, 8},
                           {600, 600, 128},  {720, 720, 48}};
constexpr uint8_t kDepths[] = {1, 8, 16, 24, 32, 4};

// Options that name files: "dump_name" writes page images, "icc" reads a
// profile. The target must not write into or read from arbitrary paths, so
// these keys are broken wherever they appear.
void DisarmFileKeys(std::string& options) {
  for (const char* key : {"dump_name", "icc"}) {
    const std::string k(key);
    for (size_t at = options.find(k); at != std::string::npos; at = options.find(k, at + 1))
      options[at + k.size() - 1] = '#';
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quill_fuzz::InstallNullLogger();
  quill_fuzz::Input in(data, size);
  const char* name = kClasses[in.Byte() % 5];
  const Head& head = kHeads[in.Byte() % 8];
  const uint8_t shingling_byte = in.Byte();
  const uint8_t bpp = kDepths[in.Byte() % 6];
  const uint32_t width = 1 + in.Byte() % 96;
  const uint32_t height = 1 + in.Byte() % 96;
  const uint32_t page_length = in.Byte();
  std::string options = in.Text(1024);
  DisarmFileKeys(options);

  // The page: rows padded to 4 bytes as FreeImage pads them, pixels taken
  // from the rest of the input round and round (white without any).
  const uint32_t pitch = ((width * bpp + 7) / 8 + 3) & ~3u;
  std::vector<uint8_t> pixels(static_cast<size_t>(pitch) * height, 0xFF);
  if (in.rest_size() > 0) {
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = in.rest()[i % in.rest_size()];
  }
  RASTER_INFO raster{};
  raster.img_p = pixels.data();
  raster.width = width;
  raster.height = height;
  raster.pitch = static_cast<int32_t>(pitch);
  raster.x_res = head.x_unit;
  raster.y_res = head.y_unit;
  raster.bpp = bpp;
  for (uint32_t i = 0; i < 256; ++i) raster.palette[i] = i * 0x010101u;

  uint64_t written = 0;
  quill_fuzz::Budget budget{4096};
  CONV_PARAM2 param{};
  param.shingling = static_cast<uint16_t>(shingling_byte % 7);  // 6: out of range
  param.x_unit = head.x_unit;
  param.y_unit = head.y_unit;
  param.num_pins = head.num_pins;
  param.wr_cb = quill_fuzz::CountingWrite;
  param.wr_hdl = &written;
  param.req_exit_cb = quill_fuzz::BudgetExit;
  param.req_exit_cb_param = &budget;
  param.page_length = page_length * 4;
  param.options = options.c_str();

  void* doc = DocProc_GetObject(name, &param);
  if (doc == nullptr) return 0;
  DocProc_StartDoc2(doc, &param);
  // A quarter turn repoints the raster at the library's copy: the second
  // page is given the original again.
  RASTER_INFO page = raster;
  DocProc_ProcessPage2(doc, &param, &page);
  page = raster;
  DocProc_ProcessPage2(doc, &param, &page);
  DocProc_EndDoc(doc);
  DocProc_Release(doc);
  return 0;
}
