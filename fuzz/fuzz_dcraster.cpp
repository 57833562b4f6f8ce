// The token-deflate raster encoder with any format, size and rows: the
// input gives the create arguments and the caller-settable fields, then a
// list of operations (add a row from the input's bytes, add blank rows),
// then dcraster_delete. Every output byte is checked to arrive through the
// context callback.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_common.h"
#include "quill/dcraster.h"

namespace {

void Receive(void* context, int size, unsigned char* data) {
  uint64_t* total = static_cast<uint64_t*>(context);
  // Touch every byte so that ASan sees a bad buffer handed out.
  unsigned sum = 0;
  for (int i = 0; i < size; ++i) sum += data[i];
  *total += static_cast<uint64_t>(size) + (sum & 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quill_fuzz::Input in(data, size);
  // Widths around the limits as well as small ones.
  const uint16_t w = in.U16();
  const int width = (w & 0x8000) ? 65520 + (w & 0x1F) : static_cast<int>(w % 260) - 2;
  const int height = static_cast<int>(in.U16() % 300) - 2;
  const auto space = static_cast<DCRASTER_COLORSPACE_t>(in.Byte() % 4);
  const auto object = static_cast<DCRASTER_OBJECTTYPE_t>(in.Byte() % 3);
  const unsigned char blank_code = in.Byte();
  const uint8_t flags = in.Byte();
  uint64_t total = 0;
  DCRASTER_t* dcr = dcraster_create_with_context(
      width, height, space, DCRASTER_COMPRESSIONFORMAT_tokenDeflate, object, blank_code,
      Receive, &total);
  if (dcr == nullptr) return 0;
  dcr->planar = flags & 1;
  dcr->whiteIs0 = (flags >> 1) & 1;
  dcr->deflateEffort = static_cast<int>((flags >> 2) % 12) - 1;

  // Five planes of one row, filled from the input for every added row.
  std::vector<std::vector<unsigned char>> planes(5, std::vector<unsigned char>(dcr->width));
  for (int op = 0; op < 400 && in.rest_size() > 0; ++op) {
    const uint8_t code = in.Byte();
    if ((code & 0xC0) == 0xC0) {
      dcraster_blank_add(dcr, static_cast<int>(code & 0x3F) - 8);
      continue;
    }
    // A short fill pattern repeated over the row, so runs and literals
    // both occur.
    const size_t period = 1 + (code & 0x3F);
    for (auto& plane : planes) {
      for (size_t x = 0; x < plane.size(); ++x) {
        plane[x] = in.rest_size() > 0 ? in.rest()[(x % period) % in.rest_size()] : 0;
      }
      for (size_t i = 0; i < period && in.rest_size() > 0; ++i) in.Byte();
    }
    unsigned char* p[5];
    for (int i = 0; i < 5; ++i) p[i] = planes[i].data();
    // Now and then a null object plane, which an encoder with one refuses.
    unsigned char* o = (code & 0x80) ? nullptr : p[4];
    switch (space) {
      case DCRASTER_COLORSPACE_grayscale: dcraster_grayscale_add(dcr, p[0], o); break;
      case DCRASTER_COLORSPACE_rgb: dcraster_rgb_add(dcr, p[0], p[1], p[2], o); break;
      default: dcraster_cmyk_add(dcr, p[0], p[1], p[2], p[3], o); break;
    }
  }
  dcraster_delete(dcr);
  return 0;
}
