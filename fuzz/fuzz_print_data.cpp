// process_print_data over arbitrary bytes: the first bytes choose the
// host's units and head, the rest is the print-data stream, read through
// the callback in the pieces the function asks for.
#include <cstddef>
#include <cstdint>

#include "fuzz_common.h"
#include "quill/libquill.h"

namespace {

struct Stream {
  const uint8_t* data;  // unread stream bytes
  size_t size;          // count of unread bytes
};

int ReadStream(void* hdl, void* buf, unsigned int len) {
  Stream* s = static_cast<Stream*>(hdl);
  const size_t n = len < s->size ? len : s->size;
  for (size_t i = 0; i < n; ++i) static_cast<uint8_t*>(buf)[i] = s->data[i];
  s->data += n;
  s->size -= n;
  return static_cast<int>(n);
}

// Units and head heights of the printers the conversion serves.
constexpr uint16_t kUnits[] = {60, 72, 120, 180, 360, 720, 1440};
constexpr uint16_t kPins[] = {1, 8, 24, 48, 96, 128, 896, 1000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quill_fuzz::InstallNullLogger();
  quill_fuzz::Input in(data, size);
  const uint8_t units = in.Byte();
  const uint8_t head = in.Byte();
  CONV_PARAM param{};
  param.x_unit = kUnits[(units & 0x0F) % 7];
  param.y_unit = kUnits[(units >> 4) % 7];
  param.num_pins = kPins[head % 8];
  param.shingling = static_cast<uint16_t>((head >> 3) % 6);
  param.time_stamp = (head >> 6) & 1;
  param.prefer_unidir = (head >> 7) & 1;
  Stream stream{in.rest(), in.rest_size()};
  param.rd_cb = ReadStream;
  param.rd_hdl = &stream;
  uint64_t written = 0;
  param.wr_cb = quill_fuzz::CountingWrite;
  param.wr_hdl = &written;
  // One question per stream byte and a few per page row.
  quill_fuzz::Budget budget{static_cast<uint32_t>(1u << 20)};
  param.req_exit_cb = quill_fuzz::BudgetExit;
  param.req_exit_cb_param = &budget;
  process_print_data(&param);
  return 0;
}
